"""The `vellum` command: convert PDF files to Markdown, JSON or HTML.

One input file without --output prints its rendering to standard output (the
original single-file behaviour). Otherwise every input is written below the
--output directory, converted on a pool of threads (vellum.batch):
a plain file argument becomes DIR/<name>.<ext>, a file found in a directory
argument keeps its path relative to that directory. A file that fails is
reported on standard error as "path: reason" and the batch goes on; a summary
"N converted, M failed" ends the run.

Two inputs that would write the same output file are not both converted: the
first (in argument order) wins and the second is reported as failed, so no
output is silently overwritten by another. Output files are written under a
temporary name and renamed, so an interrupted run leaves no truncated file.

--pages selects pages by 1-based number ("1-5,9"), as pdftotext's -f and -l
count them; --info prints a file's page count, metadata and outline as JSON.

A damaged file that vellum reads by rebuilding its cross-reference table is
converted, with a note "path: note: what was repaired" on standard error; it
does not count as failed. --strict makes such files fail instead.

Exit status: 0 when every file was converted, 1 when some failed, 2 for a
usage error, 130 when interrupted.
"""

from __future__ import annotations

import argparse
import importlib
import json
import os
import sys
import tempfile
import warnings
from pathlib import Path
from typing import IO, Any, Dict, Iterable, List, Literal, Optional, Sequence, Tuple

from . import RecoveryWarning, __version__, info, parse_to_html, parse_to_json, parse_to_markdown
from .batch import convert_file, convert_many

TextFormat = Literal["markdown", "json", "html"]

RENDERERS = {"markdown": parse_to_markdown, "json": parse_to_json, "html": parse_to_html}
EXTENSIONS = {"markdown": ".md", "json": ".json", "html": ".html"}

EPILOG = """\
inputs:
  A FILE argument is converted whatever its name; a directory is searched
  recursively for files whose names end in .pdf (any case), in sorted order.
  Without --output there must be exactly one input file, printed to standard
  output. With --output DIR, each input is written to DIR: a file argument to
  DIR/<name>.md (.json, .html), a file found in a directory argument to the
  same relative path below DIR, directories created as needed.

progress and errors:
  A run of several files shows a progress bar on standard error when that is
  a terminal (tqdm when installed: pip install "vellum[progress]"; a plain
  counter otherwise). A file that cannot be read or converted is reported on
  standard error as "path: reason" and does not stop the others; the run ends
  with "N converted, M failed". A damaged file read by rebuilding its
  cross-reference table is converted with a note "path: note: ..." on
  standard error (--strict: it fails instead).

pages:
  --pages takes page numbers counted from 1 and ranges of them, separated by
  commas: "1-5,9" is the first five pages and the ninth, "3,1" the third and
  then the first. A file that lacks one of the pages fails.

exit status:
  0 all files converted, 1 some failed, 2 usage error, 130 interrupted.
"""


def positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"invalid positive integer: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"invalid positive integer: {text!r}")
    return value


# A range longer than this is refused before any file is read: it would
# only list pages no document has.
MAX_PAGE_SELECTION = 1_000_000


def page_list(text: str) -> List[int]:
    """ "1-5,9" -> [0, 1, 2, 3, 4, 8]: 1-based numbers and ranges to 0-based indices."""
    indices: List[int] = []
    for part in text.split(","):
        first, dash, last = part.strip().partition("-")
        try:
            start = int(first)
            end = int(last) if dash else start
        except ValueError:
            raise argparse.ArgumentTypeError(f"invalid page list: {text!r} (expected numbers and ranges like 1-5,9)") from None
        if start < 1 or end < start:
            raise argparse.ArgumentTypeError(f"invalid page range {part.strip()!r}: pages count from 1, ranges go upwards")
        if len(indices) + end - start + 1 > MAX_PAGE_SELECTION:
            raise argparse.ArgumentTypeError(f"page list too long: more than {MAX_PAGE_SELECTION:,} pages")
        indices.extend(range(start - 1, end))
    return indices


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="vellum",
        description="Extract the text, tables and images of PDF files as Markdown, JSON or HTML.",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("inputs", metavar="FILE", nargs="+", help="a PDF file, or a directory to search for PDF files")
    parser.add_argument("--format", choices=list(RENDERERS), default="markdown", help="output form (default: markdown)")
    parser.add_argument("--password", metavar="PW", default=None, help="password of encrypted files (the same for every file); files that need no password still open")
    parser.add_argument(
        "--strict",
        action="store_true",
        help="read the file structure exactly: fail on damaged files instead of repairing them",
    )
    parser.add_argument(
        "-o", "--output", metavar="DIR", default=None, help="write one output file per input below DIR instead of printing"
    )
    parser.add_argument(
        "-j",
        "--jobs",
        metavar="N",
        type=positive_int,
        default=None,
        help="number of files converted at once (default: the number of CPUs)",
    )
    parser.add_argument(
        "--pages", metavar="LIST", type=page_list, default=None, help='only these pages, counted from 1: "1-5,9"'
    )
    parser.add_argument(
        "--info", action="store_true", help="print the page count, metadata and outline of one FILE as JSON"
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    return parser


def write_utf8(text: str, stream: Optional[IO[str]] = None) -> None:
    # The outputs are UTF-8 by definition (the HTML says so); don't let a
    # non-UTF-8 locale turn an em dash into an encoding error.
    stdout = stream or sys.stdout
    buffer = getattr(stdout, "buffer", None)
    if buffer is None:
        stdout.write(text + "\n")
        return
    stdout.flush()
    buffer.write(text.encode("utf-8", "surrogateescape") + b"\n")
    buffer.flush()


# ---------------------------------------------------------------- inputs


def is_pdf_name(name: str) -> bool:
    return name.lower().endswith(".pdf")


def find_pdfs(directory: Path) -> List[Path]:
    """The *.pdf files below `directory`, relative to it, in sorted order.

    Symbolic links to directories are not followed (they could form cycles);
    unreadable subdirectories are skipped.
    """
    found: List[Path] = []
    for root, dirs, files in os.walk(directory):
        dirs.sort()
        rel_root = Path(root).relative_to(directory)
        found.extend(rel_root / name for name in files if is_pdf_name(name))
    # Paths compare part by part, so a directory's files stay together
    # (a/z.pdf sorts before a-c.pdf, whatever the character codes).
    return sorted(found)


Job = Tuple[Path, Optional[Path]]  # (input file, output file or None for stdout)


def plan(inputs: Sequence[str], output: Optional[Path], ext: str) -> Tuple[List[Job], List[Tuple[Path, str]]]:
    """Expand the arguments into (input, output) pairs.

    Returns the jobs and the inputs refused before conversion, each with its
    reason: a second input for an output that another input already has, or
    an input that is its own output (a PDF named x.md converted into its own
    directory). An input reached twice (a file also inside a directory
    argument) is converted once.
    """
    jobs: List[Job] = []
    refused: List[Tuple[Path, str]] = []
    owner: Dict[str, Path] = {}
    for arg in inputs:
        base = Path(arg)
        if base.is_dir():
            pairs = [(base / rel, rel) for rel in find_pdfs(base)]
        else:
            # Missing files stay in the list: reading them fails and is reported.
            pairs = [(base, Path(base.name))]
        for source, rel in pairs:
            target = (output / rel).with_suffix(ext) if output is not None else None
            key = os.path.normcase(os.path.normpath(target if target is not None else source))
            first = owner.get(key)
            if target is not None and same_file(target, source):
                refused.append((source, f"not converted: its output {target} is the input itself"))
            elif first is None:
                owner[key] = source
                jobs.append((source, target))
            elif os.path.normpath(first) != os.path.normpath(source) and not same_file(first, source):
                refused.append((source, f"not converted: its output {target} is already that of {first}"))
    return jobs, refused


# ---------------------------------------------------------------- progress


class Progress:
    """Progress of a batch on standard error; this base class shows nothing."""

    def __init__(self, stream: IO[str]) -> None:
        self.stream = stream

    def advance(self) -> None:
        pass

    def message(self, text: str) -> None:
        print(text, file=self.stream)

    def close(self) -> None:
        pass


class CounterProgress(Progress):
    """A counter line rewritten in place with a carriage return."""

    def __init__(self, stream: IO[str], total: int) -> None:
        super().__init__(stream)
        self.total = total
        self.done = 0
        self.shown = 0  # length of the counter line on screen
        self.draw()

    def draw(self) -> None:
        line = f"{self.done}/{self.total} files"
        self.stream.write("\r" + line.ljust(self.shown))
        self.stream.flush()
        self.shown = len(line)

    def erase(self) -> None:
        if self.shown:
            self.stream.write("\r" + " " * self.shown + "\r")
            self.shown = 0

    def advance(self) -> None:
        self.done += 1
        self.draw()

    def message(self, text: str) -> None:
        self.erase()
        print(text, file=self.stream)
        self.draw()

    def close(self) -> None:
        self.erase()
        self.stream.flush()


class TqdmProgress(Progress):
    def __init__(self, stream: IO[str], total: int, tqdm_class: Any) -> None:
        super().__init__(stream)
        self.tqdm_class = tqdm_class
        self.bar = tqdm_class(total=total, file=stream, unit="file", leave=False, dynamic_ncols=True)

    def advance(self) -> None:
        self.bar.update(1)

    def message(self, text: str) -> None:
        self.tqdm_class.write(text, file=self.stream)

    def close(self) -> None:
        self.bar.close()


def make_progress(stream: IO[str], total: int, use_tqdm: bool = True) -> Progress:
    """The progress display for a run of `total` files on `stream`.

    Only a terminal gets one, and only for more than one file: a log file or
    a pipe would fill with carriage returns.
    """
    isatty = getattr(stream, "isatty", None)
    if total < 2 or isatty is None or not isatty():
        return Progress(stream)
    if use_tqdm:
        try:
            tqdm_module = importlib.import_module("tqdm")
        except ImportError:
            pass
        else:
            return TqdmProgress(stream, total, tqdm_module.tqdm)
    return CounterProgress(stream, total)


# ---------------------------------------------------------------- running


def error_text(e: BaseException) -> str:
    if isinstance(e, OSError) and e.strerror:
        return f"cannot read: {e.strerror}"
    if isinstance(e, IndexError):
        # The library counts from 0; say what the file has instead.
        _, _, has = str(e).partition(": ")
        return f"--pages goes beyond the last page: {has or e}"
    return str(e) or type(e).__name__


def same_file(a: Path, b: Path) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def save(target: Path, text: str) -> Optional[str]:
    """Write one output; returns the reason when that fails."""
    try:
        target.parent.mkdir(parents=True, exist_ok=True)
        fd, temp = tempfile.mkstemp(dir=target.parent, prefix="." + target.name + ".", suffix=".part")
    except OSError as e:
        return f"cannot write {target}: {e.strerror or e}"
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(text.encode("utf-8", "surrogateescape") + b"\n")
        os.replace(temp, target)
    except BaseException as e:
        os.unlink(temp)
        if isinstance(e, OSError):
            return f"cannot write {target}: {e.strerror or e}"
        raise
    return None


def recovery_notes(caught: List[warnings.WarningMessage]) -> List[str]:
    """The messages of the RecoveryWarnings in `caught`, which is emptied."""
    notes = [str(w.message) for w in caught if issubclass(w.category, RecoveryWarning)]
    caught.clear()
    return notes


def run_single(path: Path, fmt: str, password: Optional[str], pages: Optional[List[int]], strict: bool = False) -> int:
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", RecoveryWarning)
        try:
            result = convert_file(str(path), fmt, password, pages, strict=strict)
        except (OSError, ValueError, IndexError) as e:
            print(f"{path}: {error_text(e)}", file=sys.stderr)
            return 1
    for note in recovery_notes(caught):
        print(f"{path}: note: {note}", file=sys.stderr)
    write_utf8(result)
    return 0


def run_info(path: Path, password: Optional[str], strict: bool = False) -> int:
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", RecoveryWarning)
        try:
            found = info(path.read_bytes(), password, strict=strict)
        except (OSError, ValueError) as e:
            print(f"{path}: {error_text(e)}", file=sys.stderr)
            return 1
    for note in recovery_notes(caught):
        print(f"{path}: note: {note}", file=sys.stderr)
    write_utf8(json.dumps(found, indent=2, ensure_ascii=False))
    return 0


def run_batch(
    jobs: List[Job],
    refused: List[Tuple[Path, str]],
    fmt: TextFormat,
    password: Optional[str],
    workers: int,
    pages: Optional[List[int]] = None,
    strict: bool = False,
) -> int:
    targets = {source: target for source, target in jobs}
    progress = make_progress(sys.stderr, len(jobs) + len(refused))
    converted = failed = 0
    try:
        for source, refusal in refused:
            progress.message(f"{source}: {refusal}")
            failed += 1
            progress.advance()
        sources = [source for source, _ in jobs]
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always", RecoveryWarning)
            results = convert_many(
                sources, fmt, password, jobs=min(workers, max(len(jobs), 1)), strict=strict, pages=pages
            )
            converted, failed = save_all(results, targets, progress, caught, failed)
    finally:
        progress.close()
    print(f"{converted} converted, {failed} failed", file=sys.stderr)
    return 1 if failed else 0


def save_all(
    results: Iterable[Tuple[Path, Any]],
    targets: Dict[Path, Optional[Path]],
    progress: Progress,
    caught: List[warnings.WarningMessage],
    failed: int,
) -> Tuple[int, int]:
    """Save each result as it comes; returns the counts converted and failed."""
    converted = 0
    for source, result in results:
        # convert_many warns "path: what was repaired" just before yielding the path.
        prefix = f"{os.fspath(source)}: "
        for note in recovery_notes(caught):
            progress.message(f"{source}: note: {note[len(prefix):] if note.startswith(prefix) else note}")
        target = targets[source]
        assert target is not None
        reason: Optional[str] = error_text(result) if isinstance(result, Exception) else save(target, result)
        if reason is None:
            converted += 1
        else:
            failed += 1
            progress.message(f"{source}: {reason}")
        progress.advance()
    return converted, failed


def main(argv: Optional[List[str]] = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    output = Path(args.output) if args.output is not None else None
    if output is not None and output.exists() and not output.is_dir():
        parser.error(f"--output {output} is not a directory")
    jobs, refused = plan(args.inputs, output, EXTENSIONS[args.format])
    if not jobs and not refused:
        parser.error("no PDF files found in the inputs")
    if args.info:
        if output is not None or args.pages is not None or len(jobs) != 1:
            parser.error("--info takes exactly one FILE, without --output or --pages")
        return run_info(jobs[0][0], args.password, args.strict)
    if output is None:
        if len(jobs) > 1:
            parser.error(f"{len(jobs)} input files: give --output DIR to convert more than one")
        return run_single(jobs[0][0], args.format, args.password, args.pages, args.strict)
    workers = args.jobs or os.cpu_count() or 1
    try:
        return run_batch(jobs, refused, args.format, args.password, workers, args.pages, args.strict)
    except KeyboardInterrupt:
        print("vellum: interrupted", file=sys.stderr)
        return 130
