#!/usr/bin/env python3
"""The tool's drawings as a reader sees them: each SVG parses as XML with every coordinate inside its
view box, and rasterised by rsvg-convert it has a plausible share of ink, with red pixels exactly
when the drawing shows a clash.

Usage: raster_check.py NIMBO_SHAPE SAMPLES_DIR WORK_DIR
"""
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
import zlib
from pathlib import Path


def pixels(png):
    """The rows of an 8-bit RGB or RGBA PNG as rsvg-convert writes it, and its bytes per pixel."""
    data = png.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", png
    at, idat, width, height, bpp = 8, b"", 0, 0, 4
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and colour in (2, 6), (depth, colour)
            bpp = 4 if colour == 6 else 3
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw, stride, rows = zlib.decompress(idat), width * bpp, []
    previous = bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - bpp] if i >= bpp else 0
            up, corner = previous[i], previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append(line)
        previous = line
    return width, height, rows, bpp


def look(svg, work):
    """(share of inked pixels, number of red pixels) of the drawing, after checking its XML."""
    root = ElementTree.parse(svg).getroot()
    width, height = (float(v) for v in root.get("viewBox").split()[2:])
    for path in root.iter("{http://www.w3.org/2000/svg}path"):
        numbers = [float(n) for n in re.findall(r"-?[0-9.]+", path.get("d"))]
        for x, y in zip(numbers[0::2], numbers[1::2]):
            assert 0 <= x <= width and 0 <= y <= height, (svg, x, y)
    png = work / (svg.stem + ".png")
    subprocess.run(["rsvg-convert", str(svg), "-o", str(png)], check=True)
    w, h, rows, bpp = pixels(png)
    ink = red = 0
    for line in rows:
        for i in range(0, len(line), bpp):
            r, g, b = line[i], line[i + 1], line[i + 2]
            ink += (r + g + b) < 600
            red += r > 170 and g < 90 and b < 90
    return ink / (w * h), red


def run(tool, *args):
    subprocess.run([tool, *args], check=False, stdout=subprocess.DEVNULL)


def main(tool, samples, work):
    work = Path(work)
    work.mkdir(parents=True, exist_ok=True)
    joint = f"{samples}/bolted_joint.step"
    shaft = work / "shaft.brep"
    run(tool, "convert", f"{samples}/flanged_shaft.step", str(shaft))
    run(tool, "render", joint, "-o", str(work / "render.svg"), "--hidden")
    run(tool, "clash", joint, "--svg", str(work / "clean.svg"))
    run(tool, "clash", str(shaft), str(shaft), "--svg", str(work / "clash.svg"))  # a part over itself
    failures = []
    for name, clash in (("render", None), ("clean", False), ("clash", True)):
        share, red = look(work / f"{name}.svg", work)
        print(f"{name}: ink {share:.3%}, red pixels {red}")
        if not 0.002 <= share <= 0.4:
            failures.append(f"{name}: ink covers {share:.3%} of the page")
        if clash is not None and (red > 0) != clash:
            failures.append(f"{name}: {red} red pixels where a clash is {'' if clash else 'not '}shown")
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
