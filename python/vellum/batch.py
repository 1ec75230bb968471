"""Converting many PDF files at once on a pool of worker processes or on any
concurrent.futures executor.

Work is shipped as paths, not bytes: each worker opens and reads its own file,
so the parent never holds more than a few files' results at a time, and an
executor that runs elsewhere (a Dask or Ray cluster) needs the paths to be
readable on its workers, for example on a shared file system. The native
functions hold the interpreter lock for a whole file, so threads bring no
speed-up; processes do.

Only a bounded number of files is in flight at once (`max_pending`), so a
huge or endless iterable of paths costs constant memory and results stream
out as they finish, in completion order. A file that cannot be read or
parsed yields its exception (OSError, ValueError, ...) in place of a result
instead of raising it, so one bad file does not end the batch. Exceptions
that are not `Exception`s (vellum.InternalError, KeyboardInterrupt) still
propagate. A damaged file that was read by recovery issues its
vellum.RecoveryWarning in the caller's process, as "path: message", just
before its result is yielded, so the usual `warnings` filters apply. When a worker of the pool that convert_many owns dies (a fault in
native code kills the whole process), the files in flight at that moment fail
with BrokenProcessPool and the rest of the batch goes on in a new pool.
"""

from __future__ import annotations

import os
import signal
import warnings
from concurrent.futures import FIRST_COMPLETED, Executor, Future, ProcessPoolExecutor, wait
from concurrent.futures.process import BrokenProcessPool
from typing import (
    TYPE_CHECKING,
    Any,
    Callable,
    Dict,
    Iterable,
    Iterator,
    List,
    Literal,
    Optional,
    Tuple,
    TypeVar,
    Union,
    overload,
)

from ._vellum import RecoveryWarning, parse, parse_to_html, parse_to_json, parse_to_markdown

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


def convert_file(path: str, format: str = "markdown", password: Optional[str] = None, *, strict: bool = False) -> Any:
    """Read one PDF file and return its rendering.

    Raises what reading or parsing raises (OSError, ValueError).
    """
    renderer = _RENDERERS[format]
    with open(path, "rb") as f:
        data = f.read()
    return renderer(data, password, strict=strict)


def _convert_recording(path: str, format: str, password: Optional[str], strict: bool) -> Tuple[Any, List[str]]:
    """convert_file in a worker: the result and the RecoveryWarning messages,
    which the parent issues again (a worker process's warnings are lost)."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", RecoveryWarning)
        result = convert_file(path, format, password, strict=strict)
    notes = [str(w.message) for w in caught if issubclass(w.category, RecoveryWarning)]
    return result, notes


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


def _new_pool(jobs: int) -> Executor:
    if jobs == 1:
        return InlineExecutor()
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
) -> Iterator[Tuple[PathT, Any]]:
    """Convert PDF files in parallel; yield (path, result) as each file finishes.

    `format` is "markdown", "json" or "html" (the result is a str) or "dict"
    (the result is the dict of vellum.parse). A file that fails yields the
    exception it raised (ValueError for a broken PDF, OSError for an
    unreadable file) as its result. Paths come back as given.

    By default the work runs on a pool of `jobs` worker processes (default:
    os.cpu_count(); 1 runs everything in the calling thread) that lives as
    long as the iteration. Any concurrent.futures.Executor may be passed
    instead, for example a Dask client's `client.get_executor()`; it is not
    shut down afterwards, and its workers must be able to import vellum and
    read the paths. At most `max_pending` files are in flight at once
    (default: twice the number of jobs, or 4 × os.cpu_count() with a given
    executor).

    Damaged files are read by recovery and issue a vellum.RecoveryWarning
    ("path: what was repaired") as their result is yielded; `strict=True`
    makes them fail with the ValueError of strict reading instead.

    Arguments are checked here, before anything runs: an unknown format
    raises ValueError, a password that is not a str or None raises
    TypeError, a jobs or max_pending below 1 raises ValueError.
    """
    if format not in _RENDERERS:
        raise ValueError(f"format must be one of {', '.join(FORMATS)}, not {format!r}")
    if password is not None and not isinstance(password, str):
        raise TypeError(f"password must be a str or None, not {type(password).__name__}")
    for name, value in (("jobs", jobs), ("max_pending", max_pending)):
        if value is not None and (not isinstance(value, int) or value < 1):
            raise ValueError(f"{name} must be a positive integer, not {value!r}")
    if executor is not None:
        window = max_pending or 4 * _default_jobs()
        return _run(iter(paths), (format, password, bool(strict)), executor, None, window)
    pool_size = jobs or _default_jobs()
    return _run(iter(paths), (format, password, bool(strict)), None, pool_size, max_pending or 2 * pool_size)


def _run(
    paths: Iterator[PathT],
    options: Tuple[str, Optional[str], bool],  # format, password, strict
    executor: Optional[Executor],
    pool_size: Optional[int],
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
                    assert pool_size is not None
                    pool = _new_pool(pool_size)
                try:
                    future = pool.submit(_convert_recording, _fspath(path), *options)
                except BrokenProcessPool:
                    if not owned:
                        raise
                    # The owned pool lost a worker: the files in flight fail
                    # (their futures say so), the rest go to a fresh pool.
                    pool.shutdown(wait=False)
                    assert pool_size is not None
                    pool = _new_pool(pool_size)
                    future = pool.submit(_convert_recording, _fspath(path), *options)
                in_flight[future] = path
            if not in_flight:
                return
            done, _ = wait(in_flight, return_when=FIRST_COMPLETED)
            for future in done:
                path = in_flight.pop(future)
                try:
                    result, notes = future.result()
                except Exception as e:  # noqa: BLE001 - the file's failure is its result
                    yield path, e
                    continue
                for note in notes:
                    warnings.warn(f"{_fspath(path)}: {note}", RecoveryWarning, stacklevel=2)
                yield path, result
    finally:
        for future in in_flight:
            future.cancel()
        if owned and pool is not None:
            # On a normal end nothing is left in flight and this returns at
            # once; when the caller stops early, don't wait for running files.
            pool.shutdown(wait=not in_flight, cancel_futures=True)
