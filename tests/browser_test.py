#!/usr/bin/env python3
"""The web build's page in a real browser, headless Chromium, opened from disk and typed at as a
person would. Usage: browser_test.py PATH-TO-zelmar.html; ZELMAR_NATIVE names the native build,
whose reports the page's must match. Needs Debian's chromium, chromium-driver and python3-selenium."""
import os
import subprocess
import sys
import time
import unittest

from e2e_test import add_rows
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys

PAGE = ""
PAGE_TITLE = "Zelmar, in a browser"
CTRL_C, CTRL_D = (Keys.CONTROL, "c"), (Keys.CONTROL, "d")
# Each step waits for its text on the screen, then types its keys (a tuple: a key with Ctrl), or
# pastes its text, or (None) checks that the page's own timer keeps firing while the program sums,
# or (a number) checks that the run still waits that many seconds later. Then the run must end
# with the status given, within half a second of Ctrl-C. Where the echo of the answers after each
# prompt is given, the screen at the key wait must end as the native build's output for those
# answers does, and the page must have shown as many lines.
# When Ctrl-C was pressed, and when the screen showed the end (window.ended - window.ctrlC), by the page's clock.
CTRL_C_CLOCK = ("document.addEventListener('keydown', e => { if (e.ctrlKey && e.key == 'c') window.ctrlC = e.timeStamp }, true);"
                "const rows = document.querySelector('.xterm-rows'); new MutationObserver(() => window.ended = window.ended ||"
                " (rows.textContent.includes('ended with status') ? performance.now() : 0))"
                ".observe(rows, {childList: true, subtree: true, characterData: true})")
TYPED = {"approximation?": "10\n", "terms?": "3\n"}
SCENARIOS = [
    ("two answers and a key", [("approximation?", "10\n"), ("terms?", "3\n"), ("Press any key", "q")], 0, TYPED),
    ("Backspace edits an answer", [("approximation?", "1x" + Keys.BACKSPACE + "0\n"), ("terms?", "3\n"),
                                   ("Press any key", "q")], 0, TYPED),
    ("a pasted pair of lines", [("approximation?", {"paste": "10\n3\n"}), ("Press any key", "q")], 0,
     {"approximation?": "10\n3\n", "terms?": ""}),
    ("Ctrl-D at a question", [("approximation?", CTRL_D)], 1, None),
    ("Ctrl-C while summing", [("approximation?", "2000000000\n"), ("terms?", "0\n"), ("terms?0", None),
                              ("terms?0", CTRL_C)], 130, None),
    # stream rows
    ("heavy output", [("approximation?", "200000\n"), ("terms?", "1\n"), ("Press any key", "q")], 0,
     {"approximation?": "200000\n", "terms?": "1\n"}),
    ("Ctrl-C amid heavy output", [("approximation?", "2000000000\n"), ("terms?", "1\n"), ("", None), ("", None),
                                  ("", CTRL_C)],
     130, None),
    ("progress lines while summing", [("approximation?", "2000000000\n"), ("terms?", "1000000\n"), ("\n3000000", CTRL_C)],
     130, None),
    ("keys typed ahead of the key wait", [("approximation?", {"paste": "10\n3\n\n"}), ("Press any key", 1.0),
                                          ("Press any key", "q")], 0, {"approximation?": "10\n3\n\n", "terms?": ""}),
]


def chromium():
    """Debian's Chromium, headless, kept off the network, its console's every line logged."""
    options = webdriver.ChromeOptions()
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync"]:
        options.add_argument(flag)
    options.binary_location = "/usr/bin/chromium"
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def screen(browser):
    """The terminal's text, a line a row, as the page's document holds it."""
    return browser.execute_script(
        "return [...document.querySelectorAll('.xterm-rows > div')].map(r => r.textContent.trimEnd()).join('\\n')")


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.browser = chromium()
        cls.addClassCleanup(cls.browser.quit)

    def screen(self):
        return screen(self.browser)

    def wait(self, condition, what, seconds=20):
        deadline = time.monotonic() + seconds
        while not condition():
            self.assertLess(time.monotonic(), deadline, f"waiting for {what}: {self.screen()!r}")
            time.sleep(0.02)

    def check_row(self, steps, status, echoes):
        self.browser.get("file://" + PAGE)
        typing = self.browser.find_element("css selector", "textarea.xterm-helper-textarea")
        self.browser.execute_script(CTRL_C_CLOCK)
        for shown, keys in steps:
            self.wait(lambda: shown in self.screen(), shown)
            if shown == "Press any key":
                self.assertEqual(self.browser.title, "Zelmar", "the title while it runs")
                typed = "".join(echoes.values()).encode()
                native = subprocess.run([os.environ["ZELMAR_NATIVE"]], input=typed, capture_output=True).stdout.decode()
                self.assertEqual(self.browser.execute_script("return document.body.dataset.lines"),
                                 str(native.split("Press any key")[0].count("\n")), "the program's lines shown")
                for prompt, echo in echoes.items():
                    native = native.replace(prompt, prompt + echo, 1)
                self.assertIn("\n".join(native.split("Time elapsed: ")[0].split("\n")[-20:]), self.screen())
            if keys is None:  # the page's own timer fires while the program sums
                ticks = "return window.ticks || 0"
                self.browser.execute_script("window.ticks = 0; setInterval(() => window.ticks++, 50)")
                time.sleep(1)
                self.assertGreater(self.browser.execute_script(ticks), 1, "ticks of the page's timer in a second")
            elif isinstance(keys, float):
                time.sleep(keys)
                self.assertIsNone(self.browser.execute_script("return document.body.dataset.status"), "the run's end")
            elif isinstance(keys, dict):
                self.browser.execute_script("const paste = new DataTransfer(); paste.setData('text/plain', arguments[1]);"
                                            "arguments[0].dispatchEvent(new ClipboardEvent('paste', {clipboardData: paste,"
                                            " bubbles: true}))", typing, keys["paste"])
            elif isinstance(keys, tuple):
                ActionChains(self.browser).key_down(keys[0]).send_keys(keys[1]).key_up(keys[0]).perform()
            else:
                typing.send_keys(keys)
        self.wait(lambda: self.browser.execute_script("return document.body.dataset.status") is not None, "the end")
        self.assertEqual(self.browser.execute_script("return document.body.dataset.status"), str(status))
        self.wait(lambda: f"ended with status {status}" in self.screen(), "the end on the screen")
        if CTRL_C in (keys for _, keys in steps):
            self.assertLess(self.browser.execute_script("return window.ended - window.ctrlC"), 500, "ms to act on Ctrl-C")
        self.assertEqual(self.browser.title, PAGE_TITLE, "the page's own title, given back")
        if status == 1:
            self.assertIn("\nzelmar: input ended before the question was answered", self.screen())
        self.assertEqual(self.browser.execute_script("return performance.getEntriesByType('resource').length"), 0,
                         "requests from the page")
        errors = [entry for entry in self.browser.get_log("browser") if entry["level"] in ("SEVERE", "WARNING")]
        self.assertEqual(errors, [], "the browser's console")


add_rows(Page, SCENARIOS)

if __name__ == "__main__":
    PAGE = os.path.abspath(sys.argv.pop(1))
    unittest.main()
