#!/usr/bin/python3
"""Times the loop in the page, zelmar.html opened from disk in headless Chromium, against the
native build, run alternately in one go: the time per term that each reports, and its ratio to
the native run of the same round; then the page's size and the time from opening it to the
first prompt. Then heavy output: a progress line every term for LINES terms, in the page and by
the native build at a terminal that tmux emulates (80 by 24), alternately: the time each reports
and the lines a second it makes, the browser's memory at its peak (proportional set size, the
whole browser, a fresh one, and its largest renderer), and the time from Ctrl-C, pressed 3 s into such a run,
to the end shown on the screen. Usage, from the source directory with build/ and
build-wasm32-emscripten/ built (Debian's Python, which has Selenium, and tmux):
/usr/bin/python3 bench/page_cost.py [TERMS] [ROUNDS] [LINES]"""
import os
import re
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from browser_test import CTRL_C_CLOCK, chromium, screen  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from results import recording  # noqa: E402

terms = int(sys.argv[1]) if len(sys.argv) > 1 else 20_000_000
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
lines = int(sys.argv[3]) if len(sys.argv) > 3 else 1_000_000
page = os.path.abspath("build-wasm32-emscripten/zelmar.html")
elapsed = re.compile(r"Time elapsed: ([0-9.e+-]+)")


def until(condition):
    while not condition():
        time.sleep(0.005)


def in_page(browser):
    """The seconds the page reports for the loop, and the seconds from opening it to the first prompt."""
    opened = time.monotonic()
    browser.get("file://" + page)
    until(lambda: "approximation?" in screen(browser))
    first_prompt = time.monotonic() - opened
    typing = browser.find_element("css selector", "textarea.xterm-helper-textarea")
    typing.send_keys(f"{terms}\n")
    until(lambda: "terms?" in screen(browser))
    typing.send_keys("0\n")
    until(lambda: elapsed.search(screen(browser)))
    return float(elapsed.search(screen(browser)).group(1)), first_prompt


def native():
    out = subprocess.run(["build/zelmar"], input=f"{terms}\n0\n", capture_output=True, text=True, check=True).stdout
    return float(elapsed.search(out).group(1))


recording(__file__)
browser = chromium()
times = {"native": [], "page": []}
ratios, first_prompts = [], []
for _ in range(rounds):
    times["native"].append(native())
    seconds, first_prompt = in_page(browser)
    times["page"].append(seconds)
    first_prompts.append(first_prompt)
    ratios.append(seconds / times["native"][-1])


def browser_memory(browser):
    """The proportional set size, in bytes, of the whole browser (chromedriver's descendants) and
    of its largest renderer."""
    children = {}
    for stat in os.listdir("/proc"):
        try:
            with open(f"/proc/{stat}/stat") as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            children.setdefault(ppid, []).append(int(stat))
        except (ValueError, OSError, IndexError):
            continue
    whole, renderer, todo = 0, 0, list(children.get(browser.service.process.pid, []))
    while todo:
        pid = todo.pop()
        todo += children.get(pid, [])
        try:
            with open(f"/proc/{pid}/smaps_rollup") as f:
                pss = next(int(line.split()[1]) * 1024 for line in f if line.startswith("Pss:"))
            with open(f"/proc/{pid}/cmdline") as f:
                is_renderer = "--type=renderer" in f.read()
        except (OSError, StopIteration):
            continue
        whole += pss
        renderer = max(renderer, pss if is_renderer else 0)
    return whole, renderer


def heavy_in_page():
    """The seconds the page reports for a progress line every term, in a browser of its own, the
    memory before it (the page open, at its first prompt), and the peak memory meanwhile."""
    browser = chromium()
    browser.get("file://" + page)
    until(lambda: "approximation?" in screen(browser))
    before = browser_memory(browser)
    typing = browser.find_element("css selector", "textarea.xterm-helper-textarea")
    typing.send_keys(f"{lines}\n")
    until(lambda: "terms?" in screen(browser))
    typing.send_keys("1\n")
    peak = (0, 0)
    while not elapsed.search(screen(browser)):
        peak = tuple(map(max, peak, browser_memory(browser)))
        time.sleep(0.1)
    seconds = float(elapsed.search(screen(browser)).group(1))
    browser.quit()
    return seconds, before, peak


def ctrl_c_in_page(browser):
    """The seconds from Ctrl-C, pressed 3 s into a run with a progress line every term, to its end on the screen."""
    browser.get("file://" + page)
    until(lambda: "approximation?" in screen(browser))
    browser.execute_script(CTRL_C_CLOCK)
    typing = browser.find_element("css selector", "textarea.xterm-helper-textarea")
    typing.send_keys("2000000000\n")
    until(lambda: "terms?" in screen(browser))
    typing.send_keys("1\n")
    time.sleep(3)
    ActionChains(browser).key_down(Keys.CONTROL).send_keys("c").key_up(Keys.CONTROL).perform()
    until(lambda: browser.execute_script("return window.ended"))
    return browser.execute_script("return window.ended - window.ctrlC") / 1000


def heavy_at_tmux():
    """The seconds the native build reports for the same run, its output at a terminal that tmux emulates."""
    server = ["tmux", "-L", f"zelmar-bench-{os.getpid()}"]
    subprocess.run(server + ["new-session", "-d", "-x", "80", "-y", "24",
                             f"printf '{lines}\\n1\\nq' | build/zelmar; sleep 600"], check=True)
    try:
        while not elapsed.search(shown := subprocess.run(server + ["capture-pane", "-p"], capture_output=True,
                                                         text=True, check=True).stdout):
            time.sleep(0.05)
        return float(elapsed.search(shown).group(1))
    finally:
        subprocess.run(server + ["kill-server"], check=True)


heavy = {"native at tmux": [], "page": []}
befores, peaks, delays = [], [], []
for _ in range(rounds):
    heavy["native at tmux"].append(heavy_at_tmux())
    seconds, before, peak = heavy_in_page()
    heavy["page"].append(seconds)
    befores.append(before)
    peaks.append(peak)
    delays.append(ctrl_c_in_page(browser))
browser.quit()
print(f"{terms} terms, {rounds} rounds, medians:")
for name, values in times.items():
    print(f"  {name:6} {statistics.median(values) / terms * 1e9:6.2f} ns a term")
print(f"  ratio of the page to native: {statistics.median(ratios):.2f} (from {min(ratios):.2f} to {max(ratios):.2f})")
print(f"  zelmar.html: {os.path.getsize(page)} bytes; first prompt {statistics.median(first_prompts):.3f} s after opening it")
print(f"{lines} progress lines, {rounds} rounds, medians:")
for name, values in heavy.items():
    print(f"  {name:14} {statistics.median(values):6.2f} s, {lines / statistics.median(values):9.0f} lines a second")
ratios = [page / native for page, native in zip(heavy["page"], heavy["native at tmux"])]
print(f"  ratio of the page to native at tmux: {statistics.median(ratios):.2f} (from {min(ratios):.2f} to {max(ratios):.2f})")
for name, values in ("before the run", befores), ("peak during the run", peaks):
    print(f"  memory {name}: the whole browser {max(whole for whole, _ in values) / 2**20:.0f} MiB,"
          f" its renderer {max(renderer for _, renderer in values) / 2**20:.0f} MiB (largest of the rounds)")
print(f"  Ctrl-C to the end on the screen: {statistics.median(delays):.3f} s (from {min(delays):.3f} to {max(delays):.3f})")
