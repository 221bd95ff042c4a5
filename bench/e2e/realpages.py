#!/usr/bin/env python3
"""Real pages from Debian's documentation packages, captured by korvane-capture, Puppeteer and Playwright
(full-page shots, 1024 x 768 view), all on /usr/bin/chromium, and checked against what their pictures were
seen to show.

    realpages.py [--capture build/cli/korvane-capture] [--out DIR]

Needs libjs-jquery-ui-docs, node-requirejs, sphinx-doc and doxygen-doc (apt-get install them; pages of a
package that is missing are skipped) and the node modules of this folder (npm install). The pages are served
on 127.0.0.1 from a folder of links to /usr/share, as their absolute paths expect. The pictures are kept in
--out (default: a temporary folder, removed) to be looked at. Prints one table: each page, and for each tool
"ok" or what was wrong.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
from modern import print_table, read_png, shoot_all  # noqa: E402
from run import serve  # noqa: E402

JQUI = "/usr/share/doc/libjs-jquery-ui-docs/examples/"
SPHINX = "/usr/share/doc/sphinx-doc/html/"
DOXYGEN = "/usr/share/doc/doxygen/html/"

# Each page with what its right picture at 1024 wide was seen to have: a height range, and pixels of a
# colour (x, y, 0xRRGGBB). The demos hide themselves until their scripts have come, after the load event.
PAGES = [
    (JQUI + "dialog/modal-message.html", "jQuery UI: a modal dialog centred in the view",
     (480, 800), [(512, 260, 0xE9E9E9)]),
    (JQUI + "accordion/default.html", "jQuery UI: an accordion, the first panel open",
     (400, 800), [(50, 26, 0x007FFF), (50, 272, 0xF6F6F6)]),
    (JQUI + "accordion/fillspace.html", "jQuery UI: an accordion filling its container",
     (300, 800), [(100, 90, 0x007FFF)]),
    (JQUI + "tabs/default.html", "jQuery UI: tabs", (200, 800), [(30, 26, 0x007FFF)]),
    (SPHINX + "index.html", "Sphinx's documentation: the start page", (2900, 3100), [(600, 20, 0x0A507A)]),
    (SPHINX + "usage/quickstart.html", "Sphinx's documentation: a long page", (5300, 5500),
     [(600, 20, 0x0A507A)]),
    (DOXYGEN + "index.html", "Doxygen's manual: content scrolling inside an element", (2500, 3000), []),
    (DOXYGEN + "commands.html", "Doxygen's manual: a long page inside an element", (50000, 60000), []),
]


def site(tmp):
    """A folder serving /usr/share/doc and /usr/share/javascript, and require.js where the demos ask for it."""
    root = os.path.join(tmp, "root")
    share = os.path.join(root, "usr", "share")
    os.makedirs(os.path.join(share, "nodejs"))
    os.symlink("/usr/share/doc", os.path.join(share, "doc"))
    os.symlink("/usr/share/javascript", os.path.join(share, "javascript"))
    os.symlink("/usr/share/nodejs/requirejs/require.js", os.path.join(share, "nodejs", "require.js"))
    return root


def judge(path, low_high, probes):
    if not path or not os.path.exists(path):
        return "no picture"
    width, height, pixel = read_png(path)
    wrong = []
    if not low_high[0] <= height <= low_high[1]:
        wrong.append(f"height {height} not {low_high[0]}-{low_high[1]}")
    bad = [(x, y) for x, y, colour in probes if y >= height or any(
        abs((pixel(x, y) >> s & 255) - (colour >> s & 255)) > 8 for s in (0, 8, 16))]
    if bad:
        wrong.append(f"{len(bad)} of {len(probes)} probes")
    colours = {pixel(x, y) for y in range(0, height, max(1, height // 64)) for x in range(0, width, 16)}
    if len(colours) < 3:
        wrong.append("blank")
    return "; ".join(wrong) or "ok"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--capture", default=os.path.join(ROOT, "build/cli/korvane-capture"))
    ap.add_argument("--out")
    a = ap.parse_args()
    pages = [p for p in PAGES if os.path.exists(p[0])]
    if len(pages) < len(PAGES):
        print(f"skipped {len(PAGES) - len(pages)} pages of packages not installed", file=sys.stderr)
    if not pages or not os.path.exists("/usr/share/nodejs/requirejs/require.js"):
        sys.exit("install libjs-jquery-ui-docs node-requirejs sphinx-doc doxygen-doc")
    with tempfile.TemporaryDirectory() as tmp:
        out = a.out or os.path.join(tmp, "pictures")
        server, base = serve(site(tmp))
        urls = [base + p[0] for p in pages]
        pictures = shoot_all(a.capture, [], urls, out, tmp)
        server.shutdown()
        verdicts = {t: [judge(pictures[t][i], p[2], p[3]) for i, p in enumerate(pages)] for t in pictures}
        print_table([p[1] for p in pages], verdicts)
        if a.out:
            print(f"pictures in {out}", file=sys.stderr)


if __name__ == "__main__":
    main()
