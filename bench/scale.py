#!/usr/bin/env python3
"""How vellum scales: threads, batch pools, document information, memory.

    python bench/scale.py threads   # throughput of 1, 2, 4 threads (corpus, 500-page document)
    python bench/scale.py pools     # convert_many on a thread pool against a process pool
    python bench/scale.py info      # vellum.info against a full parse of the 500-page document
    python bench/scale.py memory    # peak memory of parse_to_markdown at 1,000 / 10,000 / 50,000 pages
    python bench/scale.py all

* threads: the same fixed amount of work (every file --rounds times) is
  shared by N threads calling parse_to_markdown; throughput is work done per
  second of wall time, and the speed-up is relative to one thread. The best
  of --reps runs is kept, since other processes on the machine only ever
  slow a run down.
* pools: convert_many(paths, jobs=2) over the corpus files on a
  ThreadPoolExecutor and on a ProcessPoolExecutor, pool start-up included,
  best of --reps.
* memory: a fresh interpreter per document parses it once to Markdown and
  reports its VmHWM (the peak resident set of that process alone: unlike
  ru_maxrss it does not inherit the parent's). The documents are the prose
  of gen_docs.py, 1,000 distinct pages repeated up to the page count, each
  page with its own content stream; generated into bench/generated/ on
  first use.

The load average is printed with each result: on a shared machine, thread
scaling can only be read from a quiet one.
"""

from __future__ import annotations

import argparse
import json
import os
import random
import subprocess
import sys
import threading
import time
import warnings
import zlib
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor
from pathlib import Path
from typing import Callable, List, Sequence

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import gen_docs  # noqa: E402

import vellum  # noqa: E402

CORPUS = HERE.parent.parent / "shared" / "corpus"


def load() -> str:
    return "load %.2f %.2f %.2f" % os.getloadavg()


def corpus_paths() -> List[Path]:
    manifest = json.loads((CORPUS / "manifest.json").read_text())
    paths = []
    for rec in manifest:
        if rec["encryption"] is None:
            path = CORPUS / "files" / rec["file"]
            try:
                vellum.parse_to_markdown(path.read_bytes())
            except ValueError:
                continue
            paths.append(path)
    return paths


# Longer documents repeat the content of this many distinct pages (each page
# still has its own content stream object): writing 50,000 pages of fresh
# prose would take the generator many minutes.
DISTINCT_PAGES = 1_000


def long_text_document(pages: int) -> bytes:
    rng = random.Random(20240501)
    b = gen_docs.PdfBuilder(version="1.5")
    fonts = {"F1": b.standard_font("Helvetica"), "F2": b.standard_font("Times-Roman"), "F3": b.standard_font("Helvetica-Bold")}
    contents = [zlib.compress(gen_docs.text_page(rng, i + 1, pages), 6) for i in range(min(pages, DISTINCT_PAGES))]
    for i in range(pages):
        data = contents[i % len(contents)]
        stream = b.add_stream({"Filter": "/FlateDecode"}, data)
        b.add_page(content=None, fonts=fonts, Contents=stream)
    return gen_docs.with_object_streams(b.build())


def text_document(pages: int) -> Path:
    if pages == gen_docs.TEXT_PAGES:
        return gen_docs.generate(gen_docs.DEFAULT_OUT)[gen_docs.TEXT_NAME]
    path = gen_docs.DEFAULT_OUT / f"generated-text-{pages}-pages.pdf"
    if not path.exists():
        print(f"generating {path.name} ...", file=sys.stderr)
        gen_docs.DEFAULT_OUT.mkdir(parents=True, exist_ok=True)
        tmp = path.with_suffix(".tmp")
        tmp.write_bytes(long_text_document(pages))
        tmp.replace(path)
    return path


def best_of(reps: int, run: Callable[[], None]) -> float:
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times)


def threaded(blobs: Sequence[bytes], threads: int) -> None:
    """Every blob once, shared out among `threads` threads."""
    work = list(enumerate(blobs))
    lock = threading.Lock()

    def worker() -> None:
        while True:
            with lock:
                if not work:
                    return
                _, data = work.pop()
            vellum.parse_to_markdown(data)

    pool = [threading.Thread(target=worker) for _ in range(threads)]
    for t in pool:
        t.start()
    for t in pool:
        t.join()


def bench_threads(args: argparse.Namespace) -> None:
    sets = {
        "corpus": [p.read_bytes() for p in corpus_paths()] * args.rounds,
        "500-page document": [text_document(gen_docs.TEXT_PAGES).read_bytes()] * (4 * args.rounds),
    }
    print("| input | threads | calls | seconds | calls/s | speed-up |")
    print("| --- | ---: | ---: | ---: | ---: | ---: |")
    for name, blobs in sets.items():
        for data in blobs[:3]:
            vellum.parse_to_markdown(data)  # warm the allocator and the page cache
        base = None
        for n in (1, 2, 4):
            seconds = best_of(args.reps, lambda: threaded(blobs, n))
            base = base or seconds
            print(f"| {name} | {n} | {len(blobs)} | {seconds:.3f} | {len(blobs) / seconds:.1f} | {base / seconds:.2f}x |")
    print(f"\n({load()}, {os.cpu_count()} CPUs)")


def bench_pools(args: argparse.Namespace) -> None:
    paths = corpus_paths()
    print("| pool | files | seconds (best of %d) |" % args.reps)
    print("| --- | ---: | ---: |")
    for fmt in ("markdown", "dict"):
        for name, make in (("threads", ThreadPoolExecutor), ("processes", ProcessPoolExecutor)):
            def run() -> None:
                with make(max_workers=2) as pool:
                    for _, result in vellum.convert_many(paths, fmt, executor=pool, max_pending=8):
                        assert not isinstance(result, Exception), result
            seconds = best_of(args.reps, run)
            print(f"| {name}, format={fmt} | {len(paths)} | {seconds:.3f} |")
    print(f"\n({load()}, {os.cpu_count()} CPUs)")


def bench_info(args: argparse.Namespace) -> None:
    data = text_document(gen_docs.TEXT_PAGES).read_bytes()
    full = best_of(args.reps, lambda: vellum.parse_to_markdown(data))
    meta = best_of(args.reps, lambda: vellum.info(data))
    one = best_of(args.reps, lambda: vellum.parse_to_markdown(data, pages=[250]))
    print("| call on the 500-page document | ms | share of the full parse |")
    print("| --- | ---: | ---: |")
    for name, seconds in (("parse_to_markdown", full), ("info", meta), ("parse_to_markdown(pages=[250])", one)):
        print(f"| {name} | {seconds * 1000:.1f} | {seconds / full:.1%} |")
    print(f"\n({load()})")


CHILD = """
import sys, time, vellum
data = open(sys.argv[1], 'rb').read()
start = time.perf_counter()
out = vellum.parse_to_markdown(data)
seconds = time.perf_counter() - start
hwm = next(int(l.split()[1]) for l in open('/proc/self/status') if l.startswith('VmHWM'))
print(len(data), len(out.encode()), hwm, seconds)
"""


def bench_memory(args: argparse.Namespace) -> None:
    print("| pages | file MB | Markdown MB | peak RSS MB | RSS above the idle interpreter MB | seconds |")
    print("| ---: | ---: | ---: | ---: | ---: | ---: |")
    idle = subprocess.run(
        [sys.executable, "-c", "import vellum;print(next(int(l.split()[1]) for l in open('/proc/self/status') if l.startswith('VmHWM')))"],
        check=True, capture_output=True, text=True,
    )
    base_kib = int(idle.stdout)
    for pages in args.pages:
        path = text_document(pages)
        out = subprocess.run([sys.executable, "-c", CHILD, str(path)], check=True, capture_output=True, text=True)
        size, md, hwm, seconds = out.stdout.split()
        mb = 1 << 20
        print(f"| {pages:,} | {int(size) / mb:.1f} | {int(md) / mb:.1f} | {int(hwm) / 1024:.0f} | "
              f"{(int(hwm) - base_kib) / 1024:.0f} | {float(seconds):.2f} |")
    print(f"\n(idle interpreter with vellum imported: {base_kib / 1024:.0f} MB; {load()})")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("what", choices=["threads", "pools", "info", "memory", "all"])
    parser.add_argument("--reps", type=int, default=3, help="runs per measurement; the best is kept (default 3)")
    parser.add_argument("--rounds", type=int, default=4, help="times each file is parsed per thread run (default 4)")
    parser.add_argument("--pages", type=int, nargs="+", default=[1_000, 10_000, 50_000], help="memory: page counts")
    args = parser.parse_args()
    # The corpus's damaged files warn on every call; the figures are the point here.
    warnings.simplefilter("ignore", vellum.RecoveryWarning)
    for name, fn in (("threads", bench_threads), ("pools", bench_pools), ("info", bench_info), ("memory", bench_memory)):
        if args.what in (name, "all"):
            print(f"\n## {name}\n")
            fn(args)


if __name__ == "__main__":
    main()
