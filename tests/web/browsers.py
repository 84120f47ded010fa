"""The browsers that the page's tests drive, behind one small interface.

Chromium (headless, through chromedriver) and WebKitGTK (MiniBrowser on a private Xvfb, through
WebKitWebDriver) are driven with Selenium; Firefox ESR, for which Debian has no geckodriver,
over WebDriver BiDi, which it speaks itself. Every browser starts with a fresh profile and
downloads into a folder of its own, and is stopped with everything it started.

A browser that is not installed raises Missing, which the tests report as skipped.
"""
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
from pathlib import Path

# WebDriver's codes for the keys that the tests press, the same in classic WebDriver and BiDi.
KEYS = {
    "Tab": "\ue004", "Enter": "\ue007", "Shift": "\ue008", "Control": "\ue009",
    "Escape": "\ue00c", "Space": " ", "ArrowLeft": "\ue012", "ArrowUp": "\ue013",
    "ArrowRight": "\ue014", "ArrowDown": "\ue015",
}

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
WEBKIT_DRIVER = "/usr/bin/WebKitWebDriver"
MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"
FIREFOX = "/usr/bin/firefox-esr"


class Missing(Exception):
    """The browser, or what drives it, is not installed here."""


def key_actions(keys):
    """WebDriver key actions for `keys`: names from KEYS, "Shift+Tab" and the like, or text."""
    actions = []
    for key in keys:
        *modifiers, last = key.split("+") if len(key) > 1 else [key]
        if key in KEYS or modifiers and all(m in KEYS for m in modifiers):
            held = [KEYS[m] for m in modifiers]
            value = KEYS.get(last, last)
            actions += [{"type": "keyDown", "value": m} for m in held]
            actions += [{"type": "keyDown", "value": value}, {"type": "keyUp", "value": value}]
            actions += [{"type": "keyUp", "value": m} for m in reversed(held)]
        else:
            for char in key:
                actions += [{"type": "keyDown", "value": char}, {"type": "keyUp", "value": char}]
    return actions


def call_in_page(body):
    """A function for the page that runs `body` with JSON arguments and returns JSON."""
    return ("async function (argumentsJson) {"
            " const result = await (function () {" + body + "}).apply(null, JSON.parse(argumentsJson));"
            " return JSON.stringify(result === undefined ? null : result); }")


class Browser:
    name = ""
    # Whether Space and Enter on a focused button or check box press it, as they do for a user.
    keys_press_controls = True

    def __init__(self, work):
        self.work = Path(work)
        self.downloads = self.work / "downloads"
        self.downloads.mkdir(parents=True)
        self._processes = []

    # What every browser offers the tests.
    def open(self, url):
        raise NotImplementedError

    def js(self, body, *args):
        """Runs `body` as a function's body in the page, awaits what it returns, gives it back."""
        raise NotImplementedError

    def click(self, element_id):
        """A real click in the middle of the element, as a mouse gives it."""
        raise NotImplementedError

    def click_css(self, selector):
        """A real click in the middle of the first element that `selector` matches."""
        raise NotImplementedError

    def keys(self, *keys):
        """Presses keys on whatever has the focus: named keys ("Tab", "Shift+Tab"), or text."""
        raise NotImplementedError

    def paste(self, text):
        """Puts `text` on the clipboard and pastes it with Ctrl+V where the focus is."""
        raise NotImplementedError

    def close(self):
        for process in reversed(self._processes):
            stop(process)

    def downloaded(self):
        """The files downloaded so far, finished ones only, oldest first."""
        files = [f for f in self.downloads.iterdir()
                 if f.is_file() and not f.name.startswith(".") and
                 not f.name.endswith((".crdownload", ".part", ".download"))]
        return sorted(files, key=lambda f: f.stat().st_mtime_ns)

    def _start(self, command, **options):
        process = subprocess.Popen(command, start_new_session=True, **options)
        self._processes.append(process)
        return process


def stop(process):
    """Ends a process that a browser started, with its whole process group."""
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGTERM)
            process.wait(timeout=10)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            process.wait()


def need(*paths):
    for path in paths:
        if not os.access(path, os.X_OK):
            raise Missing(f"{path} is not installed")


class SeleniumBrowser(Browser):
    """What Chromium and WebKit share: classic WebDriver through Selenium."""

    driver = None

    def open(self, url):
        self.driver.get(url)

    def js(self, body, *args):
        result = self.driver.execute_script(
            "return (" + call_in_page(body) + ")(arguments[0]);", json.dumps(args))
        return json.loads(result)

    def click(self, element_id):
        from selenium.webdriver.common.by import By
        self.driver.find_element(By.ID, element_id).click()

    def click_css(self, selector):
        from selenium.webdriver.common.by import By
        self.driver.find_element(By.CSS_SELECTOR, selector).click()

    def keys(self, *keys):
        from selenium.webdriver.common.action_chains import ActionChains
        chain = ActionChains(self.driver)
        for action in key_actions(keys):
            (chain.key_down if action["type"] == "keyDown" else chain.key_up)(action["value"])
        chain.perform()

    def close(self):
        if self.driver is not None:
            try:
                self.driver.quit()
            except Exception:  # the browser may be gone already; its processes are ended below
                pass
        super().close()


class Chromium(SeleniumBrowser):
    """Headless Chromium. Scripts given as `preload` run in every document before the page's
    own, and the network log holds every request the page's tab makes."""

    name = "chromium"

    def __init__(self, work, preload=()):
        super().__init__(work)
        need(CHROMIUM, CHROMEDRIVER)
        try:
            from selenium import webdriver
            from selenium.webdriver.chrome.service import Service
        except ImportError as error:
            raise Missing(f"Selenium is not installed: {error}")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        # As root there is no sandbox; and nothing of Chromium's own may reach the network.
        for argument in ("--headless=new", "--no-sandbox", "--disable-background-networking",
                         "--disable-component-update", "--disable-sync", "--no-first-run",
                         "--disable-default-apps", "--disable-dev-shm-usage",
                         f"--user-data-dir={self.work / 'profile'}", "--window-size=800,600"):
            options.add_argument(argument)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
        # Chromium asks before a page's second download; headless, nobody answers. A user who
        # saves twice allows it once.
        options.add_experimental_option(
            "prefs", {"profile.default_content_setting_values.automatic_downloads": 1})
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER, log_path=os.devnull),
                                       options=options)
        self.cdp("Browser.setDownloadBehavior",
                 {"behavior": "allow", "downloadPath": str(self.downloads)})
        for script in preload:
            self.cdp("Page.addScriptToEvaluateOnNewDocument", {"source": script})

    def paste(self, text):
        self.cdp("Browser.grantPermissions",
                 {"permissions": ["clipboardReadWrite", "clipboardSanitizedWrite"]})
        self.js("return navigator.clipboard.writeText(arguments[0]);", text)
        self.keys("Control+v")

    def cdp(self, method, params=None):
        return self.driver.execute_cdp_cmd(method, params or {})

    def requests(self):
        """Every URL that the tab has asked for since the last call, with its document's."""
        seen = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                params = message["params"]
                seen.append((params["request"]["url"], params.get("documentURL", "")))
        return seen

    def console_errors(self):
        return [entry["message"] for entry in self.driver.get_log("browser")
                if entry["level"] == "SEVERE"]


class WebKit(SeleniumBrowser):
    """WebKitGTK's MiniBrowser, Safari's engine, on an X server of its own. Its downloads go
    into the home folder, which is a fresh one."""

    name = "webkit"

    def __init__(self, work):
        super().__init__(work)
        need(WEBKIT_DRIVER, MINIBROWSER)
        if shutil.which("Xvfb") is None:
            raise Missing("Xvfb is not installed")
        try:
            from selenium import webdriver
            from selenium.webdriver.webkitgtk.options import Options
        except ImportError as error:
            raise Missing(f"Selenium is not installed: {error}")
        display = self.display = self._start_x_server()
        home = self.downloads
        environment = {"DISPLAY": display, "HOME": str(home),
                       "XDG_CONFIG_HOME": str(self.work / "config"),
                       "XDG_CACHE_HOME": str(self.work / "cache"),
                       "XDG_DATA_HOME": str(self.work / "data"),
                       "XDG_RUNTIME_DIR": str(self.work), "LIBGL_ALWAYS_SOFTWARE": "1",
                       "WEBKIT_DISABLE_COMPOSITING_MODE": "1"}
        saved = {name: os.environ.get(name) for name in environment}
        os.environ.update(environment)
        try:
            options = Options()
            options.binary_location = MINIBROWSER
            options.add_argument("--automation")
            self.driver = webdriver.WebKitGTK(executable_path=WEBKIT_DRIVER, options=options,
                                              service_log_path=os.devnull)
        finally:
            for name, value in saved.items():
                if value is None:
                    os.environ.pop(name, None)
                else:
                    os.environ[name] = value

    def paste(self, text):
        if shutil.which("xclip") is None:
            raise Missing("xclip is not installed")
        # xclip stays to serve the selection until another owner takes it.
        clip = self._start(["xclip", "-selection", "clipboard", "-quiet"],
                           stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, env={**os.environ, "DISPLAY": self.display})
        clip.stdin.write(text.encode())
        clip.stdin.close()
        time.sleep(0.2)
        self.keys("Control+v")

    def _start_x_server(self):
        read, write = os.pipe()
        self._start(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0",
                     "1024x768x24"], pass_fds=(write,), stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        return ":" + number


class Firefox(Browser):
    """Firefox ESR, headless, over WebDriver BiDi on a socket of its own."""

    name = "firefox"
    # Firefox leaves them unanswered when driven (its window never has the focus, headless or
    # not: document.hasFocus() stays false), on any page; keys reach text boxes and the page's
    # own listeners all the same.
    keys_press_controls = False

    def __init__(self, work, preload=()):
        super().__init__(work)
        need(FIREFOX)
        try:
            import websocket
        except ImportError as error:
            raise Missing(f"python3-websocket is not installed: {error}")
        profile = self.work / "profile"
        profile.mkdir()
        prefs = {
            "browser.download.folderList": 2,
            "browser.download.dir": str(self.downloads),
            "browser.download.useDownloadDir": True,
            "browser.download.always_ask_before_handling_new_types": False,
            "browser.download.start_downloads_in_tmp_dir": False,
            "browser.download.alwaysOpenPanel": False,
            "browser.download.panel.shown": True,
            # Pasted line breaks dropped, as a user may have Firefox do (it turns them into
            # spaces by default, as Chromium and WebKit do): the page's own rule must decide.
            "editor.singleLine.pasteNewlines": 3,
        }
        (profile / "user.js").write_text("".join(
            f"user_pref({json.dumps(k)}, {json.dumps(v)});\n" for k, v in prefs.items()))
        process = self._start([FIREFOX, "--headless", "--no-remote", "--profile", str(profile),
                               "--remote-debugging-port=0", "about:blank"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                              env={**os.environ, "HOME": str(self.work),
                                   "MOZ_CRASHREPORTER_DISABLE": "1"})
        address = None
        for line in process.stderr:
            found = re.search(r"WebDriver BiDi listening on (ws://\S+)", line)
            if found:
                address = found.group(1)
                break
        if address is None:
            raise RuntimeError("Firefox did not start its WebDriver BiDi server")
        # Anything more it says would fill the pipe and stop it.
        threading.Thread(target=process.stderr.read, daemon=True).start()
        # An Origin header is refused: only local clients without one may connect.
        self._socket = websocket.create_connection(address + "/session", suppress_origin=True,
                                                   timeout=60)
        self._id = 0
        self._command("session.new", {"capabilities": {}})
        tree = self._command("browsingContext.getTree", {})
        self._context = tree["contexts"][0]["context"]
        for script in preload:
            self._command("script.addPreloadScript",
                          {"functionDeclaration": "() => {" + script + "}"})

    def _command(self, method, params):
        self._id += 1
        self._socket.send(json.dumps({"id": self._id, "method": method, "params": params}))
        while True:
            reply = json.loads(self._socket.recv())
            if reply.get("id") == self._id:
                if reply.get("type") == "error":
                    raise RuntimeError(f"{method}: {reply.get('error')}: {reply.get('message')}")
                return reply["result"]

    def open(self, url):
        self._command("browsingContext.navigate",
                      {"context": self._context, "url": url, "wait": "complete"})

    def js(self, body, *args):
        result = self._command("script.callFunction", {
            "functionDeclaration": call_in_page(body),
            "arguments": [{"type": "string", "value": json.dumps(args)}],
            "target": {"context": self._context}, "awaitPromise": True,
            "userActivation": False})
        if result.get("type") == "exception":
            raise RuntimeError("the page's script failed: " +
                               result["exceptionDetails"].get("text", ""))
        return json.loads(result["result"]["value"])

    def click(self, element_id):
        self.click_css("#" + self.js("return CSS.escape(arguments[0]);", element_id))

    def click_css(self, selector):
        x, y = self.js("const r = document.querySelector(arguments[0]).getBoundingClientRect();"
                       " return [Math.round(r.left + r.width / 2), Math.round(r.top + r.height / 2)];",
                       selector)
        self._command("input.performActions", {"context": self._context, "actions": [{
            "type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
            "actions": [{"type": "pointerMove", "x": x, "y": y, "origin": "viewport"},
                        {"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]}]})

    def keys(self, *keys):
        self._command("input.performActions", {"context": self._context, "actions": [
            {"type": "key", "id": "keyboard", "actions": key_actions(keys)}]})

    def paste(self, text):
        # The clipboard takes text from a page only with the user's activation, which BiDi
        # lends the call.
        self._command("script.callFunction", {
            "functionDeclaration": "(text) => navigator.clipboard.writeText(text)",
            "arguments": [{"type": "string", "value": text}],
            "target": {"context": self._context}, "awaitPromise": True, "userActivation": True})
        self.keys("Control+v")

    def close(self):
        try:
            self._command("session.end", {})
        except Exception:  # the browser may be gone already; its processes are ended below
            pass
        super().close()


BROWSERS = {"chromium": Chromium, "webkit": WebKit, "firefox": Firefox}


def start(name, work, preload=()):
    """Starts the browser `name`; WebKit takes no scripts before the page's own."""
    if name == "webkit":
        return WebKit(work)
    return BROWSERS[name](work, preload)


def wait_until(condition, what, timeout=10.0, every=0.05):
    """Polls `condition` every `every` seconds until it gives something true, which it
    returns; fails after `timeout` seconds, naming what was awaited."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(every)


def scratch():
    return tempfile.mkdtemp(prefix="kavoni-web-")
