#!/usr/bin/env python3
"""Draws the program's pictures: the application icon (32x32 and 16x16, 16
colours, as PNG, and one Windows icon file holding 16, 24, 32, 48, 64 and
256 pixels, the largest PNG-compressed) and the picture of the "..." browse
buttons (16x13, 8 bits per pixel with a 256-entry palette, uncompressed BMP),
with its larger sizes for 125, 150 and 200 % displays (browse-125.bmp ...).
Run from this folder; the output is deterministic."""
import math
import struct
import zlib

# The 16 colours of the classic palette; index 16 marks transparency.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
       (255, 0, 255), (0, 255, 255), (255, 255, 255)]
CLEAR, BLACK, NAVY, GREY, SILVER, BLUE, YELLOW, OLIVE, WHITE = 16, 0, 4, 8, 7, 12, 11, 3, 15


def icon(size):
    """A blue disc with a white loudspeaker and three sound arcs."""
    s = size / 32.0
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            cx, cy = (x + 0.5) / s, (y + 0.5) / s  # in 32-pixel coordinates
            r = math.hypot(cx - 16, cy - 16)
            colour = CLEAR
            if r <= 15.5:
                colour = NAVY if r > 14 else BLUE
                # speaker: a box and a cone opening to the right
                if 7 <= cx <= 11 and 13 <= cy <= 19:
                    colour = WHITE
                if 11 <= cx <= 16 and abs(cy - 16) <= 3 + (cx - 11) * 1.1:
                    colour = WHITE
                # sound arcs centred on the cone's mouth
                a = math.hypot(cx - 16, cy - 16)
                if cx > 17 and abs(cy - 16) < (cx - 15) * 1.2:
                    # two arcs a pixel wide at 16x16, three from 32x32 up, as wide as
                    # at 32x32 in the larger sizes
                    for radius in ((5, 10.5) if size < 32 else (4.5, 8, 11.5)):
                        if abs(a - radius) < (0.55 if size < 32 else 0.9) / min(s, 1.0):
                            colour = YELLOW
            row.append(colour)
        pixels.append(row)
    return pixels


def browse():
    """A small open folder."""
    art = [
        "................",
        "................",
        ".KKKK...........",
        "KYYYYK..........",
        "KYWYYKKKKKKKK...",
        "KYWYYYYYYYYYK...",
        "KYWYKKKKKKKKKKK.",
        "KYWKYYYYYYYYYYK.",
        "KYKYYYYYYYYYYK..",
        "KKYYYYYYYYYYYK..",
        "KYYYYYYYYYYYK...",
        "KKKKKKKKKKKKK...",
        "................",
    ]
    table = {".": SILVER, "K": BLACK, "Y": YELLOW, "W": WHITE}
    return [[table[c] for c in row] for row in art]


# The folder of browse() in its own 16 x 13 units, for the larger sizes: the
# back with its tab, and the open front flap leaning right.
FOLDER_BACK = [(0, 3), (1, 2), (5, 2), (6, 4), (13, 4), (13, 12), (0, 12)]
FOLDER_FLAP = [(4.5, 6), (15, 6), (12.5, 12), (0, 12)]


def inside(polygon, x, y):
    hit = False
    for (x1, y1), (x2, y2) in zip(polygon, polygon[1:] + polygon[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            hit = not hit
    return hit


def edge_distance(polygon, x, y):
    best = float("inf")
    for (x1, y1), (x2, y2) in zip(polygon, polygon[1:] + polygon[:1]):
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
        best = min(best, math.hypot(x - x1 - t * dx, y - y1 - t * dy))
    return best


def browse_scaled(percent):
    """browse() drawn again at `percent` of its size, with outlines one
    scaled pixel wide, so that it stays sharp on a high-DPI display."""
    s = percent / 100.0
    width, height = round(16 * s), round(13 * s)
    pixels = []
    for y in range(height):
        row = []
        for x in range(width):
            u, v = (x + 0.5) / s, (y + 0.5) / s
            colour = SILVER
            for shape in (FOLDER_BACK, FOLDER_FLAP):
                if inside(shape, u, v):
                    colour = BLACK if edge_distance(shape, u, v) < 1 else YELLOW
                    # the light falling on the back's left inside edge
                    if shape is FOLDER_BACK and colour == YELLOW and 2 <= u < 3 and 4 <= v < 8:
                        colour = WHITE
            row.append(colour)
        pixels.append(row)
    return pixels


def png_data(pixels):
    height, width = len(pixels), len(pixels[0])
    palette = b"".join(bytes(c) for c in VGA) + bytes(3)
    alpha = bytes([255] * 16 + [0])
    raw = b""
    for row in pixels:
        raw += b"\0" + bytes(row)  # 8 bits per index keeps the writer simple
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0)) +
            chunk(b"PLTE", palette) + chunk(b"tRNS", alpha) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def write_png(path, pixels):
    with open(path, "wb") as out:
        out.write(png_data(pixels))


def write_bmp(path, pixels):
    height, width = len(pixels), len(pixels[0])
    stride = (width + 3) & ~3
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in VGA) + bytes(4 * (256 - len(VGA)))
    rows = b"".join(bytes(row) + bytes(stride - width) for row in reversed(pixels))
    offset = 14 + 40 + len(palette)
    with open(path, "wb") as out:
        out.write(b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset))
        out.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(rows), 3780, 3780, 256, 0))
        out.write(palette + rows)


def icon_image(pixels):
    """One icon image: a 4-bit colour bitmap of double height (the colours,
    then the transparency mask, both bottom-up), as the icon format wants."""
    size = len(pixels)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in VGA)
    colour_stride = ((size * 4 + 31) // 32) * 4
    mask_stride = ((size + 31) // 32) * 4
    colours = b""
    mask = b""
    for row in reversed(pixels):
        nibbles = [0 if c == CLEAR else c for c in row]
        packed = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        colours += packed + bytes(colour_stride - len(packed))
        bits = 0
        for x, c in enumerate(row):
            if c == CLEAR:
                bits |= 1 << (size - 1 - x)
        line = bits.to_bytes((size + 7) // 8, "big")
        mask += line + bytes(mask_stride - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(colours) + len(mask), 0, 0, 16, 0)
    return header + palette + colours + mask


def write_ico(path, images):
    """The 256-pixel image goes in as PNG, as icon files allow from then on."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for pixels in images:
        size = len(pixels)
        image = png_data(pixels) if size >= 256 else icon_image(pixels)
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(image),
                                 offset + len(data))
        data += image
    with open(path, "wb") as out:
        out.write(directory + data)


if __name__ == "__main__":
    write_png("larkspool-32.png", icon(32))
    write_png("larkspool-16.png", icon(16))
    write_ico("larkspool.ico", [icon(size) for size in (256, 64, 48, 32, 24, 16)])
    write_bmp("browse.bmp", browse())
    for percent in (125, 150, 200):
        write_bmp(f"browse-{percent}.bmp", browse_scaled(percent))
