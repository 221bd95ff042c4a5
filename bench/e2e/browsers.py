#!/usr/bin/env python3
"""One browser of our own against several in one run: the corpus batch with the same page slots either way.

    python3 bench/e2e/browsers.py [--repeat R] [--cache] [--binary PATH]

Serves the corpus (corpus.py) on 127.0.0.1 and captures its batch pages to PNG with korvane-capture as
`--jobs 2` (one browser, two pages at once) and as `--browsers 2 --jobs 1` (two browsers, one page each),
alternating, R times each (default 5); with --cache both keep the browser cache (the pages' shared pictures
come from it). Prints each run's wall time, the medians and their ratio, and the machine's load before each
run (a busy machine makes the figures say nothing).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from run import KORVANE, load1, serve_corpus  # noqa: E402


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--cache", action="store_true")
    ap.add_argument("--binary", default=KORVANE)
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="korvane-browsers-")
    try:
        server, base, manifest = serve_corpus(work, quiet=True)
        urls = [f"{base}/{p}" for p in manifest["batch"]]
        ways = {"one browser, --jobs 2": ["--jobs", "2"], "two browsers, --jobs 1": ["--browsers", "2", "--jobs", "1"]}
        times = {name: [] for name in ways}
        for r in range(args.repeat):
            for name, extra in ways.items():
                out = os.path.join(work, "out")
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                cmd = [args.binary, "-q", "--delay", "0", "--output", out] + (["--cache"] if args.cache else [])
                load = load1()
                start = time.monotonic()
                done = subprocess.run(cmd + extra + urls, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
                seconds = time.monotonic() - start
                written = len(os.listdir(out))
                if done.returncode != 0 or written != len(urls):
                    print(f"{name}: exit {done.returncode}, {written} of {len(urls)} files\n{done.stderr}")
                    return 1
                times[name].append(seconds)
                print(f"round {r + 1} {name}: {seconds:.1f} s (load before {load:.2f})", flush=True)
        server.shutdown()
        medians = {name: statistics.median(t) for name, t in times.items()}
        for name, m in medians.items():
            print(f"{name}: median {m:.2f} s of {len(urls)} pages ({', '.join(f'{t:.1f}' for t in times[name])})")
        one, two = medians.values()
        print(f"two browsers / one browser: {two / one:.3f}")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
