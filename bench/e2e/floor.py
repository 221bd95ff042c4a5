#!/usr/bin/env python3
"""The floor of a capture: the least a DevTools client can ask of the browser for a page's picture.

    floor.py [--no-cache] png|jpg OUTDIR URL=WIDTHxHEIGHT [URL=WIDTHxHEIGHT ...]

One browser (the arguments korvane-capture gives its own), one page; for each URL: navigate and wait for the
load event, one Emulation.setDeviceMetricsOverride at the final size (WIDTHxHEIGHT, known from our own image
of the page), one Page.captureScreenshot, and the file written as the browser sends it (jpg at our quality).
The floor of a BMP is that of a PNG: the browser's work, without a client's decoding. --no-cache fetches
every page and image fresh, as korvane-capture does without --cache. Prints each file's path
once it is written, as korvane-capture does, so that the same timing rule applies to both.
"""
import base64, os, sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "browser"))
from direct_devtools import Pipe  # noqa: E402

JPEG_QUALITY = 90  # korvane-capture's


def main():
    args = sys.argv[1:]
    fresh = args[:1] == ["--no-cache"]
    fmt, outdir, pages = args[fresh], args[fresh + 1], args[fresh + 2:]
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
        if fresh:
            b.call("Network.enable", {}, s)
            b.call("Network.setCacheDisabled", {"cacheDisabled": True}, s)
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
            path = os.path.join(outdir, f"{i:03d}.{fmt}")
            with open(path, "wb") as f:
                f.write(data)
            print(path, flush=True)
    finally:
        b.close()


if __name__ == "__main__":
    main()
