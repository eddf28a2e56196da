#!/usr/bin/env python3
"""Compares the time zelmar reports for its loop with a plain -O2 transcription
of the same loop, run side by side, and its peak memory with an empty iostream
program's.

Usage: bench/loop_cost.py [BUILD_DIR] [TERMS] [ROUNDS]
"""
import os
import re
import statistics
import subprocess
import sys

from results import recording

build = sys.argv[1] if len(sys.argv) > 1 else "build"
terms = int(sys.argv[2]) if len(sys.argv) > 2 else 100_000_000
rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5


def run_measured(argv, given=b""):
    """Runs a program to the end under GNU time; returns its output and peak resident set in KiB."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], input=given, capture_output=True, check=True)
    return done.stdout.decode(), int(done.stderr.decode().split()[-1])


def seconds(out):
    return float(re.search(r"Time elapsed: (\S+)", out).group(1))


zelmar = os.path.join(build, "zelmar")
reference = os.path.join(build, "bench", "zelmar_reference_loop")
empty = os.path.join(build, "bench", "zelmar_empty_iostream")

recording(__file__)
ours, theirs, peak = [], [], 0
for _ in range(rounds):
    out, rss = run_measured([zelmar], f"{terms}\n0\n".encode())
    ours.append(seconds(out))
    peak = max(peak, rss)
    theirs.append(seconds(run_measured([reference, "1", str(terms)])[0]))
baseline = run_measured([empty])[1]

mine, plain = statistics.median(ours), statistics.median(theirs)
print(f"{terms} terms, no progress lines, median of {rounds} alternating runs")
print(f"  zelmar reports      {mine:.3f} s  ({mine / terms * 1e9:.2f} ns a term)")
print(f"  plain -O2 loop      {plain:.3f} s  ({plain / terms * 1e9:.2f} ns a term)")
print(f"  ratio               {mine / plain:.3f}  (target: within 1.10)")
print(f"  peak resident set   {peak} KiB  (empty iostream program: {baseline} KiB; target: at most 4096)")
sys.exit(0 if mine <= 1.10 * plain and peak <= 4096 else 1)
