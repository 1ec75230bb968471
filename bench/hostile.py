#!/usr/bin/env python3
"""The hostile-inputs table: small files built to cost as much as possible,
each parsed once in a fresh process, with its time, peak resident memory and
outcome. Every case must finish within 3 s on the reference machine or stop
at a documented budget with that budget's own error.

    python bench/hostile.py [--out bench/results/hostile.md] [--cases q_flood,tj_flood]

The decompression bombs are [/FlateDecode /FlateDecode] streams written
without ever holding their decoded bytes (tests/pdfbuilder.py flate_bomb), so
a file of a few kilobytes stands for gigabytes. Times are for one parse_to_markdown
call; CPU seconds (user + system) are what the bound applies to, as wall time
on a shared machine mostly measures the other processes.
"""

from __future__ import annotations

import argparse
import os
import resource
import subprocess
import sys
import time
from pathlib import Path
from typing import Callable, Dict, List, Tuple

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

from pdfbuilder import PdfBuilder, flate_bomb as bomb  # noqa: E402

MIB = 1 << 20
BOUND_SECONDS = 3.0
DOUBLE_FLATE = {"Filter": ["/FlateDecode", "/FlateDecode"]}


def q_flood(b: PdfBuilder) -> bytes:
    """50 million nested q, then one line of text."""
    flood = b.add_stream(DOUBLE_FLATE, bomb(b"q\n", 50_000_000))
    text = b.add_stream(None, b"BT /F1 12 Tf 72 700 Td (after the flood) Tj ET")
    b.add_page(content=None, fonts={"F1": "Helvetica"}, Contents=[flood, text])
    return b.build()


def tj_flood(b: PdfBuilder) -> bytes:
    """10 million Tj, each on a line of its own."""
    head = b.add_stream(None, b"BT /F1 12 Tf 14 TL 72 700 Td")
    flood = b.add_stream(DOUBLE_FLATE, bomb(b"T* (x) Tj\n", 10_000_000))
    b.add_page(content=None, fonts={"F1": "Helvetica"}, Contents=[head, flood, b.add_stream(None, b"ET")])
    return b.build()


def distinct_content_bombs(b: PdfBuilder) -> bytes:
    """40 pages, each with its own content stream of 500 MiB of spaces."""
    data = bomb(b" ", 500 * MIB)
    for _ in range(40):
        b.add_page(content=None, Contents=b.add_stream(DOUBLE_FLATE, data))
    return b.build()


def shared_content_bomb(b: PdfBuilder) -> bytes:
    """1,000 pages sharing one content stream of 200 MiB of spaces."""
    stream = b.add_stream(DOUBLE_FLATE, bomb(b" ", 200 * MIB))
    for _ in range(1000):
        b.add_page(content=None, Contents=stream)
    return b.build()


def shared_operator_bomb(b: PdfBuilder) -> bytes:
    """1,000 pages sharing one content stream of 16 million operators (q Q)."""
    stream = b.add_stream(DOUBLE_FLATE, bomb(b"q Q\n", 8_000_000))
    for _ in range(1000):
        b.add_page(content=None, Contents=stream)
    return b.build()


def image_bombs(b: PdfBuilder) -> bytes:
    """One page listing 50 images of 1,000 MiB of samples each."""
    data = bomb(b"\x80", 1000 * MIB)
    entries = {"Type": "/XObject", "Subtype": "/Image", "Width": 32000, "Height": 32768,
               "ColorSpace": "/DeviceGray", "BitsPerComponent": 8, **DOUBLE_FLATE}
    images = {f"Im{i}": b.add_stream(entries, data) for i in range(50)}
    b.add_page(content=b"BT /F1 12 Tf 72 700 Td (images) Tj ET", xobjects=images)
    return b.build()


def to_unicode_bomb(b: PdfBuilder) -> bytes:
    """A font whose ToUnicode map decodes to the 1 GiB stream limit exactly."""
    cmap = b.add_stream(DOUBLE_FLATE, bomb(b" ", 1024 * MIB))
    font = b.add_object({"Type": "/Font", "Subtype": "/Type1", "BaseFont": "/Helvetica", "ToUnicode": cmap})
    b.add_page(content=b"BT /F1 12 Tf 72 700 Td (x) Tj ET", fonts={"F1": font})
    return b.build()


CASES: Dict[str, Callable[[PdfBuilder], bytes]] = {
    "q_flood": q_flood,
    "tj_flood": tj_flood,
    "distinct_content_bombs": distinct_content_bombs,
    "shared_content_bomb": shared_content_bomb,
    "shared_operator_bomb": shared_operator_bomb,
    "image_bombs": image_bombs,
    "to_unicode_bomb": to_unicode_bomb,
}


def run_one(name: str) -> None:
    """In the child: build the file, parse it once, print one result line."""
    import vellum

    data = CASES[name](PdfBuilder())
    before = resource.getrusage(resource.RUSAGE_SELF)
    cpu_before = before.ru_utime + before.ru_stime
    start = time.perf_counter()
    try:
        out = vellum.parse_to_markdown(data)
        outcome = f"ok, {len(out):,} characters"
    except ValueError as e:
        outcome = f"ValueError: {e}"
    except MemoryError:
        outcome = "MemoryError"
    elapsed = time.perf_counter() - start
    usage = resource.getrusage(resource.RUSAGE_SELF)
    cpu = usage.ru_utime + usage.ru_stime - cpu_before
    print(f"{len(data)}\t{elapsed:.2f}\t{cpu:.2f}\t{usage.ru_maxrss / 1024:.0f}\t{outcome}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cases", default=",".join(CASES), help="comma-separated subset of: " + ", ".join(CASES))
    parser.add_argument("--out", help="also write the table to this file")
    parser.add_argument("--run", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.run:
        run_one(args.run)
        return 0

    rows: List[Tuple[str, ...]] = []
    over = []
    for name in args.cases.split(","):
        print(f"{name} ...", file=sys.stderr, flush=True)
        proc = subprocess.run([sys.executable, __file__, "--run", name], capture_output=True, text=True)
        if proc.returncode != 0:
            rows.append((name, "-", "-", "-", "-", f"process failed ({proc.returncode}): {proc.stderr.strip()[-200:]}"))
            over.append(name)
            continue
        size, seconds, cpu, peak, outcome = proc.stdout.strip().split("\t", 4)
        rows.append((name, f"{int(size):,}", seconds, cpu, peak, outcome))
        if float(cpu) > BOUND_SECONDS:
            over.append(name)

    lines = [
        f"Hostile inputs (bound {BOUND_SECONDS:.0f} s per case); load average {os.getloadavg()[0]:.1f}",
        "",
        "| case | file bytes | wall s | CPU s | peak RSS MiB | outcome |",
        "| --- | ---: | ---: | ---: | ---: | --- |",
    ]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    table = "\n".join(lines) + "\n"
    print(table)
    if args.out:
        Path(args.out).write_text(table)
    if over:
        print("over the bound: " + ", ".join(over), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
