"""The independent side of the document-to-workbook tests: writes the workbooks that the
conversion reads (openpyxl, and zipfile where openpyxl cannot: cached formula values and
custom properties). Reading back goes through workbook_peer.py.

    qel_excel_peer.py write DIR     makes the input workbooks in DIR
"""
import sys
import zipfile

import openpyxl

# The package helpers of the engine's independent side, which lies beside this script.
from workbook_peer import CUSTOM, MAIN, VT, rewrite

FMTID = "{D5CDD505-2E9C-101B-9397-08002B2CF9AE}"


def add_custom(path, properties):
    """Adds docProps/custom.xml with (name, vt-type, text) properties."""
    body = "".join(
        f'<property fmtid="{FMTID}" pid="{n + 2}" name="{name}"><vt:{vt}>{text}</vt:{vt}></property>'
        for n, (name, vt, text) in enumerate(properties))
    props = (f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
             f'<Properties xmlns="{CUSTOM}" xmlns:vt="{VT}">{body}</Properties>')
    with zipfile.ZipFile(path) as z:
        types = z.read("[Content_Types].xml").decode()
        rels = z.read("_rels/.rels").decode()
    types = types.replace("</Types>", '<Override PartName="/docProps/custom.xml" ContentType="application/'
                          'vnd.openxmlformats-officedocument.custom-properties+xml"/></Types>')
    rels = rels.replace("</Relationships>", '<Relationship Id="rId99" Type="http://schemas.openxmlformats.org/'
                        'officeDocument/2006/relationships/custom-properties" Target="docProps/custom.xml"/>'
                        "</Relationships>")
    rewrite(path, {"[Content_Types].xml": types.encode(), "_rels/.rels": rels.encode()},
            [("docProps/custom.xml", props.encode())])


def write(folder):
    # A routed workbook: the first sheet is written by hand for its formulas' cached values.
    wb = openpyxl.Workbook()
    wb.active.title = "Orders"
    notes = wb.create_sheet("Notes")
    notes.sheet_state = "hidden"
    notes["B3"] = "note"
    notes["A2"] = "   "
    wb.create_sheet("Empty")
    path = f"{folder}/~routed.xlsx"
    wb.save(path)
    sheet = (
        f'<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="{MAIN}"><sheetData>'
        '<row r="1"><c r="A1" t="inlineStr"><is><t>Item</t></is></c><c r="B1"><v>2</v></c>'
        '<c r="C1"><f>B1*1.5</f><v>3</v></c><c r="D1" t="b"><v>1</v></c></row>'
        '<row r="12"><c r="B12"><v>0.25</v></c><c r="AA12" t="str"><f>"x"&amp;B1</f><v>x2</v></c></row>'
        "</sheetData></worksheet>")
    rewrite(path, {"xl/worksheets/sheet1.xml": sheet.encode()})
    add_custom(path, [("QEL-RECEIVER", "lpwstr", "17;18"), ("QEL-SENDER", "lpwstr", "3"),
                      ("QEL-USESDISTLIST", "bool", "true"), ("QEL-CONTACT", "lpwstr", ""),
                      ("qel-show", "lpwstr", "1"), ("Project", "lpwstr", "North"),
                      ("Lines", "i4", "3")])

    # A table to update and to append to; a hidden sheet and a second sheet stay untouched.
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Stock"
    for row in (("Item", "Qty", "Price"), ("Bolt", 5, 0.2), ("Nut", 12, 0.05), ("Washer", 40, 0.01)):
        ws.append(row)
    hidden = wb.create_sheet("Old")
    hidden.sheet_state = "hidden"
    hidden["A1"] = "old"
    wb.create_sheet("Other")["C3"] = "keep"
    wb.save(f"{folder}/stock.xlsx")

    # Templates: one saved as a template, one a workbook used as a template.
    for name, template in (("offer.xltx", True), ("offer_book.xlsx", False)):
        wb = openpyxl.Workbook()
        wb.active.title = "Offer"
        wb.active["A1"] = "Offer for"
        wb.active["A3"] = "Total"
        wb.template = template
        wb.save(f"{folder}/{name}")
        add_custom(f"{folder}/{name}", [("Amount", "r8", "1.5")])

    with open(f"{folder}/orders.csv", "w") as f:
        f.write("Item;Qty\nBolt;5\n")


if __name__ == "__main__":
    {"write": write}[sys.argv[1]](sys.argv[2])
