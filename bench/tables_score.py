#!/usr/bin/env python3
"""Score ruled-table extraction against the ICDAR 2013 table competition's
European documents (../shared/tables/icdar2013-eu: PDFs and the organisers'
cell ground truth).

vellum reports ruled tables only, so it is judged on the ground-truth tables
whose rows and columns are separated by drawn rules: a table counts as ruled
when at least half of its inner column boundaries and half of its inner row
boundaries have painted rules between the cells on either side, covering at
least half of the table's height (or width) (rules are
read with PyMuPDF's get_drawings, an independent reader). The other tables
still absorb detections, so finding an unruled table is not a false table.

Per library and over all documents:

* found: ruled ground-truth tables matched by a detected table on the same
  page (the detection sharing the most cell texts with it, at least a third
  of its non-empty cells, each detection matched once);
* false: detected tables that match no ground-truth table at all;
* cell accuracy: of all non-empty cells of the ruled tables, the share whose
  text (NFKC, whitespace removed) equals the detected cell at the same row
  and column, allowing one shift of up to two rows and columns per table; a
  spanning cell is expected at its first row and column, and the cells of
  tables not found count as wrong;
* ms/page: wall time per page of the library's table extraction (vellum:
  the whole parse, text included).

Peers are optional and measured when importable: PyMuPDF (page.find_tables),
pdfplumber (page.extract_tables) and camelot (lattice). They are benchmark
dependencies only: `pip install pdfplumber camelot-py opencv-python-headless`.

    python bench/tables_score.py                       # every library found
    python bench/tables_score.py --libs vellum --detail  # per-table lines
"""

from __future__ import annotations

import argparse
import os
import re
import sys
import time
import unicodedata
import xml.etree.ElementTree as ET
from dataclasses import dataclass, field
from pathlib import Path

HERE = Path(__file__).resolve().parent
DEFAULT_DATA = HERE.parent.parent / "shared" / "tables" / "icdar2013-eu"
MAX_SHIFT = 2


def norm(text) -> str:
    if text is None:
        return ""
    # the ground truth drops some spaces ("domestic(%)"): compare without any
    return re.sub(r"\s+", "", unicodedata.normalize("NFKC", str(text)))


@dataclass
class Cell:
    row: int
    col: int
    end_row: int
    end_col: int
    box: tuple  # x1, y1, x2, y2 in PDF points, origin bottom left
    text: str


@dataclass
class GtTable:
    doc: str
    page: int  # 0-based
    cells: list
    ruled: bool = False
    matched: object = None  # the detected grid
    correct: int = 0

    @property
    def texts(self) -> list:
        return [c.text for c in self.cells if c.text]


def load_ground_truth(data: Path) -> dict:
    """doc name -> list of GtTable, one per table region (page)."""
    out = {}
    for pdf in sorted((data / "files").glob("*.pdf")):
        gt = data / "gt" / (pdf.stem + "-str.xml")
        if not gt.exists():
            continue
        tables = []
        for table in ET.parse(gt).getroot().iter("table"):
            for region in table.iter("region"):
                cells = []
                for c in region.iter("cell"):
                    b = c.find("bounding-box")
                    box = tuple(float(b.get(k)) for k in ("x1", "y1", "x2", "y2"))
                    row, col = int(c.get("start-row")), int(c.get("start-col"))
                    cells.append(Cell(row, col, int(c.get("end-row", row)), int(c.get("end-col", col)), box,
                                      norm(c.findtext("content"))))
                tables.append(GtTable(pdf.stem, int(region.get("page")) - 1, cells))
        out[pdf.stem] = tables
    return out


def page_rules(page) -> tuple:
    """Painted axis-aligned rules of a PyMuPDF page in PDF coordinates:
    (verticals as (x, y0, y1), horizontals as (y, x0, x1))."""
    import pymupdf

    to_pdf = ~page.transformation_matrix
    vert, horiz = [], []

    def add(p, q):
        p, q = p * to_pdf, q * to_pdf
        if abs(p.x - q.x) < 1.5 and abs(p.y - q.y) > 2:
            vert.append(((p.x + q.x) / 2, min(p.y, q.y), max(p.y, q.y)))
        elif abs(p.y - q.y) < 1.5 and abs(p.x - q.x) > 2:
            horiz.append(((p.y + q.y) / 2, min(p.x, q.x), max(p.x, q.x)))

    for d in page.get_drawings():
        stroked = d.get("color") is not None and d["type"] in ("s", "fs")
        filled = d.get("fill") is not None and d["type"] in ("f", "fs")
        for item in d["items"]:
            if item[0] == "l" and stroked:
                add(item[1], item[2])
            elif item[0] == "re":
                r = item[1]
                if stroked:
                    add(r.tl, r.tr), add(r.bl, r.br), add(r.tl, r.bl), add(r.tr, r.br)
                elif filled and r.height <= 2.5 and r.width > 2:
                    add(pymupdf.Point(r.x0, (r.y0 + r.y1) / 2), pymupdf.Point(r.x1, (r.y0 + r.y1) / 2))
                elif filled and r.width <= 2.5 and r.height > 2:
                    add(pymupdf.Point((r.x0 + r.x1) / 2, r.y0), pymupdf.Point((r.x0 + r.x1) / 2, r.y1))
    return vert, horiz


def is_ruled(table: GtTable, vert: list, horiz: list, slack: float = 2.5) -> bool:
    def covered(intervals):
        total, end = 0.0, -1e9
        for a, b in intervals:
            a = max(a, end)
            if b > a:
                total += b - a
                end = b
        return total

    def separated(lo_of, hi_of, rules, along, count, span):
        hits = 0
        for k in range(count - 1):
            before = [c for c in table.cells if hi_of(c) == k]
            after = [c for c in table.cells if lo_of(c) == k + 1]
            if not before or not after:
                continue
            a = max(along(c)[1] for c in before)
            b = min(along(c)[0] for c in after)
            lo, hi = min(a, b) - slack, max(a, b) + slack
            at = sorted((a, b) for pos, a, b in rules if lo <= pos <= hi)
            hits += covered(at) >= 0.5 * span

        return count < 2 or 2 * hits >= count - 1

    rows = 1 + max(c.end_row for c in table.cells)
    cols = 1 + max(c.end_col for c in table.cells)
    x1 = min(c.box[0] for c in table.cells) - 5
    x2 = max(c.box[2] for c in table.cells) + 5
    y1 = min(c.box[1] for c in table.cells) - 5
    y2 = max(c.box[3] for c in table.cells) + 5
    v = [r for r in vert if x1 <= r[0] <= x2 and r[2] > y1 and r[1] < y2]
    h = [r for r in horiz if y1 <= r[0] <= y2 and r[2] > x1 and r[1] < x2]
    # rows run downwards while PDF y runs upwards: a row's extent is (-y2, -y1)
    h_down = [(-y, a, b) for y, a, b in h]
    # rules clipped to the table, each boundary's rules covering half its length
    v = [(x, max(a, y1), min(b, y2)) for x, a, b in v]
    h_down = [(y, max(a, x1), min(b, x2)) for y, a, b in h_down]
    return (separated(lambda c: c.col, lambda c: c.end_col, v, lambda c: (c.box[0], c.box[2]), cols, y2 - y1 - 10)
            and separated(lambda c: c.row, lambda c: c.end_row, h_down, lambda c: (-c.box[3], -c.box[1]), rows,
                          x2 - x1 - 10))


# --- detectors: path -> (list of (page, grid), pages, seconds) ---------------

def run_vellum(path: Path):
    import vellum

    data = path.read_bytes()
    start = time.perf_counter()
    doc = vellum.parse(data)
    elapsed = time.perf_counter() - start
    grids = [(i, t["cells"]) for i, p in enumerate(doc["pages"]) for t in p["tables"]]
    return grids, len(doc["pages"]), elapsed


def run_pymupdf(path: Path):
    import pymupdf

    doc = pymupdf.open(path)
    start = time.perf_counter()
    grids = [(i, t.extract()) for i, page in enumerate(doc) for t in page.find_tables().tables]
    return grids, doc.page_count, time.perf_counter() - start


def run_pdfplumber(path: Path):
    import pdfplumber

    with pdfplumber.open(path) as pdf:
        start = time.perf_counter()
        grids = [(i, t) for i, page in enumerate(pdf.pages) for t in page.extract_tables()]
        return grids, len(pdf.pages), time.perf_counter() - start


def run_camelot(path: Path):
    import camelot

    start = time.perf_counter()
    tables = camelot.read_pdf(str(path), pages="all", flavor="lattice")
    elapsed = time.perf_counter() - start
    import pymupdf

    pages = pymupdf.open(path).page_count
    return [(int(t.page) - 1, t.df.values.tolist()) for t in tables], pages, elapsed


LIBS = {"vellum": run_vellum, "pymupdf": run_pymupdf, "pdfplumber": run_pdfplumber, "camelot": run_camelot}


def grid_texts(grid) -> dict:
    """normalized cell text -> count, for matching."""
    counts = {}
    for row in grid:
        for cell in row:
            t = norm(cell)
            if t:
                counts[t] = counts.get(t, 0) + 1
    return counts


def shared_texts(table: GtTable, counts: dict) -> int:
    left = dict(counts)
    n = 0
    for t in table.texts:
        if left.get(t, 0) > 0:
            left[t] -= 1
            n += 1
    return n


def correct_cells(table: GtTable, grid) -> int:
    best = 0
    for dr in range(-MAX_SHIFT, MAX_SHIFT + 1):
        for dc in range(-MAX_SHIFT, MAX_SHIFT + 1):
            n = 0
            for c in table.cells:
                r, k = c.row + dr, c.col + dc
                if c.text and 0 <= r < len(grid) and 0 <= k < len(grid[r]) and norm(grid[r][k]) == c.text:
                    n += 1
            best = max(best, n)
    return best


@dataclass
class Score:
    found: int = 0
    false: int = 0
    correct: int = 0
    pages: int = 0
    seconds: float = 0.0
    failed: list = field(default_factory=list)


def score(lib: str, truth: dict, data: Path, detail: bool) -> Score:
    s = Score()
    for doc, tables in truth.items():
        try:
            grids, pages, seconds = LIBS[lib](data / "files" / (doc + ".pdf"))
        except Exception as exc:  # a peer failing on a file fails that file only
            s.failed.append(f"{doc}: {type(exc).__name__}: {exc}"[:200])
            continue
        s.pages += pages
        s.seconds += seconds
        detections = [(page, grid, grid_texts(grid)) for page, grid in grids]
        used = set()
        # ruled tables first, so an unruled one cannot take their detection
        for table in sorted(tables, key=lambda t: not t.ruled):
            need = max(1, len(table.texts) // 3)
            best, best_n = None, 0
            for k, (page, grid, counts) in enumerate(detections):
                if k in used or page != table.page:
                    continue
                n = shared_texts(table, counts)
                if n >= need and n > best_n:
                    best, best_n = k, n
            correct = 0
            if best is not None:
                used.add(best)
                correct = correct_cells(table, detections[best][1])
            if table.ruled:
                s.found += best is not None
                s.correct += correct
            if detail and table.ruled:
                shape = "-" if best is None else "%dx%d" % (len(detections[best][1]), max(map(len, detections[best][1])))
                print(f"  {lib} {doc} p{table.page + 1}: {correct}/{len(table.texts)} cells, detected {shape}",
                      file=sys.stderr)
        s.false += len(detections) - len(used)
        if detail:
            for k, (page, grid, _) in enumerate(detections):
                if k not in used:
                    print(f"  {lib} {doc} p{page + 1}: false table {len(grid)}x{max(map(len, grid), default=0)}",
                          file=sys.stderr)
    return s


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--data", type=Path, default=DEFAULT_DATA)
    ap.add_argument("--libs", default=",".join(LIBS), help="comma-separated subset of " + ",".join(LIBS))
    ap.add_argument("--detail", action="store_true", help="one line per ruled table and false table (stderr)")
    args = ap.parse_args()

    truth = load_ground_truth(args.data)
    if not truth:
        print(f"no ground truth under {args.data}", file=sys.stderr)
        return 1
    import pymupdf

    for doc, tables in truth.items():
        with pymupdf.open(args.data / "files" / (doc + ".pdf")) as pdf:
            rules = {}
            for t in tables:
                if t.page not in rules:
                    rules[t.page] = page_rules(pdf[t.page])
                t.ruled = bool(t.cells) and is_ruled(t, *rules[t.page])
    ruled = [t for ts in truth.values() for t in ts if t.ruled]
    total_cells = sum(len(t.texts) for t in ruled)
    all_tables = sum(len(ts) for ts in truth.values())
    print(f"{len(truth)} documents, {all_tables} tables, {len(ruled)} ruled ({total_cells} non-empty cells)\n")
    print("| library | found | false tables | cell accuracy | ms/page |")
    print("| --- | --- | --- | --- | --- |")
    for lib in args.libs.split(","):
        s = score(lib, truth, args.data, args.detail)
        if s.pages == 0:
            print(f"| {lib} | not available | | | |")
            continue
        acc = s.correct / total_cells if total_cells else 0.0
        print(f"| {lib} | {s.found}/{len(ruled)} | {s.false} | {acc:.3f} | {1000 * s.seconds / s.pages:.2f} |")
        for f in s.failed:
            print(f"  {lib} failed on {f}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
