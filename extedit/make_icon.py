#!/usr/bin/env python3
"""Writes Morvex.ico: 16 colours (4 bits per pixel), 32x32 and 16x16.

The picture: a sheet with three check boxes, two of them ticked, on a blue
tab. Run it from this folder to remake the committed icon.
"""
import struct

# The standard 16-colour palette (blue, green, red, reserved).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GREY, SILVER, GREEN, WHITE, BLUE = 0, 4, 8, 7, 2, 15, 12


def draw(size):
    """Returns rows (top first) of palette indexes, None for transparent."""
    px = [[None] * size for _ in range(size)]
    s = size / 32.0

    def rect(x0, y0, x1, y1, c):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                px[y][x] = c

    # Blue tab behind the sheet, the sheet with its shadow and outline.
    rect(2, 1, 22, 6, NAVY)
    rect(6, 4, 31, 31, GREY)
    rect(4, 2, 29, 29, BLACK)
    rect(5, 3, 28, 28, WHITE)
    rows = [(6, True), (14, True), (22, False)]
    for top, ticked in rows:
        rect(7, top + 1, 13, top + 7, BLACK)
        rect(8, top + 2, 12, top + 6, WHITE)
        rect(15, top + 3, 26, top + 5, SILVER if size == 32 else GREY)
        if ticked:
            # A tick: short stroke down to the right, long stroke up.
            pts = [(8, top + 3), (9, top + 4), (10, top + 5), (11, top + 4),
                   (12, top + 3), (13, top + 2), (14, top + 1)]
            for x, y in pts:
                xi, yi = int(x * s), int(y * s)
                px[yi][xi] = GREEN
                if size == 32:
                    px[yi + 1][xi] = GREEN
    return px


def image(size):
    px = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    for row in reversed(px):
        line = bytearray()
        for x in range(0, size, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            line.append((hi << 4) | lo)
        while len(line) % 4:
            line.append(0)
        xor += line
    mask = bytearray()
    for row in reversed(px):
        bits = 0
        line = bytearray()
        for x in range(size):
            bits = (bits << 1) | (1 if row[x] is None else 0)
            if x % 8 == 7:
                line.append(bits)
                bits = 0
        while len(line) % 4:
            line.append(0)
        mask += line
    return header + palette + bytes(xor) + bytes(mask)


def main():
    images = [(32, image(32)), (16, image(16))]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b''.join(data for _, data in images)
    with open('Morvex.ico', 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
