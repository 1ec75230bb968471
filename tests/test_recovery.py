"""Damaged files: read by default with a RecoveryWarning, refused with
strict=True. Intact sources damaged here the ways real files are must give
exactly the intact file's document; corpus files that strict reading refuses
open by default, and strict=True keeps today's message."""

from __future__ import annotations

import json
import re
import warnings

import pytest
from conftest import corpus_dir
from pdfbuilder import PdfBuilder, resave, text_content

import vellum
from vellum import cli

pikepdf = pytest.importorskip("pikepdf")

LINES = [(72, 700 - 20 * i, f"Line {i} of a damaged file") for i in range(5)]


def built() -> bytes:
    b = PdfBuilder()
    for _ in range(2):
        b.add_page(content=text_content(LINES), compress=True)
    return b.build()


INCREMENTAL = corpus_dir() / "files" / "libreoffice61-xref-stream-updated.pdf"
SOURCES = {  # name: () -> (data or None without the corpus, password)
    "classic": lambda: (built(), None),
    "object-streams": lambda: (resave(built(), object_stream_mode=pikepdf.ObjectStreamMode.generate), None),
    "encrypted": lambda: (resave(built(), encryption=pikepdf.Encryption(user="user", owner="owner", R=4)), "user"),
    "corpus-incremental": lambda: (INCREMENTAL.read_bytes() if INCREMENTAL.is_file() else None, None),
}


def startxref(data: bytes) -> int:
    return int(re.search(rb"startxref\s+(\d+)", data[data.rindex(b"startxref"):]).group(1))


def overwrite_xref(data: bytes) -> bytes:
    """The newest table's entries, or the newest cross-reference stream's data, garbled in place."""
    at = startxref(data)
    if data.startswith(b"xref", at):
        start, end = at + 5, data.index(b"trailer", at)
    else:
        start, end = data.index(b"stream", at) + 7, data.index(b"endstream", at)
    return data[:start] + b"#" * (end - start) + data[end:]


DAMAGES = {
    "bytes-before-header": lambda d: b"%junk that is not a comment\n" * 11 + d,
    "wrong-startxref": lambda d: d[: d.rindex(b"startxref")] + b"startxref\n%d\n%%%%EOF\n" % (startxref(d) + 7),
    "no-startxref": lambda d: d.replace(b"startxref", b"startxrex"),
    "xref-overwritten": overwrite_xref,
    "inserted-line": lambda d: d.replace(b"\n", b"\n% an inserted line\n", 1),
    "cut-after-last-endobj": lambda d: d[: d.rindex(b"endobj") + 6],
}


# Not damage: the cut leaves a complete older revision; or the cut takes the
# trailer's /ID, from which the encryption key is derived.
NOT_RECOVERABLE = {("corpus-incremental", "cut-after-last-endobj"), ("encrypted", "cut-after-last-endobj")}


@pytest.mark.parametrize("source,damage", [(s, d) for s in SOURCES for d in DAMAGES if (s, d) not in NOT_RECOVERABLE])
def test_damaged_copy_reads_as_the_intact_file(source, damage):
    data, password = SOURCES[source]()
    if data is None:
        pytest.skip("corpus not available")
    damaged = DAMAGES[damage](data)
    assert damaged != data
    intact = vellum.parse(data, password, strict=True)
    assert any(page["lines"] for page in intact["pages"])
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # intact files issue no warning; the warning raised as an error
        assert vellum.parse(data, password) == intact
        with pytest.raises(vellum.RecoveryWarning):
            vellum.parse(damaged, password)
    with pytest.warns(vellum.RecoveryWarning, match="rebuilt|shifted|scan"):
        assert vellum.parse(damaged, password) == intact
    with pytest.raises(ValueError):
        vellum.parse(damaged, password, strict=True)


# Corpus files that strict reading refuses, with the message it gives.
REFUSED = {
    "ghostscript10-leading-junk-8-pages.pdf": "InvalidObject: expected integer",
    "enc-r3-empty-user-leading-junk.pdf": "InvalidObject: bad integer",
    "malformed-no-startxref.pdf": "InvalidXref: no startxref",
    "malformed-bad-xref-offset.pdf": "InvalidObject: bad integer",
    "malformed-xref-syntax.pdf": "InvalidXref: bad integer",
    "malformed-xref-entry.pdf": "InvalidXref: bad integer",
    "malformed-xref-keyword-missing.pdf": "InvalidObject: missing obj keyword",
    "malformed-junk-header-truncated.pdf": "InvalidXref: expected integer",
    "malformed-prev-loop.pdf": "ObjectNotFound: no such object",
}


@pytest.mark.parametrize("name", REFUSED)
def test_refused_corpus_files_open_by_default(corpus, name):
    data = (corpus / "files" / name).read_bytes()
    with pytest.raises(ValueError, match=f"^{re.escape(REFUSED[name])}$"):
        vellum.parse_to_markdown(data, strict=True)
    with pytest.warns(vellum.RecoveryWarning):  # and the text: the corpus walk, against the reference
        vellum.parse(data)


def test_command_line_notes_recovery_and_strict_fails(tmp_path, capsys):
    damaged = tmp_path / "damaged.pdf"
    damaged.write_bytes(DAMAGES["no-startxref"](built()))
    outputs = []
    for options in ([], ["--info"], ["-o", str(tmp_path / "out"), "-j", "1"]):
        assert cli.main([str(damaged), *options]) == 0
        outputs.append(capsys.readouterr())
        assert outputs[-1].err.startswith(f"{damaged}: note: the cross-reference data could not be read")
        assert cli.main([str(damaged), *options, "--strict"]) == 1
        assert capsys.readouterr().err.startswith(f"{damaged}: InvalidXref: no startxref\n")
    assert json.loads(outputs[1].out) == vellum.info(built(), strict=True)
    assert outputs[2].err.splitlines()[1:] == ["1 converted, 0 failed"]


@pytest.mark.parametrize("pool", ["threads", "processes"])
def test_batch_warns_in_the_callers_thread_with_each_files_path(tmp_path, pool):
    # Files damaged alike, converted at the same time: each warning names its own file.
    damaged = [tmp_path / f"damaged{i}.pdf" for i in range(4)]
    for path in damaged:
        path.write_bytes(DAMAGES["bytes-before-header"](built()))
    with pytest.warns(vellum.RecoveryWarning) as caught:
        results = list(vellum.convert_many(damaged, jobs=2, pool=pool))
    named = sorted(str(w.message).partition(": the cross-reference offsets")[0] for w in caught)
    assert named == sorted(map(str, damaged))
    assert all(result == vellum.parse_to_markdown(built()) for _, result in results)
    [(path, result)] = list(vellum.convert_many(damaged[:1], jobs=2, strict=True, pool=pool))
    assert isinstance(result, ValueError)
