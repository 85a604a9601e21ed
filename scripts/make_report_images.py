#!/usr/bin/env python3
"""Draws the pictures the PDF report uses into resources/: the ten tooth shapes of the tooth chart
(the left-hand teeth; the right-hand ones are drawn mirrored) and the default baby pictures
"babyBoy" and "babyGirl". Only the alpha of a tooth counts (the report fills each shape with the
colour of the tooth's state), so teeth are drawn white on transparent.

Plain Python (zlib only), so it runs wherever the project builds:
    python3 scripts/make_report_images.py [resources folder]
The outputs are committed; run it again only to change the artwork.
"""
import math
import os
import struct
import sys
import zlib


def write_png(path, width, height, rgba):
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        raw.extend(rgba[y * width * 4:(y + 1) * width * 4])

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(png)
    os.replace(tmp, path)


def render(width, height, layers, samples=3):
    """layers: list of (inside(x, y) -> bool in pixel units, (r, g, b, a)), painted in order."""
    out = bytearray(width * height * 4)
    step = 1.0 / samples
    offsets = [(i + 0.5) * step for i in range(samples)]
    n = samples * samples
    for y in range(height):
        for x in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for oy in offsets:
                for ox in offsets:
                    px, py = x + ox, y + oy
                    colour = None
                    for inside, c in layers:
                        if inside(px, py):
                            colour = c
                    if colour:
                        a = colour[3] / 255.0
                        acc[0] += colour[0] * a
                        acc[1] += colour[1] * a
                        acc[2] += colour[2] * a
                        acc[3] += a
            i = (y * width + x) * 4
            if acc[3] > 0:
                out[i] = min(255, round(acc[0] / acc[3]))
                out[i + 1] = min(255, round(acc[1] / acc[3]))
                out[i + 2] = min(255, round(acc[2] / acc[3]))
                out[i + 3] = min(255, round(acc[3] / n * 255))
    return out


def superellipse(cx, cy, rx, ry, power, angle=0.0, taper=0.0):
    """A rounded shape; `taper` narrows it toward the top (positive) or bottom (negative)."""
    ca, sa = math.cos(angle), math.sin(angle)

    def inside(x, y):
        dx, dy = x - cx, y - cy
        u = dx * ca + dy * sa
        v = -dx * sa + dy * ca
        t = v / ry
        width = rx * (1.0 + taper * t)
        if width <= 0:
            return False
        return abs(u / width) ** power + abs(t) ** power <= 1.0

    return inside


# Tooth shapes at two pixels a point; the report draws each at half its size in points.
# name: (draw width, draw height in points, power, tilt in degrees, taper)
TEETH = {
    "tooth_left_up1": (34, 30, 3.0, -8, 0.15),
    "tooth_left_up2": (28, 28, 2.6, -25, 0.2),
    "tooth_left_up3": (26, 30, 2.0, -40, 0.35),
    "tooth_left_up4": (38, 36, 3.2, -60, 0.0),
    "tooth_left_up5": (42, 40, 3.6, -80, 0.0),
    "tooth_left_down1": (42, 40, 3.6, 80, 0.0),
    "tooth_left_down2": (38, 34, 3.2, 60, 0.0),
    "tooth_left_down3": (26, 30, 2.0, 40, -0.35),
    "tooth_left_down4": (24, 28, 2.6, 25, -0.2),
    "tooth_left_down5": (24, 28, 3.0, 8, -0.15),
}


def draw_tooth(folder, name, shape):
    w, h, power, tilt, taper = shape
    # Image size in pixels at scale 2: twice the drawn size in points, two pixels a point.
    pw, ph = w * 4, h * 4
    cx, cy = pw / 2, ph / 2
    angle = math.radians(tilt)
    shape = superellipse(cx, cy, pw * 0.42, ph * 0.42, power, angle, taper)
    write_png(os.path.join(folder, name + "@2x.png"), pw, ph, render(pw, ph, [(shape, (255, 255, 255, 255))]))


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ellipse(cx, cy, rx, ry):
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def draw_baby(folder, name, background, accent, bow):
    size = 240 * 2  # 240 points at scale 2: the title page's circle
    s = size / 240.0
    skin = (255, 224, 196, 255)
    layers = [
        (lambda x, y: True, background),
        (ellipse(120 * s, 250 * s, 95 * s, 70 * s), accent),                  # shoulders
        (circle(120 * s, 118 * s, 72 * s), skin),                              # face
        (circle(50 * s, 118 * s, 14 * s), skin),                               # ears
        (circle(190 * s, 118 * s, 14 * s), skin),
        (ellipse(120 * s, 56 * s, 30 * s, 12 * s), (120, 84, 60, 255)),         # curl of hair
        (circle(95 * s, 112 * s, 7 * s), (64, 66, 87, 255)),                   # eyes
        (circle(145 * s, 112 * s, 7 * s), (64, 66, 87, 255)),
        (ellipse(82 * s, 140 * s, 12 * s, 7 * s), (255, 182, 170, 255)),        # cheeks
        (ellipse(158 * s, 140 * s, 12 * s, 7 * s), (255, 182, 170, 255)),
        (lambda x, y: ((x - 120 * s) / (20 * s)) ** 2 + ((y - 150 * s) / (12 * s)) ** 2 <= 1.0
         and y > 150 * s, (190, 90, 90, 255)),                                  # smile
    ]
    if bow:
        layers += [(ellipse(150 * s, 52 * s, 18 * s, 12 * s), accent), (ellipse(186 * s, 52 * s, 18 * s, 12 * s), accent),
                   (circle(168 * s, 52 * s, 8 * s), accent)]
    write_png(os.path.join(folder, name + "@2x.png"), size, size, render(size, size, layers, samples=2))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources")
    os.makedirs(folder, exist_ok=True)
    for name, shape in TEETH.items():
        draw_tooth(folder, name, shape)
    draw_baby(folder, "babyBoy", (200, 222, 250, 255), (120, 160, 230, 255), bow=False)
    draw_baby(folder, "babyGirl", (250, 214, 232, 255), (230, 120, 170, 255), bow=True)


if __name__ == "__main__":
    main()
