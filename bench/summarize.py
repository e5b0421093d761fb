#!/usr/bin/env python3
"""Turns the samples that run.sh takes into markdown tables.

    summarize.py SAMPLES.tsv [--write RESULTS.md]

A sample line: size, command, round, wall seconds, peak RSS in KiB, input
bytes. Ratios are taken within a round (all commands of a round ran within
a minute or two of each other) and then the median over the rounds.
"""

import datetime
import os
import statistics
import subprocess
import sys
from collections import defaultdict

COMMANDS = ["cat", "dd", "ffmpeg", "mkvmerge", "tandrel"]
WHAT = {
    "cat": "`cat base dep > out`",
    "dd": "`dd bs=1M` of base, then dep",
    "ffmpeg": "`ffmpeg -c copy` base only",
    "mkvmerge": "`mkvmerge` base only",
    "tandrel": "`tandrel base dep out.mkv`",
}
BEGIN = "<!-- run.sh results begin -->"
END = "<!-- run.sh results end -->"


def load(path):
    """{(size, command): {round: (wall_s, rss_kib, input_bytes)}}"""
    samples = defaultdict(dict)
    with open(path) as f:
        for line in f:
            size, command, rnd, wall, rss, input_bytes = line.split()
            samples[size, command][int(rnd)] = (float(wall), int(rss), int(input_bytes))
    return samples


def per_byte(sample):
    wall, _, input_bytes = sample
    return wall / input_bytes


def ratio(a, b):
    """Median over the rounds both have of a's cost per byte over b's."""
    rounds = sorted(set(a) & set(b))
    return statistics.median(per_byte(a[r]) / per_byte(b[r]) for r in rounds)


def size_table(samples, size):
    rows = {c: samples[size, c] for c in COMMANDS if (size, c) in samples}
    lines = [
        "| command | reads MB | median wall s | wall range s | MB/s | peak RSS MiB "
        "| per byte ÷ cat | per byte ÷ dd | per byte ÷ tandrel |",
        "|---|--:|--:|--:|--:|--:|--:|--:|--:|",
    ]
    for command, runs in rows.items():
        input_bytes = next(iter(runs.values()))[2]
        walls = [s[0] for s in runs.values()]
        wall = statistics.median(walls)
        rss = max(s[1] for s in runs.values()) / 1024
        cells = [WHAT[command], f"{input_bytes / 1e6:.0f}", f"{wall:.3f}",
                 f"{min(walls):.3f}–{max(walls):.3f}",
                 f"{input_bytes / 1e6 / wall:.0f}", f"{rss:.1f}"]
        for other in ("cat", "dd", "tandrel"):
            cells.append(f"{ratio(runs, rows[other]):.2f}" if other in rows else "–")
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def scale_table(samples):
    lines = ["| command | cost per byte, small ÷ large |", "|---|--:|"]
    for command in COMMANDS:
        if ("small", command) in samples and ("large", command) in samples:
            r = ratio(samples["small", command], samples["large", command])
            lines.append(f"| {command} | {r:.2f} |")
    return "\n".join(lines)


def machine():
    model = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        ram_kib = int(f.readline().split()[1])
    cpus = subprocess.run(["nproc"], capture_output=True, text=True).stdout.strip()
    repo = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    commit = subprocess.run(["git", "-C", repo, "describe", "--always", "--dirty"],
                            capture_output=True, text=True).stdout.strip() or "?"
    return f"{cpus} CPUs ({model}), {ram_kib / 2**20:.1f} GiB RAM, tandrel at {commit}"


def section(samples):
    sizes = [s for s in ("small", "large") if any(k[0] == s for k in samples)]
    rounds = max(len(v) for v in samples.values())
    date = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    parts = [f"## Run of {date}", "",
             f"{machine()}; {rounds} round{'s' * (rounds != 1)} after a warm-up round.", ""]
    for size in sizes:
        frames = {"small": 720, "large": 4316}[size]
        parts += [f"### {size} pair ({frames} frames)", "", size_table(samples, size), ""]
    if len(sizes) == 2:
        parts += ["### Scaling", "", scale_table(samples), ""]
    parts += [
        "MB = 10^6 bytes. Wall range: fastest and slowest round. "
        "MB/s: bytes read over the median wall time. The per-byte "
        "columns: the command's wall time per byte read over that of cat, dd or "
        "tandrel in the same round, median over the rounds (below 1: cheaper per "
        "byte; the tandrel column is how many times faster tandrel is per byte). "
        "Peak RSS: the largest of the rounds.",
    ]
    return "\n".join(parts)


def write(path, text):
    head = ("# Benchmark results\n\nWritten by `bench/run.sh --write`; "
            "see bench/README.md for what is measured.\n\n")
    old = open(path).read() if os.path.exists(path) else head + BEGIN + "\n" + END + "\n"
    before, rest = old.split(BEGIN, 1) if BEGIN in old else (old.rstrip() + "\n\n", END)
    after = rest.split(END, 1)[1] if END in rest else "\n"
    with open(path, "w") as f:
        f.write(before + BEGIN + "\n" + text + "\n" + END + after)


def main():
    args = sys.argv[1:]
    if len(args) not in (1, 3) or (len(args) == 3 and args[1] != "--write"):
        sys.exit("usage: summarize.py SAMPLES.tsv [--write RESULTS.md]")
    text = section(load(args[0]))
    print(text)
    if len(args) == 3:
        write(args[2], text)
        print(f"\nwritten to {args[2]}")


if __name__ == "__main__":
    main()
