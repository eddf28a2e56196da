#!/usr/bin/env python3
"""Runs a test of a cross build in its emulator, or reports it skipped where this machine cannot.

Usage: emulated.py [--needs-32-bit] EMULATOR -- COMMAND...
       emulated.py --probe

Wine runs 32-bit Windows programs through a 32-bit Linux loader, so it needs the kernel's
32-bit support, which some machines have turned off ("Exec format error"). A test marked
--needs-32-bit is then skipped (status 77) with the reason; every other test runs, and an
emulator that is not installed is a failure. --probe says whether this machine runs 32-bit
programs, status 0 if it does. ZELMAR_NO_32_BIT, set to a reason (or 1), makes the probe say it
does not, for that reason: CI sets it where Wine's 32-bit half cannot be installed, and it lets the
skipping path be tried anywhere.
"""
import errno
import os
import shutil
import struct
import subprocess
import sys
import tempfile

SKIPPED = 77


def runs_32_bit():
    """True if a 32-bit x86 Linux program runs here; otherwise the reason why not."""
    if os.environ.get("ZELMAR_NO_32_BIT"):
        return f"ZELMAR_NO_32_BIT: {os.environ['ZELMAR_NO_32_BIT']}"
    # The smallest such program: one ELF header, one segment, and exit(42) through int 0x80.
    base, code = 0x08048000, bytes.fromhex("b801000000bb2a000000cd80")
    size = 52 + 32 + len(code)
    header = b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + 84, 52, 0, 0, 52, 32,
                                                             1, 0, 0, 0)
    segment = struct.pack("<8I", 1, 0, base, base, size, size, 5, 0x1000)
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "probe")
        with open(path, "wb") as f:
            f.write(header + segment + code)
        os.chmod(path, 0o755)
        try:
            status = subprocess.run([path]).returncode
        except OSError as e:
            if e.errno != errno.ENOEXEC:
                raise
            return f"the kernel refuses them: {e.strerror}"
    return True if status == 42 else f"a 32-bit program exited with {status}, not 42"


def main(args):
    if args == ["--probe"]:
        verdict = runs_32_bit()
        print("this machine runs 32-bit programs" if verdict is True else f"this machine runs no 32-bit programs: {verdict}")
        return 0 if verdict is True else 1
    needs_32_bit = args[:1] == ["--needs-32-bit"]
    args = args[needs_32_bit:]
    if len(args) < 3 or args[1] != "--":
        sys.exit(__doc__)
    emulator, command = args[0], args[2:]
    if not shutil.which(emulator):
        sys.exit(f"emulated.py: the emulator {emulator} is not installed (`ctest -L static` runs what needs none)")
    if needs_32_bit:
        verdict = runs_32_bit()
        if verdict is not True:
            print(f"Skipped: {os.path.basename(emulator)} cannot run 32-bit programs here ({verdict})")
            return SKIPPED
    os.execvp(command[0], command)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
