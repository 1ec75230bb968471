"""The vellum command on many files: the input search, the output tree,
failures that don't stop the batch, collisions that would overwrite
outputs, usage errors and the progress display."""

from __future__ import annotations

import io
from pathlib import Path
from typing import Dict, List

import pytest
from pdfbuilder import text_pdf as page_pdf

import vellum._vellum as native
from vellum import cli

RENDER = {"markdown": native.parse_to_markdown, "json": native.parse_to_json, "html": native.parse_to_html}


def make_tree(root: Path, files: Dict[str, bytes]) -> None:
    for rel, data in files.items():
        (root / rel).parent.mkdir(parents=True, exist_ok=True)
        (root / rel).write_bytes(data)


def run(argv: List[str], capsys) -> tuple:
    try:
        code = cli.main(argv)
    except SystemExit as e:  # argparse's usage errors
        code = e.code
    return (code, *capsys.readouterr())


def output_files(root: Path) -> List[str]:
    return sorted(str(p.relative_to(root)) for p in root.rglob("*") if p.is_file())


TREE = {"a.pdf": page_pdf("first"), "sub/B.PDF": page_pdf("second"), "sub/deeper/c.Pdf": page_pdf("third"),
        "sub/notes.txt": b"not a pdf, not searched", "sub/pdf": page_pdf("no extension, not searched"),
        "zz/broken.pdf": b"%PDF-1.4 and nothing else"}


@pytest.mark.parametrize("fmt", ["markdown", "json", "html"])
def test_directory_is_mirrored_below_output(tmp_path, capsys, fmt):
    make_tree(tmp_path / "in", TREE)
    out = tmp_path / "out"
    code, stdout, stderr = run([str(tmp_path / "in"), "--format", fmt, "-o", str(out), "-j", "2"], capsys)
    ext = {"markdown": ".md", "json": ".json", "html": ".html"}[fmt]
    assert (code, stdout) == (1, "")
    # (what each file holds: convert_many's result, test_batch.py, and a line feed, as below)
    assert output_files(out) == sorted(["a" + ext, "sub/B" + ext, "sub/deeper/c" + ext])
    broken = tmp_path / "in" / "zz" / "broken.pdf"
    assert stderr.splitlines() == [f"{broken}: InvalidXref: no startxref", "3 converted, 1 failed"]


def test_find_pdfs_is_recursive_case_insensitive_and_sorted(tmp_path):
    make_tree(tmp_path, {name: b"" for name in ["b.pdf", "A.PDF", "a/z.pdf", "a/b/y.PdF", "a-c.pdf", "x.pdfx", "y.txt"]})
    assert [str(p) for p in cli.find_pdfs(tmp_path)] == ["A.PDF", "a/b/y.PdF", "a/z.pdf", "a-c.pdf", "b.pdf"]


def test_failures_are_reported_and_the_batch_goes_on(tmp_path, capsys):
    # A file argument's output goes to the top of the output directory; a
    # file or directory given twice, in other spellings, counts once.
    make_tree(tmp_path, {"x/ok.pdf": page_pdf("ok"), "bad.pdf": b"garbage"})
    make_tree(tmp_path / "in", {"sub/x.pdf": page_pdf("x"), "y.pdf": page_pdf("y")})
    out = tmp_path / "out"
    # out/sub exists as a file, so the output of sub/x.pdf cannot be written;
    # a longer output of an earlier run is replaced without leftovers
    make_tree(out, {"sub": b"in the way", "ok.md": b"stale output of an earlier run, longer than the new one " * 50})
    argv = [str(tmp_path / name) for name in ("bad.pdf", "missing.pdf", "x/ok.pdf", "in")]
    argv += [f"{tmp_path}/in/", f"{tmp_path}/x/./ok.pdf"]  # given again in other spellings
    code, _, stderr = run(argv + ["-o", str(out), "-j", "2"], capsys)
    lines = stderr.splitlines()
    assert (code, lines[-1]) == (1, "2 converted, 3 failed")
    # the reason for the unwritable output is the system's ("File exists");
    # captured standard error is no terminal: no counter
    assert sorted(line.rsplit(": ", 1)[0] if "cannot write" in line else line for line in lines[:-1]) == sorted([
        f"{tmp_path / 'bad.pdf'}: InvalidHeader: no %PDF- header",
        f"{tmp_path / 'missing.pdf'}: cannot read: No such file or directory",
        f"{tmp_path / 'in' / 'sub' / 'x.pdf'}: cannot write {out / 'sub' / 'x.md'}"])
    assert output_files(out) == ["ok.md", "sub", "y.md"]
    assert (out / "sub").read_bytes() == b"in the way"
    assert (out / "ok.md").read_text(encoding="utf-8") == native.parse_to_markdown(page_pdf("ok")) + "\n"


def test_outputs_that_collide_are_not_written(tmp_path, capsys):
    make_tree(tmp_path, {"p/x.pdf": page_pdf("from p"), "q/x.pdf": page_pdf("from q"), "q/x.PDF": page_pdf("upper")})
    out = tmp_path / "out"
    data = page_pdf("a PDF with a Markdown name")
    make_tree(out, {"odd.md": data})  # an input is never overwritten by its output
    code, _, stderr = run([str(tmp_path / "p/x.pdf"), str(tmp_path / "q"), str(out / "odd.md"), "-o", str(out)], capsys)
    lines = stderr.splitlines()
    assert (code, lines[-1]) == (1, "1 converted, 3 failed")
    for loser in ("q/x.PDF", "q/x.pdf"):
        assert f"{tmp_path / loser}: not converted: its output {out / 'x.md'} is already that of {tmp_path / 'p/x.pdf'}" in lines
    assert "is the input itself" in stderr and (out / "odd.md").read_bytes() == data
    # the first input in argument order owns the output
    assert (out / "x.md").read_text(encoding="utf-8") == native.parse_to_markdown(page_pdf("from p")) + "\n"


@pytest.mark.parametrize("options,fmt", [([], "markdown"), (["--format", "html"], "html"), (["--password", ""], "markdown")])
def test_one_pdf_found_in_a_directory_goes_to_stdout(tmp_path, capsysbinary, options, fmt):
    make_tree(tmp_path, {"only/doc.pdf": page_pdf("alone")})
    assert cli.main([str(tmp_path / "only")] + options) == 0
    titled = {"default_title": "doc.pdf"} if fmt == "html" else {}  # no /Title: the file's name
    assert capsysbinary.readouterr().out == (RENDER[fmt](page_pdf("alone"), **titled) + "\n").encode()


@pytest.mark.parametrize("name,options,reason", [
    ("bad.pdf", [], "InvalidHeader: no %PDF- header"), ("missing.pdf", [], "cannot read: No such file or directory"),
    ("six.pdf", ["--pages", "7"], "--pages goes beyond the last page: the document has 6 pages")])
def test_one_file_fails_with_the_message_of_a_batch(tmp_path, capsys, name, options, reason):
    make_tree(tmp_path, {"bad.pdf": b"not a pdf", "six.pdf": page_pdf(*(f"page {i}" for i in range(6)))})
    assert run([str(tmp_path / name), *options], capsys) == (1, "", f"{tmp_path / name}: {reason}\n")


@pytest.mark.parametrize("argv,message", [
    (["{a}", "{b}"], "2 input files: give --output DIR"), (["{dir}"], "2 input files: give --output DIR"),
    (["{empty}"], "no PDF files found"), (["{empty}", "-o", "{out}"], "no PDF files found"),
    (["{a}", "--pages", "0"], "pages count from 1"), (["{a}", "--pages", "3-2"], "ranges go upwards"),
    (["{a}", "--pages", "1-x"], "invalid page list"), (["{a}", "--pages", "1-2000000"], "page list too long"),
    (["{a}", "{b}", "--info"], "--info takes exactly one FILE"), (["{a}", "-o", "{a}"], "is not a directory"),
    (["{a}", "-o", "{out}", "-j", "0"], "invalid positive integer: '0'"),
    (["{a}", "-o", "{out}", "--format", "dict"], "invalid choice"), (["-o", "{out}"], "FILE")])
def test_usage_errors(tmp_path, capsys, argv, message):
    make_tree(tmp_path / "dir", {"a.pdf": page_pdf("a"), "b.pdf": page_pdf("b")})
    (tmp_path / "empty").mkdir()
    names = {"a": tmp_path / "dir/a.pdf", "b": tmp_path / "dir/b.pdf", "dir": tmp_path / "dir", "empty": tmp_path / "empty"}
    argv = [arg.format(out=tmp_path / "out", **names) for arg in argv]
    code, stdout, stderr = run(argv, capsys)
    assert (code, stdout) == (2, "") and message in stderr
    assert not (tmp_path / "out").exists()


def test_pages_on_the_command_line(tmp_path, capsys):
    plain = tmp_path / "plain.pdf"
    plain.write_bytes(page_pdf(*(f"page {i}" for i in range(6))))
    assert cli.main([str(plain), "--pages", "5-6,1"]) == 0
    assert capsys.readouterr().out == native.parse_to_markdown(plain.read_bytes(), pages=[4, 5, 0]) + "\n"
    out = tmp_path / "out"
    assert cli.main([str(plain), str(tmp_path), "-o", str(out), "--pages", "1", "-j", "2"]) == 0
    assert (out / "plain.md").read_text() == native.parse_to_markdown(plain.read_bytes(), pages=[0]) + "\n"


# ---------------------------------------------------------------- progress


class Terminal(io.StringIO):
    def isatty(self) -> bool:
        return True


def screen(text: str) -> List[str]:
    """What a terminal shows: each line as left by its carriage returns."""
    lines = []
    for raw in text.split("\n"):
        shown = ""
        for part in raw.split("\r"):
            shown = part + shown[len(part) :]
        lines.append(shown.rstrip())
    return lines


def test_progress_keeps_messages_on_their_own_lines():
    # one file needs no progress display; neither does a file or a pipe
    assert type(cli.make_progress(Terminal(), 1, use_tqdm=False)) is cli.Progress
    assert type(cli.make_progress(io.StringIO(), 5, use_tqdm=False)) is cli.Progress
    term = Terminal()
    progress = cli.make_progress(term, 3, use_tqdm=False)
    assert type(progress) is cli.CounterProgress
    progress.advance()
    progress.message("a.pdf: InvalidHeader: no %PDF- header")
    progress.advance()
    assert screen(term.getvalue()) == ["a.pdf: InvalidHeader: no %PDF- header", "2/3 files"]
    progress.advance()
    progress.close()
    # closing wipes the counter, so the summary that follows starts clean
    assert screen(term.getvalue()) == ["a.pdf: InvalidHeader: no %PDF- header", ""]
