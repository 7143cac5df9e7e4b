#!/usr/bin/python3
"""Renders the pages of the README's tour in headless Chromium and holds them to the text reports.

  tour_page.py BUILD OUTDIR

Runs the tour (scripts/tour.sh) in OUTDIR/tour up to the block that writes plan's page
(plan.html), then asks the same vintrel-inspect for its text and JSON reports of the same plan, and
renders the page through check_page.py, which checks that every image decoded, that the page
fetches nothing, fits a phone's width and follows the dark scheme, and compares it with what the
reports say:
  - the summary's figures: the outcome and the packages and bytes of the text report's last line,
    the entries replaced (a row each), the warnings and errors of the JSON document;
  - the tables of packages to rewrite and of configured files: the text report's rows, cell for
    cell;
  - a row per replaced entry, in manifest order: its package, name, replacing file, sizes and the
    metadata the text report gives its file;
  - beneath each replaced texture, the game's and the mod's thumbnails, whose format, size and
    mip count differ where the JSON documents of plan and entries say they do;
  - every warning and error line of the report somewhere on the page.
Then it stacks the tour's two mods with --html and holds that page to the stack's text report the
same way (figures and the rows of its three tables).

The page's screenshots stay in OUTDIR: plan-report.png (1024 pixels wide, light) and
plan-report-phone-dark.png, stack-report.png and its phone shot. Exit status 0 when everything
holds, 1 otherwise.
"""

import json
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


class Tour:
    """The tour's directory and the programs of the build, run as the tour runs them."""

    def __init__(self, build, directory):
        self.build = build
        self.dir = directory
        self.env = dict(os.environ, PATH=build + os.pathsep + os.environ.get("PATH", ""),
                        XDG_DATA_HOME=os.path.join(directory, "data"))

    def inspect(self, *args, expect_status=(0,)):
        done = subprocess.run([os.path.join(self.build, "vintrel-inspect")] + list(args),
                              cwd=self.dir, env=self.env, capture_output=True, text=True)
        if done.returncode not in expect_status:
            raise SystemExit("vintrel-inspect %s: exit status %d\n%s" % (
                " ".join(args), done.returncode, done.stderr))
        return done.stdout

    def json(self, *args):
        return json.loads(self.inspect(*args, "--json"))


def text_tables(text):
    """The tables of a text report: each a list of rows of cells, the headings first. Columns lie
    two spaces or more apart; a cell begins where its heading begins, or ends where its heading
    ends (numbers), and a cell left empty is an empty string."""
    tables = []
    for block in re.split(r"\n\s*\n", text.strip("\n")):
        lines = block.split("\n")
        if len(lines) < 2:
            continue
        headings = [(m.start(), m.end(), m.group()) for m in re.finditer(r"\S+(?: \S+)*", lines[0])]
        rows = [[h[2] for h in headings]]
        for line in lines[1:]:
            cells = [""] * len(headings)
            for m in re.finditer(r"\S+(?: \S+)*", line):
                for i, (start, end, _) in enumerate(headings):
                    if m.start() == start or m.end() == end:
                        cells[i] = m.group()
                        break
                else:
                    raise SystemExit("cannot place %r of the line %r" % (m.group(), line))
            rows.append(cells)
        tables.append(rows)
    return tables


def table(key, rows):
    return {"key": key, "headings": rows[0], "rows": [{"cells": r, "problems": []} for r in rows[1:]]}


def check_page(page, expected, shot, out):
    """Runs check_page.py on page against expected; its document, or exits on a failure."""
    expect = out + "-expected.json"
    with open(expect, "w", encoding="utf-8") as f:
        json.dump(expected, f, indent=2, ensure_ascii=False)
    done = subprocess.run([sys.executable, os.path.join(HERE, "check_page.py"), page,
                           "--expect", expect, "--screenshot", shot, "--json", out + ".json"])
    if done.returncode != 0:
        raise SystemExit("check_page.py failed on %s (exit status %d)" % (page, done.returncode))
    with open(out + ".json", encoding="utf-8") as f:
        return json.load(f)


def texture_facts(texture):
    """A texture's format, size and mip count as a page shows them, from a JSON document."""
    size = "%dx%d" % (texture["width"], texture["height"])
    if texture["kind"] == "cube":
        size = "cube " + size
    elif texture["kind"] == "volume":
        size = "volume %sx%d" % (size, texture["depth"])
    return {"format": texture["format_name"], "size": size, "mips": str(texture["mips"])}


def plan_expectation(tour):
    text = tour.inspect("plan", "mymod", "mygame", expect_status=(0, 1))
    plan = tour.json("plan", "mymod", "mygame")
    tables = text_tables(text)
    files_table = next(t for t in tables if t[0][0] == "file")
    rewrites_table = next((t for t in tables if t[0][0] == "package"), None)
    outcome = re.search(r"^a run would (succeed|fail)", text, re.M).group(1)

    # The replaced entries in manifest order, each matched as the tool matches: the first file in
    # "files" with its name and ext, and its package among the file's.
    rows, comparisons, alts = [], [], []
    for package in tour.json("packages", "mygame")["packages"]:
        if not any(package["name"] in f["packages"] for f in plan["files"]):
            continue
        for entry in tour.json("entries", "mygame", package["name"])["entries"]:
            file = next((f for f in plan["files"] if package["name"] in f["packages"] and
                         (f["name_id"], f["ext_id"]) == (entry["name_id"], entry["ext_id"])), None)
            if file is None:
                continue
            name = "%s.%s" % (file["name"], file["ext"])
            meta = files_table[file["file"]][5]
            src = os.path.join(tour.dir, file["src"])
            rows.append({"cells": [package["name"], name, file["src"], str(entry["raw_size"]),
                                   str(os.path.getsize(src)), None, meta], "problems": []})
            if file["ext"] != "dds":
                continue
            game, mod = texture_facts(entry["texture"]), texture_facts(file["texture"])
            differs = [k for k in ("format", "size", "mips") if game[k] != mod[k]]
            comparisons.append({"title": name, "panels": [
                {"label": "game", "badge": "", "tone": "plain", "differs": []},
                {"label": "mod", "badge": "", "tone": "plain", "differs": differs}]})
            where = "%s in %s" % (name, package["name"])
            alts += [where + ": the game's texture", where + ": the mod's texture, " + file["src"]]

    expected = {
        "figures": {
            "outcome": outcome,
            "packages": str(len(plan["rewrites"])) if plan["rewrites"] is not None else "unknown",
            "entries": str(len(rows)),
            "bytes": (str(plan["user_archive_bytes"]) if plan["user_archive_bytes"] is not None
                      else "unknown"),
            "warnings": str(len(plan["warnings"])),
            "errors": str(len(plan["errors"])),
        },
        "tables": ([table("rewrites", rewrites_table)] if rewrites_table else []) + [
            {"key": "entries", "rows": rows, "headings": [
                "package", "entry", "replacing file", "bytes before", "bytes after",
                "metadata before", "metadata after"]},
            table("files", files_table)],
        "comparisons": comparisons,
        "images": len(alts),
        "image_alts": alts,
        "placeholders": 0,
    }
    return expected, plan["warnings"] + plan["errors"]


def stack_expectation(tour):
    shutil.copytree(os.path.join(tour.dir, "examples", "mod2"), os.path.join(tour.dir, "mymod2"))
    text = tour.inspect("stack", "mystack", "mymod", "mymod2", "--game", "mygame",
                        "--html", "stack.html")
    written = re.search(r'^wrote "[^"]*": (\d+) files? of (\d+) mods?, (\d+) left out', text, re.M)
    by_heading = {t[0][0] + " " + t[0][-1]: t for t in text_tables(text)}
    tables = []
    for key, first_last in (("entries", "package losers"), ("conflicts", "name outcome"),
                            ("files", "mod in the game")):
        if first_last in by_heading:
            tables.append(table(key, by_heading[first_last]))
    entries = next((t for t in tables if t["key"] == "entries"), {"rows": []})
    expected = {
        "figures": {"files": written.group(1), "mods": written.group(2),
                    "left_out": written.group(3), "conflicts": str(len(entries["rows"]))},
        "tables": tables,
        "placeholders": 0,
    }
    return expected


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    build, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    tour = Tour(build, os.path.join(out, "tour"))
    done = subprocess.run(["bash", os.path.join(ROOT, "scripts", "tour.sh"), build,
                           "--keep", tour.dir, "--until", "--html plan.html"],
                          stdout=subprocess.DEVNULL)
    if done.returncode != 0:
        raise SystemExit("scripts/tour.sh failed (exit status %d)" % done.returncode)

    expected, lines = plan_expectation(tour)
    page = check_page(os.path.join(tour.dir, "plan.html"), expected,
                      os.path.join(out, "plan-report.png"), os.path.join(out, "plan-page"))
    shown = [p["text"] for p in page["problems"]]
    for t in page["tables"]:
        shown += [p["text"] for r in t["rows"] for p in r["problems"]]
    missing = [line for line in lines if line not in shown]
    if missing:
        raise SystemExit("the plan's page leaves out: %s" % "; ".join(missing))

    check_page(os.path.join(tour.dir, "stack.html"), stack_expectation(tour),
               os.path.join(out, "stack-report.png"), os.path.join(out, "stack-page"))
    print("tour_page: the tour's plan and stack pages show what their text reports say; "
          "screenshots in %s" % out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
