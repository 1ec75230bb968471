"""convert_many: every executor gives the same results (any Executor: a dask
client's is driven through the same submit and wait), failures come back as
values, argument errors come at once, a bounded number of files is in flight,
and a dying worker does not take the rest of the batch with it."""

from __future__ import annotations

import multiprocessing
import os
from concurrent.futures import Executor, ProcessPoolExecutor, ThreadPoolExecutor
from concurrent.futures.process import BrokenProcessPool
from pathlib import Path
from typing import Callable, Dict, List

import pytest
from pdfbuilder import text_pdf as page_pdf

import vellum
import vellum._vellum as native
from vellum import batch

NATIVE = {"markdown": native.parse_to_markdown, "json": native.parse_to_json, "html": native.parse_to_html,
          "dict": native.parse}


@pytest.fixture
def files(tmp_path: Path) -> Dict[str, Path]:
    """Five good files, a broken one and a missing one."""
    paths = {name: tmp_path / f"{name}.pdf" for name in [f"good{i}" for i in range(5)] + ["broken", "missing"]}
    for i in range(5):
        paths[f"good{i}"].write_bytes(page_pdf(f"File number {i}"))
    paths["broken"].write_bytes(b"not a pdf at all")
    return paths


def check_results(files: Dict[str, Path], results: List[tuple], fmt: str = "markdown") -> None:
    # paths come back as the very objects given
    assert sorted(map(id, (p for p, _ in results))) == sorted(map(id, files.values()))
    for path, result in results:
        if path == files["broken"]:
            assert type(result) is ValueError and str(result) == "InvalidHeader: no %PDF- header"
        elif path == files["missing"]:
            assert isinstance(result, FileNotFoundError)
        else:
            titled = {"default_title": path.name} if fmt == "html" else {}
            assert result == NATIVE[fmt](path.read_bytes(), **titled)


EXECUTORS: Dict[str, Callable[[], Executor]] = {"caller's threads": lambda: ThreadPoolExecutor(max_workers=3),
                                                "caller's processes": lambda: ProcessPoolExecutor(max_workers=2)}


# Every format inline (jobs=1), in the default pool of threads and in a pool
# of processes (the dict is pickled); the caller's executors with one format.
@pytest.mark.parametrize(
    "fmt,run", [(f, r) for f in NATIVE for r in ("inline", "threads", "processes")] + [("markdown", e) for e in EXECUTORS]
)
def test_every_executor_gives_the_native_results(files, fmt, run):
    if run not in EXECUTORS:
        options = {"jobs": 1} if run == "inline" else {"pool": run}
        return check_results(files, list(vellum.convert_many(files.values(), fmt, **options)), fmt)
    with EXECUTORS[run]() as executor:
        check_results(files, list(vellum.convert_many(files.values(), fmt, executor=executor)), fmt)
        assert executor.submit(len, "abc").result() == 3  # a caller's executor is left running


@pytest.mark.parametrize("kwargs,error", [({"format": "Markdown"}, ValueError), ({"password": b"pw"}, TypeError),
                                          ({"jobs": 0}, ValueError), ({"max_pending": -1}, ValueError),
                                          ({"jobs": 1.5}, ValueError)])
def test_bad_arguments_raise_before_iteration(kwargs, error):
    pulled = []
    with pytest.raises(error):
        vellum.convert_many((pulled.append(1) or "x.pdf" for _ in range(1)), **kwargs)
    assert pulled == []


@pytest.mark.parametrize("max_pending", [1, 3])
def test_nothing_starts_before_iteration_and_files_in_flight_are_bounded(tmp_path, max_pending):
    path = tmp_path / "one.pdf"
    path.write_bytes(page_pdf("same"))
    pulled = []
    endless = (pulled.append(1) or str(path) for _ in iter(int, 1))  # a str path is accepted too
    with ThreadPoolExecutor(max_workers=4) as pool:
        results = vellum.convert_many(endless, executor=pool, max_pending=max_pending)
        assert pulled == []
        for taken in range(1, 30):
            next(results)
            # the paths pulled are those yielded plus at most a window in flight
            assert len(pulled) <= taken + max_pending
        results.close()


_convert_noting = batch._convert_noting


def _crash_on_marker(path: str, *options, **keywords) -> tuple:
    if b"CRASH" in Path(path).read_bytes():
        os._exit(3)  # a fault that takes the whole worker process down
    return _convert_noting(path, *options, **keywords)


@pytest.mark.skipif(multiprocessing.get_start_method() != "fork", reason="the patched renderer reaches workers by fork")
def test_a_dying_worker_fails_its_files_and_the_batch_goes_on(tmp_path, monkeypatch):
    monkeypatch.setattr(batch, "_convert_noting", _crash_on_marker)
    crash, good = tmp_path / "crash.pdf", [tmp_path / f"good{i}.pdf" for i in range(12)]
    crash.write_bytes(page_pdf("CRASH"))
    for i, path in enumerate(good):
        path.write_bytes(page_pdf(f"fine {i}"))
    results = dict(vellum.convert_many([crash] + good, jobs=2, max_pending=2, pool="processes"))
    assert set(results) == {crash, *good}
    assert isinstance(results[crash], BrokenProcessPool)
    failed = [p for p in good if isinstance(results[p], Exception)]
    assert all(isinstance(results[p], BrokenProcessPool) for p in failed)
    # only files in flight around the crash are lost; the later ones succeed
    assert len(failed) <= 4
    assert results[good[-1]] == native.parse_to_markdown(good[-1].read_bytes())
