#!/usr/bin/env python3
"""Draws the diary's interface pictures into resources/ as @2x PNGs: the note-type icons, the bar
buttons, the quick-start strip's frames, the badges, the units overlay's backdrop and buttons, the
filter ticks, the list's filter and reminder buttons and its running timers' stopwatch, the tablet
panel's pictures and the small pictures of the editor and the backup screen. Flat shapes in the
diary's palette, each at twice the size in points the screens draw it at.

Plain Python (zlib only), sharing the drawing helpers of make_report_images.py:
    python3 scripts/make_images.py [resources folder]
The outputs are committed; run it again only to change the artwork.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_report_images import circle, ellipse, render, write_png  # noqa: E402

VIOLET = (140, 127, 243, 255)
DEEP_VIOLET = (96, 82, 196, 255)
WHITE = (255, 255, 255, 255)
GREY = (169, 169, 169, 255)
FRAME_GREY = (201, 203, 206, 255)
BADGE_RED = (244, 81, 96, 255)
TEXT = (64, 66, 87, 255)

# ---- shapes: inside(x, y) tests in a unit square (0..1 both ways); `draw` scales them to pixels.


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    return inside


def ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) <= width / 2


def segment(x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy or 1e-12

    def inside(x, y):
        t = min(1.0, max(0.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        return math.hypot(x - x0 - t * dx, y - y0 - t * dy) <= width / 2

    return inside


def polyline(points, width):
    return union(*[segment(*a, *b, width) for a, b in zip(points, points[1:])])


def polygon(points):
    def inside(x, y):
        hit = False
        for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                hit = not hit
        return hit

    return inside


def arc(cx, cy, r, width, start, end):
    """A ring's part from `start` to `end` degrees, clockwise from three o'clock (y grows down)."""

    def inside(x, y):
        if abs(math.hypot(x - cx, y - cy) - r) > width / 2:
            return False
        a = math.degrees(math.atan2(y - cy, x - cx)) % 360
        return (a - start) % 360 <= (end - start) % 360

    return inside


def star(cx, cy, outer, inner, points=5):
    corners = []
    for i in range(points * 2):
        r = outer if i % 2 == 0 else inner
        a = math.radians(-90 + i * 180 / points)
        corners.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return polygon(corners)


def heart(cx, cy, size):
    def inside(x, y):
        u = (x - cx) / size
        v = -(y - cy) / size + 0.15
        return (u * u + v * v - 0.5) ** 3 - u * u * v ** 3 <= 0

    return inside


def draw(folder, name, width, height, layers, samples=3):
    """Layers in unit coordinates of the square side min(width, height), centred; sizes in points."""
    pw, ph = width * 2, height * 2
    side = min(pw, ph)
    ox, oy = (pw - side) / 2, (ph - side) / 2

    def scale(shape):
        return lambda x, y: shape((x - ox) / side, (y - oy) / side)

    scaled = [(scale(shape), colour) for shape, colour in layers]
    write_png(os.path.join(folder, name + "@2x.png"), pw, ph, render(pw, ph, scaled, samples))


# ---- note-type glyphs, white on the violet disc; cut-outs in violet.

def disc():
    return [(circle(0.5, 0.5, 0.48), VIOLET)]


def glyph_breast_feeding():
    return [(heart(0.5, 0.52, 0.3), WHITE)]


def glyph_sleep():
    return [(minus(circle(0.47, 0.5, 0.25), circle(0.6, 0.4, 0.22)), WHITE),
            (star(0.66, 0.62, 0.07, 0.03), WHITE)]


def glyph_wc():  # a nappy
    return [(polygon([(0.22, 0.32), (0.78, 0.32), (0.72, 0.55), (0.58, 0.72), (0.42, 0.72), (0.28, 0.55)]), WHITE),
            (rect(0.22, 0.32, 0.78, 0.4), WHITE), (rect(0.2, 0.4, 0.8, 0.42), VIOLET)]


def glyph_walk():  # a pram
    return [(minus(circle(0.48, 0.44, 0.24), rect(0.0, 0.0, 1.0, 0.44)), WHITE),
            (minus(circle(0.48, 0.44, 0.24), union(rect(0.48, 0.0, 1.0, 1.0), rect(0.0, 0.44, 1.0, 1.0))), WHITE),
            (segment(0.72, 0.44, 0.8, 0.3, 0.05), WHITE),
            (circle(0.36, 0.74, 0.06), WHITE), (circle(0.6, 0.74, 0.06), WHITE)]


def glyph_food():  # a spoon
    return [(ellipse(0.5, 0.34, 0.1, 0.14), WHITE), (segment(0.5, 0.45, 0.5, 0.78, 0.06), WHITE)]


def glyph_drink():  # a feeding bottle
    return [(rounded_rect(0.38, 0.4, 0.62, 0.8, 0.06), WHITE), (rect(0.36, 0.34, 0.64, 0.4), WHITE),
            (ellipse(0.5, 0.3, 0.07, 0.1), WHITE),
            (segment(0.44, 0.52, 0.5, 0.52, 0.025), VIOLET), (segment(0.44, 0.62, 0.5, 0.62, 0.025), VIOLET),
            (segment(0.44, 0.72, 0.5, 0.72, 0.025), VIOLET)]


def glyph_pumping():  # a drop of milk
    return [(union(circle(0.5, 0.58, 0.17), polygon([(0.5, 0.2), (0.345, 0.52), (0.655, 0.52)])), WHITE)]


def glyph_bath():
    return [(minus(ellipse(0.5, 0.52, 0.3, 0.22), rect(0.0, 0.0, 1.0, 0.52)), WHITE),
            (rect(0.18, 0.5, 0.82, 0.54), WHITE), (segment(0.38, 0.74, 0.34, 0.8, 0.05), WHITE),
            (segment(0.62, 0.74, 0.66, 0.8, 0.05), WHITE),
            (ring(0.4, 0.36, 0.06, 0.035), WHITE), (ring(0.56, 0.28, 0.045, 0.03), WHITE),
            (ring(0.6, 0.42, 0.035, 0.03), WHITE)]


def glyph_activity():  # a ball
    return [(circle(0.5, 0.5, 0.26), WHITE), (arc(0.22, 0.5, 0.28, 0.035, 300, 60), VIOLET),
            (arc(0.78, 0.5, 0.28, 0.035, 120, 240), VIOLET)]


def glyph_mood():  # a smile
    return [(ring(0.5, 0.5, 0.25, 0.05), WHITE), (circle(0.41, 0.43, 0.035), WHITE), (circle(0.59, 0.43, 0.035), WHITE),
            (arc(0.5, 0.5, 0.14, 0.045, 20, 160), WHITE)]


def glyph_weight():  # a weight with its handle
    return [(polygon([(0.3, 0.76), (0.7, 0.76), (0.63, 0.38), (0.37, 0.38)]), WHITE), (ring(0.5, 0.3, 0.08, 0.05), WHITE),
            (segment(0.44, 0.6, 0.56, 0.6, 0.04), VIOLET)]


def glyph_height():  # a ruler
    layers = [(rect(0.38, 0.2, 0.62, 0.8), WHITE)]
    for i in range(7):
        y = 0.26 + i * 0.08
        layers.append((rect(0.38, y, 0.38 + (0.14 if i % 2 == 0 else 0.08), y + 0.025), VIOLET))
    return layers


def glyph_chest_size():  # a tape measure round the chest
    return [(ring(0.5, 0.5, 0.2, 0.05), WHITE), (segment(0.18, 0.5, 0.82, 0.5, 0.05), WHITE),
            (polygon([(0.12, 0.5), (0.22, 0.42), (0.22, 0.58)]), WHITE), (polygon([(0.88, 0.5), (0.78, 0.42), (0.78, 0.58)]), WHITE)]


def glyph_head_size():  # a head with a band round it
    return [(circle(0.5, 0.52, 0.22), WHITE), (rect(0.26, 0.42, 0.74, 0.5), VIOLET),
            (rect(0.2, 0.435, 0.8, 0.485), WHITE)]


def glyph_procedure():  # a plaster
    turn = math.radians(-40)

    def plaster(x, y):
        u = (x - 0.5) * math.cos(turn) + (y - 0.5) * math.sin(turn)
        v = -(x - 0.5) * math.sin(turn) + (y - 0.5) * math.cos(turn)
        return rounded_rect(-0.3, -0.11, 0.3, 0.11, 0.11)(u, v)

    return [(plaster, WHITE), (rounded_rect(0.42, 0.42, 0.58, 0.58, 0.03), VIOLET), (circle(0.47, 0.47, 0.018), WHITE),
            (circle(0.53, 0.53, 0.018), WHITE)]


def glyph_health():  # a cross
    return [(union(rounded_rect(0.41, 0.24, 0.59, 0.76, 0.03), rounded_rect(0.24, 0.41, 0.76, 0.59, 0.03)), WHITE)]


def glyph_temperature():  # a thermometer
    return [(rounded_rect(0.44, 0.2, 0.56, 0.66, 0.06), WHITE), (circle(0.5, 0.7, 0.1), WHITE),
            (segment(0.5, 0.36, 0.5, 0.68, 0.04), VIOLET), (circle(0.5, 0.7, 0.055), VIOLET)]


def glyph_medicine():  # a capsule, half white
    turn = math.radians(45)

    def part(x, y, half):
        u = (x - 0.5) * math.cos(turn) + (y - 0.5) * math.sin(turn)
        v = -(x - 0.5) * math.sin(turn) + (y - 0.5) * math.cos(turn)
        return rounded_rect(-0.28, -0.11, 0.28, 0.11, 0.11)(u, v) and (u < 0) == half

    return [(lambda x, y: part(x, y, True), WHITE), (lambda x, y: part(x, y, False), (216, 210, 252, 255))]


def glyph_vaccine():  # a syringe
    return [(rounded_rect(0.42, 0.3, 0.58, 0.66, 0.02), WHITE), (rect(0.36, 0.28, 0.64, 0.31), WHITE),
            (segment(0.5, 0.16, 0.5, 0.28, 0.04), WHITE), (rect(0.42, 0.15, 0.58, 0.18), WHITE),
            (segment(0.5, 0.66, 0.5, 0.84, 0.02), WHITE),
            (segment(0.42, 0.42, 0.5, 0.42, 0.02), VIOLET), (segment(0.42, 0.5, 0.5, 0.5, 0.02), VIOLET)]


def glyph_doctor():  # a doctor's bag
    return [(arc(0.5, 0.36, 0.09, 0.05, 180, 360), WHITE), (segment(0.41, 0.36, 0.41, 0.4, 0.05), WHITE),
            (segment(0.59, 0.36, 0.59, 0.4, 0.05), WHITE),
            (rounded_rect(0.24, 0.38, 0.76, 0.74, 0.05), WHITE),
            (union(rect(0.465, 0.45, 0.535, 0.67), rect(0.39, 0.525, 0.61, 0.595)), VIOLET)]


def glyph_milestone():
    return [(star(0.5, 0.52, 0.28, 0.12), WHITE)]


def glyph_pool():  # waves
    def wave(y0):
        return lambda x, y: 0.22 <= x <= 0.78 and abs(y - (y0 + 0.035 * math.sin((x - 0.22) * 4 * math.pi))) <= 0.025

    return [(wave(0.38), WHITE), (wave(0.5), WHITE), (wave(0.62), WHITE)]


def glyph_event():  # a calendar page
    layers = [(rounded_rect(0.26, 0.28, 0.74, 0.74, 0.04), WHITE), (rect(0.26, 0.38, 0.74, 0.4), VIOLET),
              (segment(0.36, 0.22, 0.36, 0.32, 0.05), WHITE), (segment(0.64, 0.22, 0.64, 0.32, 0.05), WHITE)]
    for row in range(3):
        for col in range(3):
            x, y = 0.34 + col * 0.12, 0.46 + row * 0.09
            layers.append((rect(x, y, x + 0.07, y + 0.05), VIOLET))
    return layers


def glyph_note():  # a page with lines
    layers = [(polygon([(0.3, 0.22), (0.6, 0.22), (0.7, 0.32), (0.7, 0.78), (0.3, 0.78)]), WHITE),
              (polygon([(0.6, 0.22), (0.6, 0.32), (0.7, 0.32)]), (216, 210, 252, 255))]
    for i in range(4):
        y = 0.4 + i * 0.09
        layers.append((segment(0.38, y, 0.62, y, 0.03), VIOLET))
    return layers


# Icon name: its glyph. Every note type's icon, drawn 44 points square (the largest the lists draw).
NOTE_TYPE_ICONS = {
    "icon_breast_feeding": glyph_breast_feeding, "icon_sleep": glyph_sleep, "icon_wc": glyph_wc,
    "icon_walk": glyph_walk, "icon_food": glyph_food, "icon_drink": glyph_drink, "icon_pumping": glyph_pumping,
    "icon_bath": glyph_bath, "icon_activity": glyph_activity, "icon_mood": glyph_mood, "icon_weight": glyph_weight,
    "icon_height": glyph_height, "icon_chest_size": glyph_chest_size, "icon_head_size": glyph_head_size,
    "icon_procedure": glyph_procedure, "icon_health": glyph_health, "icon_temperature": glyph_temperature,
    "icon_medicine": glyph_medicine, "icon_vaccine": glyph_vaccine, "icon_doctor": glyph_doctor,
    "icon_milestone": glyph_milestone, "icon_pool": glyph_pool, "icon_event": glyph_event, "icon_note": glyph_note,
}
ICON_SIZE = 44


def badge_dot(cx, cy, r):
    """The first-use mark: a red dot ringed in white so it stands out on any picture."""
    return [(circle(cx, cy, r + 0.03), WHITE), (circle(cx, cy, r), BADGE_RED)]


# ---- the other pictures: (name, width, height in points, layers in unit coordinates)

def hamburger(colour):
    return [(segment(0.3, y, 0.7, y, 0.06), colour) for y in (0.36, 0.5, 0.64)]


def clock():
    """A violet clock on a white disc: the same picture sits on the phone's violet bar and on the
    tablet's pale panel."""
    return [(circle(0.5, 0.5, 0.34), WHITE), (ring(0.5, 0.5, 0.22, 0.05), VIOLET),
            (polyline([(0.5, 0.38), (0.5, 0.5), (0.59, 0.56)], 0.05), VIOLET)]


def graph_bars(colour):
    return [(rect(0.22, 0.76, 0.78, 0.8), colour), (rect(0.28, 0.52, 0.38, 0.74), colour),
            (rect(0.45, 0.36, 0.55, 0.74), colour), (rect(0.62, 0.24, 0.72, 0.74), colour)]


def exclamation(cx, cy, r):
    return [(segment(cx, cy - r * 0.5, cx, cy + r * 0.12, r * 0.3), WHITE), (circle(cx, cy + r * 0.5, r * 0.16), WHITE)]


def tick(colour, width):
    return [(polyline([(0.28, 0.52), (0.44, 0.68), (0.72, 0.36)], width), colour)]


def cloud(colour):
    return [(union(circle(0.36, 0.56, 0.14), circle(0.54, 0.46, 0.19), circle(0.7, 0.6, 0.11),
                   rounded_rect(0.22, 0.56, 0.81, 0.7, 0.1)), colour)]


def camera(colour):
    return [(rounded_rect(0.26, 0.36, 0.74, 0.68, 0.05), colour), (rect(0.4, 0.31, 0.56, 0.37), colour),
            (circle(0.5, 0.52, 0.11), WHITE), (circle(0.5, 0.52, 0.07), colour)]


def funnel(colour):
    return [(polygon([(0.2, 0.24), (0.8, 0.24), (0.56, 0.52), (0.56, 0.74), (0.44, 0.8), (0.44, 0.52)]), colour)]


def crossed_out(cx, cy, r, colour):
    """A small disc with a white cross: takes off what the picture beside it puts on."""
    d = r * 0.45
    return [(circle(cx, cy, r + 0.03), WHITE), (circle(cx, cy, r), colour),
            (segment(cx - d, cy - d, cx + d, cy + d, r * 0.3), WHITE),
            (segment(cx + d, cy - d, cx - d, cy + d, r * 0.3), WHITE)]


def bell(colour):
    return [(union(circle(0.5, 0.44, 0.2), rect(0.3, 0.44, 0.7, 0.64), rounded_rect(0.22, 0.6, 0.78, 0.68, 0.03),
                   circle(0.5, 0.22, 0.05), circle(0.5, 0.73, 0.07)), colour)]


def day_line(colour):
    """A day's curve over its baseline: the graph of the day."""
    return [(rect(0.2, 0.76, 0.8, 0.8), colour),
            (polyline([(0.22, 0.64), (0.36, 0.42), (0.5, 0.56), (0.64, 0.3), (0.78, 0.46)], 0.07), colour)]


def summary_bars(colour):
    """Bars lying down, of different lengths: the totals of the summary chart."""
    return [(rect(0.22, 0.24, 0.26, 0.76), colour), (rect(0.28, 0.3, 0.74, 0.4), colour),
            (rect(0.28, 0.46, 0.56, 0.56), colour), (rect(0.28, 0.62, 0.66, 0.72), colour)]


def tooth(colour):
    return [(union(ellipse(0.4, 0.36, 0.15, 0.13), ellipse(0.6, 0.36, 0.15, 0.13), rect(0.27, 0.36, 0.73, 0.5),
                   polygon([(0.27, 0.48), (0.45, 0.48), (0.4, 0.8), (0.33, 0.8)]),
                   polygon([(0.55, 0.48), (0.73, 0.48), (0.67, 0.8), (0.6, 0.8)])), colour)]


def shield_cross(colour):
    """A shield with a cross cut out: what the baby must be kept from."""
    shield = polygon([(0.24, 0.24), (0.5, 0.18), (0.76, 0.24), (0.74, 0.52), (0.5, 0.82), (0.26, 0.52)])
    cross = union(rect(0.455, 0.32, 0.545, 0.64), rect(0.34, 0.435, 0.66, 0.525))
    return [(minus(shield, cross), colour)]


def person(colour):
    return [(union(circle(0.5, 0.36, 0.14), minus(ellipse(0.5, 0.8, 0.28, 0.26), rect(-1, 0.8, 2, 2))), colour)]


def gear(colour):
    teeth = [segment(0.5 + 0.2 * math.cos(a), 0.5 + 0.2 * math.sin(a), 0.5 + 0.3 * math.cos(a),
                     0.5 + 0.3 * math.sin(a), 0.11) for a in (i * math.pi / 4 for i in range(8))]
    return [(minus(union(circle(0.5, 0.5, 0.23), *teeth), circle(0.5, 0.5, 0.09)), colour)]


def growth_star(colour):
    return [(star(0.5, 0.52, 0.32, 0.14), colour)]


def stopwatch(colour):
    """A stopwatch with its crown and side button: the mark of a timer that is running."""
    return [(ring(0.5, 0.56, 0.29, 0.075), colour), (rounded_rect(0.42, 0.11, 0.58, 0.18, 0.02), colour),
            (segment(0.5, 0.17, 0.5, 0.27, 0.07), colour), (segment(0.72, 0.32, 0.79, 0.25, 0.07), colour),
            (segment(0.5, 0.56, 0.5, 0.38, 0.065), colour), (circle(0.5, 0.56, 0.06), colour)]


def frame_in(width, height, stroke, fill):
    """A rounded button frame filling a width x height picture, in unit coordinates of its short side."""
    w, h = max(width / height, 1.0), max(height / width, 1.0)
    s = stroke / min(width, height)
    r = 0.22
    outer = rounded_rect(0.5 - w / 2 + s / 2, 0.5 - h / 2 + s / 2, 0.5 + w / 2 - s / 2, 0.5 + h / 2 - s / 2, r)
    inner = rounded_rect(0.5 - w / 2 + 1.5 * s, 0.5 - h / 2 + 1.5 * s, 0.5 + w / 2 - 1.5 * s, 0.5 + h / 2 - 1.5 * s,
                         r - s)
    layers = [(outer, VIOLET)]
    layers.append((inner, fill))
    return layers


def pictures():
    bar = 44  # bar buttons sit in a 44-point square
    menu_w, menu_h = 40, 30  # the main screen's picture buttons
    units_w, units_h = 180, 80  # the units overlay draws its buttons at half this: 90 x 40, as the editor's
    clear = (0, 0, 0, 0)
    return [
        # The navigation bar's backdrop, stretched over the whole bar.
        ("iPhone_nav_bar", 32, 64, [(rect(-1, -1, 2, 2), VIOLET)]),
        # Bar buttons, white on the violet bar.
        ("iPhone_back_button", bar, bar, [(polyline([(0.56, 0.32), (0.38, 0.5), (0.56, 0.68)], 0.07), WHITE)]),
        ("iPhone_ok_button_white", bar, bar, tick(WHITE, 0.07)),
        ("iPhone_cancel_button", bar, bar, [(segment(0.34, 0.34, 0.66, 0.66, 0.07), WHITE),
                                            (segment(0.66, 0.34, 0.34, 0.66, 0.07), WHITE)]),
        ("iPhone_to_mainscreen_button", bar, bar,
         [(polyline([(0.28, 0.5), (0.5, 0.3), (0.72, 0.5)], 0.06), WHITE), (rect(0.34, 0.48, 0.66, 0.72), WHITE),
          (rect(0.45, 0.58, 0.55, 0.72), clear)]),
        ("iPhone_list_button", menu_w, menu_h, hamburger(WHITE)),
        ("iPhone_list_button_badge", menu_w, menu_h, hamburger(WHITE) + badge_dot(0.78, 0.26, 0.1)),
        ("iPhone_sum_button", menu_w, menu_h, clock()),
        ("iPhone_sum_button_badge", menu_w, menu_h, clock() + badge_dot(0.78, 0.26, 0.1)),
        # The tablet's growth-graph button, violet on the pale panel (32 points).
        ("iPad_icon_graphs", 32, 32, graph_bars(VIOLET)),
        ("iPad_icon_graphs_badge", 32, 32, graph_bars(VIOLET) + badge_dot(0.82, 0.18, 0.14)),
        # The pictures of the tablet panel's other entries, violet on the pale panel (32 points).
        ("iPad_icon_reminders", 32, 32, bell(VIOLET)),
        ("iPad_icon_summary_chart", 32, 32, summary_bars(VIOLET)),
        ("iPad_icon_day_graph", 32, 32, day_line(VIOLET)),
        ("iPad_icon_teeth", 32, 32, tooth(VIOLET)),
        ("iPad_icon_allergies", 32, 32, shield_cross(VIOLET)),
        ("iPad_icon_contacts", 32, 32, person(VIOLET)),
        ("iPad_icon_photos", 32, 32, camera(VIOLET)),
        ("iPad_icon_settings", 32, 32, gear(VIOLET)),
        ("iPad_icon_growth_info", 32, 32, growth_star(VIOLET)),
        # The quick-start strip: a slot's frame (drawn at 0.40 or 0.56 of its 100 points), the more slot.
        ("iPhone_mainscreen_quick_launch_icon_frame", 100, 100,
         [(minus(rounded_rect(0.01, 0.01, 0.99, 0.99, 0.25), rounded_rect(0.035, 0.035, 0.965, 0.965, 0.225)),
           FRAME_GREY)]),
        ("iPhone_more", ICON_SIZE, ICON_SIZE,
         disc() + [(union(segment(0.5, 0.3, 0.5, 0.7, 0.08), segment(0.3, 0.5, 0.7, 0.5, 0.08)), WHITE)]),
        # Badges: with its mark, drawn over an icon's corner; without, a plain dot that grows in place.
        ("iPhone_badge", bar, bar, badge_dot(0.5, 0.5, 0.19) + exclamation(0.5, 0.5, 0.19)),
        ("iPhone_badge_no_letter", bar, bar, badge_dot(0.5, 0.5, 0.44)),
        # The units overlay's backdrop and its buttons, also the editor's timer buttons.
        ("iPhone_note_back", 160, 160, None),
        ("iPhone_note_button_rounded_frame", units_w, units_h, frame_in(units_w, units_h, 2, (255, 255, 255, 40))),
        ("iPhone_note_button_rounded_frame_filled", units_w, units_h,
         frame_in(units_w, units_h, 2, (176, 166, 248, 255))),
        # The editor's photo button over the white photo frame, and the ticks of lists.
        ("edit_photo_white", 70, 70, [(rect(-1, -1, 2, 2), WHITE)] + camera(VIOLET) +
         [(circle(0.7, 0.68, 0.09), WHITE), (circle(0.7, 0.68, 0.07), VIOLET),
          (union(rect(0.685, 0.63, 0.715, 0.73), rect(0.65, 0.665, 0.75, 0.695)), WHITE)]),
        ("check_mark", 24, 24, tick(VIOLET, 0.1)),
        ("filter_check_on", 22, 22, [(circle(0.5, 0.5, 0.46), VIOLET)] + tick(WHITE, 0.08)),
        ("filter_check_off", 22, 22, [(ring(0.5, 0.5, 0.44, 0.07), GREY)]),
        ("cloud_icon", 30, 30, cloud(VIOLET)),
        # The notes list's filter and reset-filter buttons and the reminders button, violet on the
        # white above the list (38 x 30 points).
        ("iPhone_filter_button", 38, 30, funnel(VIOLET)),
        ("iPhone_filter_on_button", 38, 30, funnel(VIOLET) + crossed_out(0.7, 0.66, 0.17, BADGE_RED)),
        ("iPhone_reminder_button", 38, 30, bell(VIOLET)),
        # A running timer's row in the notes list, violet on the white row (30 points).
        ("stopwatch_icon", 30, 30, stopwatch(VIOLET)),
    ]


def draw_note_back(folder, name, size):
    """A diagonal fade from the diary's violet to a deeper one, behind white texts."""
    px = size * 2
    out = bytearray(px * px * 4)
    for y in range(px):
        for x in range(px):
            t = (x + y) / (2.0 * (px - 1))
            i = (y * px + x) * 4
            for c in range(3):
                out[i + c] = round(VIOLET[c] + (DEEP_VIOLET[c] - VIOLET[c]) * t)
            out[i + 3] = 255
    write_png(os.path.join(folder, name + "@2x.png"), px, px, out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources")
    os.makedirs(folder, exist_ok=True)
    for name, glyph in NOTE_TYPE_ICONS.items():
        draw(folder, name, ICON_SIZE, ICON_SIZE, disc() + glyph())
    draw(folder, "icon_weight_badge", ICON_SIZE, ICON_SIZE, disc() + glyph_weight() + badge_dot(0.84, 0.16, 0.13))
    for name, width, height, layers in pictures():
        if layers is None:
            draw_note_back(folder, name, width)
        else:
            draw(folder, name, width, height, layers)


if __name__ == "__main__":
    main()
