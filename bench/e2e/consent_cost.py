#!/usr/bin/env python3
"""What --hide-consent costs a page: the consent style sheet and scroll unlock as korvane-capture adds them
(one Runtime.evaluate), with the style and layout they cause, timed on each page of a corpus folder.

    python3 bench/e2e/corpus.py /tmp/corpus && python3 bench/e2e/consent_cost.py /tmp/corpus

Prints per page the median milliseconds of 5 rounds: the step itself and a layout read after it, against the
same layout read on the page without the step (the difference is the step's share of the next layout).
"""
import functools, http.server, json, os, statistics, sys, threading, time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "bench", "browser"))
from direct_devtools import Pipe  # noqa: E402


def consent_script():
    selectors = []
    with open(os.path.join(REPO, "cli", "consent-selectors.txt")) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("# ") and not line.startswith("##") and line != "#":
                selectors.append(line)
    css = "".join(s + "{display:none!important}\n" for s in selectors)
    return ("(function(css,consent){var s=new CSSStyleSheet();s.replaceSync(css);"
            "document.adoptedStyleSheets=document.adoptedStyleSheets.concat([s]);"
                        "try{document.querySelectorAll(consent).forEach(function(e){"
            "e.style.setProperty('display','none','important')})}catch(x){}"
            "[document.documentElement,document.body].forEach(function(e){if(!e)return;"
            "var c=getComputedStyle(e);if(c.overflowY==='hidden'||c.overflowY==='clip')"
            "e.style.setProperty('overflow-y','visible','important');if(c.position==='fixed'){"
            "e.style.setProperty('position','static','important');"
            "e.style.setProperty('top','auto','important')}});return 0})(%s,%s)"
                        % (json.dumps(css), json.dumps(",".join(selectors))))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = sys.argv[1]
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass
    handler = functools.partial(Quiet, directory=root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}/"
    pages = sorted(p for p in os.listdir(root) if p.endswith(".html"))
    pipe = Pipe("/usr/bin/chromium", ["--no-sandbox"] if os.getuid() == 0 else [])
    target = pipe.call("Target.createTarget", {"url": "about:blank"})["targetId"]
    session = pipe.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
    pipe.call("Page.enable", {}, session)
    pipe.call("Emulation.setDeviceMetricsOverride",
              {"width": 1024, "height": 768, "deviceScaleFactor": 1, "mobile": False}, session)
    script, layout = consent_script(), "document.body.offsetHeight"

    def timed(expression):
        start = time.perf_counter()
        pipe.call("Runtime.evaluate", {"expression": expression, "returnByValue": True}, session)
        return (time.perf_counter() - start) * 1000

    print(f"{'page':32} {'step ms':>8} {'layout after':>13} {'layout without':>15}")
    worst = 0.0
    for page in pages:
        rows = []
        for _ in range(5):
            for with_step in (False, True):
                pipe.call("Page.navigate", {"url": base + page}, session)
                pipe.wait_event(lambda e: e.get("method") == "Page.loadEventFired")
                step = timed(script) if with_step else 0.0
                rows.append((with_step, step, timed(layout)))
        step = statistics.median(r[1] for r in rows if r[0])
        after = statistics.median(r[2] for r in rows if r[0])
        without = statistics.median(r[2] for r in rows if not r[0])
        worst = max(worst, step + after - without)
        print(f"{page:32} {step:8.2f} {after:13.2f} {without:15.2f}")
    print(f"largest cost of a page (step + its share of the next layout): {worst:.2f} ms")
    pipe.close()
    server.shutdown()


if __name__ == "__main__":
    main()
