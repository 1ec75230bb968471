"""pages= and vellum.info(): against PyMuPDF on a document it writes with
metadata and dates, and on small documents; on every corpus file (outlines,
metadata) against the full parse and PyMuPDF: test_corpus.py."""

from __future__ import annotations

import pytest
from pdfbuilder import text_pdf

import vellum
from vellum import cli


def numbered_pdf(count: int) -> bytes:
    return text_pdf(*(f"page {i}" for i in range(count)))


def test_info_reads_what_pymupdf_writes():
    pymupdf = pytest.importorskip("pymupdf")
    doc = pymupdf.open()
    for _ in range(4):
        doc.new_page()
    doc.set_metadata({"title": "Résumé <☃>", "author": "A. Writer", "keywords": "a, b",
                      "creationDate": "D:20240501123000+02'00'", "modDate": "D:20240502000000Z"})
    data = doc.tobytes()
    found = vellum.info(data)
    assert found["pages"] == 4 and found["encrypted"] is False
    assert (found["title"], found["author"], found["keywords"]) == ("Résumé <☃>", "A. Writer", "a, b")
    assert (found["creation_date"], found["modification_date"]) == ("2024-05-01T12:30:00+02:00", "2024-05-02T00:00:00+00:00")
    # the document's title, escaped, wins over the default title
    assert "<title>Résumé &lt;☃&gt;</title>" in vellum.parse_to_html(data, default_title="ignored")


def test_pages_in_the_order_given():
    for pages, expected in [([-1, -3, 1, 1], [2, 0, 1, 1]), ([], []), ((i for i in [1]), [1])]:
        doc = vellum.parse(numbered_pdf(3), pages=pages)
        assert [p["lines"][0]["text"] for p in doc["pages"]] == [f"page {i}" for i in expected]


@pytest.mark.parametrize("pages,error,message", [
    ([3], IndexError, "page index 3 out of range: the document has 3 pages"),
    ([-4], IndexError, "page index -4 out of range: the document has 3 pages"),
    ([10**30], IndexError, "the document has 3 pages"),
    ([1.0], TypeError, "'float' object cannot be interpreted as an integer"), (0, TypeError, "'int' object is not iterable"),
    ("0", TypeError, "not a string"), (b"\x00", TypeError, "not a string")])
def test_bad_pages(pages, error, message):
    with pytest.raises(error, match=message):
        vellum.parse_to_html(numbered_pdf(3), pages=pages)


def test_pages_on_the_command_line(tmp_path, capsys):
    plain = tmp_path / "plain.pdf"
    plain.write_bytes(numbered_pdf(6))
    assert cli.main([str(plain), "--pages", "5-6,1"]) == 0
    assert capsys.readouterr().out == vellum.parse_to_markdown(plain.read_bytes(), pages=[4, 5, 0]) + "\n"
    assert cli.main([str(plain), "--pages", "7"]) == 1
    assert capsys.readouterr().err == f"{plain}: --pages goes beyond the last page: the document has 6 pages\n"

    out = tmp_path / "out"
    assert cli.main([str(plain), str(tmp_path), "-o", str(out), "--pages", "1", "-j", "2"]) == 0
    assert (out / "plain.md").read_text() == vellum.parse_to_markdown(plain.read_bytes(), pages=[0]) + "\n"
