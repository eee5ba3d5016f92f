#!/usr/bin/env python3
"""The quick-look page (mvscan --html) in a real browser.

Headless Chromium loads each page from disk, runs its scripts and dumps the
resulting DOM; its network log must show no request made by the page. The
figures of the page's tables must equal those of the JSON document of the
same run, and a screenshot of the page must show the hit map with the beam
spot where the run's hits are. Runs: an mvgen ToA/ToT file, a file without
hits, a file of IDLE words and frame data only, a damaged file, and a merge
of three statistics documents.

    html_report_test.py MVSCAN MVGEN
Exit 77 (skipped) when chromium is not installed.
"""
import concurrent.futures
import html.parser
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

MVSCAN, MVGEN = sys.argv[1], sys.argv[2]
CHROMIUM = shutil.which("chromium")
TOATOT, FRAME16 = 0x002, 0x032  # chunk type numbers (bits 63..48 of the header)
IDLE = 0x1E


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


def chromium(page, work, screenshot=None):
    """The page's DOM after its scripts ran, and the URLs the page requested."""
    profile = tempfile.mkdtemp(dir=work)
    netlog = os.path.join(profile, "net.json")
    args = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
            "--no-first-run", "--disable-background-networking", "--disable-component-update",
            "--disable-sync", "--user-data-dir=" + profile, "--log-net-log=" + netlog,
            "--virtual-time-budget=4000", "--window-size=1400,1500"]
    args += ["--screenshot=" + screenshot] if screenshot else ["--dump-dom"]
    done = subprocess.run(args + ["file://" + os.path.abspath(page)], capture_output=True,
                          text=True, timeout=60, check=False)
    check(done.returncode == 0, "chromium failed on %s: %s" % (page, done.stderr[-500:]))
    with open(netlog, encoding="utf-8") as f:
        log = json.load(f)
    # Requests of the browser itself have no origin; those of a page have
    # the page's (a file's page: "null").
    requested = sorted({e["params"]["url"] for e in log["events"]
                        if "url" in e.get("params", {})
                        and e["params"].get("initiator", "not an origin") != "not an origin"})
    return done.stdout, requested


class Dom(html.parser.HTMLParser):
    """Element texts by id, table rows (cell texts) by table id, body attributes."""

    def __init__(self, text):
        super().__init__()
        self.texts, self.tables, self.body = {}, {}, {}
        self._open, self._table, self._cell = [], None, None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "body":
            self.body = a
        if tag == "table" and "id" in a:
            self._table = a["id"]
            self.tables[self._table] = []
        if tag == "tr" and self._table:
            self.tables[self._table].append([])
        if tag in ("td", "th") and self._table:
            self._cell = ""
        if "id" in a and tag not in ("table", "script", "svg"):
            self._open.append((tag, a["id"]))
            self.texts[a["id"]] = ""

    def handle_endtag(self, tag):
        if tag == "table":
            self._table = None
        if tag in ("td", "th") and self._table is not None and self._cell is not None:
            self.tables[self._table][-1].append(self._cell.strip())
            self._cell = None
        if self._open and self._open[-1][0] == tag:
            self._open.pop()

    def handle_data(self, data):
        if self._cell is not None:
            self._cell += data
        for _, ident in self._open:
            self.texts[ident] += data

    def number(self, ident):
        return int(self.texts[ident].strip())


def mvscan(*args, cwd):
    done = subprocess.run([MVSCAN, "--no-progress", *args], cwd=cwd, capture_output=True,
                          check=False)
    return done.returncode, done.stdout


def loaded_page(page, work):
    dom_text, requested = chromium(page, work)
    dom = Dom(dom_text)
    check(dom.body.get("data-scripts") == "ok", page + ": the page's script did not finish")
    check(dom.texts.get("script-errors", "") == "", page + ": " + dom.texts.get("script-errors", ""))
    check(requested == [], page + ": the page requested " + ", ".join(requested))
    return dom


def expected_figures(doc):
    """What the page must show, from the JSON document alone."""
    st = doc["statistics"]
    idle = sum(st["idle"].values())
    frame = sum(n for _, n in st["frame_hits"])
    hits = sum(h[3] for h in st["hits"]) - frame - idle
    types = {t["type"]: t["count"] for t in st["types"]}
    return {"sum-words": st["packets"], "sum-idle": idle, "sum-empty": st["empty"],
            "sum-frame": frame, "sum-hits": hits,
            "sum-toa-hits": sum(n for _, n in st["toa"]["counts"]) - st["idle"]["toatot"],
            "types": [["0..223", "data (EoC blocks)", str(sum(types[t] for t in range(224)))]] +
                     [[str(t), t_name, str(types[t])] for t, t_name in
                      ((t["type"], t["name"]) for t in st["types"]) if t >= 224 and types[t]],
            "chunks": [[c["type"], str(c["count"])] for c in st["chunk_counts"]],
            "files": [[f["name"], str(f["size"]), str(f["packets"]), str(sum(chunks))]
                      for f, chunks in zip(doc["files"], st["chunk_hits"])]}


def compare_with_document(dom, doc, name):
    want = expected_figures(doc)
    for ident in ("sum-words", "sum-idle", "sum-empty", "sum-frame", "sum-hits", "sum-toa-hits"):
        check(dom.number(ident) == want[ident],
              "%s: %s is %s, the document says %s" % (name, ident, dom.texts[ident], want[ident]))
    check([r[:3] for r in dom.tables["types"][1:]] == want["types"], name + ": type table")
    check(dom.tables["chunk-counts"][1:] == want["chunks"], name + ": chunk counts")
    files = [[r[0], r[1], r[2], r[4]] for r in dom.tables["files"][1:]]
    check(files == want["files"], "%s: files table %s, not %s" % (name, files, want["files"]))


def beam_in_screenshot(png, doc):
    """The map's place in the screenshot and where its brightest hits are."""
    rgb = np.asarray(Image.open(png).convert("RGB")).astype(np.int32)
    # Map pixels: saturated colours (viridis is never grey) and the light
    # grey of pixels without hits; the map is the widest run of columns full
    # of them (the colour bar is a narrow one).
    spread = rgb.max(axis=2) - rgb.min(axis=2)
    coloured = (spread > 40) | np.all(rgb == 0xEE, axis=2)
    columns = coloured.sum(axis=0) > 300
    runs, start = [], None
    for x, on in enumerate(list(columns) + [False]):
        if on and start is None:
            start = x
        if not on and start is not None:
            runs.append((x - start, start, x))
            start = None
    check(runs, "screenshot: no hit map")
    _, left, right = max(runs)
    rows = np.nonzero(coloured[:, left:right].sum(axis=1) > (right - left) // 3)[0]
    top, bottom = rows.min(), rows.max() + 1
    check(right - left > 300 and bottom - top > 300,
          "screenshot: the map is %dx%d pixels" % (right - left, bottom - top))
    # The high end of viridis: yellow-green.
    region = rgb[top:bottom, left:right]
    bright = (region[:, :, 1] > 190) & (region[:, :, 2] < 140)
    ys, xs = np.nonzero(bright)
    check(len(xs) > 50, "screenshot: the map shows no beam spot")
    seen_x = xs.mean() / (right - left) * 448
    seen_y = 511 - ys.mean() / (bottom - top) * 512
    hits = doc["statistics"]["hits"]
    most = max(h[3] for h in hits)
    # The same part of the colour scale, from the document's counts.
    core = [(h[1], h[2]) for h in hits if np.log(h[3]) >= 0.72 * np.log(most)]
    want_x = sum(x for x, _ in core) / len(core)
    want_y = sum(y for _, y in core) / len(core)
    check(abs(seen_x - want_x) < 12 and abs(seen_y - want_y) < 12,
          "screenshot: beam at (%.0f, %.0f), the hits at (%.0f, %.0f)" %
          (seen_x, seen_y, want_x, want_y))
    return seen_x, seen_y


def chip_file(path, chunks):
    """A MORVEN file of data chunks: (type number, words)."""
    with open(path, "wb") as f:
        f.write(b"MORVEN\0\0")
        for kind, words in chunks:
            f.write(struct.pack("<Q", kind << 48 | len(words)))
            f.write(struct.pack("<%dQ" % len(words), *words))


def make_case(work, name, files):
    """-p with --json, --html and --hot-pixels over the files: the document."""
    code, out = mvscan("-p", "--json", "--no-image", "--html", name + ".html",
                       "--hot-pixels", name + ".csv", *files, cwd=work)
    check(code in (0, 3), "%s: mvscan exit %d" % (name, code))
    return json.loads(out)


def check_case(work, name, dom, doc):
    """The loaded page against the document and the hot-pixel list."""
    compare_with_document(dom, doc, name)
    with open(os.path.join(work, name + ".csv"), encoding="ascii") as f:
        csv = [line.strip().split(",") for line in f][1:]
    check(dom.number("hot-count") == len(csv), name + ": hot-pixel count")
    shown = [[r[0], r[1], r[2], r[5]] for r in dom.tables["hot-pixels"][1:] if len(r) == 6]
    check(shown == [[x, y, i, n] for x, y, i, n in csv[:len(shown)]], name + ": hot-pixel table")


def make_merge(work):
    """Three documents merged (--merge --html) and one run over their files
    (--html): the merged document."""
    names = []
    for seed, kind in ((1, "toatot"), (2, "pc24"), (3, "toatot")):
        name = "part%d.mv" % seed
        subprocess.run([MVGEN, "-k", kind, "-n", "60000", "-s", str(seed), "-o",
                        os.path.join(work, name)], check=True, capture_output=True)
        _, out = mvscan("-p", "--json", "--no-image", name, cwd=work)
        with open(os.path.join(work, name + ".json"), "wb") as f:
            f.write(out)
        names.append(name)
    code, out = mvscan("--merge", "--json", "--no-image", "--html", "merged.html",
                       "--hot-pixels", "merged.csv", *[n + ".json" for n in names], cwd=work)
    check(code == 0, "merge: exit %d" % code)
    mvscan("-p", "--no-image", "--html", "single.html", "--hot-pixels", "single.csv", *names,
           cwd=work)
    for a, b in (("merged.html", "single.html"), ("merged.csv", "single.csv")):
        with open(os.path.join(work, a), "rb") as f, open(os.path.join(work, b), "rb") as g:
            check(f.read() == g.read(), "%s is not %s" % (a, b))
    return json.loads(out)


def make_files(work):
    """The data files of the cases: an mvgen run, one without hits, one of
    IDLE words and frame data only, one with a damaged chunk header."""
    subprocess.run([MVGEN, "-k", "toatot", "-n", "300000", "-s", "5", "-o",
                    os.path.join(work, "run.mv")], check=True, capture_output=True)
    subprocess.run([MVGEN, "-n", "0", "-o", os.path.join(work, "none.mv")], check=True,
                   capture_output=True)
    chip_file(os.path.join(work, "idle.mv"),
              [(TOATOT, [IDLE] * 100), (FRAME16, [0x0123456789ABCDEF] * 50)])
    # A damaged chunk header: the walk ends there, with a structural error.
    _, check_out = mvscan("--json", "-f", "run.mv", cwd=work)
    chunks = json.loads(check_out)["files"][0]["chunks"]
    offset = [c["offset"] for c in chunks if c["type"] == "MVHDR_VX7TOATOT"][3]
    with open(os.path.join(work, "run.mv"), "rb") as f:
        damaged = bytearray(f.read())
    damaged[offset:offset + 8] = b"\xee" * 8
    with open(os.path.join(work, "bad.mv"), "wb") as f:
        f.write(damaged)


def text_report_unchanged(work):
    """The text report and the picture do not change with --html."""
    os.mkdir(os.path.join(work, "plain"))
    run_mv = os.path.join(work, "run.mv")
    plain = mvscan("-p", "-E", "-H", "16", run_mv, cwd=os.path.join(work, "plain"))
    with_html = mvscan("-p", "-E", "-H", "16", "--html", "x.html", run_mv, cwd=work)
    check(plain == with_html, "the text report changes with --html")
    with open(os.path.join(work, "plain", "inspect.png"), "rb") as a, \
            open(os.path.join(work, "inspect.png"), "rb") as b:
        check(a.read() == b.read(), "the picture changes with --html")


def main():
    if CHROMIUM is None:
        print("SKIP: chromium is not installed (scripts/setup.sh installs it)")
        sys.exit(77)
    work = tempfile.mkdtemp()
    try:
        # The detector of requests must see a page that makes some.
        leak = os.path.join(work, "leak.html")
        with open(leak, "w", encoding="ascii") as f:
            f.write('<html><body><img src="http://127.0.0.1:9/x.png"></body></html>')
        make_files(work)
        cases = ["run", "none", "idle", "bad"]
        docs = {name: make_case(work, name, [name + ".mv"]) for name in cases}
        docs["merged"] = make_merge(work)
        text_report_unchanged(work)
        # The browser runs, a few at a time.
        shot = os.path.join(work, "run.png")
        with concurrent.futures.ThreadPoolExecutor(max_workers=3) as pool:
            leaked = pool.submit(chromium, leak, work)
            screenshot = pool.submit(chromium, os.path.join(work, "run.html"), work, shot)
            doms = {name: pool.submit(loaded_page, os.path.join(work, name + ".html"), work)
                    for name in docs}
            check(leaked.result()[1] != [], "the request detector sees no request")
            doms = {name: future.result() for name, future in doms.items()}
            screenshot.result()
        for name in cases:
            check_case(work, name, doms[name], docs[name])
        compare_with_document(doms["merged"], docs["merged"], "merged")
        check(doms["merged"].number("sum-pc-hits") > 0, "merged: the counting run's hits")
        check(doms["run"].number("sum-idle") > 0 and doms["run"].number("hot-count") > 0,
              "run: mvgen's idle words and hot pixels")
        check(doms["none"].number("sum-hits") == 0 and doms["none"].number("hot-count") == 0,
              "none: hits")
        check([doms["idle"].number(k) for k in ("sum-words", "sum-hits", "sum-idle", "sum-frame")]
              == [150, 0, 100, 50], "idle: words, hits, IDLE and frame words")
        errors = ["%d: %s" % (e["offset"], e["message"]) for e in docs["bad"]["files"][0]["errors"]]
        check(errors and doms["bad"].tables["files"][1][5] == "".join(errors),
              "bad: structural errors %s" % doms["bad"].tables["files"][1][5])
        x, y = beam_in_screenshot(shot, docs["run"])
        print("beam spot in the screenshot at x %.0f, y %.0f" % (x, y))
        print("6 passed, 0 failed")
    finally:
        shutil.rmtree(work, ignore_errors=True)


main()
