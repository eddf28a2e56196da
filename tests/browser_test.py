#!/usr/bin/env python3
"""The web build's page in real browsers, opened from disk and typed at as a person would, in each
engine that people's browsers run (tests/engines.py): Chromium, Firefox and WebKit.
Usage: browser_test.py PATH-TO-zelmar.html [ENGINE...] [unittest's options]; ENGINE is Chromium,
Firefox or WebKit, all three by default. ZELMAR_NATIVE names the native build, whose reports the
page's must match. A row that an engine cannot act is skipped, saying why; where an engine runs no
row at all (it is missing), the run ends with status 77 and a line "Skipped: ..." for each."""
import os
import subprocess
import sys
import time
import unittest

import engines
from e2e_test import add_rows
from engines import Keys

PAGE = ""
PAGE_TITLE = "Zelmar, in a browser"
CTRL_C, CTRL_D = (Keys.CONTROL, "c"), (Keys.CONTROL, "d")
# Each step waits for its text on the screen, then types its keys (a tuple: a key with Ctrl), or
# pastes its text, or (None) checks that the page's own timer keeps firing while the program sums,
# or (a number) checks that the run still waits that many seconds later, or types "keys" and
# checks that the screen "shows" a text "within" the seconds given of its Enter (or paste), or,
# where longer, of a quarter of the time to the "next" text the program writes (the machine's own
# pace). Then the run must end with the status given, within half a second of Ctrl-C.
# Where the echo of the answers after each prompt is given, the screen at the key wait must end as
# the native build's output for those answers does, and the page must have shown as many lines.
# A step may type as a phone's keyboard ("soft"), or "tap" or "select" a text; a status in words is
# what the page says where it cannot run the program (a message that must also be legible). A row
# "watched" (where the engine runs a script before the page's) bounds the output posted to the page
# and not yet shown, and types a key as soon as the page hears that the key wait begins, before its
# prompt is drawn.
# By the page's clock: when each key was last pressed (keyAt) and each Enter or Ctrl-V (enters), and
# when the screen first showed each text awaited (shown).
CLOCK = ("window.keyAt = {}; window.enters = []; document.addEventListener('keydown', e => { window.keyAt[(e.ctrlKey ?"
         " 'Ctrl-' : '') + e.key] = e.timeStamp; if (e.key == 'Enter' || e.ctrlKey && e.key == 'v')"
         " enters.push(e.timeStamp) }, true); const rows ="
         " document.querySelector('.xterm-rows'); window.shown = {}; window.awaited = arguments[0] || ['ended with status'];"
         " new MutationObserver(() => { const now = [...rows.children].map(r => r.textContent.trimEnd()).join('\\n');"
         " for (const text of awaited) shown[text] ||= (now.includes(text) ? performance.now() : 0) })"
         ".observe(rows, {childList: true, subtree: true, characterData: true})")
# bench/page_cost.py's: when Ctrl-C was pressed, and when the screen showed the end (window.ended - window.ctrlC).
CTRL_C_CLOCK = CLOCK + ("; Object.defineProperties(window, {ctrlC: {get: () => keyAt['Ctrl-c']},"
                        " ended: {get: () => shown['ended with status']}})")
# A run begun again, below the last, up to its first question (keys typed sooner echo amid the banner).
AGAIN = ("again.]\nZelmar Pi Approximator\nBy Dravelund\nUses the MacLaurin Approximation for y=arctan x\n"
         "Use how many terms of ")
TYPED = {"approximation?": "10\n", "terms?": "3\n"}
SCENARIOS = [
    ("two answers and a key", [("approximation?", "10\n"), ("terms?", "3\n"), ("Press any key", "q")], 0, TYPED),
    ("Backspace edits an answer", [("approximation?", "1x" + Keys.BACKSPACE + "0\n"), ("terms?", "3\n"),
                                   ("Press any key", "q")], 0, TYPED),
    ("capitals, Space and shifted symbols are typed once", [("approximation?", "1E6 x\n"),
     ("terms?", "+5 " + Keys.BACKSPACE + "0\n"), ("Press any key", "q")], 0,
     {"approximation?": "1E6 x\n", "terms?": "+50\n"}),
    ("wide characters and their Backspaces", [("approximation?", "1\U0001f600\u65e5\u672c" + Keys.BACKSPACE * 3 + "0\n"),
                                              ("terms?", "3\n"), ("Press any key", "q")], 0, TYPED),
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
     ("status 130", (Keys.ALT, "x")), ("status 130", "x"), (AGAIN + "approximation?", "10\n"),
     ("?10\nOutput progress every how many terms?", "3\n"), ("Press any key", "q")], 0, TYPED),
    ("JavaScript off", [], "Zelmar runs in this page with JavaScript, which is off here.", None, "no script"),
    ("WebAssembly missing", [], "Zelmar cannot run in this browser: it needs Web Workers and WebAssembly", None,
     "no wasm"),
    # stream rows
    ("heavy output", [("approximation?", "200000\n"), ("terms?", "1\n"), ("Press any key", 1.0), ("Press any key", "q")],
     0, {"approximation?": "200000\n", "terms?": "1\n"}, "watched"),
    ("Ctrl-C amid heavy output", [("approximation?", "2000000000\n"), ("terms?", "1\n"), ("", None), ("", None),
                                  ("", CTRL_C)],
     130, None),
    ("the first progress line at once, typed or pasted", [("approximation?", "2000000000\n"),
     ("terms?", {"keys": "100000000\n", "shows": "terms?100000000\n0\n", "within": 0.2, "next": "\n100000000\n"}),
     ("terms?100000000\n0", CTRL_C), ("status 130", "x"), ("again.]\nZelmar Pi Approximator", {"paste":
     "2000000000\n49999999\n", "shows": "terms?0\n", "within": 0.2, "next": "\n99999998\n"}),
     ("terms?0", CTRL_C)], 130, None),
    ("progress lines while summing", [("approximation?", "2000000000\n"), ("terms?", "1000000\n"), ("\n3000000", CTRL_C)],
     130, None),
    ("keys typed ahead of the key wait", [("approximation?", {"paste": "10\n3\n\n"}), ("Press any key", 1.0),
                                          ("Press any key", "q")], 0, {"approximation?": "10\n3\n\n", "terms?": ""}),
]


BOX = """/* the box of a text, in the first of its nodes under the selector's element */ let range;
const walk = document.createTreeWalker(document.querySelector(arguments[1]), NodeFilter.SHOW_TEXT);
for (let node; (node = walk.nextNode());) { const at = node.data.lastIndexOf(arguments[0]);
  if (at >= 0) { range = new Range(); range.setStart(node, at); range.setEnd(node, at + arguments[0].length); break; } }
const box = range.getBoundingClientRect(); return [box.x, box.y, box.width, box.height, devicePixelRatio];"""
SCREEN = ("return [...document.querySelectorAll('.xterm-rows > div')].map(r => r.textContent.trimEnd()).join('\\n')"
          ".toWellFormed()")  # half an emoji, as U+FFFD
WATCH = """window.peak = 0; let unseen = 0; const Base = Worker;
window.Worker = class extends Base {
  constructor(...given) { super(...given); this.addEventListener("message", ({ data }) => {
    if (data.write) peak = Math.max(peak, unseen += data.write.length); }); }
  set onmessage(handle) { super.onmessage = (event) => { handle(event); if (event.data.modes === zelmarProtocol.modes.key)
    queueMicrotask(() => document.querySelector(".xterm-helper-textarea").dispatchEvent(new InputEvent("beforeinput",
      { inputType: "insertText", data: "x", cancelable: true }))); }; }
  postMessage(message, ...rest) { unseen -= message.shown || 0; return super.postMessage(message, ...rest); } }"""
INPUT_MODE = "return document.querySelector('textarea.xterm-helper-textarea').getAttribute('inputmode')"


def chromium():
    """Chromium's Selenium driver, for bench/page_cost.py."""
    return engines.Chromium().driver


def screen(driver):
    """The terminal's text, a line a row, as the page's document holds it."""
    return driver.execute_script(SCREEN)


def luminance(rgb):
    """The relative luminance of a colour, plus the 0.05 that contrast ratios add."""
    return sum(w * (c / 12.92 if c <= 0.04 else ((c + 0.055) / 1.055) ** 2.4)
               for w, c in zip((0.2126, 0.7152, 0.0722), (v / 255 for v in rgb))) + 0.05


class Page:
    """The rows, for whichever engine the class that takes this in names."""
    engine = None

    @classmethod
    def setUpClass(cls):
        try:
            cls.browser = cls.engine()
        except (ImportError, OSError) as missing:  # the engine, its driver or its Python module
            raise unittest.SkipTest(f"{cls.engine.name} cannot start here: {missing}")
        cls.addClassCleanup(cls.browser.quit)

    def screen(self):
        return self.browser.run(SCREEN)

    def wait(self, condition, what, seconds=20):
        deadline = time.monotonic() + seconds
        while not condition():
            self.assertLess(time.monotonic(), deadline, f"waiting for {what}: {self.screen()!r}")
            time.sleep(0.02)

    def cdp(self, command, **arguments):
        return self.browser.cdp(command, **arguments)

    def needs(self, what):
        if self.browser.lacks(what):
            self.skipTest(f"{self.browser.name}: {self.browser.lacks(what)}")

    def legible(self, text, where):
        """The contrast of a text as the screen shows it: its most distinct pixel against the most common one."""
        x, y, width, height, scale = self.browser.run(BOX, text, where)
        shot = engines.pixels(self.browser.screenshot())
        box = [pixel for row in shot[round(y * scale):round((y + height) * scale)]
               for pixel in row[round(x * scale):round((x + width) * scale)]]
        ground = max(set(box), key=box.count)
        ink = max(box, key=lambda pixel: abs(luminance(pixel) - luminance(ground)))
        ratio = max(luminance(ink), luminance(ground)) / min(luminance(ink), luminance(ground))
        self.assertGreaterEqual(ratio, 4.5, f"the contrast of {text!r}: {ink} on {ground}")

    def paste(self, text):
        """Copied from a text field of its own, and pasted with Ctrl-V."""
        self.browser.run("const field = document.body.appendChild(document.createElement('textarea'));"
                         " field.value = arguments[0]; field.select()", text)
        self.browser.chord(Keys.CONTROL, "c")
        self.browser.run("document.body.lastChild.remove(); document.querySelector('.xterm-helper-textarea').focus()")
        self.browser.chord(Keys.CONTROL, "v")

    def check_row(self, steps, status, echoes, how=None):
        unwrapped = (lambda text: "".join(text.split())) if how == "phone" else (lambda text: text)
        self.needs({"phone": "cdp", "no script": "no script", "no wasm": "before load"}.get(how, ""))
        if how == "no script":
            self.cdp("Emulation.setScriptExecutionDisabled", value=True)
            self.addCleanup(self.cdp, "Emulation.setScriptExecutionDisabled", value=False)
        watched = how == "watched" and not self.browser.lacks("before load")
        if how == "no wasm" or watched:
            self.browser.before_load(WATCH if watched else "delete window.WebAssembly")
            self.addCleanup(self.browser.forget_before_load)
        self.browser.get("file://" + PAGE)
        if isinstance(status, str):  # the page cannot run the program, and says so, legibly
            self.assertIn(status, self.browser.run("return document.body.innerText"))
            return self.legible(status.split(":")[0], "body")
        if how == "phone":  # opened at a desktop's width, then held as a phone is: the terminal follows
            self.cdp("Emulation.setDeviceMetricsOverride", width=360, height=740, deviceScaleFactor=3, mobile=True)
            self.cdp("Emulation.setTouchEmulationEnabled", enabled=True)
            self.addCleanup(self.cdp, "Emulation.setTouchEmulationEnabled", enabled=False)
            self.addCleanup(self.cdp, "Emulation.clearDeviceMetricsOverride")
            self.assertGreaterEqual(self.browser.run(  # big enough for a finger
                "return Math.min(...[...document.querySelectorAll('#keys button')].map(b => b.getBoundingClientRect()"
                ".height))"), 44, "the on-screen keys' height in CSS pixels")
        self.browser.run(CLOCK, ["ended with status"] + [shown for shown, keys in steps] +
                         [keys[text] for _, keys in steps if isinstance(keys, dict) and "shows" in keys
                          for text in ("shows", "next")])
        for shown, keys in steps:
            self.wait(lambda: unwrapped(shown) in unwrapped(self.screen()), shown)
            if how == "phone" and shown.endswith("?"):  # a number is asked for: the phone's keyboard of digits
                self.wait(lambda: self.browser.run(INPUT_MODE) == "tel", "the keyboard for a number")
            if shown == "Press any key":
                if how == "phone":
                    self.wait(lambda: self.browser.run(INPUT_MODE) != "tel", "the keyboard for a key")
                self.assertEqual(self.browser.title, "Zelmar", "the title while it runs")
                typed = "".join(echoes.values()).encode()
                native = subprocess.run([os.environ["ZELMAR_NATIVE"]], input=typed, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT).stdout.decode()
                self.assertEqual(self.browser.run("return document.body.dataset.lines"),
                                 str(native.split("Press any key")[0].count("\n")), "the program's lines shown")
                for prompt, echo in echoes.items():
                    native = native.replace(prompt, prompt + echo, 1)
                if how == "phone":  # nothing cut off nor scrolled sideways, and a legible font: a long line wraps
                    wide, right, view, font = self.browser.run(
                        "const [s, r] = document.querySelectorAll('.xterm-screen, .xterm-rows'), page = document"
                        ".documentElement; return [page.scrollWidth, s.getBoundingClientRect().right, page.clientWidth,"
                        " parseFloat(getComputedStyle(r).fontSize)]")
                    self.assertTrue(wide <= view and right <= view and font >= 12,
                                    f"{wide}, {right}, {view} px wide; a {font} px font")
                # The lines that the screen's rows hold above the key wait's: a line as long as the screen's
                # widest row or longer (a phone's) takes a row for each such width.
                screen = self.screen().split("\n")
                rows, columns, tail = len(screen) - 1, max(map(len, screen)), []
                for line in reversed(native.split("Time elapsed: ")[0].split("\n")):
                    rows -= max(1, -(-len(line) // columns))
                    if rows < 0:
                        break
                    tail.insert(0, line)
                self.assertIn(unwrapped("\n".join(tail)), unwrapped("\n".join(screen)))
            if keys is None:  # the page's own timer fires while the program sums
                ticks = "return window.ticks || 0"
                self.browser.run("window.ticks = 0; setInterval(() => window.ticks++, 50)")
                time.sleep(1)
                self.assertGreater(self.browser.run(ticks), 1, "ticks of the page's timer in a second")
            elif isinstance(keys, dict) and "soft" in keys:  # as a phone's keyboard sends it: keyCode 229, then the text
                for text in keys["soft"]:
                    self.cdp("Input.dispatchKeyEvent", type="keyDown", windowsVirtualKeyCode=229, key="Unidentified")
                    self.cdp("Input.insertText", text=text)
                    self.cdp("Input.dispatchKeyEvent", type="keyUp", windowsVirtualKeyCode=229, key="Unidentified")
            elif isinstance(keys, dict) and "tap" in keys:
                x, y, width, height, _ = self.browser.run(BOX, keys["tap"], "body")
                self.cdp("Input.dispatchTouchEvent", type="touchStart",
                         touchPoints=[{"x": x + width / 2, "y": y + height / 2}])
                self.cdp("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])
            elif isinstance(keys, dict) and "select" in keys:  # a double click on the word
                x, y, width, height, _ = self.browser.run(BOX, keys["select"], ".xterm-rows")
                self.browser.double_click(x + width / 2, y + height / 2)
            elif isinstance(keys, dict) and "within" in keys:
                since = "return window.shown[arguments[0]] - window.enters.at(-1)"
                self.paste(keys["paste"]) if "paste" in keys else self.browser.type(keys["keys"])
                for text in keys["shows"], keys["next"]:
                    self.wait(lambda: self.browser.run("return window.shown[arguments[0]]", text), text)
                after = self.browser.run(since, keys["next"])
                self.assertLess(self.browser.run(since, keys["shows"]), max(keys["within"] * 1000, after / 4),
                                f"ms from Enter to {keys['shows']!r} on the screen, {after:.0f} ms to {keys['next']!r}")
            elif isinstance(keys, float):
                time.sleep(keys)
                self.assertIsNone(self.browser.run("return document.body.dataset.status"), "the run's end")
            elif isinstance(keys, dict):
                self.paste(keys["paste"])
            elif isinstance(keys, tuple):
                self.browser.chord(*keys)
            else:
                self.browser.type(keys)
        self.wait(lambda: self.browser.run("return document.body.dataset.status") is not None, "the end")
        self.assertEqual(self.browser.run("return document.body.dataset.status"), str(status))
        self.wait(lambda: f"ended with status {status}" in self.screen(), "the end on the screen")
        if status == 130 and CTRL_C in (keys for _, keys in steps):
            self.assertLess(self.browser.run("return window.shown['ended with status'] - window.keyAt['Ctrl-c']"), 500,
                            "ms to act on Ctrl-C")
        self.assertEqual(self.browser.title, PAGE_TITLE, "the page's own title, given back")
        if watched:  # the writer waits while over 256 KiB is unseen: a 64 KiB chunk more at most
            self.assertLessEqual(self.browser.run("return window.peak"), 5 << 16, "bytes posted and not yet shown")
        if status == 1:
            self.assertIn("\nzelmar: input ended before the question was answered", self.screen())
            for message in ["zelmar: input ended", f"[Zelmar ended with status {status}"]:
                self.legible(message, ".xterm-rows")
        self.assertEqual(self.browser.run("return performance.getEntriesByType('resource').length"), 0,
                         "requests from the page")
        with self.subTest("the browser's console"):
            self.needs("console")
            self.assertEqual(self.browser.errors(), [], "the browser's console")
        with self.subTest("what a screen reader reads"):
            self.needs("cdp")
            read = lambda: str(self.cdp("Accessibility.getFullAXTree"))  # and a live region
            shown = self.screen()  # the rows on the screen; a screen reader reads those, and not the scrollback
            for text in ["pi from the arctan series", f"ended with status {status}", "assertive"] + [
                    prompt for prompt in ["terms of approximation?"] if prompt in shown] + ([
                    "Pi=" + shown.split("Pi=")[1].split("\n")[0][:20]] if "Pi=" in shown else []) + (
                    ["zelmar: input"] if status == 1 else []):
                self.wait(lambda: text in read(), f"{text!r} in what a screen reader reads: {read()!r}")


add_rows(Page, SCENARIOS)
for engine in engines.ENGINES.values():
    globals()[engine.name] = type(engine.name, (Page, unittest.TestCase), {"engine": engine})

if __name__ == "__main__":
    PAGE = os.path.abspath(sys.argv.pop(1))
    result = unittest.main(exit=False).result
    for test, reason in result.skipped:
        print(f"Skipped: {test.id().replace('__main__.', '')}: {reason}")
    ran = result.testsRun - sum(not isinstance(test, unittest.case._SubTest) for test, _ in result.skipped)
    sys.exit(1 if not result.wasSuccessful() else 77 if ran <= 0 and result.skipped else 0)
