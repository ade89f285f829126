"""Pictures for the real-OBS test: BMP files as obs-websocket sends them, and
the reference sender's test picture (see ostrelin-sender --help)."""

import struct


def parse_bmp(data):
    """(width, height, rows) of a 24- or 32-bit uncompressed BMP; rows are
    top to bottom, each a list of (r, g, b)."""
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    (pixel_offset,) = struct.unpack_from("<I", data, 10)
    header_size, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    if header_size < 40 or bits not in (24, 32) or compression not in (0, 3):
        raise ValueError(f"unexpected BMP layout: header {header_size}, {bits} bits, compression {compression}")
    if compression == 3:
        masks = struct.unpack_from("<III", data, 54)
        if masks != (0x00FF0000, 0x0000FF00, 0x000000FF):
            raise ValueError(f"unexpected BMP colour masks {[hex(m) for m in masks]}")
    bottom_up = height > 0
    height = abs(height)
    step = bits // 8
    stride = (width * step + 3) & ~3
    if pixel_offset + stride * height > len(data):
        raise ValueError("BMP file shorter than its pixel rows")
    rows = []
    for y in range(height):
        row_index = height - 1 - y if bottom_up else y
        base = pixel_offset + row_index * stride
        row = data[base : base + width * step]
        rows.append([(row[i + 2], row[i + 1], row[i]) for i in range(0, len(row), step)])
    return width, height, rows


def rgb_from_bt709_limited(y, u, v):
    luma = 1.164 * (y - 16)
    r = luma + 1.793 * (v - 128)
    g = luma - 0.213 * (u - 128) - 0.533 * (v - 128)
    b = luma + 2.112 * (u - 128)
    return tuple(min(255, max(0, round(c))) for c in (r, g, b))


# The sender's test picture (see ostrelin-sender --help).
RED = rgb_from_bt709_limited(63, 102, 240)
BLUE = rgb_from_bt709_limited(32, 240, 118)
BARS = [
    rgb_from_bt709_limited(*yuv)
    for yuv in [
        (235, 128, 128),
        (219, 16, 138),
        (188, 154, 16),
        (173, 42, 26),
        (78, 214, 230),
        (63, 102, 240),
        (32, 240, 118),
        (16, 128, 128),
    ]
]
TOLERANCE = 40


def close_to(pixel, colour, tolerance=TOLERANCE):
    return all(abs(a - b) <= tolerance for a, b in zip(pixel, colour))


def sample(rows, width, height, x0, x1, y0, y1, steps=12):
    """Pixels on a grid over the fractions [x0, x1) x [y0, y1) of the picture."""
    points = []
    for j in range(steps):
        y = int((y0 + (y1 - y0) * (j + 0.5) / steps) * height)
        for i in range(steps):
            x = int((x0 + (x1 - x0) * (i + 0.5) / steps) * width)
            points.append(rows[y][x])
    return points


def pattern_problems(width, height, rows):
    """What keeps this picture from being the sender's test picture: an
    empty list when the red and blue quarters and the bars are there."""
    problems = []
    # Margins keep clear of scaled edges and of the frame counter at the top
    # of the blue quarter (one block high, 1/32 of the width).
    red = sample(rows, width, height, 0.05, 0.45, 0.1, 0.45)
    blue = sample(rows, width, height, 0.55, 0.95, 0.2, 0.45)
    wrong_red = [p for p in red if not close_to(p, RED)]
    wrong_blue = [p for p in blue if not close_to(p, BLUE)]
    if wrong_red:
        problems.append(f"top-left quarter: {len(wrong_red)}/{len(red)} pixels not red {RED}, e.g. {wrong_red[0]}")
    if wrong_blue:
        problems.append(f"top-right quarter: {len(wrong_blue)}/{len(blue)} pixels not blue {BLUE}, e.g. {wrong_blue[0]}")
    bar_row = rows[int(height * 0.75)]
    seen = {i for pixel in bar_row for i, colour in enumerate(BARS) if close_to(pixel, colour, 30)}
    if len(seen) < 8:
        problems.append(f"bottom half: only {len(seen)} of the 8 bar colours")
    return problems


def bottom_half_difference(first, second):
    """Mean absolute difference of two pictures' bottom halves."""
    width, height, rows_a = first
    _, _, rows_b = second
    total = 0
    count = 0
    for y in range(height // 2 + 2, height, 4):
        for x in range(0, width, 4):
            total += sum(abs(a - b) for a, b in zip(rows_a[y][x], rows_b[y][x]))
            count += 3
    return total / count
