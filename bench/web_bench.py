#!/usr/bin/env python3
"""How fast the page starts and saves, in headless Chromium.

Start: the time from the navigation's start until the page is ready for use (its 64 cells can
be clicked and its core has started: the page marks 'kavoni-ready'), against a floor, the
same page with the same 67 controls in the same places and the same style but no script and
no WebAssembly (it marks the same point at the end of its body). The two load alternately in
one browser, LOADS times each, and the medians and their ratio are printed.

Save: on the download path, the time from pressing Save in the page's own save dialog (the last
thing a user does) until the whole file is in the download folder, SAVES times.

usage: web_bench.py PAGE [LOADS] [SAVES]     (PAGE is build-web/kavoni.html)
"""
import re
import statistics
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "web"))
import browsers  # noqa: E402

NO_PICKER = "Object.defineProperty(window, 'showSaveFilePicker', {value: undefined});"


def floor_of(page):
    """The page without its script, policy and core, marking where its body ends."""
    html = page.read_text()
    html = re.sub(r"<script>.*?</script>", "", html, flags=re.S)
    html = re.sub(r'<meta http-equiv="Content-Security-Policy"[^>]*>', "", html)
    return html.replace("</body>", "<script>performance.mark('kavoni-ready')</script>\n</body>")


def ready_after(browser, url):
    browser.open(url)
    return browsers.wait_until(lambda: browser.js(
        "const m = performance.getEntriesByName('kavoni-ready')[0]; return m && m.startTime;"),
        "the page to be ready")


def spread(values):
    q = statistics.quantiles(values, n=4)
    return (f"median {statistics.median(values):7.1f} ms  (least {min(values):.1f}, "
            f"quartiles {q[0]:.1f} and {q[2]:.1f}, most {max(values):.1f})")


def main(argv):
    page = Path(argv[1]).resolve()
    loads = int(argv[2]) if len(argv) > 2 else 21
    saves = int(argv[3]) if len(argv) > 3 else 21
    work = Path(tempfile.mkdtemp(prefix="kavoni-bench-"))
    floor = work / "floor.html"
    floor.write_text(floor_of(page))
    browser = browsers.Chromium(work / "browser", preload=[NO_PICKER])
    try:
        # One load of each first, so that neither pays for the browser's own start.
        ready_after(browser, page.as_uri())
        ready_after(browser, floor.as_uri())
        kavoni, plain = [], []
        for load in range(loads):
            order = [(kavoni, page), (plain, floor)]
            for times, path in order if load % 2 == 0 else reversed(order):
                times.append(ready_after(browser, path.as_uri()))
        print(f"start, {loads} loads each (navigation to ready):")
        print(f"  Kavoni: {spread(kavoni)}")
        print(f"  floor:  {spread(plain)}")
        print(f"  ratio of the medians: {statistics.median(kavoni) / statistics.median(plain):.2f}")

        ready_after(browser, page.as_uri())
        took = []
        for save in range(saves):
            before = set(browser.downloads.iterdir())
            browser.click("Command1")
            browsers.wait_until(lambda: browser.js(
                "return document.querySelector('dialog.save').open;"), "the dialog")
            browser.keys(f"s{save}")
            start = time.monotonic()
            browser.keys("Enter")
            path = browsers.wait_until(
                lambda: next((f for f in set(browser.downloads.iterdir()) - before
                              if f.suffix == ".txt" and f.stat().st_size == 146), None),
                "the download", every=0.01)
            took.append((time.monotonic() - start) * 1000)
            browsers.wait_until(lambda: not browser.js(
                "return document.querySelector('main').inert;"), "the press to end")
            assert path.name == f"s{save}.txt", path.name
        print(f"save, {saves} saves (Save pressed to the file downloaded):")
        print(f"  {spread(took)}")
    finally:
        browser.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
