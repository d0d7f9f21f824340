#!/usr/bin/python3
"""Writes the demo's order sheet: a Birchwood purchase order kept as a workbook, routed by
its custom document properties (QEL-SENDER, QEL-DOCTYPE-ID, QEL-RECEIVER).
Usage: demo-order-sheet.py OUT.xlsx"""
import sys
import zipfile

import openpyxl

CUSTOM = "http://schemas.openxmlformats.org/officeDocument/2006/custom-properties"
VT = "http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes"
FMTID = "{D5CDD505-2E9C-101B-9397-08002B2CF9AE}"


def main(out):
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "Order"
    sheet["A1"] = "Birchwood Retail purchase order"
    for row, (label, value) in enumerate(
            [("Order number", "BW-2026-0533"), ("Issued", "2026-12-08"), ("Wanted by", "2026-12-22"),
             ("Currency", "EUR")], start=2):
        sheet.cell(row=row, column=1, value=label)
        sheet.cell(row=row, column=2, value=value)
    for column, title in enumerate(["No", "Item", "Quantity", "Unit", "Price", "Description"], start=1):
        sheet.cell(row=7, column=column, value=title)
    lines = [(1, "ALD-HNG-0450", 600, "PCE", 3.85, "Cabinet hinge, soft close, brushed steel, 45 mm"),
             (2, "ALD-KNB-0032", 250, "PCE", 1.75, "Cabinet knob, oak, 32 mm")]
    for row, line in enumerate(lines, start=8):
        for column, value in enumerate(line, start=1):
            sheet.cell(row=row, column=column, value=value)
    book.save(out)

    # The routing travels in custom document properties, written by hand (openpyxl 3.0 has
    # none).
    props = "".join(
        f'<property fmtid="{FMTID}" pid="{pid}" name="{name}"><vt:lpwstr>{value}</vt:lpwstr></property>'
        for pid, (name, value) in enumerate(
            [("QEL-SENDER", "anna.berg"), ("QEL-DOCTYPE-ID", "ORDER"), ("QEL-RECEIVER", "li.wong")], start=2))
    custom = (f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
              f'<Properties xmlns="{CUSTOM}" xmlns:vt="{VT}">{props}</Properties>')
    with zipfile.ZipFile(out) as package:
        entries = [(i.filename, package.read(i.filename)) for i in package.infolist()]
    types = dict(entries)["[Content_Types].xml"].decode().replace(
        "</Types>", '<Override PartName="/docProps/custom.xml" '
        'ContentType="application/vnd.openxmlformats-officedocument.custom-properties+xml"/></Types>')
    rels = dict(entries)["_rels/.rels"].decode().replace(
        "</Relationships>", '<Relationship Id="rId99" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
        'relationships/custom-properties" Target="docProps/custom.xml"/></Relationships>')
    replaced = {"[Content_Types].xml": types.encode(), "_rels/.rels": rels.encode()}
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as package:
        for name, data in entries:
            package.writestr(name, replaced.get(name, data))
        package.writestr("docProps/custom.xml", custom.encode())


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
