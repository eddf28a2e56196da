#!/usr/bin/env python3
"""Runs the built program as a person would: through pipes, and at a terminal.

Usage: e2e_test.py PATH-TO-ZELMAR [unittest arguments]
"""
import functools
import os
import pty
import random
import re
import select
import signal
import subprocess
import sys
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
SECONDS = r"\d+(\.\d+)?(e[-+]\d+)?\n"  # the time line's figure, in general notation


@functools.lru_cache(maxsize=None)
def pi_after(terms):
    """Four times the double sum of the first `terms` terms, as the report prints it."""
    total = 0.0
    for n in range(terms):
        total += (-1) ** n / (2 * n + 1)
    return "%.50g" % (total * 4.0)


def run(given, command=None):
    command = command or [*os.environ.get("ZELMAR_EMULATOR", "").split(), EXE]
    return subprocess.run(command, input=given.encode("latin-1"), capture_output=True, timeout=600)


def report(terms, progress, asked=ASK_TERMS + ASK_EVERY):
    """The expected output up to the time line."""
    lines = "".join(f"{n}\n" for n in progress)
    return f"{BANNER}{asked}{lines}Number of MacLaurin terms used: {terms}\nPi={pi_after(max(terms, 0))}\n"


class Pipes(unittest.TestCase):
    def expect_run(self, given, head, errors=""):
        done = run(given)
        out = done.stdout.decode("latin-1")
        self.assertEqual(done.returncode, 0, out)
        self.assertEqual(done.stderr.decode(), errors)
        self.assertEqual(out[: len(head)], head)
        self.assertRegex(out[len(head):], r"\ATime elapsed: " + SECONDS + re.escape(PAUSE) + r"\n\Z")

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
            ("\n  \t12\r\n-2147483648\r\n", 12, [0]),
            ("4" + "z" * 5000 + "\n2\n", 4, [0, 2]),  # the whole long line is dropped
            ("1000\n100", 1000, range(0, 1000, 100)),  # no newline after the last answer
        ]
        for given, terms, progress in cases:
            with self.subTest(given=given[:20]):
                self.expect_run(given, report(terms, progress))

    def test_bad_answers_are_asked_again(self):
        given = "abc\n99999999999\n-2147483649\n\0\n3\nx\n2\n"
        asked = ASK_TERMS * 5 + ASK_EVERY * 2
        self.expect_run(given, report(3, [0, 2], asked), RANGE_MESSAGE * 5)

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

    @unittest.skipUnless(os.environ.get("ZELMAR_SERIES_REFERENCE"), "needs the independent series sum")
    def test_more_than_two_to_the_thirty_terms(self):
        # 2n+1 passes the range of int here; every term must still be the true one.
        terms = 2**30 + 3
        expected = subprocess.run([os.environ["ZELMAR_SERIES_REFERENCE"], str(terms)], capture_output=True,
                                  text=True, check=True).stdout
        done = subprocess.run([EXE], input=f"{terms}\n0\n", capture_output=True, text=True, timeout=600)
        self.assertIn(f"Number of MacLaurin terms used: {terms}\nPi={expected}", done.stdout)


class Terminal(unittest.TestCase):
    def read_until(self, fd, text, seen=b""):
        deadline = time.monotonic() + 30
        while text not in seen:
            self.assertLess(time.monotonic(), deadline, seen)
            if select.select([fd], [], [], 0.5)[0]:
                seen += os.read(fd, 4096)
        return seen

    def test_waits_for_a_key_and_leaves_the_terminal_as_it_was(self):
        endings = [  # how the key wait ends, and how the program should end
            (lambda pid, fd: os.write(fd, b"q"), 0),
            (lambda pid, fd: os.write(fd, b"\x1b[A"), 0),  # a key that sends several bytes
            (lambda pid, fd: os.write(fd, b"\x03"), -signal.SIGINT),
            (lambda pid, fd: os.kill(pid, signal.SIGTERM), -signal.SIGTERM),
            (lambda pid, fd: os.kill(pid, signal.SIGHUP), -signal.SIGHUP),
        ]
        for end, status in endings:
            with self.subTest(status=status):
                pid, fd = pty.fork()
                if pid == 0:
                    os.execv(EXE, [EXE])
                before = termios.tcgetattr(fd)
                seen = self.read_until(fd, ASK_TERMS.encode())
                self.assertIn(b"\x1b]0;Zelmar\x07", seen)
                os.write(fd, b"3\n")
                self.read_until(fd, ASK_EVERY.encode())
                os.write(fd, b"1\n")
                self.read_until(fd, PAUSE.encode())
                while termios.tcgetattr(fd)[3] & termios.ICANON:  # until it reads keys one by one
                    time.sleep(0.01)
                time.sleep(0.2)
                self.assertEqual(os.waitpid(pid, os.WNOHANG), (0, 0), "it should wait for a key")
                end(pid, fd)
                _, code = os.waitpid(pid, 0)
                rest = b""
                try:
                    while chunk := os.read(fd, 4096):
                        rest += chunk
                except OSError:  # the terminal's other side is gone
                    pass
                self.assertTrue(rest.endswith(b"\x1b[23;0t"), "the user's title comes back")
                self.assertEqual(os.waitstatus_to_exitcode(code), status)
                self.assertEqual(termios.tcgetattr(fd), before)
                os.close(fd)


def dialogue(given):
    """What the program should make of the bytes `given`: the answers it takes (two, or fewer if
    input ends first), how many it turns down, and the prompts it writes."""
    answers, refused, asked, at = [], 0, "", 0
    while len(answers) < 2:
        asked += ASK_EVERY if answers else ASK_TERMS
        at += len(given[at:]) - len(given[at:].lstrip(b" \t\n\v\f\r"))
        if at == len(given):
            break
        number = re.match(rb"[-+]?[0-9]+", given[at:])
        if number and -(2**31) <= int(number.group()) < 2**31:
            answers.append(int(number.group()))
        else:
            refused += 1
        line_end = given.find(b"\n", at)
        at = len(given) if line_end < 0 else line_end + 1
    return answers, refused, asked


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


class Hostile(unittest.TestCase):
    def test_random_input(self):
        seed = int(os.environ.get("ZELMAR_SEED", "20261207"))
        runs = int(os.environ.get("ZELMAR_RUNS", "2000"))
        rng = random.Random(seed)
        for case in range(runs):
            given = hostile_input(rng)
            replay = f"case {case} of seed {seed} (ZELMAR_SEED={seed}), input {given[:200]!r}"
            done = subprocess.run([EXE], input=given, capture_output=True, timeout=60)
            answers, refused, asked = dialogue(given)
            out, err = done.stdout.decode("latin-1"), done.stderr.decode("latin-1")
            if len(answers) == 2:
                terms, every = answers
                progress = range(0, terms, abs(every)) if every else []
                self.assertEqual((done.returncode, err), (0, RANGE_MESSAGE * refused), replay)
                self.assertTrue(out.startswith(report(terms, progress, asked)), replay)
            else:
                self.assertEqual((done.returncode, err), (1, RANGE_MESSAGE * refused + ENDED_MESSAGE), replay)
                self.assertEqual(out, BANNER + asked, replay)


@unittest.skipUnless(os.environ.get("ZELMAR_NATIVE"), "needs the native build to compare with")
class Windows(unittest.TestCase):
    def test_reports_match_the_native_build(self):
        def transcript(done):
            out = done.stdout.decode("latin-1").replace("\r\n", "\n")
            head, time_line = out.split("Time elapsed: ")[:2]
            self.assertRegex(time_line, r"\A" + SECONDS)
            return done.returncode, head, done.stderr.decode().replace("\r\n", "\n")

        for given in ["1\n1\n", "2\n1\n", "10\n-3\n", "-5\n1\n", "+7\n0\n", "abc\n1000000\n250000\n",
                      "10000000\n0\n", f"{2**30 + 3}\n0\n"]:
            with self.subTest(given=given):
                self.assertEqual(transcript(run(given)), transcript(run(given, [os.environ["ZELMAR_NATIVE"]])))


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main()
