"""convert_many: every executor gives the same results, failures come back
as values, argument errors come at once, a bounded number of files is in
flight, and a dying worker does not take the rest of the batch with it."""

from __future__ import annotations

import multiprocessing
import os
import time
from concurrent.futures import Executor, ProcessPoolExecutor, ThreadPoolExecutor
from concurrent.futures.process import BrokenProcessPool
from pathlib import Path
from typing import Callable, Dict, Iterator, List

import pytest
from pdfbuilder import PdfBuilder

import vellum
import vellum._vellum as native
from vellum import batch

NATIVE = {
    "markdown": native.parse_to_markdown,
    "json": native.parse_to_json,
    "html": native.parse_to_html,
    "dict": native.parse,
}


def page_pdf(text: str) -> bytes:
    b = PdfBuilder()
    b.add_page(content=b"BT /F1 12 Tf 72 700 Td (" + text.encode("latin-1") + b") Tj ET")
    return b.build()


@pytest.fixture
def files(tmp_path: Path) -> Dict[str, Path]:
    """Five good files, a broken one and a missing one."""
    paths = {}
    for i in range(5):
        paths[f"good{i}"] = tmp_path / f"good{i}.pdf"
        paths[f"good{i}"].write_bytes(page_pdf(f"File number {i}"))
    paths["broken"] = tmp_path / "broken.pdf"
    paths["broken"].write_bytes(b"not a pdf at all")
    paths["missing"] = tmp_path / "missing.pdf"
    return paths


def check_results(files: Dict[str, Path], results: List[tuple], fmt: str = "markdown") -> None:
    given = list(files.values())
    assert sorted(map(str, (p for p, _ in results))) == sorted(map(str, given))
    for path, result in results:
        # paths come back as the very objects given
        assert any(path is p for p in given)
        if path == files["broken"]:
            assert type(result) is ValueError and str(result) == "InvalidHeader: no %PDF- header"
        elif path == files["missing"]:
            assert isinstance(result, FileNotFoundError)
        else:
            titled = {"default_title": path.name} if fmt == "html" else {}
            assert result == NATIVE[fmt](path.read_bytes(), **titled)


EXECUTORS: Dict[str, Callable[[], Executor]] = {
    "caller's threads": lambda: ThreadPoolExecutor(max_workers=3),
    "caller's processes": lambda: ProcessPoolExecutor(max_workers=2),
}


# Every format inline (jobs=1), in the default pool of threads and in a pool
# of processes (the dict is pickled); the caller's executors with one format.
@pytest.mark.parametrize(
    "fmt,run", [(f, r) for f in NATIVE for r in ("inline", "threads", "processes")] + [("markdown", e) for e in EXECUTORS]
)
def test_every_executor_gives_the_native_results(files, fmt, run):
    executor = EXECUTORS[run]() if run in EXECUTORS else None
    try:
        options = {"jobs": 1} if run == "inline" else {"pool": run} if executor is None else {}
        results = list(vellum.convert_many(files.values(), fmt, executor=executor, **options))
        check_results(files, results, fmt)
        if executor is not None:
            # a caller's executor is left running
            assert executor.submit(len, "abc").result() == 3
    finally:
        if executor is not None:
            executor.shutdown()


def test_password_reaches_the_workers(corpus):
    path = corpus / "files" / "enc-r2-rc4-40-cpdf.pdf"  # user password "baz"
    data = path.read_bytes()
    for password in ("baz", None):
        ((_, result),) = vellum.convert_many([path], password=password, jobs=2)
        try:
            expected = native.parse_to_markdown(data, password)
        except ValueError as e:  # no password: PasswordError, through the pool too
            assert type(result) is type(e) is vellum.PasswordError and str(result) == str(e)
        else:
            assert result == expected


def test_str_paths_are_accepted_and_returned_as_given(files):
    paths = [str(p) for p in files.values()]
    results = dict(vellum.convert_many(paths, jobs=1))
    assert set(results) == set(paths)


@pytest.mark.parametrize(
    "kwargs,error",
    [
        ({"format": "pdf"}, ValueError),
        ({"format": "Markdown"}, ValueError),
        ({"password": b"pw"}, TypeError),
        ({"jobs": 0}, ValueError),
        ({"max_pending": -1}, ValueError),
        ({"jobs": 1.5}, ValueError),
    ],
)
def test_bad_arguments_raise_before_iteration(kwargs, error):
    pulled = []

    def paths() -> Iterator[str]:
        pulled.append(1)
        yield "x.pdf"

    with pytest.raises(error):
        vellum.convert_many(paths(), **kwargs)
    assert pulled == []


def test_nothing_starts_before_iteration(files):
    submitted = []

    class Recorder(batch.InlineExecutor):
        def submit(self, fn, /, *args, **kwargs):
            submitted.append(args[0])
            return super().submit(fn, *args, **kwargs)

    results = vellum.convert_many(files.values(), executor=Recorder(), max_pending=1)
    assert submitted == []
    next(results)
    assert len(submitted) == 1


@pytest.mark.parametrize("max_pending", [1, 3])
def test_files_in_flight_are_bounded(tmp_path, max_pending):
    path = tmp_path / "one.pdf"
    path.write_bytes(page_pdf("same"))
    pulled = 0

    def endless() -> Iterator[Path]:
        nonlocal pulled
        while True:
            pulled += 1
            yield path

    with ThreadPoolExecutor(max_workers=4) as pool:
        results = vellum.convert_many(endless(), executor=pool, max_pending=max_pending)
        for taken in range(1, 30):
            next(results)
            # the paths pulled are those yielded plus at most a window in flight
            assert pulled <= taken + max_pending
        results.close()


def test_stopping_early_does_not_wait_for_the_rest(tmp_path):
    path = tmp_path / "one.pdf"
    path.write_bytes(page_pdf("same"))
    results = vellum.convert_many([path] * 200, jobs=2)
    start = time.monotonic()
    first_path, first = next(results)
    results.close()
    assert first == native.parse_to_markdown(path.read_bytes())
    assert time.monotonic() - start < 30


_convert_noting = batch._convert_noting


def _crash_on_marker(path: str, *options, **keywords) -> tuple:
    if b"CRASH" in Path(path).read_bytes():
        os._exit(3)  # a fault that takes the whole worker process down
    return _convert_noting(path, *options, **keywords)


@pytest.mark.skipif(multiprocessing.get_start_method() != "fork", reason="the patched renderer reaches workers by fork")
def test_a_dying_worker_fails_its_files_and_the_batch_goes_on(tmp_path, monkeypatch):
    monkeypatch.setattr(batch, "_convert_noting", _crash_on_marker)
    crash = tmp_path / "crash.pdf"
    crash.write_bytes(page_pdf("CRASH"))
    good = []
    for i in range(12):
        good.append(tmp_path / f"good{i}.pdf")
        good[-1].write_bytes(page_pdf(f"fine {i}"))
    results = dict(vellum.convert_many([crash] + good, jobs=2, max_pending=2, pool="processes"))
    assert set(results) == {crash, *good}
    assert isinstance(results[crash], BrokenProcessPool)
    failed = [p for p in good if isinstance(results[p], Exception)]
    assert all(isinstance(results[p], BrokenProcessPool) for p in failed)
    # only files in flight around the crash are lost; the later ones succeed
    assert len(failed) <= 4
    assert results[good[-1]] == native.parse_to_markdown(good[-1].read_bytes())


@pytest.fixture(scope="module")
def dask_client():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(
        n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None
    ) as cluster, distributed.Client(cluster) as client:
        yield client


@pytest.mark.parametrize("fmt", ["markdown", "dict"])
def test_dask_distributed_executor(files, dask_client, fmt):
    executor = dask_client.get_executor()
    results = list(vellum.convert_many(list(files.values()), fmt, executor=executor))
    check_results(files, results, fmt)
