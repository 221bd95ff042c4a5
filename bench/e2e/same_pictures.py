#!/usr/bin/env python3
"""Do two builds of korvane-capture draw the same pictures of the whole corpus?

    same_pictures.py OLD_KORVANE_CAPTURE NEW_KORVANE_CAPTURE [--rounds N]

Serves the corpus (corpus.py) on 127.0.0.1 and captures every page with both programs, one batch each (the
pages in turn through one browser, as a real run goes), as BMP (the pixels as they are) and PNG, at the width
the benchmarks use (1024, or automatic for pages wider than that) and with both sides automatic. Files are
compared byte for byte but for a PNG's time stamp: both builds share the encoders, so the same pixels make the
same bytes. Each program runs N times (default 2), in turn. A picture is the same when some run of NEW made
what some run of OLD made; when none did and the runs of either program disagree among themselves, the page
varies by itself (timing, animation) and is reported as such, not as a change. Exit status 1 when any page
changed.
"""
import argparse
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from run import bench_width, serve_corpus  # noqa: E402


def capture(binary, urls, fmt, width, outdir):
    os.makedirs(outdir)
    cmd = [binary, "--delay", "0", "--jobs", "1", "--format", fmt, "--width", width, "--output", outdir] + urls
    p = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if p.returncode:
        print(f"exit status {p.returncode} of {' '.join(cmd[:8])} ...: {p.stderr.strip()[-400:]}",
              file=sys.stderr)



def digest(folder, suffix):
    """The file's bytes but for a PNG's tIME chunk (the time it was written)."""
    found = [n for n in os.listdir(folder) if n.endswith(suffix)]
    if len(found) != 1:
        return None
    with open(os.path.join(folder, found[0]), "rb") as f:
        data = f.read()
    if suffix.endswith(".png"):
        kept, i = [data[:8]], 8
        while i + 8 <= len(data):
            n = struct.unpack(">I", data[i:i + 4])[0]
            if data[i + 4:i + 8] != b"tIME":
                kept.append(data[i:i + 12 + n])
            i += 12 + n
        data = b"".join(kept)
    return hashlib.sha256(data).hexdigest()


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("old")
    ap.add_argument("new")
    ap.add_argument("--rounds", type=int, default=2, help="runs of each program (default 2)")
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="korvane-same-")
    try:
        server, base, manifest = serve_corpus(work, quiet=True)
        pages = manifest["batch"]
        sizes = manifest["pages"]

        changed, varies, same = [], [], 0
        for fmt in ("bmp", "png"):
            for mode in ("bench", "auto"):
                # One batch a width: each page at the width the benchmarks give it, or automatic.
                groups = {}
                for page in pages:
                    width = "auto" if mode == "auto" else bench_width(sizes, page)
                    groups.setdefault(width, []).append(page)
                for width, group in groups.items():
                    urls = [f"{base}/{p}" for p in group]
                    runs = {"old": [], "new": []}
                    for r in range(args.rounds):
                        for name, binary in (("old", args.old), ("new", args.new)):
                            d = os.path.join(work, f"{fmt}-{mode}-{width}-{name}{r}")
                            capture(binary, urls, fmt, width, d)
                            runs[name].append(d)
                    for page in group:
                        label = f"{page} {fmt} width {width}"
                        # The file's name ends in the page's own name (the rule makes it from the URL).
                        digests = {name: [digest(d, f"_{page}.{fmt}") for d in ds] for name, ds in runs.items()}
                        if None in digests["old"] + digests["new"]:
                            changed.append(f"{label}: a file is missing")
                        elif set(digests["old"]) & set(digests["new"]):
                            same += 1
                        elif len(set(digests["old"])) > 1 or len(set(digests["new"])) > 1:
                            varies.append(label)
                        else:
                            changed.append(label)
        server.shutdown()
        print(f"{same} pictures the same, {len(changed)} changed, {len(varies)} that vary by themselves")
        for label in varies:
            print(f"  varies by itself: {label}")
        for label in changed:
            print(f"  CHANGED: {label}")
        return 1 if changed else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
