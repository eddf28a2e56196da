"""The three browser engines that people's browsers run, each behind the same small surface, so that
browser_test.py's rows do not care which one runs them:

- Chromium: Debian's chromium with chromium-driver, through Selenium; it alone also speaks its
  DevTools protocol (cdp), which emulates a phone's touch screen and keyboard and reads the
  accessibility tree.
- Firefox: Debian's firefox-esr, driven directly over WebDriver BiDi (Debian has no geckodriver),
  through python3-websocket.
- WebKit: Debian's webkit2gtk-driver and the MiniBrowser of its WebKitGTK, through Selenium, on a
  virtual X screen of xvfb's (the MiniBrowser has no headless mode).

Each engine: get(url), run(script, *arguments) (a function's body, as Selenium's execute_script
takes it), title, type(keys) (real key events, Shift held for what a US keyboard shifts),
chord(modifier, key), double_click(x, y), screenshot() (PNG bytes), errors() (the console's
errors and warnings, or None where the engine does not tell), before_load(script), quit(), and
lacks(what): why it cannot do `what` ("cdp", "no script", "before load", "console"), or None."""
import base64
import glob
import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import threading
import warnings
import zlib


class Keys:
    """WebDriver's codes for the keys that are no text."""
    BACKSPACE, TAB, SHIFT, CONTROL, ALT, ENTER, LEFT, UP = "\ue003", "\ue004", "\ue008", "\ue009", "\ue00a", "\ue007", \
        "\ue012", "\ue013"


SHIFTED = set('~!@#$%^&*()_+{}|:"<>?ABCDEFGHIJKLMNOPQRSTUVWXYZ')


def keystrokes(keys):
    """Each key as a person types it: [(modifier or None, key)], an Enter for a line end."""
    return [(Keys.SHIFT if key in SHIFTED else None, Keys.ENTER if key == "\n" else key) for key in keys]


def pixels(png):
    """A PNG's rows of (r, g, b) pixels; 8-bit RGB or RGBA, not interlaced, as browsers take screenshots."""
    width, height, depth, kind = struct.unpack(">IIBB", png[16:26])
    assert depth == 8 and kind in (2, 6), f"a PNG of depth {depth}, colour type {kind}"
    data, at = b"", 8
    while at < len(png):
        length, name = struct.unpack(">I4s", png[at:at + 8])
        data += png[at + 8:at + 8 + length] if name == b"IDAT" else b""
        at += 12 + length
    raw, size = zlib.decompress(data), 3 if kind == 2 else 4
    stride, rows, previous = width * size, [], bytearray(width * size)
    for y in range(height):
        kind_of_filter, row = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left, up = row[i - size] if i >= size else 0, previous[i]
            corner = previous[i - size] if i >= size else 0
            if kind_of_filter == 1:
                row[i] = (row[i] + left) & 255
            elif kind_of_filter == 2:
                row[i] = (row[i] + up) & 255
            elif kind_of_filter == 3:
                row[i] = (row[i] + (left + up) // 2) & 255
            elif kind_of_filter == 4:
                guess = left + up - corner
                near = min((abs(guess - left), 0, left), (abs(guess - up), 1, up), (abs(guess - corner), 2, corner))
                row[i] = (row[i] + near[2]) & 255
        rows.append([tuple(row[x:x + 3]) for x in range(0, stride, size)])
        previous = row
    return rows


# What an engine other than Chromium lacks.
NO_CDP = "no DevTools protocol of Chromium's, which emulates a phone and reads the accessibility tree"


class Selenium:
    """What Chromium and WebKit share: a Selenium driver."""

    def __init__(self, driver):
        self.driver = driver

    def get(self, url):
        self.driver.get(url)

    def run(self, script, *arguments):
        return self.driver.execute_script(script, *arguments)

    @property
    def title(self):
        return self.driver.title

    def type(self, keys):
        from selenium.webdriver.common.action_chains import ActionChains
        actions = ActionChains(self.driver)
        for modifier, key in keystrokes(keys):
            if modifier:
                actions.key_down(modifier)
            actions.key_down(key).key_up(key)
            if modifier:
                actions.key_up(modifier)
        actions.perform()

    def chord(self, modifier, key):
        from selenium.webdriver.common.action_chains import ActionChains
        ActionChains(self.driver).key_down(modifier).key_down(key).key_up(key).key_up(modifier).perform()

    def double_click(self, x, y):
        from selenium.webdriver.common.actions.action_builder import ActionBuilder
        actions = ActionBuilder(self.driver)
        actions.pointer_action.move_to_location(round(x), round(y)).click().click()
        actions.perform()

    def screenshot(self):
        return self.driver.get_screenshot_as_png()

    def quit(self):
        self.driver.quit()


class Chromium(Selenium):
    """Debian's Chromium, headless, kept off the network, its console's every line logged."""
    name = "Chromium"

    def __init__(self):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        options = webdriver.ChromeOptions()
        for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync"]:
            options.add_argument(flag)
        options.binary_location = "/usr/bin/chromium"
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        super().__init__(webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options))
        self.scripts = []

    def lacks(self, what):
        return None

    def cdp(self, command, **arguments):
        return self.driver.execute_cdp_cmd(command, arguments)

    def type(self, keys):
        # ChromeDriver types no character outside Unicode's first plane (an emoji): the browser's
        # own input sends that one as the text of a key event.
        for part in re.split(r"([\U00010000-\U0010ffff])", keys):
            if len(part) == 1 and ord(part) > 0xffff:
                self.cdp("Input.dispatchKeyEvent", type="keyDown", key=part, text=part)
                self.cdp("Input.dispatchKeyEvent", type="keyUp", key=part)
            elif part:
                super().type(part)

    def before_load(self, script):
        self.scripts.append(self.cdp("Page.addScriptToEvaluateOnNewDocument", source=script)["identifier"])

    def forget_before_load(self):
        for identifier in self.scripts:
            self.cdp("Page.removeScriptToEvaluateOnNewDocument", identifier=identifier)
        self.scripts = []

    def errors(self):
        return [entry for entry in self.driver.get_log("browser") if entry["level"] in ("SEVERE", "WARNING")]


class WebKit(Selenium):
    """WebKitGTK's MiniBrowser, through WebKitWebDriver, on a screen of its own from Xvfb."""
    name = "WebKit"
    LACKS = {"cdp": NO_CDP,
             "no script": "no way to turn scripts off from WebKitWebDriver",
             "before load": "no way to run a script before the page's own from WebKitWebDriver",
             "console": "WebKitWebDriver does not pass on the browser's console"}

    def __init__(self):
        from selenium import webdriver
        from selenium.webdriver.webkitgtk.options import Options
        browsers = sorted(glob.glob("/usr/lib/*/webkit2gtk-4.*/MiniBrowser"))
        if not browsers:
            raise FileNotFoundError("no MiniBrowser of WebKitGTK's")
        self.screen = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        os.environ["DISPLAY"] = ":" + self.screen.stdout.readline().strip()
        warnings.filterwarnings("ignore", category=DeprecationWarning, module="selenium")  # of its WebKitGTK driver
        options = Options()
        options.binary_location = browsers[-1]
        options.add_argument("--automation")
        try:
            super().__init__(webdriver.WebKitGTK(executable_path=shutil.which("WebKitWebDriver"), options=options))
        except BaseException:
            self.screen.kill()
            raise

    def lacks(self, what):
        return self.LACKS.get(what)

    def errors(self):
        return None

    def quit(self):
        try:
            super().quit()
        finally:
            self.screen.kill()
            self.screen.wait()
            self.screen.stdout.close()


# Firefox's preferences here: no network but the page's own files (every request goes to a proxy
# that is not there), no updates, reports, studies or first-run pages.
FIREFOX_PREFS = {
    "network.proxy.type": 1, "network.proxy.http": "127.0.0.1", "network.proxy.http_port": 9,
    "network.proxy.ssl": "127.0.0.1", "network.proxy.ssl_port": 9, "network.proxy.socks": "127.0.0.1",
    "network.proxy.socks_port": 9, "network.proxy.socks_remote_dns": True, "network.dns.disabled": True,
    "services.settings.server": "data:,", "app.update.disabledForTesting": True,
    "browser.shell.checkDefaultBrowser": False,
    "datareporting.policy.dataSubmissionEnabled": False, "toolkit.telemetry.enabled": False,
    "app.normandy.enabled": False, "browser.safebrowsing.update.enabled": False, "extensions.update.enabled": False,
    "network.captive-portal-service.enabled": False, "network.connectivity-service.enabled": False,
    "browser.startup.homepage_override.mstone": "ignore", "browser.aboutwelcome.enabled": False,
}


class Firefox:
    """Debian's Firefox ESR, headless, in a profile of its own, spoken to over WebDriver BiDi."""
    name = "Firefox"
    LACKS = {"cdp": NO_CDP,
             "no script": "no way to turn scripts off over WebDriver BiDi in this Firefox"}

    def __init__(self):
        import websocket
        self.profile = tempfile.mkdtemp(prefix="zelmar-firefox-")
        with open(os.path.join(self.profile, "user.js"), "w") as prefs:
            prefs.writelines(f"user_pref({json.dumps(k)}, {json.dumps(v)});\n" for k, v in FIREFOX_PREFS.items())
        self.process = subprocess.Popen(
            ["firefox-esr", "--headless", "--no-remote", "--remote-debugging-port=0", "--profile", self.profile,
             "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        said = []
        for line in self.process.stderr:
            said.append(line)
            found = re.search(r"WebDriver BiDi listening on (ws://\S+)", line)
            if found:
                break
        else:
            self.process.wait()
            shutil.rmtree(self.profile, ignore_errors=True)
            raise RuntimeError(f"firefox-esr started no WebDriver BiDi: {''.join(said[-5:])}")
        threading.Thread(target=self.process.stderr.read, daemon=True).start()  # the rest, unread, would block it
        self.socket = websocket.create_connection(found[1] + "/session", timeout=120, suppress_origin=True)
        self.sent, self.logged, self.scripts = 0, [], []
        self.send("session.new", capabilities={"alwaysMatch": {"acceptInsecureCerts": False}})
        self.context = self.send("browsingContext.getTree")["contexts"][0]["context"]
        self.send("session.subscribe", events=["log.entryAdded"])

    def lacks(self, what):
        return self.LACKS.get(what)

    def send(self, method, **params):
        self.sent += 1
        self.socket.send(json.dumps({"id": self.sent, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("type") == "event":
                self.logged.append(message["params"])
            elif message.get("id") == self.sent:
                if message.get("type") == "error":
                    raise RuntimeError(f"{method}: {message['error']}: {message.get('message')}")
                return message["result"]

    def get(self, url):
        self.send("browsingContext.navigate", context=self.context, url=url, wait="complete")

    def run(self, script, *arguments):
        def value(remote):
            kind, held = remote["type"], remote.get("value")
            if kind == "array":
                return [value(item) for item in held]
            if kind == "object":
                return {key if isinstance(key, str) else value(key): value(item) for key, item in held}
            return held
        def local(held):
            if isinstance(held, list):
                return {"type": "array", "value": [local(item) for item in held]}
            return {"type": "string" if isinstance(held, str) else "number", "value": held}
        typed = [local(argument) for argument in arguments]
        result = self.send("script.callFunction", functionDeclaration=f"function () {{ {script} }}", awaitPromise=True,
                           arguments=typed, target={"context": self.context})
        if result["type"] == "exception":
            raise RuntimeError(f"the script threw: {result['exceptionDetails']['text']}")
        return value(result["result"])

    @property
    def title(self):
        return self.run("return document.title")

    def act(self, *sources):
        self.send("input.performActions", context=self.context, actions=list(sources))
        self.send("input.releaseActions", context=self.context)

    def type(self, keys):
        actions = []
        for modifier, key in keystrokes(keys):
            wrap = [modifier] if modifier else []
            actions += [{"type": "keyDown", "value": k} for k in wrap + [key]]
            actions += [{"type": "keyUp", "value": k} for k in [key] + wrap]
        self.act({"type": "key", "id": "keyboard", "actions": actions})

    def chord(self, modifier, key):
        self.act({"type": "key", "id": "keyboard", "actions": [
            {"type": "keyDown", "value": modifier}, {"type": "keyDown", "value": key},
            {"type": "keyUp", "value": key}, {"type": "keyUp", "value": modifier}]})

    def double_click(self, x, y):
        self.act({"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"}, "actions": [
            {"type": "pointerMove", "x": round(x), "y": round(y), "origin": "viewport"}] + [
            {"type": kind, "button": 0} for kind in ("pointerDown", "pointerUp") * 2]})

    def screenshot(self):
        return base64.b64decode(self.send("browsingContext.captureScreenshot", context=self.context)["data"])

    def before_load(self, script):
        self.scripts.append(self.send("script.addPreloadScript", functionDeclaration=f"() => {{ {script} }}")["script"])

    def forget_before_load(self):
        for script in self.scripts:
            self.send("script.removePreloadScript", script=script)
        self.scripts = []

    def errors(self):
        self.run("return 0")  # what was logged before it comes first
        errors = [entry for entry in self.logged if entry.get("level") in ("error", "warn")]
        self.logged = []
        return errors

    def quit(self):
        try:
            self.send("browser.close")
        except Exception:
            pass
        self.socket.close()
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


ENGINES = {engine.name: engine for engine in (Chromium, Firefox, WebKit)}
