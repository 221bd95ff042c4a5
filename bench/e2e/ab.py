#!/usr/bin/env python3
"""Interleaved A/B timing of whole commands on a noisy machine.

    python3 bench/e2e/ab.py ROUNDS 'command A' 'command B' ...

Runs every command once per round, in turn, so that drift of the machine touches all of them alike. Each
command may write into $AB_OUT (an empty folder before every run). Prints per command the median and the
minimum wall time, and the median CPU the whole machine used meanwhile (busy core-seconds from /proc/stat: this
counts browser processes that no parent reaps, which /usr/bin/time misses). Never assert on these numbers.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def busy_seconds():
    with open("/proc/stat") as f:
        v = [int(x) for x in f.readline().split()[1:]]
    return (sum(v[:8]) - v[3] - v[4]) / os.sysconf("SC_CLK_TCK")


def main():
    if len(sys.argv) < 3 or not sys.argv[1].isdigit():
        sys.exit(__doc__)
    rounds, commands = int(sys.argv[1]), sys.argv[2:]
    out = tempfile.mkdtemp(prefix="korvane-ab-")
    walls = {c: [] for c in commands}
    cpus = {c: [] for c in commands}
    try:
        for _ in range(rounds):
            for c in commands:
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                b0, t0 = busy_seconds(), time.perf_counter()
                p = subprocess.run(c, shell=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   env=dict(os.environ, AB_OUT=out))
                walls[c].append(time.perf_counter() - t0)
                cpus[c].append(busy_seconds() - b0)
                if p.returncode:
                    print(f"exit status {p.returncode}: {c}", file=sys.stderr)
    finally:
        shutil.rmtree(out, ignore_errors=True)
    for c in commands:
        xs = walls[c]
        print(f"median {statistics.median(xs):.3f} s  min {min(xs):.3f} s  CPU {statistics.median(cpus[c]):.2f} s"
              f"  ({' '.join(f'{x:.2f}' for x in xs)})  {c}")


if __name__ == "__main__":
    main()
