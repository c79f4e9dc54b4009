#!/usr/bin/env python3
# Writes the programs' icon (a chip with a green arrow into it) as a Windows .ico of 16, 32 and 48
# pixels: make-icon.py OUT.ico
import struct, sys

def picture(side):
    px = [[(0, 0, 0, 0)] * side for _ in range(side)]
    def at(u): return u * side // 28
    def fill(x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(side, y1)):
            for x in range(max(0, x0), min(side, x1)):
                px[y][x] = c
    pins, body, outline, arrow = (150, 150, 160, 255), (40, 40, 48, 255), (0, 0, 0, 255), (0, 160, 0, 255)
    for i in range(4):
        fill(at(3), at(15 + i * 3), at(7), at(16 + i * 3) + 1, pins)
        fill(at(21), at(15 + i * 3), at(25), at(16 + i * 3) + 1, pins)
    fill(at(7), at(14), at(21), at(26), outline)
    fill(at(7) + 1, at(14) + 1, at(21) - 1, at(26) - 1, body)
    fill(at(11), at(1), at(17), at(7), arrow)
    for y in range(at(7), at(13) + 1):  # the arrow's head, narrowing downwards
        half = (at(13) - y) * (at(20) - at(8)) // (2 * max(1, at(13) - at(7)))
        fill(at(14) - half, y, at(14) + half + 1, y + 1, arrow)
    return px

def entry(side):
    px = picture(side)
    header = struct.pack('<IiiHHIIiiII', 40, side, side * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b''.join(bytes(b for (r, g, bl, a) in px[y] for b in (bl, g, r, a)) for y in reversed(range(side)))
    stride = ((side + 31) // 32) * 4
    mask = b''.join(bytes(stride) for _ in range(side))  # the alpha channel does the masking
    return header + rows + mask

sizes = [16, 32, 48]
images = [entry(s) for s in sizes]
out = struct.pack('<HHH', 0, 1, len(sizes))
offset = 6 + 16 * len(sizes)
for s, img in zip(sizes, images):
    out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(img), offset)
    offset += len(img)
out += b''.join(images)
open(sys.argv[1], 'wb').write(out)
