#!/usr/bin/env python3
"""The page in real browsers, used as a person uses it: one table of cases, each row a browser,
an origin (the file itself, or a static server on 127.0.0.1 under a strict policy), a save path
(the system's save picker, or the page's own dialog and a download) and what is done. Saved
files are compared byte for byte with what the Linux program saves for the same cells and name.

Headless Chromium has no picker to click, so on the picker rows a stand-in for
showSaveFilePicker, put in before the page loads, records what it was asked and collects the
bytes written. Everything else is the browsers' own: real clicks and keys, real downloads.

usage: browser_test.py --list                    prints the rows' names
       browser_test.py ROW PAGE LINUX_SPRITE EMAIL
Exits 0 when the row passed, 1 when it failed, 77 when its browser is not installed here.
"""
import shutil
import subprocess
import sys
import tempfile
import time
import traceback
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import browsers  # noqa: E402
import png  # noqa: E402
from browsers import wait_until  # noqa: E402
from page_server import PageServer  # noqa: E402

SKIPPED = 77

ROWS = [
    # browser    origin  save path   case
    ("chromium", "file", "picker", "save"),
    ("chromium", "http", "picker", "save"),
    ("chromium", "file", "download", "save"),
    ("chromium", "http", "download", "save"),
    ("chromium", "file", "picker", "cancel"),
    ("chromium", "file", "download", "cancel"),
    ("chromium", "file", "picker", "refused"),
    ("chromium", "file", "picker", "write-fails"),
    ("chromium", "file", "download", "refused"),
    ("chromium", "file", "picker", "pasted-name"),
    ("chromium", "file", "download", "pasted-name"),
    ("chromium", "file", "download", "keyboard"),
    ("chromium", "file", "picker", "space-and-enter"),
    ("chromium", "file", "download", "space-and-enter"),
    ("chromium", "file", "none", "accessibility"),
    ("chromium", "file", "none", "look"),
    ("webkit", "file", "download", "save"),
    ("webkit", "http", "download", "save"),
    ("webkit", "file", "download", "cancel"),
    ("webkit", "file", "download", "refused"),
    ("webkit", "file", "download", "pasted-name"),
    ("webkit", "file", "download", "keyboard"),
    ("webkit", "file", "download", "space-and-enter"),
    ("firefox", "file", "download", "save"),
    ("firefox", "http", "download", "save"),
    ("firefox", "file", "download", "cancel"),
    ("firefox", "file", "download", "refused"),
    ("firefox", "file", "download", "pasted-name"),
    ("firefox", "file", "download", "keyboard"),
    ("firefox", "file", "download", "space-and-enter"),
]


def row_name(row):
    return ".".join(row)


# Put in before the page's own script: notes every breach of the page's policy.
WATCH_POLICY = """
window.__violations = [];
document.addEventListener('securitypolicyviolation', (event) => {
  window.__violations.push(event.violatedDirective + ' ' + event.blockedURI);
});
"""

# Put in before the page loads on the picker rows: the system's save picker, as far as the page
# can tell. Each call takes the next of `answers`: a file's name, or an error to throw, and
# may make the file's write fail. It records the options, and whether the call came with the
# user's activation, which a real picker demands. A file's bytes arrive on close, all at once,
# as a real writable stream puts them in the file's place.
PICKER_STAND_IN = """
const picker = window.__picker = {answers: [], calls: [], files: {}, aborted: 0};
function describe(options) {
  return JSON.parse(JSON.stringify(options === undefined ? null : options,
      (key, value) => value && value.standIn ? {handle: value.name} : value));
}
function handle(answer) {
  return {
    standIn: true, kind: 'file', name: answer.name,
    async createWritable() {
      const chunks = [];
      return {
        async write(data) {
          if (answer.writeError) {
            throw new DOMException('The write failed.', answer.writeError);
          }
          chunks.push(Array.from(new Uint8Array(await new Blob([data]).arrayBuffer())));
        },
        async close() { picker.files[answer.name] = [].concat(...chunks); },
        async abort() { picker.aborted += 1; },
      };
    },
  };
}
window.showSaveFilePicker = async function (options) {
  picker.calls.push({options: describe(options),
                     activated: navigator.userActivation.isActive});
  const answer = picker.answers.shift();
  if (!answer) {
    throw new DOMException('The test gave the picker no answer.', 'NotAllowedError');
  }
  if (answer.error) {
    throw new DOMException('The picker failed.', answer.error);
  }
  return handle(answer);
};
"""

# On the download rows in Chromium: the browsers without a picker, as far as the page can tell.
NO_PICKER = """
Object.defineProperty(window, 'showSaveFilePicker', {value: undefined, configurable: true});
"""

class Failure(AssertionError):
    pass




def check(condition, what):
    if not condition:
        raise Failure(what)


def equal(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}: got {actual!r}, expected {expected!r}")


class Session:
    """One row's browser on the page, and what the cases do with it."""

    def __init__(self, browser, origin, save, page, linux_sprite, email, work):
        self.origin, self.save, self.email = origin, save, email
        self.linux_sprite = linux_sprite
        self.work = Path(work)
        self.page = page
        self.server = PageServer(page) if origin == "http" else None
        self.url = self.server.url if self.server else page.resolve().as_uri()
        preload = [WATCH_POLICY]
        if browser == "chromium":
            preload.append(PICKER_STAND_IN if save == "picker" else NO_PICKER)
        self.b = browsers.start(browser, self.work / "browser", preload)
        self.picker_answers = []

    def close(self):
        try:
            self.b.close()
        finally:
            if self.server:
                self.server.close()

    # Starting, and what the page shows.
    def start(self):
        self.b.open(self.url)
        state = wait_until(lambda: self.b.js("return document.documentElement.dataset.kavoni"),
                           "the page's core to start")
        equal(state, "ready", "the page's core")

    def focused(self):
        return self.b.js("const e = document.activeElement;"
                         " return e && e !== document.body ? e.id : null;")

    def ticked(self):
        return self.b.js("return Array.from(document.querySelectorAll('main input[type=checkbox]'))"
                         ".flatMap((cell, index) => cell.checked ? [index] : []);")

    def name_box(self):
        return self.b.js("return document.getElementById('nme').value;")

    def open_dialogs(self):
        return self.b.js("return Array.from(document.querySelectorAll('dialog[open]'))"
                         ".map((d) => d.className);")

    def running(self):
        return self.b.js("return document.querySelector('main').inert;")

    def press_focused(self, key, selector):
        """Presses the focused control, which `selector` finds, with `key`; where the browser
        does not press controls on keys when driven, with a click."""
        if self.b.keys_press_controls:
            self.b.keys(key)
        else:
            self.b.click_css(selector)

    def wait_run_ended(self):
        wait_until(lambda: not self.running(), "the press to end")

    def failure_box(self):
        return self.b.js("""
          const box = document.querySelector('dialog.box');
          return {open: box.open, modal: box.matches(':modal'),
                  title: box.querySelector('h1').textContent,
                  text: box.querySelector('p').textContent,
                  icon: getComputedStyle(box.querySelector('.warning')).display !== 'none',
                  buttons: Array.from(box.querySelectorAll('button')).map((b) => b.textContent),
                  focused: document.activeElement.textContent};""")

    # Pressing "Make Sprite" and answering its dialog.
    def answer(self, **answer):
        """What the picker stand-in gives at the next press (picker rows only)."""
        self.b.js("window.__picker.answers.push(arguments[0]);", answer)

    def save_dialog(self):
        return self.b.js("""
          const dialog = document.querySelector('dialog.save');
          return {open: dialog.open, modal: dialog.matches(':modal'),
                  title: dialog.querySelector('h1').textContent,
                  name: dialog.querySelector('input').value,
                  windowInert: document.querySelector('main').inert};""")

    def wait_save_dialog(self):
        dialog = wait_until(lambda: (lambda d: d if d["open"] else None)(self.save_dialog()),
                            "the Save Sprite dialog")
        equal(dialog["title"], "Save Sprite", "the dialog's title")
        check(dialog["modal"] and dialog["windowInert"], "the dialog is not modal")
        return dialog

    def downloads_now(self):
        return {f.name: (f.stat().st_mtime_ns, f.stat().st_size) for f in self.b.downloaded()}

    def save_as(self, name, offered="", press=None):
        """Presses the button (by a click unless `press` does it otherwise) and saves as `name`
        in the dialog of this row's save path; checks what the dialog offered first."""
        self.downloads_before = self.downloads_now()
        if self.save == "picker":
            self.answer(name=name + ".txt")
        (press or (lambda: self.b.click("Command1")))()
        if self.save == "download":
            dialog = self.wait_save_dialog()
            equal(dialog["name"], offered, "the file name that the dialog offered")
            if dialog["name"] != name:
                self.b.keys(name)
            self.b.keys("Enter")
        self.wait_run_ended()

    def saved(self, name):
        """The bytes that the last save_as() saved under `name`: the picker's file, or the one
        download it made (a browser names it as it likes when the name is taken already)."""
        if self.save == "picker":
            files = self.b.js("return window.__picker.files;")
            check(name + ".txt" in files, f"the picker's file {name}.txt was not written")
            return bytes(files[name + ".txt"])

        def changed():
            now = self.downloads_now()
            return [f for f in now if self.downloads_before.get(f) != now[f]]
        wait_until(changed, "the download")
        # Finished once it stops growing.
        time.sleep(0.2)
        files = changed()
        equal(len(files), 1, "the files that one save downloaded")
        return (self.b.downloads / files[0]).read_bytes()

    def nothing_saved(self):
        if self.save == "picker":
            equal(self.b.js("return window.__picker.files;"), {}, "the picker's files")
        else:
            # A download that was wrongly started would show within this time.
            time.sleep(1)
            equal([f.name for f in self.b.downloaded()], [], "the downloads")

    def reference(self, cells, name):
        """What the Linux program saves for the same cells and name."""
        folder = Path(tempfile.mkdtemp(dir=self.work))
        subprocess.run([str(self.linux_sprite), str(folder), ",".join(map(str, cells)), name],
                       check=True, stderr=subprocess.DEVNULL,
                       env={"PATH": "/usr/bin:/bin", "XDG_RUNTIME_DIR": str(folder)})
        return (folder / "sprite.txt").read_bytes()

    def expect_failure_box(self):
        box = wait_until(lambda: (lambda b: b if b["open"] else None)(self.failure_box()),
                         "the Error box")
        equal(box["title"], "Error", "the box's title")
        equal(box["text"], "Oops!\nThere was a bug. Sorry. Please e-mail it to me at "
              + self.email + ".", "the box's text")
        check(box["icon"], "the box shows no warning icon")
        equal(box["buttons"], ["OK"], "the box's buttons")
        check(box["modal"], "the box is not modal")
        equal(box["focused"], "OK", "the focused button in the box")

    # What every row checks at its end.
    def check_the_page_kept_to_itself(self):
        violations = self.b.js("return window.__violations || [];")
        equal(violations, [], "breaches of the page's policy")
        if self.server:
            equal(self.server.requests, ["/kavoni.html"], "the server's requests")
        if isinstance(self.b, browsers.Chromium):
            elsewhere = [url for url, document in self.b.requests()
                         if document == self.url and url != self.url and
                         not url.startswith(("blob:", "data:"))]
            equal(elsewhere, [], "requests that the page made")
            equal(self.b.console_errors(), [], "errors in the console")


# The cases. Each takes a started Session.

BALL = [27, 28, 35, 36]


def case_save(s):
    s.start()
    for index in BALL:
        s.b.click(f"Check1({index})")
    s.b.click("nme")
    s.b.keys("Bäll")
    s.save_as("ball")
    equal(s.saved("ball"), s.reference(BALL, "Bäll"), "the first file")
    # Success shows nothing and changes nothing.
    equal(s.open_dialogs(), [], "dialogs open after the save")
    equal(s.ticked(), BALL, "the ticked cells after the save")
    equal(s.name_box(), "Bäll", "the name after the save")

    # Pressed again by the keyboard, with a cell more: the dialog offers the last choice, and
    # the file is the grid as it is now.
    s.b.click("Check1(0)")
    s.b.js("document.getElementById('Command1').focus();")
    s.save_as("ball", offered="ball", press=lambda: s.press_focused("Enter", "#Command1"))
    equal(s.saved("ball"), s.reference([0] + BALL, "Bäll"), "the second file")
    equal(s.focused(), "Command1", "the focus after the save")
    if s.save == "picker":
        calls = s.b.js("return window.__picker.calls;")
        file_type = [{"description": "*.txt", "accept": {"text/plain": [".txt"]}}]
        equal(calls, [
            {"activated": True, "options": {
                "types": file_type, "excludeAcceptAllOption": True, "startIn": "desktop"}},
            {"activated": True, "options": {
                "types": file_type, "excludeAcceptAllOption": True,
                "startIn": {"handle": "ball.txt"}, "suggestedName": "ball.txt"}},
        ], "what the picker was asked")


def case_cancel(s):
    s.start()
    s.b.click("Check1(9)")
    if s.save == "picker":
        s.answer(error="AbortError")
        s.b.click("Command1")
        s.wait_run_ended()
    else:
        s.b.click("Command1")
        s.wait_save_dialog()
        s.b.keys("Escape")
        s.wait_run_ended()
        s.b.click("Command1")
        s.wait_save_dialog()
        s.b.click("save-name")
        s.b.keys("typed")
        s.b.js("document.querySelector('dialog.save button[value=cancel]').click();")
        s.wait_run_ended()
    equal(s.open_dialogs(), [], "dialogs open after Cancel")
    s.nothing_saved()
    # Nothing is stuck: the next press saves.
    s.save_as("after")
    equal(s.saved("after"), s.reference([9], ""), "the file saved after Cancel")


def case_refused(s):
    s.start()
    if s.save == "picker":
        # Any failure of the picker but the user's Cancel.
        s.answer(error="SecurityError")
        s.b.click("Command1")
    else:
        s.b.js("URL.createObjectURL = () => { throw new TypeError('no blob URLs here'); };")
        s.b.click("Command1")
        s.wait_save_dialog()
        s.b.keys("ball", "Enter")
    s.expect_failure_box()
    check(s.running(), "the window takes input while the box is open")
    s.press_focused("Enter", "dialog.box button")
    s.wait_run_ended()
    equal(s.open_dialogs(), [], "dialogs open after OK")
    equal(s.focused(), "Command1", "the focus after the box")
    s.nothing_saved()


def case_write_fails(s):
    s.start()
    old = list(b"the sprite saved before\r\n")
    s.b.js("window.__picker.files['ball.txt'] = arguments[0];", old)
    s.answer(name="ball.txt", writeError="QuotaExceededError")
    s.b.click("Command1")
    s.expect_failure_box()
    s.b.click_css("dialog.box button")
    s.wait_run_ended()
    equal(s.b.js("return window.__picker.files;"), {"ball.txt": old},
          "the file after a failed write")
    equal(s.b.js("return window.__picker.aborted;"), 1, "aborted writes")


NAME = "Bäll\r\nÜ\tber"


def case_pasted_name(s):
    s.start()
    s.b.click("nme")
    s.b.paste(NAME)
    equal(s.name_box(), "Bäll Ü ber", "the pasted name")
    # In the middle, the cursor after what was pasted.
    s.b.js("const box = document.getElementById('nme'); box.value = '[]';"
           " box.setSelectionRange(1, 1);")
    s.b.paste("x\r\ny")
    equal(s.b.js("const box = document.getElementById('nme');"
                 " return [box.value, box.selectionStart];"), ["[x y]", 4], "a paste in the middle")
    s.b.js("document.getElementById('nme').value = 'set\\nby\\tscript';")
    equal(s.name_box(), "set by script", "a name set by a script")
    # What is saved is the name as the Linux program saves it, pasted the same way.
    s.b.js("document.getElementById('nme').select();")
    s.b.paste(NAME)
    s.b.click("Check1(63)")
    s.save_as("pasted")
    equal(s.saved("pasted"), s.reference([63], NAME), "the file")


def case_keyboard(s):
    s.start()
    equal(s.focused(), "Check1(0)", "the focus at start")
    # Tab: the cells row by row, the button, the name box.
    order = []
    for _ in range(65):
        s.b.keys("Tab")
        order.append(s.focused())
    equal(order, [f"Check1({i})" for i in range(1, 64)] + ["Command1", "nme"], "the tab order")
    s.b.keys("Shift+Tab", "Shift+Tab")
    equal(s.focused(), "Check1(63)", "Shift+Tab twice from the name box")
    # Past the name box the focus goes round to the first cell, by way of the browser's own
    # controls where it has any.
    s.b.js("document.getElementById('nme').focus();")
    s.b.keys("Tab")
    if s.focused() != "Check1(0)":
        s.b.keys("Tab")
    equal(s.focused(), "Check1(0)", "Tab past the name box")

    # The arrows move one cell and stop at the edges; with Shift they do nothing.
    moves = [("ArrowUp", 0), ("ArrowLeft", 0), ("ArrowRight", 1), ("ArrowDown", 9),
             ("ArrowLeft", 8), ("Shift+ArrowDown", 8)]
    moves += [("ArrowDown", 16 + 8 * n) for n in range(6)] + [("ArrowDown", 56)]
    moves += [("ArrowRight", 57 + n) for n in range(7)] + [("ArrowRight", 63), ("ArrowUp", 55)]
    for key, cell in moves:
        s.b.keys(key)
        equal(s.focused(), f"Check1({cell})", f"the focus after {key}")
    equal(s.ticked(), [], "cells ticked by moving")
    s.b.keys("ArrowDown", "Tab")
    equal(s.focused(), "Command1", "Tab from the last cell")
    s.nothing_saved()


def case_space_and_enter(s):
    s.start()
    s.b.keys("ArrowDown", "ArrowRight")
    equal(s.focused(), "Check1(9)", "the focus")
    s.b.keys("Space")
    equal(s.ticked(), [9], "the cells after Space")
    s.b.keys("Enter")
    equal(s.ticked(), [9], "the cells after Enter on a cell")
    equal(s.open_dialogs(), [], "dialogs after Enter on a cell")
    s.b.keys("Space")
    equal(s.ticked(), [], "the cells after Space again")

    # Enter on the button presses it, and so does Space; the dialog takes the keys while it is
    # open, and the focus comes back to the button afterwards.
    s.b.js("document.getElementById('Command1').focus();")
    for key in ("Enter", "Space"):
        if s.save == "picker":
            s.answer(error="AbortError")
            s.b.keys(key)
            s.wait_run_ended()
        else:
            s.b.keys(key)
            s.wait_save_dialog()
            s.b.keys("Tab")
            equal(s.b.js("return document.activeElement.textContent;"), "Save",
                  "the focus after Tab in the dialog")
            s.b.keys("Escape")
            s.wait_run_ended()
        equal(s.focused(), "Command1", f"the focus after the dialog that {key} opened")
    if s.save == "picker":
        equal(len(s.b.js("return window.__picker.calls;")), 2, "pickers that the keys opened")
    s.nothing_saved()


def case_accessibility(s):
    s.start()
    s.b.click("Check1(5)")
    nodes = s.b.cdp("Accessibility.getFullAXTree")["nodes"]

    def value(node, field):
        return (node.get(field) or {}).get("value")

    shown = [n for n in nodes if not n.get("ignored")]
    boxes = [n for n in shown if value(n, "role") == "checkbox"]
    equal([value(n, "name") for n in boxes],
          [f"Pixel row {i // 8 + 1}, column {i % 8 + 1}" for i in range(64)],
          "the check boxes' names")
    states = [next((p["value"]["value"] for p in n.get("properties", [])
                    if p["name"] == "checked"), None) for n in boxes]
    equal(states, ["true" if i == 5 else "false" for i in range(64)], "the check boxes' states")
    equal([value(n, "name") for n in shown if value(n, "role") == "textbox"], ["Sprite Name"],
          "the text boxes")
    equal([value(n, "name") for n in shown if value(n, "role") == "button"], ["Make Sprite"],
          "the buttons")
    equal([value(n, "name") for n in shown if value(n, "role") == "RootWebArea"], ["Kavoni"],
          "the page")


def twips_to_pixels(left, top, width, height):
    def px(twips):
        return (twips * 96 + 720) // 1440
    return [px(left), px(top), px(left + width) - px(left), px(top + height) - px(top)]


def screenshot(s, x, y, width, height):
    import base64
    shot = s.b.cdp("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": False,
                                              "clip": {"x": x, "y": y, "width": width,
                                                       "height": height, "scale": 1}})
    return png.read(base64.b64decode(shot["data"]))


def luminance(pixel):
    return sum(pixel) / (3 * 255)


def case_look(s):
    s.start()
    equal(s.b.js("return document.title;"), "Kavoni", "the title")
    # Every control where the layout puts it, in CSS pixels at 15 twips each, at any scale.
    designed = {"Kavoni": twips_to_pixels(0, 0, 1965, 4380),
                "Label1": twips_to_pixels(360, 0, 1935, 255),
                "nme": twips_to_pixels(0, 360, 1935, 285),
                "Command1": twips_to_pixels(0, 2760, 1935, 1575)}
    for i in range(64):
        designed[f"Check1({i})"] = twips_to_pixels(240 * (i % 8), 720 + 240 * (i // 8), 255, 255)
    places = """
      const origin = document.getElementById('Kavoni').getBoundingClientRect();
      return Object.fromEntries(arguments[0].map((id) => {
        const r = document.getElementById(id).getBoundingClientRect();
        return [id, id === 'Kavoni' ? [0, 0, r.width, r.height]
                    : [r.left - origin.left, r.top - origin.top, r.width, r.height]];
      }));"""
    for scale in (1, 1.5, 2):
        s.b.cdp("Emulation.setDeviceMetricsOverride",
                {"width": 400, "height": 400, "deviceScaleFactor": scale, "mobile": False})
        equal(s.b.js(places, list(designed)), designed, f"the places at scale {scale}")
        equal(s.b.js("return devicePixelRatio;"), scale, "the scale")
    # Drawn by the browser at the screen's density: nothing is a picture.
    equal(s.b.js("return document.querySelectorAll('img, canvas, picture').length;"), 0,
          "pictures in the page")
    s.b.cdp("Emulation.clearDeviceMetricsOverride")

    # The focus mark, once a key has moved the focus, in light and in dark.
    for scheme in ("light", "dark"):
        s.b.cdp("Emulation.setEmulatedMedia",
                {"features": [{"name": "prefers-color-scheme", "value": scheme}]})
        s.b.js("document.getElementById('Check1(8)').focus();")
        s.b.keys("ArrowUp")
        equal(s.focused(), "Check1(0)", "the focus")
        left, top = s.b.js("const r = document.getElementById('Check1(0)').getBoundingClientRect();"
                           " return [r.left, r.top];")
        # The band just outside the cell's top and left, where the mark is drawn.
        marked = screenshot(s, left - 4, top - 4, 8, 8)
        s.b.js("document.getElementById('nme').focus();")
        unmarked = screenshot(s, left - 4, top - 4, 8, 8)
        background = luminance(unmarked[0][0])
        check((background < 0.3) == (scheme == "dark"), f"the page is not {scheme}")
        band = [marked[y][x] for y in range(1, 3) for x in range(1, 8)]
        contrast = max(abs(luminance(p) - background) for p in band)
        check(contrast > 0.5, f"the focus mark barely shows in the {scheme} scheme: {contrast:.2f}")


CASES = {"save": case_save, "cancel": case_cancel, "refused": case_refused,
         "write-fails": case_write_fails, "pasted-name": case_pasted_name,
         "keyboard": case_keyboard, "space-and-enter": case_space_and_enter,
         "accessibility": case_accessibility, "look": case_look}


def main(argv):
    if argv[1:] == ["--list"]:
        print("\n".join(row_name(row) for row in ROWS))
        return 0
    if len(argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    name, page, linux_sprite, email = argv[1:]
    row = next((row for row in ROWS if row_name(row) == name), None)
    if row is None:
        print(f"no row {name}", file=sys.stderr)
        return 2
    page = Path(page)
    if not page.is_file():
        print(f"FAIL: the page {page} is not built", file=sys.stderr)
        return 1
    if not Path(linux_sprite).is_file():
        print(f"FAIL: {linux_sprite}, the Linux program's side of the comparison, is not built:"
              " build the default preset first", file=sys.stderr)
        return 1
    browser, origin, save, case = row
    if case == "space-and-enter" and not browsers.BROWSERS[browser].keys_press_controls:
        print(f"SKIPPED: {browser}, driven here, does not press controls on Space and Enter")
        return SKIPPED
    work = tempfile.mkdtemp(prefix="kavoni-web-")
    session = None
    try:
        try:
            session = Session(browser, origin, save, page, linux_sprite, email, work)
        except browsers.Missing as missing:
            print(f"SKIPPED: {missing}")
            return SKIPPED
        CASES[case](session)
        session.check_the_page_kept_to_itself()
        print(f"passed: {name}")
        return 0
    except Exception:
        traceback.print_exc()
        print(f"FAIL: {name}", file=sys.stderr)
        return 1
    finally:
        if session is not None:
            session.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
