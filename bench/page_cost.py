#!/usr/bin/python3
"""Times the loop in the page, zelmar.html opened from disk in headless Chromium, against the
native build, run alternately in one go: the time per term that each reports, and its ratio to
the native run of the same round; then the page's size and the time from opening it to the
first prompt. Usage, from the source directory with build/ and build-wasm32-emscripten/ built
(Debian's Python, which has Selenium): /usr/bin/python3 bench/page_cost.py [TERMS] [ROUNDS]"""
import os
import re
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from browser_test import chromium, screen  # noqa: E402

terms = int(sys.argv[1]) if len(sys.argv) > 1 else 20_000_000
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
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


browser = chromium()
times = {"native": [], "page": []}
ratios, first_prompts = [], []
for _ in range(rounds):
    times["native"].append(native())
    seconds, first_prompt = in_page(browser)
    times["page"].append(seconds)
    first_prompts.append(first_prompt)
    ratios.append(seconds / times["native"][-1])
browser.quit()
print(f"{terms} terms, {rounds} rounds, medians:")
for name, values in times.items():
    print(f"  {name:6} {statistics.median(values) / terms * 1e9:6.2f} ns a term")
print(f"  ratio of the page to native: {statistics.median(ratios):.2f} (from {min(ratios):.2f} to {max(ratios):.2f})")
print(f"  zelmar.html: {os.path.getsize(page)} bytes; first prompt {statistics.median(first_prompts):.3f} s after opening it")
