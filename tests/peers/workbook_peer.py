"""The independent side of the workbook tests: writes workbooks with openpyxl (and, where
openpyxl cannot, with zipfile), and reads back what the engine wrote.

    workbook_peer.py write DIR     makes the input workbooks in DIR
    workbook_peer.py read FILE     prints sheets and cell values, one "key=value" a line
    workbook_peer.py custom FILE   prints the custom properties of FILE
    workbook_peer.py raw FILE      prints a digest of every entry's stored bytes
    workbook_peer.py damage DIR    makes packages with damaged parts from the inputs in DIR
"""
import datetime
import hashlib
import random
import struct
import sys
import xml.etree.ElementTree as ET
import zipfile

import openpyxl
from openpyxl.workbook.defined_name import DefinedName

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
CUSTOM = "http://schemas.openxmlformats.org/officeDocument/2006/custom-properties"
VT = "http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes"


def rewrite(path, replace, add=()):
    """Copies the package at path with some entries replaced and others added."""
    with zipfile.ZipFile(path) as src:
        items = [(i.filename, src.read(i.filename)) for i in src.infolist()]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as dst:
        for name, data in items:
            dst.writestr(name, replace.get(name, data))
        for name, data in add:
            dst.writestr(name, data)


def write(folder):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Orders"
    ws["A1"] = "Order"
    ws["B1"] = "Amount"
    ws["A2"] = "Grüße, 東京"
    ws["B2"] = 1234.5
    ws["C2"] = True
    ws["A3"] = " padded "
    ws["B3"] = -7
    ws["D10"] = 0.1
    ws["E2"] = datetime.datetime(2026, 3, 1, 12, 30)
    archive = wb.create_sheet("Archive")
    archive.sheet_state = "hidden"
    archive["A1"] = "old"
    secret = wb.create_sheet("Secret")
    secret.sheet_state = "veryHidden"
    secret["B2"] = 99
    wb.create_sheet("Empty")
    wb.defined_names.append(DefinedName("OrdersLocal", localSheetId=0, attr_text="Orders!$A$1"))
    wb.defined_names.append(DefinedName("ArchiveLocal", localSheetId=1, attr_text="Archive!$A$1"))
    wb.save(f"{folder}/several.xlsx")

    # Formulas with the values last computed: openpyxl writes no cached values, so the
    # sheet is written by hand.
    wb = openpyxl.Workbook()
    wb.active.title = "Figures"
    wb.save(f"{folder}/formulas.xlsx")
    sheet = (
        f'<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="{MAIN}"><dimension ref="A1:F4"/><sheetData>'
        '<row r="1"><c r="A1"><v>1</v></c><c r="B1"><v>2</v></c><c r="C1"><f>A1+B1</f><v>3</v></c>'
        '<c r="D1" t="str"><f>"x"&amp;A1</f><v>x1</v></c><c r="E1" t="e"><f>1/0</f><v>#DIV/0!</v></c>'
        '<c r="F1" t="str"><f>Figures!A1&amp;"Figures!"&amp;[1]Figures!A1&amp;figures!B1</f><v>1Figures!12</v></c></row>'
        '<row r="2"><c r="A2" t="inlineStr"><is><t>inline &lt;text&gt;</t></is></c>'
        '<c r="B2" t="b"><f>A1&lt;B1</f><v>1</v></c><c r="C2"><f t="shared" ref="C2:C4" si="0">A2&amp;"!"</f><v>0</v></c></row>'
        '<row r="3"><c r="C3"><f t="shared" si="0"/><v>0</v></c></row>'
        '<row r="4"><c r="C4"><f t="shared" si="0"/><v>0</v></c><c r="E4" s="0"/></row>'
        "</sheetData></worksheet>"
    )
    with zipfile.ZipFile(f"{folder}/formulas.xlsx") as z:
        types = z.read("[Content_Types].xml").decode().replace(
            "</Types>", '<Override PartName="/xl/calcChain.xml" ContentType="application/'
            'vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml"/></Types>')
        rels = z.read("xl/_rels/workbook.xml.rels").decode().replace(
            "</Relationships>", '<Relationship Id="rId98" Type="http://schemas.openxmlformats.org/'
            'officeDocument/2006/relationships/calcChain" Target="calcChain.xml"/></Relationships>')
    chain = f'<calcChain xmlns="{MAIN}"><c r="C1" i="1"/><c r="D1"/><c r="E1"/><c r="B2"/><c r="C2"/></calcChain>'
    rewrite(f"{folder}/formulas.xlsx", {"xl/worksheets/sheet1.xml": sheet.encode(), "[Content_Types].xml": types.encode(),
                                        "xl/_rels/workbook.xml.rels": rels.encode()},
            [("xl/calcChain.xml", chain.encode())])

    wb = openpyxl.Workbook()
    wb.active.title = "Offer"
    wb.active["A1"] = "Offer for"
    wb.template = True
    wb.save(f"{folder}/offer.xltx")

    # Custom properties: openpyxl 3.0 has none, so custom.xml is written by hand.
    props = (
        f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Properties xmlns="{CUSTOM}" xmlns:vt="{VT}">'
        '<property fmtid="{D5CDD505-2E9C-101B-9397-08002B2CF9AE}" pid="2" name="QEL-Receiver"><vt:lpwstr>ACME &amp; Co</vt:lpwstr></property>'
        '<property fmtid="{D5CDD505-2E9C-101B-9397-08002B2CF9AE}" pid="3" name="Total"><vt:r8>12.75</vt:r8></property>'
        '<property fmtid="{D5CDD505-2E9C-101B-9397-08002B2CF9AE}" pid="4" name="Lines"><vt:i4>3</vt:i4></property>'
        '<property fmtid="{D5CDD505-2E9C-101B-9397-08002B2CF9AE}" pid="5" name="Due"><vt:filetime>2026-03-01T12:30:00Z</vt:filetime></property>'
        '<property fmtid="{D5CDD505-2E9C-101B-9397-08002B2CF9AE}" pid="6" name="Urgent"><vt:bool>true</vt:bool></property>'
        "</Properties>"
    )
    wb = openpyxl.Workbook()
    wb.save(f"{folder}/custom.xlsx")
    with zipfile.ZipFile(f"{folder}/custom.xlsx") as z:
        types = z.read("[Content_Types].xml").decode()
        rels = z.read("_rels/.rels").decode()
    types = types.replace(
        "</Types>",
        '<Override PartName="/docProps/custom.xml" '
        'ContentType="application/vnd.openxmlformats-officedocument.custom-properties+xml"/></Types>')
    rels = rels.replace(
        "</Relationships>",
        '<Relationship Id="rId99" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/'
        'custom-properties" Target="docProps/custom.xml"/></Relationships>')
    rewrite(f"{folder}/custom.xlsx", {"[Content_Types].xml": types.encode(), "_rels/.rels": rels.encode()},
            [("docProps/custom.xml", props.encode())])

    # Hostile packages.
    good = open(f"{folder}/several.xlsx", "rb").read()
    with open(f"{folder}/escape.xlsx", "wb") as f:
        f.write(good)
    rewrite(f"{folder}/escape.xlsx", {}, [("xl/../../evil.txt", b"x")])
    with open(f"{folder}/absolute.xlsx", "wb") as f:
        f.write(good)
    rewrite(f"{folder}/absolute.xlsx", {}, [("/etc/absolute.txt", b"x")])
    with zipfile.ZipFile(f"{folder}/several.xlsx") as z:
        rels = z.read("xl/_rels/workbook.xml.rels").decode()
    with open(f"{folder}/outside.xlsx", "wb") as f:
        f.write(good)
    rewrite(f"{folder}/outside.xlsx", {"xl/_rels/workbook.xml.rels": rels.replace(
        'Target="/xl/worksheets/sheet2.xml"', 'Target="../../outside.xml"').encode()})
    with open(f"{folder}/bomb.xlsx", "wb") as f:
        f.write(good)
    rewrite(f"{folder}/bomb.xlsx", {}, [("xl/media/zeros.bin", bytes(8 << 20))])
    with open(f"{folder}/doctype.xlsx", "wb") as f:
        f.write(good)
    laughs = ('<?xml version="1.0"?><!DOCTYPE workbook [<!ENTITY a "aaaaaaaaaa">'
              '<!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">]>'
              f'<workbook xmlns="{MAIN}"><sheets/>&c;</workbook>')
    rewrite(f"{folder}/doctype.xlsx", {"xl/workbook.xml": laughs.encode()})
    with zipfile.ZipFile(f"{folder}/document.zip", "w") as z:
        z.writestr("readme.txt", "no workbook here")


def damage(folder):
    """Packages that are sound zip files whose XML parts are damaged: cut short, bytes
    changed, or a tag doubled (fixed seed)."""
    rnd = random.Random(20261208)
    sources = [f"{folder}/formulas.xlsx", f"{folder}/custom.xlsx", f"{folder}/several.xlsx"]
    for n in range(150):
        path = sources[n % len(sources)]
        with zipfile.ZipFile(path) as z:
            names = [i.filename for i in z.infolist()
                     if i.filename.endswith(".rels") or i.filename.startswith(("[", "xl/w", "xl/s", "docProps/custom"))]
        name = rnd.choice(names)
        with zipfile.ZipFile(path) as z:
            data = bytearray(z.read(name))
        how = n % 3
        if how == 0:
            data = data[: rnd.randrange(len(data))]
        elif how == 1:
            for _ in range(rnd.randint(1, 6)):
                data[rnd.randrange(len(data))] = rnd.choice(b'<>&"/=x0\x00\xff')
        else:
            at = rnd.randrange(len(data))
            start = data.rfind(b"<", 0, at)
            end = data.find(b">", at)
            if start >= 0 and end > start:
                data[start:start] = data[start:end + 1]
        out = f"{folder}/damaged_{n:03}.xlsx"
        with open(path, "rb") as f, open(out, "wb") as g:
            g.write(f.read())
        rewrite(out, {name: bytes(data)})
        print(f"damaged_{n:03}.xlsx={name}")


def read(path):
    wb = openpyxl.load_workbook(path)
    print(f"template={wb.template}")
    print(f"active={wb.active.title}")
    print("sheets=" + "|".join(f"{ws.title}:{ws.sheet_state}" for ws in wb.worksheets))
    for ws in wb.worksheets:
        for row in ws.iter_rows():
            for cell in row:
                if cell.value is not None:
                    print(f"{ws.title}!{cell.coordinate}={type(cell.value).__name__}:{cell.value}")
    for dn in wb.defined_names.definedName:
        print(f"name:{dn.name}={dn.localSheetId}:{dn.attr_text}")
    cached = openpyxl.load_workbook(path, data_only=True)
    for ws in cached.worksheets:
        for row in ws.iter_rows():
            for cell in row:
                if isinstance(cell.value, (int, float)):
                    print(f"cached:{ws.title}!{cell.coordinate}={cell.value}")


def custom(path):
    with zipfile.ZipFile(path) as z:
        root = ET.fromstring(z.read("docProps/custom.xml"))
        print("content-type=" + ("custom-properties+xml" in z.read("[Content_Types].xml").decode()).__str__())
        print("relationship=" + ("custom-properties" in z.read("_rels/.rels").decode()).__str__())
    pids = set()
    for prop in root.findall(f"{{{CUSTOM}}}property"):
        value = prop[0]
        pids.add(prop.get("pid"))
        print(f"{prop.get('name')}={value.tag.split('}')[1]}:{value.text}")
    print(f"distinct-pids={len(pids)}")


def raw(path):
    """A digest of the stored (compressed) bytes of each entry, read through its local header."""
    with zipfile.ZipFile(path) as z, open(path, "rb") as f:
        for info in z.infolist():
            f.seek(info.header_offset)
            header = f.read(30)
            name_len, extra_len = struct.unpack("<HH", header[26:30])
            f.seek(info.header_offset + 30 + name_len + extra_len)
            digest = hashlib.sha256(f.read(info.compress_size)).hexdigest()[:16]
            print(f"{info.filename}={info.compress_type}:{info.CRC:08x}:{digest}")
        types = ET.fromstring(z.read("[Content_Types].xml"))
        for override in types:
            if override.get("PartName") == "/xl/workbook.xml":
                print("workbook-type=" + override.get("ContentType"))

if __name__ == "__main__":
    {"write": write, "damage": damage, "read": read, "custom": custom, "raw": raw}[sys.argv[1]](sys.argv[2])
