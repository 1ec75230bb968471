"""The Python boundary under load: many threads at once, and no growth over
many calls (a reference leak in the extension would show as growth)."""

from __future__ import annotations

import contextlib
import random
import resource
import tracemalloc
import warnings
from concurrent.futures import ThreadPoolExecutor

import vellum
from conftest import load_manifest
from pdfbuilder import PdfBuilder, ruled_table_content

FUNCTIONS = (vellum.parse, vellum.parse_to_json, vellum.parse_to_html, vellum.parse_to_markdown)


def sample_pdf() -> bytes:
    b = PdfBuilder()  # text in a table, and an image
    b.add_page(content=ruled_table_content(72, 600, [80, 80], 20, [["a", "b"], ["c", "d"]]) + b"\n/Im0 Do",
               xobjects={"Im0": b.add_image(8, 8)})
    return b.build()


CALLS = [*FUNCTIONS, vellum.info, lambda d: vellum.parse_to_markdown(d, pages=[-1, 0]),
         lambda d: vellum.parse(d, pages=[10**6])]  # IndexError, or the file's ValueError


def run_all(data: bytes):
    # The calls release the interpreter lock while they work: threads that
    # raise must leave the others' results whole.
    results = []
    for call in CALLS:
        try:
            results.append(call(data))
        except (ValueError, IndexError) as e:
            results.append((type(e), str(e)))
    return results


def test_eight_threads_agree_with_one(corpus):
    small = [r["file"] for r in load_manifest() if r["encryption"] is None and r["bytes"] < 400_000][:25]
    base = [sample_pdf()] + [(corpus / "files" / name).read_bytes() for name in small]
    rng = random.Random(7)
    data = list(base)
    for d in base * 3:  # damaged copies: bytes overwritten, some cut short
        out = bytearray(d)
        for _ in range(rng.randrange(1, 20)):
            out[rng.randrange(len(out))] = rng.randrange(256)
        data.append(bytes(out[: rng.randrange(len(out)) if rng.random() < 0.3 else len(out)]))
    expected = [run_all(d) for d in data]

    def worker(seed: int) -> list:
        order = random.Random(seed).sample(range(len(data)), len(data))
        return [i for i in order if run_all(data[i]) != expected[i]]

    with ThreadPoolExecutor(max_workers=8) as pool:
        assert sum(pool.map(worker, range(8)), []) == []


def test_ten_thousand_calls_do_not_grow_memory():
    good = sample_pdf()
    damaged = b"%junk\n" * 11 + good  # read by recovery, with a RecoveryWarning
    native = (vellum.info, vellum._vellum._convert)  # the warning's path and the (result, note) pair
    calls = [(fn, d) for fn in FUNCTIONS + native for d in (good, good[:300], damaged)]

    def batch(n):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", vellum.RecoveryWarning)
            for k in range(n):
                fn, d = calls[k % len(calls)]
                for args, kwargs, error in (((d,), {"password": None}, ValueError), ((bytearray(d),), {}, TypeError)):
                    with contextlib.suppress(error):
                        fn(*args, **kwargs)

    batch(2000)  # warm up allocator pools and caches
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    tracemalloc.start()
    start, _ = tracemalloc.get_traced_memory()
    batch(10000)
    end, _ = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
    # Python objects leaked by the extension are traced: even one small
    # string per call would add hundreds of KiB here. Native leaks show in RSS.
    assert end - start < 64 * 1024, f"traced Python memory grew by {end - start} bytes"
    assert grown < 2048, f"max RSS grew by {grown} KiB over 10,000 calls"
