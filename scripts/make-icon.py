#!/usr/bin/env python3
"""Turns a text drawing (palette lines, then 32 rows of 32 palette letters,
'.' transparent) into a 32 x 32, 16-colour icon: a .ico file, plus the raw
icon image and icon-group records that the .rc embeds under fixed ids."""
import struct
import sys


def read_drawing(path):
    palette, rows = [], []
    for line in open(path, encoding="ascii"):
        line = line.rstrip("\n")
        if not line or line.startswith("#"):
            continue
        if "=" in line:
            letter, rgb = line.split("=")
            palette.append((letter.strip(), tuple(int(v) for v in rgb.split())))
        else:
            rows.append(line)
    if len(rows) != 32 or any(len(r) != 32 for r in rows):
        sys.exit(f"{path}: the drawing must be 32 rows of 32 letters")
    if len(palette) > 16:
        sys.exit(f"{path}: at most 16 colours")
    return palette, rows


def icon_image(palette, rows):
    index = {letter: i for i, (letter, _) in enumerate(palette)}
    colours = [rgb for _, rgb in palette] + [(0, 0, 0)] * (16 - len(palette))
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, 32 * 16 + 32 * 4, 0, 0, 0, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    xor, mask = b"", b""
    for row in reversed(rows):  # bitmaps are stored bottom-up
        nibbles = [0 if c == "." else index[c] for c in row]
        xor += bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, 32, 2))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c == "." else 0)
        mask += struct.pack(">I", bits)
    return header + table + xor + mask


def main():
    drawing, icon_id, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    image = icon_image(*read_drawing(drawing))
    entry = struct.pack("<BBBBHHI", 32, 32, 16, 0, 1, 4, len(image))
    with open(out + ".ico", "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1) + entry + struct.pack("<I", 22) + image)
    with open(out + ".img", "wb") as f:
        f.write(image)
    with open(out + ".grp", "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1) + entry + struct.pack("<H", icon_id))


main()
