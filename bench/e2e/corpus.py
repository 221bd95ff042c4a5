#!/usr/bin/env python3
"""Writes the local pages of the end-to-end benchmarks into a folder.

Usage: corpus.py DIR   -> writes DIR/*.html, DIR/img/*, DIR/manifest.json

manifest.json lists every page with the size its content asks for, and which
pages form the single-page set (the five pages of the capture benchmark) and
the batch set (at least 20 pages). Python standard library only.
"""
import json
import os
import re
import shutil
import struct
import sys
import zlib

# A standards-mode page (quirks-mode pages report body.scrollHeight as the view's height, which the
# two-pass measuring then keeps: see the notes of the benchmark), about 33,000 px high at 1024 wide.
DOC_CANDIDATES = [
    "/usr/share/doc/libxslt1-dev/html/html/libxslt-xsltInternals.html",
]
# Node's API pages: large real documentation with a stylesheet and script of
# their own; the link to a web font host is removed so nothing leaves the machine.
NODE_DOC_DIR = "/usr/share/doc/nodejs/api"
NODE_DOC_PAGES = ["diagnostics_channel.html"]


def png_bytes(width, height, pixel):
    """A truecolour PNG of width x height; pixel(x, y) -> (r, g, b)."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            raw.extend(pixel(x, y))
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 6))
            + chunk(b"IEND", b""))


def svg_text(i):
    hue = (i * 37) % 360
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="96" height="96" viewBox="0 0 96 96">'
            f'<rect width="96" height="96" fill="hsl({hue},60%,85%)"/>'
            f'<circle cx="48" cy="48" r="{20 + i % 20}" fill="hsl({(hue + 180) % 360},70%,45%)"/>'
            f'<text x="48" y="90" font-size="12" text-anchor="middle">{i}</text></svg>')


def page(title, body, style=""):
    return ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title + "</title>"
            "<style>" + style + "</style></head><body>" + body + "</body></html>\n")


LOREM = ("Korvane captures a whole web page as one image. This paragraph is plain text set in the "
         "browser's default font, wrapped at the width of the view, so that the page has real glyphs "
         "to draw and a height that depends on the layout. ")


def text_page(paragraphs):
    body = "<h1>A short text page</h1>" + "".join(
        f"<p>{i + 1}. {LOREM * (1 + i % 3)}</p>" for i in range(paragraphs))
    return page("text", body, "body{font-family:sans-serif;margin:8px}")


def box_page(width, height):
    body = (f'<div style="width:{width}px;height:{height}px;'
            'background:linear-gradient(135deg,#2a6,#fd3 50%,#36c)"></div>')
    return page(f"box {width}x{height}", body, "html,body{margin:0;padding:0}")


def stripes_page(width, height, period=1000, band=100):
    # Base colour with a band of another colour at the start of every period.
    bands = "".join(
        f'<div style="position:absolute;left:0;top:{y}px;width:{width}px;height:{band}px;background:#d02020"></div>'
        for y in range(0, height, period))
    body = (f'<div style="position:relative;width:{width}px;height:{height}px;background:#2040d0">'
            + bands + "</div>")
    return page(f"stripes {width}x{height}", body, "html,body{margin:0;padding:0}")


def images_page(n_png, n_svg):
    cells = []
    for i in range(n_png):
        cells.append(f'<img src="img/p{i}.png" width="96" height="96" alt="p{i}">')
    for i in range(n_svg):
        cells.append(f'<img src="img/s{i}.svg" width="96" height="96" alt="s{i}">')
    body = "<h1>Many images</h1><div>" + "".join(cells) + "</div>"
    return page(f"images {n_png}+{n_svg}", body, "img{margin:4px;border:1px solid #888}")


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def copy_node_doc(dst_dir, name):
    src = os.path.join(NODE_DOC_DIR, name)
    with open(src, encoding="utf-8") as f:
        html = f.read()
    html = re.sub(r'<link[^>]+href="https?://[^"]*"[^>]*>', "", html)
    html = re.sub(r'<script[^>]+src="https?://[^"]*"[^>]*>\s*</script>', "", html)
    out = "node-" + name
    write(os.path.join(dst_dir, out), html)
    assets = os.path.join(dst_dir, "assets")
    if not os.path.isdir(assets) and os.path.isdir(os.path.join(NODE_DOC_DIR, "assets")):
        shutil.copytree(os.path.join(NODE_DOC_DIR, "assets"), assets)
    return out


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: corpus.py DIR")
    root = sys.argv[1]
    os.makedirs(os.path.join(root, "img"), exist_ok=True)

    n_png, n_svg = 120, 60
    for i in range(n_png):
        r, g, b = (i * 53) % 256, (i * 97) % 256, (i * 29) % 256
        data = png_bytes(48, 48, lambda x, y: (r ^ (x * 5 & 255), g ^ (y * 5 & 255), b))
        with open(os.path.join(root, "img", f"p{i}.png"), "wb") as f:
            f.write(data)
    for i in range(n_svg):
        write(os.path.join(root, "img", f"s{i}.svg"), svg_text(i))

    pages = {}
    def add(name, html, **info):
        write(os.path.join(root, name), html)
        pages[name] = info

    # The five pages of the single-page benchmark.
    add("text.html", text_page(6), kind="text")
    add("box-1500x3000.html", box_page(1500, 3000), kind="box", width=1500, height=3000)
    add("stripes-800x40000.html", stripes_page(800, 40000), kind="stripes", width=800, height=40000)
    add("images.html", images_page(n_png, n_svg), kind="images")
    doc = next((p for p in DOC_CANDIDATES if os.path.exists(p)), None)
    if doc is None:
        sys.exit("no long documentation page found under /usr/share/doc")
    shutil.copy(doc, os.path.join(root, "doc.html"))
    pages["doc.html"] = {"kind": "doc", "source": doc}
    single = ["text.html", "box-1500x3000.html", "stripes-800x40000.html", "images.html", "doc.html"]

    # Variants for the batch corpus.
    for n in (2, 12, 30, 60, 100):
        add(f"text-{n}.html", text_page(n), kind="text")
    for w, h in ((1024, 768), (640, 2000), (1200, 6000), (300, 12000), (1024, 20000)):
        add(f"box-{w}x{h}.html", box_page(w, h), kind="box", width=w, height=h)
    for w, h in ((1024, 5000), (800, 10000), (600, 20000)):
        add(f"stripes-{w}x{h}.html", stripes_page(w, h), kind="stripes", width=w, height=h)
    for a, b in ((10, 5), (40, 20), (120, 0), (0, 60), (80, 40)):
        add(f"images-{a}-{b}.html", images_page(a, b), kind="images")
    node_docs = []
    for name in NODE_DOC_PAGES:
        if os.path.exists(os.path.join(NODE_DOC_DIR, name)):
            out = copy_node_doc(root, name)
            pages[out] = {"kind": "doc", "source": os.path.join(NODE_DOC_DIR, name)}
            node_docs.append(out)
    batch = single + [p for p in pages if p not in single]

    manifest = {"pages": pages, "single": single, "batch": batch}
    with open(os.path.join(root, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)
    print(f"{len(pages)} pages in {root} ({len(batch)} in the batch set)")


if __name__ == "__main__":
    main()
