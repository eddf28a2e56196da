#!/usr/bin/env python3
"""The web build's page in a real browser, headless Chromium, opened from disk and typed at as a
person would. Usage: browser_test.py PATH-TO-zelmar.html; ZELMAR_NATIVE names the native build,
whose reports the page's must match. Needs Debian's chromium, chromium-driver and python3-selenium."""
import os
import re
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
# pastes its text, or (None) checks that the page's own timer keeps firing while the program sums.
# Then the run must end with the status given. Where the echo of the answers after each prompt is
# given, the screen at the key wait must show what the native build writes for those answers.
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
    ("a phone", [("approximation?", {"soft": "10\n"}), ("terms?", {"soft": "3\n"}), ("Press any key", {"soft": "q"})],
     0, TYPED, "phone"),
    ("a phone's stop key", [("approximation?", {"soft": "2000000000\n"}), ("terms?", {"soft": "0\n"}),
                            ("terms?0", {"tap": "Stop the run"})], 130, None, "phone"),
    ("a phone's end key", [("approximation?", {"tap": "End input"})], 1, None, "phone"),
    ("Ctrl-C copies a selection and Ctrl-V pastes it", [("approximation?", "10\n"), ("terms?", {"select": "10"}),
     ("terms?", CTRL_C), ("terms?", (Keys.CONTROL, "v")), ("terms?10", "\n"), ("Press any key", "q")], 0,
     {"approximation?": "10\n", "terms?": "10\n"}),
    ("keys typed while summing are dropped and a plain key runs it again", [
        ("approximation?", "2000000000\n"), ("terms?", "0\n"), ("terms?0", None), ("terms?0", "5\n"), ("terms?0", CTRL_C),
        ("terms?0\n^C\n[Zelmar ended", CTRL_C), ("status 130", (Keys.ALT, "x")), ("status 130", {"paste": "7\n"}),
        ("status 130", "x"), ("again.]\nZelmar Pi Approximator", "10\n"), ("?10\nOutput progress every how many terms?", "3\n"),
        ("Press any key", "q")], 0, TYPED),
    ("a paste at the key wait is one key", [("approximation?", "10\n"), ("terms?", "3\n"), ("Press any key", {"paste": "xy"}),
                                            ("continue . . .\n\n[Zelmar", "")], 0, TYPED),
    ("Ctrl-D after some text sends it", [("approximation?", "10"), ("approximation?10", CTRL_D), ("approximation?10", CTRL_D),
                                         ("terms?", "")], 1, None),
    ("Tab and the arrows are no answer's text", [("approximation?", "1" + Keys.TAB + Keys.LEFT + Keys.UP + "0\n"),
                                                 ("terms?", "3\n"), ("Press any key", "q")], 0, TYPED),
    ("JavaScript off", [], "Zelmar runs in this page with JavaScript, which is off here.", None, "no script"),
    ("no WebAssembly", [], "Zelmar cannot run in this browser: it needs Web Workers and WebAssembly", None, "no wasm"),
]


# Where a text is on the screen: the middle of its last occurrence in the terminal's rows.
FIND = """const walk = document.createTreeWalker(document.querySelector('.xterm-rows'), NodeFilter.SHOW_TEXT);
for (let node; (node = walk.nextNode());) { const at = node.data.lastIndexOf(arguments[0]); if (at >= 0) {
  const range = document.createRange(); range.setStart(node, at); range.setEnd(node, at + arguments[0].length);
  const box = range.getBoundingClientRect(); return [box.left + box.width / 2, box.top + box.height / 2]; } }"""


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
        unwrapped = (lambda text: re.sub(r"\s", "", text)) if how == "phone" else (lambda text: text)
        if how == "no script":
            self.cdp("Emulation.setScriptExecutionDisabled", value=True)
            self.addCleanup(self.cdp, "Emulation.setScriptExecutionDisabled", value=False)
        elif how == "no wasm":
            script = self.cdp("Page.addScriptToEvaluateOnNewDocument", source="delete globalThis.WebAssembly")
            self.addCleanup(self.cdp, "Page.removeScriptToEvaluateOnNewDocument", **script)
        self.browser.get("file://" + PAGE)
        if isinstance(status, str):  # the page cannot run the program, and says so
            self.assertIn(status, self.browser.find_element("tag name", "body").text)
            return
        if how == "phone":  # opened at a desktop's width, then held as a phone is: the terminal follows
            self.cdp("Emulation.setDeviceMetricsOverride", width=360, height=740, deviceScaleFactor=3, mobile=True)
            self.cdp("Emulation.setTouchEmulationEnabled", enabled=True)
            self.addCleanup(self.cdp, "Emulation.setTouchEmulationEnabled", enabled=False)
            self.addCleanup(self.cdp, "Emulation.clearDeviceMetricsOverride")
        typing = self.browser.find_element("css selector", "textarea.xterm-helper-textarea")
        for shown, keys in steps:
            self.wait(lambda: shown in self.screen(), shown)
            if shown == "Press any key":
                self.assertEqual(self.browser.title, "Zelmar", "the title while it runs")
                typed = "".join(echoes.values()).encode()
                native = subprocess.run([os.environ["ZELMAR_NATIVE"]], input=typed, capture_output=True).stdout.decode()
                for prompt, echo in echoes.items():
                    native = native.replace(prompt, prompt + echo, 1)
                if how == "phone":  # no line cut, nor scrolled sideways: a long one wraps
                    self.assertLessEqual(self.browser.execute_script(
                        "return document.documentElement.scrollWidth + (parseFloat(getComputedStyle("
                        "document.querySelector('.xterm-rows')).fontSize) < 13 ? 1e9 : 0)"), 360)
                self.assertIn(unwrapped(native.split("Time elapsed: ")[0]), unwrapped(self.screen()))
            if keys is None:  # the page's own timer fires while the program sums
                ticks = "return window.ticks || 0"
                self.browser.execute_script("window.ticks = 0; setInterval(() => window.ticks++, 50)")
                time.sleep(1)
                self.assertGreater(self.browser.execute_script(ticks), 1, "ticks of the page's timer in a second")
            elif "paste" in keys:
                self.browser.execute_script("const paste = new DataTransfer(); paste.setData('text/plain', arguments[1]);"
                                            "arguments[0].dispatchEvent(new ClipboardEvent('paste', {clipboardData: paste,"
                                            " bubbles: true}))", typing, keys["paste"])
            elif "soft" in keys:  # as a phone's keyboard sends it: keyCode 229, then the text
                self.assertEqual(typing.get_attribute("inputmode"), "tel" if shown.endswith("?") else "text")
                for text in keys["soft"]:
                    self.cdp("Input.dispatchKeyEvent", type="keyDown", windowsVirtualKeyCode=229, key="Unidentified")
                    self.cdp("Input.insertText", text=text)
                    self.cdp("Input.dispatchKeyEvent", type="keyUp", windowsVirtualKeyCode=229, key="Unidentified")
            elif "tap" in keys:
                x, y = self.browser.execute_script(FIND.replace(".xterm-rows", "#keys"), keys["tap"])
                self.cdp("Input.dispatchTouchEvent", type="touchStart", touchPoints=[{"x": x, "y": y}])
                self.cdp("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])
            elif "select" in keys:  # a double click on the word
                x, y = self.browser.execute_script(FIND, keys["select"])
                for count in (1, 2):
                    for kind in ("mousePressed", "mouseReleased"):
                        self.cdp("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=count)
            elif isinstance(keys, tuple):
                ActionChains(self.browser).key_down(keys[0]).send_keys(keys[1]).key_up(keys[0]).perform()
            else:
                typing.send_keys(keys)
        self.wait(lambda: self.browser.execute_script("return document.body.dataset.status") is not None, "the end")
        self.assertEqual(self.browser.execute_script("return document.body.dataset.status"), str(status))
        self.wait(lambda: f"ended with status {status}" in self.screen(), "the end on the screen")
        self.assertEqual(self.browser.title, PAGE_TITLE, "the page's own title, given back")
        if status == 1:
            self.assertIn(unwrapped("\nzelmar: input ended before the question was answered"), unwrapped(self.screen()))
            colours = self.browser.execute_script(  # a message's, the terminal's background's, an answer's
                "const of = (text) => [...document.querySelectorAll('.xterm-rows span')].find(s => s.textContent"
                ".startsWith(text)); return [of('zelmar:'), document.querySelector('.xterm-viewport'), of('Use')]"
                ".map(e => getComputedStyle(e)[e.matches('span') ? 'color' : 'backgroundColor'])")
            luminances = [sum(w * ((c / 255) / 12.92 if c <= 10 else ((c / 255 + 0.055) / 1.055) ** 2.4) for w, c in
                              zip((0.2126, 0.7152, 0.0722), map(int, re.findall(r"\d+", colour)[:3]))) for colour in colours]
            self.assertGreaterEqual((luminances[0] + 0.05) / (luminances[1] + 0.05), 4.5, f"a message's contrast: {colours}")
            self.assertNotEqual(colours[0], colours[2], "a message's colour, and the program's output's")
        read = lambda: "\n".join(node["name"]["value"] for node in self.cdp("Accessibility.getFullAXTree")["nodes"]
                                 if node.get("role", {}).get("value") == "StaticText")
        for text in ["pi from the arctan series", "terms of approximation?", f"ended with status {status}"] + \
                (["Pi=" + self.screen().split("Pi=")[1][:20]] if echoes else []) + (["zelmar: input"] if status == 1 else []):
            self.wait(lambda: text in read(), f"{text!r} in what a screen reader reads: {read()!r}")
        self.assertEqual(self.browser.execute_script("return performance.getEntriesByType('resource').length"), 0,
                         "requests from the page")
        errors = [entry for entry in self.browser.get_log("browser") if entry["level"] in ("SEVERE", "WARNING")]
        self.assertEqual(errors, [], "the browser's console")


add_rows(Page, SCENARIOS)

if __name__ == "__main__":
    PAGE = os.path.abspath(sys.argv.pop(1))
    unittest.main()
