#!/usr/bin/env python3
"""The peer of browser_bench: the same DevTools calls over the same kind of pipe, with nothing around them.

Usage: direct_devtools.py CHROMIUM FIRST_URL URL:WIDTH [URL:WIDTH ...]
Prints one line per measurement: "start <ms>" and "capture <url> <width>x<height> <ms>".
"""
import base64, json, os, subprocess, sys, tempfile, time, zlib, shutil, struct


class Pipe:
    def __init__(self, chromium, extra):
        cmd_r, self.cmd_w = os.pipe()
        self.rep_r, rep_w = os.pipe()
        self.profile = tempfile.mkdtemp(prefix="direct-devtools-")
        args = [chromium, "--headless", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--disable-breakpad", "--mute-audio",
                "--remote-debugging-pipe", "--user-data-dir=" + self.profile] + extra + ["about:blank"]

        def child():
            # Above 4 first, then onto 3 and 4 (inheritable); every other pipe end is close-on-exec.
            hi_r, hi_w = os.dup(cmd_r) + 10, os.dup(rep_w) + 10
            os.dup2(cmd_r, hi_r)
            os.dup2(rep_w, hi_w)
            os.dup2(hi_r, 3)
            os.dup2(hi_w, 4)
            os.setpgid(0, 0)

        self.proc = subprocess.Popen(args, preexec_fn=child, close_fds=False, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(cmd_r)
        os.close(rep_w)
        self.buf = bytearray()
        self.next_id = 1
        self.events = []

    def send(self, method, params=None, session=None):
        msg = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            msg["sessionId"] = session
        self.next_id += 1
        os.write(self.cmd_w, json.dumps(msg).encode() + b"\0")
        return msg["id"]

    def read_message(self):
        while True:
            i = self.buf.find(b"\0")
            if i >= 0:
                raw = bytes(self.buf[:i])
                del self.buf[:i + 1]
                return json.loads(raw)
            chunk = os.read(self.rep_r, 1 << 20)
            if not chunk:
                raise RuntimeError("browser gone")
            self.buf += chunk

    def call(self, method, params=None, session=None):
        want = self.send(method, params, session)
        while True:
            m = self.read_message()
            if m.get("id") == want:
                if "error" in m:
                    raise RuntimeError(m["error"])
                return m["result"]
            if "method" in m:
                self.events.append(m)

    def wait_event(self, pred):
        for i, e in enumerate(self.events):
            if pred(e):
                del self.events[:i + 1]
                return e
        self.events.clear()
        while True:
            m = self.read_message()
            if "method" in m and pred(m):
                return m

    def close(self):
        os.killpg(self.proc.pid, 9)
        self.proc.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


def inflate_png(png):
    """Inflates the image data, as a decoder does before unfiltering."""
    pos, idat = 8, []
    while pos < len(png):
        length, kind = struct.unpack(">I4s", png[pos:pos + 8])
        if kind == b"IDAT":
            idat.append(png[pos + 8:pos + 8 + length])
        pos += 12 + length
    return zlib.decompress(b"".join(idat))


def main():
    chromium, first, pages = sys.argv[1], sys.argv[2], sys.argv[3:]
    extra = ["--no-sandbox"] if os.geteuid() == 0 else []
    t0 = time.perf_counter()
    b = Pipe(chromium, extra)
    b.call("Browser.getVersion")
    target = b.call("Target.createTarget", {"url": "about:blank"})["targetId"]
    s = b.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
    for m in ("Page.enable", "Network.enable"):
        b.call(m, {}, s)
    b.call("Page.setLifecycleEventsEnabled", {"enabled": True}, s)
    b.call("Emulation.setDeviceMetricsOverride", {"width": 100, "height": 100, "deviceScaleFactor": 1, "mobile": False}, s)

    def load(url):
        loader = b.call("Page.navigate", {"url": url}, s)["loaderId"]
        b.wait_event(lambda e: e["method"] == "Page.lifecycleEvent" and e["params"]["name"] == "load"
                     and e["params"]["loaderId"] == loader)

    load(first)
    print("start %.1f" % ((time.perf_counter() - t0) * 1000), flush=True)

    def body(name):
        expr = ("(function(){var b=document.body;if(!b)return 'no body';var v=b['%s'];"
                "return typeof v==='number'?v:'no number';})()" % name)
        return int(b.call("Runtime.evaluate", {"expression": expr, "returnByValue": True, "silent": True}, s)["result"]["value"])

    def resize(w, h):
        b.call("Emulation.setDeviceMetricsOverride", {"width": w, "height": h, "deviceScaleFactor": 1, "mobile": False}, s)

    for page in pages:
        url, width = page.rsplit(":", 1)
        width = int(width)
        resize(100, 100)
        load(url)
        t = time.perf_counter()
        body("scrollWidth"); h = body("scrollHeight") + 30
        resize(width, h)
        body("scrollWidth"); h = body("scrollHeight") + 30
        resize(width, h)
        shot = b.call("Page.captureScreenshot", {"format": "png", "optimizeForSpeed": True, "fromSurface": True,
                                                "captureBeyondViewport": False,
                                                "clip": {"x": 0, "y": 0, "width": width, "height": h, "scale": 1}}, s)
        raw = inflate_png(base64.b64decode(shot["data"]))
        ms = (time.perf_counter() - t) * 1000
        print("capture %s %dx%d %.1f %d" % (url, width, h, ms, len(raw)), flush=True)
    b.close()


if __name__ == "__main__":
    main()
