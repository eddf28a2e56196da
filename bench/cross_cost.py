#!/usr/bin/env python3
"""Compares the time the Windows builds report for the loop, each run in its emulator, with the
native build's, run alternately in the same go: the cost per term, and its ratio to the native one.

Usage: bench/cross_cost.py [TERMS] [ROUNDS] [LABEL=COMMAND ...]   (from the source directory)

It times build/zelmar against build-x86_64-w64-mingw32/zelmar.exe under wine64 and, where its tests
can run it, build-i686-w64-mingw32/zelmar.exe under wine, natively or emulated (tests/emulated.py, whose
variables apply); then each COMMAND given.
Under Wine, the C runtime that these call (msvcrt.dll, and its pow) is Wine's own, not Microsoft's.
"""
import os
import re
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from emulated import translation  # noqa: E402
from results import recording  # noqa: E402

terms = int(sys.argv[1]) if len(sys.argv) > 1 else 20_000_000
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
WINE = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}


def wine_build(target, wine):
    """The command that runs a Windows build's program, with the build's own Wine prefix."""
    build = f"build-{target}"
    return [wine, os.path.join(build, "zelmar.exe")], {"WINEPREFIX": os.path.abspath(os.path.join(build, "wine"))}


programs = {"native": (["build/zelmar"], {})}
programs["win64, wine64"] = wine_build("x86_64-w64-mingw32", "/usr/lib/wine/wine64")
# The 32-bit build runs as its tests run it (tests/emulated.py): natively, or translated by qemu-i386-static.
guard = [sys.executable, os.path.join(os.path.dirname(__file__), "..", "tests", "emulated.py"), "--needs-32-bit",
         "wine", "--"]
if subprocess.run([*guard, "true"]).returncode == 0:
    emulated = translation()
    command, env = wine_build("i686-w64-mingw32", "wine")
    programs["win32, wine" + (" under qemu-i386-static" if emulated else "")] = ([*guard, *command], env)
for pair in sys.argv[3:]:  # others to compare, such as an older build, in the 64-bit build's Wine prefix
    label, command = pair.split("=", 1)
    programs[label] = (command.split(), programs["win64, wine64"][1])


def reported(command, env):
    """Seconds that the program reports for `terms` terms with no progress lines."""
    done = subprocess.run(command, input=f"{terms}\n0\n".encode(), capture_output=True, check=True,
                          env=dict(os.environ, **WINE, **env))
    return float(re.search(rb"Time elapsed: (\S+)", done.stdout).group(1))


recording(__file__)
times = {label: [] for label in programs}
for _ in range(rounds):
    for label, (command, env) in programs.items():
        times[label].append(reported(command, env))

# The ratio is taken round by round, against the native run just before, so that a machine whose
# speed drifts (a shared one) moves both sides of each ratio together.
print(f"{terms} terms, no progress lines, {rounds} rounds: medians (min-max)")
for label, seconds in times.items():
    ratio = statistics.median(mine / native for mine, native in zip(seconds, times["native"]))
    print(f"  {label:<30} {statistics.median(seconds) / terms * 1e9:6.2f} ns a term"
          f" ({min(seconds):.3f}-{max(seconds):.3f} s), {ratio:.2f} of native")
