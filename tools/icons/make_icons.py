#!/usr/bin/env python3
"""Draws the toolbar's button strip and the page tabs' icons as 16 x 16 PNG files, and the
busy logo's 24 frames (a turning tessellated cube) as 46 x 46 PNG files.

    make_icons.py <output folder>

The images are ours: simple shapes on a transparent ground, written with the standard
library only (zlib for the PNG stream)."""
import math
import os
import struct
import sys
import zlib

N = 16


class Icon:
    def __init__(self, size=N, ground=(0, 0, 0, 0)):
        self.n = size
        self.px = [[ground] * size for _ in range(size)]

    def dot(self, x, y, c):
        x, y = int(round(x)), int(round(y))
        if 0 <= x < self.n and 0 <= y < self.n:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.dot(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.dot(x, y0, c)
            self.dot(x, y1, c)
        for y in range(y0, y1 + 1):
            self.dot(x0, y, c)
            self.dot(x1, y, c)

    def line(self, x0, y0, x1, y1, c):
        steps = int(max(abs(x1 - x0), abs(y1 - y0))) * 2 + 1
        for i in range(steps + 1):
            t = i / steps
            self.dot(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, c)

    def disc(self, cx, cy, r, c):
        for y in range(self.n):
            for x in range(self.n):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.dot(x, y, c)

    def ring(self, cx, cy, r, c):
        for i in range(64):
            a = 2 * math.pi * i / 64
            self.dot(cx + r * math.cos(a), cy + r * math.sin(a), c)

    def poly(self, pts, c):
        ys = [p[1] for p in pts]
        for y in range(int(min(ys)), int(max(ys)) + 1):
            xs = []
            for i in range(len(pts)):
                (xa, ya), (xb, yb) = pts[i], pts[(i + 1) % len(pts)]
                if (ya <= y < yb) or (yb <= y < ya):
                    xs.append(xa + (y - ya) * (xb - xa) / (yb - ya))
            xs.sort()
            for j in range(0, len(xs) - 1, 2):
                for x in range(int(math.ceil(xs[j])), int(math.floor(xs[j + 1])) + 1):
                    self.dot(x, y, c)

    def png(self, path):
        raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in self.px)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.n, self.n, 8, 6, 0, 0, 0))
        data += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
        with open(path, "wb") as f:
            f.write(data)


BLACK = (0, 0, 0, 255)
BLUE = (30, 80, 190, 255)
GREEN = (30, 150, 60, 255)
RED = (200, 40, 30, 255)
YELLOW = (240, 200, 40, 255)
GREY = (120, 120, 120, 255)
WHITE = (255, 255, 255, 255)
SKIN = (230, 180, 140, 255)


def arrow_left(c):
    i = Icon()
    i.poly([(2, 8), (8, 2), (8, 5), (14, 5), (14, 11), (8, 11), (8, 14)], c)
    return i


def arrow_right(c):
    i = Icon()
    i.poly([(14, 8), (8, 2), (8, 5), (2, 5), (2, 11), (8, 11), (8, 14)], c)
    return i


def look(direction):
    i = Icon()
    i.ring(8, 8, 6, GREY)
    i.disc(8, 8 + 3 * direction, 2, BLACK)
    if direction == 0:
        i.line(1, 8, 15, 8, BLUE)
    else:
        tip = 1 if direction < 0 else 14
        i.line(8, 8, 8, tip, BLUE)
        i.line(5, tip - 3 * direction, 8, tip, BLUE)
        i.line(11, tip - 3 * direction, 8, tip, BLUE)
    return i


def eye():
    i = Icon()
    i.poly([(1, 8), (5, 4), (11, 4), (15, 8), (11, 12), (5, 12)], WHITE)
    i.line(1, 8, 5, 4, BLACK), i.line(5, 4, 11, 4, BLACK), i.line(11, 4, 15, 8, BLACK)
    i.line(1, 8, 5, 12, BLACK), i.line(5, 12, 11, 12, BLACK), i.line(11, 12, 15, 8, BLACK)
    i.disc(8, 8, 2.5, BLUE)
    i.dot(8, 8, BLACK)
    return i


def figure():
    i = Icon()
    i.disc(8, 3, 2, SKIN)
    i.rect(6, 6, 10, 10, GREEN)
    i.line(6, 6, 3, 10, GREEN), i.line(10, 6, 13, 10, GREEN)
    i.line(7, 11, 6, 15, BLUE), i.line(9, 11, 10, 15, BLUE)
    return i


def mover():
    i = Icon()
    i.line(8, 1, 8, 15, BLACK), i.line(1, 8, 15, 8, BLACK)
    for (a, b, c, d) in ((8, 1, 5, 4), (8, 1, 11, 4), (8, 15, 5, 12), (8, 15, 11, 12),
                         (1, 8, 4, 5), (1, 8, 4, 11), (15, 8, 12, 5), (15, 8, 12, 11)):
        i.line(a, b, c, d, BLACK)
    return i


def stop():
    i = Icon()
    i.poly([(5, 1), (11, 1), (15, 5), (15, 11), (11, 15), (5, 15), (1, 11), (1, 5)], RED)
    i.line(5, 5, 11, 11, WHITE), i.line(11, 5, 5, 11, WHITE)
    return i


def refresh():
    i = Icon()
    for k in range(40):
        a = math.pi * 0.3 + 1.6 * math.pi * k / 40
        i.dot(8 + 5.5 * math.cos(a), 8 + 5.5 * math.sin(a), GREEN)
        i.dot(8 + 4.5 * math.cos(a), 8 + 4.5 * math.sin(a), GREEN)
    i.poly([(10, 1), (15, 4), (10, 7)], GREEN)
    return i


def turned(pts, quarter):
    """The points turned by quarter turns clockwise about the icon's centre."""
    for _ in range(quarter % 4):
        pts = [(15 - y, x) for (x, y) in pts]
    return pts


# The builder's commands: what happens to the selected object (a block).
ORANGE = (230, 120, 20, 255)


def block(i, x0, y0, x1, y1):
    i.rect(x0, y0, x1, y1, (150, 170, 200, 255))
    i.frame(x0, y0, x1, y1, BLACK)


def delete():
    i = Icon()
    block(i, 3, 4, 12, 13)
    for d in (0, 1):
        i.line(2 + d, 2, 13 + d, 14, RED), i.line(13 + d, 2, 2 + d, 14, RED)
    return i


def duplicate():
    i = Icon()
    block(i, 1, 1, 9, 9)
    block(i, 6, 6, 14, 14)
    return i


def push(quarter):
    """An arrow (up when quarter is 0) that moves the object over the ground."""
    i = Icon()
    i.poly(turned([(8, 1), (14, 7), (10, 7), (10, 14), (6, 14), (6, 7), (2, 7)], quarter), ORANGE)
    return i


def lift(up):
    """The block over the ground, with an arrow up or down beside it."""
    i = Icon()
    i.line(0, 15, 15, 15, GREEN)
    top = 2 if up else 8
    block(i, 0, top, 6, top + 5)
    arrow = [(11, 0), (15, 4), (12, 4), (12, 13), (10, 13), (10, 4), (7, 4)]
    i.poly(arrow if up else [(x, 13 - y) for (x, y) in arrow], ORANGE)
    return i


def turn(left):
    """The block with a turning arrow round it, its head where the block turns to."""
    i = Icon()
    block(i, 6, 6, 9, 9)
    side = (lambda x: 15 - x) if left else (lambda x: x)
    for k in range(40):
        a = math.pi * 0.3 + 1.6 * math.pi * k / 40
        for r in (4.5, 5.5):
            i.dot(side(8 + r * math.cos(a)), 8 + r * math.sin(a), BLUE)
    i.poly([(side(x), y) for (x, y) in [(10, 1), (15, 4), (10, 7)]], BLUE)
    return i


def blank_square(c):
    i = Icon()
    i.frame(3, 3, 12, 12, c)
    return i


def globe():
    i = Icon()
    i.disc(8, 8, 6.5, BLUE)
    i.poly([(4, 5), (8, 3), (9, 7), (6, 10), (4, 8)], GREEN)
    i.poly([(10, 9), (13, 8), (12, 12), (10, 12)], GREEN)
    return i


def people():
    i = Icon()
    i.disc(5, 5, 2.2, SKIN), i.rect(3, 8, 7, 14, BLUE)
    i.disc(11, 4, 2.2, SKIN), i.rect(9, 7, 13, 13, GREEN)
    return i


def envelope():
    i = Icon()
    i.rect(1, 4, 14, 12, WHITE)
    i.frame(1, 4, 14, 12, BLACK)
    i.line(1, 4, 7.5, 9, BLACK), i.line(14, 4, 7.5, 9, BLACK)
    return i


def flag():
    i = Icon()
    i.line(3, 1, 3, 15, BLACK)
    i.poly([(4, 2), (13, 5), (4, 8)], RED)
    return i


def question():
    i = Icon()
    i.disc(8, 8, 7, YELLOW)
    i.ring(8, 6, 2.5, BLACK)
    i.rect(5, 6, 7, 8, YELLOW)
    i.line(8, 8.5, 8, 10, BLACK)
    i.dot(8, 12, BLACK)
    return i


LOGO_SIZE = 46
LOGO_FRAMES = 24


def logo(frame):
    """A cube of triangles making one whole turn over the frames, lit from the upper left."""
    i = Icon(LOGO_SIZE, (212, 208, 200, 255))
    turn = 2 * math.pi * frame / LOGO_FRAMES
    tilt = 0.45
    verts = [(x, y, z) for x in (-1, 1) for y in (-1, 1) for z in (-1, 1)]

    def project(v):
        x, y, z = v
        x, z = x * math.cos(turn) - z * math.sin(turn), x * math.sin(turn) + z * math.cos(turn)
        y, z = y * math.cos(tilt) - z * math.sin(tilt), y * math.sin(tilt) + z * math.cos(tilt)
        return (x, y, z)

    p = [project(v) for v in verts]
    # Each face as two triangles; vertex index bits are x, y, z.
    faces = [(0, 1, 3, 2), (4, 6, 7, 5), (0, 4, 5, 1), (2, 3, 7, 6), (0, 2, 6, 4), (1, 5, 7, 3)]
    colours = [(30, 80, 190), (30, 150, 60), (200, 40, 30), (240, 200, 40), (120, 60, 170), (20, 160, 170)]
    light = (-0.4, -0.6, -0.7)
    tris = []
    for f, base in zip(faces, colours):
        a, b, c, d = (p[k] for k in f)
        ux, uy, uz = b[0] - a[0], b[1] - a[1], b[2] - a[2]
        vx, vy, vz = d[0] - a[0], d[1] - a[1], d[2] - a[2]
        nx, ny, nz = uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx
        length = math.sqrt(nx * nx + ny * ny + nz * nz) or 1
        nx, ny, nz = nx / length, ny / length, nz / length
        if nz >= 0:
            continue  # facing away
        shade = 0.45 + 0.55 * max(0.0, nx * light[0] + ny * light[1] + nz * light[2])
        for t, tri in enumerate(((a, b, c), (a, c, d))):
            k = shade * (1.0 if t == 0 else 0.85)
            col = tuple(min(255, int(v * k)) for v in base) + (255,)
            tris.append((sum(q[2] for q in tri) / 3, tri, col))
    scale, centre = 11.5, (LOGO_SIZE - 1) / 2
    for _, tri, col in sorted(tris, key=lambda t: -t[0]):
        pts = [(centre + scale * q[0], centre + scale * q[1]) for q in tri]
        i.poly(pts, col)
        for k in range(3):
            (xa, ya), (xb, yb) = pts[k], pts[(k + 1) % 3]
            i.line(xa, ya, xb, yb, (40, 40, 40, 255))
    return i


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    # The toolbar's strip: image index -> drawing; 2-11 are the object dialog's builder buttons.
    strip = {0: arrow_left(BLUE), 1: arrow_right(BLUE), 2: delete(), 3: duplicate(), 4: push(0),
             5: push(2), 6: push(3), 7: push(1), 8: lift(True), 9: lift(False), 10: turn(True),
             11: turn(False), 12: mover(), 13: look(-1), 14: look(1),
             15: eye(), 16: figure(), 17: look(0), 18: arrow_left(GREEN), 19: arrow_right(GREEN),
             20: stop(), 21: refresh()}
    for n in range(22):
        strip.get(n, blank_square(GREY)).png(os.path.join(out, "button%02d.png" % n))
    for n, icon in enumerate((globe(), people(), envelope(), flag(), question())):
        icon.png(os.path.join(out, "tab%d.png" % n))
    for n in range(LOGO_FRAMES):
        logo(n).png(os.path.join(out, "logo%02d.png" % n))


if __name__ == "__main__":
    main()
