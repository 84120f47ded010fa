#!/usr/bin/env python3
"""Draws Kavoni's icon from the pixel art below and writes every form the program ships:

  kavoni.ico      for Windows: 32 x 32 in 16 colours, 16 x 16 in 16 colours, 32 x 32 in 2 colours
  kavoni-16.png to kavoni-256.png   for the Linux window and icon theme, at 16, 32, 48, 64,
                                    128 and 256 pixels, so no SVG engine need draw the window's
  kavoni.svg      the scalable version

The outputs are committed; run this again only after changing the art.
"""
import pathlib
import struct
import zlib

# A smiling sprite on a calculator screen. '.' is transparent.
ART = [
    "................",
    ".DDDDDDDDDDDDDD.",
    ".DGGGGGGGGGGGGD.",
    ".DGGGKKKKKKGGGD.",
    ".DGGKKKKKKKKGGD.",
    ".DGKKGKKKKGKKGD.",
    ".DGKKGKKKKGKKGD.",
    ".DGKKKKKKKKKKGD.",
    ".DGKGKKKKKKGKGD.",
    ".DGKKGGGGGGKKGD.",
    ".DGGKKKKKKKKGGD.",
    ".DGGGKKKKKKGGGD.",
    ".DGGGGGGGGGGGGD.",
    ".DDDDDDDDDDDDDD.",
    "................",
    "................",
]

# The classic 16-colour palette, so the 16-colour images use the colours such icons always had.
PALETTE_16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
INDEX_16 = {"K": 0, "G": 7, "D": 8}
# Black and white: the frame and sprite black, the screen white.
PALETTE_2 = [(0, 0, 0), (255, 255, 255)]
INDEX_2 = {"K": 0, "G": 1, "D": 0}
RGB = {key: PALETTE_16[index] for key, index in INDEX_16.items()}


def scaled(factor):
    return ["".join(ch * factor for ch in row) for row in ART for _ in range(factor)]


def ico_image(rows, palette, index, bits):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, len(palette), 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in palette)

    def packed(values, bits_per_pixel):
        row_bytes = ((size * bits_per_pixel + 31) // 32) * 4
        data = bytearray(row_bytes)
        for x, value in enumerate(values):
            bit = x * bits_per_pixel
            data[bit // 8] |= value << (8 - bits_per_pixel - bit % 8)
        return bytes(data)

    # Bitmaps run bottom-up. Transparent pixels are colour 0 with the mask bit set.
    xor = b"".join(packed([index.get(ch, 0) for ch in row], bits) for row in reversed(rows))
    mask = b"".join(packed([1 if ch == "." else 0 for ch in row], 1) for row in reversed(rows))
    return header + colours + xor + mask


def write_ico(path):
    images = [
        (scaled(2), PALETTE_16, INDEX_16, 4),
        (scaled(1), PALETTE_16, INDEX_16, 4),
        (scaled(2), PALETTE_2, INDEX_2, 1),
    ]
    blobs = [ico_image(*image) for image in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for (rows, palette, _, bits), blob in zip(images, blobs):
        size = len(rows)
        out += struct.pack("<BBBBHHII", size, size, len(palette), 0, 1, bits, len(blob), offset)
        offset += len(blob)
    path.write_bytes(out + b"".join(blobs))


def write_png(path, factor):
    rows = scaled(factor)
    raw = b""
    for row in rows:
        raw += b"\0" + b"".join(bytes(RGB[ch]) + b"\xff" if ch != "." else b"\0\0\0\0" for ch in row)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    size = len(rows)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" +
                     chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
                     chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_svg(path):
    rects = []
    for y, row in enumerate(ART):
        x = 0
        while x < len(row):
            ch = row[x]
            run = 1
            while x + run < len(row) and row[x + run] == ch:
                run += 1
            if ch != ".":
                r, g, b = RGB[ch]
                rects.append(f'  <rect x="{x}" y="{y}" width="{run}" height="1" '
                             f'fill="#{r:02x}{g:02x}{b:02x}"/>')
            x += run
    path.write_text('<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" '
                    'viewBox="0 0 16 16" shape-rendering="crispEdges">\n' +
                    "\n".join(rects) + "\n</svg>\n")


if __name__ == "__main__":
    here = pathlib.Path(__file__).resolve().parent
    write_ico(here / "kavoni.ico")
    for factor in (1, 2, 3, 4, 8, 16):
        write_png(here / f"kavoni-{16 * factor}.png", factor)
    write_svg(here / "kavoni.svg")
