"""Converting many PDF files at once on a pool of threads or processes, or on
any concurrent.futures executor.

Work is shipped as paths, not bytes: each worker opens and reads its own file,
so the parent never holds more than a few files' results at a time, and an
executor that runs elsewhere (a Dask or Ray cluster) needs the paths to be
readable on its workers, for example on a shared file system. The native
functions release the interpreter lock while they work, so the default pool
is one of threads: it starts at once and hands results over without
pickling them, which makes it faster than processes (bench/scale.py pools).
A pool of processes (pool="processes") is still there for isolation.

Only a bounded number of files is in flight at once (`max_pending`), so a
huge or endless iterable of paths costs constant memory and results stream
out as they finish, in completion order. A file that cannot be read or
parsed yields its exception (OSError, ValueError, ...) in place of a result
instead of raising it, so one bad file does not end the batch. Exceptions
that are not `Exception`s (vellum.InternalError, KeyboardInterrupt) still
propagate. A damaged file that was read by recovery issues its
vellum.RecoveryWarning in the thread that iterates, as "path: message", just
before its result is yielded, so the usual `warnings` filters apply (and
apply the same to threads, processes and other executors: the workers only
hand the message back). When a worker of the process pool that convert_many
owns dies (a fault in native code kills the whole process), the files in
flight at that moment fail with BrokenProcessPool and the rest of the batch
goes on in a new pool.
"""

from __future__ import annotations

import functools
import operator
import os
import signal
import warnings
from concurrent.futures import FIRST_COMPLETED, Executor, Future, ProcessPoolExecutor, ThreadPoolExecutor, wait
from concurrent.futures.process import BrokenProcessPool
from typing import (
    TYPE_CHECKING,
    Any,
    Callable,
    Dict,
    Iterable,
    Iterator,
    Literal,
    Optional,
    Sequence,
    Tuple,
    TypeVar,
    Union,
    overload,
)

from ._vellum import RecoveryWarning, _convert, parse, parse_to_html, parse_to_json, parse_to_markdown

if TYPE_CHECKING:
    from ._vellum import Document

__all__ = ["convert_many", "convert_file", "FORMATS"]

_RENDERERS: Dict[str, Callable[..., Any]] = {
    "markdown": parse_to_markdown,
    "json": parse_to_json,
    "html": parse_to_html,
    "dict": parse,
}

# Accepted values of `format`, in the order the help texts list them.
FORMATS = tuple(_RENDERERS)

PathT = TypeVar("PathT", bound="Union[str, os.PathLike[str]]")


def convert_file(
    path: str,
    format: str = "markdown",
    password: Optional[str] = None,
    pages: Optional[Sequence[int]] = None,
    *,
    strict: bool = False,
) -> Any:
    """Read one PDF file and return its rendering.

    HTML is titled with the document's /Title, else the file's name. A
    damaged file read by recovery issues its RecoveryWarning here.
    Raises what reading or parsing raises (OSError, ValueError, IndexError).
    """
    renderer = _RENDERERS[format]
    with open(path, "rb") as f:
        data = f.read()
    if format == "html":
        return renderer(data, password, strict=strict, pages=pages, default_title=os.path.basename(path))
    return renderer(data, password, strict=strict, pages=pages)


def _convert_noting(
    path: str, format: str, password: Optional[str], strict: bool, pages: Optional[Sequence[int]]
) -> Tuple[Any, str]:
    """convert_file in a worker: the rendering and, in place of the
    RecoveryWarning, its message ("" for none), which the iterating thread
    issues. A worker process's warnings would be lost, and recording them
    in a worker thread (warnings.catch_warnings) is not thread-safe."""
    with open(path, "rb") as f:
        data = f.read()
    title = os.path.basename(path) if format == "html" else None
    return _convert(data, password, strict=strict, pages=pages, default_title=title, format=format)


class InlineExecutor(Executor):
    """Runs each task at once in the calling thread: the executor of one job."""

    def submit(self, fn: Callable[..., Any], /, *args: Any, **kwargs: Any) -> Future[Any]:
        future: Future[Any] = Future()
        try:
            future.set_result(fn(*args, **kwargs))
        except Exception as e:  # noqa: BLE001 - handed back through the future
            future.set_exception(e)
        return future


def _ignore_interrupts() -> None:
    # Ctrl-C reaches the whole process group; the parent handles it and shuts
    # the pool down, so the workers need not print a traceback each.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def _fspath(path: Union[str, "os.PathLike[str]"]) -> str:
    return os.fspath(path)


def _default_jobs() -> int:
    return os.cpu_count() or 1


def _new_pool(jobs: int, kind: str) -> Executor:
    if jobs == 1:
        return InlineExecutor()
    if kind == "threads":
        return ThreadPoolExecutor(max_workers=jobs, thread_name_prefix="vellum")
    return ProcessPoolExecutor(max_workers=jobs, initializer=_ignore_interrupts)


@overload
def convert_many(
    paths: Iterable[PathT],
    format: Literal["markdown", "json", "html"] = ...,
    password: Optional[str] = ...,
    executor: Optional[Executor] = ...,
    *,
    jobs: Optional[int] = ...,
    max_pending: Optional[int] = ...,
    strict: bool = ...,
    pages: Optional[Iterable[int]] = ...,
    pool: Literal["threads", "processes"] = ...,
) -> Iterator[Tuple[PathT, Union[str, Exception]]]: ...


@overload
def convert_many(
    paths: Iterable[PathT],
    format: Literal["dict"],
    password: Optional[str] = ...,
    executor: Optional[Executor] = ...,
    *,
    jobs: Optional[int] = ...,
    max_pending: Optional[int] = ...,
    strict: bool = ...,
    pages: Optional[Iterable[int]] = ...,
    pool: Literal["threads", "processes"] = ...,
) -> Iterator[Tuple[PathT, Union[Document, Exception]]]: ...


def convert_many(
    paths: Iterable[PathT],
    format: str = "markdown",
    password: Optional[str] = None,
    executor: Optional[Executor] = None,
    *,
    jobs: Optional[int] = None,
    max_pending: Optional[int] = None,
    strict: bool = False,
    pages: Optional[Iterable[int]] = None,
    pool: Literal["threads", "processes"] = "threads",
) -> Iterator[Tuple[PathT, Any]]:
    """Convert PDF files in parallel; yield (path, result) as each file finishes.

    `format` is "markdown", "json" or "html" (the result is a str) or "dict"
    (the result is the dict of vellum.parse). A file that fails yields the
    exception it raised (ValueError for a broken PDF, OSError for an
    unreadable file) as its result. Paths come back as given.

    By default the work runs on a pool of `jobs` threads (default:
    os.cpu_count(); 1 runs everything in the calling thread) that lives as
    long as the iteration; pool="processes" runs it on worker processes
    instead, so that a crash in native code costs only the files in flight
    (they fail with BrokenProcessPool). Any concurrent.futures.Executor may be passed
    instead, for example a Dask client's `client.get_executor()`; it is not
    shut down afterwards, and its workers must be able to import vellum and
    read the paths. At most `max_pending` files are in flight at once
    (default: twice the number of jobs, or 4 × os.cpu_count() with a given
    executor).

    `pages` selects the 0-based pages of every file, as in vellum.parse; a
    file that lacks one of them yields IndexError.

    Damaged files are read by recovery and issue a vellum.RecoveryWarning
    ("path: what was repaired") as their result is yielded; `strict=True`
    makes them fail with the ValueError of strict reading instead.

    Arguments are checked here, before anything runs: an unknown format
    raises ValueError, a password that is not a str or None or pages that
    are not ints raise TypeError, a jobs or max_pending below 1 or an
    unknown pool raises ValueError.
    """
    if format not in _RENDERERS:
        raise ValueError(f"format must be one of {', '.join(FORMATS)}, not {format!r}")
    if password is not None and not isinstance(password, str):
        raise TypeError(f"password must be a str or None, not {type(password).__name__}")
    for name, value in (("jobs", jobs), ("max_pending", max_pending)):
        if value is not None and (not isinstance(value, int) or value < 1):
            raise ValueError(f"{name} must be a positive integer, not {value!r}")
    if pool not in ("threads", "processes"):
        raise ValueError(f"pool must be 'threads' or 'processes', not {pool!r}")
    if pages is not None:
        if isinstance(pages, (str, bytes, bytearray)):
            raise TypeError("pages must be a sequence of int page indices, not a string")
        pages = tuple(operator.index(p) for p in pages)
    task = functools.partial(_convert_noting, format=format, password=password, strict=bool(strict), pages=pages)
    if executor is not None:
        window = max_pending or 4 * _default_jobs()
        return _run(iter(paths), task, executor, None, window)
    pool_size = jobs or _default_jobs()
    return _run(iter(paths), task, None, functools.partial(_new_pool, pool_size, pool), max_pending or 2 * pool_size)


def _run(
    paths: Iterator[PathT],
    task: Callable[[str], Any],
    executor: Optional[Executor],
    new_pool: Optional[Callable[[], Executor]],
    window: int,
) -> Iterator[Tuple[PathT, Any]]:
    owned = executor is None
    # Created on first use, so an iterator that is never advanced starts no processes.
    pool: Optional[Executor] = executor
    in_flight: Dict[Future[Any], PathT] = {}
    exhausted = False
    try:
        while True:
            while not exhausted and len(in_flight) < window:
                try:
                    path = next(paths)
                except StopIteration:
                    exhausted = True
                    break
                if pool is None:
                    assert new_pool is not None
                    pool = new_pool()
                try:
                    future = pool.submit(task, _fspath(path))
                except BrokenProcessPool:
                    if not owned:
                        raise
                    # The owned pool lost a worker: the files in flight fail
                    # (their futures say so), the rest go to a fresh pool.
                    pool.shutdown(wait=False)
                    assert new_pool is not None
                    pool = new_pool()
                    future = pool.submit(task, _fspath(path))
                in_flight[future] = path
            if not in_flight:
                return
            done, _ = wait(in_flight, return_when=FIRST_COMPLETED)
            for future in done:
                path = in_flight.pop(future)
                try:
                    result, note = future.result()
                except Exception as e:  # noqa: BLE001 - the file's failure is its result
                    yield path, e
                    continue
                if note:
                    warnings.warn(f"{_fspath(path)}: {note}", RecoveryWarning, stacklevel=2)
                yield path, result
    finally:
        for future in in_flight:
            future.cancel()
        if owned and pool is not None:
            # On a normal end nothing is left in flight and this returns at
            # once; when the caller stops early, don't wait for running files.
            pool.shutdown(wait=not in_flight, cancel_futures=True)
