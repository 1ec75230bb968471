"""Damaged files: read by default with a RecoveryWarning, refused with strict=True.

Each intact source (classic table, cross-reference stream, object streams,
an encrypted file written by pikepdf, a corpus file with an incremental
update) is damaged here in the ways real files are; the damaged copy must
give exactly the intact file's document. The corpus files that strict
reading refuses open by default, and strict=True keeps today's message."""

from __future__ import annotations

import json
import re
import threading
import warnings
from typing import Callable, Dict, Optional, Tuple

import pytest
from conftest import corpus_dir
from pdfbuilder import PdfBuilder, text_content

import vellum
from vellum import cli

pikepdf = pytest.importorskip("pikepdf")

LINES = [(72, 700 - 20 * i, f"Line {i} of a damaged file") for i in range(5)]


def built(**options) -> bytes:
    b = PdfBuilder(**options)
    for _ in range(2):
        b.add_page(content=text_content(LINES), compress=True)
    return b.build()


def encrypted() -> bytes:
    import io

    pdf = pikepdf.open(io.BytesIO(built()))
    out = io.BytesIO()
    pdf.save(out, encryption=pikepdf.Encryption(user="user", owner="owner", R=4),
             object_stream_mode=pikepdf.ObjectStreamMode.disable)
    return out.getvalue()


def corpus_file(name: str) -> Optional[bytes]:
    path = corpus_dir() / "files" / name
    return path.read_bytes() if path.is_file() else None


SOURCES: Dict[str, Callable[[], Tuple[Optional[bytes], Optional[str]]]] = {
    "classic": lambda: (built(), None),
    "xref-stream": lambda: (built(xref="stream"), None),
    "object-streams": lambda: (built(xref="stream", object_streams=True, compress_structure=True), None),
    "encrypted": lambda: (encrypted(), "user"),
    "corpus-incremental": lambda: (corpus_file("libreoffice61-xref-stream-updated.pdf"), None),
}


def startxref(data: bytes) -> int:
    return int(re.search(rb"startxref\s+(\d+)", data[data.rindex(b"startxref"):]).group(1))


def overwrite_xref(data: bytes) -> bytes:
    """The newest table's entries, or the newest cross-reference stream's data, garbled in place."""
    at = startxref(data)
    if data.startswith(b"xref", at):
        start, end = at + 5, data.index(b"trailer", at)
    else:
        start = data.index(b"stream", at) + 7
        end = data.index(b"endstream", start)
    return data[:start] + b"#" * (end - start) + data[end:]


DAMAGES: Dict[str, Callable[[bytes], bytes]] = {
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


@pytest.mark.parametrize(
    "source,damage", [(s, d) for s in SOURCES for d in DAMAGES if (s, d) not in NOT_RECOVERABLE]
)
def test_damaged_copy_reads_as_the_intact_file(source, damage):
    data, password = SOURCES[source]()
    if data is None:
        pytest.skip("corpus not available")
    damaged = DAMAGES[damage](data)
    assert damaged != data
    intact = vellum.parse(data, password, strict=True)
    assert any(page["lines"] for page in intact["pages"])
    with pytest.warns(vellum.RecoveryWarning, match="rebuilt|shifted|scan"):
        assert vellum.parse(damaged, password) == intact
    with pytest.raises(ValueError):
        vellum.parse(damaged, password, strict=True)


def test_intact_files_issue_no_warning():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        for make in SOURCES.values():
            data, password = make()
            if data is not None:
                assert vellum.parse(data, password) == vellum.parse(data, password, strict=True)


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
    with pytest.raises(ValueError) as refused:
        vellum.parse_to_markdown(data, strict=True)
    assert str(refused.value) == REFUSED[name]
    with pytest.warns(vellum.RecoveryWarning):
        doc = vellum.parse(data)
    assert all(page["lines"] for page in doc["pages"])


def test_command_line_notes_recovery_and_strict_fails(tmp_path, capsys):
    damaged = tmp_path / "damaged.pdf"
    damaged.write_bytes(DAMAGES["no-startxref"](built()))
    assert cli.main([str(damaged)]) == 0
    out, err = capsys.readouterr()
    assert "Line 4 of a damaged file" in out
    assert err.startswith(f"{damaged}: note: the cross-reference data could not be read")
    assert cli.main([str(damaged), "--strict"]) == 1
    assert capsys.readouterr().err == f"{damaged}: InvalidXref: no startxref\n"

    assert cli.main([str(damaged), "--info"]) == 0
    out, err = capsys.readouterr()
    assert json.loads(out)["pages"] == 2
    assert err.startswith(f"{damaged}: note: the cross-reference data could not be read")
    assert cli.main([str(damaged), "--info", "--strict"]) == 1
    assert capsys.readouterr().err == f"{damaged}: InvalidXref: no startxref\n"

    assert cli.main([str(damaged), "-o", str(tmp_path / "out"), "-j", "1"]) == 0
    err = capsys.readouterr().err.splitlines()
    assert err[0].startswith(f"{damaged}: note: the cross-reference data could not be read")
    assert err[1:] == ["1 converted, 0 failed"]


def test_info_recovers_with_a_warning_and_strict_raises():
    data = built(xref="stream")
    damaged = DAMAGES["no-startxref"](data)
    with pytest.warns(vellum.RecoveryWarning, match="rebuilt"):
        assert vellum.info(damaged) == vellum.info(data, strict=True)
    with pytest.raises(ValueError, match="^InvalidXref: no startxref$"):
        vellum.info(damaged, strict=True)


def test_the_warning_is_raised_in_the_calling_thread_while_another_parses():
    # The note is recorded without the interpreter lock and the warning
    # issued once the lock is held again, in the thread that called.
    damaged = DAMAGES["bytes-before-header"](built())
    intact = built()
    stop = threading.Event()
    parsed = []

    def keep_parsing():
        while not stop.is_set():
            parsed.append(vellum.parse_to_markdown(intact))

    other = threading.Thread(target=keep_parsing)
    other.start()
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("error", vellum.RecoveryWarning)
            for _ in range(20):
                with pytest.raises(vellum.RecoveryWarning, match="cross-reference offsets"):
                    vellum.parse(damaged)
    finally:
        stop.set()
        other.join()
    assert parsed and all(text == vellum.parse_to_markdown(intact) for text in parsed)


@pytest.mark.parametrize("pool", ["threads", "processes"])
def test_batch_warns_in_the_callers_thread_with_each_files_path(tmp_path, pool):
    # Files damaged alike, converted at the same time: each warning names its own file.
    damaged = [tmp_path / f"damaged{i}.pdf" for i in range(4)]
    for path in damaged:
        path.write_bytes(DAMAGES["bytes-before-header"](built()))
    with pytest.warns(vellum.RecoveryWarning) as caught:
        results = list(vellum.convert_many(damaged, jobs=2, pool=pool))
    assert sorted(str(w.message).partition(": the cross-reference offsets")[0] for w in caught) == sorted(
        str(path) for path in damaged
    )
    assert all(result == vellum.parse_to_markdown(built()) for _, result in results)
    [(path, result)] = list(vellum.convert_many(damaged[:1], jobs=2, strict=True, pool=pool))
    assert isinstance(result, ValueError)
