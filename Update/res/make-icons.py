#!/usr/bin/env python3
"""Adds 20- and 24-pixel images to the updater's icons, drawn from their 32-pixel image.

The shell asks for the small-icon size of the current DPI: 16 at 100 %, 20 at 125 %, 24 at 150 %,
32 at 200 %. Without an image of that size Windows stretches the nearest one and blurs it. The new
images keep the 32-pixel picture: the same 16-colour palette, a one-pixel frame inside a margin, and
the inside sampled pixel for pixel (nearest neighbour), so edges stay hard.
Usage: make-icons.py ICO [ICO...]   (rewrites each file; images already there are kept as they are)
"""
import struct
import sys

NEW_SIZES = (20, 24)


def read_ico(path):
    data = open(path, 'rb').read()
    _, kind, count = struct.unpack_from('<HHH', data, 0)
    assert kind == 1, path + ' is not an icon'
    entries = []
    for i in range(count):
        w, h, colours, _, planes, bits, size, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
        entries.append({'w': w or 256, 'h': h or 256, 'colours': colours, 'planes': planes,
                        'bits': bits, 'data': data[offset:offset + size]})
    return entries


def row_bytes(width, bits):
    return ((width * bits + 31) // 32) * 4


def decode_4bit(entry):
    """(palette, pixels) with pixels[y][x] a palette index or None where the mask is transparent."""
    dib = entry['data']
    header_size, w, h2, _, bits = struct.unpack_from('<IiiHH', dib, 0)
    assert bits == 4, 'only 16-colour images are drawn from'
    h = h2 // 2
    palette = dib[header_size:header_size + 16 * 4]
    xor_at = header_size + 16 * 4
    xor_row, and_row = row_bytes(w, 4), row_bytes(w, 1)
    and_at = xor_at + xor_row * h
    pixels = []
    for y in range(h):
        src = h - 1 - y  # bottom-up rows
        row = []
        for x in range(w):
            byte = dib[xor_at + src * xor_row + x // 2]
            index = byte >> 4 if x % 2 == 0 else byte & 0x0F
            masked = dib[and_at + src * and_row + x // 8] >> (7 - x % 8) & 1
            row.append(None if masked else index)
        pixels.append(row)
    return palette, pixels


def encode_4bit(palette, pixels):
    h, w = len(pixels), len(pixels[0])
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    xor_row, and_row = row_bytes(w, 4), row_bytes(w, 1)
    xor, mask = bytearray(), bytearray()
    for y in reversed(range(h)):
        line, bitsline = bytearray(xor_row), bytearray(and_row)
        for x, index in enumerate(pixels[y]):
            if index is None:
                bitsline[x // 8] |= 0x80 >> (x % 8)
                index = 0
            line[x // 2] |= index << 4 if x % 2 == 0 else index
        xor += line
        mask += bitsline
    return header + palette + bytes(xor) + bytes(mask)


def bounds(pixels):
    rows = [y for y, row in enumerate(pixels) if any(p is not None for p in row)]
    cols = [x for x in range(len(pixels[0])) if any(row[x] is not None for row in pixels)]
    return cols[0], rows[0], cols[-1], rows[-1]


def draw(pixels, size):
    """The picture at size: frame at the source's relative margin, the inside sampled from the source's."""
    left, top, right, bottom = bounds(pixels)
    frame = pixels[top][left]
    source_inside = right - left - 1  # pixels between the frame's columns
    margin = round(left * size / len(pixels))
    inside = size - 2 * margin - 2
    out = [[None] * size for _ in range(size)]
    for y in range(margin, size - margin):
        for x in range(margin, size - margin):
            if y in (margin, size - margin - 1) or x in (margin, size - margin - 1):
                out[y][x] = frame
            else:
                # each pixel takes the source pixel under its centre
                sx = left + 1 + int(((x - margin - 1) + 0.5) * source_inside / inside)
                sy = top + 1 + int(((y - margin - 1) + 0.5) * source_inside / inside)
                out[y][x] = pixels[sy][sx]
    return out


def write_ico(path, entries):
    entries = sorted(entries, key=lambda e: -e['w'])
    out = bytearray(struct.pack('<HHH', 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for e in entries:
        out += struct.pack('<BBBBHHII', e['w'] % 256, e['h'] % 256, e['colours'], 0, e['planes'], e['bits'],
                           len(e['data']), offset)
        offset += len(e['data'])
    for e in entries:
        out += e['data']
    open(path, 'wb').write(bytes(out))


for path in sys.argv[1:]:
    entries = read_ico(path)
    source = next(e for e in entries if e['w'] == 32 and e['bits'] == 4)
    palette, pixels = decode_4bit(source)
    have = {e['w'] for e in entries}
    for size in NEW_SIZES:
        if size not in have:
            entries.append({'w': size, 'h': size, 'colours': 16, 'planes': 1, 'bits': 4,
                            'data': encode_4bit(palette, draw(pixels, size))})
    write_ico(path, entries)
