#!/usr/bin/env python3
"""Runs a test of a cross build in its emulator, or reports it skipped where this machine cannot.

Usage: emulated.py [--needs-32-bit] EMULATOR -- COMMAND...
       emulated.py --probe
       emulated.py --slowdown
       emulated.py --unpack-wine32 DIR

Wine runs 32-bit Windows programs through its 32-bit half (Debian's wine32:i386), a 32-bit Linux
loader. A test marked --needs-32-bit runs it:
- where the kernel runs 32-bit programs, as it is;
- where the kernel refuses them ("Exec format error"), through qemu-i386-static, in a user
  namespace of the test's own whose own binfmt_misc hands every 32-bit x86 program to it (Wine
  starts further Windows processes by running its loader again). No other process sees that
  registration, and it goes with the namespace however the test ends. Translated code is far
  slower, so ZELMAR_NATIVE_SPEED is dropped, and the runs keep to the short counts;
- nowhere else: it is skipped (status 77), saying why in one line.
Every other test runs, and an emulator that is not installed is a failure.

Where apt cannot install wine32:i386 (Debian's i386 lists out of step with amd64's, say),
--unpack-wine32 DIR unpacks it into DIR with apt's own packages, and ZELMAR_WINE32=DIR makes the
tests run Wine's 32-bit loader from there.

--probe says whether this machine's kernel runs 32-bit programs, status 0 if it does; --slowdown
prints how many times longer the 32-bit tests' bounds must be here: SLOWDOWN where they run
translated, else 1. Whether they do is decided here alone (translation()): configure asks --slowdown
for the bounds it sets, and each test asks ZELMAR_TRANSLATED, set for it, for what it leaves out.
ZELMAR_NO_32_BIT, set to a reason (or 1), makes the tests skip for that reason: CI sets it where it
cannot have Wine's 32-bit half, and it lets the skipping path be tried anywhere.
ZELMAR_EMULATE_32_BIT=1 takes the emulated way even where the kernel runs 32-bit programs.
"""
import errno
import os
import shutil
import struct
import subprocess
import sys
import tempfile

SKIPPED = 77
WINE32 = "/usr/lib/wine/wine"  # Wine's 32-bit loader, from Debian's wine32:i386
QEMU = "qemu-i386-static"
# binfmt_misc's registration of 32-bit x86 ELF programs (executables and shared objects), run through
# QEMU opened once at registration (flag F), so that it is found whatever the program's root.
I386 = (r"\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00",
        r"\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff")
BINFMT = "/proc/sys/fs/binfmt_misc"
SLOWDOWN = 10  # how many times longer the tests' bounds and waits are when translated


def runs_32_bit():
    """True if a 32-bit x86 Linux program runs here; otherwise the reason why not."""
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


def translation():
    """Why Wine's 32-bit loader must run translated by QEMU here; None where it runs as it is."""
    if os.environ.get("ZELMAR_EMULATE_32_BIT"):
        return "ZELMAR_EMULATE_32_BIT is set"
    verdict = runs_32_bit()
    return None if verdict is True else verdict


def unpacked_wine32():
    """The loader in ZELMAR_WINE32, where that is set, and the variables it runs with."""
    root = os.environ.get("ZELMAR_WINE32")
    if not root:
        return None, {}
    libraries = [f"{root}/lib/i386-linux-gnu", f"{root}/usr/lib/i386-linux-gnu", os.environ.get("LD_LIBRARY_PATH")]
    # Wine's 64-bit half, installed, finds the 32-bit Windows libraries here.
    return f"{root}{WINE32}", {"LD_LIBRARY_PATH": ":".join(filter(None, libraries)),
                               "WINEDLLPATH": f"{root}/usr/lib/i386-linux-gnu/wine"}


def unpack_wine32(root):
    """Unpacks Wine's 32-bit half into `root` (its loader and the preloader that keeps the addresses
    Windows programs expect free), from the same version's packages as Wine's 64-bit half installed
    here, with the C library of the machine's own version, and FreeType, which Wine asks for."""
    native = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True, check=True).stdout.strip()
    version = lambda package: subprocess.run(["dpkg-query", "-W", "-f", "${Version}", f"{package}:{native}"],  # noqa: E731
                                             capture_output=True, text=True, check=True).stdout
    packages = [f"wine32:i386={version('wine64')}", f"wine32-preloader:i386={version('wine64')}",
                f"libwine:i386={version('wine64')}",
                f"libc6:i386={version('libc6')}", "libfreetype6:i386", "libpng16-16:i386", "libbrotli1:i386",
                "zlib1g:i386"]
    os.makedirs(root, exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        os.chmod(scratch, 0o755)  # apt downloads as its own user
        got = subprocess.run(["apt-get", "download", "-q", *packages], cwd=scratch, capture_output=True, text=True)
        if got.returncode != 0:
            sys.exit(f"apt-get cannot download {' '.join(packages)}: {' '.join(got.stderr.split())}")
        for deb in sorted(os.listdir(scratch)):
            subprocess.run(["dpkg-deb", "-x", os.path.join(scratch, deb), root], check=True)
    # What the packages' scripts would do: the 32-bit loader starts 64-bit processes through the
    # 64-bit loader beside it, and Wine's user32 loads MinGW's zlib1.dll marked as one of its own.
    if not os.path.lexists(f"{root}/usr/lib/wine/wine64"):
        os.symlink("/usr/lib/wine/wine64", f"{root}/usr/lib/wine/wine64")
    with open("/usr/i686-w64-mingw32/lib/zlib1.dll", "rb") as f:
        zlib = f.read()
    with open(f"{root}/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll", "wb") as f:
        f.write(zlib[:64] + b"Wine builtin DLL" + bytes(16) + zlib[96:])
    return 0


def emulating(command):
    """Runs `command` in this namespace, after registering QEMU for 32-bit programs in its own binfmt_misc."""
    mounted = subprocess.run(["mount", "-t", "binfmt_misc", "zelmar", BINFMT], capture_output=True, text=True)
    if mounted.returncode != 0:
        return skip(f"binfmt_misc cannot be mounted in a namespace of its own: {mounted.stderr.strip()}")
    try:
        with open(f"{BINFMT}/register", "w") as register:
            register.write(f":zelmar-i386:M::{I386[0]}:{I386[1]}:{shutil.which(QEMU)}:F")
    except OSError as e:
        return skip(f"binfmt_misc does not take the registration of {QEMU}: {e.strerror}")
    verdict = runs_32_bit()
    if verdict is not True:
        return skip(f"{QEMU} does not run 32-bit programs through binfmt_misc: {verdict}")
    # Each Windows process then takes seconds to start: the tests' bounds grow to match.
    os.environ.pop("ZELMAR_NATIVE_SPEED", None)
    os.environ["ZELMAR_SLOWDOWN"] = str(SLOWDOWN)
    os.environ["ZELMAR_TRANSLATED"] = QEMU
    os.execvp(command[0], command)


def skip(reason):
    print(f"Skipped: Wine cannot run 32-bit programs here: {reason}")
    return SKIPPED


def main(args):
    if args == ["--probe"]:
        verdict = runs_32_bit()
        print("this machine runs 32-bit programs" if verdict is True else f"this machine runs no 32-bit programs: {verdict}")
        return 0 if verdict is True else 1
    if args == ["--slowdown"]:
        print(SLOWDOWN if translation() else 1)
        return 0
    if args[:1] == ["--unpack-wine32"] and len(args) == 2:
        return unpack_wine32(args[1])
    if args[:1] == ["--emulating"]:
        return emulating(args[1:])
    needs_32_bit = args[:1] == ["--needs-32-bit"]
    args = args[needs_32_bit:]
    if len(args) < 3 or args[1] != "--":
        sys.exit(__doc__)
    emulator, command = args[0], args[2:]
    if not shutil.which(emulator):
        sys.exit(f"emulated.py: the emulator {emulator} is not installed (`ctest -L static` runs what needs none)")
    if needs_32_bit:
        if os.environ.get("ZELMAR_NO_32_BIT"):
            return skip(f"ZELMAR_NO_32_BIT: {os.environ['ZELMAR_NO_32_BIT']}")
        loader, variables = unpacked_wine32()
        if loader:  # that loader in place of Debian's wrapper, wherever the command names it
            command = [loader if word == emulator else word for word in command]
            variables["ZELMAR_EMULATOR"] = loader
            os.environ.update(variables)
        elif not os.path.exists(WINE32):
            return skip(f"{WINE32} is not installed (Debian's wine32:i386)")
        verdict = translation()
        if verdict:
            if not shutil.which(QEMU):
                return skip(f"{verdict}, and {QEMU} is not installed (Debian's qemu-user-static)")
            namespace = ["unshare", "--user", "--map-root-user", "--mount", "--"]
            tried = subprocess.run([*namespace, "true"], capture_output=True, text=True)
            if tried.returncode != 0:
                return skip(f"{verdict}, and no user namespace can be made: {tried.stderr.strip()}")
            command = [*namespace, sys.executable, os.path.abspath(__file__), "--emulating", *command]
    os.execvp(command[0], command)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
