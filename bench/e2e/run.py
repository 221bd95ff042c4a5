#!/usr/bin/env python3
"""End-to-end benchmark of korvane-capture against Puppeteer, Playwright and
`chromium --headless --screenshot`, all on /usr/bin/chromium, in one run.

    python3 bench/e2e/run.py [--repeat R] [--warm N] [--out DIR] [--only single|batch|remote|floor]
                             [--max-load L] [--wait-until HH:MM] [--no-chromium-cli]

Writes the corpus into a temp folder, serves it on 127.0.0.1 (ephemeral port),
then measures:
  single pages (five pages to PNG, JPG, BMP):  cold = one process, one page;
      warm = time per page from the first to the last file written (stdout lines)
      in a batch of N copies of the page in one process, the same rule for every
      tool; also ours with --cache and Puppeteer with the cache off;
      peak memory = VmHWM of the tool's own process
      (korvane-capture, or the Node process), polled from /proc, next to
      /usr/bin/time -v's maximum RSS (which also covers reaped children).
  batch (the 20+ page corpus to PNG): pages/s with --jobs 1 and --jobs 2 (and
      both with --cache) vs the
      peers sequential and two at once, chromium --screenshot once per page, and the batch's floor
      (floor.py over the same pages, in one process and in two at once).
  floor (every corpus page, warm): ours in each format against floor.py, the least a DevTools client asks
      of the browser for the picture (navigate, one resize to our image's size, one screenshot).
Every output is decoded (pngcheck, djpeg, BMP header) and its size recorded.
Prints a table with ratios (ours / peer) next to the goals; the JSON of all
figures goes to DIR/results.json. Needs: node modules installed in bench/e2e
(npm install), /usr/bin/time, pngcheck, djpeg.
"""
import argparse
import functools
import http.server
import json
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
KORVANE = os.path.join(REPO, "build", "cli", "korvane-capture")
CHROMIUM = "/usr/bin/chromium"
CHROMIUM_FLAGS = ["--headless", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync"]
if os.getuid() == 0:
    CHROMIUM_FLAGS.append("--no-sandbox")

LOG = []


def log(msg):
    line = time.strftime("%H:%M:%S ") + msg
    print(line, file=sys.stderr, flush=True)
    LOG.append(line)


def load1():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def busy_cores(seconds=5.0):
    """CPU in use over a short window, in cores (0..nproc), from /proc/stat."""
    def sample():
        with open("/proc/stat") as f:
            v = [int(x) for x in f.readline().split()[1:]]
        idle = v[3] + v[4]
        return sum(v[:8]), idle
    t1, i1 = sample()
    time.sleep(seconds)
    t2, i2 = sample()
    return (os.cpu_count() or 1) * (1 - (i2 - i1) / max(1, t2 - t1))


def machine_busy_seconds():
    """CPU seconds the whole machine has spent busy since boot (every process, ours or not), from /proc/stat."""
    with open("/proc/stat") as f:
        v = [int(x) for x in f.readline().split()[1:]]
    return (sum(v[:8]) - v[3] - v[4]) / os.sysconf("SC_CLK_TCK")


def wait_quiet(max_load, until, first):
    """Waits in 60 s steps, at most until `until` (epoch), for a quiet machine. Before the first
    section that is the 1-minute load average; later our own runs still weigh in that average, so
    the test is the CPU others use while we are idle (5 s sample) against the same figure.
    Returns (load1, busy cores)."""
    while True:
        load = load1()
        busy = busy_cores()
        quiet = (load <= max_load) if first else (busy <= max_load)
        if quiet or time.time() >= until:
            return load, busy
        log(f"load {load:.2f}, {busy:.2f} cores busy (limit {max_load}): waiting 60 s")
        time.sleep(55)


# ---------------------------------------------------------------- serving

class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(root):
    handler = functools.partial(QuietHandler, directory=root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}"


def serve_corpus(work, quiet=False):
    """Writes the corpus (corpus.py) into WORK/corpus and serves it: (server, base URL, its manifest)."""
    root = os.path.join(work, "corpus")
    subprocess.run([sys.executable, os.path.join(HERE, "corpus.py"), root], check=True,
                   stdout=subprocess.DEVNULL if quiet else None)
    with open(os.path.join(root, "manifest.json")) as f:
        manifest = json.load(f)
    server, base = serve(root)
    return server, base, manifest


# ---------------------------------------------------------------- running

def child_pid(pid):
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            kids = f.read().split()
        return int(kids[0]) if kids else None
    except OSError:
        return None


def vm_hwm_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def run(cmd, cwd=None):
    """Runs cmd under /usr/bin/time -v. Returns wall seconds, time's max RSS (KB), the polled
    VmHWM (KB) of cmd's own process, rc, stdout lines with their arrival times (s from start),
    and the tail of stderr."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as tf, tempfile.TemporaryFile("w+") as err:
        start, busy = time.perf_counter(), machine_busy_seconds()
        p = subprocess.Popen(["/usr/bin/time", "-v", "-o", tf.name] + cmd, cwd=cwd,
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=err, text=True)
        lines, stamps = [], []

        def read():
            for line in p.stdout:
                if line.strip():
                    stamps.append(time.perf_counter() - start)
                    lines.append(line.strip())
        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        own, hwm = None, None
        while p.poll() is None:
            if own is None:
                own = child_pid(p.pid)
            if own is not None:
                h = vm_hwm_kb(own)
                if h is not None:
                    hwm = h
            time.sleep(0.02)
        wall = time.perf_counter() - start
        machine_cpu = machine_busy_seconds() - busy
        reader.join(5)
        maxrss, cpu = None, 0.0
        for line in tf.read().splitlines():
            if "Maximum resident set size" in line:
                maxrss = int(line.split(":")[1])
            elif line.strip().startswith(("User time (seconds)", "System time (seconds)")):
                cpu += float(line.split(":")[1])
        err.seek(0)
        errtail = [l for l in err.read().splitlines() if "dbus" not in l.lower() and l.strip()][-5:]
    return {"wall": wall, "cpu": cpu, "machine_cpu": machine_cpu, "maxrss_kb": maxrss, "own_hwm_kb": hwm, "rc": p.returncode,
            "stdout": lines, "stamps": stamps, "stderr": errtail, "cmd": cmd}


def bench_width(info, page):
    """The --width a corpus page is captured at: 1024, or automatic for a page wider than that."""
    return "auto" if info[page].get("width", 0) > 1024 else "1024"


def korvane_cmd(urls, fmt, outdir, width="1024", jobs=1, extra=()):
    return [KORVANE, "--delay", "0", "--format", fmt, "--width", width, "--jobs", str(jobs),
            "--output", outdir, "-q"] + list(extra) + urls


# The arguments korvane-capture gives the browser it starts (browser/ChromiumProcess.cpp), for the remote
# browsers of the remote mode: the same browser, so the same work a page.
OWN_FLAGS = ["--headless", "--disable-gpu", "--no-first-run", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--disable-breakpad", "--mute-audio",
             "--disable-background-timer-throttling", "--disable-backgrounding-occluded-windows",
             "--disable-renderer-backgrounding",
             "--disable-features=WebUIOmniboxPopup,WebUIOmniboxAimPopup,WebUIOmniboxFullPopup,Translate,"
             "OptimizationHints,MediaRouter,NetworkTimeServiceQuerying",
             "--disable-component-extensions-with-background-pages", "--disable-default-apps"]
if os.getuid() == 0:
    OWN_FLAGS.append("--no-sandbox")


class RemoteBrowsers:
    """n Chromiums listening for DevTools on ephemeral ports of 127.0.0.1, started before a run (not timed) and
    ended after it; `addresses` are their WebSocket URLs."""

    def __init__(self, n):
        self.n, self.procs, self.dirs, self.addresses = n, [], [], []

    def __enter__(self):
        for _ in range(self.n):
            d = tempfile.mkdtemp(prefix="korvane-bench-remote-")
            p = subprocess.Popen([CHROMIUM] + OWN_FLAGS + ["--remote-debugging-address=127.0.0.1",
                                                            "--remote-debugging-port=0", f"--user-data-dir={d}",
                                                            "about:blank"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
            self.procs.append(p)
            self.dirs.append(d)
            port_file = os.path.join(d, "DevToolsActivePort")
            for _ in range(300):
                if os.path.exists(port_file):
                    lines = open(port_file).read().split()
                    if len(lines) >= 2:
                        self.addresses.append(f"ws://127.0.0.1:{lines[0]}{lines[1]}")
                        break
                time.sleep(0.05)
        time.sleep(1.0)  # the start's own work (first renderer) is not the run's
        return self

    def __exit__(self, *exc):
        for p in self.procs:
            os.killpg(p.pid, 9)
            p.wait()
        for d in self.dirs:
            shutil.rmtree(d, ignore_errors=True)


def per_page(r):
    """Seconds a page from the first file written to the last (leaves out the browser's start)."""
    st = r.get("stamps", [])
    return (st[-1] - st[0]) / (len(st) - 1) if len(st) >= 2 else None


def peer_cmd(tool, urls, outdir, jobs=1, json_file=None, no_cache=False):
    cmd = ["node", os.path.join(HERE, "peer.js"), "--tool", tool, "--out", outdir, "--jobs", str(jobs)]
    if json_file:
        cmd += ["--json", json_file]
    if no_cache:
        cmd += ["--no-cache"]
    return cmd + urls


def chromium_shot(url, outfile, width, height):
    profile = tempfile.mkdtemp(prefix="e2e-chromium-")
    try:
        r = run([CHROMIUM] + CHROMIUM_FLAGS + [f"--user-data-dir={profile}", f"--screenshot={outfile}",
                                               f"--window-size={width},{height}", url])
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    r["stdout"] = [outfile] if os.path.exists(outfile) else []
    return r


# ---------------------------------------------------------------- checking outputs

def image_info(path):
    """(format, width, height, ok, note) from decoding the file with independent tools."""
    try:
        with open(path, "rb") as f:
            head = f.read(64 * 1024)
        size = os.path.getsize(path)
    except OSError as e:
        return ("?", 0, 0, False, str(e))
    if head.startswith(b"\x89PNG\r\n\x1a\n"):
        w, h = struct.unpack(">II", head[16:24])
        r = subprocess.run(["pngcheck", "-q", path], capture_output=True, text=True)
        return ("png", w, h, r.returncode == 0, r.stdout.strip()[:200])
    if head.startswith(b"\xff\xd8"):
        w = h = 0
        i = 2
        while i + 9 < len(head):
            if head[i] != 0xFF:
                break
            marker = head[i + 1]
            seglen = struct.unpack(">H", head[i + 2:i + 4])[0]
            if marker in (0xC0, 0xC1, 0xC2):
                h, w = struct.unpack(">HH", head[i + 5:i + 9])
                break
            i += 2 + seglen
        r = subprocess.run(["djpeg", "-outfile", "/dev/null", path], capture_output=True, text=True)
        return ("jpg", w, h, r.returncode == 0 and not r.stderr.strip(), r.stderr.strip()[:200])
    if head.startswith(b"BM"):
        file_size, = struct.unpack("<I", head[2:6])
        offset, = struct.unpack("<I", head[10:14])
        w, h = struct.unpack("<ii", head[18:26])
        bpp, = struct.unpack("<H", head[28:30])
        stride = (w * bpp // 8 + 3) & ~3
        ok = file_size == size and size == offset + stride * abs(h) and bpp == 24
        return ("bmp", w, abs(h), ok, f"{bpp} bpp, header size {file_size}, file {size}")
    return ("?", 0, 0, False, "unknown format")


def check_stripes_bmp(path, period=1000, band=100, content_height=40000):
    """Each period starts with a band of the stripe colour; the rest is the base colour."""
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack("<I", data[10:14])
    w, h = struct.unpack("<ii", data[18:26])
    stride = (w * 3 + 3) & ~3
    bad = []

    def pixel(x, y):  # y from the top
        row = (h - 1 - y) if h > 0 else y
        i = offset + row * stride + x * 3
        b, g, r = data[i], data[i + 1], data[i + 2]
        return r, g, b

    for top in range(0, content_height, period):
        for y, want in ((top + band // 2, "stripe"), (top + band + 400, "base"), (top + period - 1, "base"),
                        (top, "stripe"), (top + band - 1, "stripe"), (top + band, "base")):
            r, g, b = pixel(10, y)
            got = "stripe" if r > 150 and b < 100 else "base" if b > 150 and r < 100 else f"{r},{g},{b}"
            if got != want:
                bad.append(f"y={y}: {got} (want {want})")
    return bad


# ---------------------------------------------------------------- measuring

def median(xs):
    xs = [x for x in xs if x is not None]
    return statistics.median(xs) if xs else None


def outputs_of(r):
    return [l for l in r["stdout"] if os.path.isfile(l)]


def measure_single(base, manifest, work, repeat, warm_n, max_load, until, results):
    pages = manifest["single"]
    info = manifest["pages"]
    for page in pages:
        url = f"{base}/{page}"
        width = bench_width(info, page)
        warm_urls = [f"{url}?r={i}" for i in range(1, warm_n + 1)]
        entry = results["single"].setdefault(page, {"korvane_width": width})
        load = wait_quiet(max_load, until, first=not results["loads"])
        results["loads"].append([f"single {page}"] + list(load))
        log(f"single {page} (load {load[0]:.2f}, {load[1]:.2f} cores busy)")
        for rep in range(repeat):
            # png-cache: ours with --cache; puppeteer-nocache: Puppeteer with the cache off, as ours by default.
            for tool in ("png", "jpg", "bmp", "puppeteer", "playwright", "png-cache", "puppeteer-nocache"):
                for kind, urls in (("cold", [url]), ("warm", warm_urls)):
                    if kind == "cold" and tool in ("png-cache", "puppeteer-nocache"):
                        continue
                    d = os.path.join(work, "single", page, tool, f"{kind}{rep}")
                    os.makedirs(d, exist_ok=True)
                    if tool in ("png", "jpg", "bmp"):
                        r = run(korvane_cmd(urls, tool, d, width=width, jobs=1))
                    elif tool == "png-cache":
                        r = run(korvane_cmd(urls, "png", d, width=width, jobs=1, extra=["--cache"]))
                    else:
                        r = run(peer_cmd(tool.split("-")[0], urls, d, jobs=1, json_file=os.path.join(d, "timing.json"),
                                         no_cache=tool.endswith("nocache")))
                        try:
                            with open(os.path.join(d, "timing.json")) as f:
                                t = json.load(f)
                            loop = [p["end"] - p["start"] for p in t["pages"]]
                            r["loop_ms"] = loop
                        except (OSError, ValueError, KeyError):
                            pass
                    files = outputs_of(r)
                    r["images"] = [image_info(p) for p in files]
                    r["count_ok"] = len(files) == len(urls)
                    del r["stdout"]
                    entry.setdefault(tool, {}).setdefault(kind, []).append(r)
                    if r["rc"] != 0 or not r["count_ok"]:
                        log(f"  {tool} {kind}: rc {r['rc']}, {len(files)}/{len(urls)} files {r['stderr']}")
            # chromium --screenshot at the full size the peers measured
            pimg = entry["puppeteer"]["cold"][-1]["images"]
            cw, ch = (pimg[0][1], pimg[0][2]) if pimg else (1024, 768)
            d = os.path.join(work, "single", page, "chromium", f"cold{rep}")
            os.makedirs(d, exist_ok=True)
            r = chromium_shot(url, os.path.join(d, "shot.png"), cw, ch)
            r["images"] = [image_info(p) for p in r["stdout"]]
            r["count_ok"] = len(r["stdout"]) == 1
            del r["stdout"]
            entry.setdefault("chromium", {}).setdefault("cold", []).append(r)
        if page.startswith("stripes-800x40000"):
            bmp = [os.path.join(work, "single", page, "bmp", "cold0", f) for f in
                   os.listdir(os.path.join(work, "single", page, "bmp", "cold0"))]
            entry["stripes_bmp_faults"] = check_stripes_bmp(bmp[0]) if bmp else ["no BMP"]


FLOOR = os.path.join(HERE, "floor.py")


def measure_floor(base, manifest, work, repeat, warm_n, max_load, until, results):
    """Every corpus page, warm (warm_n copies in one process), ours in each format against the floor: the
    minimal DevTools script of floor.py at the size of our image of the page, run right after ours."""
    info = manifest["pages"]
    load = wait_quiet(max_load, until, first=not results["loads"])
    results["loads"].append(["floor"] + list(load))
    for rep in range(repeat):
        log(f"floor round {rep + 1} of {len(manifest['batch'])} pages (load {load[0]:.2f})")
        for page in manifest["batch"]:
            url = f"{base}/{page}"
            width = bench_width(info, page)
            urls = [f"{url}?r={i}" for i in range(1, warm_n + 1)]
            entry = results["floor"].setdefault(page, {})
            for fmt in ("png", "jpg", "bmp"):
                d = os.path.join(work, "floor", page, fmt, f"ours{rep}")
                os.makedirs(d, exist_ok=True)
                ours = run(korvane_cmd(urls, fmt, d, width=width, jobs=1))
                files = outputs_of(ours)
                ours["images"] = [image_info(p) for p in files]
                del ours["stdout"]
                if not files or ours["images"][0][1] is None:
                    log(f"  {page} {fmt}: ours made no image (rc {ours['rc']})")
                    continue
                w, h = ours["images"][0][1], ours["images"][0][2]
                d = os.path.join(work, "floor", page, fmt, f"floor{rep}")
                os.makedirs(d, exist_ok=True)
                # A BMP's floor is the browser's PNG as it comes: its decoding is a client's work, not the browser's.
                # Ours fetches every page fresh (no --cache): so does the floor.
                floor = run(["python3", FLOOR, "--no-cache", "jpg" if fmt == "jpg" else "png", d]
                            + [f"{u}={w}x{h}" for u in urls])
                floor["images"] = [image_info(p) for p in outputs_of(floor)]
                del floor["stdout"]
                e = entry.setdefault(fmt, {"ours": [], "floor": []})
                e["ours"].append(ours)
                e["floor"].append(floor)
                ratio_now = ratio(per_page(ours), per_page(floor))
                log(f"  {page} {fmt} {w}x{h}: ours {per_page(ours) or 0:.3f} s/page, floor "
                    f"{per_page(floor) or 0:.3f} s/page ({fmt_r(ratio_now)}){'' if floor['rc'] == 0 else ' floor rc ' + str(floor['rc']) + ' ' + str(floor['stderr'])}")


def measure_batch_floor(urls, manifest, work, rep, b):
    """The batch's floor: floor.py over the same pages at the sizes of our images (korvane j1 --cache of this
    round), its browser start included, in one process and split over two at once (as --jobs 2 and the peers'
    x2 are). It shares the cache over the pages, as --cache and the peers do."""
    ours = os.path.join(work, "batch", "korvane-j1---cache", f"r{rep}")
    items = []
    for page, url in zip(manifest["batch"], urls):
        found = [f for f in os.listdir(ours) if f.endswith(f"_{page}.png")]
        if len(found) == 1:
            _, w, h, _, _ = image_info(os.path.join(ours, found[0]))
            items.append(f"{url}={w}x{h}")
    for name, parts in (("floor seq", 1), ("floor x2", 2)):
        d = os.path.join(work, "batch", name.replace(" ", "-"), f"r{rep}")
        dirs = [os.path.join(d, str(k)) for k in range(parts)]
        for x in dirs:
            os.makedirs(x, exist_ok=True)
        cmds = [" ".join(["python3", FLOOR, "png", x] + items[k::parts]) for k, x in enumerate(dirs)]
        keep_batch_run(b, name, run(["sh", "-c", " & ".join(cmds) + " & wait"]), len(urls))


def keep_batch_run(b, name, r, pages):
    """Records a batch run with its decoded outputs."""
    files = outputs_of(r)
    r["images"] = [image_info(f) for f in files]
    r["count_ok"] = len(files) == pages
    del r["stdout"]
    b.setdefault(name, []).append(r)
    log(f"  {name}: {r['wall']:.2f} s, {len(files)}/{pages} files, rc {r['rc']}")



def measure_batch(base, manifest, work, repeat, max_load, until, results, with_chromium=True, peers=True):
    urls = [f"{base}/{p}" for p in manifest["batch"]]
    widths = {p: manifest["pages"][p].get("width", 0) for p in manifest["batch"]}
    b = results["batch"]
    b["pages"] = len(urls)
    for rep in range(repeat):
        load = wait_quiet(max_load, until, first=not results["loads"])
        results["loads"].append([f"batch {rep + 1}"] + list(load))
        log(f"batch round {rep + 1} of {len(urls)} pages (load {load[0]:.2f}, {load[1]:.2f} cores busy)")
        for name, make in (
                ("korvane j1", lambda d: korvane_cmd(urls, "png", d, jobs=1)),
                ("korvane j2", lambda d: korvane_cmd(urls, "png", d, jobs=2)),
                ("korvane j1 --cache", lambda d: korvane_cmd(urls, "png", d, jobs=1, extra=["--cache"])),
                ("korvane j2 --cache", lambda d: korvane_cmd(urls, "png", d, jobs=2, extra=["--cache"])),
                ("puppeteer seq", lambda d: peer_cmd("puppeteer", urls, d, 1, os.path.join(d, "timing.json"))),
                ("puppeteer x2", lambda d: peer_cmd("puppeteer", urls, d, 2, os.path.join(d, "timing.json"))),
                ("playwright seq", lambda d: peer_cmd("playwright", urls, d, 1, os.path.join(d, "timing.json"))),
                ("playwright x2", lambda d: peer_cmd("playwright", urls, d, 2, os.path.join(d, "timing.json")))):
            if not peers:
                break
            d = os.path.join(work, "batch", name.replace(" ", "-"), f"r{rep}")
            os.makedirs(d, exist_ok=True)
            keep_batch_run(b, name, run(make(d)), len(urls))

        if peers:
            measure_batch_floor(urls, manifest, work, rep, b)
        # The same runs against browsers that run already (--browser): one browser as the pipe's, and two
        # browsers with one page at a time each against one browser with two.
        for name, browsers, jobs, extra in (("korvane pipe j1 --cache", 0, 1, ["--cache"]),
                                            ("korvane ws j1 --cache", 1, 1, ["--cache"]),
                                            ("korvane pipe j2 --cache", 0, 2, ["--cache"]),
                                            ("korvane ws j2 --cache", 1, 2, ["--cache"]),
                                            ("korvane 2 ws j1 --cache", 2, 1, ["--cache"]),
                                            ("korvane pipe j1", 0, 1, []),
                                            ("korvane ws j1", 1, 1, [])):
            d = os.path.join(work, "batch", name.replace(" ", "-"), f"r{rep}")
            os.makedirs(d, exist_ok=True)
            with RemoteBrowsers(browsers) as remote:
                if browsers == 0:
                    time.sleep(1.0)  # the same pause as before a remote run
                more = [a for address in remote.addresses for a in ("--browser", address)]
                r = run(korvane_cmd(urls, "png", d, jobs=jobs, extra=extra + more))
            files = outputs_of(r)
            r["images"] = [image_info(p) for p in files]
            r["count_ok"] = len(files) == len(urls)
            r["per_page"] = per_page(r)
            del r["stdout"]
            b.setdefault(name, []).append(r)
            log(f"  {name}: {r['wall']:.2f} s, {r['per_page'] or 0:.3f} s/page, {len(files)}/{len(urls)} files")
        if not with_chromium or not peers:
            continue
        # chromium --screenshot once per page, at the size Puppeteer measured in this round
        pdir = os.path.join(work, "batch", "puppeteer-seq", f"r{rep}")
        sizes = {}
        for f in os.listdir(pdir):
            if f.endswith(".png"):
                fmt, w, h, ok, _ = image_info(os.path.join(pdir, f))
                sizes[int(f[:3])] = (w, h)
        d = os.path.join(work, "batch", "chromium", f"r{rep}")
        os.makedirs(d, exist_ok=True)
        total, cpu, ok_count, images = 0.0, 0.0, 0, []
        for i, url in enumerate(urls):
            w, h = sizes.get(i, (max(1024, widths[manifest["batch"][i]]), 768))
            r = chromium_shot(url, os.path.join(d, f"{i:03d}.png"), w, h)
            total += r["wall"]
            cpu += r["cpu"]
            images += [image_info(p) for p in r["stdout"]]
            ok_count += len(r["stdout"])
        b.setdefault("chromium once per page", []).append(
            {"wall": total, "cpu": cpu, "rc": 0, "images": images, "count_ok": ok_count == len(urls)})
        log(f"  chromium once per page: {total:.2f} s, {ok_count}/{len(urls)} files")


# ---------------------------------------------------------------- reporting

def fmt_s(x):
    return "-" if x is None else f"{x:.3f}"


def fmt_mb(kb):
    return "-" if kb is None else f"{kb / 1024:.0f}"


def ratio(a, b):
    return None if a is None or b is None or b == 0 else a / b


def fmt_r(x):
    return "-" if x is None else f"{x:.2f}"


def verdict(value, goal, le=True):
    if value is None:
        return "?"
    return "met" if (value <= goal if le else value >= goal) else "NOT met"


def warm_per_page(entry, tool, warm_n=None):
    """Time per page in the warm batches: from the first file written to the last, over the pages between
    (the median over the rounds). A tool that reports two files at once is not favoured or penalised, as a
    median of single intervals would be."""
    xs = []
    for r in entry[tool]["warm"]:
        st = r.get("stamps", [])
        if len(st) >= 2:
            xs.append((st[-1] - st[0]) / (len(st) - 1))
    return median(xs)


def report(results, warm_n):
    out = []
    p = out.append
    single = results["single"]
    if single:
        p("### Single pages (issue 5): seconds, medians. cold = one process for one page (browser start"
          f" included); warm = time per page from the first to the last file written in a batch of {warm_n}"
          " copies of the page (?r=1..N) in one process, the same rule for every tool; (loop) = the peer's own"
          " goto+screenshot time measured inside Node")
        p("")
        p("| page | ours: size | png cold | jpg cold | bmp cold | pptr cold | pw cold | chromium --screenshot |"
          " png warm | jpg warm | bmp warm | pptr warm (loop) | pw warm (loop) |"
          " png/pptr warm (goal <= 1.2) | jpg/pptr (<= 1.0) | bmp/pptr (<= 1.0) |")
        p("|" + "---|" * 16)
        for page, e in single.items():
            if "png" not in e:
                continue
            img = e["png"]["cold"][0]["images"]
            size = f"{img[0][1]}x{img[0][2]}" if img else "?"
            cold = {t: median([r["wall"] for r in e[t]["cold"]]) for t in ("png", "jpg", "bmp", "puppeteer",
                                                                           "playwright", "chromium")}
            warm = {t: warm_per_page(e, t, warm_n) for t in ("png", "jpg", "bmp", "puppeteer", "playwright")}
            loops = {}
            for t in ("puppeteer", "playwright"):
                xs = []
                for r in e[t]["warm"]:
                    xs += r.get("loop_ms", [])[1:]
                loops[t] = median(xs) / 1000 if xs else None
            rp = ratio(warm["png"], warm["puppeteer"])
            rj = ratio(warm["jpg"], warm["puppeteer"])
            rb = ratio(warm["bmp"], warm["puppeteer"])
            p(f"| {page} | {size} | {fmt_s(cold['png'])} | {fmt_s(cold['jpg'])} | {fmt_s(cold['bmp'])} | "
              f"{fmt_s(cold['puppeteer'])} | {fmt_s(cold['playwright'])} | {fmt_s(cold['chromium'])} | "
              f"{fmt_s(warm['png'])} | {fmt_s(warm['jpg'])} | {fmt_s(warm['bmp'])} | "
              f"{fmt_s(warm['puppeteer'])} ({fmt_s(loops['puppeteer'])}) | "
              f"{fmt_s(warm['playwright'])} ({fmt_s(loops['playwright'])}) | "
              f"{fmt_r(rp)} {verdict(rp, 1.2)} | {fmt_r(rj)} {verdict(rj, 1.0)} | {fmt_r(rb)} {verdict(rb, 1.0)} |")
        p("")
        if any("png-cache" in e for e in single.values()):
            p("### The cache, warm PNG (seconds a page): by default korvane-capture fetches every page fresh while"
              " images load (as the window does); --cache lets the pages of a run share downloads, as the peers"
              " do by default")
            p("")
            p("| page | ours (fresh) | pptr --no-cache | ratio (goal <= 1.2) | ours --cache | pptr | ratio (<= 1.2) |")
            p("|" + "---|" * 7)
            for page, e in single.items():
                if "png-cache" not in e:
                    continue
                w = {t: warm_per_page(e, t) for t in ("png", "puppeteer-nocache", "png-cache", "puppeteer")}
                r1, r2 = ratio(w["png"], w["puppeteer-nocache"]), ratio(w["png-cache"], w["puppeteer"])
                p(f"| {page} | {fmt_s(w['png'])} | {fmt_s(w['puppeteer-nocache'])} | {fmt_r(r1)} {verdict(r1, 1.2)} | "
                  f"{fmt_s(w['png-cache'])} | {fmt_s(w['puppeteer'])} | {fmt_r(r2)} {verdict(r2, 1.2)} |")
            p("")
        p("### Peak memory (MB): VmHWM of the tool's own process (korvane-capture / node), polled;"
          " in brackets /usr/bin/time -v max RSS, which includes reaped children (the browser)")
        p("")
        p("| page | raw 24-bit bitmap | png | jpg | bmp | ours max / raw (goal < 2.5) | pptr node | pw node |"
          " chromium --screenshot (time -v) |")
        p("|" + "---|" * 9)
        for page, e in single.items():
            if "png" not in e:
                continue
            img = e["png"]["cold"][0]["images"]
            raw = ((img[0][1] * 3 + 3) & ~3) * img[0][2] if img else None
            cells, peaks = [], []
            for t in ("png", "jpg", "bmp"):
                own = max((r["own_hwm_kb"] or 0) for r in e[t]["cold"])
                tv = max((r["maxrss_kb"] or 0) for r in e[t]["cold"])
                peaks.append(own)
                cells.append(f"{fmt_mb(own)} [{fmt_mb(tv)}]")
            rr = ratio(max(peaks) * 1024, raw)
            peer = []
            for t in ("puppeteer", "playwright"):
                own = max((r["own_hwm_kb"] or 0) for r in e[t]["cold"])
                tv = max((r["maxrss_kb"] or 0) for r in e[t]["cold"])
                peer.append(f"{fmt_mb(own)} [{fmt_mb(tv)}]")
            ctv = max((r["maxrss_kb"] or 0) for r in e["chromium"]["cold"])
            p(f"| {page} | {raw / 1048576:.1f} | {' | '.join(cells)} | {fmt_r(rr)} {verdict(rr, 2.5)} | "
              f"{' | '.join(peer)} | [{fmt_mb(ctv)}] |")
        p("")
        p("### Output checks")
        p("")
        for page, e in single.items():
            for t in ("png", "jpg", "bmp", "puppeteer", "playwright", "chromium"):
                if t not in e:
                    continue
                sizes, bad = set(), []
                for kind, rs in e[t].items():
                    for r in rs:
                        if not r["count_ok"] or r["rc"] != 0:
                            bad.append(f"{kind}: rc {r['rc']}, files missing {r.get('stderr')}")
                        for im in r["images"]:
                            sizes.add(f"{im[0]} {im[1]}x{im[2]}")
                            if not im[3]:
                                bad.append(f"{kind}: does not decode: {im[4]}")
                p(f"- {page} {t}: {', '.join(sorted(sizes))}; " + ("all decode" if not bad else "; ".join(bad[:3])))
            if "stripes_bmp_faults" in e:
                f = e["stripes_bmp_faults"]
                p(f"- {page}: stripes checked in our BMP every 1000 px to row 40000: "
                  + ("all right" if not f else f"{len(f)} faults: {f[:5]}"))
        p("")
    b = results["batch"]
    if "korvane j1" in b:
        n = b["pages"]
        p(f"### Batch (issue 7): {n} pages to PNG, one process each, wall time incl. browser start; medians")
        p("")
        p("| run | seconds | pages/s | CPU seconds (process tree) | all decode |")
        p("|---|---|---|---|---|")
        tput = {}
        for name in ("korvane j1", "korvane j2", "korvane j1 --cache", "korvane j2 --cache", "puppeteer seq",
                     "puppeteer x2", "playwright seq",
                     "playwright x2", "chromium once per page", "floor seq", "floor x2"):
            if name not in b:
                continue
            w = median([r["wall"] for r in b[name]])
            tput[name] = n / w
            ok = all(r["count_ok"] and all(im[3] for im in r["images"]) for r in b[name])
            cpu = median([r.get("cpu") for r in b[name]])
            p(f"| {name} | {w:.2f} | {n / w:.2f} | {fmt_s(cpu)} | {'yes' if ok else 'NO'} |")
        p("")
        p("| ratio (ours / peer, pages/s) | value | goal |")
        p("|---|---|---|")
        for ours, peer, goal in (("korvane j1", "playwright seq", 1.3), ("korvane j1", "puppeteer seq", 1.0),
                                 ("korvane j2", "playwright x2", 1.3), ("korvane j2", "puppeteer x2", 1.0),
                                 ("korvane j2", "playwright seq", 1.3), ("korvane j2", "puppeteer seq", 1.0),
                                 ("korvane j1", "chromium once per page", None),
                                 ("korvane j2", "chromium once per page", None)):
            r = ratio(tput.get(ours), tput.get(peer))
            g = f">= {goal}: {verdict(r, goal, le=False)}" if goal else "-"
            p(f"| {ours} / {peer} | {fmt_r(r)} | {g} |")
        for suffix, what in (("", "ours"), (" --cache", "ours --cache")):
            best_ours = max(tput.get("korvane j1" + suffix, 0), tput.get("korvane j2" + suffix, 0))
            for peer, goal in (("playwright", 1.3), ("puppeteer", 1.0)):
                best = max(tput.get(f"{peer} seq", 0), tput.get(f"{peer} x2", 0))
                r = ratio(best_ours, best)
                p(f"| best of {what} / best of {peer} | {fmt_r(r)} | >= {goal}: {verdict(r, goal, le=False)} |")
        # What any client could reach at most: the floor's pages/s against the peers'.
        floor = max(tput.get("floor seq", 0), tput.get("floor x2", 0))
        if floor:
            for peer in ("playwright", "puppeteer"):
                best = max(tput.get(f"{peer} seq", 0), tput.get(f"{peer} x2", 0))
                p(f"| best of floor / best of {peer} (the most any client reaches) | {fmt_r(ratio(floor, best))} | - |")
            best_ours = max(tput.get("korvane j1 --cache", 0), tput.get("korvane j2 --cache", 0))
            p(f"| best of ours --cache / best of floor | {fmt_r(ratio(best_ours, floor))} | - |")
        p("")
    if "korvane pipe j1 --cache" in b:
        p("### Remote browsers (--browser, WebSocket) against the pipe, warm: seconds a page, first file to last")
        p("")
        p("| run | s/page | wall s | machine CPU s | ratio | goal |")
        p("|---|---|---|---|---|---|")
        pp = {name: median([r["per_page"] for r in b[name] if r.get("per_page")])
              for name in b if name.startswith(("korvane pipe", "korvane ws", "korvane 2 ws"))}
        for name, against, goal in (("korvane pipe j1 --cache", None, None),
                                    ("korvane ws j1 --cache", "korvane pipe j1 --cache", 1.05),
                                    ("korvane pipe j2 --cache", None, None),
                                    ("korvane ws j2 --cache", "korvane pipe j2 --cache", 1.05),
                                    ("korvane 2 ws j1 --cache", "korvane pipe j2 --cache", 1.0),
                                    ("korvane pipe j1", None, None),
                                    ("korvane ws j1", "korvane pipe j1", None)):
            if name not in pp:
                continue
            r = ratio(pp.get(name), pp.get(against)) if against else None
            g = f"<= {goal}: {verdict(r, goal)}" if goal else "-"
            wall = median([x["wall"] for x in b[name]])
            busy = median([x["machine_cpu"] for x in b[name] if "machine_cpu" in x])
            p(f"| {name} | {fmt_s(pp[name])} | {fmt_s(wall)} | {fmt_s(busy)} | {fmt_r(r) if against else '-'} | {g} |")
        p("")
    floor = results.get("floor", {})
    if floor:
        goals = {"png": 1.3, "jpg": 1.15, "bmp": 1.15}
        p("### Ours against the floor (bench/e2e/floor.py: navigate, one resize to our image's size, one "
          "screenshot, the file written), warm, seconds a page from the first file to the last")
        p("")
        p("| page | size | png ours | png floor | ratio (<= 1.3) | jpg ours | jpg floor | ratio (<= 1.15) | "
          "bmp ours | bmp floor | ratio (<= 1.15) |")
        p("|---|---|---|---|---|---|---|---|---|---|---|")
        ratios = {fmt: [] for fmt in goals}
        for page, e in floor.items():
            cells, size = [], "-"
            for fmt, goal in goals.items():
                if fmt not in e:
                    cells += ["-", "-", "-"]
                    continue
                o = median([per_page(r) for r in e[fmt]["ours"]])
                fl = median([per_page(r) for r in e[fmt]["floor"]])
                r = ratio(o, fl)
                if r is not None:
                    ratios[fmt].append(r)
                im = e[fmt]["ours"][-1]["images"]
                size = f"{im[0][1]}x{im[0][2]}" if im else size
                cells += [fmt_s(o), fmt_s(fl), f"{fmt_r(r)} {verdict(r, goal)}"]
            p(f"| {page} | {size} | " + " | ".join(cells) + " |")
        p("| **median of the pages** | | | | " + " | | | ".join(
            f"{fmt_r(median(ratios[f]))} {verdict(median(ratios[f]), goals[f])}" for f in goals) + " |")
        p("")
    if single:
        p("### Cold single capture (issue 7 goal: faster than both peers cold), PNG, seconds")
        p("")
        p("| page | ours | puppeteer | playwright | ours/pptr | ours/pw | goal |")
        p("|---|---|---|---|---|---|---|")
        for page, e in single.items():
            if "png" not in e:
                continue
            c = {t: median([r["wall"] for r in e[t]["cold"]]) for t in ("png", "puppeteer", "playwright")}
            r1, r2 = ratio(c["png"], c["puppeteer"]), ratio(c["png"], c["playwright"])
            ok = r1 is not None and r2 is not None and r1 < 1 and r2 < 1
            p(f"| {page} | {fmt_s(c['png'])} | {fmt_s(c['puppeteer'])} | {fmt_s(c['playwright'])} | "
              f"{fmt_r(r1)} | {fmt_r(r2)} | {'met' if ok else 'NOT met'} |")
        p("")
    return "\n".join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--repeat", type=int, default=2, help="rounds of every measurement (median taken)")
    ap.add_argument("--warm", type=int, default=5, help="pages in a warm batch")
    ap.add_argument("--out", default=None, help="folder for outputs and results.json (default: a temp folder)")
    ap.add_argument("--only", choices=("single", "batch", "remote", "floor"), default=None,
                    help="remote: only the batch through the pipe and through --browser; floor: only ours "
                         "against the minimal DevTools script on every corpus page")
    ap.add_argument("--pages", default=None, help="comma-separated subset of the single pages (and of the floor's)")
    ap.add_argument("--max-load", type=float, default=0.7, help="wait while the 1-minute load is above this")
    ap.add_argument("--no-chromium-cli", action="store_true",
                    help="leave out chromium --screenshot once per page in the batch (it takes longest)")
    ap.add_argument("--wait-until", default=None, help="HH:MM UTC: stop waiting for a quiet machine then")
    args = ap.parse_args()

    for tool in (KORVANE, CHROMIUM, "/usr/bin/time"):
        if not os.access(tool, os.X_OK):
            sys.exit(f"missing {tool} (build korvane-capture with ./do build korvane-capture)")
    if args.only not in ("remote", "floor") and not os.path.isdir(os.path.join(HERE, "node_modules", "puppeteer-core")):
        sys.exit("run npm install in bench/e2e first")
    until = time.time() + 3600
    if args.wait_until:
        hh, mm = map(int, args.wait_until.split(":"))
        now = time.gmtime()
        until = time.time() + ((hh * 60 + mm) - (now.tm_hour * 60 + now.tm_min)) * 60 - now.tm_sec

    work = args.out or tempfile.mkdtemp(prefix="korvane-e2e-")
    os.makedirs(work, exist_ok=True)
    server, base, manifest = serve_corpus(work)
    if args.pages:
        manifest["single"] = [p for p in manifest["single"] if p in args.pages.split(",")]
    log(f"serving {os.path.join(work, 'corpus')} at {base}; outputs in {work}")
    versions = {
        "chromium": subprocess.run([CHROMIUM, "--version"], capture_output=True, text=True).stdout.strip(),
        "node": subprocess.run(["node", "--version"], capture_output=True, text=True).stdout.strip(),
        "korvane-capture": subprocess.run([KORVANE, "--version"], capture_output=True, text=True).stdout.strip(),
    }
    with open(os.path.join(HERE, "package.json")) as f:
        versions.update(json.load(f).get("dependencies", {}))
    results = {"versions": versions, "single": {}, "batch": {}, "floor": {}, "loads": [],
               "started": time.strftime("%H:%M:%S")}
    try:
        if args.only in (None, "single"):
            measure_single(base, manifest, work, args.repeat, args.warm, args.max_load, until, results)
        if args.only in (None, "batch", "remote"):
            measure_batch(base, manifest, work, args.repeat, args.max_load, until, results,
                          with_chromium=not args.no_chromium_cli, peers=args.only != "remote")
        if args.only in (None, "floor"):
            pages = dict(manifest, batch=[p for p in manifest["batch"]
                                          if not args.pages or p in args.pages.split(",")])
            measure_floor(base, pages, work, args.repeat, args.warm, args.max_load, until, results)
    finally:
        server.shutdown()
        results["ended"] = time.strftime("%H:%M:%S")
        results["log"] = LOG
        with open(os.path.join(work, "results.json"), "w") as f:
            json.dump(results, f, indent=1)
    text = (f"korvane-capture {versions['korvane-capture']}, {versions['chromium']}, node {versions['node']}, "
            f"puppeteer-core {versions.get('puppeteer-core')}, playwright-core {versions.get('playwright-core')}; "
            f"{results['started']}-{results['ended']} UTC.\nBefore each section (1-min load average;"
            " cores busy in a 5 s sample while we were idle): "
            + "; ".join(f"{n} {l:.2f}/{b:.2f}" for n, l, b in results["loads"]) + "\n\n"
            + report(results, args.warm))
    with open(os.path.join(work, "report.md"), "w") as f:
        f.write(text + "\n")
    print(text)


if __name__ == "__main__":
    main()
