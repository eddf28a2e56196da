#!/usr/bin/env python3
"""Times the README's test command, which builds and runs every test, in a fresh clone of the
source directory's commit, as a newcomer would run it.

Usage: bench/test_time.py   (from the source directory)
"""
import re
import subprocess
import tempfile
import time

from results import recording

with open("README.md") as f:
    command = next(line.strip() for line in f if re.match(r"cmake .*ctest ", line))
recording(__file__)
with tempfile.TemporaryDirectory() as scratch:
    subprocess.run(["git", "clone", "-q", ".", scratch], check=True)
    start = time.monotonic()
    done = subprocess.run(command, shell=True, cwd=scratch, capture_output=True, text=True)
    taken = time.monotonic() - start
summary = re.search(r"^\d+% tests passed.*$", done.stdout, re.M)
print(f"{command}\n  {taken:.0f} s from a fresh clone, status {done.returncode}: {summary and summary.group()}")
