#!/usr/bin/env python3
"""Draws the application icon and the fallback favicon (no external images).

The icon: a dark rounded square with a cyan shield and a keyhole.
Run from the repository root; writes resources/icons/*.png and the desktop
theme sizes resources/icons/hicolor/<n>x<n>/apps/<APP_ID>.png.
"""
import math, struct, zlib, sys, os

def png(path, w, h, px):
    raw = b''.join(b'\x00' + bytes(px[y*w*4:(y+1)*w*4]) for y in range(h))
    def chunk(t, d):
        c = struct.pack('>I', len(d)) + t + d
        return c + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0))
    data += chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(data)

def blend(px, w, x, y, rgb, a):
    i = (y*w + x)*4
    sa = px[i+3] / 255.0
    na = a + sa*(1-a)
    if na <= 0:
        return
    for k in range(3):
        px[i+k] = int((rgb[k]*a + px[i+k]*sa*(1-a)) / na)
    px[i+3] = int(na*255)

def shield_inside(u, v):
    # u, v in [-1, 1]; flat top, curved sides meeting in a point at the bottom
    if v < -0.75 or v > 0.95:
        return False
    half = 0.72 if v < 0.05 else 0.72 * math.sqrt(max(0.0, 1 - ((v-0.05)/0.9)**2))
    return abs(u) <= half

def draw(size, path, keyhole=True):
    w = h = size
    px = bytearray(w*h*4)
    ss = 4
    r = size*0.22
    for y in range(h):
        for x in range(w):
            cov_bg = cov_sh = cov_in = cov_key = 0
            for sy in range(ss):
                for sx in range(ss):
                    fx = x + (sx+0.5)/ss; fy = y + (sy+0.5)/ss
                    # rounded square
                    dx = max(r - fx, 0, fx - (w - r)); dy = max(r - fy, 0, fy - (h - r))
                    if dx*dx + dy*dy <= r*r:
                        cov_bg += 1
                    u = (fx - w/2) / (w*0.40); v = (fy - h/2) / (h*0.40)
                    if shield_inside(u, v):
                        cov_sh += 1
                        if shield_inside(u/0.80, (v-0.02)/0.80):
                            cov_in += 1
                    if keyhole:
                        ku = (fx - w/2)/(w*0.40); kv = (fy - h/2)/(h*0.40)
                        if ku*ku + (kv+0.12)**2 <= 0.16**2 or (abs(ku) <= 0.07 + 0.08*(kv+0.12) and -0.12 <= kv <= 0.42):
                            cov_key += 1
            n = ss*ss
            if cov_bg:
                blend(px, w, x, y, (24, 24, 27), cov_bg/n)
            ring = (cov_sh - cov_in)/n
            if ring > 0:
                blend(px, w, x, y, (0, 229, 255), ring)
            if cov_in:
                blend(px, w, x, y, (12, 40, 48), cov_in/n)
            if cov_key:
                blend(px, w, x, y, (0, 229, 255), cov_key/n)
    png(path, w, h, px)

# Must match the desktop entry and AppStream id (cmake/Packaging.cmake).
APP_ID = 'net.orvexvpn.OrvexBrowser'
HICOLOR_SIZES = (16, 32, 48, 64, 128, 256)

if __name__ == '__main__':
    out = sys.argv[1] if len(sys.argv) > 1 else 'resources/icons'
    os.makedirs(out, exist_ok=True)
    draw(256, os.path.join(out, 'orvex_icon.png'))
    draw(32, os.path.join(out, 'default-favicon.png'), keyhole=False)
    # Each size drawn at its own resolution rather than scaled down, so the
    # small ones stay sharp.
    for n in HICOLOR_SIZES:
        d = os.path.join(out, 'hicolor', '%dx%d' % (n, n), 'apps')
        os.makedirs(d, exist_ok=True)
        draw(n, os.path.join(d, APP_ID + '.png'))
