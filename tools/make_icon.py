#!/usr/bin/env python3
"""Writes resources/vellumo-setup.ico: a light V on a dark rounded square, at
16, 32 and 48 pixels, 32-bit with alpha. Drawn here so the program carries no
borrowed art; run again only to change the icon."""
import struct
import sys

BACKGROUND = (0x23, 0x1D, 0x1B)  # blue, green, red
MARK = (0xF5, 0xB0, 0x5B)


def coverage(inside, x, y, samples=4):
    """The share of pixel (x, y) that `inside` covers, by supersampling."""
    hits = 0
    for i in range(samples):
        for j in range(samples):
            if inside(x + (i + 0.5) / samples, y + (j + 0.5) / samples):
                hits += 1
    return hits / (samples * samples)


def image(size):
    radius = size * 0.22

    def in_square(px, py):
        cx = min(max(px, radius), size - radius)
        cy = min(max(py, radius), size - radius)
        return (px - cx) ** 2 + (py - cy) ** 2 <= radius ** 2

    def near_segment(px, py, ax, ay, bx, by, half_width):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
        qx, qy = ax + t * dx, ay + t * dy
        return (px - qx) ** 2 + (py - qy) ** 2 <= half_width ** 2

    top, bottom, half = size * 0.26, size * 0.76, size * 0.08

    def in_mark(px, py):
        return (near_segment(px, py, size * 0.28, top, size * 0.5, bottom, half) or
                near_segment(px, py, size * 0.72, top, size * 0.5, bottom, half))

    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up, as a bitmap is stored
        row = b""
        for x in range(size):
            alpha = coverage(in_square, x, y)
            mark = coverage(in_mark, x, y)
            colour = [round(b + (m - b) * mark) for b, m in zip(BACKGROUND, MARK)]
            row += bytes(colour) + bytes([round(alpha * 255)])
        rows.append(row)
    pixels = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)  # alpha decides; the AND mask shows all
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask),
                         0, 0, 0, 0)
    return header + pixels + mask


def main(path):
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/vellumo-setup.ico")
