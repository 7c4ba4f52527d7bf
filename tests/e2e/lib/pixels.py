#!/usr/bin/env python3
"""Pixel checks for the end-to-end screenshots, and the test pictures.

Screenshots are binary PPM files (ImageMagick: `import -window root x.ppm`).
Colours are written RRGGBB in hexadecimal. Boxes are X0 Y0 X1 Y1 with the
ends exclusive. Every command prints one line, so a test compares it exactly.

  at SHOT X Y                   the colour at (X, Y)
  near SHOT X Y COLOUR TOL      "yes" when each component is within TOL, else the colour
  between SHOT X Y C1 C2        "yes" when each component lies between those of C1 and C2
  count SHOT COLOUR [BOX]       pixels of exactly COLOUR (in BOX, default the whole shot)
  bbox SHOT COLOUR [BOX]        the smallest box holding them, or "none"
  shift SHOT C1 C2 MAX [BOX]    the offset (dx dy, each 0..MAX) that carries the most
                                C1 pixels onto C2 pixels
  only SHOT COLOUR SKIPBOX SAMPLES
                                "yes" when every SAMPLES-th pixel outside SKIPBOX
                                has COLOUR, else the first one that has not
  samples SHOT SAMPLE...        "yes" when every sample holds, else the first that does not:
                                X,Y=COLOUR exactly, X,Y~COLOUR within 3 per component,
                                X,Y<C1/C2 each component between those of C1 and C2
  bmp OUT W H BITS QUADRANTS    writes a bottom-up .BMP of W x H pixels, BITS 24 or 8,
                                whose four quadrants (top left, top right, bottom left,
                                bottom right) have the colours C1,C2,C3,C4
"""
import struct
import sys


def load(path):
    data = open(path, "rb").read()
    fields = []
    i = 0
    # Header: magic, width, height, maxval, separated by white space; comments start with '#'.
    while len(fields) < 4:
        while data[i:i + 1].isspace():
            i += 1
        if data[i:i + 1] == b"#":
            while data[i:i + 1] not in (b"\n", b""):
                i += 1
            continue
        j = i
        while not data[j:j + 1].isspace():
            j += 1
        fields.append(data[i:j])
        i = j
    i += 1
    if fields[0] != b"P6" or int(fields[3]) != 255:
        sys.exit("pixels.py: %s is not an 8-bit binary PPM" % path)
    return int(fields[1]), int(fields[2]), data[i:]


def colour(text):
    v = int(text, 16)
    return (v >> 16) & 255, (v >> 8) & 255, v & 255


def hexc(rgb):
    return "%02X%02X%02X" % rgb


class Shot:
    def __init__(self, path):
        self.w, self.h, self.px = load(path)

    def at(self, x, y):
        o = (y * self.w + x) * 3
        return tuple(self.px[o:o + 3])

    def box(self, args):
        if args:
            x0, y0, x1, y1 = (int(a) for a in args)
            return max(0, x0), max(0, y0), min(self.w, x1), min(self.h, y1)
        return 0, 0, self.w, self.h

    def points(self, rgb, box):
        x0, y0, x1, y1 = box
        want = bytes(rgb)
        for y in range(y0, y1):
            row = self.px[(y * self.w) * 3:((y + 1) * self.w) * 3]
            start = x0 * 3
            while True:
                k = row.find(want, start, x1 * 3)
                if k < 0:
                    break
                if k % 3 == 0:
                    yield k // 3, y
                    start = k + 3
                else:
                    start = k + 1


def write_bmp(path, w, h, bits, colours):
    palette = colours if bits == 8 else []
    rowbytes = ((w * bits + 31) // 32) * 4
    rows = []
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(w):
            q = (2 if y >= h // 2 else 0) + (1 if x >= w // 2 else 0)
            if bits == 8:
                row.append(q)
            else:
                r, g, b = colours[q]
                row += bytes((b, g, r))
        row += b"\0" * (rowbytes - len(row))
        rows.append(bytes(row))
    table = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    bits_data = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(bits_data), 2835, 2835, len(palette), 0)
    offset = 14 + len(info) + len(table)
    head = struct.pack("<2sIHHI", b"BM", offset + len(bits_data), 0, 0, offset)
    open(path, "wb").write(head + info + table + bits_data)


def main(argv):
    cmd = argv[0]
    if cmd == "bmp":
        out, w, h, bits = argv[1], int(argv[2]), int(argv[3]), int(argv[4])
        write_bmp(out, w, h, bits, [colour(c) for c in argv[5].split(",")])
        return
    s = Shot(argv[1])
    a = argv[2:]
    if cmd == "at":
        print(hexc(s.at(int(a[0]), int(a[1]))))
    elif cmd == "near":
        got, want, tol = s.at(int(a[0]), int(a[1])), colour(a[2]), int(a[3])
        print("yes" if all(abs(g - w) <= tol for g, w in zip(got, want)) else hexc(got))
    elif cmd == "between":
        got, c1, c2 = s.at(int(a[0]), int(a[1])), colour(a[2]), colour(a[3])
        ok = all(min(p, q) <= g <= max(p, q) for g, p, q in zip(got, c1, c2))
        print("yes" if ok else hexc(got))
    elif cmd == "count":
        print(sum(1 for _ in s.points(colour(a[0]), s.box(a[1:5]))))
    elif cmd == "bbox":
        pts = list(s.points(colour(a[0]), s.box(a[1:5])))
        if not pts:
            print("none")
        else:
            xs = [p[0] for p in pts]
            ys = [p[1] for p in pts]
            print(min(xs), min(ys), max(xs) + 1, max(ys) + 1)
    elif cmd == "shift":
        box = s.box(a[3:7])
        first = set(s.points(colour(a[0]), box))
        second = set(s.points(colour(a[1]), box))
        limit = int(a[2])
        best = max(((sum(1 for (x, y) in first if (x + dx, y + dy) in second), -dx - dy, dx, dy)
                    for dx in range(limit + 1) for dy in range(limit + 1)))
        print("%d %d" % (best[2], best[3]) if best[0] else "none")
    elif cmd == "samples":
        for spec in a:
            at, rule, want = spec.partition("=") if "=" in spec else (
                spec.partition("~") if "~" in spec else spec.partition("<"))
            x, y = (int(v) for v in at.split(","))
            got = s.at(x, y)
            if rule == "=":
                ok = got == colour(want)
            elif rule == "~":
                ok = all(abs(g - w) <= 3 for g, w in zip(got, colour(want)))
            else:
                c1, c2 = (colour(c) for c in want.split("/"))
                ok = all(min(p, q) <= g <= max(p, q) for g, p, q in zip(got, c1, c2))
            if not ok:
                print("%s: %s" % (spec, hexc(got)))
                return
        print("yes")
    elif cmd == "only":
        want = colour(a[0])
        sx0, sy0, sx1, sy1 = (int(v) for v in a[1:5])
        step = int(a[5])
        for y in range(0, s.h, step):
            for x in range(0, s.w, step):
                if sx0 <= x < sx1 and sy0 <= y < sy1:
                    continue
                if s.at(x, y) != want:
                    print("%d %d %s" % (x, y, hexc(s.at(x, y))))
                    return
        print("yes")
    else:
        sys.exit("pixels.py: unknown command " + cmd)


if __name__ == "__main__":
    main(sys.argv[1:])
