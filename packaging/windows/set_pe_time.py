#!/usr/bin/env python3
"""Sets the time stamp in a PE file's header to SOURCE_DATE_EPOCH, where that is set.

usage: set_pe_time.py FILE

NSIS runs this through !packhdr on the header of the installer, which is also the header that
the uninstaller is written with, before it computes the installer's integrity check.
"""
import os
import struct
import sys


def main(path):
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        return
    with open(path, "r+b") as exe:
        exe.seek(0x3C)
        (pe_offset,) = struct.unpack("<I", exe.read(4))
        exe.seek(pe_offset)
        if exe.read(4) != b"PE\0\0":
            sys.exit(f"set_pe_time.py: {path} is not a PE file")
        # The COFF header: machine (2 bytes), section count (2), then the time stamp.
        exe.seek(pe_offset + 8)
        exe.write(struct.pack("<I", int(epoch)))


if __name__ == "__main__":
    main(sys.argv[1])
