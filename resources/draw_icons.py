#!/usr/bin/env python3
"""Draws Kelvora's pictures: the application and tray icon, its "recording"
variant (the same picture with a red dot) and the menu's image strip.

    draw_icons.py OUTPUT_DIR

writes kelvora.ico, kelvora_recording.ico (nine pictures each: 16, 32 and 48
pixels at 4, 8 and 32 bits per pixel, and 32 pixels at 24 bits) and
menu_images.bmp (a 32-bit strip of 16x16 pictures: 0 the application,
1 About, 2 Record, 3 Stop, 4 Settings). Shapes are described in a unit square,
snapped to the pixel grid of each size and antialiased by 4x4 supersampling.
Standard library only; the output depends on nothing but this file.
"""
import math
import os
import struct
import sys

SS = 4  # supersampling per axis


def hexrgb(h):
    return ((h >> 16) & 255, (h >> 8) & 255, h & 255)


SLATE = hexrgb(0x37474F)
SCREEN_TOP = hexrgb(0x4FC3F7)
SCREEN_BOTTOM = hexrgb(0x0277BD)
WHITE = (255, 255, 255)
RED = hexrgb(0xE53935)
DARK_RED = hexrgb(0xB71C1C)
BLUE = hexrgb(0x1E88E5)
GREY = hexrgb(0x607D8B)
STOP_GREY = hexrgb(0x455A64)


def in_round_rect(x, y, l, t, r, b, rad):
    if x < l or x >= r or y < t or y >= b:
        return False
    cx = min(max(x, l + rad), r - rad)
    cy = min(max(y, t + rad), b - rad)
    return (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad


def render(size, scene):
    """RGBA rows (top first) of `scene(x, y, snap)` -> (r, g, b, a) or None."""
    def snap(v):
        return round(v * size) / size

    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    x = (px + (sx + 0.5) / SS) / size
                    y = (py + (sy + 0.5) / SS) / size
                    c = scene(x, y, snap, size)
                    if c is not None:
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
                        acc[3] += 1
            n = acc[3]
            if n == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(acc[0] / n), round(acc[1] / n), round(acc[2] / n),
                            round(255 * n / (SS * SS))))
        rows.append(row)
    return rows


def app_scene(recording):
    def scene(x, y, snap, size):
        px = 1.0 / size
        colour = None
        # Monitor body, stand and foot.
        if in_round_rect(x, y, snap(0.0), snap(0.06), snap(1.0), snap(0.78), max(px, 0.08)):
            colour = SLATE
        if in_round_rect(x, y, snap(0.40), snap(0.76), snap(0.60), snap(0.90), 0):
            colour = SLATE
        if in_round_rect(x, y, snap(0.22), snap(0.87), snap(0.78), snap(0.97), px):
            colour = SLATE
        # Screen with a vertical gradient.
        sl, st, sr, sb = snap(0.08), snap(0.13), snap(0.92), snap(0.71)
        if in_round_rect(x, y, sl, st, sr, sb, 0):
            f = (y - st) / (sb - st)
            colour = tuple(round(a + (b - a) * f) for a, b in zip(SCREEN_TOP, SCREEN_BOTTOM))
        # A viewfinder: four white corners of the captured area.
        th = max(px, snap(0.07))
        arm = snap(0.17)
        fl, ft, fr, fb = snap(0.22), snap(0.24), snap(0.78), snap(0.62)
        for cx, dx in ((fl, 1), (fr, -1)):
            for cy, dy in ((ft, 1), (fb, -1)):
                xl, xr = (cx, cx + arm) if dx > 0 else (cx - arm, cx)
                yt, yb = (cy, cy + arm) if dy > 0 else (cy - arm, cy)
                hx = (cx, cx + th) if dx > 0 else (cx - th, cx)
                hy = (cy, cy + th) if dy > 0 else (cy - th, cy)
                if (xl <= x < xr and hy[0] <= y < hy[1]) or (hx[0] <= x < hx[1] and yt <= y < yb):
                    colour = WHITE
        if recording:
            d = math.hypot(x - 0.76, y - 0.74)
            if d <= 0.25:
                colour = WHITE
            if d <= 0.25 - max(px, 0.05):
                colour = RED
        return colour
    return scene


def about_scene(x, y, snap, size):
    d = math.hypot(x - 0.5, y - 0.5)
    if d > 0.47:
        return None
    px = 1.0 / size
    # The letter i: a dot and a bar, two pixels wide at 16.
    if snap(0.44) <= x < snap(0.57) and (snap(0.19) <= y < snap(0.31) or
                                         snap(0.38) <= y < snap(0.78)):
        return WHITE
    return BLUE if d <= 0.47 - px else hexrgb(0x1565C0)


def record_scene(x, y, snap, size):
    d = math.hypot(x - 0.5, y - 0.5)
    if d > 0.42:
        return None
    return RED if d <= 0.42 - 1.0 / size else DARK_RED


def stop_scene(x, y, snap, size):
    if in_round_rect(x, y, snap(0.16), snap(0.16), snap(0.84), snap(0.84), 1.5 / size):
        return STOP_GREY
    return None


def settings_scene(x, y, snap, size):
    dx, dy = x - 0.5, y - 0.5
    r = math.hypot(dx, dy)
    if r < 0.14:
        return None
    if r <= 0.33:
        return GREY
    if r <= 0.48:
        a = (math.atan2(dy, dx) + math.pi / 8) % (math.pi / 4)
        if abs(a - math.pi / 8) <= math.pi / 15:
            return GREY
    return None


# The 16 colours of the standard palette, in their usual order.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# 256 colours: a 6x6x6 cube and a ramp of 40 greys.
CUBE = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
PAL256 = CUBE + [(round(i * 255 / 41),) * 3 for i in range(1, 41)]


def nearest(palette, c):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], c)))


def dib(rows, bits):
    """One icon picture: BITMAPINFOHEADER, palette, colour rows, AND mask."""
    size = len(rows)
    palette = {4: VGA16, 8: PAL256}.get(bits, [])
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0,
                         len(palette) if bits == 4 else 0, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    stride = ((size * bits + 31) // 32) * 4
    xor = b''
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        if bits == 32:
            for r, g, b, a in row:
                line += bytes((b, g, r, a))
        elif bits == 24:
            for r, g, b, a in row:
                line += bytes((b, g, r) if a >= 128 else (0, 0, 0))
        else:
            idx = [nearest(palette, p[:3]) if p[3] >= 128 else 0 for p in row]
            if bits == 8:
                line += bytes(idx)
            else:
                for i in range(0, size, 2):
                    line.append((idx[i] << 4) | idx[i + 1])
        line += bytes(stride - len(line))
        xor += bytes(line)
    mstride = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(rows):
        line = bytearray(mstride)
        for x, p in enumerate(row):
            if p[3] < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return header + pal + xor + mask


# Width and bits per pixel of the nine pictures.
ICON_PICTURES = [(16, 4), (32, 4), (48, 4), (16, 8), (32, 8), (48, 8),
                 (32, 24), (16, 32), (48, 32)]


def write_ico(path, scene):
    images = []
    cache = {}
    for size, bits in ICON_PICTURES:
        if size not in cache:
            cache[size] = render(size, scene)
        images.append((size, bits, dib(cache[size], bits)))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        out += struct.pack('<BBBBHHII', size, size, 16 if bits == 4 else 0, 0, 1, bits,
                           len(data), offset)
        offset += len(data)
    out += b''.join(data for _, _, data in images)
    write_file(path, out)


def write_strip(path, scenes, size=16):
    pictures = [render(size, s) for s in scenes]
    width = size * len(pictures)
    pixels = b''
    for y in reversed(range(size)):
        for pic in pictures:
            for r, g, b, a in pic[y]:
                pixels += bytes((b, g, r, a))
    info = struct.pack('<IiiHHIIiiII', 40, width, size, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    write_file(path, head + info + pixels)


def write_file(path, data):
    # Written only when different, so that the build does not relink for nothing.
    if os.path.exists(path):
        with open(path, 'rb') as f:
            if f.read() == data:
                return
    with open(path, 'wb') as f:
        f.write(data)


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: draw_icons.py OUTPUT_DIR')
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_ico(os.path.join(out, 'kelvora.ico'), app_scene(False))
    write_ico(os.path.join(out, 'kelvora_recording.ico'), app_scene(True))
    write_strip(os.path.join(out, 'menu_images.bmp'),
                [app_scene(False), about_scene, record_scene, stop_scene, settings_scene])


if __name__ == '__main__':
    main()
