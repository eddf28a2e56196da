#!/usr/bin/env python3
"""Runs the Google Benchmark suite (bench/zelmar_bench, built with the tests where Debian's
libbenchmark-dev is installed) and records its medians: the time per term of the whole program, of
the plain -O2 transcription of the loop and of the floor (no power calls), each with its ratio to
the transcription's, and the time of one progress line written to a pipe.

Usage: bench/suite_cost.py [BUILD_DIR] [REPETITIONS]   (from the source directory)
"""
import json
import os
import subprocess
import sys

from results import recording

build = sys.argv[1] if len(sys.argv) > 1 else "build"
repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 3

recording(__file__)
done = subprocess.run([os.path.join(build, "bench", "zelmar_bench"), "--benchmark_format=json",
                       f"--benchmark_repetitions={repetitions}", "--benchmark_report_aggregates_only=true"],
                      capture_output=True, text=True, check=True)
# With one repetition there are no aggregates: the one run is its own median.
medians = {row["run_name"]: row for row in json.loads(done.stdout)["benchmarks"]
           if row.get("aggregate_name", "median") == "median"}
print(f"bench/zelmar_bench, median of {repetitions} repetitions")
yardstick = medians["transcription"]["per_term"]
for name in ("program", "transcription", "floorSum"):
    per_term = medians[name]["per_term"]
    print(f"  {name:<14} {per_term * 1e9:6.2f} ns a term, {per_term / yardstick:.3f} of the transcription's")
line = medians["progressLine"]
seconds = line["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1}[line["time_unit"]]
print(f"  progressLine   {seconds * 1e6:6.2f} us a line written to a pipe, {seconds / yardstick:.0f} terms' worth")
