#!/usr/bin/python3
"""Renders a report's HTML page in headless Chromium and checks it as a reader sees it.

  check_page.py PAGE.html [--expect EXPECTED.json] [--screenshot SHOT.png] [--json OUT.json]
                [--chromedriver PATH] [--chromium PATH] [--width PX] [--phone-width PX]

Drives Chromium through chromedriver (WebDriver over HTTP on localhost), opens the page from
disk and reads what it shows: the summary's figures, every table's headings, rows and the
problems beneath each row, every comparison's panels and facts, every image and placeholder.
That goes to standard output as one JSON document (or to --json OUT.json).

The checks, each failure a line on standard error:
  - every image decoded (complete, naturalWidth > 0);
  - the page fetched nothing and holds no script, frame, object or link element;
  - at --phone-width pixels (390) the page is no wider than the screen (a wide table scrolls in
    its own box);
  - the page follows the browser's colour scheme: a light background in the light scheme, a
    dark one in the dark scheme;
  - with --expect, what the page shows equals the document given: its "figures" (key: shown
    value), "tables" (key, headings, and each row's cells, a null cell matching any, and
    problems), "comparisons" (title;
    each panel's label, badge, tone and highlighted facts), the counts of "images" and
    "placeholders", and "image_alts" (each image's alt text in order); keys left out are not
    compared.

--screenshot saves the whole page at --width pixels (1024) in the light scheme to SHOT.png, and
at the phone's width in the dark scheme to SHOT-phone-dark.png beside it.

Exit status: 0 when every check holds, 1 when one fails, 2 when the page or the browser cannot be
used. Needs Python 3's standard library and Debian's chromium and chromium-driver; Chromium runs
with a new empty profile, without sandbox (as root in CI) and without any network of its own.
"""

import argparse
import base64
import json
import os
import pathlib
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

CHROMIUM_ARGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--disable-dev-shm-usage",
    "--hide-scrollbars",
    # chromedriver talks to the browser through a pipe rather than a port on "localhost", a name
    # that a minimal system (a fresh chroot, a container) may not resolve.
    "--remote-debugging-pipe",
]

# Reads the page as its markup promises a reader (src/report/html_page.h).
READ_PAGE = r"""
const text = e => (e ? e.textContent : null);
const problem = e => ({kind: e.dataset.problem, text: text(e.querySelector('.text'))});
const sectionOf = e => {
  const s = e.closest('section');
  return s ? text(s.querySelector('h2')) : null;
};
const comparisons = [...document.querySelectorAll('table[data-compare]')].map(t => {
  const row = name => [...t.rows].find(r => r.hasAttribute(name));
  const cells = r => (r ? [...r.cells].filter(c => c.tagName === 'TD') : []);
  const pictures = cells(row('data-images'));
  const labels = cells(row('data-labels'));
  const facts = [...t.rows].filter(r => r.hasAttribute('data-fact'));
  return {
    title: text(t.querySelector('caption .title')),
    section: sectionOf(t),
    problems: [...t.querySelectorAll('caption [data-problem]')].map(problem),
    panels: labels.map((cell, i) => {
      const picture = pictures[i] || null;
      const img = picture && picture.querySelector('img[data-image]');
      const holder = picture && picture.querySelector('[data-placeholder]');
      const badge = cell.querySelector('.badge');
      return {
        label: text(cell.querySelector('.label')),
        badge: badge ? badge.textContent : '',
        tone: cell.dataset.tone,
        image: img ? {alt: img.alt, width: img.width, height: img.height,
                      naturalWidth: img.naturalWidth, naturalHeight: img.naturalHeight} : null,
        placeholder: holder ? {alt: holder.getAttribute('aria-label'), reason: text(holder)} : null,
        problems: [...cell.querySelectorAll('[data-problem]')].map(problem),
        facts: facts.map(r => {
          const value = cells(r)[i];
          return {label: text(r.cells[0]),
                  value: value && !value.hasAttribute('data-missing') ? value.textContent : null,
                  differs: !!value && value.hasAttribute('data-differs')};
        }),
      };
    }),
  };
});
const compareElements = [...document.querySelectorAll('table[data-compare]')];
const tables = [...document.querySelectorAll('table[data-table]')].map(t => {
  const table = {key: t.dataset.table, section: sectionOf(t),
                 headings: t.tHead ? [...t.tHead.rows[0].cells].map(text) : [],
                 rows: [], problems: []};
  for (const body of t.tBodies) {
    for (const r of body.rows) {
      const last = table.rows[table.rows.length - 1];
      if (r.hasAttribute('data-row')) {
        table.rows.push({cells: [...r.cells].map(text), marked: r.className,
                         problems: [], comparisons: []});
      } else if (r.hasAttribute('data-problem')) {
        (last ? last.problems : table.problems).push(problem(r));
      } else if (r.hasAttribute('data-detail') && last) {
        last.comparisons.push(compareElements.indexOf(r.querySelector('table[data-compare]')));
      }
    }
  }
  return table;
});
const figures = {}, figureLabels = {};
for (const f of document.querySelectorAll('[data-figure]')) {
  figures[f.dataset.figure] = f.dataset.value;
  figureLabels[f.dataset.figure] = text(f.querySelector('dt'));
}
return {
  title: document.title,
  figures: figures,
  figure_labels: figureLabels,
  tables: tables,
  comparisons: comparisons,
  problems: [...document.querySelectorAll('[data-problem]')]
      .filter(e => !e.closest('table[data-table], table[data-compare]'))
      .map(e => Object.assign(problem(e), {section: sectionOf(e)})),
  images: [...document.images].map(i => ({alt: i.alt, complete: i.complete,
                                          naturalWidth: i.naturalWidth,
                                          naturalHeight: i.naturalHeight,
                                          src_bytes: i.getAttribute('src').length})),
  placeholders: [...document.querySelectorAll('[data-placeholder]')].map(
      e => ({alt: e.getAttribute('aria-label'), reason: text(e)})),
  fetched: performance.getEntriesByType('resource').map(e => e.name)
      .filter(n => !n.startsWith('data:')),
  active_elements: document.querySelectorAll('script, link, iframe, frame, object, embed, base, form')
      .length,
};
"""

# The page's own width and height, the window's height beyond what it shows of the page, and the
# page's background colour.
MEASURE = r"""
const d = document.documentElement;
return {width: d.scrollWidth, height: d.scrollHeight, viewport: window.innerWidth,
        frame: window.outerHeight - window.innerHeight,
        background: getComputedStyle(document.body).backgroundColor};
"""


class Failure(Exception):
    """The page or the browser cannot be used."""


class WebDriver:
    """A chromedriver process of our own and one session in it."""

    def __init__(self, workdir):
        self.process = None
        self.session = None
        self.version = ""
        self.base = None
        self.log_path = os.path.join(workdir, "chromedriver.log")

    def start(self, chromedriver, chromium, width, workdir):
        """Starts chromedriver and a session; close() ends both, also after a failure here."""
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        self.base = "http://127.0.0.1:%d" % port
        with open(self.log_path, "wb") as log:
            self.process = subprocess.Popen([chromedriver, "--port=%d" % port], stdout=log,
                                            stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while True:
            try:
                if self.call("GET", "/status", timeout=2).get("ready"):
                    break
            except (OSError, Failure):
                pass
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise Failure("chromedriver did not start" + self.log_tail())
            time.sleep(0.05)
        options = {"args": CHROMIUM_ARGS + [
            "--user-data-dir=" + os.path.join(workdir, "profile"),
            "--window-size=%d,800" % width]}
        if chromium:
            options["binary"] = chromium
        try:
            created = self.call("POST", "/session", {"capabilities": {"alwaysMatch": {
                "browserName": "chrome", "goog:chromeOptions": options}}})
        except Failure as failure:
            raise Failure("%s%s" % (failure, self.log_tail())) from None
        self.session = "/session/" + created["sessionId"]
        self.version = created["capabilities"].get("browserVersion", "")

    def call(self, method, path, body=None, timeout=60):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=timeout) as response:
                return json.loads(response.read())["value"]
        except urllib.error.HTTPError as error:
            try:
                message = json.loads(error.read())["value"]["message"]
            except (ValueError, KeyError, TypeError):
                message = str(error)
            raise Failure("WebDriver %s %s: %s" % (method, path, message.splitlines()[0])) from None

    def run(self, script):
        return self.call("POST", self.session + "/execute/sync", {"script": script, "args": []})

    def resize(self, width, height):
        self.call("POST", self.session + "/window/rect", {"width": width, "height": height})

    def cdp(self, command, params):
        return self.call("POST", self.session + "/goog/cdp/execute",
                         {"cmd": command, "params": params})

    def screenshot(self, path):
        png = base64.b64decode(self.call("GET", self.session + "/screenshot"))
        with open(path, "wb") as out:
            out.write(png)

    def log_tail(self):
        try:
            with open(self.log_path, "rb") as log:
                lines = log.read().decode("utf-8", "backslashreplace").strip().splitlines()[-5:]
        except OSError:
            return ""
        return "".join("\n  " + line for line in lines)

    def close(self):
        if self.session:
            try:
                self.call("DELETE", self.session, timeout=20)
            except (OSError, Failure):
                pass
            self.session = None
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def luminance(css_colour):
    """0 (black) to 1 (white) for an "rgb(r, g, b)" or "rgba(...)" colour."""
    parts = css_colour[css_colour.index("(") + 1:css_colour.index(")")].split(",")
    r, g, b = (float(p) / 255 for p in parts[:3])
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def whole_page_screenshot(driver, width, path):
    """Makes the window as tall as the page, then saves what it shows."""
    driver.resize(width, 800)
    measured = driver.run(MEASURE)
    height = measured["height"]
    # The window is the page's height and its own frame; Chromium does not draw a window taller
    # than 16384 pixels, and a longer page is cut.
    driver.resize(width, min(max(height, 200) + max(measured["frame"], 0), 16384))
    driver.screenshot(path)
    return height


def compare(expected, page):
    """The differences between the expected document and what the page shows, one line each."""
    problems = []

    def differ(what, want, got):
        if want != got:
            problems.append("%s: expected %s, the page shows %s" % (
                what, json.dumps(want, ensure_ascii=False), json.dumps(got, ensure_ascii=False)))

    for key, value in expected.get("figures", {}).items():
        differ("figure %r" % key, value, page["figures"].get(key))
    if "tables" in expected:
        differ("number of tables", len(expected["tables"]), len(page["tables"]))
        for i, (want, got) in enumerate(zip(expected["tables"], page["tables"])):
            name = "table %d (%s)" % (i, want.get("key"))
            differ(name + " key", want.get("key"), got["key"])
            differ(name + " headings", want.get("headings"), got["headings"])
            rows = want.get("rows", [])
            differ(name + " number of rows", len(rows), len(got["rows"]))
            for j, (row, shown) in enumerate(zip(rows, got["rows"])):
                # A cell expected as null may show anything.
                cells = row["cells"]
                if len(cells) == len(shown["cells"]):
                    cells = [g if w is None else w for w, g in zip(cells, shown["cells"])]
                differ("%s row %d cells" % (name, j), cells, shown["cells"])
                differ("%s row %d problems" % (name, j), row.get("problems", []),
                       shown["problems"])
    if "comparisons" in expected:
        differ("number of comparisons", len(expected["comparisons"]), len(page["comparisons"]))
        for i, (want, got) in enumerate(zip(expected["comparisons"], page["comparisons"])):
            name = "comparison %d" % i
            differ(name + " title", want["title"], got["title"])
            shown = [{"label": p["label"], "badge": p["badge"], "tone": p["tone"],
                      "differs": [f["label"] for f in p["facts"] if f["differs"]]}
                     for p in got["panels"]]
            differ(name + " panels", want["panels"], shown)
    for key in ("images", "placeholders"):
        if key in expected:
            differ("number of " + key, expected[key], len(page[key]))
    if "image_alts" in expected:
        differ("images' alt texts", expected["image_alts"], [i["alt"] for i in page["images"]])
    return problems


def check(args, workdir):
    page_path = pathlib.Path(args.page).resolve()
    if not page_path.is_file():
        raise Failure("no page at %s" % args.page)
    expected = None
    if args.expect:
        try:
            with open(args.expect, encoding="utf-8") as f:
                expected = json.load(f)
        except (OSError, ValueError) as error:
            raise Failure("cannot read %s: %s" % (args.expect, error)) from None
    chromedriver = args.chromedriver or shutil.which("chromedriver")
    chromium = args.chromium or shutil.which("chromium")
    if not chromedriver:
        raise Failure("chromedriver is not installed: scripts/deps.sh chromium chromium-driver")

    started = time.monotonic()
    driver = WebDriver(workdir)
    try:
        driver.start(chromedriver, chromium, args.width, workdir)
        driver.call("POST", driver.session + "/url", {"url": page_path.as_uri()})
        page = driver.run(READ_PAGE)
        light = driver.run(MEASURE)
        screenshots = []
        if args.screenshot:
            whole_page_screenshot(driver, args.width, args.screenshot)
            screenshots.append(args.screenshot)
        driver.cdp("Emulation.setEmulatedMedia",
                   {"features": [{"name": "prefers-color-scheme", "value": "dark"}]})
        driver.resize(args.phone_width, 800)
        phone = driver.run(MEASURE)
        if args.screenshot:
            stem, _ = os.path.splitext(args.screenshot)
            whole_page_screenshot(driver, args.phone_width, stem + "-phone-dark.png")
            screenshots.append(stem + "-phone-dark.png")
    finally:
        driver.close()

    failures = []
    for image in page["images"]:
        if not image["complete"] or image["naturalWidth"] <= 0:
            failures.append("an image did not decode: %r" % image["alt"])
    for url in page["fetched"]:
        failures.append("the page fetched %s" % url)
    if page["active_elements"]:
        failures.append("the page holds %d script, frame, object, link, base or form elements"
                        % page["active_elements"])
    if phone["width"] > phone["viewport"]:
        failures.append("at %d pixels the page is %d pixels wide" % (phone["viewport"],
                                                                      phone["width"]))
    if luminance(light["background"]) < 0.5:
        failures.append("the light scheme's background is dark: %s" % light["background"])
    if luminance(phone["background"]) >= 0.5:
        failures.append("the dark scheme's background is light: %s" % phone["background"])
    if expected is not None:
        failures += compare(expected, page)

    page.update({
        "page": str(page_path),
        "browser": driver.version,
        "phone": {"viewport": phone["viewport"], "width": phone["width"]},
        "backgrounds": {"light": light["background"], "dark": phone["background"]},
        "screenshots": screenshots,
        "seconds": round(time.monotonic() - started, 2),
        "failures": failures,
    })
    return page


def main():
    parser = argparse.ArgumentParser(
        description="Renders an HTML report in headless Chromium and checks it.")
    parser.add_argument("page", help="the HTML file")
    parser.add_argument("--expect", help="a JSON document of what the page must show")
    parser.add_argument("--screenshot", help="where to save a PNG of the whole page")
    parser.add_argument("--json", help="write the page's document here, not to standard output")
    parser.add_argument("--chromedriver", help="chromedriver to run (default: from PATH)")
    parser.add_argument("--chromium", help="Chromium to drive (default: chromium from PATH)")
    parser.add_argument("--width", type=int, default=1024, help="window width (1024)")
    parser.add_argument("--phone-width", type=int, default=390, help="a phone's width (390)")
    args = parser.parse_args()

    workdir = tempfile.mkdtemp(prefix="check-page-")
    try:
        result = check(args, workdir)
    except Failure as failure:
        print("check_page: %s" % failure, file=sys.stderr)
        return 2
    finally:
        shutil.rmtree(workdir, ignore_errors=True)

    document = json.dumps(result, indent=2, ensure_ascii=False) + "\n"
    if args.json:
        with open(args.json, "w", encoding="utf-8") as out:
            out.write(document)
    else:
        sys.stdout.buffer.write(document.encode("utf-8", "backslashreplace"))
        sys.stdout.flush()
    for failure in result["failures"]:
        print("check_page: %s" % failure, file=sys.stderr)
    return 1 if result["failures"] else 0


if __name__ == "__main__":
    sys.exit(main())
