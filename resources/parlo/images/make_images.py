#!/usr/bin/env python3
"""Draws the SMS client's small images as PNG files (run once; the PNGs are
kept beside this script). Pure Python: no imaging library needed."""
import math
import struct
import zlib


def png(path, w, h, pixel):
    rows = b""
    for y in range(h):
        rows += b"\0" + b"".join(bytes(pixel(x, y)) for x in range(w))

    def chunk(kind, data):
        c = kind + data
        return struct.pack(">I", len(data)) + c + struct.pack(">I", zlib.crc32(c) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(rows, 9)))
        f.write(chunk(b"IEND", b""))


CLEAR = (0, 0, 0, 0)


def envelope(fill, line):
    def px(x, y):
        if 1 <= x <= 14 and 3 <= y <= 12:
            edge = x in (1, 14) or y in (3, 12)
            # the flap: two lines from the top corners to the middle
            d = abs((y - 3) - (7.5 - abs(x - 7.5)) * 0.75)
            if edge or d < 0.6:
                return line
            return fill
        return CLEAR
    return px


def marked(x, y):
    base = envelope((235, 235, 235, 255), (90, 90, 90, 255))(x, y)
    # a green tick over the envelope
    for (a, b, c, d) in ((3, 8, 6, 11), (6, 11, 13, 3)):
        t = max(0.0, min(1.0, ((x - a) * (c - a) + (y - b) * (d - b)) / ((c - a) ** 2 + (d - b) ** 2)))
        dist = math.hypot(x - (a + t * (c - a)), y - (b + t * (d - b)))
        if dist < 1.3:
            return (20, 140, 40, 255)
    return base


def dot(colour, ring):
    def px(x, y):
        r = math.hypot(x - 7.5, y - 7.5)
        if r < 5.0:
            return colour
        if r < 6.2:
            return ring
        return CLEAR
    return px


def warning(fill, mark):
    def px(x, y):
        # a triangle with an exclamation mark
        if y < 1 or y > 14:
            return CLEAR
        half = (y - 1) * 7.5 / 13
        if abs(x - 7.5) > half + 0.5:
            return CLEAR
        if x in (7, 8) and (4 <= y <= 9 or 11 <= y <= 12):
            return mark
        return fill
    return px


def app_icon(x, y):
    # a speech bubble with three dots, 64 x 64
    cx, cy = 32, 28
    inside = ((x - cx) / 28.0) ** 2 + ((y - cy) / 21.0) ** 2 <= 1.0
    tail = 14 <= x <= 26 and 44 <= y <= 58 and (x - 14) >= (y - 44) * 0.85
    if inside or tail:
        for dx in (18, 32, 46):
            if math.hypot(x - dx, y - cy) < 4.5:
                return (255, 255, 255, 255)
        return (32, 110, 200, 255)
    return CLEAR


png("row_normal.png", 16, 16, envelope((250, 250, 250, 255), (90, 90, 90, 255)))
png("row_marked.png", 16, 16, marked)
png("row_unread.png", 16, 16, envelope((255, 214, 64, 255), (130, 90, 0, 255)))
png("error_quiet.png", 16, 16, dot((200, 200, 200, 255), (150, 150, 150, 255)))
png("error_a.png", 16, 16, warning((220, 30, 30, 255), (255, 255, 255, 255)))
png("error_b.png", 16, 16, warning((255, 180, 180, 255), (220, 30, 30, 255)))
png("parlo.png", 64, 64, app_icon)
