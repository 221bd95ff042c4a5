#!/usr/bin/env python3
"""The floor of a capture: the least a DevTools client can ask of the browser for a page's picture.

    floor.py FORMAT OUTDIR URL=WIDTHxHEIGHT [URL=WIDTHxHEIGHT ...]

One browser (the arguments korvane-capture gives its own), one page; for each URL: navigate and wait for the
load event, one Emulation.setDeviceMetricsOverride at the final size (WIDTHxHEIGHT, known from our own image
of the page), one Page.captureScreenshot, and the file written: png and jpg as the browser sends them (jpg at
our quality), bmp as the browser's PNG inflated into 24-bit rows, bottom row first. Prints each file's path
once it is written, as korvane-capture does, so that the same timing rule applies to both.
"""
import base64, os, struct, sys, zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "browser"))
from direct_devtools import Pipe  # noqa: E402

JPEG_QUALITY = 90  # korvane-capture's


def bmp_from_png(png, width, height):
    """24-bit BMP bytes of an unfiltered or Sub/Up-free RGB(A) PNG as the browser makes it for speed."""
    pos, idat, colour = 8, [], None
    while pos < len(png):
        length, kind = struct.unpack(">I4s", png[pos:pos + 8])
        if kind == b"IHDR":
            colour = png[pos + 17]
        elif kind == b"IDAT":
            idat.append(png[pos + 8:pos + 8 + length])
        pos += 12 + length
    raw = zlib.decompress(b"".join(idat))
    channels = 4 if colour == 6 else 3
    stride = width * channels + 1
    if any(raw[y * stride] for y in range(height)):
        raise SystemExit("floor.py: the browser's PNG has filtered rows; this floor reads only unfiltered ones")
    pad = (4 - width * 3 % 4) % 4
    rows = []
    for y in range(height - 1, -1, -1):
        src = raw[y * stride + 1:(y + 1) * stride]
        row = bytearray(width * 3)
        row[0::3] = src[2::channels]
        row[1::3] = src[1::channels]
        row[2::3] = src[0::channels]
        rows.append(bytes(row) + b"\0" * pad)
    body = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 0, 0, 0, 0)
    return header + info + body


def main():
    fmt, outdir, pages = sys.argv[1], sys.argv[2], sys.argv[3:]
    flags = ["--disable-background-timer-throttling", "--disable-backgrounding-occluded-windows",
             "--disable-renderer-backgrounding", "--disable-component-extensions-with-background-pages",
             "--disable-default-apps"]
    b = Pipe("/usr/bin/chromium", flags + (["--no-sandbox"] if os.geteuid() == 0 else []))
    try:
        b.call("Browser.getVersion")
        target = b.call("Target.getTargets")["targetInfos"]
        page = next(t["targetId"] for t in target if t["type"] == "page")
        s = b.call("Target.attachToTarget", {"targetId": page, "flatten": True})["sessionId"]
        b.call("Page.enable", {}, s)
        b.call("Page.setLifecycleEventsEnabled", {"enabled": True}, s)
        for i, item in enumerate(pages):
            url, size = item.rsplit("=", 1)
            width, height = (int(v) for v in size.split("x"))
            loader = b.call("Page.navigate", {"url": url}, s)["loaderId"]
            b.wait_event(lambda e: e["method"] == "Page.lifecycleEvent" and e["params"]["name"] == "load"
                         and e["params"]["loaderId"] == loader)
            b.call("Emulation.setDeviceMetricsOverride",
                   {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False}, s)
            params = {"format": "jpeg" if fmt == "jpg" else "png", "optimizeForSpeed": True, "fromSurface": True}
            if fmt == "jpg":
                params["quality"] = JPEG_QUALITY
            data = base64.b64decode(b.call("Page.captureScreenshot", params, s)["data"])
            if fmt == "bmp":
                data = bmp_from_png(data, width, height)
            path = os.path.join(outdir, f"{i:03d}.{fmt}")
            with open(path, "wb") as f:
                f.write(data)
            print(path, flush=True)
    finally:
        b.close()


if __name__ == "__main__":
    main()
