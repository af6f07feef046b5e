#!/usr/bin/env python3
"""Draws the two 16 x 16 row pictures, Document.bmp and Folder.bmp, as 24-bit BMP files."""
import struct
import sys


def bmp(pixels):
    h = len(pixels)
    w = len(pixels[0])
    row_bytes = (w * 3 + 3) & ~3
    body = bytearray()
    for row in reversed(pixels):  # BMP rows run bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (row_bytes - len(line))
        body += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    return header + info + bytes(body)


WHITE = (255, 255, 255)
INK = (70, 70, 80)
PAPER = (250, 250, 245)
LINE = (150, 160, 190)
FOLD = (210, 210, 200)
TAN = (232, 186, 84)
TAN_DARK = (176, 128, 40)


def document():
    p = [[WHITE] * 16 for _ in range(16)]
    for y in range(1, 15):
        for x in range(3, 13):
            p[y][x] = PAPER
    for y in range(1, 15):
        p[y][3] = INK
        p[y][12] = INK
    for x in range(3, 13):
        p[1][x] = INK
        p[14][x] = INK
    for i in range(4):  # the turned-down corner
        for x in range(9 + i, 13):
            p[1 + i][x] = WHITE
        p[1 + i][9 + i] = INK
        p[4][9 + i] = INK
        for x in range(9, 9 + i):
            p[1 + i][x] = FOLD
        p[1][9] = INK
    for x in range(9, 13):
        p[4 + 0][x] = INK if x >= 9 else p[4][x]
    for y in (6, 8, 10, 12):
        for x in range(5, 11):
            p[y][x] = LINE
    return p


def folder():
    p = [[WHITE] * 16 for _ in range(16)]
    for y in range(3, 6):
        for x in range(1, 7):
            p[y][x] = TAN
    for y in range(5, 14):
        for x in range(1, 15):
            p[y][x] = TAN
    for x in range(1, 15):
        p[13][x] = TAN_DARK
        p[5][x] = TAN_DARK
    for y in range(3, 14):
        p[y][1] = TAN_DARK
    for y in range(5, 14):
        p[y][14] = TAN_DARK
    for x in range(1, 7):
        p[3][x] = TAN_DARK
    p[4][7] = TAN_DARK
    return p


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    with open(f"{out}/Document.bmp", "wb") as f:
        f.write(bmp(document()))
    with open(f"{out}/Folder.bmp", "wb") as f:
        f.write(bmp(folder()))
