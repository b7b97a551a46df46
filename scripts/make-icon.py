#!/usr/bin/env python3
"""Turns a text drawing (palette lines, then 32 rows of 32 palette letters,
'.' transparent) into a 16-colour icon with images of 16, 20, 24 and 32
pixels, the smaller ones reduced from the drawing: a .ico file, the raw
images, the icon-group record and a resource script fragment that embeds
them. The 32-pixel image keeps the group's icon id; a smaller one of size n
gets id * 100 + n.
usage: make-icon.py DRAWING ICON_ID RESOURCE_NAME OUT_PREFIX"""
import os
import struct
import sys
from collections import Counter

SIZES = (16, 20, 24, 32)


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


def reduced(rows, n):
    """Each pixel takes the letter most of the drawing's pixels under it have
    (ties to the first seen, so the drawing's order decides)."""
    if n == 32:
        return rows
    out = []
    for y in range(n):
        y0, y1 = y * 32 // n, -(-(y + 1) * 32 // n)
        line = ""
        for x in range(n):
            x0, x1 = x * 32 // n, -(-(x + 1) * 32 // n)
            block = Counter(rows[j][i] for j in range(y0, y1) for i in range(x0, x1))
            line += block.most_common(1)[0][0]
        out.append(line)
    return out


def padded(data):
    return data + b"\0" * (-len(data) % 4)


def icon_image(palette, rows):
    n = len(rows)
    index = {letter: i for i, (letter, _) in enumerate(palette)}
    colours = [rgb for _, rgb in palette] + [(0, 0, 0)] * (16 - len(palette))
    xor, mask = b"", b""
    for row in reversed(rows):  # bitmaps are stored bottom-up
        nibbles = [0 if c == "." else index[c] for c in row] + [0]
        xor += padded(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, n, 2)))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c == "." else 0)
        width = (n + 7) // 8
        mask += padded((bits << (width * 8 - n)).to_bytes(width, "big"))
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 4, 0, len(xor) + len(mask), 0, 0, 0, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    return header + table + xor + mask


def main():
    drawing, icon_id, resource, out = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    palette, rows = read_drawing(drawing)
    images = [(n, icon_id if n == 32 else icon_id * 100 + n, icon_image(palette, reduced(rows, n)))
              for n in SIZES]
    entries = [struct.pack("<BBBBHHI", n, n, 16, 0, 1, 4, len(image)) for n, _, image in images]
    with open(out + ".ico", "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)))
        at = 6 + 16 * len(images)
        for entry, (_, _, image) in zip(entries, images):
            f.write(entry + struct.pack("<I", at))
            at += len(image)
        for _, _, image in images:
            f.write(image)
    base = os.path.basename(out)
    script = []
    for n, image_id, image in images:
        with open(f"{out}-{n}.img", "wb") as f:
            f.write(image)
        script.append(f'{image_id} 3 "{base}-{n}.img"')
    with open(out + ".grp", "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)))
        for entry, (_, image_id, _) in zip(entries, images):
            f.write(entry + struct.pack("<H", image_id))
    script.append(f'{resource} 14 "{base}.grp"')
    with open(out + ".rc", "w", encoding="ascii") as f:
        f.write("\n".join(script) + "\n")


main()
