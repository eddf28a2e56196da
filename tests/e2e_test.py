#!/usr/bin/env python3
"""Runs the built program as a person would: through pipes, at a terminal, and (a cross build) in
its emulator against the native build.

Usage: e2e_test.py PATH-TO-ZELMAR [TEST...]
  TEST is a class (Transcripts, Pipes, Long, Terminal, Hostile, Console, Cross), or one of its
  tests (Pipes.test_a_cut_at_every_byte); all of them by default. unittest's options follow, -v
  among them. For example: python3 tests/e2e_test.py build/zelmar Transcripts
  Hostile tries ZELMAR_RUNS inputs (2000) made from ZELMAR_SEED, by default a number taken from the
  source tree's commit, so that each commit tries others; a failure names the seed to replay it.

Every wait is bounded. Where a check cannot run here (a tool is missing), the run ends with
status 77 and a line "Skipped: ..." that says why, once every other check has passed."""
import contextlib
import functools
import os
import pathlib
import pty
import random
import re
import resource
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

EXE = ""
EMULATOR = os.environ.get("ZELMAR_EMULATOR", "").split()
BANNER = "Zelmar Pi Approximator\nBy Dravelund\nUses the MacLaurin Approximation for y=arctan x\n"
ASK_TERMS = "Use how many terms of approximation?"
ASK_EVERY = "Output progress every how many terms?"
PAUSE = "Press any key to continue . . . "
RANGE_MESSAGE = "zelmar: expected a whole number from -2147483648 to 2147483647\n"
ENDED_MESSAGE = "zelmar: input ended before the question was answered\n"
WRITE_MESSAGE = "zelmar: could not write to standard output\n"
SSE2_MESSAGE = "zelmar: this program needs a processor with SSE2 (Pentium 4, Athlon 64 or later)\n"
SECONDS = r"Time elapsed: (\d+(?:\.\d+)?(?:e[-+]\d+)?)\n"  # the time line, its figure in general notation
BOUND = 60  # seconds that any one run of the program, or any one wait, may take at most
BOUND *= int(os.environ.get("ZELMAR_SLOWDOWN", "1"))  # where a translating emulator starts each process
SCRATCH = os.environ.get("TMPDIR", "/tmp")


def note(answer, rest):
    """The note on standard error for the bytes `rest` that followed `answer` on its line: their
    first 40 past white space, unprintable ones escaped; none if there is nothing but white space."""
    rest = rest.strip(b" \t\n\v\f\r")
    shown = "".join("\\" + chr(b) if b in b'"\\' else chr(b) if 0x20 <= b < 0x7F else f"\\x{b:02x}" for b in rest[:40])
    return f'zelmar: read {answer}, ignoring what follows it on the line: "{shown}"{"..." * (len(rest) > 40)}\n' * bool(rest)


def expected_dialogue(given):
    """What the program should make of the bytes `given`: the answers it takes (two, or fewer if
    input ends first), what it writes on standard error as it goes, and the prompts it writes."""
    answers, errors, asked, at = [], "", "", 0
    while len(answers) < 2:
        asked += ASK_EVERY if answers else ASK_TERMS
        at += len(given[at:]) - len(given[at:].lstrip(b" \t\n\v\f\r"))
        if at >= len(given):
            break
        number = re.match(rb"[-+]?[0-9]+", given[at:])
        line_end = given.find(b"\n", at)
        line_end = len(given) if line_end < 0 else line_end
        if number and -(2**31) <= int(number.group()) < 2**31:
            answers.append(int(number.group()))
            errors += note(answers[-1], given[at + number.end():line_end])
        else:
            errors += RANGE_MESSAGE
        at = line_end + 1
    return answers, errors, asked


# Pi as the report gives it, written out for a few term counts, and summed again for the others.
PI = {1: "4", 2: "2.6666666666666669627261399000417441129684448242188",
      10: "3.0418396189294032438965587061829864978790283203125"}


@functools.lru_cache(maxsize=None)
def pi_after(terms):
    """Four times the double sum of the first `terms` terms, as the report prints it."""
    total = 0.0
    for n in range(terms):
        total += (-1) ** n / (2 * n + 1)
    return PI.get(terms, "%.50g" % (total * 4.0))


def expected_run(given, literal=None):
    """What a run on the bytes `given` should end with and write: its status, standard error and
    output up to the time line (all of its output if input ends first). `literal` gives the term
    count, the progress lines and standard error where a row spells them out."""
    answers, errors, asked = expected_dialogue(given)
    terms, every = answers if len(answers) == 2 else (None, None)
    progress = range(0, terms, abs(every)) if every else []
    errors += "" if terms is not None else ENDED_MESSAGE
    if literal:
        terms, progress, errors = literal[0], literal[1], literal[2] if len(literal) > 2 else errors
    if terms is None:
        return 1, errors, BANNER + asked
    lines = "".join(f"{n}\n" for n in progress)
    return 0, errors, f"{BANNER}{asked}{lines}Number of MacLaurin terms used: {terms}\nPi={pi_after(max(terms, 0))}\n"


# What is typed; the term count and the progress lines reported (None: input ends first); and
# standard error where it is spelled out here, not left to the model. Transcripts and Cross run them.
TRANSCRIPTS = [
    (b"1\n1\n", 1, [0], ""),
    (b"2\n1\n", 2, [0, 1], ""),
    (b"10\n3\n", 10, [0, 3, 6, 9], ""),
    (b"10\n-3\n", 10, [0, 3, 6, 9]),
    (b"0\n1\n", 0, []),
    (b"-5\n1\n", -5, []),
    (b"+7\n007\n", 7, [0]),
    (b"007\n2\n", 7, [0, 2, 4, 6]),
    (b"5\n9\n", 5, [0]),
    (b"5\n0\n", 5, []),
    (b"3 apples\n1 pear\n", 3, [0, 1, 2], 'zelmar: read 3, ignoring what follows it on the line: "apples"\n'
                                          'zelmar: read 1, ignoring what follows it on the line: "pear"\n'),
    (b'2 say "hi"\x07 \n1\n', 2, [0, 1], 'zelmar: read 2, ignoring what follows it on the line: "say \\"hi\\"\\x07"\n'),
    (b"3.7\n1e6\n", 3, [0, 1, 2]),
    (b"1,000\n0x10\n", 1, []),
    (b"1 000 000\n 2 \t\r\n", 1, [0]),  # a note for the first line only
    (b"\n  \t12\r\n-2147483648\r\n", 12, [0]),
    (b"4" + b"z" * 5000 + b"\n2\n", 4, [0, 2], f'zelmar: read 4, ignoring what follows it on the line: "{"z" * 40}"...\n'),
    (b"1000\n100", 1000, range(0, 1000, 100)),  # no newline after the last answer
    (b"abc\n99999999999\n-2147483649\n\0\n3\nx\n2\n", 3, [0, 2], RANGE_MESSAGE * 5),
    (b"abc\n1000000\n250000\n", 1000000, range(0, 1000000, 250000), RANGE_MESSAGE),
    (b"", None, None, ENDED_MESSAGE),
    (b"   \n\n", None, None, ENDED_MESSAGE),
    (b"12\n", None, None, ENDED_MESSAGE),
    (b"12\nseven", None, None, RANGE_MESSAGE + ENDED_MESSAGE),
]


def run(given, command=None, timeout=BOUND, **options):
    """Runs the program (in its emulator, if any), or `command`, on the bytes `given`: its exit
    status, standard output and standard error, as text with LF line ends. The program's own lines
    must end in bare LF, or on Windows in CR LF."""
    done = subprocess.run(command or [*EMULATOR, EXE], input=given, capture_output=True, timeout=timeout, **options)
    wrong = rb"(?<!\r)\n" if not command and EXE.endswith(".exe") else rb"\r"  # a line end of the other kind
    if any(re.search(wrong, b) for b in (done.stdout, done.stderr)):
        raise AssertionError(f"line ends of the wrong kind: {done.stdout[-300:]!r}, {done.stderr[-300:]!r}")
    text = lambda b: b.decode("latin-1").replace("\r\n", "\n")  # noqa: E731
    return done.returncode, text(done.stdout), text(done.stderr)


def spawn(test, **options):
    """Starts the program, to be driven by `test`; it is killed after BOUND seconds, so that a read
    of its output cannot wait for ever, and at the end of the test."""
    child = subprocess.Popen([*EMULATOR, EXE], **options)
    watchdog = threading.Timer(BOUND, child.kill)
    watchdog.start()
    test.addCleanup(watchdog.cancel)
    test.addCleanup(child.kill)
    return child


def timeless(out):
    """`out` with the time line's figure, or what was written of it, as T."""
    return re.sub(r"(Time elapsed: )[0-9.e+-]*", r"\1T", out)


def seconds(test, out):
    """The time line's figure: seconds, in whole milliseconds, to at most 5 significant digits."""
    figure = re.search(SECONDS, out).group(1)
    value = float(figure)
    test.assertEqual(f"{value:.5g}", figure, "general notation, 5 significant digits")
    test.assertAlmostEqual(value * 1000, round(value * 1000), 6, "whole milliseconds")
    return value


def check_run(test, given, where, literal=None, **options):
    """Runs the program on the bytes `given` and checks it against `expected_run`; a run that
    reports ends with the time line and the key wait's prompt. Returns its output."""
    status, out, err = run(given, **options)
    expected = expected_run(given, literal)
    test.assertEqual((status, err, out[: len(expected[2])] if status == 0 else out), expected, where)
    if status == 0:
        test.assertRegex(out[len(expected[2]):], r"\A" + SECONDS + re.escape(PAUSE) + r"\n\Z", where)
        seconds(test, out)
    return out


def until(test, condition, what, step=lambda: time.sleep(0.01), seconds=10):
    """Waits until `condition()` holds, doing `step()` (which may fail the test) in between; fails
    after `seconds`, saying what it waited for (`what()`)."""
    deadline = time.monotonic() + seconds
    while not condition():
        test.assertLess(time.monotonic(), deadline, f"waiting for {what()}")
        step()


def preloading(**variables):
    """The environment with `variables` added, for a run with a library preloaded (AddressSanitizer
    must be told to allow one in front of it)."""
    return dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0", **variables)


def built(name):
    """The path of `name` in the build's tests/, where the tests build their helpers; None if it is not there."""
    path = os.path.join(os.path.dirname(EXE), "tests", name)
    return path if os.path.exists(path) else None


class Transcripts(unittest.TestCase):
    def test_transcripts(self):
        # The stand-in for pow counts the calls: two a term, as the series is written.
        counter = built("libpow_counter.so")
        count = os.path.join(SCRATCH, f"zelmar-pow-{os.getpid()}")
        environment = preloading(LD_PRELOAD=counter or "", ZELMAR_POW_COUNT=count)
        for given, *literal in TRANSCRIPTS:
            with self.subTest(given=given[:20]):
                check_run(self, given, given[:20], literal, env=environment)
                if counter:
                    self.assertEqual(int(pathlib.Path(count).read_text()), 2 * max(literal[0] or 0, 0), "calls of pow")
                    os.remove(count)
        if not counter:
            self.skipTest("calls of pow not counted: no stand-in for pow was built (-DBUILD_TESTING=ON builds it)")


class Pipes(unittest.TestCase):
    def test_a_cut_at_every_byte(self):
        """Output that fails at each byte of a run, or from the start, and input that ends at each byte."""
        typed = b"10\n3\nk"
        full = timeless(run(typed)[1])
        asked = [len(BANNER + ASK_TERMS), len(BANNER + ASK_TERMS + ASK_EVERY)]
        for limit in [-1, *range(len(full)), None]:  # -1: closed; the first offset that fails ends the test
            where = f"output limited to {limit} bytes"
            with tempfile.TemporaryFile() as f:
                # Writes past the limit fail (SIGXFSZ ignored). Each answer is given only if its
                # question got through in full, and the key (with more after it) only once the key
                # wait's prompt has; standard input stays open and silent, so a run that reads on
                # would hang, and the test reads what the program left in it.
                def limited(limit=limit):
                    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                    if limit == -1:
                        os.close(1)
                    elif limit is not None:
                        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
                given, giving = os.pipe()
                child = spawn(self, stdin=given, stdout=f, stderr=subprocess.PIPE, preexec_fn=limited)
                answers = typed.split(b"\n", 2)
                os.write(giving, b"".join(a + b"\n" for a, at in zip(answers, asked) if limit is None or at <= limit))
                written = lambda: os.pread(f.fileno(), 1 << 16, 0).decode()  # noqa: E731
                until(self, lambda: child.poll() is not None or written().endswith(PAUSE),
                      lambda: f"{where}: the end, but it waits for input after {written()!r}")
                key = child.poll() is None and os.write(giving, answers[2] + b"\nnext")
                err = child.communicate(timeout=10)[1].decode()
                os.write(giving, b"|")  # what follows the key is the next reader's
                self.assertEqual(os.read(given, 100), b"\nnext|" if key else b"|", f"{where}: left unread")
                list(map(os.close, (given, giving)))
                out = timeless(written())
                self.assertTrue(full.startswith(out), f"{where}: {out!r}")
                self.assertEqual((child.returncode, err), (0, "") if out == full else (1, WRITE_MESSAGE), where)
                self.assertEqual(limit is None, out == full, where)
        given = b" x\r\n12 terms\r\n3\r\nq"
        full = timeless(run(given)[1])
        for cut in range(len(given) + 1):
            out = check_run(self, given[:cut], f"input {given[:cut]!r}")
            self.assertTrue(full.startswith(timeless(out)), f"input {given[:cut]!r}: {out!r}")

    def test_a_reader_that_goes_away_ends_the_run(self):
        # `head -n 8` takes the banner, the prompts and a few progress lines; the status is the program's.
        head = ["bash", "-o", "pipefail", "-c", '"$0" | head -n 8 >/dev/null', EXE]
        ignore = lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)  # noqa: E731
        for preexec, ending in [(None, (128 + signal.SIGPIPE, "")), (ignore, (1, WRITE_MESSAGE))]:
            with self.subTest(ending=ending):
                self.assertEqual(run(b"2000000000\n1\n", head, preexec_fn=preexec)[::2], ending)

    def test_the_time_is_the_summation_in_seconds(self):
        # The second answer comes a second late. Once the summation has begun, the reader holds
        # its progress lines back for a second, and it waits on the reader. The time reported must
        # cover that hold-up, and lie within the span from the second answer to the end.
        child = spawn(self, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        child.stdin.write(b"200000\n")
        child.stdin.flush()
        time.sleep(1.0)
        answered = time.monotonic()
        child.stdin.write(b"1\n")
        child.stdin.close()
        out, fd = b"", child.stdout.fileno()
        while (ASK_EVERY + "0\n").encode() not in out:
            chunk = os.read(fd, 4096)
            self.assertTrue(chunk, f"it ended without a progress line: {out!r}")
            out += chunk
        begun = time.monotonic()
        time.sleep(1.0)
        held = time.monotonic() - begun
        while chunk := os.read(fd, 65536):
            out += chunk
        span = time.monotonic() - answered
        child.stdout.close()
        self.assertEqual(child.wait(timeout=BOUND), 0)
        # In whole milliseconds, the figure may fall a tick short of either bound.
        self.assertTrue(held - 0.002 <= seconds(self, out.decode()) <= span + 0.002, (held, span, out[-100:]))


class Long(unittest.TestCase):
    @unittest.skipUnless(shutil.which("faketime"), "needs faketime (Debian package faketime)")
    def test_long_times_keep_five_digits(self):
        # A clock a thousand times too fast makes a run of a quarter of a second take minutes, still
        # counted in milliseconds: six digits or more, of which the report shows five. (The sixth is
        # 0 one time in ten, so two runs.)
        for _ in range(2):
            out = run(b"15000000\n0\n", ["faketime", "-f", "+0 x1000", EXE], env=preloading())[1]
            self.assertGreater(seconds(self, out), 100)

    def test_more_than_two_to_the_thirty_terms(self):
        # 2n+1 passes the range of int here; every term must still be the true one.
        reference = built("series_reference") or self.skipTest("needs the independent series sum, which was not built")
        terms = 2**30 + 3
        expected = subprocess.run([reference, str(terms)], capture_output=True,
                                  text=True, check=True, timeout=BOUND * 5).stdout
        out = run(f"{terms}\n0\n".encode(), timeout=BOUND * 5)[1]
        self.assertIn(f"Number of MacLaurin terms used: {terms}\nPi={expected}", out)


class Hostile(unittest.TestCase):
    @staticmethod
    def hostile_input(rng):
        """Lines of numbers (mostly small, some out of range) and junk, with assorted line ends."""
        def token():
            kind = rng.random()
            if kind < 0.45:
                return rng.choice(["", "+", "-", "0", "00"]) + str(rng.randint(0, 3000))
            if kind < 0.55:
                return rng.choice(["", "-"]) + str(rng.randint(2**31 - 2, 10**20))
            junk = b" \t\v\f\x00\x7f\x80\xff\xe9+-.eExz,;\"\\"
            size = rng.choice([1, 3, 8, 5000])
            return bytes(rng.choice(junk) for _ in range(size)).decode("latin-1")

        lines = [" ".join(token() for _ in range(rng.randint(0, 3))) for _ in range(rng.randint(0, 5))]
        text = "".join(line + rng.choice(["\n", "\r\n"]) for line in lines)
        return (text[:-1] if text and rng.random() < 0.2 else text).encode("latin-1")

    @staticmethod
    def seed():
        """ZELMAR_SEED; else one taken from the source tree's commit, so that each commit tries other
        inputs; else, outside git, a fixed one."""
        if "ZELMAR_SEED" in os.environ:
            return int(os.environ["ZELMAR_SEED"])
        head = subprocess.run(["git", "-C", os.path.dirname(os.path.abspath(__file__)), "rev-parse", "HEAD"],
                              capture_output=True, text=True, check=False) if shutil.which("git") else None
        return int(head.stdout[:12], 16) if head and head.returncode == 0 else 20261207

    def test_random_input(self):
        seed, runs = self.seed(), int(os.environ.get("ZELMAR_RUNS", "2000"))
        rng = random.Random(seed)
        for case in range(runs):
            given = self.hostile_input(rng)
            check_run(self, given, f"case {case} of seed {seed} (ZELMAR_SEED={seed}), input {given[:200]!r}")


# Runs the program under a shell with job control, as a user would, and reports the terminal's
# modes before, at each stop (where the shell then changes them), while it runs in the background
# (with resume=bg, once), and after, the exit status, and whatever a next program would read.
# (bash leaves a loop whose job stops, so rows that stop twice run under dash.)
SHELL_SCRIPT = r"""
set -m
trap : INT
{setup}
echo "START $(stty -g)"
"$0" {redirect}
code=$?
change=ixany
while [ $code = 148 ]; do
  echo "STOPPED $(stty -g)"; stty $change; echo "CHANGED $(stty -g)"
  if [ $change = ixany ]; then change=-ixany; else change=ixany; fi
  if [ "$resume" = bg ]; then resume=; bg >/dev/null; sleep 1; echo "BACKGROUND $(stty -g)"; fi
  fg >/dev/null; code=$?
done
echo "END $code $(stty -g)"
stty -icanon min 0 time 2
echo "REST [$(od -An -tx1)]"
"""
PUSH, TITLE, POP = b"\x1b[22;0t", b"\x1b]0;Zelmar\x07", b"\x1b[23;0t"
TITLED = [PUSH, TITLE, POP]
OUT_FILE = os.path.join(SCRATCH, f"zelmar-e2e-{os.getpid()}.out")
FIFO = os.path.join(SCRATCH, f"zelmar-e2e-{os.getpid()}.fifo")
TO_FILE = {"redirect": f"> {OUT_FILE}"}
FROM_PIPE = {"setup": f"rm -f {FIFO}; mkfifo {FIFO}; (sleep 3; printf '3\\n1\\nq') >{FIFO} &", "redirect": f"<{FIFO}"}
# Steps: bytes are typed, a number is a signal sent to the program; "prompt", "summing", "wait"
# and "stopped" wait until the program is there (a stop also waits until the title is taken again).
ANSWER, KEY, CTRL_Z = b"3\n1\n", b"q", b"\x1a"
AT_WAIT, SUMMING, STOP = [ANSWER, "wait"], [b"100000000\n1000000\n", "summing"], [CTRL_Z, "stopped", "wait"]
BASH, DUMB = {"shell": "bash"}, {"term": "dumb"}
TERMINAL = [  # name, the shell (dash unless named) and its set-up, steps, the exit status, the title escapes
    ("a key", {}, AT_WAIT + [KEY], 0, TITLED),
    ("a key that sends several bytes", {}, AT_WAIT + [b"\x1b[A"], 0, TITLED),
    ("Ctrl-S", {}, AT_WAIT + [b"\x13"], 0, TITLED),
    ("Ctrl-C", {}, AT_WAIT + [b"\x03"], 128 + signal.SIGINT, TITLED),
    ("Ctrl-\\ (quit)", {}, AT_WAIT + [b"\x1c"], 128 + signal.SIGQUIT, TITLED),
    ("SIGTERM", {}, AT_WAIT + [signal.SIGTERM], 128 + signal.SIGTERM, TITLED),
    ("SIGHUP", {}, AT_WAIT + [signal.SIGHUP], 128 + signal.SIGHUP, TITLED),
    ("SIGHUP ignored from the start", {"setup": "trap '' HUP"}, AT_WAIT + [signal.SIGHUP, "wait", KEY], 0, TITLED),
    ("Ctrl-Z, then fg, under bash", BASH, AT_WAIT + STOP + [KEY], 0, TITLED * 2),
    ("Ctrl-Z again after fg", {}, AT_WAIT + STOP * 2 + [KEY], 0, TITLED * 3),
    ("SIGTSTP, then fg", {}, AT_WAIT + [signal.SIGTSTP, "stopped", "wait", KEY], 0, TITLED * 2),
    ("Ctrl-Z, then bg, then fg", {"setup": "resume=bg"}, AT_WAIT + STOP + [KEY], 0, TITLED * 2),
    ("Ctrl-Z while summing, then fg", BASH, SUMMING + STOP + [KEY], 0, TITLED * 2),
    ("keys typed while summing", {}, SUMMING + [b"xy\n", b"z", "wait", KEY], 0, TITLED),
    ("Ctrl-Z at a prompt, then fg", {}, ["prompt", CTRL_Z, "stopped"] + AT_WAIT + [KEY], 0, TITLED * 2),
    ("Ctrl-C at a prompt", {}, ["prompt", b"\x03"], 128 + signal.SIGINT, TITLED),
    ("Ctrl-D at a prompt", {}, ["prompt", b"\x04"], 1, TITLED),
    ("a dumb terminal", DUMB, AT_WAIT + [KEY], 0, []),
    ("Ctrl-C on a dumb terminal", DUMB, AT_WAIT + [b"\x03"], 128 + signal.SIGINT, []),
    ("input from a file", {"redirect": "<<EOF\n3\n1\nEOF"}, ["prompt"], 0, TITLED),
    ("input from a pipe, Ctrl-Z at a prompt, then fg", FROM_PIPE, ["prompt", CTRL_Z, "stopped"], 0, TITLED * 2),
    ("output to a file", TO_FILE, AT_WAIT + [KEY], 0, []),
    ("output to a file, Ctrl-D at a prompt", TO_FILE, ["prompt", b"\x04"], 1, []),
    ("output to a file, Ctrl-Z at the key wait, then fg", TO_FILE, AT_WAIT + STOP + [KEY], 0, []),
]


def kill_session(sid):
    """Kills every process left in the session `sid`."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError):  # it may be gone by now
            if os.getsid(int(pid)) == sid:
                os.kill(int(pid), signal.SIGKILL)


in_file = lambda: pathlib.Path(OUT_FILE).read_bytes() if os.path.exists(OUT_FILE) else b""  # noqa: E731


class Terminal(unittest.TestCase):
    """A test for each row of TERMINAL."""

    def read_until(self, test, what):
        """Reads the terminal until `test` holds, failing at once if everything has exited."""
        def step():
            if select.select([self.fd], [], [], 0.02)[0]:
                try:
                    chunk = os.read(self.fd, 4096)
                except OSError:  # the terminal's other side is gone
                    chunk = b""
                self.assertTrue(chunk, f"everything exited while waiting for {what}: {self.seen!r}")
                self.seen += chunk
        until(self, test, lambda: f"{what}: {self.seen!r}", step)

    def wait_for_key_wait(self):
        """Until the program reads keys one by one; it must then stay waiting, with all it wrote read."""
        self.read_until(lambda: not termios.tcgetattr(self.fd)[3] & termios.ICANON, "the key wait")
        time.sleep(0.2)
        self.read_until(lambda: not select.select([self.fd], [], [], 0)[0], "the end of what it wrote")
        self.assertNotIn(b"END", self.seen, "it should wait for a key")

    def check_row(self, options, steps, status, titles):
        self.addCleanup(lambda: [os.remove(path) for path in (OUT_FILE, FIFO) if os.path.exists(path)])
        pid, self.fd = pty.fork()
        if pid == 0:
            os.environ["TERM"] = options.get("term", "xterm")
            script = SHELL_SCRIPT.format(setup=options.get("setup", ""), redirect=options.get("redirect", ""))
            shell = options.get("shell", "dash")
            os.execvp(shell, [shell, "-c", script, EXE])
        self.seen = b""
        self.addCleanup(os.close, self.fd)
        self.addCleanup(os.waitpid, pid, 0)
        self.addCleanup(kill_session, pid)
        self.read_until(lambda: b"START" in self.seen, "the shell")
        # After each stop at a question or at the key wait that awaits what is typed at the terminal,
        # fg shows that prompt again, at a line's start; no other prompt is shown twice.
        stops, at, again = 0, None, []
        arrived = {
            "prompt": lambda: ASK_TERMS.encode() in self.seen + in_file(),
            "summing": lambda: b"?0\r\n" in self.seen,
            "stopped": lambda: self.seen.count(b"STOPPED") == stops and self.seen.count(TITLE) == (stops + 1) * bool(titles)
            and all(self.seen.count(b"\r" + prompt.encode()) == again.count(prompt) for prompt in again),
        }
        for step in steps:
            last = len(self.seen)
            at = {"prompt": ASK_TERMS, "wait": PAUSE, "summing": None}.get(step, at)
            if step == "stopped":
                stops += 1
                again += [at] if at and "redirect" not in options else []
            if step == "wait":
                self.wait_for_key_wait()
            elif isinstance(step, str):
                self.read_until(arrived[step], step)
            elif isinstance(step, bytes):
                os.write(self.fd, step)
            else:
                os.kill(os.tcgetpgrp(self.fd), step)
        self.read_until(lambda: re.search(rb"REST \[.*\]", self.seen, re.S), "the end")
        for prompt in (ASK_TERMS, ASK_EVERY, PAUSE):
            self.assertEqual(self.seen.count(prompt.encode()), (prompt.encode() in self.seen) + again.count(prompt), prompt)
            self.assertEqual(self.seen.count(b"\r" + prompt.encode()), again.count(prompt), prompt)
        if status == 0 and isinstance(steps[-1], bytes):
            # The key ends the wait unechoed; the line ends, and the title goes back.
            after_key = b"" if options is TO_FILE else b"\r\n" + (POP if titles else b"")
            self.assertEqual(self.seen[last:].split(b"END")[0], after_key)
        if options is TO_FILE:  # the file gets what a pipe would, and nothing more
            typed = b"".join(step for step in steps if isinstance(step, bytes)).replace(b"\x04", b"")
            self.assertEqual(timeless(in_file().decode()), timeless(run(typed)[1]))
        seen = self.seen
        start, changed = re.search(rb"START (\S+)", seen).group(1), re.findall(rb"CHANGED (\S+)", seen)
        self.assertEqual(re.findall(rb"STOPPED (\S+)", seen), [start, *changed][: len(changed)],
                         "modes given back at each stop as the shell last left them")
        background = re.findall(rb"BACKGROUND (\S+)", seen)
        self.assertEqual(background, changed[: len(background)], "modes not taken in the background")
        self.assertEqual(re.search(rb"END (\d+) (\S+)", seen).groups(), (str(status).encode(), (changed or [start])[-1]),
                         "the exit status, and the modes as the shell last left them")
        self.assertEqual(re.findall(rb"\x1b\[2[23];0t|\x1b\]0;[^\x07]*\x07", seen), titles)
        self.assertEqual(re.search(rb"REST \[(.*)\]", seen, re.S).group(1).strip(), b"",
                         "nothing is left for the next program to read")
        if b"Number of" in seen and b"STOPPED" not in seen:  # keys typed while summing are not echoed
            self.assertRegex(seen.split(ASK_EVERY.encode())[-1].split(b"Number of")[0], rb"\A(\d+\r\n)+\Z")
        if steps[-1] == b"\x04":  # the message starts a line of its own
            self.assertRegex(seen, rb"(\A|\n)" + re.escape(ENDED_MESSAGE.encode().replace(b"\n", b"\r\n")))


def add_rows(cls, rows):
    """Gives `cls` a test for each of the `rows`, named after its first field."""
    for name, *row in rows:
        setattr(cls, "test_" + re.sub(r"\W+", "_", name.lower()).strip("_"), lambda self, row=row: self.check_row(*row))


add_rows(Terminal, TERMINAL)


@unittest.skipUnless(os.environ.get("ZELMAR_NATIVE"), "needs the native build to compare with")
class Cross(unittest.TestCase):
    """A cross build, run in its emulator (ZELMAR_EMULATOR), against the native build (ZELMAR_NATIVE)."""

    def test_reports_match_the_native_build(self):
        givens = [given for given, *_ in TRANSCRIPTS]
        if os.environ.get("ZELMAR_NATIVE_SPEED"):  # emulators that translate code are far too slow for these
            givens += [b"10000000\n0\n", f"{2**30 + 3}\n0\n".encode()]
        for given in givens:
            with self.subTest(given=given[:20]):
                status, out, err = run(given, timeout=BOUND * 5)
                native = run(given, [os.environ["ZELMAR_NATIVE"]], timeout=BOUND * 5)
                if status == 0:
                    seconds(self, out)
                self.assertEqual((status, timeless(out), err), (native[0], timeless(native[1]), native[2]))
        if EXE.endswith(".exe"):  # Ctrl-Z, then Enter, as the console gives them, ends input
            self.assertEqual(run(b"7\r\n\x1a\r\n")[::2], (1, ENDED_MESSAGE))
            # The key is one character of a pipe: what follows it is the next reader's (here cat's).
            then = subprocess.run(["sh", "-c", '"$@"; cat', "sh", *EMULATOR, EXE], input=b"1\n1\nk\nnext",
                                  capture_output=True, timeout=BOUND).stdout
            self.assertTrue(then.endswith(PAUSE.encode() + b"\r\n\nnext"), then[-60:])
        if os.path.basename(EMULATOR[0]) == "qemu-i386-static":  # a processor without SSE2 is told so
            self.assertEqual(run(b"", [EMULATOR[0], "-cpu", "pentium2", *EMULATOR[1:], EXE]), (1, "", SSE2_MESSAGE))

    def test_the_hosts_writes(self):
        """Under Node the host writes (elsewhere the C library, which Pipes checks natively): the time must
        cover a reader's hold-up, and a write the host takes in part must end the run, as natively."""
        if EXE.endswith(".js"):
            Pipes.test_the_time_is_the_summation_in_seconds(self)
            def room():  # for 5 bytes of the first line
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (5, 5))
            with tempfile.TemporaryFile() as f:
                done = subprocess.run([*EMULATOR, EXE], input=b"10\n3\n", stdout=f, stderr=subprocess.PIPE,
                                      preexec_fn=room, timeout=BOUND)
                self.assertEqual((done.returncode, done.stderr.decode(), os.pread(f.fileno(), 99, 0)),
                                 (1, WRITE_MESSAGE, b"Zelma"))


# Typed at a terminal that tmux emulates: each step waits for its text on the screen, then sends its
# keys; and how the run must end, as tmux says it (status/signal), None for as Ctrl-C ends a program here
# (the Windows build's status is then 0xC000013A, of which Linux keeps the low byte). Keys sent at
# "summing" must reach the terminal before the report does: {sum} is a sum of a few seconds.
# A row may redirect the program's output; a run that fails waits for a key (at WAIT) only on Windows,
# where it has the console window to itself, which would close with it.
WAIT = PAUSE.rstrip()
ANSWERED = [(ASK_TERMS, "10", "Enter"), (ASK_EVERY, "3", "Enter")]
CONSOLE = [
    ("a key", ANSWERED + [(WAIT, "q")], "0/"),
    ("keys typed while summing", [(ASK_TERMS, "{sum}", "Enter"), (ASK_EVERY, "{half}", "Enter"),
                                  ("?{half}\n0\n", "x", "y", "Enter", "z", "summing"), (WAIT, "q")], "0/"),
    ("Ctrl-C at a question", [(ASK_TERMS, "C-c")], None),
    ("Ctrl-C while summing", [(ASK_TERMS, "2000000000", "Enter"), (ASK_EVERY, "1000000000", "Enter"),
                              ("?1000000000\n0\n", "C-c")], None),
    ("Ctrl-C at the key wait", ANSWERED + [(WAIT, "C-c")], None),
    ("output that cannot be written", [(WRITE_MESSAGE.strip(), ">/dev/full"), (WAIT, "q")], "1/"),
]


@unittest.skipUnless(shutil.which("tmux"), "needs tmux (Debian package tmux)")
class Console(unittest.TestCase):
    """A test for each row of CONSOLE: at the key wait, the window's title and the screen too."""

    @functools.lru_cache(maxsize=None)
    def long_sum():
        """Terms that take about 3 seconds to sum, as the program measures 2 million; a million
        where the emulator translates code, slowly."""
        if EMULATOR and not os.environ.get("ZELMAR_NATIVE_SPEED"):
            return 10**6
        taken = float(re.search(SECONDS, run(b"2000000\n0\n")[1]).group(1))
        return 2 * int(min(max(3 / max(taken, 0.001) * 10**6, 10**6), 10**9))

    def check_row(self, steps, ending):
        if any("{sum}" in part for step in steps for part in step):
            sums = {"sum": Console.long_sum(), "half": Console.long_sum() // 2}
            steps = [tuple(part.format(**sums) for part in step) for step in steps]
        if ending is None and os.environ.get("ZELMAR_TRANSLATED"):  # set by emulated.py
            self.skipTest(f"Ctrl-C: Wine translated by {os.environ['ZELMAR_TRANSLATED']} often ends with status 1 on it")
        server = ["tmux", "-L", f"zelmar-{os.getpid()}-{self._testMethodName}", "-f", "/dev/null"]
        tmux = lambda *args: subprocess.run([*server, *args], capture_output=True, text=True,  # noqa: E731
                                            check=True, timeout=BOUND).stdout
        self.addCleanup(subprocess.run, [*server, "kill-server"], capture_output=True)
        redirect = [keys[0] for shown, *keys in steps if shown == WRITE_MESSAGE.strip()]
        if redirect and not EXE.endswith(".exe"):  # a terminal's window stays open: no wait
            steps = []
        tmux("new-session", "-d", "-x", "100", "-y", "40", " ".join([shlex.join([*EMULATOR, EXE]), *redirect]), ";",
             "set-option", "-w", "remain-on-exit", "on")
        pane = lambda what: tmux("display-message", "-p", what).strip()  # noqa: E731
        screen = lambda: "\n".join(line.rstrip() for line in  # noqa: E731  (with what scrolled off)
                                   tmux("capture-pane", "-p", "-S", "-").splitlines()) + "\n"
        def wait(condition, what):  # failing at once where the program has ended before `what`
            def step():
                self.assertTrue(what == "the end" or pane("#{pane_dead}") == "0", f"ended before {what}: {screen()!r}")
                if pane("#{pane_dead}") == "1":  # tmux can miss the child's SIGCHLD, and never reap it
                    os.kill(int(pane("#{pid}")), signal.SIGCHLD)
                time.sleep(0.05)
            until(self, condition, lambda: f"{what}: {screen()!r}", step, BOUND)

        for shown, *keys in steps:
            wait(lambda: shown in screen(), shown)
            if shown == WRITE_MESSAGE.strip():
                continue  # its "keys" redirect the output
            if shown == WAIT:
                # Keys typed before the terminal reads single keys are dropped: wait until it does.
                tty = os.open(pane("#{pane_tty}"), os.O_RDWR | os.O_NOCTTY)
                self.addCleanup(os.close, tty)
                wait(lambda: not termios.tcgetattr(tty)[3] & termios.ICANON, "single keys")
                self.assertEqual(pane("#{pane_title}"), "Zelmar")
                answers = [step for step in steps if step[0] in (ASK_TERMS, ASK_EVERY)]
                typed = "".join(answer + "\n" for _, answer, _ in answers).encode()
                native = timeless(run(typed, [os.environ.get("ZELMAR_NATIVE", EXE)])[1]).split("Time elapsed: ")[0]
                for prompt, answer, _ in answers:
                    native = native.replace(prompt, prompt + answer + "\n")  # what the terminal echoes
                self.assertIn(native if answers else WRITE_MESSAGE, screen())
                time.sleep(1)  # no key typed ahead ends the wait
                self.assertEqual(pane("#{pane_dead}"), "0", f"it should wait for a key: {screen()!r}")
            summing = keys[-1:] == ["summing"]
            tmux("send-keys", *keys[:-1] if summing else keys)
            self.assertFalse(summing and "Number of" in screen(), "the sum ended before the keys came; sum for longer")
        # tmux may see the terminal close before it has the exit status: wait for the status, or a signal.
        wait(lambda: pane("#{pane_dead_status}#{pane_dead_signal}"), "the end")
        ending = ending or ("58/" if EXE.endswith(".exe") else f"/{signal.SIGINT.value}")
        self.assertEqual(pane("#{pane_dead_status}/#{pane_dead_signal}"), ending, screen())


add_rows(Console, CONSOLE)


if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1].startswith("-"):  # the usage: asked for, on standard output
        print(__doc__, file=sys.stdout if sys.argv[1:2] in (["--help"], ["-h"]) else sys.stderr)
        sys.exit(2)
    if not os.path.isfile(sys.argv[1]):
        print(f"e2e_test.py: no program at {sys.argv[1]} (usage: e2e_test.py --help)", file=sys.stderr)
        sys.exit(2)
    EXE = os.path.abspath(sys.argv.pop(1))
    result = unittest.main(exit=False).result
    for test, reason in result.skipped:
        print(f"Skipped: {test.id().split('.', 1)[1]}: {reason}")
    sys.exit(1 if not result.wasSuccessful() else 77 if result.skipped else 0)
