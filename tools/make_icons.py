#!/usr/bin/env python3
"""Draws the program's 16 x 16 tool-bar icons into res/, and its application
icon into res/icons/: PNGs of 48, 64, 128 and 256 pixels and an SVG drawn from
the same shapes.

Standard library only. Each icon is a list of filled shapes, rendered with
4 x 4 supersampling into an 8-bit RGBA image with straight alpha, written as
a PNG. Run from anywhere: python3 tools/make_icons.py
"""
import math
import os
import struct
import zlib

SIZE = 16
SUB = 4


def png(path, pixels):
    raw = b"".join(b"\x00" + bytes(sum((list(p) for p in row), [])) for row in pixels)
    size = len(pixels)

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# Shapes: functions (x, y) -> bool in pixel coordinates, y down.
def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 < r * r


def ring(cx, cy, r0, r1):
    return lambda x, y: r0 * r0 <= (x - cx) ** 2 + (y - cy) ** 2 < r1 * r1


def polygon(*pts):
    def inside(x, y):
        hit = False
        for k in range(len(pts)):
            (ax, ay), (bx, by) = pts[k], pts[(k + 1) % len(pts)]
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                hit = not hit
        return hit
    return inside


def segment(ax, ay, bx, by, w):
    def near(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) < w / 2
    return near


def render(layers, size=SIZE, units=SIZE):
    """layers: list of (shape, (r, g, b, a)); later layers paint over earlier.
    Shapes are drawn in a square of `units`, the image has `size` pixels."""
    scale = units / size
    img = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(SUB):
                for sx in range(SUB):
                    x, y = (px + (sx + 0.5) / SUB) * scale, (py + (sy + 0.5) / SUB) * scale
                    c = [0.0, 0.0, 0.0, 0.0]
                    for shape, (r, g, b, a) in layers:
                        if shape(x, y):
                            fa = a / 255.0
                            c = [r * fa + c[0] * (1 - fa), g * fa + c[1] * (1 - fa),
                                 b * fa + c[2] * (1 - fa), fa + c[3] * (1 - fa)]
                    for k in range(4):
                        acc[k] += c[k]
            n = SUB * SUB
            alpha = acc[3] / n
            if alpha <= 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(acc[k] / n / alpha)) for k in range(3))
                           + (int(round(alpha * 255)),))
        img.append(row)
    return img


DARK = (40, 40, 40, 255)
ICONS = {
    "open.png": [(polygon((1, 4), (6, 4), (7.5, 5.5), (14, 5.5), (14, 13), (1, 13)), (200, 150, 40, 255)),
                 (polygon((3, 7.5), (15.5, 7.5), (13.5, 13), (1, 13)), (245, 200, 80, 255))],
    "save.png": [(rect(1.5, 1.5, 14.5, 14.5), (50, 80, 160, 255)),
                 (rect(4, 1.5, 12, 6.5), (235, 235, 235, 255)),
                 (rect(9, 2.5, 11, 5.5), (50, 80, 160, 255)),
                 (rect(3.5, 9, 12.5, 14.5), (250, 250, 250, 255))],
    "about.png": [(circle(8, 8, 7.2), (40, 100, 200, 255)),
                  (circle(8, 4.5, 1.3), (255, 255, 255, 255)),
                  (rect(6.9, 7, 9.1, 12.5), (255, 255, 255, 255))],
    "qt-logo.png": [(polygon((3, 1), (15, 1), (15, 12), (12, 15), (1, 15), (1, 3)), (65, 205, 82, 255)),
                    (ring(7.5, 7.5, 2.3, 4.2), (255, 255, 255, 255)),
                    (segment(9, 9, 12.5, 12.5, 1.8), (255, 255, 255, 255))],
    "start.png": [(polygon((3.5, 2), (13.5, 8), (3.5, 14)), (40, 170, 60, 255))],
    "stop.png": [(rect(3, 3, 13, 13), (210, 40, 40, 255))],
    "pause.png": [(rect(3.5, 2.5, 7, 13.5), (40, 100, 200, 255)),
                  (rect(9, 2.5, 12.5, 13.5), (40, 100, 200, 255))],
    "revert.png": [(polygon((12.5, 2), (2.5, 8), (12.5, 14)), (230, 140, 30, 255))],
    "swap.png": [(segment(2, 5, 12, 5, 1.8), DARK),
                 (polygon((10, 1.5), (14.5, 5), (10, 8.5)), DARK),
                 (segment(4, 11, 14, 11, 1.8), (40, 100, 200, 255)),
                 (polygon((6, 7.5), (1.5, 11), (6, 14.5)), (40, 100, 200, 255))],
    "image.png": [(rect(1, 2.5, 15, 13.5), (90, 90, 90, 255)),
                  (rect(2, 3.5, 14, 12.5), (170, 215, 250, 255)),
                  (circle(11, 6, 1.6), (250, 210, 40, 255)),
                  (polygon((2, 12.5), (6.5, 6.5), (10, 12.5)), (60, 150, 60, 255)),
                  (polygon((7, 12.5), (10, 9), (14, 12.5)), (40, 120, 40, 255))],
    "smoke.png": [(circle(5.5, 10, 4), (150, 150, 150, 220)),
                  (circle(10, 9, 4.5), (185, 185, 185, 220)),
                  (circle(8, 5, 3.5), (215, 215, 215, 220))],
    "velocity.png": [(segment(2, 13, 10, 5, 1.6), DARK),
                     (polygon((13.5, 1.5), (12, 8), (7, 3)), DARK),
                     (segment(2, 7, 5.5, 3.5, 1.2), (110, 110, 110, 255)),
                     (segment(8, 14, 11.5, 10.5, 1.2), (110, 110, 110, 255))],
}


# The application icon, in a square of 64 units: smoke puffs gathering into an
# S on a night-blue tile, loose puffs still on their way. Rounded rectangles
# and circles only, so that the SVG draws exactly these shapes.
APP_UNITS = 64
APP_ID = "org.velloran.Velloran"
APP_SHAPES = (
    [("rrect", 4, 4, 60, 60, 11, (28, 44, 84, 255))]
    + [("circle", x, y, r, (255, 255, 255, a)) for x, y, r, a in (
        (15, 51, 5.5, 70), (51, 51, 4.5, 60), (15, 14, 4.5, 60), (51, 26, 3.5, 55))]
    + [("circle", x, y, 4.6, (235, 240, 250, 215)) for x, y in (
        (41, 17), (36, 14), (30, 14), (25, 17), (24, 22), (28, 27), (34, 31),
        (39, 35), (41, 41), (38, 47), (32, 50), (26, 49), (22, 46))])


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 < r * r
    return inside


def app_layers():
    layers = []
    for kind, *args, colour in APP_SHAPES:
        layers.append((rounded_rect(*args) if kind == "rrect" else circle(*args), colour))
    return layers


def app_svg():
    def fill(colour):
        r, g, b, a = colour
        opacity = "" if a == 255 else f' fill-opacity="{a / 255:.3f}"'
        return f'fill="#{r:02x}{g:02x}{b:02x}"{opacity}'
    lines = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{APP_UNITS}" height="{APP_UNITS}" '
             f'viewBox="0 0 {APP_UNITS} {APP_UNITS}">']
    for kind, *args, colour in APP_SHAPES:
        if kind == "rrect":
            x0, y0, x1, y1, r = args
            lines.append(f'  <rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" '
                         f'rx="{r}" {fill(colour)}/>')
        else:
            cx, cy, r = args
            lines.append(f'  <circle cx="{cx}" cy="{cy}" r="{r}" {fill(colour)}/>')
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res")
    for name, layers in ICONS.items():
        png(os.path.join(out, name), render(layers))
    icons = os.path.join(out, "icons")
    os.makedirs(icons, exist_ok=True)
    for size in (48, 64, 128, 256):
        png(os.path.join(icons, f"{APP_ID}-{size}.png"), render(app_layers(), size, APP_UNITS))
    with open(os.path.join(icons, f"{APP_ID}.svg"), "w") as f:
        f.write(app_svg())


if __name__ == "__main__":
    main()
