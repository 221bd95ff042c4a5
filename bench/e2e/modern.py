#!/usr/bin/env python3
"""How many pages of today's web each tool draws right: korvane-capture, Puppeteer and Playwright (full-page
shots, 1024 x 768 view), all on /usr/bin/chromium.

    modern.py [--capture build/cli/korvane-capture] [--pages build/tests/support/modern_pages]
              [--korvane-args "--no-lazy ..."]

The pages and what a right picture of each shows (its height and pixel probes) come from the tests' own set
(tests/support/ModernPages.cpp, written out by the modern_pages tool). A picture is right when it has the
height and every probe's colour. Prints one table: each page, and for each tool "ok" or what was wrong.
Needs the node modules of this folder (npm install). Python standard library only.
"""
import argparse
import json
import os
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
from run import serve  # noqa: E402


def read_png(path):
    """(width, height, pixel(x, y) -> 0xRRGGBB) of an 8-bit RGB or RGBA PNG without interlacing."""
    with open(path, "rb") as f:
        data = f.read()
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                raise ValueError(f"{path}: not an 8-bit RGB(A) PNG")
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride = zlib.decompress(idat), width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b, c = previous[i], previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line

    def pixel(x, y):
        r, g, b = rows[y][x * channels:x * channels + 3]
        return r << 16 | g << 8 | b
    return width, height, pixel


def judge(path, page):
    """"ok", or what is wrong. Our pictures end 30 px below the body (the capture's rule), the peers' at the
    page's end, and a peer's picture is at least a screen high: those heights count as right, and probes in
    the last 30 px of ours are not asked of a picture that ends above them."""
    if not path or not os.path.exists(path):
        return "no picture"
    width, height, pixel = read_png(path)
    expected = page["height"]
    right = expected - 30 <= height <= expected or (expected < 768 and height == 768)
    wrong = [] if right else [f"height {height} not {expected}"]
    bad = [(x, y) for x, y, colour in page["probes"]
           if (y < height and pixel(x, y) != colour) or (y >= height and y < expected - 30)]
    if bad:
        wrong.append(f"{len(bad)} of {len(page['probes'])} probes")
    for left, top, w, h in page.get("inked", []):
        if not any(all((pixel(x, y) >> s & 255) < 0x40 for s in (0, 8, 16))
                   for y in range(top, min(top + h, height)) for x in range(left, left + w)):
            wrong.append("text not drawn")
    return "; ".join(wrong) or "ok"


def shoot_all(capture, korvane_args, urls, out, tmp):
    """Pictures of the URLs by each tool: {tool: [path or None, in the order of urls]}, into out/<tool>."""
    pictures = {}
    ours = os.path.join(out, "korvane")
    manifest = os.path.join(tmp, "ours.jsonl")
    os.makedirs(ours, exist_ok=True)
    subprocess.run([capture, "-q", "--output", ours, "--manifest", manifest] + korvane_args + urls,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    with open(manifest) as f:
        files = {e["url"]: e["file"] for e in map(json.loads, f)}
    pictures["korvane"] = [files.get(u) for u in urls]
    for tool in ("puppeteer", "playwright"):
        folder = os.path.join(out, tool)
        subprocess.run(["node", os.path.join(HERE, "peer.js"), "--tool", tool, "--out", folder] + urls,
                       check=False, stdout=subprocess.DEVNULL)
        listed = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        pictures[tool] = [os.path.join(folder, next((n for n in listed if n.startswith(f"{i:03d}-")), ""))
                          for i in range(len(urls))]
    return pictures


def print_table(whats, verdicts):
    """One row a page, a column a tool, and how many each got right."""
    tools = list(verdicts)
    print("| page | " + " | ".join(tools) + " |")
    print("|---|" + "---|" * len(tools))
    for i, what in enumerate(whats):
        print(f"| {what} | " + " | ".join(verdicts[t][i] for t in tools) + " |")
    print("| **right** | " + " | ".join(
        f"{sum(v == 'ok' for v in verdicts[t])} of {len(whats)}" for t in tools) + " |")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--capture", default=os.path.join(ROOT, "build/cli/korvane-capture"))
    ap.add_argument("--pages", default=os.path.join(ROOT, "build/tests/support/modern_pages"))
    ap.add_argument("--korvane-args", default="")
    a = ap.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        site = os.path.join(tmp, "site")
        subprocess.run([a.pages, site], check=True)
        with open(os.path.join(site, "modern.json")) as f:
            pages = json.load(f)
        server, base = serve(site)
        urls = [base + p["path"] for p in pages]
        pictures = shoot_all(a.capture, ["--delay", "0"] + a.korvane_args.split(), urls, tmp, tmp)
        server.shutdown()
        verdicts = {t: [judge(pictures[t][i], p) for i, p in enumerate(pages)] for t in pictures}
        print_table([p["what"] for p in pages], verdicts)


if __name__ == "__main__":
    main()
