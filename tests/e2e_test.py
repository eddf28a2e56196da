#!/usr/bin/env python3
"""Runs the built program as a person would: through pipes, and at a terminal.

Usage: e2e_test.py PATH-TO-ZELMAR [unittest arguments]
"""
import functools
import os
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
import time
import unittest

EXE = ""
BANNER = "Zelmar Pi Approximator\nBy Dravelund\nUses the MacLaurin Approximation for y=arctan x\n"
ASK_TERMS = "Use how many terms of approximation?"
ASK_EVERY = "Output progress every how many terms?"
PAUSE = "Press any key to continue . . . "
RANGE_MESSAGE = "zelmar: expected a whole number from -2147483648 to 2147483647\n"
ENDED_MESSAGE = "zelmar: input ended before the question was answered\n"
WRITE_MESSAGE = "zelmar: could not write to standard output\n"
SECONDS = r"Time elapsed: (\d+(?:\.\d+)?(?:e[-+]\d+)?)\n"  # the time line, its figure in general notation


@functools.lru_cache(maxsize=None)
def pi_after(terms):
    """Four times the double sum of the first `terms` terms, as the report prints it."""
    total = 0.0
    for n in range(terms):
        total += (-1) ** n / (2 * n + 1)
    return "%.50g" % (total * 4.0)


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


def run(given, command=None, env=None):
    command = command or [*os.environ.get("ZELMAR_EMULATOR", "").split(), EXE]
    return subprocess.run(command, input=given.encode("latin-1"), capture_output=True, env=env, timeout=600)


def preloading(**variables):
    """The environment with `variables` added, for a run with a library preloaded (AddressSanitizer
    must be told to allow one in front of it)."""
    return dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0", **variables)


def report(terms, progress, asked=ASK_TERMS + ASK_EVERY):
    """The expected output up to the time line."""
    lines = "".join(f"{n}\n" for n in progress)
    return f"{BANNER}{asked}{lines}Number of MacLaurin terms used: {terms}\nPi={pi_after(max(terms, 0))}\n"


class Pipes(unittest.TestCase):
    def expect_run(self, given, terms, head, errors=None):
        # Where the stand-in for pow is at hand, it counts the calls: two a term, as written.
        counter = os.environ.get("ZELMAR_POW_COUNTER")
        count = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"zelmar-pow-{os.getpid()}")
        done = run(given, env=preloading(LD_PRELOAD=counter, ZELMAR_POW_COUNT=count) if counter else None)
        out = done.stdout.decode("latin-1")
        self.assertEqual(done.returncode, 0, out)
        # By default, a note for each answer followed by more than white space, as the model says.
        self.assertEqual(done.stderr.decode("latin-1"), dialogue(given.encode("latin-1"))[1] if errors is None else errors)
        self.assertEqual(out[: len(head)], head)
        self.assertRegex(out[len(head):], r"\A" + SECONDS + re.escape(PAUSE) + r"\n\Z")
        seconds(self, out)
        if counter:
            with open(count) as f:
                self.assertEqual(int(f.read()), 2 * max(terms, 0), "calls of pow")
            os.remove(count)

    def test_transcripts(self):
        cases = [  # what is typed, the term count reported, the progress lines
            ("1\n1\n", 1, [0]),
            ("2\n1\n", 2, [0, 1]),
            ("10\n3\n", 10, [0, 3, 6, 9]),
            ("10\n-3\n", 10, [0, 3, 6, 9]),
            ("0\n1\n", 0, []),
            ("-5\n1\n", -5, []),
            ("+7\n007\n", 7, [0]),
            ("007\n2\n", 7, [0, 2, 4, 6]),
            ("5\n9\n", 5, [0]),
            ("5\n0\n", 5, []),
            ("3 apples\n1 pear\n", 3, [0, 1, 2]),
            ("3.7\n1e6\n", 3, [0, 1, 2]),  # what is read, with a note on standard error for the rest
            ("1,000\n0x10\n", 1, []),
            ("1 000 000\n 2 \t\r\n", 1, [0]),  # a note for the first line only
            ("\n  \t12\r\n-2147483648\r\n", 12, [0]),
            ("4" + "z" * 5000 + "\n2\n", 4, [0, 2]),  # the whole long line is dropped
            ("1000\n100", 1000, range(0, 1000, 100)),  # no newline after the last answer
        ]
        for given, terms, progress in cases:
            with self.subTest(given=given[:20]):
                self.expect_run(given, terms, report(terms, progress))

    def test_bad_answers_are_asked_again(self):
        given = "abc\n99999999999\n-2147483649\n\0\n3\nx\n2\n"
        asked = ASK_TERMS * 5 + ASK_EVERY * 2
        self.expect_run(given, 3, report(3, [0, 2], asked), RANGE_MESSAGE * 5)

    def test_end_of_input_before_an_answer(self):
        for given, asked, errors in [
            ("", ASK_TERMS, ENDED_MESSAGE),
            ("   \n\n", ASK_TERMS, ENDED_MESSAGE),
            ("12\n", ASK_TERMS + ASK_EVERY, ENDED_MESSAGE),
            ("12\nseven", ASK_TERMS + ASK_EVERY * 2, RANGE_MESSAGE + ENDED_MESSAGE),
        ]:
            with self.subTest(given=given):
                done = run(given)
                self.assertEqual(done.returncode, 1)
                self.assertEqual(done.stdout.decode(), BANNER + asked)
                self.assertEqual(done.stderr.decode(), errors)

    def test_output_that_cannot_be_written_is_not_success(self):
        with open("/dev/full", "wb") as full:
            for name, options in [("full device", {"stdout": full}), ("closed", {"preexec_fn": lambda: os.close(1)})]:
                with self.subTest(name):
                    done = subprocess.run([EXE], input=b"100000\n1\n", stderr=subprocess.PIPE, timeout=60, **options)
                    self.assertEqual((done.returncode, done.stderr.decode()), (1, WRITE_MESSAGE))

    def test_a_cut_at_every_byte(self):
        """Output that fails at each byte of a run, and input that ends at each byte of a dialogue."""
        typed = b"10\n3\nk"
        full = timeless(run(typed.decode()).stdout.decode())
        asked = [len(BANNER + ASK_TERMS), len(BANNER + ASK_TERMS + ASK_EVERY)]
        for limit in [*range(len(full)), None]:  # the first offset that fails ends the test
            where = f"output limited to {limit} bytes"
            with tempfile.TemporaryFile() as f:
                # Writes past the limit fail (SIGXFSZ ignored). Each answer is given only if its
                # question got through in full, and the key only once the key wait's prompt has;
                # then standard input stays open and silent, so a run that reads on would hang.
                def limited(limit=limit):
                    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                    if limit is not None:
                        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
                child = subprocess.Popen([EXE], stdin=subprocess.PIPE, stdout=f, stderr=subprocess.PIPE,
                                         preexec_fn=limited)
                self.addCleanup(child.kill)
                answers = typed.split(b"\n", 2)
                child.stdin.write(b"".join(a + b"\n" for a, at in zip(answers, asked) if limit is None or at <= limit))
                child.stdin.flush()
                written = lambda: os.pread(f.fileno(), 1 << 16, 0).decode()  # noqa: E731
                deadline = time.monotonic() + 10
                while child.poll() is None and not written().endswith(PAUSE):
                    self.assertLess(time.monotonic(), deadline, f"{where}: it waits for input after {written()!r}")
                    time.sleep(0.001)
                if child.poll() is None:
                    child.stdin.write(answers[2])
                    child.stdin.flush()
                status, err = child.wait(timeout=10), child.stderr.read().decode()
                child.stdin.close()
                child.stderr.close()
                out = timeless(written())
                self.assertTrue(full.startswith(out), f"{where}: {out!r}")
                self.assertEqual((status, err), (0, "") if out == full else (1, WRITE_MESSAGE), where)
                self.assertEqual(limit is None, out == full, where)
        given = b" x\r\n12 terms\r\n3\r\nq"
        full = timeless(run(given.decode()).stdout.decode())
        for cut in range(len(given) + 1):
            out = expect_dialogue(self, given[:cut], f"input {given[:cut]!r}")
            self.assertTrue(full.startswith(timeless(out)), f"input {given[:cut]!r}: {out!r}")

    def test_a_reader_that_goes_away_ends_the_run(self):
        ignore = lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)  # noqa: E731
        for preexec, ending in [(None, (-signal.SIGPIPE, "")), (ignore, (1, WRITE_MESSAGE))]:
            with self.subTest(ending=ending):
                child = subprocess.Popen([EXE], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                         preexec_fn=preexec)
                child.stdin.write(b"2000000000\n1\n")
                child.stdin.close()
                for _ in range(8):  # as `head -n 8` would: the banner, the prompts and a few progress lines
                    child.stdout.readline()
                child.stdout.close()
                self.assertEqual((child.wait(timeout=10), child.stderr.read().decode()), ending)
                child.stderr.close()

    def test_the_time_is_the_summation_in_seconds(self):
        # The second answer comes a second late. Once the summation has begun, the reader holds
        # its progress lines back for a second, and it waits on the reader. The time reported must
        # cover that hold-up, and lie within the span from the second answer to the end.
        child = subprocess.Popen([EXE], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(child.kill)
        child.stdin.write(b"200000\n")
        child.stdin.flush()
        time.sleep(1.0)
        answered = time.monotonic()
        child.stdin.write(b"1\n")
        child.stdin.close()
        out, fd = b"", child.stdout.fileno()
        while (ASK_EVERY + "0\n").encode() not in out:
            out += os.read(fd, 4096)
        begun = time.monotonic()
        time.sleep(1.0)
        held = time.monotonic() - begun
        while chunk := os.read(fd, 65536):
            out += chunk
        span = time.monotonic() - answered
        child.stdout.close()
        self.assertEqual(child.wait(timeout=60), 0)
        # In whole milliseconds, the figure may fall a tick short of either bound.
        self.assertTrue(held - 0.002 <= seconds(self, out.decode()) <= span + 0.002, (held, span, out[-100:]))

    @unittest.skipUnless(shutil.which("faketime"), "needs faketime")
    def test_long_times_keep_five_digits(self):
        # A clock a thousand times too fast makes a run of a quarter of a second take minutes, still
        # counted in milliseconds: six digits or more, of which the report shows five. (The sixth is
        # 0 one time in ten, so two runs.)
        for _ in range(2):
            done = subprocess.run(["faketime", "-f", "+0 x1000", EXE], input=b"15000000\n0\n",
                                  capture_output=True, env=preloading(), timeout=60)
            self.assertGreater(seconds(self, done.stdout.decode()), 100)

    @unittest.skipUnless(os.environ.get("ZELMAR_SERIES_REFERENCE"), "needs the independent series sum")
    def test_more_than_two_to_the_thirty_terms(self):
        # 2n+1 passes the range of int here; every term must still be the true one.
        terms = 2**30 + 3
        expected = subprocess.run([os.environ["ZELMAR_SERIES_REFERENCE"], str(terms)], capture_output=True,
                                  text=True, check=True).stdout
        done = subprocess.run([EXE], input=f"{terms}\n0\n", capture_output=True, text=True, timeout=600)
        self.assertIn(f"Number of MacLaurin terms used: {terms}\nPi={expected}", done.stdout)


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


def kill_session(sid):
    """Kills every process left in the session `sid`."""
    for stat in os.listdir("/proc"):
        try:
            with open(f"/proc/{stat}/stat") as f:
                if int(f.read().rsplit(")", 1)[1].split()[3]) == sid:
                    os.kill(int(stat), signal.SIGKILL)
        except (OSError, ValueError, IndexError):
            pass


class Terminal(unittest.TestCase):
    def read_until(self, test, what):
        """Reads the terminal until `test` holds, failing at once if everything has exited."""
        deadline = time.monotonic() + 20
        while not test():
            self.assertLess(time.monotonic(), deadline, f"waiting for {what}: {self.seen!r}")
            if select.select([self.fd], [], [], 0.02)[0]:
                try:
                    chunk = os.read(self.fd, 4096)
                except OSError:  # the terminal's other side is gone
                    chunk = b""
                self.assertTrue(chunk, f"everything exited while waiting for {what}: {self.seen!r}")
                self.seen += chunk

    def wait_for_key_wait(self):
        """Until the program reads keys one by one; it must then stay waiting, with all it wrote read."""
        self.read_until(lambda: not termios.tcgetattr(self.fd)[3] & termios.ICANON, "the key wait")
        time.sleep(0.2)
        while select.select([self.fd], [], [], 0)[0]:
            self.seen += os.read(self.fd, 4096)
        self.assertNotIn(b"END", self.seen, "it should wait for a key")

    def start(self, shell, setup="", redirect="", term="xterm"):
        pid, self.fd = pty.fork()
        if pid == 0:
            os.environ["TERM"] = term
            os.execvp(shell, [shell, "-c", SHELL_SCRIPT.format(setup=setup, redirect=redirect), EXE])
        self.seen = b""
        self.addCleanup(os.close, self.fd)
        self.addCleanup(os.waitpid, pid, 0)
        self.addCleanup(kill_session, pid)

    def test_the_terminal_is_left_as_it_was(self):
        out = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"zelmar-e2e-{os.getpid()}.out")
        remove_out = lambda: os.path.exists(out) and os.remove(out)  # noqa: E731
        self.addCleanup(remove_out)
        # Steps: bytes are typed, a number is a signal sent to the program; "prompt", "summing", "wait"
        # and "stopped" wait until the program is there (a stop also waits until the title is taken again).
        answer, key, ctrl_z = b"3\n1\n", b"q", b"\x1a"
        at_wait, summing = [answer, "wait"], [b"100000000\n1000000\n", "summing"]
        to_file = {"redirect": f"> {out}"}
        cases = [  # name, shell and its set-up, steps, the exit status, the title escapes
            ("a key", "dash", {}, at_wait + [key], 0, TITLED),
            ("a key that sends several bytes", "dash", {}, at_wait + [b"\x1b[A"], 0, TITLED),
            ("Ctrl-S", "dash", {}, at_wait + [b"\x13"], 0, TITLED),
            ("Ctrl-C", "dash", {}, at_wait + [b"\x03"], 128 + signal.SIGINT, TITLED),
            ("Ctrl-\\", "dash", {}, at_wait + [b"\x1c"], 128 + signal.SIGQUIT, TITLED),
            ("SIGTERM", "dash", {}, at_wait + [signal.SIGTERM], 128 + signal.SIGTERM, TITLED),
            ("SIGHUP", "dash", {}, at_wait + [signal.SIGHUP], 128 + signal.SIGHUP, TITLED),
            ("SIGHUP ignored from the start", "dash", {"setup": "trap '' HUP"}, at_wait + [signal.SIGHUP, "wait", key],
             0, TITLED),
            ("Ctrl-Z, then fg, under bash", "bash", {}, at_wait + [ctrl_z, "stopped", "wait", key], 0, TITLED * 2),
            ("Ctrl-Z again after fg", "dash", {}, at_wait + [ctrl_z, "stopped", "wait"] * 2 + [key], 0, TITLED * 3),
            ("SIGTSTP, then fg, under dash", "dash", {}, at_wait + [signal.SIGTSTP, "stopped", "wait", key], 0,
             TITLED * 2),
            ("Ctrl-Z, then bg, then fg", "dash", {"setup": "resume=bg"}, at_wait + [ctrl_z, "stopped", "wait", key], 0,
             TITLED * 2),
            ("Ctrl-Z while summing, then fg", "bash", {}, summing + [ctrl_z, "stopped", "wait", key], 0, TITLED * 2),
            ("keys typed while summing", "dash", {}, summing + [b"xy\n", b"z", "wait", key], 0, TITLED),
            ("Ctrl-Z at a prompt, then fg", "dash", {}, ["prompt", ctrl_z, "stopped"] + at_wait + [key], 0,
             TITLED * 2),
            ("Ctrl-C at a prompt", "dash", {}, ["prompt", b"\x03"], 128 + signal.SIGINT, TITLED),
            ("Ctrl-D at a prompt", "dash", {}, ["prompt", b"\x04"], 1, TITLED),
            ("a dumb terminal", "dash", {"term": "dumb"}, at_wait + [key], 0, []),
            ("Ctrl-C on a dumb terminal", "dash", {"term": "dumb"}, at_wait + [b"\x03"], 128 + signal.SIGINT, []),
            ("input from a file", "dash", {"redirect": "<<EOF\n3\n1\nEOF"}, ["prompt"], 0, TITLED),
            ("output to a file", "dash", to_file, at_wait + [key], 0, []),
            ("output to a file, Ctrl-D at a prompt", "dash", to_file, ["prompt", b"\x04"], 1, []),
            ("output to a file, Ctrl-Z at the key wait, then fg", "dash", to_file,
             at_wait + [ctrl_z, "stopped", "wait", key], 0, []),
        ]

        def in_file():
            if not os.path.exists(out):
                return b""
            with open(out, "rb") as f:
                return f.read()

        arrived = {
            "prompt": lambda: ASK_TERMS.encode() in self.seen + in_file(),
            "summing": lambda: b"?0\r\n" in self.seen,
            "stopped": lambda: self.seen.count(b"STOPPED") == stops and self.seen.count(TITLE) == (stops + 1) * bool(titles),
        }
        for name, shell, options, steps, status, titles in cases:
            with self.subTest(name):
                remove_out()
                self.start(shell, **options)
                self.read_until(lambda: b"START" in self.seen, "the shell")
                stops = 0
                for step in steps:
                    last = len(self.seen)
                    stops += step == "stopped"
                    if step == "wait":
                        self.wait_for_key_wait()
                    elif isinstance(step, str):
                        self.read_until(arrived[step], step)
                    elif isinstance(step, bytes):
                        os.write(self.fd, step)
                    else:
                        os.kill(os.tcgetpgrp(self.fd), step)
                self.read_until(lambda: re.search(rb"REST \[.*\]", self.seen, re.S), "the end")
                self.check_transcript(steps, status, titles)
                # After each stop at a question or at the key wait, fg shows that prompt again, at a line's start.
                at, again = None, []
                for step in steps:
                    at = {"prompt": ASK_TERMS, "wait": PAUSE, "summing": None}.get(step, at)
                    again += [at] if step == "stopped" and at and options is not to_file else []
                for prompt in (ASK_TERMS, PAUSE):
                    self.assertEqual(self.seen.count(prompt.encode()), (prompt.encode() in self.seen) + again.count(prompt))
                    self.assertEqual(self.seen.count(b"\r" + prompt.encode()), again.count(prompt))
                if status == 0 and isinstance(steps[-1], bytes):
                    # The key ends the wait unechoed; the line ends, and the title goes back.
                    after_key = b"" if options is to_file else b"\r\n" + (POP if titles else b"")
                    self.assertEqual(self.seen[last:].split(b"END")[0], after_key)
                if options is to_file:  # the file gets what a pipe would, and nothing more
                    typed = b"".join(step for step in steps if isinstance(step, bytes)).replace(b"\x04", b"")
                    timeless = functools.partial(re.sub, SECONDS.encode(), b"")
                    self.assertEqual(timeless(in_file()), timeless(run(typed.decode()).stdout))

    def check_transcript(self, steps, status, titles):
        seen = self.seen
        start, changed = re.search(rb"START (\S+)", seen).group(1), re.findall(rb"CHANGED (\S+)", seen)
        self.assertEqual(re.findall(rb"STOPPED (\S+)", seen), [start, *changed][: len(changed)],
                         "modes given back at each stop as the shell last left them")
        background = re.findall(rb"BACKGROUND (\S+)", seen)
        self.assertEqual(background, changed[: len(background)], "modes not taken in the background")
        self.assertEqual(re.search(rb"END \d+ (\S+)", seen).group(1), (changed or [start])[-1],
                         "the modes come back as the shell last left them")
        self.assertEqual(re.search(rb"END (\d+)", seen).group(1), str(status).encode())
        self.assertEqual(re.findall(rb"\x1b\[2[23];0t|\x1b\]0;[^\x07]*\x07", seen), titles)
        self.assertEqual(re.search(rb"REST \[(.*)\]", seen, re.S).group(1).strip(), b"",
                         "nothing is left for the next program to read")
        if steps[-1] == b"\x04":  # the message starts a line of its own
            self.assertRegex(seen, rb"(\A|\n)" + re.escape(ENDED_MESSAGE.encode().replace(b"\n", b"\r\n")))


def ignored(answer, rest):
    """The note for the bytes `rest` that followed `answer` on its line: their first 40 past
    white space, unprintable ones escaped; none if there is nothing but white space."""
    rest = rest.strip(b" \t\n\v\f\r")
    shown = "".join("\\" + chr(b) if b in b'"\\' else chr(b) if 0x20 <= b < 0x7F else f"\\x{b:02x}" for b in rest[:40])
    return f'zelmar: read {answer}, ignoring what follows it on the line: "{shown}"{"..." * (len(rest) > 40)}\n' * bool(rest)


def dialogue(given):
    """What the program should make of the bytes `given`: the answers it takes (two, or fewer if
    input ends first), what it says on standard error as it goes, and the prompts it writes."""
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
            errors += ignored(answers[-1], given[at + number.end():line_end])
        else:
            errors += RANGE_MESSAGE
        at = line_end + 1
    return answers, errors, asked


def hostile_input(rng):
    """Lines of numbers (mostly small, some out of range) and junk, with assorted line ends."""
    def token():
        kind = rng.random()
        if kind < 0.45:
            return rng.choice(["", "+", "-", "0", "00"]) + str(rng.randint(0, 3000))
        if kind < 0.55:
            return rng.choice(["", "-"]) + str(rng.randint(2**31 - 2, 10**20))
        junk = b" \t\v\f\x00\x7f\x80\xff\xe9+-.eExz,;"
        size = rng.choice([1, 3, 8, 5000])
        return bytes(rng.choice(junk) for _ in range(size)).decode("latin-1")

    lines = [" ".join(token() for _ in range(rng.randint(0, 3))) for _ in range(rng.randint(0, 5))]
    text = "".join(line + rng.choice(["\n", "\r\n"]) for line in lines)
    return (text[:-1] if text and rng.random() < 0.2 else text).encode("latin-1")


def expect_dialogue(test, given, replay):
    """Runs the program on the bytes `given` and checks the run against the model; returns its output."""
    done = subprocess.run([EXE], input=given, capture_output=True, timeout=60)
    answers, errors, asked = dialogue(given)
    out, err = done.stdout.decode("latin-1"), done.stderr.decode("latin-1")
    if len(answers) == 2:
        terms, every = answers
        progress = range(0, terms, abs(every)) if every else []
        test.assertEqual((done.returncode, err), (0, errors), replay)
        test.assertTrue(out.startswith(report(terms, progress, asked)), replay)
    else:
        test.assertEqual((done.returncode, err), (1, errors + ENDED_MESSAGE), replay)
        test.assertEqual(out, BANNER + asked, replay)
    return out


class Hostile(unittest.TestCase):
    def test_random_input(self):
        seed = int(os.environ.get("ZELMAR_SEED", "20261207"))
        runs = int(os.environ.get("ZELMAR_RUNS", "2000"))
        rng = random.Random(seed)
        for case in range(runs):
            given = hostile_input(rng)
            expect_dialogue(self, given, f"case {case} of seed {seed} (ZELMAR_SEED={seed}), input {given[:200]!r}")


@unittest.skipUnless(os.environ.get("ZELMAR_NATIVE"), "needs the native build to compare with")
class Cross(unittest.TestCase):
    """A cross build, run in its emulator (ZELMAR_EMULATOR), against the native build (ZELMAR_NATIVE)."""

    def test_reports_match_the_native_build(self):
        def transcript(done):  # all but the key wait, which on Windows is the interpreter's own
            out = done.stdout.decode("latin-1").replace("\r\n", "\n")
            head, timed, time_line = out.partition("Time elapsed: ")
            if timed:
                seconds(self, timed + time_line)
            return done.returncode, head, done.stderr.decode().replace("\r\n", "\n")

        cases = ["1\n1\n", "2\n1\n", "10\n-3\n", "-5\n1\n", "+7\n0\n", "abc\n1000000\n250000\n", "12\n"]
        if os.environ.get("ZELMAR_NATIVE_SPEED"):  # emulators that translate code are far too slow for these
            cases += ["10000000\n0\n", f"{2**30 + 3}\n0\n"]
        for given in cases:
            with self.subTest(given=given):
                self.assertEqual(transcript(run(given)), transcript(run(given, [os.environ["ZELMAR_NATIVE"]])))

    @unittest.skipUnless(shutil.which("tmux"), "needs tmux")
    def test_at_a_console(self):
        """Typed at a terminal, which tmux emulates: the window's title, the screen, the key wait."""
        tmux = ["tmux", "-L", f"zelmar-{os.getpid()}", "-f", "/dev/null"]
        self.addCleanup(subprocess.run, [*tmux, "kill-server"], capture_output=True)
        command = shlex.join([*os.environ.get("ZELMAR_EMULATOR", "").split(), EXE])
        subprocess.run([*tmux, "new-session", "-d", "-x", "100", "-y", "40", command, ";",
                        "set-option", "-w", "remain-on-exit", "on"], check=True)
        pane = lambda what: subprocess.run([*tmux, "display-message", "-p", what], capture_output=True,  # noqa: E731
                                           text=True, check=True).stdout.strip()
        screen = lambda: subprocess.run([*tmux, "capture-pane", "-p"], capture_output=True, text=True,  # noqa: E731
                                        check=True).stdout
        def until(test, what):
            deadline = time.monotonic() + 60
            while not test():
                self.assertLess(time.monotonic(), deadline, f"waiting for {what}: {screen()!r}")
                self.assertTrue(what == "the end" or pane("#{pane_dead}") == "0", f"ended before {what}: {screen()!r}")
                time.sleep(0.05)

        typed = {ASK_TERMS: "10", ASK_EVERY: "3"}
        for prompt, answer in typed.items():
            until(lambda: prompt in screen(), prompt)
            subprocess.run([*tmux, "send-keys", answer, "Enter"], check=True)
        until(lambda: "Press any key" in screen(), "the key wait")
        # Keys typed before the terminal reads single keys are dropped: wait until it does.
        tty = os.open(pane("#{pane_tty}"), os.O_RDWR | os.O_NOCTTY)
        self.addCleanup(os.close, tty)
        until(lambda: not termios.tcgetattr(tty)[3] & termios.ICANON, "single keys")
        self.assertEqual(pane("#{pane_title}"), "Zelmar")
        native = run("10\n3\n", [os.environ["ZELMAR_NATIVE"]]).stdout.decode().split("Time elapsed: ")[0]
        for prompt, answer in typed.items():
            native = native.replace(prompt, prompt + answer + "\n")  # what the terminal echoes
        shown = screen()
        self.assertIn(native, "\n".join(line.rstrip() for line in shown.splitlines()) + "\n", shown)
        subprocess.run([*tmux, "send-keys", "q"], check=True)
        # tmux may see the terminal close before it has the exit status: wait for the status, or a signal.
        until(lambda: pane("#{pane_dead_status}#{pane_dead_signal}"), "the end")
        self.assertEqual(pane("#{pane_dead_status}"), "0", screen())


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main()
