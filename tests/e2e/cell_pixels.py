#!/usr/bin/env python3
"""Pixels of the designer window's cells, as a screen shows them.

usage: cell_pixels.py WINDOW CELL...   prints one line per cell: its 17 x 17 pixels in hex
       cell_pixels.py differ LINE LINE  prints how many pixels two such lines differ in

The window is captured with xwd, so what is read is what a person sees, overlaps included.
Cells are 17 pixels square at a 16-pixel pitch from 48 pixels down, at 96 dots per inch.
"""
import struct
import subprocess
import sys

SIZE = 17


def capture(window):
    dump = subprocess.run(["xwd", "-silent", "-id", window], check=True,
                          capture_output=True).stdout
    fields = struct.unpack(">25I", dump[:100])
    header_size, bits_per_pixel, bytes_per_line, ncolors = fields[0], fields[11], fields[12], fields[19]
    byte_order = fields[7]
    if bits_per_pixel != 32:
        sys.exit(f"cell_pixels.py: {bits_per_pixel} bits a pixel, not 32")
    image = dump[header_size + 12 * ncolors:]
    order = "<" if byte_order == 0 else ">"

    def pixel(x, y):
        offset = y * bytes_per_line + 4 * x
        return struct.unpack(order + "I", image[offset:offset + 4])[0] & 0xFFFFFF

    return pixel


def cell(pixel, index):
    left, top = 16 * (index % 8), 48 + 16 * (index // 8)
    return "".join(f"{pixel(left + x, top + y):06x}" for y in range(SIZE) for x in range(SIZE))


def main(args):
    if args[0] == "differ":
        a, b = args[1], args[2]
        print(sum(a[i:i + 6] != b[i:i + 6] for i in range(0, min(len(a), len(b)), 6)))
        return
    pixel = capture(args[0])
    for index in args[1:]:
        print(cell(pixel, int(index)))


if __name__ == "__main__":
    main(sys.argv[1:])
