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
# A step may type as a phone's keyboard ("soft"), or "tap" or "select" a text; a status in words is
# what the page says where it cannot run the program.
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
    # ui rows
    ("a phone", [("approximation?", {"tap": "pi from the arctan"}), ("approximation?", {"soft": "10\n"}),
                 ("terms?", {"soft": "3\n"}), ("Press any key", {"soft": "q"})], 0, TYPED, "phone"),
    ("a phone's End input sends the text typed, and Stop the run stops it", [("approximation?", {"soft": "2000000000"}),
     ("?2000000000", {"tap": "End input"}), ("?2000000000", {"soft": "\n"}), ("terms?", {"soft": "0\n"}),
     ("terms?0", {"tap": "Stop the run"})], 130, None, "phone"),
    ("Tab and arrows are no answer's text; Ctrl-C copies a selection and Ctrl-V pastes it; a paste is one key", [
     ("approximation?", "1" + Keys.TAB + Keys.LEFT + Keys.UP + "0\n"), ("terms?", {"select": "10"}), ("terms?", CTRL_C),
     ("terms?", (Keys.CONTROL, "v")), ("terms?10", "\n"), ("Press any key", {"paste": "xy"}),
     ("continue . . .\n\n[Zelmar", {"paste": "7\n"})], 0, {"approximation?": "10\n", "terms?": "10\n"}),
    ("keys typed while summing are dropped and a plain key runs it again", [("approximation?", "2000000000\n"),
     ("terms?", "0\n"), ("terms?0", None), ("terms?0", "5\n"), ("terms?0", CTRL_C), ("terms?0\n^C\n[Zelmar", CTRL_C),
     ("status 130", (Keys.ALT, "x")), ("status 130", "x"), ("again.]\nZelmar Pi Approximator", "10\n"),
     ("?10\nOutput progress every how many terms?", "3\n"), ("Press any key", "q")], 0, TYPED),
    ("JavaScript off", [], "Zelmar runs in this page with JavaScript, which is off here.", None, "no script"),
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


FIND = """/* the middle of the last place of a text in the part that the selector names */ let range;
const walk = document.createTreeWalker(document.querySelector(arguments[1]), NodeFilter.SHOW_TEXT);
for (let node; (node = walk.nextNode());) { const at = node.data.lastIndexOf(arguments[0]);
  if (at >= 0) { range = new Range(); range.setStart(node, at); range.setEnd(node, at + arguments[0].length); break; } }
const box = range.getBoundingClientRect(); return [box.x + box.width / 2, box.y + box.height / 2];"""


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

    def cdp(self, command, **arguments):
        return self.browser.execute_cdp_cmd(command, arguments)

    def check_row(self, steps, status, echoes, how=None):
        unwrapped = (lambda text: "".join(text.split())) if how == "phone" else (lambda text: text)
        if how == "no script":
            self.cdp("Emulation.setScriptExecutionDisabled", value=True)
            self.addCleanup(self.cdp, "Emulation.setScriptExecutionDisabled", value=False)
        self.browser.get("file://" + PAGE)
        if isinstance(status, str):  # the page cannot run the program, and says so
            return self.assertIn(status, self.browser.find_element("tag name", "body").text)
        if how == "phone":  # opened at a desktop's width, then held as a phone is: the terminal follows
            self.cdp("Emulation.setDeviceMetricsOverride", width=360, height=740, deviceScaleFactor=3, mobile=True)
            self.cdp("Emulation.setTouchEmulationEnabled", enabled=True)
            self.addCleanup(self.cdp, "Emulation.setTouchEmulationEnabled", enabled=False)
            self.addCleanup(self.cdp, "Emulation.clearDeviceMetricsOverride")
        typing = self.browser.find_element("css selector", "textarea.xterm-helper-textarea")
        self.browser.execute_script(CTRL_C_CLOCK)
        for shown, keys in steps:
            self.wait(lambda: unwrapped(shown) in unwrapped(self.screen()), shown)
            if shown == "Press any key":
                self.assertEqual(self.browser.title, "Zelmar", "the title while it runs")
                typed = "".join(echoes.values()).encode()
                native = subprocess.run([os.environ["ZELMAR_NATIVE"]], input=typed, capture_output=True).stdout.decode()
                self.assertEqual(self.browser.execute_script("return document.body.dataset.lines"),
                                 str(native.split("Press any key")[0].count("\n")), "the program's lines shown")
                for prompt, echo in echoes.items():
                    native = native.replace(prompt, prompt + echo, 1)
                if how == "phone":  # nothing cut off nor scrolled sideways, and a legible font: a long line wraps
                    self.assertLessEqual(max(self.browser.execute_script(  # 4680 pixels: 360 in a 13-pixel font
                        "const [s, r] = document.querySelectorAll('.xterm-screen, .xterm-rows'); return [document.body"
                        ".scrollWidth, s.getBoundingClientRect().right, 4680 / parseFloat(getComputedStyle(r).fontSize)]"
                        )), 360)
                self.assertIn(unwrapped("\n".join(native.split("Time elapsed: ")[0].split("\n")[-20:])),
                              unwrapped(self.screen()))
            if keys is None:  # the page's own timer fires while the program sums
                ticks = "return window.ticks || 0"
                self.browser.execute_script("window.ticks = 0; setInterval(() => window.ticks++, 50)")
                time.sleep(1)
                self.assertGreater(self.browser.execute_script(ticks), 1, "ticks of the page's timer in a second")
            elif isinstance(keys, dict) and "soft" in keys:  # as a phone's keyboard sends it: keyCode 229, then the text
                for text in keys["soft"]:
                    self.cdp("Input.dispatchKeyEvent", type="keyDown", windowsVirtualKeyCode=229, key="Unidentified")
                    self.cdp("Input.insertText", text=text)
                    self.cdp("Input.dispatchKeyEvent", type="keyUp", windowsVirtualKeyCode=229, key="Unidentified")
            elif isinstance(keys, dict) and "tap" in keys:
                x, y = self.browser.execute_script(FIND, keys["tap"], "body")
                self.cdp("Input.dispatchTouchEvent", type="touchStart", touchPoints=[{"x": x, "y": y}])
                self.cdp("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])
            elif isinstance(keys, dict) and "select" in keys:  # a double click on the word
                x, y = self.browser.execute_script(FIND, keys["select"], ".xterm-rows")
                for count, kind in ((1, "mousePressed"), (1, "mouseReleased"), (2, "mousePressed"), (2, "mouseReleased")):
                    self.cdp("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=count)
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
        if status == 130 and CTRL_C in (keys for _, keys in steps):
            self.assertLess(self.browser.execute_script("return window.ended - window.ctrlC"), 500, "ms to act on Ctrl-C")
        self.assertEqual(self.browser.title, PAGE_TITLE, "the page's own title, given back")
        if status == 1:
            self.assertIn("\nzelmar: input ended before the question was answered", self.screen())
            colours = self.browser.execute_script(  # a message's, the terminal's background's, an answer's
                "const of = (text) => [...document.querySelectorAll('.xterm-rows span')].find(s => s.textContent.startsWith"
                "(text)); return [of('zelmar:'), document.querySelector('.xterm-viewport'), of('Use')].map(e => getComputed"
                "Style(e)[e.matches('span') ? 'color' : 'backgroundColor'].match(/\\d+/g).slice(0, 3))")
            light = [sum(w * (c / 12.92 if c <= 0.04 else ((c + 0.055) / 1.055) ** 2.4) for w, c in
                         zip((0.2126, 0.7152, 0.0722), (int(v) / 255 for v in rgb))) + 0.05 for rgb in colours]
            self.assertTrue(light[0] / light[1] >= 4.5 and colours[0] != colours[2], f"a message's colours: {colours}")
        read = lambda: str(self.cdp("Accessibility.getFullAXTree"))  # what a screen reader reads, and a live region
        shown = self.screen()  # the rows on the screen; a screen reader reads those, and not the scrollback
        for text in ["pi from the arctan series", f"ended with status {status}", "assertive"] + [
                prompt for prompt in ["terms of approximation?"] if prompt in shown] + ([
                "Pi=" + shown.split("Pi=")[1][:20]] if echoes else []) + (["zelmar: input"] if status == 1 else []):
            self.wait(lambda: text in read(), f"{text!r} in what a screen reader reads: {read()!r}")
        self.assertEqual(self.browser.execute_script("return performance.getEntriesByType('resource').length"), 0,
                         "requests from the page")
        errors = [entry for entry in self.browser.get_log("browser") if entry["level"] in ("SEVERE", "WARNING")]
        self.assertEqual(errors, [], "the browser's console")


add_rows(Page, SCENARIOS)

if __name__ == "__main__":
    PAGE = os.path.abspath(sys.argv.pop(1))
    unittest.main()
