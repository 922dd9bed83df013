#!/usr/bin/python3
"""Draws the launcher's artwork into a folder: six backgrounds, the logo, the start button (normal and
pressed), the progress bar's track and fill, and the window icon.

Everything is drawn procedurally from fixed seeds, so a rerun writes the same bytes.
Needs only Pillow and the DejaVu fonts (Debian: python3-pil, fonts-dejavu-core).

Usage: make_artwork.py OUTDIR
"""
import math
import os
import random
import sys

try:
    from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont, ImageOps
except ImportError:
    sys.exit("make_artwork.py needs Pillow (Debian package python3-pil)")

W, H = 1280, 576
SS = 4  # silhouettes and small shapes are drawn this many times larger, then reduced, for smooth edges
FONT_DIR = "/usr/share/fonts/truetype/dejavu"
BOLD = "DejaVuSans-Bold.ttf"


def load_font(name, size):
    path = os.path.join(FONT_DIR, name)
    if not os.path.isfile(path):
        sys.exit("font not found: %s (Debian package fonts-dejavu-core)" % path)
    # The basic layout keeps glyph placement the same whether or not libraqm is installed.
    return ImageFont.truetype(path, size, layout_engine=ImageFont.Layout.BASIC)


# ---------------------------------------------------------------- small helpers

def clamp8(v):
    return 0 if v < 0 else 255 if v > 255 else int(round(v))


def mix(a, b, t):
    return tuple(clamp8(x + (y - x) * t) for x, y in zip(a, b))


def ramp(stops, v):
    """Colour at v along (position, colour) stops, linear between neighbours."""
    if v <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if v <= p1:
            return mix(c0, c1, (v - p0) / (p1 - p0))
    return stops[-1][1]


def solid(color, size=(W, H)):
    return Image.new("RGB", size, color)


def vgradient(stops, size=(W, H)):
    col = Image.new("RGB", (1, size[1]))
    col.putdata([ramp(stops, y) for y in range(size[1])])
    return col.resize(size, Image.NEAREST)


def hgradient(stops, size=(W, H)):
    row = Image.new("RGB", (size[0], 1))
    row.putdata([ramp(stops, x) for x in range(size[0])])
    return row.resize(size, Image.NEAREST)


def column_mask(fn, size=(W, H)):
    """L image whose every row y has the value fn(y)."""
    col = Image.new("L", (1, size[1]))
    col.putdata([clamp8(fn(y)) for y in range(size[1])])
    return col.resize(size, Image.NEAREST)


def lut(mask, fn):
    return mask.point([clamp8(fn(i)) for i in range(256)])


def scale(mask, k):
    return lut(mask, lambda v: v * k)


def add_light(img, mask, color):
    """Screens a colour onto img where mask is lit (glows, stars, rays)."""
    layer = ImageChops.multiply(solid(color, img.size), mask.convert("RGB"))
    return ImageChops.screen(img, layer)


def over(img, fill, mask):
    if isinstance(fill, tuple):
        fill = solid(fill, img.size)
    return Image.composite(fill, img, mask)


def noise(rng, cells, octaves=4, size=(W, H), falloff=0.5):
    """Smooth fractal value noise, 0..255: random grids upscaled bicubically and summed."""
    acc, total, amp = None, 0.0, 1.0
    cw, ch = cells
    for _ in range(octaves):
        grid = Image.frombytes("L", (cw + 2, ch + 2), rng.randbytes((cw + 2) * (ch + 2)))
        layer = grid.resize(size, Image.BICUBIC, box=(1, 1, cw + 1, ch + 1))
        if acc is None:
            acc, total = layer, amp
        else:
            total += amp
            acc = Image.blend(acc, layer, amp / total)
        amp *= falloff
        cw, ch = cw * 2, ch * 2
    return ImageOps.autocontrast(acc, cutoff=0.5)


_FALLOFF = {}


def falloff_blob(power):
    if power not in _FALLOFF:
        n = 160
        c = (n - 1) / 2
        src = Image.new("L", (n, n))
        src.putdata([clamp8(255 * max(0.0, 1 - math.hypot(x - c, y - c) / c) ** power)
                     for y in range(n) for x in range(n)])
        _FALLOFF[power] = src
    return _FALLOFF[power]


def radial(cx, cy, r, power=2.0, size=(W, H)):
    r = int(r)
    blob = falloff_blob(power).resize((2 * r, 2 * r), Image.BICUBIC)
    out = Image.new("L", size, 0)
    out.paste(blob, (int(cx) - r, int(cy) - r))
    return out


def disc(cx, cy, r, size=(W, H)):
    d = int(math.ceil(r)) + 2
    big = Image.new("L", (2 * d * SS, 2 * d * SS), 0)
    ImageDraw.Draw(big).ellipse([(d - r) * SS, (d - r) * SS, (d + r) * SS - 1, (d + r) * SS - 1], fill=255)
    out = Image.new("L", size, 0)
    out.paste(big.resize((2 * d, 2 * d), Image.BOX), (int(round(cx)) - d, int(round(cy)) - d))
    return out


def shapes_mask(polys, size=(W, H)):
    big = Image.new("L", (size[0] * SS, size[1] * SS), 0)
    d = ImageDraw.Draw(big)
    for p in polys:
        d.polygon([(x * SS, y * SS) for x, y in p], fill=255)
    return big.resize(size, Image.BOX)


def blur(mask, r):
    return mask.filter(ImageFilter.GaussianBlur(r))


def grain(img, rng, amount):
    # Luminance-only film grain: hides 8-bit banding in the gradients without colour speckle.
    n = Image.frombytes("L", img.size, rng.randbytes(img.size[0] * img.size[1]))
    n = lut(n, lambda v: 128 + (v - 127.5) * amount / 127.5)
    return ImageChops.add(img, Image.merge("RGB", (n, n, n)), 1.0, -128)


# ---------------------------------------------------------------- landscape pieces

def ridge(rng, rough=0.55, detail=10):
    """Midpoint-displacement profile resampled to W+1 points, normalised to 0..1."""
    size = (1 << detail) + 1
    pts = [0.0] * size
    pts[0], pts[-1] = rng.uniform(-1, 1), rng.uniform(-1, 1)
    step, amp = size - 1, 1.0
    while step > 1:
        half = step // 2
        for i in range(half, size - 1, step):
            pts[i] = (pts[i - half] + pts[i + half]) / 2 + rng.uniform(-amp, amp)
        amp *= rough
        step = half
    lo, hi = min(pts), max(pts)
    out = []
    for x in range(W + 1):
        f = x * (size - 1) / W
        i = min(int(f), size - 2)
        t = f - i
        out.append(((pts[i] * (1 - t) + pts[i + 1] * t) - lo) / (hi - lo))
    return out


def profile(rng, base, height, peaks=(), rough=0.6, noise_share=0.7):
    """Ridge line in pixels: a random ridge plus peaks (x, half-width, weight) placed for the composition."""
    r = ridge(rng, rough)
    ys = []
    for x in range(W + 1):
        v = r[x] * noise_share
        for px, pw, weight in peaks:
            d = abs(x - px) / pw
            v += weight * (0.5 * math.exp(-d * d) + 0.5 * math.exp(-d))  # pointed tip, broad shoulders
        ys.append(base - height * v)
    return ys


def ground_poly(ys, bottom=H + 2):
    pts = [(x, ys[x]) for x in range(0, W + 1, 2)]
    return [(-2, ys[0])] + pts + [(W + 2, ys[W]), (W + 2, bottom), (-2, bottom)]


def at(ys, x):
    return ys[max(0, min(W, int(round(x))))]


def pine(rng, cx, base, h):
    w = h * rng.uniform(0.30, 0.40)
    tiers = rng.choice((4, 5, 5, 6))
    top = base - h
    crown_bottom = base - h * 0.1
    seg = (crown_bottom - top) / tiers
    tw = max(0.6, w * 0.06)
    polys = [[(cx - tw, base + 2), (cx - tw, crown_bottom - seg), (cx + tw, crown_bottom - seg), (cx + tw, base + 2)]]
    for i in range(tiers):
        yb = top + seg * (i + 1)
        yt = max(top, yb - seg * 1.9)
        hw = w / 2 * (0.3 + 0.7 * (i + 1) / tiers) * rng.uniform(0.85, 1.15)
        droop = (yb - yt) * 0.22
        sk = rng.uniform(-0.08, 0.08) * hw
        polys.append([(cx, yt), (cx + hw * 0.55 + sk, yt + (yb - yt) * 0.62), (cx + hw + sk, yb),
                      (cx + hw * 0.45, yb - droop), (cx, yb - droop * 0.3), (cx - hw * 0.45, yb - droop),
                      (cx - hw + sk, yb), (cx - hw * 0.55 + sk, yt + (yb - yt) * 0.62)])
    polys.append([(cx, top - h * 0.06), (cx + tw * 1.5, top + seg * 0.6), (cx - tw * 1.5, top + seg * 0.6)])
    return polys


def circle_poly(cx, cy, r, n=20):
    return [(cx + r * math.cos(2 * math.pi * i / n), cy + r * math.sin(2 * math.pi * i / n)) for i in range(n)]


def broadleaf(rng, cx, base, h):
    r = h * 0.3
    polys = [[(cx - h * 0.03, base + 2), (cx - h * 0.03, base - h * 0.5), (cx + h * 0.03, base - h * 0.5),
              (cx + h * 0.03, base + 2)]]
    for _ in range(7):
        polys.append(circle_poly(cx + rng.uniform(-0.7, 0.7) * r, base - h * 0.62 + rng.uniform(-0.9, 0.55) * r,
                                 r * rng.uniform(0.5, 0.8)))
    return polys


def forest(rng, ground, hmin, hmax, gap, x0=-30, x1=W + 30, broad=0.0, sink=0.0):
    polys = []
    x = x0 + rng.uniform(0, gap)
    while x < x1:
        h = rng.uniform(hmin, hmax)
        base = at(ground, x) + h * sink
        if rng.random() < broad:
            polys += broadleaf(rng, x, base, h * 0.8)
        else:
            polys += pine(rng, x, base, h)
        x += gap * rng.uniform(0.45, 1.25)
    return polys


def pagoda(cx, base, h, tiers=5):
    """A tiered tower with upturned eaves, as a silhouette."""
    polys = []
    th = h / (tiers + 1.2)
    w0 = h * 0.34
    polys.append([(cx - w0 * 0.8, base + 4), (cx - w0 * 0.7, base - th * 0.25), (cx + w0 * 0.7, base - th * 0.25),
                  (cx + w0 * 0.8, base + 4)])
    y = base - th * 0.25
    for i in range(tiers):
        wr = w0 * (1 - 0.13 * i)
        wb = wr * 0.58
        polys.append([(cx - wb, y + 1), (cx - wb, y - th * 0.55), (cx + wb, y - th * 0.55), (cx + wb, y + 1)])
        ry = y - th * 0.55
        polys.append([(cx - wr * 1.1, ry - th * 0.2), (cx - wr * 0.92, ry + th * 0.02),
                      (cx + wr * 0.92, ry + th * 0.02), (cx + wr * 1.1, ry - th * 0.2),
                      (cx + wr * 0.6, ry - th * 0.32), (cx + wr * 0.35, ry - th * 0.45),
                      (cx - wr * 0.35, ry - th * 0.45), (cx - wr * 0.6, ry - th * 0.32)])
        y = ry - th * 0.42
    polys.append([(cx - th * 0.05, y + 2), (cx, y - th * 1.0), (cx + th * 0.05, y + 2)])
    windows = []
    y = base - th * 0.25
    for i in range(tiers):
        windows.append((cx, y - th * 0.27, th * 0.1))
        y = y - th * 0.55 - th * 0.42
    return polys, windows


def bird(x, y, s):
    return [(x - s, y - s * 0.15), (x - s * 0.5, y - s * 0.5), (x, y - s * 0.05), (x + s * 0.5, y - s * 0.5),
            (x + s, y - s * 0.15), (x + s * 0.5, y - s * 0.32), (x, y + s * 0.18), (x - s * 0.5, y - s * 0.32)]


def face_light(rng, ys, direction, gain=0.1):
    """0..255 light on a range's faces, toward a light on the right (direction 1) or left (-1).
    Just under the crest every bump turns its own face to the light; deeper down the slope is taken over
    an ever wider stretch of the ridge, so the split between light and shadow branches downward like the
    spurs and gullies of a real mountain. A gentle sideways drift keeps the gullies from hanging straight."""
    top = int(min(ys))
    depth = H - top + 2
    acc = [0.0]
    for v in ys:
        acc.append(acc[-1] + v)
    p1, p2 = rng.uniform(0, 6.28), rng.uniform(0, 6.28)
    drift = [0.45 * math.sin(x / 83 + p1) + 0.25 * math.sin(x / 29 + p2) for x in range(W)]
    step_x, step_d = 2, 3
    rows = []
    for d in range(0, depth, step_d):
        w = int(7 + d * 0.8)
        row = bytearray()
        for x in range(0, W, step_x):
            c = min(W - 1, max(0, int(x + drift[x] * d)))
            l0, r1 = max(0, c - w), min(W, c + w)
            left = (acc[c + 1] - acc[l0]) / (c + 1 - l0)
            right = (acc[r1 + 1] - acc[c]) / (r1 + 1 - c)
            row.append(clamp8(127.5 + 127.5 * math.tanh((right - left) / w * direction / gain)))
        rows.append(bytes(row))
    table = Image.frombytes("L", (len(rows[0]), len(rows)), b"".join(rows)).resize((W, depth), Image.BILINEAR)
    out = Image.new("L", (W, H), 128)
    for x in range(W):
        y = int(ys[x])
        if y < H:
            out.paste(table.crop((x, 0, x + 1, H - y)), (x, y))
    return blur(out, 0.6)


def below_ridge(mask, depth):
    """The part of a silhouette within depth pixels under its top edge."""
    return ImageChops.subtract(mask, ImageChops.offset(mask, 0, depth))


def paint_range(img, rng, ys, top, bottom, span, extra=(), light=None, snow=None, texture=0.0):
    """Fills one depth layer: a ridge (plus extra silhouettes) with a vertical gradient, rock texture,
    lit and shadowed faces fading into the haze below, and optional snow caps."""
    mask = shapes_mask([ground_poly(ys)] + list(extra))
    y0, y1 = span
    fill = vgradient([(y0, top), (y1, bottom)])
    if texture:
        tex = lut(noise(rng, (40, 16), 4), lambda v: 255 * (1 - texture + texture * v / 255))
        fill = ImageChops.multiply(fill, tex.convert("RGB"))
    shadow = None
    if light or snow:
        d = (light or snow).get("dir", 1)
        shadow = ImageOps.invert(face_light(rng, ys, d, (light or {}).get("gain", 0.06)))
    if light:
        depth = light.get("depth", 60)
        fade = ImageChops.subtract(mask, blur(ImageChops.offset(mask, 0, depth), depth * 0.6))
        deep = ImageChops.subtract(mask, blur(ImageChops.offset(mask, 0, depth * 2), depth))
        k = light.get("strength", 0.6)
        fill = over(fill, light["lit"], scale(ImageChops.multiply(ImageOps.invert(shadow), fade), k))
        fill = over(fill, light["shadow"], scale(ImageChops.multiply(shadow, deep), k))
        rim = ImageChops.multiply(below_ridge(mask, 3), ImageOps.invert(shadow))
        fill = add_light(fill, scale(blur(rim, 0.6), 0.5 * k), light["lit"])
    if snow:
        # Snow lies above an altitude; streaky noise lets it reach further down the gullies.
        line, reach = snow["line"], snow.get("reach", 40)
        alt = column_mask(lambda y: 128 + (line - y) * 128 / reach)
        fingers = lut(noise(rng, (40, 8), 4), lambda v: 128 + (v - 128) * 0.6)
        smask = lut(ImageChops.add(alt, fingers, 1.0, -128), lambda v: (v - 118) * 12)
        smask = ImageChops.multiply(smask, mask)
        sfill = Image.composite(solid(snow["dark"]), solid(snow["lit"]), shadow)
        fill = over(fill, sfill, scale(smask, snow.get("alpha", 1.0)))
    return Image.composite(fill, img, mask)


def mist(img, rng, y0, up, down, color, strength, cells=(7, 3)):
    prof = column_mask(lambda y: 255 * strength * math.exp(-((y - y0) / (up if y < y0 else down)) ** 2))
    n = lut(noise(rng, cells, 4), lambda v: 60 + 195 * v / 255)
    return over(img, color, ImageChops.multiply(prof, n))


def clouds(img, rng, y0, y1, top, bottom, amount, coverage, cells, rim=None, soft=0.12):
    n = noise(rng, cells, 5)
    lo = 255 * (1 - coverage)
    a = lut(n, lambda v: 255 * min(1.0, max(0.0, (v - lo) / (255 * soft))))
    band = column_mask(lambda y: 255 * math.sin(math.pi * min(1.0, max(0.0, (y - y0) / (y1 - y0)))) ** 0.7)
    a = scale(ImageChops.multiply(a, band), amount)
    img = over(img, vgradient([(y0, top), (y1, bottom)]), a)
    if rim:
        color, dy, k = rim
        edge = blur(ImageChops.subtract(a, ImageChops.offset(a, 0, dy)), 1.2)
        img = add_light(img, scale(edge, k), color)
    return img


def stars(img, rng, count, ymax, color, bright=0, level=1.0, fade=None, band=None):
    layer = Image.new("L", (W, H), 0)
    d = ImageDraw.Draw(layer)
    for _ in range(count):
        if band and rng.random() < band[4]:
            # clustered along the galactic band
            (bx0, by0, bx1, by1), t = band[:4], rng.random()
            off = rng.gauss(0, band[5])
            nx, ny = -(by1 - by0), bx1 - bx0
            ln = math.hypot(nx, ny)
            x, y = bx0 + (bx1 - bx0) * t + nx / ln * off, by0 + (by1 - by0) * t + ny / ln * off
        else:
            x, y = rng.uniform(0, W), rng.uniform(0, ymax)
        d.point((int(x), int(y)), fill=clamp8(255 * level * (0.2 + 0.8 * rng.random() ** 2.5)))
    halo = Image.new("L", (W, H), 0)
    dh = ImageDraw.Draw(halo)
    for _ in range(bright):
        x, y = rng.uniform(0, W), rng.uniform(0, ymax * 0.8)
        r = rng.uniform(1.5, 3.2)
        dh.ellipse([x - r, y - r, x + r, y + r], fill=clamp8(255 * level * rng.uniform(0.4, 0.8)))
        d.ellipse([x - 0.8, y - 0.8, x + 0.8, y + 0.8], fill=clamp8(255 * level))
    layer = ImageChops.lighter(layer, blur(halo, 1.6))
    if fade:
        layer = ImageChops.multiply(layer, column_mask(fade))
    return add_light(img, layer, color)


def orb(img, cx, cy, r, core, glows):
    """Glows (radius, colour, strength, falloff) around a point, then an optional disc on top."""
    for gr, gc, gk, gp in glows:
        img = add_light(img, scale(radial(cx, cy, gr, gp), gk), gc)
    if r:
        img = over(img, core, disc(cx, cy, r))
    return img


def rays(img, rng, cx, cy, count, spread, color, strength, length=1300):
    layer = Image.new("L", (W, H), 0)
    d = ImageDraw.Draw(layer)
    a0, a1 = spread
    for _ in range(count):
        a = rng.uniform(a0, a1)
        w = rng.uniform(0.008, 0.03)
        tone = rng.randint(90, 255)
        d.polygon([(cx, cy), (cx + length * math.cos(a - w), cy + length * math.sin(a - w)),
                   (cx + length * math.cos(a + w), cy + length * math.sin(a + w))], fill=tone)
    layer = blur(layer, 6)
    layer = ImageChops.multiply(layer, radial(cx, cy, length, 0.9))
    return add_light(img, scale(layer, strength), color)


def silhouettes(img, polys, color):
    return over(img, color, shapes_mask(polys))


def snow_tops(img, rng, mask, color, depth=3, amount=0.85):
    """Whitens the edges of a silhouette that face up, like snow lying on branches."""
    top = ImageChops.subtract(mask, ImageChops.offset(mask, 0, depth))
    n = lut(noise(rng, (90, 40), 2), lambda v: 255 * amount * min(1.0, v / 150))
    return over(img, color, ImageChops.multiply(blur(top, 0.6), n))


def windows(img, lights, color):
    layer = Image.new("L", (W, H), 0)
    d = ImageDraw.Draw(layer)
    for x, y, s in lights:
        d.rectangle([x - s, y - s * 1.4, x + s, y + s * 0.6], fill=255)
    glow = blur(layer, 5)
    img = add_light(img, scale(glow, 0.9), color)
    return over(img, color, layer)


def reflect(img, rng, y_water, tint, near, far):
    """Mirrors the scene into a lake below y_water, with ripples and a tint that thickens with depth."""
    h = H - y_water
    src = img.crop((0, y_water - h, W, y_water)).transpose(Image.FLIP_TOP_BOTTOM)
    src = src.filter(ImageFilter.GaussianBlur(1.2))
    out = Image.new("RGB", (W, h))
    phase = rng.uniform(0, 6.28)
    for r in range(h):
        amp = 1.0 + 6.0 * r / h
        shift = int(round(amp * math.sin(r * 0.7 + phase) + rng.uniform(-1, 1)))
        out.paste(ImageChops.offset(src.crop((0, r, W, r + 1)), shift, 0), (0, r))
    out = Image.composite(solid(tint, (W, h)), out, column_mask(lambda y: 255 * (near + (far - near) * y / h), (W, h)))
    img = img.copy()
    img.paste(out, (0, y_water))
    # a thin bright line where the water meets the shore
    line = column_mask(lambda y: 60 * math.exp(-((y - y_water - 1) / 1.5) ** 2))
    return add_light(img, line, (255, 200, 150))


def glitter(img, rng, cx, y_water, count, color):
    layer = Image.new("L", (W, H), 0)
    d = ImageDraw.Draw(layer)
    for _ in range(count):
        t = rng.random() ** 1.6
        y = y_water + 2 + t * (H - y_water)
        x = cx + rng.gauss(0, 14 + 90 * t)
        ln = rng.uniform(4, 14 + 40 * t)
        d.line([(x - ln / 2, y), (x + ln / 2, y)], fill=clamp8(255 * (1 - 0.6 * t) * rng.uniform(0.4, 1)), width=1)
    return add_light(img, blur(layer, 0.7), color)


def flakes(img, rng, count, color):
    fine = Image.new("L", (W, H), 0)
    soft = Image.new("L", (W, H), 0)
    df, ds = ImageDraw.Draw(fine), ImageDraw.Draw(soft)
    for _ in range(count):
        x, y = rng.uniform(0, W), rng.uniform(0, H)
        r = rng.choice((0.7, 0.9, 1.1, 1.4, 2.2, 3.0))
        if y > 440 and rng.random() < 0.75:
            continue  # few flakes where the texts are drawn
        if r < 2:
            df.ellipse([x - r, y - r, x + r, y + r], fill=rng.randint(120, 230))
        else:
            ds.ellipse([x - r, y - r, x + r, y + r], fill=rng.randint(140, 255))
    return over(img, color, ImageChops.lighter(fine, blur(soft, 1.6)))


def bezier(p0, p1, p2, n=16):
    return [((1 - t) ** 2 * p0[0] + 2 * (1 - t) * t * p1[0] + t * t * p2[0],
             (1 - t) ** 2 * p0[1] + 2 * (1 - t) * t * p1[1] + t * t * p2[1]) for t in (i / n for i in range(n + 1))]


def dune(rng, cx, base, w, h):
    """One dune: a short steep slip face on the left, a long windward slope on the right, and the crest
    line sweeping down from the summit. Returns (outline, shadowed part, crest highlight)."""
    wl, wr = w * rng.uniform(0.28, 0.38), w * rng.uniform(0.62, 0.75)
    steps = [i / 14 for i in range(15)]
    left = [(cx - wl * (1 - t), base - h * t ** 1.25) for t in steps]
    right = [(cx + wr * t, base - h * (1 - t) ** 1.7) for t in steps]
    outline = left + right[1:] + [(cx + wr, base + 1), (cx - wl, base + 1)]
    crest = bezier((cx, base - h), (cx - wl * 0.2, base - h * 0.3), (cx + wr * rng.uniform(0.1, 0.3), base + 1))
    shadow = left + crest[1:] + [(cx - wl, base + 1)]
    return outline, shadow, [right[:6], crest[:7]]


def layered(items, size=(W, H)):
    """Paints (outline, shadow, highlight lines) items back to front; returns the masks of the whole
    layer, of its shadowed parts and of its highlights."""
    big = [Image.new("L", (size[0] * SS, size[1] * SS), 0) for _ in range(3)]
    da, ds, dr = (ImageDraw.Draw(b) for b in big)
    for outline, shadow, lines in items:
        o = [(x * SS, y * SS) for x, y in outline]
        da.polygon(o, fill=255)
        ds.polygon(o, fill=0)
        dr.polygon(o, fill=0)
        if shadow:
            ds.polygon([(x * SS, y * SS) for x, y in shadow], fill=255)
        for ln in lines:
            dr.line([(x * SS, y * SS) for x, y in ln], fill=255, width=int(1.6 * SS))
    return [b.resize(size, Image.BOX) for b in big]


def paint_layered(img, masks, lit, shadow, rim, texture=None):
    whole, shaded, hi = masks
    fill = Image.composite(shadow, lit, shaded)
    if texture is not None:
        fill = ImageChops.multiply(fill, texture.convert("RGB"))
    fill = add_light(fill, scale(blur(hi, 0.8), 0.8), rim)
    return Image.composite(fill, img, whole)


def ripples(rng, count, y0, y1):
    """Faint wind ripples for sand faces."""
    layer = Image.new("L", (W * 2, H * 2), 0)
    d = ImageDraw.Draw(layer)
    for _ in range(count):
        x0 = rng.uniform(-100, W)
        y = rng.uniform(y0, y1)
        ln = rng.uniform(60, 240)
        ph = rng.uniform(0, 6.28)
        pts = [((x0 + t) * 2, (y + 3 * math.sin(t / 40 + ph) + t * 0.06) * 2) for t in range(0, int(ln), 6)]
        d.line(pts, fill=rng.randint(120, 255), width=2)
    return blur(layer.resize((W, H), Image.BOX), 0.5)


def mesa(rng, x, w, top, base):
    """A flat-topped butte with a scree slope; the left cliff is in shadow."""
    talus = w * rng.uniform(0.12, 0.25)
    mid = base - (base - top) * rng.uniform(0.3, 0.45)
    notch = [(x + w * t, top + rng.uniform(-1.5, 1.5)) for t in (0.1, 0.3, 0.5, 0.7, 0.9)]
    outline = [(x - talus, base + 6), (x, mid), (x + 2, top + 4), (x + 6, top)] + notch + \
        [(x + w - 6, top), (x + w - 2, top + 4), (x + w, mid), (x + w + talus, base + 6)]
    face = w * rng.uniform(0.12, 0.22)
    shadow = [(x - talus, base + 6), (x, mid), (x + 2, top + 4), (x + 6, top), (x + face, top),
              (x + face * 0.8, mid), (x + face * 0.4 - talus * 0.3, base + 6)]
    return outline, shadow, [[(x + face, top + 1), (x + w - 6, top + 1)]]


# ---------------------------------------------------------------- the six backgrounds

def bg_dawn():
    rng = random.Random(203)
    img = vgradient([(0, (24, 26, 70)), (110, (66, 56, 120)), (215, (172, 100, 138)), (290, (240, 154, 124)),
                     (350, (255, 200, 146)), (430, (255, 214, 162))])
    img = stars(img, rng, 260, 220, (230, 230, 255), bright=6, level=0.55,
                fade=lambda y: 255 * max(0.0, 1 - y / 200) ** 1.5)
    sx, sy = 905, 292
    img = orb(img, sx, sy, 0, None, [(700, (255, 140, 110), 0.45, 2.2), (260, (255, 196, 140), 0.55, 1.6)])
    img = clouds(img, rng, 90, 280, (112, 76, 128), (255, 176, 150), 0.8, 0.42, (3, 11),
                 rim=((255, 200, 160), -3, 0.7))
    img = orb(img, sx, sy, 30, (255, 246, 222), [(150, (255, 230, 180), 0.7, 1.8)])
    far = profile(rng, 330, 165, peaks=[(1030, 150, 0.75), (620, 120, 0.35)])
    img = paint_range(img, rng, far, (168, 120, 160), (212, 150, 160), (160, 340), texture=0.06,
                      light=dict(lit=(250, 186, 168), shadow=(122, 92, 144), depth=70, strength=0.5))
    img = mist(img, rng, 332, 30, 40, (252, 196, 172), 0.75)
    mid = profile(rng, 362, 120, peaks=[(760, 110, 0.6), (300, 160, 0.25)])
    tower, _ = pagoda(560, at(mid, 560) + 8, 104)
    img = paint_range(img, rng, mid, (112, 78, 124), (160, 108, 140), (230, 370), extra=tower, texture=0.07,
                      light=dict(lit=(226, 150, 150), shadow=(80, 58, 106), depth=50, strength=0.5))
    img = mist(img, rng, 366, 22, 30, (244, 176, 164), 0.65)
    hill = profile(rng, 392, 40, peaks=[(200, 260, 0.6)], rough=0.5)
    img = silhouettes(img, [ground_poly(hill)] + forest(rng, hill, 16, 38, 9), (98, 66, 108))
    img = mist(img, rng, 404, 14, 30, (230, 150, 150), 0.5)
    near = profile(rng, 452, 60, peaks=[(80, 200, 0.7), (1220, 200, 0.5)], rough=0.5)
    img = silhouettes(img, [ground_poly(near)] + forest(rng, near, 40, 110, 13), (42, 30, 60))
    front = profile(rng, 540, 40, rough=0.5)
    img = silhouettes(img, [ground_poly(front)] + forest(rng, front, 70, 170, 26, x0=-30, x1=200)
                      + forest(rng, front, 70, 150, 26, x0=1120, x1=W + 30), (22, 16, 34))
    return grain(img, rng, 4)


def bg_dusk():
    rng = random.Random(204)
    water = 394
    img = vgradient([(0, (16, 20, 58)), (120, (58, 38, 98)), (235, (170, 62, 96)), (305, (236, 112, 66)),
                     (360, (255, 168, 84)), (water, (255, 188, 110))])
    img = stars(img, rng, 90, 150, (255, 230, 230), bright=3, level=0.5,
                fade=lambda y: 255 * max(0.0, 1 - y / 140) ** 1.5)
    sx, sy = 805, 350
    img = orb(img, sx, sy, 0, None, [(760, (255, 104, 52), 0.5, 2.0), (280, (255, 170, 80), 0.65, 1.6)])
    img = clouds(img, rng, 50, 270, (54, 30, 72), (246, 112, 92), 0.9, 0.45, (2, 16),
                 rim=((255, 176, 110), -3, 0.8), soft=0.1)
    img = orb(img, sx, sy, 46, (255, 232, 176), [(170, (255, 214, 150), 0.75, 1.8)])
    far = profile(rng, 372, 150, peaks=[(560, 120, 0.55), (1080, 150, 0.8), (805, 90, -0.45)])
    img = paint_range(img, rng, far, (146, 66, 100), (198, 98, 100), (200, water), texture=0.06,
                      light=dict(lit=(255, 150, 96), shadow=(98, 44, 86), depth=60, strength=0.6, dir=-1))
    img = mist(img, rng, 380, 26, 30, (250, 146, 104), 0.55)
    hills = profile(rng, 392, 70, peaks=[(200, 160, 0.8), (1190, 140, 0.7), (805, 200, -0.5)], rough=0.5)
    img = paint_range(img, rng, hills, (76, 36, 74), (96, 48, 82), (300, water), texture=0.05)
    shore = [water - 1.5 - 3 * math.sin(x / 70) for x in range(W + 1)]
    trees = forest(rng, shore, 18, 70, 11, x0=-30, x1=470) + forest(rng, shore, 18, 62, 11, x0=1060, x1=W + 30)
    img = silhouettes(img, [ground_poly(shore)] + trees, (32, 18, 40))
    img = reflect(img, rng, water, (34, 18, 46), 0.35, 0.8)
    img = glitter(img, rng, sx, water, 260, (255, 200, 130))
    flock = [bird(560 + rng.uniform(0, 220), 150 + rng.uniform(0, 90), rng.uniform(5, 9)) for _ in range(7)]
    img = silhouettes(img, flock, (46, 22, 46))
    return grain(img, rng, 4)


def bg_night():
    rng = random.Random(205)
    img = vgradient([(0, (3, 6, 20)), (170, (8, 18, 44)), (300, (16, 38, 72)), (370, (30, 62, 94)),
                     (440, (36, 70, 100))])
    a, b = (300, 600), (1300, -60)
    mx0, my0 = (a[0] + b[0]) / 2, (a[1] + b[1]) / 2
    band = column_mask(lambda y: 255 * math.exp(-((y - 900) / 85) ** 2), (1800, 1800))
    ang = math.degrees(math.atan2(-(b[1] - a[1]), b[0] - a[0]))
    band = band.rotate(ang, resample=Image.BICUBIC)
    band = band.crop((int(900 - mx0), int(900 - my0), int(900 - mx0) + W, int(900 - my0) + H))
    cloud = noise(rng, (16, 8), 5)
    milky = ImageChops.multiply(band, lut(cloud, lambda v: 30 + 225 * (v / 255) ** 1.3))
    milky = ImageChops.multiply(milky, column_mask(lambda y: 255 * max(0.0, 1 - y / 380)))
    img = add_light(img, scale(milky, 0.55), (150, 160, 220))
    img = stars(img, rng, 1400, 380, (225, 232, 255), bright=45, level=1.0,
                fade=lambda y: 255 * max(0.0, 1 - y / 390) ** 0.8, band=(a[0], a[1], b[0], b[1], 0.35, 55))
    mx, my = 1010, 126
    img = orb(img, mx, my, 0, None, [(560, (80, 110, 180), 0.5, 2.0), (170, (190, 205, 250), 0.45, 1.8)])
    img = clouds(img, rng, 140, 300, (40, 56, 90), (70, 90, 126), 0.55, 0.38, (3, 12),
                 rim=((150, 170, 220), 3, 0.6))
    moon = disc(mx, my, 38)
    face = lut(noise(rng, (5, 5), 4), lambda v: 255 - 50 * (v / 255) ** 2)
    img = over(img, ImageChops.multiply(solid((238, 242, 252)), face.convert("RGB")), moon)
    far = profile(rng, 340, 175, peaks=[(840, 130, 0.8), (1190, 120, 0.4), (420, 160, 0.3)])
    img = paint_range(img, rng, far, (42, 58, 94), (56, 76, 108), (160, 350), texture=0.08,
                      light=dict(lit=(96, 122, 170), shadow=(24, 34, 64), depth=70, strength=0.5),
                      snow=dict(line=200, reach=45, lit=(176, 196, 232), dark=(76, 94, 134)))
    img = mist(img, rng, 346, 28, 36, (64, 94, 136), 0.5)
    mid = profile(rng, 372, 110, peaks=[(470, 80, 0.7), (150, 120, 0.3)])
    tower, lights = pagoda(470, at(mid, 470) + 6, 90)
    img = paint_range(img, rng, mid, (22, 34, 62), (30, 44, 72), (250, 380), extra=tower, texture=0.06,
                      light=dict(lit=(58, 80, 124), shadow=(14, 22, 44), depth=40, strength=0.4))
    img = windows(img, lights, (255, 188, 96))
    img = mist(img, rng, 384, 20, 30, (52, 80, 116), 0.4)
    hill = profile(rng, 418, 40, peaks=[(1000, 200, 0.5)], rough=0.5)
    img = silhouettes(img, [ground_poly(hill)] + forest(rng, hill, 26, 64, 11), (12, 20, 38))
    near = profile(rng, 486, 50, peaks=[(60, 160, 0.8), (1240, 160, 0.6)], rough=0.5)
    img = silhouettes(img, [ground_poly(near)] + forest(rng, near, 60, 150, 15), (5, 9, 20))
    return grain(img, rng, 3)


def bg_forest():
    rng = random.Random(206)
    img = vgradient([(0, (82, 146, 198)), (160, (148, 194, 220)), (290, (206, 224, 214)), (380, (226, 232, 204))])
    sx, sy = 1000, 92
    img = orb(img, sx, sy, 0, None, [(640, (255, 236, 180), 0.5, 2.0)])
    img = clouds(img, rng, 30, 250, (255, 255, 250), (196, 212, 224), 0.85, 0.36, (6, 4),
                 rim=((255, 255, 240), 4, 0.5), soft=0.18)
    img = orb(img, sx, sy, 28, (255, 253, 240), [(170, (255, 250, 226), 0.7, 1.6)])
    far = profile(rng, 312, 160, peaks=[(760, 140, 0.75), (1180, 120, 0.35)])
    img = paint_range(img, rng, far, (108, 146, 170), (146, 180, 192), (150, 320), texture=0.06,
                      light=dict(lit=(192, 216, 224), shadow=(84, 120, 150), depth=70, strength=0.5),
                      snow=dict(line=190, reach=30, lit=(236, 242, 248), dark=(150, 176, 200), alpha=0.85))
    img = mist(img, rng, 318, 30, 40, (226, 236, 226), 0.75)
    colours = [(118, 158, 146), (78, 122, 102), (44, 86, 66), (20, 46, 34)]
    grounds = [(336, 22, 18, 36, 8, 0.3), (372, 30, 30, 66, 11, 0.35), (420, 40, 54, 120, 15, 0.3)]
    for i, (base, hgt, hmin, hmax, gap, broad) in enumerate(grounds):
        g = profile(rng, base, hgt, rough=0.5)
        img = silhouettes(img, [ground_poly(g)] + forest(rng, g, hmin, hmax, gap, broad=broad), colours[i])
        if i == 1:
            img = rays(img, rng, sx, sy, 16, (1.9, 2.75), (255, 246, 210), 0.45)
        img = mist(img, rng, base + 12, 16 + 6 * i, 28, (222, 234, 220), 0.6 - 0.1 * i)
    g = profile(rng, 500, 50, peaks=[(60, 200, 0.8), (1230, 160, 0.6)], rough=0.5)
    img = silhouettes(img, [ground_poly(g)] + forest(rng, g, 90, 190, 20, x0=-30, x1=260)
                      + forest(rng, g, 70, 130, 18, x0=260, x1=1000) + forest(rng, g, 90, 180, 20, x0=1000, x1=W + 30),
                      colours[3])
    return grain(img, rng, 4)


def bg_snow():
    rng = random.Random(207)
    img = vgradient([(0, (60, 90, 140)), (150, (118, 148, 190)), (290, (182, 198, 220)), (370, (206, 214, 228))])
    sx, sy = 940, 150
    img = orb(img, sx, sy, 0, None, [(560, (255, 238, 214), 0.4, 2.0)])
    img = clouds(img, rng, 60, 300, (214, 222, 236), (236, 240, 246), 0.55, 0.5, (3, 9), soft=0.2)
    img = orb(img, sx, sy, 26, (255, 250, 238), [(140, (255, 246, 226), 0.6, 1.6)])
    far = profile(rng, 330, 200, peaks=[(880, 120, 0.85), (1160, 110, 0.5), (480, 150, 0.35)])
    img = paint_range(img, rng, far, (116, 132, 164), (150, 164, 190), (120, 340), texture=0.1,
                      light=dict(lit=(170, 184, 210), shadow=(84, 98, 132), depth=80, strength=0.5, dir=-1),
                      snow=dict(line=250, reach=40, lit=(244, 248, 255), dark=(152, 170, 204), dir=-1))
    img = mist(img, rng, 336, 30, 40, (222, 230, 240), 0.75)
    mid = profile(rng, 366, 110, peaks=[(300, 130, 0.5), (640, 90, 0.45)])
    img = paint_range(img, rng, mid, (88, 104, 136), (110, 124, 152), (240, 370), texture=0.1,
                      light=dict(lit=(140, 156, 186), shadow=(64, 78, 110), depth=50, strength=0.5, dir=-1),
                      snow=dict(line=300, reach=40, lit=(232, 238, 248), dark=(140, 158, 192), dir=-1))
    img = mist(img, rng, 374, 20, 30, (214, 224, 236), 0.6)
    g = profile(rng, 404, 26, rough=0.5)
    img = paint_range(img, rng, g, (186, 198, 218), (150, 164, 190), (370, 440),
                      extra=forest(rng, g, 22, 52, 9, sink=0.05))
    # the ground in front stays greyish-blue so the white texts on top keep their contrast
    g2 = profile(rng, 436, 20, rough=0.5)
    pines = forest(rng, g2, 30, 70, 14, sink=0.05)
    pm = shapes_mask(pines)
    img = over(img, (40, 58, 72), pm)
    img = snow_tops(img, rng, pm, (226, 234, 244), depth=3)
    gm = shapes_mask([ground_poly([y + 10 for y in g2])])
    img = over(img, vgradient([(430, (164, 178, 202)), (H, (96, 110, 140))]), gm)
    g3 = profile(rng, 520, 40, peaks=[(60, 140, 0.7), (1230, 140, 0.6)], rough=0.5)
    big = forest(rng, g3, 100, 190, 26, x0=-30, x1=230) + forest(rng, g3, 90, 170, 26, x0=1080, x1=W + 30)
    bm = shapes_mask(big)
    img = over(img, (22, 36, 48), bm)
    img = snow_tops(img, rng, bm, (214, 224, 238), depth=4)
    img = flakes(img, rng, 380, (250, 252, 255))
    return grain(img, rng, 3)


def bg_desert():
    rng = random.Random(208)
    img = vgradient([(0, (34, 78, 140)), (150, (90, 146, 198)), (265, (196, 198, 190)), (330, (244, 210, 162)),
                     (390, (250, 202, 150))])
    sx, sy = 960, 196
    img = orb(img, sx, sy, 0, None, [(760, (255, 184, 104), 0.5, 2.0), (240, (255, 228, 176), 0.6, 1.6)])
    img = clouds(img, rng, 120, 280, (240, 214, 196), (255, 224, 190), 0.45, 0.4, (2, 14), soft=0.15)
    img = orb(img, sx, sy, 40, (255, 250, 232), [(120, (255, 246, 214), 0.8, 1.6)])
    # far buttes, hazy
    items, x = [], -60.0
    while x < W:
        w = rng.uniform(70, 230)
        items.append(mesa(rng, x, w, 338 - rng.uniform(30, 95), 344))
        x += w + rng.uniform(30, 200)
    items.insert(0, ([(-2, 340), (W + 2, 340), (W + 2, H), (-2, H)], None, []))
    strata = column_mask(lambda y: 255 - 22 * (0.5 + 0.5 * math.sin(y * 0.9)) * (y % 11 < 6))
    img = paint_layered(img, layered(items), vgradient([(250, (236, 184, 150)), (345, (236, 190, 158))]),
                        solid((198, 146, 136)), (255, 226, 190), strata)
    img = mist(img, rng, 344, 24, 30, (250, 212, 172), 0.7)
    layers = [(372, 14, (260, 460), (20, 40), (238, 188, 134), (204, 146, 116), 0.45),
              (418, 24, (420, 700), (40, 80), (228, 156, 94), (164, 100, 78), 0.3),
              (492, 30, (600, 1000), (70, 130), (204, 128, 76), (114, 64, 50), 0.0)]
    for i, (base, spread, (w0, w1), (h0, h1), lit, shadow, haze) in enumerate(layers):
        ph = rng.uniform(0, 6.28)
        flat = [base - spread - 1 + 3 * math.sin(x / 160 + ph) for x in range(W + 1)]
        # the troughs between the dunes lie half in shade
        trough = mix(lit, shadow, 0.4)
        img = over(img, vgradient([(base - spread, trough), (H, mix(trough, (70, 36, 30), 0.35))]),
                   shapes_mask([ground_poly(flat)]))
        items = []
        x = -w1 * 0.3 + rng.uniform(0, w0)
        dunes = []
        while x < W + w1 * 0.3:
            dunes.append((base + rng.uniform(-spread, spread * 0.6), x, rng.uniform(w0, w1)))
            x += rng.uniform(0.25, 0.45) * w1
        ruins = False
        for b, x, w in sorted(dunes):
            h = rng.uniform(h0, h1) * (0.55 + 0.45 * w / w1)
            items.append(dune(rng, x, b, w, h))
            if i == 1 and not ruins and 520 < x < 760:
                ruins = True
                cx, g = x + 16, b - h * 0.72
                # a broken colonnade and a tower near the crest
                items.append(([(cx - 34, g + 14), (cx - 34, g - 54), (cx - 24, g - 60), (cx - 12, g - 52),
                               (cx - 12, g + 14)], [(cx - 34, g + 14), (cx - 34, g - 54), (cx - 27, g - 58),
                                                   (cx - 27, g + 14)], []))
                for k, ph in enumerate((46, 52, 30, 40, 18)):
                    px = cx + 2 + k * 15
                    py = g + k * 5
                    items.append(([(px, py + 14), (px, py - ph), (px + 6, py - ph), (px + 6, py + 14)],
                                  [(px, py + 14), (px, py - ph), (px + 2.5, py - ph), (px + 2.5, py + 14)], []))
                items.append(([(cx - 12, g - 42), (cx + 50, g - 47), (cx + 50, g - 41), (cx - 12, g - 37)], None, []))
        lit_f = vgradient([(base - h1, mix(lit, (255, 238, 204), 0.4)), (base + 40, lit), (H, mix(lit, shadow, 0.45))])
        tex = ImageChops.subtract(solid((255, 255, 255)).convert("L"),
                                  scale(ripples(rng, 60 + 40 * i, base - h1, H), 0.06 + 0.03 * i))
        shade_f = vgradient([(base - h1, shadow), (H, mix(shadow, (60, 30, 30), 0.4))])
        img = paint_layered(img, layered(items), lit_f, shade_f, (255, 232, 190), tex)
        if haze:
            img = mist(img, rng, base + 10, 18, 26, (250, 206, 162), haze)
    flock = [bird(700 + rng.uniform(0, 160), 110 + rng.uniform(0, 60), rng.uniform(5, 7)) for _ in range(3)]
    img = silhouettes(img, flock, (90, 70, 70))
    return grain(img, rng, 5)


# ---------------------------------------------------------------- logo, buttons, bar, icon

def text_mask(size, xy, text, font, stroke=0):
    m = Image.new("L", size, 0)
    ImageDraw.Draw(m).text(xy, text, font=font, fill=255, stroke_width=stroke, stroke_fill=255)
    return m


def logo():
    size = (800, 336)
    fill_m = Image.new("L", size, 0)
    edge_m = Image.new("L", size, 0)
    grad = Image.new("RGB", size)
    lines = [("Lạc Phong Ký", 92, 7, 52), ("MAX", 118, 8, 192)]
    boxes = []
    for text, px, stroke, top in lines:
        font = load_font(BOLD, px)
        x0, y0, x1, y1 = font.getbbox(text)
        x = (size[0] - (x1 - x0)) // 2 - x0
        y = top - y0
        fill_m = ImageChops.lighter(fill_m, text_mask(size, (x, y), text, font))
        edge_m = ImageChops.lighter(edge_m, text_mask(size, (x, y), text, font, stroke))
        gy0, gy1 = y + y0, y + y1
        grad.paste(vgradient([(gy0, (255, 250, 214)), (gy0 + (gy1 - gy0) * 0.45, (255, 214, 96)),
                              (gy1, (210, 118, 24))], size).crop((0, gy0 - stroke, size[0], gy1 + stroke)),
                   (0, gy0 - stroke))
        boxes.append((x + x0, gy0, x + x1, gy1))
    # ornaments either side of "MAX": a rule ending in a diamond
    mx0, my0, mx1, my1 = boxes[1]
    cy = (my0 + my1) / 2
    orn = []
    for side in (-1, 1):
        inner = (mx0 - 26) if side < 0 else (mx1 + 26)
        outer = inner + side * 150
        orn.append([(outer, cy - 2), (inner - side * 14, cy - 4), (inner - side * 14, cy + 4), (outer, cy + 2)])
        orn.append([(inner, cy), (inner - side * 12, cy - 12), (inner - side * 24, cy), (inner - side * 12, cy + 12)])
    orn_m = shapes_mask(orn, size)
    fill_m = ImageChops.lighter(fill_m, orn_m)
    edge_m = ImageChops.lighter(edge_m, orn_m.filter(ImageFilter.MaxFilter(9)))
    band = (0, int(cy) - 13, size[0], int(cy) + 14)
    orn_grad = vgradient([(cy - 12, (255, 236, 160)), (cy + 12, (220, 140, 40))], size)
    grad.paste(orn_grad.crop(band), band[:2], orn_m.crop(band))

    glow_a = scale(blur(edge_m.filter(ImageFilter.MaxFilter(5)), 12), 0.95)
    shadow_a = scale(blur(ImageChops.offset(edge_m, 0, 4), 3), 0.7)
    out = Image.new("RGBA", size, (255, 150, 40, 0))
    out.alpha_composite(Image.merge("RGBA", solid((255, 140, 30), size).split() + (glow_a,)))
    out.alpha_composite(Image.merge("RGBA", solid((20, 8, 0), size).split() + (shadow_a,)))
    out.alpha_composite(Image.merge("RGBA", solid((44, 20, 6), size).split() + (edge_m,)))
    # bevel: a light top edge and a darker bottom edge inside the letters
    hi = ImageChops.multiply(blur(ImageChops.subtract(fill_m, ImageChops.offset(fill_m, 0, 3)), 0.8), fill_m)
    lo = ImageChops.multiply(blur(ImageChops.subtract(fill_m, ImageChops.offset(fill_m, 0, -3)), 0.8), fill_m)
    face = over(grad, (255, 255, 240), scale(hi, 0.75))
    face = over(face, (150, 70, 10), scale(lo, 0.5))
    out.alpha_composite(Image.merge("RGBA", face.split() + (fill_m,)))
    # glow tails fade out completely instead of leaving a faint haze over the whole image
    r, g, b, a = out.split()
    a = lut(a, lambda v: 0 if v < 4 else v)
    return Image.merge("RGBA", (r, g, b, a))


def rounded_mask(size, inset, radius):
    w, h = size
    big = Image.new("L", (w * SS, h * SS), 0)
    ImageDraw.Draw(big).rounded_rectangle([inset * SS, inset * SS, (w - inset) * SS - 1, (h - inset) * SS - 1],
                                          radius=radius * SS, fill=255)
    return big.resize(size, Image.BOX)


def button(size, pressed):
    w, h = size
    if pressed:
        # darker, and lit from below as if the face sat lower than the frame
        frame = vgradient([(0, (176, 120, 44)), (h * 0.5, (206, 154, 64)), (h, (236, 196, 112))], size)
        body = vgradient([(0, (8, 22, 62)), (h * 0.45, (18, 44, 110)), (h, (34, 76, 162))], size)
    else:
        frame = vgradient([(0, (255, 232, 150)), (h * 0.5, (222, 170, 72)), (h, (150, 96, 30))], size)
        body = vgradient([(0, (56, 112, 214)), (h * 0.5, (24, 60, 146)), (h, (12, 32, 92))], size)
    outer = rounded_mask(size, 0, 11)
    line = rounded_mask(size, 3, 8)
    inner = rounded_mask(size, 4, 7)
    img = Image.new("RGB", size, (0, 0, 0))
    img = over(img, frame, outer)
    img = over(img, (10, 16, 36), line)
    img = over(img, body, inner)
    if pressed:
        # pushed in: a shadow falls from the top edge instead of a gloss
        shade = ImageChops.multiply(inner, column_mask(lambda y: 150 * max(0.0, 1 - (y - 4) / 12), size))
        img = over(img, (0, 0, 10), shade)
    else:
        gsize = (w - 8, h // 2 - 2)
        gloss = ImageChops.multiply(rounded_mask(gsize, 0, 6), column_mask(lambda y: 90 - 70 * y / (h // 2), gsize))
        full = Image.new("L", size, 0)
        full.paste(gloss, (4, 6))
        img = add_light(img, full, (200, 220, 255))
    font = load_font(BOLD, 22)
    text = "BẮT ĐẦU"
    x0, y0, x1, y1 = font.getbbox(text)
    x = (w - (x1 - x0)) // 2 - x0
    y = (h - (y1 - y0)) // 2 - y0 + (1 if pressed else 0)
    sh = blur(text_mask(size, (x + 1, y + 2), text, font, 1), 1.0)
    img = over(img, (0, 4, 20), ImageChops.multiply(scale(sh, 0.9), inner))
    img = over(img, (236, 222, 184) if pressed else (255, 244, 212), text_mask(size, (x, y), text, font))
    return Image.merge("RGBA", img.split() + (outer,))


def panel():
    """Black, from clear at the top to 87 % opaque at the bottom, under the news and progress texts."""
    size = (W, 213)
    black = Image.new("L", size, 0)
    return Image.merge("RGBA", (black, black, black, column_mask(lambda y: 222 * y / 212, size)))


def track():
    w, h = 1240, 6
    img = vgradient([(1, (8, 10, 18)), (h - 2, (16, 20, 32))], (w, h))
    ImageDraw.Draw(img).rectangle([0, 0, w - 1, h - 1], outline=(92, 98, 112))
    return img.convert("RGBA")


def fill():
    w, h = 1240, 4
    base = hgradient([(0, (0x1E, 0x5B, 0xFF)), (w - 1, (0x38, 0xE8, 0xFF))], (w, 1))
    rows = [(255, 255, 255, 0.38), (255, 255, 255, 0.14), (0, 0, 0, 0.0), (0, 0, 40, 0.2)]
    img = Image.new("RGB", (w, h))
    for y, (r, g, b, k) in enumerate(rows):
        img.paste(Image.blend(base, solid((r, g, b), (w, 1)), k), (0, y))
    return img.convert("RGBA")


def icon(n):
    """The emblem at n×n: a gold peak with a snow notch on a dark-blue rounded square."""
    s = n * SS
    k = s / 256

    def at_size(pts):
        return [(x * k, y * k) for x, y in pts]

    big = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    border = max(10 * k, 1.3 * SS)
    sq = Image.new("L", (s, s), 0)
    ImageDraw.Draw(sq).rounded_rectangle([0, 0, s - 1, s - 1], radius=int(48 * k), fill=255)
    inner = Image.new("L", (s, s), 0)
    ImageDraw.Draw(inner).rounded_rectangle([border, border, s - 1 - border, s - 1 - border],
                                            radius=int(max(1, 48 * k - border)), fill=255)
    gold = vgradient([(0, (255, 232, 150)), (s, (196, 128, 36))], (s, s))
    blue = vgradient([(0, (40, 84, 170)), (s, (8, 20, 58))], (s, s))
    peak = Image.new("L", (s, s), 0)
    d = ImageDraw.Draw(peak)
    d.polygon(at_size([(24, 212), (110, 50), (150, 122), (174, 92), (232, 212)]), fill=255)
    snow = Image.new("L", (s, s), 0)
    ImageDraw.Draw(snow).polygon(at_size([(110, 50), (137, 100), (120, 92), (107, 110), (94, 92), (83, 100)]), fill=255)
    body = Image.composite(gold, blue, peak)
    body = Image.composite(solid((255, 250, 232), (s, s)), body, snow)
    img = Image.composite(body, gold, inner)
    big.paste(img, (0, 0), sq)
    return big.resize((n, n), Image.BOX)


def setup_side():
    """The setup's finish page: the pagoda's strip of the dawn sky, 164 x 314 as NSIS wants it."""
    return bg_dawn().crop((410, 0, 711, 576)).resize((164, 314), Image.LANCZOS).convert("RGB")


# ---------------------------------------------------------------- output

def save_png(img, path):
    img.save(path, "PNG", compress_level=9, optimize=False)


def main(argv):
    if len(argv) != 2:
        sys.exit("usage: make_artwork.py OUTDIR")
    load_font(BOLD, 10)  # a missing font stops the run before anything is written
    out = os.path.abspath(argv[1])
    os.makedirs(out, exist_ok=True)
    jobs = [("bg203.png", bg_dawn), ("bg204.png", bg_dusk), ("bg205.png", bg_night),
            ("bg206.png", bg_forest), ("bg207.png", bg_snow), ("bg208.png", bg_desert),
            ("logo214.png", logo),
            ("panel199.png", panel),
            ("button168.png", lambda: button((221, 58), False)),
            ("button171.png", lambda: button((216, 57), True)),
            ("track198.png", track), ("fill197.png", fill)]
    for name, make in jobs:
        path = os.path.join(out, name)
        img = make()
        save_png(img, path)
        print("%-14s %4dx%-4d %8d bytes" % (name, img.size[0], img.size[1], os.path.getsize(path)))
    path = os.path.join(out, "setup164.bmp")
    setup_side().save(path, "BMP")
    print("%-14s %4dx%-4d %8d bytes" % ("setup164.bmp", 164, 314, os.path.getsize(path)))
    sizes = [16, 24, 32, 48, 64, 256]
    frames = [icon(n) for n in sizes]
    path = os.path.join(out, "icon196.ico")
    frames[-1].save(path, "ICO", sizes=[(n, n) for n in sizes], append_images=frames[:-1])
    print("%-14s %9s %8d bytes" % ("icon196.ico", "16..256", os.path.getsize(path)))


if __name__ == "__main__":
    main(sys.argv)
