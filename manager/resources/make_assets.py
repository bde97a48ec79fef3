#!/usr/bin/env python3
"""Draws the manager's icons, cursor and bitmaps (standard library only).

Run it from any folder; it writes next to itself:
  tray_idle.ico, tray_both.ico, tray_apache.ico, tray_mysql.ico, window.ico
      two server towers, Apache on the left (orange when running), MySQL on
      the right (blue when running); a red dot when nothing runs, a green
      one when both do. 16x16 and 32x32, 256 colours with a mask.
  hand.cur        pointing hand, black and white, hot spot on the fingertip
  banner.bmp      the "Tarvane" name on a gradient (8 bits, 600x33)
  banner_150.bmp  the same drawn at 150 % (900x50), for 144 dpi screens
  banner_line.bmp a one-pixel orange-to-blue line under the banner (24 bits)
  menu_button.bmp, pin_off.bmp, pin_on.bmp, help_button.bmp
      the window's flat button faces, 16 colours on the 3-D face grey
      (192,192,192), so that LR_LOADMAP3DCOLORS and LR_LOADTRANSPARENT turn
      their background into the system's button colour.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------------------
# File writers. An image is a list of rows, top row first; a pixel is an
# (r, g, b) tuple, or None for a transparent pixel of an icon or cursor.


def palette_of(rows, size, first=()):
    colours = list(first)
    for row in rows:
        for c in row:
            if c is not None and c not in colours:
                colours.append(c)
    if len(colours) > size:
        raise ValueError('%d colours, the palette holds %d' % (len(colours), size))
    return colours + [(0, 0, 0)] * (size - len(colours))


def quantize(rows, size):
    """The picture in at most `size` colours: the most frequent ones, every
    other pixel mapped to the nearest of them."""
    counts = {}
    for row in rows:
        for c in row:
            if c is not None:
                counts[c] = counts.get(c, 0) + 1
    kept = sorted(counts, key=lambda c: -counts[c])[:size]
    nearest = {}
    for c in counts:
        nearest[c] = c if c in kept else min(
            kept, key=lambda k: (k[0] - c[0]) ** 2 + (k[1] - c[1]) ** 2 + (k[2] - c[2]) ** 2)
    return [[None if c is None else nearest[c] for c in row] for row in rows]


def pack_rows(rows, bits, index):
    """Bottom-up pixel rows, each padded to 4 bytes."""
    out = bytearray()
    for row in reversed(rows):
        line = bytearray()
        acc, n = 0, 0
        for c in row:
            acc = (acc << bits) | index(c)
            n += bits
            if n == 8:
                line.append(acc)
                acc, n = 0, 0
        if n:
            line.append(acc << (8 - n))
        while len(line) % 4:
            line.append(0)
        out += line
    return bytes(out)


def dib_header(width, height, bits, colours):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, 0, 0, 0, 0, colours, 0)


def pal_bytes(pal):
    return b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in pal)


def write_bmp(name, rows, bits, first=()):
    """24 bits, or 4 or 8 bits with a palette starting with `first`."""
    h, w = len(rows), len(rows[0])
    if bits == 24:
        out = bytearray()
        for row in reversed(rows):
            line = bytearray()
            for r, g, b in row:
                line += bytes((b, g, r))
            while len(line) % 4:
                line.append(0)
            out += line
        head, body = dib_header(w, h, 24, 0), bytes(out)
    else:
        pal = palette_of(rows, 1 << bits, first)
        head = dib_header(w, h, bits, 1 << bits) + pal_bytes(pal)
        body = pack_rows(rows, bits, pal.index)
    offset = 14 + len(head)
    data = b'BM' + struct.pack('<IHHI', offset + len(body), 0, 0, offset) + head + body
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(data)


def icon_image(rows, bits):
    """One image of an .ico/.cur: header (doubled height), palette, colour
    bits and the AND mask (1 = transparent)."""
    size = len(rows)
    pal = palette_of(rows, 1 << bits, [(0, 0, 0)])
    colour = pack_rows(rows, bits, lambda c: 0 if c is None else pal.index(c))
    mask = pack_rows(rows, 1, lambda c: 1 if c is None else 0)
    return dib_header(size, size * 2, bits, 0) + pal_bytes(pal) + colour + mask


def write_icon(name, images, bits=8, hotspot=None):
    """images: list of square images. A hot spot makes it a cursor."""
    kind = 2 if hotspot else 1
    out = struct.pack('<HHH', 0, kind, len(images))
    blobs = [icon_image(rows, bits) for rows in images]
    offset = 6 + 16 * len(images)
    for rows, blob in zip(images, blobs):
        size = len(rows)
        count = (1 << bits) if bits < 8 else 0
        if hotspot:
            a, b = hotspot
        else:
            a, b = 1, bits
        out += struct.pack('<BBBBHHII', size, size, count, 0, a, b, len(blob), offset)
        offset += len(blob)
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(out + b''.join(blobs))


def canvas(w, h, fill=None):
    return [[fill] * w for _ in range(h)]


def rect(px, x0, y0, x1, y1, c):
    """Fills x0..x1, y0..y1 inclusive."""
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            px[y][x] = c


def frame(px, x0, y0, x1, y1, c):
    rect(px, x0, y0, x1, y0, c)
    rect(px, x0, y1, x1, y1, c)
    rect(px, x0, y0, x0, y1, c)
    rect(px, x1, y0, x1, y1, c)


def from_art(art, colours):
    return [[colours[ch] for ch in line] for line in art]


# ---------------------------------------------------------------------------
# Tray and window icons

OUTLINE = (40, 40, 48)
# (light, fill, shade) of a tower's front.
OFF = ((214, 214, 214), (168, 168, 172), (120, 120, 126))
APACHE = ((255, 200, 110), (240, 136, 24), (184, 84, 8))
MYSQL = ((130, 180, 255), (40, 104, 216), (20, 56, 140))
RED_DOT = ((255, 120, 120), (220, 24, 24))
GREEN_DOT = ((150, 255, 150), (24, 176, 40))
LED = {OFF: (96, 96, 100), APACHE: (255, 250, 200), MYSQL: (210, 240, 255)}


def tower(px, x0, y0, x1, y1, look, size):
    light, fill, shade = look
    frame(px, x0, y0, x1, y1, OUTLINE)
    rect(px, x0 + 1, y0 + 1, x1 - 1, y1 - 1, fill)
    rect(px, x0 + 1, y0 + 1, x1 - 1, y0 + 1, light)
    rect(px, x0 + 1, y0 + 1, x0 + 1, y1 - 1, light)
    rect(px, x1 - 1, y0 + 2, x1 - 1, y1 - 1, shade)
    rect(px, x0 + 2, y1 - 1, x1 - 1, y1 - 1, shade)
    # Drive bays, then a power light near the foot.
    if size == 16:
        for y in (y0 + 3, y0 + 5):
            rect(px, x0 + 2, y, x1 - 2, y, shade)
        px[y1 - 3][x1 - 2] = LED[look]
    else:
        for y in (y0 + 5, y0 + 9, y0 + 13):
            rect(px, x0 + 3, y, x1 - 3, y + 1, shade)
            rect(px, x0 + 3, y + 2, x1 - 3, y + 2, light)
        rect(px, x1 - 4, y1 - 5, x1 - 3, y1 - 4, LED[look])


def dot(px, cx, cy, r, colours):
    light, fill = colours
    size = len(px)
    for y in range(size):
        for x in range(size):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            if d <= r:
                px[y][x] = OUTLINE if d > r - 1 else fill
    # A highlight up and to the left of the centre.
    hx, hy = int(cx - r / 3), int(cy - r / 3)
    px[hy][hx] = light
    if size == 32:
        px[hy][hx + 1] = light
        px[hy + 1][hx] = light


def stack_icon(size, apache, mysql, status):
    px = canvas(size, size)
    if size == 16:
        tower(px, 0, 1, 7, 15, APACHE if apache else OFF, 16)
        tower(px, 8, 1, 15, 15, MYSQL if mysql else OFF, 16)
        if status:
            dot(px, 12.0, 12.0, 4.0, status)
    else:
        tower(px, 1, 2, 15, 30, APACHE if apache else OFF, 32)
        tower(px, 16, 2, 30, 30, MYSQL if mysql else OFF, 32)
        if status:
            dot(px, 24.0, 24.0, 7.5, status)
    return px


def make_icons():
    plan = [
        ('tray_idle.ico', False, False, RED_DOT),
        ('tray_apache.ico', True, False, None),
        ('tray_mysql.ico', False, True, None),
        ('tray_both.ico', True, True, GREEN_DOT),
        ('window.ico', True, True, None),
    ]
    for name, apache, mysql, status in plan:
        write_icon(name, [stack_icon(32, apache, mysql, status),
                          stack_icon(16, apache, mysql, status)])


# ---------------------------------------------------------------------------
# Pointing hand cursor, hot spot at the tip of the index finger (5, 0).

HAND = [
    "     ##           ",
    "    #..#          ",
    "    #..#          ",
    "    #..#          ",
    "    #..#          ",
    "    #..###        ",
    "    #..#..###     ",
    "    #..#..#..###  ",
    "    #..#..#..#..# ",
    " ## #..#..#..#..# ",
    "#..##...........# ",
    "#...#...........# ",
    " #..............# ",
    "  #.............# ",
    "  #............#  ",
    "   #...........#  ",
    "   #..........#   ",
    "    #.........#   ",
    "    #.........#   ",
    "    ###########   ",
]


def make_cursor():
    px = canvas(32, 32)
    art = from_art(HAND, {' ': None, '#': (0, 0, 0), '.': (255, 255, 255)})
    for y, row in enumerate(art):
        for x, c in enumerate(row):
            px[y][x] = c
    write_icon('hand.cur', [px], bits=1, hotspot=(5, 0))


# ---------------------------------------------------------------------------
# Flat button faces, 14x14 on the 3-D face grey

FACE = (192, 192, 192)
BUTTON_COLOURS = {
    '.': FACE, 'K': (0, 0, 0), 'D': (128, 128, 128), 'W': (255, 255, 255),
    'R': (255, 0, 0), 'r': (128, 0, 0), 'B': (0, 0, 128),
}

MENU_ARROW = [
    "..............",
    "..............",
    "..............",
    ".....K........",
    ".....KK.......",
    ".....KKK......",
    ".....KKKK.....",
    ".....KKKKK....",
    ".....KKKK.....",
    ".....KKK......",
    ".....KK.......",
    ".....K........",
    "..............",
    "..............",
]

# Pin lying on its side, point to the left: the window may go behind others.
PIN_OFF = [
    "..............",
    "..............",
    "....KKK.......",
    "....KWK.......",
    "....KWK..KKKK.",
    "....KRKKKKWRK.",
    "DDDDKRKRRKWRK.",
    "KKKKKRKRrKRrK.",
    "....KRKKKKRrK.",
    "....KrK..KKKK.",
    "....KrK.......",
    "....KKK.......",
    "..............",
    "..............",
]

# The same pin standing, pushed in: the window stays on top.
PIN_ON = [
    "..............",
    "..............",
    "....KKKKKK....",
    "....KWWRRK....",
    "....KRRRrK....",
    "....KKKKKK....",
    ".....KRrK.....",
    ".....KRrK.....",
    "..KKKKKKKKKK..",
    "..KWWRRRRRrK..",
    "..KKKKKKKKKK..",
    "......DK......",
    "......DK......",
    "..............",
]

# Help: a bold question mark.
HELP = [
    "..............",
    "..............",
    ".....BBBB.....",
    "....BB..BB....",
    "....BB..BB....",
    "........BB....",
    ".......BB.....",
    "......BB......",
    "......BB......",
    "..............",
    "......BB......",
    "......BB......",
    "..............",
    "..............",
]


def make_buttons():
    write_bmp('menu_button.bmp', from_art(MENU_ARROW, BUTTON_COLOURS), 4, [FACE])
    write_bmp('pin_off.bmp', from_art(PIN_OFF, BUTTON_COLOURS), 4, [FACE])
    write_bmp('pin_on.bmp', from_art(PIN_ON, BUTTON_COLOURS), 4, [FACE])
    write_bmp('help_button.bmp', from_art(HELP, BUTTON_COLOURS), 4, [FACE])


# ---------------------------------------------------------------------------
# Banner: the name drawn with round strokes, anti-aliased by sampling each
# pixel 4x4 times, over a blue gradient.

# 435 pixels cover the window where the dialog unit is 1.5 pixels wide;
# the rest lets the gradient run on where the system font is wider, and is
# cut off by the window elsewhere.
BANNER_W, BANNER_H = 600, 33
STROKE = 0.115  # stroke width, in units of the font size


def arc(cx, cy, rx, ry, a0, a1, steps=24):
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / steps)))
            for i in range(steps + 1)]


# Centre lines of the strokes; y grows upwards from the baseline, the
# x-height is 0.55 and the capitals 0.75. (polylines, advance)
XH = 0.55 - STROKE / 2
GLYPHS = {
    'T': ([[(0.0, 0.75 - STROKE / 2), (0.56, 0.75 - STROKE / 2)],
           [(0.28, 0.75 - STROKE / 2), (0.28, 0.0)]], 0.56),
    'a': ([arc(0.22, XH / 2 + STROKE / 4, 0.2, XH / 2 - STROKE / 4, 0, 360, 40),
           [(0.42, XH + STROKE / 2), (0.42, 0.0)]], 0.48),
    'r': ([[(0.06, XH + STROKE / 2), (0.06, 0.0)],
           arc(0.30, 0.22, 0.24, XH - 0.22, 180, 85)], 0.34),
    'v': ([[(0.0, XH + STROKE / 2), (0.22, STROKE / 2), (0.44, XH + STROKE / 2)]], 0.44),
    'n': ([[(0.06, XH + STROKE / 2), (0.06, 0.0)],
           [(0.06, 0.30)] + arc(0.24, 0.30, 0.18, XH - 0.30, 180, 0)[1:] + [(0.42, 0.0)]],
          0.48),
    'e': ([[(0.03, 0.28), (0.43, 0.28)],
           arc(0.23, XH / 2 + STROKE / 4, 0.2, XH / 2 - STROKE / 4, 0, 320, 40)], 0.47),
}
SPACING = 0.07


def text_segments(text, x0, baseline, em):
    """Pixel-space segments of the text, left edge at x0."""
    segs = []
    x = x0
    for ch in text:
        lines, advance = GLYPHS[ch]
        for line in lines:
            pts = [(x + (px + STROKE / 2) * em, baseline - py * em) for px, py in line]
            segs += list(zip(pts, pts[1:]))
        x += (advance + STROKE + SPACING) * em
    return segs, x


def coverage(segs, radius, w, h):
    """Fraction of each pixel within radius of a segment."""
    cov = [[0.0] * w for _ in range(h)]
    xs = [p[0] for s in segs for p in s]
    ys = [p[1] for s in segs for p in s]
    x0, x1 = max(0, int(min(xs) - radius) - 1), min(w, int(max(xs) + radius) + 2)
    y0, y1 = max(0, int(min(ys) - radius) - 1), min(h, int(max(ys) + radius) + 2)
    r2 = radius * radius
    subs = [(i + 0.5) / 4 for i in range(4)]
    for y in range(y0, y1):
        near = [s for s in segs
                if min(s[0][1], s[1][1]) - radius <= y + 1 and max(s[0][1], s[1][1]) + radius >= y]
        for x in range(x0, x1):
            cand = [s for s in near
                    if min(s[0][0], s[1][0]) - radius <= x + 1 and max(s[0][0], s[1][0]) + radius >= x]
            if not cand:
                continue
            hits = 0
            for sy in subs:
                for sx in subs:
                    qx, qy = x + sx, y + sy
                    for (ax, ay), (bx, by) in cand:
                        dx, dy = bx - ax, by - ay
                        ll = dx * dx + dy * dy
                        t = 0.0 if ll == 0 else max(0.0, min(1.0, ((qx - ax) * dx + (qy - ay) * dy) / ll))
                        ex, ey = ax + t * dx - qx, ay + t * dy - qy
                        if ex * ex + ey * ey <= r2:
                            hits += 1
                            break
            cov[y][x] = hits / 16.0
    return cov


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def banner_icon(size):
    """The window icon's towers at any size from 32 up."""
    if size == 32:
        return stack_icon(32, True, True, None)
    s = size / 32.0
    px = canvas(size, size)
    tower(px, round(1 * s), round(2 * s), round(15 * s), round(30 * s), APACHE, 32)
    tower(px, round(16 * s), round(2 * s), round(30 * s), round(30 * s), MYSQL, 32)
    return px


def make_banner(scale=1.0, name='banner.bmp'):
    """The banner drawn at scale (1.0: 96 dpi), every stroke at that size."""
    width, height = int(round(BANNER_W * scale)), int(round(BANNER_H * scale))
    left, right = (14, 36, 84), (44, 120, 190)
    px = []
    for y in range(height):
        row = []
        for x in range(width):
            c = mix(left, right, min(1.0, x / (434.0 * scale)))
            # A soft sheen on the upper half.
            c = mix(c, (255, 255, 255), 0.10 * max(0.0, 1.0 - y / (height * 0.55)))
            row.append(c)
        px.append(row)

    # The window icon's towers, on the left after the corner button.
    size = int(round(32 * scale))
    icon = banner_icon(size)
    top, at = int(round(1 * scale)), int(round(30 * scale))
    for y in range(size):
        for x in range(size):
            if icon[y][x] is not None and y + top < height:
                px[y + top][x + at] = icon[y][x]

    em = 30.0 * scale
    segs, _ = text_segments('Tarvane', 72.0 * scale, 27.0 * scale, em)
    radius = STROKE * em / 2
    off = 1.5 * scale
    shadow = coverage([((a[0] + off, a[1] + off), (b[0] + off, b[1] + off)) for a, b in segs],
                      radius, width, height)
    ink = coverage(segs, radius, width, height)
    for y in range(height):
        for x in range(width):
            c = mix(px[y][x], (4, 12, 32), 0.55 * shadow[y][x])
            px[y][x] = mix(c, (255, 255, 255), ink[y][x])
    rows = [[tuple(int(round(v)) for v in c) for c in row] for row in px]
    write_bmp(name, quantize(rows, 256), 8)


def make_banner_line():
    row = [tuple(int(round(v)) for v in mix(APACHE[1], MYSQL[1], min(1.0, x / 434.0)))
           for x in range(BANNER_W)]
    write_bmp('banner_line.bmp', [row], 24)


def mix_int(a, b, t):
    return tuple(int(round(v)) for v in mix(a, b, t))


def main():
    make_icons()
    make_cursor()
    make_buttons()
    make_banner()
    make_banner(1.5, 'banner_150.bmp')
    make_banner_line()


if __name__ == '__main__':
    main()
