#!/usr/bin/env python3
"""Benchmark vellum's text extraction against peer PDF libraries.

One run measures every library on the same files and writes a Markdown
report: wall time, pages per second, peak resident memory and the ratio of
each peer's time to vellum's.

How it measures:

* Timing: each library runs in its own worker process (this script with
  --worker) that loops over the files with the file bytes already in memory:
  a warm-up extraction, then up to --reps timed extractions, of which the
  median is kept. Repetitions stop early once a file has used --budget
  seconds, so a slow peer still finishes. The parent enforces a per-run
  timeout (--timeout); a timed-out or crashed worker is killed and restarted
  at the next file, which marks the file failed for that library.
* Peak memory: a fresh process per (library, file) that imports the library,
  extracts the file once and exits; its ru_maxrss comes from wait4, so it
  covers exactly that child. The same is measured for an import alone.
* Files: every file of ../shared/corpus/files (relative to the repository;
  user passwords from manifest.json) plus the two generated documents
  (bench/gen_docs.py, created on first use). A file that any peer fails on is
  excluded from the comparison and listed with the reason; a vellum failure on
  a file the peers read is listed separately.

    python bench/compare.py --quick            # a few files, 1 repetition
    python bench/compare.py --out bench/results/latest.md
"""

from __future__ import annotations

import argparse
import datetime
import functools
import io
import json
import math
import os
import platform
import selectors
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Dict, List, Optional, Tuple

HERE = Path(__file__).resolve().parent
REPO = HERE.parent
CORPUS = REPO.parent / "shared" / "corpus"

# Library keys in report order; REFERENCE is what the ratios divide by.
LIBRARIES = ["vellum-md", "vellum-parse", "pymupdf", "pypdfium2", "pdftotext", "pypdf", "pdfminer"]
REFERENCE = "vellum-md"
VELLUM = ("vellum-md", "vellum-parse")
PEERS = [lib for lib in LIBRARIES if lib not in VELLUM]
LABELS = {
    "vellum-md": "vellum parse_to_markdown",
    "vellum-parse": "vellum parse",
    "pymupdf": "PyMuPDF get_text",
    "pypdfium2": "pypdfium2 text page",
    "pdftotext": "pdftotext",
    "pypdf": "pypdf extract_text",
    "pdfminer": "pdfminer.six extract_text",
}

SHORT = {"vellum-md": "vellum", "vellum-parse": "vellum", "pymupdf": "PyMuPDF", "pypdfium2": "pypdfium2",
         "pdftotext": "pdftotext", "pypdf": "pypdf", "pdfminer": "pdfminer.six"}

QUICK_FILES = [
    "libreoffice64-writer-trivial.pdf",
    "excel2013-energy-table.pdf",
    "enc-r4-aes128-cpdf.pdf",
    "itext-federal-register-15-pages.pdf",
    "openoffice31-writer-55-pages.pdf",
    "imagemagick-lzw-image.pdf",
]


# ------------------------------------------------------------------ extractors
#
# Each extractor takes (path, data, password) and returns (pages, characters
# of text), raising on failure. `password` is None for unencrypted files.

def _vellum_markdown() -> Callable:
    import vellum

    def run(path: str, data: bytes, password: Optional[str]) -> Tuple[Optional[int], int]:
        return None, len(vellum.parse_to_markdown(data, password))

    return run


def _vellum_parse() -> Callable:
    import vellum

    def run(path: str, data: bytes, password: Optional[str]) -> Tuple[Optional[int], int]:
        doc = vellum.parse(data, password)
        pages = doc["pages"]
        return len(pages), sum(len(line["text"]) + 1 for page in pages for line in page["lines"])

    return run


def _pymupdf() -> Callable:
    # Where the optional pymupdf_layout add-on is installed, importing pymupdf
    # loads its ONNX model (about 100 MB). get_text() never uses it, so keep
    # it out of both the timing and the memory figures.
    sys.modules.setdefault("pymupdf.layout", None)
    try:
        import pymupdf
    except ImportError:  # releases before the module was renamed
        import fitz as pymupdf

    def run(path: str, data: bytes, password: Optional[str]) -> Tuple[Optional[int], int]:
        doc = pymupdf.open(stream=data, filetype="pdf")
        try:
            if doc.needs_pass and not doc.authenticate(password or ""):
                raise ValueError("password rejected")
            chars = 0
            for page in doc:
                chars += len(page.get_text())
            return doc.page_count, chars
        finally:
            doc.close()

    return run


def _pypdfium2() -> Callable:
    import pypdfium2

    def run(path: str, data: bytes, password: Optional[str]) -> Tuple[Optional[int], int]:
        pdf = pypdfium2.PdfDocument(data, password=password or None)
        try:
            chars = 0
            for index in range(len(pdf)):
                page = pdf[index]
                textpage = page.get_textpage()
                chars += len(textpage.get_text_range())
                textpage.close()
                page.close()
            return len(pdf), chars
        finally:
            pdf.close()

    return run


def _pdftotext() -> Callable:
    def run(path: str, data: bytes, password: Optional[str]) -> Tuple[Optional[int], int]:
        cmd = ["pdftotext", "-enc", "UTF-8"]
        if password:
            cmd += ["-upw", password]
        done = subprocess.run(cmd + [path, "-"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if done.returncode != 0:
            raise RuntimeError(f"exit {done.returncode}: {_last_line(done.stderr.decode('utf-8', 'replace'))}")
        text = done.stdout.decode("utf-8", "replace")
        return text.count("\f") or None, len(text) - text.count("\f")

    return run


def _pypdf() -> Callable:
    import logging

    import pypdf

    logging.getLogger("pypdf").setLevel(logging.ERROR)

    def run(path: str, data: bytes, password: Optional[str]) -> Tuple[Optional[int], int]:
        reader = pypdf.PdfReader(io.BytesIO(data))
        if reader.is_encrypted and not reader.decrypt(password or ""):
            raise ValueError("password rejected")
        chars = 0
        for page in reader.pages:
            chars += len(page.extract_text())
        return len(reader.pages), chars

    return run


def _pdfminer() -> Callable:
    import logging

    from pdfminer.high_level import extract_text

    logging.getLogger("pdfminer").setLevel(logging.ERROR)

    def run(path: str, data: bytes, password: Optional[str]) -> Tuple[Optional[int], int]:
        text = extract_text(io.BytesIO(data), password=password or "")
        return text.count("\f") or None, len(text) - text.count("\f")

    return run


EXTRACTORS: Dict[str, Callable[[], Callable]] = {
    "vellum-md": _vellum_markdown,
    "vellum-parse": _vellum_parse,
    "pymupdf": _pymupdf,
    "pypdfium2": _pypdfium2,
    "pdftotext": _pdftotext,
    "pypdf": _pypdf,
    "pdfminer": _pdfminer,
}


def library_version(lib: str) -> str:
    try:
        if lib == "pdftotext":
            out = subprocess.run(["pdftotext", "-v"], capture_output=True, text=True).stderr
            return out.split("\n", 1)[0].replace("pdftotext version ", "")
        from importlib import metadata

        dist = {"vellum-md": "vellum", "vellum-parse": "vellum", "pdfminer": "pdfminer.six"}.get(lib, lib)
        return metadata.version(dist)
    except Exception:  # a missing library shows up in the results as failures
        return "not installed"


@functools.lru_cache(maxsize=None)
def _repo_commit() -> Optional[str]:
    """The checked-out commit, marked when the working tree has changes (read-only git calls)."""
    try:
        sha = subprocess.run(["git", "-C", str(REPO), "rev-parse", "--short", "HEAD"], capture_output=True,
                             text=True, check=True).stdout.strip()
        dirty = subprocess.run(["git", "-C", str(REPO), "status", "--porcelain", "--untracked-files=no"],
                               capture_output=True, text=True).stdout.strip()
        return sha + (" with uncommitted changes" if dirty else "")
    except (OSError, subprocess.CalledProcessError):
        return None


def _last_line(text: str) -> str:
    lines = [line for line in text.strip().splitlines() if line.strip()]
    return lines[-1][:200] if lines else ""


def _describe(exc: BaseException) -> str:
    message = " ".join(str(exc).split())
    return f"{type(exc).__name__}: {message}"[:200]


# ---------------------------------------------------------------- child modes

def worker_main(lib: str, jobs_path: str, start: int, warmup: int, reps: int, budget: float) -> None:
    """Time `lib` on jobs[start:], one JSON event per line on the protocol fd."""
    # Keep our protocol on a private descriptor: libraries that print to
    # stdout would otherwise corrupt it.
    proto = os.fdopen(os.dup(1), "w", buffering=1)
    os.dup2(2, 1)

    def emit(**event) -> None:
        proto.write(json.dumps(event) + "\n")

    jobs = json.loads(Path(jobs_path).read_text())
    try:
        extract = EXTRACTORS[lib]()
    except Exception as exc:  # not installed: every file fails the same way
        for index in range(start, len(jobs)):
            emit(event="done", index=index, error=_describe(exc))
        return
    for index in range(start, len(jobs)):
        job = jobs[index]
        emit(event="begin", index=index)
        data = Path(job["path"]).read_bytes()
        try:
            times: List[float] = []
            for _ in range(warmup):
                begin = time.perf_counter()
                pages, chars = extract(job["path"], data, job["password"])
                elapsed = time.perf_counter() - begin
                emit(event="tick", index=index)
                if elapsed > budget:
                    # warm-up effects are lost in a run this long: keep it
                    # as the measurement rather than spend the time again
                    times.append(elapsed)
                    break
            used = sum(times)
            while len(times) < max(1, reps) and (not times or used < budget):
                begin = time.perf_counter()
                pages, chars = extract(job["path"], data, job["password"])
                times.append(time.perf_counter() - begin)
                used += times[-1]
                emit(event="tick", index=index)
            emit(event="done", index=index, times=times, pages=pages, chars=chars)
        except Exception as exc:
            emit(event="done", index=index, error=_describe(exc))


def rss_main(lib: str, path: Optional[str], password: Optional[str]) -> None:
    """Import `lib`, extract `path` once (nothing when absent), exit 0 or 1."""
    os.dup2(2, 1)
    extract = EXTRACTORS[lib]()
    if path is None:
        return
    data = Path(path).read_bytes()
    try:
        extract(path, data, password)
    except Exception as exc:
        print(_describe(exc), file=sys.stderr)
        sys.exit(1)


# ---------------------------------------------------------------- parent side

@dataclass
class Job:
    name: str
    path: str
    password: Optional[str]
    pages: Optional[int]  # from the manifest; None for generated files


@dataclass
class Outcome:
    times: List[float] = field(default_factory=list)
    pages: Optional[int] = None
    chars: Optional[int] = None
    error: Optional[str] = None
    rss_kb: Optional[int] = None
    rss_error: Optional[str] = None

    @property
    def median(self) -> Optional[float]:
        return statistics.median(self.times) if self.times and not self.error else None


def read_events(proc: subprocess.Popen, timeout: float):
    """Yield decoded JSON events; yield None when `timeout` passes without one."""
    selector = selectors.DefaultSelector()
    selector.register(proc.stdout, selectors.EVENT_READ)
    buffer = b""
    try:
        while True:
            if not selector.select(timeout):
                yield None
                return
            chunk = os.read(proc.stdout.fileno(), 65536)
            if not chunk:
                return
            buffer += chunk
            while b"\n" in buffer:
                line, buffer = buffer.split(b"\n", 1)
                yield json.loads(line)
    finally:
        selector.close()


def time_library(lib: str, jobs: List[Job], args, log) -> Dict[int, Outcome]:
    """Run the timing worker for `lib`, restarting it after a timeout or crash."""
    results: Dict[int, Outcome] = {}
    with tempfile.TemporaryDirectory() as tmp:
        jobs_path = Path(tmp) / "jobs.json"
        jobs_path.write_text(json.dumps([{"path": j.path, "password": j.password} for j in jobs]))
        start = 0
        while start < len(jobs):
            stderr_path = Path(tmp) / f"stderr-{start}.txt"
            with open(stderr_path, "wb") as stderr:
                proc = subprocess.Popen(
                    [sys.executable, __file__, "--worker", lib, "--jobs", str(jobs_path), "--start", str(start),
                     "--warmup", str(args.warmup), "--reps", str(args.reps), "--budget", str(args.budget)],
                    stdout=subprocess.PIPE, stderr=stderr, stdin=subprocess.DEVNULL)
                current = start
                timed_out = False
                for event in read_events(proc, args.timeout):
                    if event is None:
                        timed_out = True
                        break
                    current = event["index"]
                    if event["event"] != "done":
                        continue
                    results[current] = Outcome(times=event.get("times", []), pages=event.get("pages"),
                                               chars=event.get("chars"), error=event.get("error"))
                    log(f"  {lib:<13} {jobs[current].name:<48} {_status(results[current])}")
                    current += 1
                if timed_out:
                    proc.kill()
                proc.wait()
                proc.stdout.close()
            if current >= len(jobs):
                break
            if timed_out:
                reason = f"timeout: no run finished within {args.timeout:g} s"
            else:
                tail = _last_line(stderr_path.read_text("utf-8", "replace"))
                reason = f"crash: {_exit_text(proc.returncode)}" + (f" ({tail})" if tail else "")
            results[current] = Outcome(error=reason[:200])
            log(f"  {lib:<13} {jobs[current].name:<48} {reason}")
            start = current + 1
    return results


def _exit_text(code: int) -> str:
    if code < 0:
        try:
            return f"killed by {signal.Signals(-code).name}"
        except ValueError:
            return f"killed by signal {-code}"
    return f"exit status {code}"


def _status(outcome: Outcome) -> str:
    if outcome.error:
        return "FAIL " + outcome.error
    return f"{outcome.median * 1000:9.1f} ms  ({len(outcome.times)} runs)"


TIME_TOOL = "/usr/bin/time"


def measure_rss(lib: str, job: Optional[Job], timeout: float) -> Tuple[Optional[int], Optional[str]]:
    """Peak RSS in KiB of one process that extracts `job` once (import only when None).

    The child runs under /usr/bin/time, whose own footprint is small: on
    Linux a process's ru_maxrss starts from the footprint of the process that
    forked it, so a child forked by this interpreter could never report less
    than the interpreter itself. Without /usr/bin/time, wait4 is used and
    that floor applies.
    """
    if lib == "pdftotext":
        if job is None:
            return None, None
        cmd = ["pdftotext", "-enc", "UTF-8"] + (["-upw", job.password] if job.password else []) + [job.path, "-"]
    else:
        cmd = [sys.executable, __file__, "--rss", lib]
        if job is not None:
            cmd += ["--file", job.path] + (["--password", job.password] if job.password is not None else [])
    with tempfile.TemporaryDirectory() as tmp:
        report = Path(tmp) / "maxrss"
        use_time = os.access(TIME_TOOL, os.X_OK)
        if use_time:
            cmd = [TIME_TOOL, "-f", "%M", "-o", str(report)] + cmd
        # stderr goes to a file: a chatty child must not block on a full pipe
        with open(Path(tmp) / "stderr", "w+b") as stderr_file:
            proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=stderr_file, stdin=subprocess.DEVNULL,
                                    start_new_session=True)
            deadline = time.monotonic() + timeout
            error = None
            while True:
                pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
                if pid:
                    break
                if time.monotonic() > deadline:
                    os.killpg(proc.pid, signal.SIGKILL)  # the session we created: the tool and its child
                    pid, status, usage = os.wait4(proc.pid, 0)
                    error = f"timeout after {timeout:g} s"
                    break
                time.sleep(0.01)
            proc.returncode = os.waitstatus_to_exitcode(status)  # reaped here, not by Popen
            stderr_file.seek(0)
            stderr = stderr_file.read().decode("utf-8", "replace")
        maxrss = usage.ru_maxrss  # KiB on Linux
        if use_time and report.exists():
            values = [line for line in report.read_text().split() if line.isdigit()]
            maxrss = int(values[-1]) if values else None
    if error is None and proc.returncode != 0:
        error = f"{_exit_text(proc.returncode)}: {_last_line(stderr)}"[:200]
    return maxrss, error


# ------------------------------------------------------------------ the files

def corpus_jobs(quick: bool) -> Tuple[List[Job], List[Tuple[str, str]]]:
    files_dir = CORPUS / "files"
    if not files_dir.is_dir():
        return [], []
    manifest = {}
    manifest_path = CORPUS / "manifest.json"
    if manifest_path.exists():
        manifest = {record["file"]: record for record in json.loads(manifest_path.read_text())}
    jobs: List[Job] = []
    skipped: List[Tuple[str, str]] = []
    for path in sorted(files_dir.glob("*.pdf")):
        record = manifest.get(path.name, {})
        if quick and path.name not in QUICK_FILES:
            continue
        encryption = record.get("encryption")
        password = None
        if encryption:
            password = encryption.get("user_password")
            if password is None:
                skipped.append((path.name, "encrypted, no user password known"))
                continue
        jobs.append(Job(path.name, str(path), password, record.get("pages")))
    return jobs, skipped


def generated_jobs(out_dir: Path) -> List[Job]:
    sys.path.insert(0, str(HERE))
    import gen_docs

    paths = gen_docs.generate(out_dir)
    pages = {gen_docs.TEXT_NAME: gen_docs.TEXT_PAGES, gen_docs.SCAN_NAME: gen_docs.SCAN_PAGES}
    return [Job(name, str(path), None, pages[name]) for name, path in paths.items()]


# ------------------------------------------------------------------ reporting

def geomean(values: List[float]) -> Optional[float]:
    values = [v for v in values if v and v > 0]
    if not values:
        return None
    return math.exp(sum(math.log(v) for v in values) / len(values))


def fmt_ms(seconds: Optional[float]) -> str:
    if seconds is None:
        return "–"
    ms = seconds * 1000
    return f"{ms:.0f}" if ms >= 100 else f"{ms:.1f}" if ms >= 1 else f"{ms:.2f}"


def fmt_ratio(value: Optional[float]) -> str:
    return "–" if value is None else f"{value:.2f}×"


def fmt_mb(kib: Optional[int]) -> str:
    return "–" if kib is None else f"{kib / 1024:.0f}"


def table(header: List[str], rows: List[List[str]], align_left: int = 1) -> List[str]:
    out = ["| " + " | ".join(header) + " |",
           "| " + " | ".join([":--"] * align_left + ["--:"] * (len(header) - align_left)) + " |"]
    out += ["| " + " | ".join(row) + " |" for row in rows]
    return out


def page_count(job: Job, results: Dict[str, Dict[int, Outcome]], index: int) -> Optional[int]:
    if job.pages:
        return job.pages
    for lib in ("pymupdf", "pypdfium2", "vellum-parse", "pypdf"):
        outcome = results.get(lib, {}).get(index)
        if outcome and outcome.pages:
            return outcome.pages
    return None


def build_report(jobs: List[Job], libs: List[str], results: Dict[str, Dict[int, Outcome]],
                 import_rss: Dict[str, Optional[int]], skipped: List[Tuple[str, str]], args,
                 started: datetime.datetime, load: Tuple[float, float]) -> str:
    peers = [lib for lib in libs if lib in PEERS]
    vellum_libs = [lib for lib in libs if lib in VELLUM]
    excluded: List[Tuple[str, str, str]] = []
    vellum_failures: List[Tuple[str, str, str]] = []
    included: List[int] = []
    for index, job in enumerate(jobs):
        failed = [(lib, results[lib][index].error) for lib in peers if results[lib][index].error]
        if failed:
            excluded += [(job.name, lib, error) for lib, error in failed]
            continue
        included.append(index)
        vellum_failures += [(job.name, lib, results[lib][index].error) for lib in vellum_libs if results[lib][index].error]
    excluded += [(name, "all", reason) for name, reason in skipped]

    def median(lib: str, index: int) -> Optional[float]:
        return results[lib][index].median

    def ratio(lib: str, index: int) -> Optional[float]:
        own, ref = median(lib, index), median(REFERENCE, index) if REFERENCE in libs else None
        return own / ref if own and ref else None

    pages = {index: page_count(jobs[index], results, index) for index in included}
    lines = [
        "# vellum against peer libraries: text extraction",
        "",
        f"Run {started:%Y-%m-%d %H:%M} on {platform.machine()} Linux, {os.cpu_count()} cores, "
        f"Python {platform.python_version()}; load average {load[0]:.1f} at the start, {load[1]:.1f} at the end "
        "(other work shared the machine, so times are noisy).",
        f"Wall time is the median of {args.reps} run(s) after {args.warmup} warm-up run(s), fewer when a file "
        f"passed the {args.budget:g} s budget; per-run timeout {args.timeout:g} s. "
        "Ratios are the library's time divided by vellum parse_to_markdown's on the same file: "
        "above 1× vellum is faster.",
        "",
        "Versions: " + ", ".join(f"{SHORT[lib]} {library_version(lib)}" for lib in libs if lib != "vellum-parse")
        + (f"; repository at {_repo_commit()}." if _repo_commit() else "."),
        "",
        "## Summary",
        "",
        f"{len(included)} files in the comparison ({sum(p or 0 for p in pages.values())} pages); "
        f"{len(set(name for name, _, _ in excluded))} excluded (a peer failed, see below).",
        "",
    ]
    summary_rows = []
    for lib in libs:
        ratios = [ratio(lib, i) for i in included]
        ok = [i for i in included if median(lib, i) is not None]
        rss_ratios = []
        for i in ok:
            own, ref = results[lib][i].rss_kb, results.get(REFERENCE, {}).get(i, Outcome()).rss_kb
            if own and ref and not results[lib][i].rss_error and not results[REFERENCE][i].rss_error:
                rss_ratios.append(own / ref)
        total_pages = sum(pages[i] or 0 for i in ok)
        total_time = sum(median(lib, i) for i in ok)
        peak = max((results[lib][i].rss_kb or 0 for i in ok), default=0) or None
        summary_rows.append([
            LABELS[lib], str(len(ok)), fmt_ratio(geomean([r for r in ratios if r])),
            f"{total_time:.2f}" if total_time >= 1 else f"{total_time:.3f}", f"{total_pages / total_time:.0f}" if total_time else "–",
            fmt_ratio(geomean(rss_ratios)), fmt_mb(peak), fmt_mb(import_rss.get(lib)),
        ])
    lines += table(["library", "files", "time ratio (geomean)", "total time (s)", "pages/s overall",
                    "peak RSS ratio (geomean)", "max peak RSS (MB)", "RSS after import (MB)"], summary_rows)
    lines += ["", "Peak RSS is the maximum resident set of a whole process (from /usr/bin/time): the interpreter "
              "and the imported library count (see \"RSS after import\"); pdftotext is a native process. "
              "The RSS ratio divides by vellum parse_to_markdown's peak on the same file.", ""]

    lines += ["## Wall time per file (ms; ratio to vellum parse_to_markdown)", ""]
    rows = []
    for i in included:
        row = [jobs[i].name, str(pages[i] or "?")]
        for lib in libs:
            outcome = results[lib][i]
            if outcome.error:
                row.append("fail")
            elif lib == REFERENCE:
                row.append(fmt_ms(outcome.median))
            else:
                row.append(f"{fmt_ms(outcome.median)} ({fmt_ratio(ratio(lib, i))})")
        rows.append(row)
    lines += table(["file", "pages"] + [LABELS[lib] for lib in libs], rows) + [""]

    lines += ["## Pages per second", ""]
    rows = []
    for i in included:
        row = [jobs[i].name]
        for lib in libs:
            m = median(lib, i)
            row.append(f"{pages[i] / m:.0f}" if m and pages[i] else "–")
        rows.append(row)
    lines += table(["file"] + [LABELS[lib] for lib in libs], rows) + [""]

    if not args.no_rss:
        lines += ["## Peak RSS (MB, one process extracting the file once)", ""]
        rows = []
        for i in included:
            row = [jobs[i].name]
            for lib in libs:
                outcome = results[lib][i]
                row.append("fail" if outcome.rss_error else fmt_mb(outcome.rss_kb))
            rows.append(row)
        lines += table(["file"] + [LABELS[lib] for lib in libs], rows) + [""]

    lines += ["## Text extracted (characters, a sanity check, not a quality measure)", ""]
    rows = []
    for i in included:
        rows.append([jobs[i].name] + ["–" if results[lib][i].error or results[lib][i].chars is None
                                      else str(results[lib][i].chars) for lib in libs])
    lines += table(["file"] + [LABELS[lib] for lib in libs], rows) + [""]

    if "pymupdf" in libs and REFERENCE in libs:
        slow = [(jobs[i].name, median(REFERENCE, i), median("pymupdf", i)) for i in included
                if median(REFERENCE, i) and median("pymupdf", i) and median(REFERENCE, i) > median("pymupdf", i)]
        lines += ["## Files where vellum is slower than PyMuPDF", ""]
        if slow:
            lines += table(["file", "vellum parse_to_markdown (ms)", "PyMuPDF (ms)", "vellum / PyMuPDF"],
                           [[n, fmt_ms(v), fmt_ms(p), fmt_ratio(v / p)] for n, v, p in sorted(slow, key=lambda s: -s[1] / s[2])])
        else:
            lines.append("None.")
        lines.append("")

    lines += ["## vellum failures on files the peers read", ""]
    lines += table(["file", "function", "error"], [[n, LABELS[lib], e] for n, lib, e in vellum_failures]) if vellum_failures else ["None."]
    lines += ["", "## Excluded files", "", "A file is left out when a peer fails on it (error, crash or timeout).", ""]
    if excluded:
        lines += table(["file", "library", "reason"],
                       [[n, LABELS.get(lib, lib), e.replace("|", "\\|")] for n, lib, e in excluded])
        vellum_on_excluded = []
        for index, job in enumerate(jobs):
            if index not in included:
                state = ", ".join(f"{LABELS[lib]}: {'fail' if results[lib][index].error else 'ok'}" for lib in vellum_libs)
                vellum_on_excluded.append([job.name, state])
        if vellum_on_excluded:
            lines += ["", "vellum on the excluded files:", ""]
            lines += table(["file", "vellum"], vellum_on_excluded)
    else:
        lines.append("None.")
    return "\n".join(lines) + "\n"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="a few files, 1 repetition, no warm-up")
    parser.add_argument("--out", type=Path, help="also write the report here (e.g. bench/results/latest.md)")
    parser.add_argument("--libs", default=",".join(LIBRARIES), help="comma-separated subset of: " + ",".join(LIBRARIES))
    parser.add_argument("--match", help="only files whose name contains this text")
    parser.add_argument("--reps", type=int, default=5, help="timed runs per file (median kept)")
    parser.add_argument("--warmup", type=int, default=1, help="untimed runs before the timed ones")
    parser.add_argument("--budget", type=float, default=60.0, help="stop repeating a file after this many seconds")
    parser.add_argument("--timeout", type=float, default=300.0, help="seconds one extraction may take")
    parser.add_argument("--no-rss", action="store_true", help="skip the peak-memory processes")
    parser.add_argument("--generated", type=Path, default=HERE / "generated", help="where the generated documents live")
    parser.add_argument("--worker", help=argparse.SUPPRESS)
    parser.add_argument("--rss", help=argparse.SUPPRESS)
    parser.add_argument("--jobs", help=argparse.SUPPRESS)
    parser.add_argument("--start", type=int, default=0, help=argparse.SUPPRESS)
    parser.add_argument("--file", help=argparse.SUPPRESS)
    parser.add_argument("--password", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.worker:
        return worker_main(args.worker, args.jobs, args.start, args.warmup, args.reps, args.budget)
    if args.rss:
        return rss_main(args.rss, args.file, args.password)

    if args.quick:
        args.reps, args.warmup = 1, 0
    libs = [lib.strip() for lib in args.libs.split(",") if lib.strip()]
    unknown = [lib for lib in libs if lib not in EXTRACTORS]
    if unknown:
        parser.error(f"unknown libraries: {', '.join(unknown)}")

    def log(message: str) -> None:
        print(message, file=sys.stderr, flush=True)

    started = datetime.datetime.now()
    load_start = os.getloadavg()[0]
    jobs, skipped = corpus_jobs(args.quick)
    if not jobs:
        log(f"corpus not found at {CORPUS}: only the generated documents are measured")
    jobs += generated_jobs(args.generated)
    if args.match:
        jobs = [job for job in jobs if args.match in job.name]
    log(f"{len(jobs)} files, libraries: {', '.join(libs)}")

    results: Dict[str, Dict[int, Outcome]] = {}
    for lib in libs:
        log(f"timing {lib}")
        results[lib] = time_library(lib, jobs, args, log)
    import_rss: Dict[str, Optional[int]] = {}
    if not args.no_rss:
        for lib in libs:
            log(f"peak memory {lib}")
            import_rss[lib], _ = measure_rss(lib, None, args.timeout)
            for index, job in enumerate(jobs):
                outcome = results[lib][index]
                if outcome.error:
                    continue
                outcome.rss_kb, outcome.rss_error = measure_rss(lib, job, args.timeout)

    report = build_report(jobs, libs, results, import_rss, skipped, args, started, (load_start, os.getloadavg()[0]))
    print(report)
    if args.out:
        args.out.parent.mkdir(parents=True, exist_ok=True)
        args.out.write_text(report)
        log(f"wrote {args.out}")


if __name__ == "__main__":
    main()
