#!/usr/bin/env python3
"""Draws the program's glyphs and writes them as PNG files.

    make_glyphs.py            write src/app/glyphs/*.png, src/app/glyphs.qrc, docs/glyphs.png
                              and the Windows program's icon src/app/resources/qvarchiwizator.ico
    make_glyphs.py --check    verify the committed files: the .qrc lists exactly the
                              files of src/app/glyphs, and every image (each size of
                              the icon too) has the pixels this script draws

Standard library only, so the images can be regenerated anywhere Python 3 runs.
The 16 x 16 glyphs are pixel art written out as character grids (one character per
pixel, see PALETTE); round or diagonal shapes are computed and then outlined.
"""

import math
import os
import struct
import sys
import zlib

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
GLYPH_DIR = os.path.join(ROOT, "src", "app", "glyphs")
QRC_PATH = os.path.join(ROOT, "src", "app", "glyphs.qrc")
SHEET_PATH = os.path.join(ROOT, "docs", "glyphs.png")
ICO_PATH = os.path.join(ROOT, "src", "app", "resources", "qvarchiwizator.ico")

CLEAR = (0, 0, 0, 0)

PALETTE = {
    ".": CLEAR,
    "k": (0, 0, 0, 255),
    "K": (64, 64, 64, 255),
    "n": (96, 96, 104, 255),
    "g": (128, 128, 128, 255),
    "s": (192, 192, 192, 255),
    "S": (226, 226, 226, 255),
    "w": (255, 255, 255, 255),
    "r": (224, 32, 32, 255),
    "R": (136, 0, 0, 255),
    "p": (255, 140, 140, 255),
    "y": (255, 224, 48, 255),
    "Y": (168, 128, 0, 255),
    "u": (255, 246, 184, 255),
    "G": (24, 168, 24, 255),
    "D": (0, 96, 0, 255),
    "l": (128, 224, 128, 255),
    "b": (32, 96, 224, 255),
    "B": (0, 32, 128, 255),
    "a": (150, 196, 255, 255),
    "c": (32, 208, 224, 255),
    "C": (0, 120, 128, 255),
    "e": (184, 244, 248, 255),
    "o": (192, 128, 64, 255),
    "O": (104, 56, 16, 255),
    "t": (232, 200, 144, 255),
    "f": (248, 204, 164, 255),
    "F": (184, 128, 88, 255),
}


# ---------------------------------------------------------------- canvas

class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[CLEAR] * w for _ in range(h)]

    def get(self, x, y):
        if 0 <= x < self.w and 0 <= y < self.h:
            return self.px[y][x]
        return CLEAR

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def opaque(self, x, y):
        return self.get(x, y)[3] != 0

    def art(self, rows, dx=0, dy=0):
        """Paints a character grid; '.' leaves the pixel as it is."""
        for y, row in enumerate(rows):
            for x, ch in enumerate(row):
                if ch != ".":
                    self.set(x + dx, y + dy, PALETTE[ch])

    def fill(self, inside, c):
        """Paints every pixel whose centre satisfies inside(x, y)."""
        for y in range(self.h):
            for x in range(self.w):
                if inside(x + 0.5, y + 0.5):
                    self.set(x, y, c)

    def outline(self, c, diagonal=False):
        """Rings every opaque area with a 1-pixel border of colour c."""
        steps = [(1, 0), (-1, 0), (0, 1), (0, -1)]
        if diagonal:
            steps += [(1, 1), (1, -1), (-1, 1), (-1, -1)]
        ring = [(x, y) for y in range(self.h) for x in range(self.w)
                if not self.opaque(x, y)
                and any(self.opaque(x + sx, y + sy) for sx, sy in steps)]
        for x, y in ring:
            self.set(x, y, c)

    def paste(self, other, dx, dy):
        for y in range(other.h):
            for x in range(other.w):
                if other.opaque(x, y):
                    self.set(x + dx, y + dy, other.px[y][x])


def in_polygon(pts):
    def inside(x, y):
        hit = False
        j = len(pts) - 1
        for i in range(len(pts)):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


def near_segment(ax, ay, bx, by, r):
    def inside(x, y):
        vx, vy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)))
        return math.hypot(x - (ax + t * vx), y - (ay + t * vy)) <= r
    return inside


def glyph(rows):
    c = Canvas(16, 16)
    assert len(rows) == 16 and all(len(r) == 16 for r in rows), rows
    c.art(rows)
    return c


# ---------------------------------------------------------------- the 16 x 16 glyphs

def g00_restore():
    # A page, and a red arrow bending down from it into an open box.
    return glyph([
        "kkkkkk..........",
        "kwwwwkk.........",
        "kwggwkwk........",
        "kwwwwkkkrrrr....",
        "kwggggwkrrrrrr..",
        "kwwwwwwk....rR..",
        "kwggggwk....rR..",
        "kwwwwwwk....rR..",
        "kkkkkkkk....rR..",
        "..........rrrrrR",
        "..OOOOOOOOOrrrRO",
        "..OKKKKKKKKKrRKO",
        "..OttttttttttttO",
        "..OooooowwwwoooO",
        "..OooooooooooooO",
        "..OOOOOOOOOOOOOO",
    ])


def g01_globe():
    return glyph([
        ".....BBBBBB.....",
        "...BBaaDDbbBB...",
        "..BaaDGGGDbbbB..",
        ".BaDGGlGGDbDDbB.",
        ".BaDGlGGDbDGGDB.",
        "BbbbDGGGDbbDGDbB",
        "BbbbbDGGDbbbDbbB",
        "BbbbbbDGGDbbbbbB",
        "BbbbbbbDGGDDbbbB",
        "BbbbbbbDGGGGDbbB",
        "BbbbbbbbDGGGDbbB",
        ".BbbbbbbDGGDbbB.",
        ".BbbbbbbbDDbbbB.",
        "..BbbbbbbbbbbB..",
        "...BBbbbbbbBB...",
        ".....BBBBBB.....",
    ])


def g02_plus_minus():
    # An arrow up over a plus, an arrow down under a minus.
    return glyph([
        "...BB...........",
        "..BbbB..........",
        ".BbbbbB..RRRRRR.",
        "BbbbbbbB.RrrrrR.",
        "BBBbbBBB.RRRRRR.",
        "..BbbB..........",
        "..BbbB.....BB...",
        "..BbbB....BbbB..",
        "..BBBB....BbbB..",
        "..........BbbB..",
        ".DDDD...BBBbbBBB",
        ".DGGD...BbbbbbbB",
        "DDGGDD...BbbbbB.",
        "DGGGGD....BbbB..",
        "DDGGDD.....BB...",
        ".DDDD...........",
    ])


def g03_mark_all():
    # Three cyan squares, a black arrow down, a red square.
    return glyph([
        "CCCC..CCCC..CCCC",
        "CecC..CecC..CecC",
        "CccC..CccC..CccC",
        "CCCC..CCCC..CCCC",
        ".......kk.......",
        ".......kk.......",
        "....kkkkkkkk....",
        ".....kkkkkk.....",
        "......kkkk......",
        ".......kk.......",
        ".....RRRRRR.....",
        ".....RpprrR.....",
        ".....RprrrR.....",
        ".....RrrrrR.....",
        ".....RrrrrR.....",
        ".....RRRRRR.....",
    ])


def g04_mark_one():
    c = g03_mark_all()
    for y in range(4):
        for x in list(range(0, 4)) + list(range(12, 16)):
            c.set(x, y, CLEAR)
    return c


def g05_bin():
    return glyph([
        "................",
        "......KKKK......",
        "......K..K......",
        "..KKKKKKKKKKKK..",
        "..KwSSSSSSSSgK..",
        "..KKKKKKKKKKKK..",
        "...KwsSgsSgsK...",
        "...KwsSgsSgsK...",
        "...KwsSgsSgsK...",
        "...KwsSgsSgsK...",
        "...KwsSgsSgsK...",
        "...KwsSgsSgsK...",
        "...KwsSgsSgsK...",
        "...KSsSgsSggK...",
        "....KKKKKKKK....",
        "................",
    ])


def g06_letter_box():
    # A roadside letter box with its red flag up and a letter in its mouth.
    return glyph([
        "............Krrr",
        "............KrrR",
        "............KRRR",
        "....BBBBBBBBKBB.",
        "...BaaaaaaaaKaaB",
        "ggggggbbbbbbKbbB",
        "gSwwSgbbbbbbKbbB",
        "gwSSwgbbbbbbbbbB",
        "gwwwwgbbbbbbbbbB",
        "ggggggbbbbbbbbbB",
        "...BbbbbbbbbbbbB",
        "...BBBBBBBBBBBBB",
        "........OoO.....",
        "........OoO.....",
        "........OoO.....",
        "......OOOOOOO...",
    ])


def g07_find():
    c = glyph([
        "kkkkkkkk........",
        "kwwwwwwkk.......",
        "kwggggwkwk......",
        "kwwwwwwkkkk.....",
        "kwggggggwwk.....",
        "kwwwwwwwwwk.....",
        "kwgggg..........",
        "kwwww...........",
        "kwggg...........",
        "kwwww...........",
        "kwggg...........",
        "kwwww...........",
        "kkkkk...........",
        "................",
        "................",
        "................",
    ])
    lens = Canvas(16, 16)
    cx, cy = 9.0, 9.0
    lens.fill(lambda x, y: math.hypot(x - cx, y - cy) <= 3.0, PALETTE["e"])
    lens.fill(lambda x, y: math.hypot(x - cx - 0.9, y - cy - 0.9) <= 1.6
              and math.hypot(x - cx, y - cy) <= 3.0, PALETTE["a"])
    lens.set(7, 7, PALETTE["w"])
    lens.set(8, 7, PALETTE["w"])
    lens.set(7, 8, PALETTE["w"])
    lens.outline(PALETTE["K"], diagonal=False)
    lens.outline(PALETTE["k"], diagonal=False)
    handle = Canvas(16, 16)
    handle.fill(near_segment(12.8, 12.8, 14.6, 14.6, 1.2), PALETTE["o"])
    handle.set(15, 15, PALETTE["O"])
    handle.set(14, 15, PALETTE["O"])
    handle.set(15, 14, PALETTE["O"])
    # The page's right edge runs behind the lens down to the handle.
    for y in range(6, 13):
        c.set(10, y, PALETTE["k"])
        for x in range(5, 10):
            if not c.opaque(x, y):
                c.set(x, y, PALETTE["w"])
    for x in range(0, 11):
        c.set(x, 12, PALETTE["k"])
    c.paste(handle, 0, 0)
    c.paste(lens, 0, 0)
    return c


def page(dx=0, lines=True):
    c = Canvas(16, 16)
    rows = [
        "kkkkkkkk....",
        "kwwwwwwkk...",
        "kwwwwwwkSk..",
        "kwwwwwwkSSk.",
        "kwwwwwwkkkkk",
        "kwwwwwwwwwwk",
        "kwwwwwwwwwwk",
        "kwwwwwwwwwwk",
        "kwwwwwwwwwwk",
        "kwwwwwwwwwwk",
        "kwwwwwwwwwwk",
        "kwwwwwwwwwwk",
        "kwwwwwwwwwwk",
        "kwwwwwwwwwwk",
        "kwwwwwwwwwwk",
        "kkkkkkkkkkkk",
    ]
    c.art(rows, dx, 0)
    if lines:
        for y, x0, x1 in ((3, 2, 5), (5, 2, 9), (7, 2, 9), (9, 2, 8), (11, 2, 9), (13, 2, 6)):
            for x in range(x0, x1 + 1):
                c.set(x + dx, y, PALETTE["n"])
    return c


def g08_disc():
    return disc(16, 16, 7.5, 7.5, 7.6)


def disc(w, h, cx, cy, r, unit=1.0):
    """A compact disc: silver, with rainbow glints across one diagonal, clear hub, hole.

    unit is the width of its rims in pixels (more than 1 in the large icons)."""
    c = Canvas(w, h)
    glints = [(18, 36, "a"), (36, 54, "e"), (54, 72, "u"),
              (198, 216, "a"), (216, 234, "e"), (234, 252, "u")]
    hole = r * 0.2
    hub = r * 0.45
    for y in range(h):
        for x in range(w):
            px, py = x + 0.5 - cx, y + 0.5 - cy
            d = math.hypot(px, py)
            if d > r or d <= hole:
                continue
            ang = math.degrees(math.atan2(-py, px)) % 360.0
            if d > r - unit:
                col = PALETTE["n"]
            elif d <= hole + 0.9 * unit:
                col = PALETTE["g"]
            elif d <= hub:
                col = PALETTE["w"] if d <= hub - unit else PALETTE["s"]
            else:
                col = PALETTE["S"] if 90 <= ang < 270 else PALETTE["s"]
                for a0, a1, ch in glints:
                    if a0 <= ang < a1:
                        col = PALETTE[ch]
            c.set(x, y, col)
    return c


def g09_text():
    return page(2)


def g10_new():
    c = page(0)
    c.art([
        "..DDDD..",
        "..DlGD..",
        "DDDlGDDD",
        "DllGGGGD",
        "DGGGGGGD",
        "DDDGGDDD",
        "..DGGD..",
        "..DDDD..",
    ], 8, 8)
    return c


def g11_send():
    # A tray with a green arrow rising out of it.
    return glyph([
        ".......DD.......",
        "......DlGD......",
        ".....DlGGGD.....",
        "....DlGGGGGD....",
        "...DlGGGGGGGD...",
        "..DDDDlGGDDDDD..",
        "......DlGD......",
        "......DlGD......",
        "......DlGD......",
        "KK....DlGD....KK",
        "KSK...DlGD...KgK",
        "KSsK..DDDD..KggK",
        "KSssKKKKKKKKsggK",
        "KSssssssssssssgK",
        "KsgggggggggggggK",
        "KKKKKKKKKKKKKKKK",
    ])


def g12_cross():
    c = Canvas(16, 16)
    c.fill(lambda x, y: 1.5 <= x <= 14.5 and 1.5 <= y <= 14.5
           and (abs(x - y) <= 1.6 or abs(x + y - 16) <= 1.6), PALETTE["r"])
    c.outline(PALETTE["R"], diagonal=True)
    for x, y in ((2, 3), (3, 3), (3, 4), (12, 3), (11, 4)):
        c.set(x, y, PALETTE["p"])
    return c


def g13_refresh():
    c = Canvas(16, 16)
    cx, cy, r0, r1 = 7.0, 7.5, 2.9, 5.5
    gap0, gap1 = -90.0, 0.0  # degrees, counter-clockwise from the right

    def ring(x, y):
        d = math.hypot(x - cx, y - cy)
        ang = math.degrees(math.atan2(cy - y, x - cx))
        return r0 <= d <= r1 and not (gap0 <= ang <= gap1)
    c.fill(ring, PALETTE["G"])
    # Arrowhead at the right end, pointing clockwise (down) into the gap.
    a = math.radians(gap1)
    rm = (r0 + r1) / 2
    bx, by = cx + rm * math.cos(a), cy - rm * math.sin(a)
    rx, ry = math.cos(a), -math.sin(a)          # outward
    tx, ty = math.sin(a), math.cos(a)           # clockwise tangent
    pts = [(bx + rx * 2.8, by + ry * 2.8), (bx - rx * 2.8, by - ry * 2.8),
           (bx + tx * 4.6, by + ty * 4.6)]
    c.fill(in_polygon(pts), PALETTE["G"])
    c.fill(lambda x, y: ring(x, y) and math.hypot(x - cx, y - cy) > r1 - 1.1
           and 60 <= math.degrees(math.atan2(cy - y, x - cx)) % 360 <= 200,
           PALETTE["l"])
    c.outline(PALETTE["D"])
    return c


def g14_write():
    # A hand holding a pencil over a line of handwriting.
    return glyph([
        "...........FFF..",
        "..........FfffF.",
        "......FFFFffffF.",
        ".....FfffFfffffF",
        ".....FFFFFfffffF",
        "....kFfffFffffF.",
        "...kyFFFFFfffF..",
        "..kyykFffFffF...",
        "..kyk.FFFFFF....",
        ".tyk............",
        ".tt.............",
        "k...............",
        "................",
        ".b...bb...b.b...",
        "b.b.b..b.b.b.bb.",
        "...b....b.......",
    ])


def g15_tick():
    c = Canvas(16, 16)
    c.fill(lambda x, y: near_segment(2.5, 8.5, 6.2, 12.2, 1.5)(x, y)
           or near_segment(6.2, 12.2, 13.5, 3.0, 1.5)(x, y), PALETTE["G"])
    c.fill(lambda x, y: near_segment(2.5, 8.5, 6.2, 12.2, 0.5)(x - 0.6, y + 0.6)
           and y < 11, PALETTE["l"])
    c.outline(PALETTE["D"], diagonal=True)
    return c


def octagon(x0, y0, w, h, cut):
    return in_polygon([(x0 + cut, y0), (x0 + w - cut, y0), (x0 + w, y0 + cut),
                       (x0 + w, y0 + h - cut), (x0 + w - cut, y0 + h), (x0 + cut, y0 + h),
                       (x0, y0 + h - cut), (x0, y0 + cut)])


def g16_stop():
    # The sign on a short post; a white band stands in for the lettering.
    c = Canvas(16, 16)
    c.fill(octagon(1.0, 0.0, 14, 14, 4.1), PALETTE["R"])
    c.fill(octagon(2.0, 1.0, 12, 12, 3.6), PALETTE["w"])
    c.fill(octagon(3.0, 2.0, 10, 10, 3.0), PALETTE["r"])
    for x in range(5, 11):
        c.set(x, 6, PALETTE["w"])
        c.set(x, 7, PALETTE["w"])
    for y in range(14, 16):
        c.set(7, y, PALETTE["g"])
        c.set(8, y, PALETTE["K"])
    return c


def g17_exit():
    # An open door with a figure walking out of it.
    return glyph([
        "..OOOOOOOOO..OO.",
        "..OuuuuuuuOOOoO.",
        "..OuuuuuuuOOooO.",
        "..OuuuuFFuOOooO.",
        "..OuuuuFFuOOooO.",
        "..OuuuubbuOOooO.",
        "..OuuubbbbOOooO.",
        "..OuububbubOooO.",
        "..OuuuubbuOOyoO.",
        "..OuuuubbuOOooO.",
        "..OuuuBuuBOOooO.",
        "..OuuBuuuuBOooO.",
        "..OuuBuuuuBOooO.",
        "..OuuuuuuuOOOoO.",
        "..OuuuuuuuO..OO.",
        "..OOOOOOOOO.....",
    ])


def g18_drive():
    return glyph([
        "................",
        "................",
        "................",
        "................",
        "...kkkkkkkkkkkk.",
        "..kSSSSSSSSSSkk.",
        ".kSSSSSSSSSSkgk.",
        "kkkkkkkkkkkkggk.",
        "kwwwwwwwwwwsggk.",
        "kwKKKKKKsslGsgk.",
        "kwssssssssDDsk..",
        "kgggggggggggk...",
        "kkkkkkkkkkkk....",
        "................",
        "................",
        "................",
    ])


def g19_name():
    # A red square, a yellow cross and a blue triangle beside a label.
    return glyph([
        ".RRRRR..........",
        ".RpprR..........",
        ".RprrR..........",
        ".RrrrR..kkkkkkkk",
        ".RRRRR..kuuuuuuk",
        "..YYY...kuukkuuk",
        "..YyY...kukuukuk",
        "YYYyYYY.kukuukuk",
        "YyyyyyY.kukkkkuk",
        "YYYyYYY.kukuukuk",
        "..YyY...kukuukuk",
        "..YYY...kuuuuuuk",
        "...B....kkkkkkkk",
        "..BbB...........",
        ".BbabB..........",
        "BBBBBBB.........",
    ])


def g20_folder():
    return glyph([
        "................",
        "................",
        ".YYYYY..........",
        "YuuuuuY.........",
        "YuyyyyyYYYYYYY..",
        "YuyyyyyyyyyyyyY.",
        "YYYYYYYYYYYYYYYY",
        "YuuuuuuuuuuuuuyY",
        "YuyyyyyyyyyyyyyY",
        "YuyyyyyyyyyyyyyY",
        "YuyyyyyyyyyyyyyY",
        "YuyyyyyyyyyyyyyY",
        "YyyyyyyyyyyyyyYY",
        "YYYYYYYYYYYYYYY.",
        "................",
        "................",
    ])


GLYPHS = [g00_restore, g01_globe, g02_plus_minus, g03_mark_all, g04_mark_one, g05_bin,
          g06_letter_box, g07_find, g08_disc, g09_text, g10_new, g11_send, g12_cross,
          g13_refresh, g14_write, g15_tick, g16_stop, g17_exit, g18_drive, g19_name,
          g20_folder]


# ---------------------------------------------------------------- STOP button, 32 x 33

FONT_STOP = {
    "S": [".wwww.", "ww..ww", "ww....", ".wwww.", "....ww", "ww..ww", ".wwww."],
    "T": ["wwwwww", "..ww..", "..ww..", "..ww..", "..ww..", "..ww..", "..ww.."],
    "O": [".wwww.", "ww..ww", "ww..ww", "ww..ww", "ww..ww", "ww..ww", ".wwww."],
    "P": ["wwwww.", "ww..ww", "ww..ww", "wwwww.", "ww....", "ww....", "ww...."],
}


def stop_button():
    c = Canvas(32, 33)
    c.fill(octagon(0.5, 1.0, 31, 31, 9.0), PALETTE["R"])
    c.fill(octagon(1.5, 2.0, 29, 29, 8.6), PALETTE["w"])
    c.fill(octagon(3.5, 4.0, 25, 25, 7.4), PALETTE["r"])
    # The letters carry their own spacing; with extra gaps the word outgrows the red field.
    text = "STOP"
    x = (32 - len(text) * 6) // 2
    y = 13
    for ch in text:
        c.art(FONT_STOP[ch], x, y)
        x += 6
    return c


# ---------------------------------------------------------------- application icon

# The sizes Windows asks of a program's icon: the title bar and lists (16),
# the taskbar at larger scalings (24, 48), the desktop (32, 48), Explorer's
# large views (256).
ICON_SIZES = (16, 24, 32, 48, 256)


def app_icon_16():
    # Scaled down, the label's lines and the disc's hub fall between pixels:
    # the smallest icon is drawn by hand, as the toolbar's glyphs are.
    c = glyph([
        "................",
        "....KKKKKKKKKK..",
        "...KttttttttttK.",
        "..KtttttttttooK.",
        ".KtttttttttoooK.",
        ".KtttttttttoOOK.",
        ".KOOOOOOOOOOOOK.",
        ".KoooooooooOOOK.",
        ".KowwwwwwwoOOOK.",
        ".KownnwnwwoOOOK.",
        ".KowwwwwwwoOOOK.",
        ".KoooooooooOOOK.",
        ".KoooooooooOOOK.",
        ".KoooOOOoooOOK..",
        ".KooooooooooK...",
        ".KKKKKKKKKKK....",
    ])
    c.art([
        "..KKKK..",
        ".KSSueK.",
        "KSSSueaK",
        "KSSKKssK",
        "KSSKKssK",
        "KaesSssK",
        ".KaeSsK.",
        "..KKKK..",
    ], 8, 8)
    return c


def app_icon(size=32):
    """An archive box with a disc before it, drawn on a 32-unit grid scaled to size.

    At 32 the grid is the pixel grid; the outlines stay one pixel wide up to 48
    and grow with the size above it, so the large icon keeps the small one's look."""
    if size == 16:
        return app_icon_16()
    s = size / 32.0
    k = max(1, size // 32)

    def poly(*pts):
        return in_polygon([(x * s, y * s) for x, y in pts])

    def rect(x0, y0, x1, y1):
        # Inclusive bounds on the 32 grid, as pixel centres are tested.
        return lambda x, y: x0 * s <= x <= x1 * s and y0 * s <= y <= y1 * s

    def cells(x0, y0, x1, y1):
        # The 32-grid pixels x0..x1-1, y0..y1-1 (half-open, so they tile).
        return lambda x, y: x0 * s <= x < x1 * s and y0 * s <= y < y1 * s

    c = Canvas(size, size)
    box = Canvas(size, size)
    # Archive box seen from the front and a little from above.
    box.fill(poly((2, 9), (22, 9), (28, 5), (8, 5)), PALETTE["t"])        # top of lid
    box.fill(poly((22, 9), (28, 5), (28, 25), (22, 29)), PALETTE["O"])    # side
    box.fill(rect(2, 9, 22, 29), PALETTE["o"])                            # front
    box.fill(rect(2, 9, 22, 13), PALETTE["t"])                            # lid rim
    box.fill(poly((22, 9), (28, 5), (28, 9), (22, 13)), PALETTE["o"])     # lid side
    box.fill(rect(6, 16, 18, 21), PALETTE["w"])                           # label
    box.fill(rect(10, 24, 14, 26), PALETTE["O"])                          # hand hole
    for x in range(7, 17, 1):
        if x % 3 != 0:
            box.fill(cells(x, 18, x + 1, 19), PALETTE["n"])
    box.fill(cells(7, 20, 13, 21), PALETTE["n"])
    for _ in range(k):
        box.outline(PALETTE["K"])
    box.fill(cells(2, 13, 23, 14), PALETTE["O"])
    c.paste(box, 0, 0)
    # The disc's outline must fit inside the icon: its radius gives way to it.
    half = int(16 * s)
    d = disc(half, half, 8.0 * s, 8.0 * s, 7.6 * s - (k - 1), unit=k)
    for _ in range(k):
        d.outline(PALETTE["K"])
    c.paste(d, half, half)
    return c


# ---------------------------------------------------------------- PNG

def png_bytes(cv):
    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in cv.px)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", cv.w, cv.h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def read_png(path):
    """Decodes an 8-bit RGBA, non-interlaced PNG file into rows of pixels."""
    with open(path, "rb") as f:
        return decode_png(f.read(), path)


def decode_png(data, path):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(path + ": not a PNG file")
    pos, idat, hdr = 8, b"", None
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            hdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    if hdr is None or hdr[2:] != (8, 6, 0, 0, 0):
        raise ValueError(path + ": expected an 8-bit RGBA non-interlaced PNG")
    w, h = hdr[0], hdr[1]
    raw = zlib.decompress(idat)
    stride = w * 4
    rows, prev = [], bytearray(stride)
    for y in range(h):
        ft = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if ft == 1:
                line[i] = (line[i] + a) & 255
            elif ft == 2:
                line[i] = (line[i] + b) & 255
            elif ft == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif ft == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
        rows.append([tuple(line[i:i + 4]) for i in range(0, stride, 4)])
        prev = line
    return w, h, rows


# ---------------------------------------------------------------- ICO

def dib_bytes(cv):
    """A 32-bit DIB as an icon holds it: bottom-up BGRA rows, then the AND mask
    (a set bit is a clear pixel), which Windows before XP's alpha still reads."""
    header = struct.pack("<IiiHHIIiiII", 40, cv.w, 2 * cv.h, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes(v for r, g, b, a in row for v in (b, g, r, a)) for row in reversed(cv.px))
    stride = (cv.w + 31) // 32 * 4
    mask = b""
    for row in reversed(cv.px):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colour + mask


def ico_bytes(canvases):
    """A Windows icon file: the sizes below 256 as DIBs, 256 as PNG (how Windows
    Vista and later keep their large icons; a DIB that size would be 256 kB)."""
    images = [png_bytes(cv) if cv.w >= 256 else dib_bytes(cv) for cv in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for cv, data in zip(canvases, images):
        # A width or height of 256 is written as 0.
        out += struct.pack("<BBBBHHII", cv.w % 256, cv.h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def read_ico(path):
    """Decodes every image of an icon file written by ico_bytes: [(w, h, rows)]."""
    with open(path, "rb") as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError(path + ": not an icon file")
    images = []
    for i in range(count):
        w, h, _, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w, h = w or 256, h or 256
        body = data[offset:offset + size]
        if len(body) != size:
            raise ValueError("%s: image %d is cut short" % (path, i))
        if body[:8] == b"\x89PNG\r\n\x1a\n":
            pw, ph, rows = decode_png(body, path)
            if (pw, ph) != (w, h):
                raise ValueError("%s: image %d is %dx%d, its entry says %dx%d" % (path, i, pw, ph, w, h))
        else:
            hs, bw, bh, _, bbits = struct.unpack_from("<IiiHH", body, 0)
            if (hs, bw, bh, bbits, bits) != (40, w, 2 * h, 32, 32):
                raise ValueError("%s: image %d is not a %dx%d 32-bit DIB" % (path, i, w, h))
            rows = []
            for y in range(h):
                line = body[40 + y * w * 4:40 + (y + 1) * w * 4]
                rows.insert(0, [(line[x + 2], line[x + 1], line[x], line[x + 3]) for x in range(0, w * 4, 4)])
            if body[40 + w * h * 4:] != dib_bytes(canvas_of(rows))[40 + w * h * 4:]:
                raise ValueError("%s: image %d's mask does not match its clear pixels" % (path, i))
        images.append((w, h, rows))
    return images


def canvas_of(rows):
    c = Canvas(len(rows[0]), len(rows))
    c.px = [list(r) for r in rows]
    return c


# ---------------------------------------------------------------- contact sheet

DIGITS = {
    "0": ["###", "#.#", "#.#", "#.#", "###"], "1": [".#.", "##.", ".#.", ".#.", "###"],
    "2": ["###", "..#", "###", "#..", "###"], "3": ["###", "..#", ".##", "..#", "###"],
    "4": ["#.#", "#.#", "###", "..#", "..#"], "5": ["###", "#..", "###", "..#", "###"],
    "6": ["###", "#..", "###", "#.#", "###"], "7": ["###", "..#", ".#.", ".#.", ".#."],
    "8": ["###", "#.#", "###", "#.#", "###"], "9": ["###", "#.#", "###", "..#", "###"],
    "a": ["###", "#.#", "###", "#.#", "#.#"], "p": ["###", "#.#", "###", "#..", "#.."],
    "s": ["###", "#..", "###", "..#", "###"], "t": ["###", ".#.", ".#.", ".#.", ".#."],
    "o": ["###", "#.#", "#.#", "#.#", "###"],
}


def contact_sheet(images):
    """All images enlarged on a checkerboard (so transparency shows), each under its label."""
    cell_w, cell_h, cols = 152, 160, 8
    nrows = (len(images) + cols - 1) // cols
    sheet = Canvas(cols * cell_w, nrows * cell_h)
    sheet.fill(lambda x, y: True, (255, 255, 255, 255))
    for i, (label, cv) in enumerate(images):
        ox, oy = (i % cols) * cell_w + 8, (i // cols) * cell_h + 4
        for j, ch in enumerate(label):
            for y, row in enumerate(DIGITS[ch]):
                for x, v in enumerate(row):
                    if v == "#":
                        for sy in range(3):
                            for sx in range(3):
                                sheet.set(ox + (j * 4 + x) * 3 + sx, oy + y * 3 + sy, (0, 0, 0, 255))
        oy += 20
        scale = 8 if cv.w <= 16 else 4
        for y in range(cv.h * scale):
            for x in range(cv.w * scale):
                p = cv.px[y // scale][x // scale]
                bg = 204 if ((x // 8) + (y // 8)) % 2 else 244
                a = p[3] / 255.0
                sheet.set(ox + x, oy + y,
                          tuple(int(p[k] * a + bg * (1 - a)) for k in range(3)) + (255,))
    return sheet


# ---------------------------------------------------------------- main

def outputs():
    files = [("%02d.png" % i, g()) for i, g in enumerate(GLYPHS)]
    files.append(("stop.png", stop_button()))
    files.append(("app.png", app_icon()))
    return files


def qrc_text(names):
    lines = ['<!DOCTYPE RCC><RCC version="1.0">', '<qresource prefix="/glyphs">']
    lines += ['    <file alias="%s">glyphs/%s</file>' % (n, n) for n in names]
    lines += ["</qresource>", "</RCC>", ""]
    return "\n".join(lines)


def check():
    import re
    problems = []
    with open(QRC_PATH, encoding="utf-8") as f:
        listed = re.findall(r'<file alias="([^"]+)">glyphs/([^<]+)</file>', f.read())
    for alias, name in listed:
        if alias != name:
            problems.append("alias %s names file %s" % (alias, name))
    listed_names = sorted(n for _, n in listed)
    on_disk = sorted(n for n in os.listdir(GLYPH_DIR) if not n.startswith("."))
    for n in sorted(set(on_disk) - set(listed_names)):
        problems.append("glyphs/%s is not listed in glyphs.qrc" % n)
    for n in sorted(set(listed_names) - set(on_disk)):
        problems.append("glyphs.qrc lists glyphs/%s, which does not exist" % n)
    for name, cv in outputs():
        path = os.path.join(GLYPH_DIR, name)
        if name not in listed_names or not os.path.exists(path):
            if name not in listed_names:
                problems.append("%s is drawn but not listed" % name)
            continue
        try:
            w, h, rows = read_png(path)
        except (ValueError, zlib.error, struct.error) as e:
            problems.append(str(e))
            continue
        if (w, h) != (cv.w, cv.h):
            problems.append("%s is %dx%d, expected %dx%d" % (name, w, h, cv.w, cv.h))
        elif rows != [list(r) for r in cv.px]:
            problems.append("%s differs from what make_glyphs.py draws (regenerate it)" % name)
    try:
        icon = read_ico(ICO_PATH)
    except (OSError, ValueError, zlib.error, struct.error) as e:
        problems.append(str(e))
        icon = None
    if icon is not None:
        drawn = [app_icon(n) for n in ICON_SIZES]
        if [(w, h) for w, h, _ in icon] != [(cv.w, cv.h) for cv in drawn]:
            problems.append("qvarchiwizator.ico holds %s, expected %s" % (
                [w for w, _, _ in icon], list(ICON_SIZES)))
        else:
            for (w, h, rows), cv in zip(icon, drawn):
                if rows != [list(r) for r in cv.px]:
                    problems.append("qvarchiwizator.ico's %dx%d image differs from what make_glyphs.py draws"
                                    " (regenerate it)" % (w, h))
    for p in problems:
        print("glyphs: " + p, file=sys.stderr)
    if not problems:
        print("glyphs: %d files listed and up to date, and the icon's %d sizes" % (
            len(listed_names), len(ICON_SIZES)))
    return 1 if problems else 0


def main():
    if sys.argv[1:] == ["--check"]:
        return check()
    if sys.argv[1:]:
        print(__doc__, file=sys.stderr)
        return 2
    os.makedirs(GLYPH_DIR, exist_ok=True)
    files = outputs()
    for name, cv in files:
        with open(os.path.join(GLYPH_DIR, name), "wb") as f:
            f.write(png_bytes(cv))
    with open(QRC_PATH, "w", encoding="utf-8", newline="\n") as f:
        f.write(qrc_text([n for n, _ in files]))
    os.makedirs(os.path.dirname(SHEET_PATH), exist_ok=True)
    labels = [(n.split(".")[0], cv) for n, cv in files]
    with open(SHEET_PATH, "wb") as f:
        f.write(png_bytes(contact_sheet(labels)))
    os.makedirs(os.path.dirname(ICO_PATH), exist_ok=True)
    with open(ICO_PATH, "wb") as f:
        f.write(ico_bytes([app_icon(n) for n in ICON_SIZES]))
    print("wrote %d glyphs, %s, %s and %s" % (len(files), os.path.relpath(QRC_PATH, ROOT),
                                             os.path.relpath(SHEET_PATH, ROOT), os.path.relpath(ICO_PATH, ROOT)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
