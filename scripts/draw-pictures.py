#!/usr/bin/env python3
"""Draws the two pointer pictures that sit beside the executable.

  HAND-M.CUR  the hand shown over the buttons; its hot spot is the tip of the index finger
  drag.ico    the image the source list shows while an entry is carried to another place

Both are 32x32, 32-bit with an alpha channel, in the Windows icon/cursor file format that
Qt's "ico" image reader understands. Run it again after changing a drawing below; the
results are kept in assets/.
"""
import struct
import sys
from pathlib import Path

# "X" black outline, "o" white fill, "." transparent. Rows shorter than 32 are padded.
HAND = """
.....XX
....XooX
....XooX
....XooX
....XooX
....XooXXX
....XooXooXXX
....XooXooXooXX
....XooXooXooXoX
XX..XooXooXooXooX
XoX.XoooooooooooX
XooXXoooooooooooX
.XooXoooooooooooX
..XoXoooooooooooX
..XooooooooooooX
...XoooooooooooX
...XooooooooooX
....XoooooooooX
....XoooooooooX
.....XoooooooX
.....XoooooooX
.....XXXXXXXXX
"""
HAND_HOT_SPOT = (5, 1)

DRAG = """
......................
..XXXXXXXXXX..........
..XooooooooXX.........
..XooooooooXoX........
..XooooooooXXXX.......
..XoooooooooooX...X...
..XoXXXXXXXXooX..XXX..
..XoooooooooooX.XXXXX.
..XoXXXXXXXXooX...X...
..XoooooooooooX...X...
..XoXXXXXXXXooX...X...
..XoooooooooooX...X...
..XoXXXXXXXXooX...X...
..XoooooooooooX.XXXXX.
..XoXXXXXXXXooX..XXX..
..XoooooooooooX...X...
..XXXXXXXXXXXXX.......
"""

SIZE = 32
COLOURS = {"X": (0, 0, 0, 255), "o": (255, 255, 255, 255), ".": (0, 0, 0, 0)}


def pixels(drawing):
    rows = [row for row in drawing.strip("\n").split("\n")]
    grid = [(row + "." * SIZE)[:SIZE] for row in rows] + ["." * SIZE] * (SIZE - len(rows))
    return grid[:SIZE]


def icon_file(drawing, kind, hot_spot=(0, 0)):
    grid = pixels(drawing)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(grid):  # bitmaps are stored bottom-up
        bits = 0
        for x, cell in enumerate(row):
            b, g, r, a = COLOURS[cell][2], COLOURS[cell][1], COLOURS[cell][0], COLOURS[cell][3]
            colour += bytes((b, g, r, a))
            if a == 0:
                bits |= 1 << (SIZE - 1 - x)
        mask += bits.to_bytes(SIZE // 8, "big")
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    image = header + colour + mask
    planes_or_x, bits_or_y = (hot_spot if kind == 2 else (1, 32))
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, planes_or_x, bits_or_y, len(image), 6 + 16)
    return struct.pack("<HHH", 0, kind, 1) + entry + image


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "assets"
    out.mkdir(parents=True, exist_ok=True)
    (out / "HAND-M.CUR").write_bytes(icon_file(HAND, 2, HAND_HOT_SPOT))
    (out / "drag.ico").write_bytes(icon_file(DRAG, 1))


if __name__ == "__main__":
    main()
