"""Draw the uninstaller icon: a blue telephone handset on a transparent background.

The handset is a thick quarter arc running from the upper left to the lower
right, bulging towards the lower left, with a wider pad at each end for the
earpiece and the mouthpiece. The outline is a signed distance function in unit
coordinates, sampled on a sub-pixel grid, so every size comes from the same
shape with antialiased edges.

Usage: python draw_icon.py OUT.ico

The .ico holds twelve uncompressed DIB images, in this order:
    16x16, 32x32, 48x48, each at 4, 8, 24 and 32 bits per pixel.
Each image is a 40-byte BITMAPINFOHEADER (height doubled), the palette
(16 VGA colours for 4 bpp, a 6x6x6 cube plus 40 greys for 8 bpp, none
otherwise), the bottom-up XOR bitmap and the bottom-up 1-bpp AND mask
(1 = transparent). The 32-bpp images also carry a real alpha channel, and
their mask is set exactly where alpha is 0.
"""
import math
import struct
import sys

SIZES = (16, 32, 48)
DEPTHS = (4, 8, 24, 32)
BLUE = (24, 96, 232)

# Handset geometry, in units of the icon's width (y grows downwards).
CENTER = (0.90, 0.11)               # centre of the handle's arc, near the top right
RADIUS = 0.74                       # radius of the handle's centre line
HANDLE = 0.10                       # half the thickness of the handle
ARC_FROM, ARC_TO = 98.0, 172.0      # arc runs from nearly straight down to nearly left
PAD_RADIUS = 0.14                   # half the width of the ear/mouth pieces
PAD_REACH = 0.14                    # how far the pads reach in towards the centre


def point_on_arc(angle, radius):
    a = math.radians(angle)
    return CENTER[0] + radius * math.cos(a), CENTER[1] + radius * math.sin(a)


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def handset_distance(x, y):
    """Signed distance from (x, y) to the handset outline; negative inside."""
    angle = math.degrees(math.atan2(y - CENTER[1], x - CENTER[0])) % 360.0
    if ARC_FROM <= angle <= ARC_TO:
        handle = abs(math.hypot(x - CENTER[0], y - CENTER[1]) - RADIUS)
    else:
        handle = min(math.dist((x, y), point_on_arc(a, RADIUS)) for a in (ARC_FROM, ARC_TO))
    best = handle - HANDLE
    outer = RADIUS + HANDLE - PAD_RADIUS
    for angle in (ARC_FROM, ARC_TO):
        ax, ay = point_on_arc(angle, outer)
        bx, by = point_on_arc(angle, outer - PAD_REACH)
        best = min(best, segment_distance(x, y, ax, ay, bx, by) - PAD_RADIUS)
    return best


def coverage(size, samples=4):
    """Per-pixel alpha (0.0-1.0), top row first: the share of each pixel's area
    inside the handset, estimated from a grid of sub-pixel distance samples."""
    margin = 0.5 / 16  # keep half a pixel clear at 16x16, and as much at all sizes
    span = 1.0 - 2 * margin

    def unit(p):  # pixel coordinate -> handset coordinate
        return (p / size - margin) / span

    ramp = size * samples / span  # blend each sample over its own width
    offsets = [(k + 0.5) / samples for k in range(samples)]

    def pixel(i, j):
        return sum(max(0.0, min(1.0, 0.5 - ramp * handset_distance(unit(i + u), unit(j + v))))
                   for u in offsets for v in offsets) / samples ** 2

    return trim_spurs([[pixel(i, j) for i in range(size)] for j in range(size)])


def trim_spurs(alpha):
    """Fade lone pixels poking out of a round edge (at most one solid 4-neighbour)
    to just under half, so they drop out of the two-level masks."""
    size = len(alpha)

    def solid(i, j):
        return 0 <= i < size and 0 <= j < size and alpha[j][i] >= 0.5

    spurs = [(i, j) for j in range(size) for i in range(size) if solid(i, j) and
             sum(solid(i + di, j + dj) for di, dj in ((1, 0), (-1, 0), (0, 1), (0, -1))) <= 1]
    for i, j in spurs:
        alpha[j][i] = 0.45
    return alpha


VGA_PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
               (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
               (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
               (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
CUBE_PALETTE = ([(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
                + [(round(k * 255 / 41),) * 3 for k in range(1, 41)])  # 216 + 40 greys


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda k: sum((p - c) ** 2 for p, c in zip(palette[k], colour)))


def padded(row):
    return row + b"\0" * (-len(row) % 4)


def pack_bits(values, bpp):
    """Pack small integers MSB-first into bytes (for 1- and 4-bpp rows)."""
    per_byte = 8 // bpp
    return bytes(sum(v << (8 - bpp * (n + 1)) for n, v in enumerate(values[k:k + per_byte]))
                 for k in range(0, len(values), per_byte))


def render(size, bpp):
    """One icon image: BITMAPINFOHEADER, palette, XOR rows, then AND rows."""
    alpha = [[round(a * 255) for a in row] for row in coverage(size)]
    palette = {4: VGA_PALETTE, 8: CUBE_PALETTE}.get(bpp, [])
    ink = nearest(palette, BLUE) if palette else 0
    bgr = bytes(reversed(BLUE))
    xor_rows, and_rows = [], []
    for row in reversed(alpha):  # DIBs are stored bottom-up
        solid = [a >= 128 for a in row]
        if bpp == 4:
            xor = pack_bits([ink * s for s in solid], 4)
        elif bpp == 8:
            xor = bytes(ink * s for s in solid)
        elif bpp == 24:
            xor = b"".join(bgr if s else bytes(3) for s in solid)
        else:
            xor = b"".join(bgr + bytes([a]) if a else bytes(4) for a in row)
        xor_rows.append(padded(xor))
        # With alpha, the mask only covers what is fully clear, so the XOR colour is
        # black wherever the mask is set; otherwise the mask is the solid shape.
        clear = [a == 0 for a in row] if bpp == 32 else [not s for s in solid]
        and_rows.append(padded(pack_bits(clear, 1)))
    bits = b"".join(xor_rows) + b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bpp, 0, len(bits), 0, 0, 0, 0)
    return header + b"".join(bytes((b, g, r, 0)) for r, g, b in palette) + bits


def build_icon():
    images = [(size, bpp, render(size, bpp)) for size in SIZES for bpp in DEPTHS]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = len(out) + 16 * len(images)
    for size, bpp, data in images:
        out += struct.pack("<BBBBHHII", size, size, 16 if bpp == 4 else 0, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: draw_icon.py OUT.ico")
    with open(sys.argv[1], "wb") as f:
        f.write(build_icon())
