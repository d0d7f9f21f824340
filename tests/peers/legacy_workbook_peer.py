"""The independent side of the legacy binary workbook tests: writes legacy binary workbooks
with Debian's python3-xlwt, which the engine must read.

    legacy_workbook_peer.py write DIR   makes legacy.xls, and damaged.xls (the first 4 KiB of
                                        legacy.xls followed by garbage) in DIR
"""
import datetime
import os
import sys

import xlwt


def write(folder):
    book = xlwt.Workbook(encoding="utf-8")
    orders = book.add_sheet("Orders")
    orders.write(0, 0, "Item")
    orders.write(0, 1, 42)
    orders.write(0, 2, 3.25)
    orders.write(0, 3, True)
    orders.write(1, 0, "Grüße & <ok>")
    orders.write(1, 1, datetime.datetime(2024, 3, 15, 13, 45, 10),
                 xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm:ss"))
    orders.write(1, 2, datetime.date(2023, 12, 31), xlwt.easyxf(num_format_str="yyyy-mm-dd"))
    orders.write(1, 3, -1234567.875)
    orders.write(3, 0, "after an empty row")
    second = book.add_sheet("Second sheet")
    second.write(4, 2, -7.5)
    second.write(9, 5, "far")
    path = os.path.join(folder, "legacy.xls")
    book.save(path)
    with open(path, "rb") as f:
        data = f.read()
    with open(os.path.join(folder, "damaged.xls"), "wb") as f:
        # The compound file's header, then nothing of its directory or streams.
        f.write(data[:512] + bytes((i * 37 + 11) % 256 for i in range(3000)))
    print("written=" + path)


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] != "write":
        sys.exit("usage: legacy_workbook_peer.py write DIR")
    write(sys.argv[2])
