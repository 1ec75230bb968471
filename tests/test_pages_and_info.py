"""pages= and vellum.info(): checked against the full parse on every corpus
file, and against PyMuPDF on documents it writes with metadata and an
outline."""

from __future__ import annotations

import pytest
from pdfbuilder import PdfBuilder, text_content, text_pdf

import vellum
from vellum import cli

def numbered_pdf(count: int) -> bytes:
    return text_pdf(*(f"page {i}" for i in range(count)))


def corpus_files(corpus, manifest):
    for rec in manifest:
        password = (rec["encryption"] or {}).get("user_password")
        data = (corpus / "files" / rec["file"]).read_bytes()
        try:
            full = vellum.parse(data, password)
        except ValueError:
            continue
        yield rec, data, password, full


def test_pages_and_info_agree_with_the_full_parse_on_the_corpus(corpus, manifest):
    checked = 0
    for rec, data, password, full in corpus_files(corpus, manifest):
        pages = full["pages"]
        n = len(pages)
        found = vellum.info(data, password)
        method = (rec["encryption"] or {}).get("method")
        expected = (n, rec["encryption"] is not None, method.split(" ")[0] if method else None)
        assert (found["pages"], found["encrypted"], found["encryption"]) == expected, rec["file"]
        for i in range(n):
            assert vellum.parse(data, password, pages=[i])["pages"] == [pages[i]], (rec["file"], i)
        backwards = vellum.parse(data, password, pages=range(-1, -n - 1, -1))
        assert backwards == {"version": full["version"], "pages": pages[::-1]}
        assert vellum.parse_to_markdown(data, password, pages=range(n)) == vellum.parse_to_markdown(data, password)
        with pytest.raises(IndexError, match=f"the document has {n} page"):
            vellum.parse(data, password, pages=[0, n])
        checked += 1
    assert checked > 80


def test_info_agrees_with_pymupdf_on_the_corpus(corpus, manifest):
    pymupdf = pytest.importorskip("pymupdf")
    keys = ["title", "author", "subject", "keywords", "creator", "producer"]
    outlines = 0
    for rec, data, password, _ in corpus_files(corpus, manifest):
        with pymupdf.open(stream=data) as doc:
            if password:
                doc.authenticate(password)
            meta, toc = doc.metadata, doc.get_toc(simple=True)
        found = vellum.info(data, password)
        # PyMuPDF gives "" for absent entries and strips nothing else.
        assert [found[k] or "" for k in keys] == [meta[k] for k in keys], rec["file"]
        assert [(o["level"], o["title"], -1 if o["page"] is None else o["page"] + 1) for o in found["outline"]] == [
            tuple(entry) for entry in toc
        ], rec["file"]
        outlines += bool(toc)
    assert outlines >= 3


def test_info_reads_what_pymupdf_writes(tmp_path):
    pymupdf = pytest.importorskip("pymupdf")
    doc = pymupdf.open()
    for _ in range(4):
        doc.new_page()
    doc.set_metadata({
        "title": "Résumé — ☃", "author": "A. Writer", "subject": "Tests", "keywords": "a, b",
        "creator": "the tests", "producer": "PyMuPDF",
        "creationDate": "D:20240501123000+02'00'", "modDate": "D:20240502000000Z",
    })
    toc = [[1, "One", 1], [2, "One.a", 2], [3, "Deep", 3], [1, "Two", 4]]
    doc.set_toc(toc)
    data = doc.tobytes()
    found = vellum.info(data)
    assert found["pages"] == 4 and found["encrypted"] is False
    assert (found["title"], found["author"], found["keywords"]) == ("Résumé — ☃", "A. Writer", "a, b")
    assert (found["creation_date"], found["modification_date"]) == ("2024-05-01T12:30:00+02:00", "2024-05-02T00:00:00+00:00")
    assert [[o["level"], o["title"], o["page"] + 1] for o in found["outline"]] == toc
    html = vellum.parse_to_html(data, default_title="ignored")
    assert "<title>Résumé — ☃</title>" in html


def test_pages_in_the_order_given():
    for pages, expected in [([-1, -3, 1, 1], [2, 0, 1, 1]), ([], []), ((i for i in [1]), [1])]:
        doc = vellum.parse(numbered_pdf(3), pages=pages)
        assert [p["lines"][0]["text"] for p in doc["pages"]] == [f"page {i}" for i in expected]


@pytest.mark.parametrize(
    "pages,error,message",
    [
        ([3], IndexError, "page index 3 out of range: the document has 3 pages"),
        ([-4], IndexError, "page index -4 out of range: the document has 3 pages"),
        ([10**30], IndexError, "the document has 3 pages"),
        ([1.0], TypeError, "'float' object cannot be interpreted as an integer"),
        ("0", TypeError, "not a string"),
        (b"\x00", TypeError, "not a string"),
        (0, TypeError, "'int' object is not iterable"),
    ],
)
def test_bad_pages(pages, error, message):
    with pytest.raises(error, match=message):
        vellum.parse_to_html(numbered_pdf(3), pages=pages)


def test_html_title_and_the_command_line(tmp_path, capsys):
    b = PdfBuilder(trailer={"Info": {"Title": b"Q3 <report>"}})
    b.add_page(content=text_content([(72, 700, "titled")]))
    titled, plain = tmp_path / "titled.pdf", tmp_path / "plain.pdf"
    titled.write_bytes(b.build())
    plain.write_bytes(numbered_pdf(6))

    assert cli.main([str(titled), "--format", "html"]) == 0
    assert "<title>Q3 &lt;report&gt;</title>" in capsys.readouterr().out
    assert cli.main([str(plain), "--format", "html"]) == 0
    assert "<title>plain.pdf</title>" in capsys.readouterr().out

    assert cli.main([str(plain), "--pages", "5-6,1"]) == 0
    assert capsys.readouterr().out == vellum.parse_to_markdown(plain.read_bytes(), pages=[4, 5, 0]) + "\n"
    assert cli.main([str(plain), "--pages", "7"]) == 1
    assert capsys.readouterr().err == f"{plain}: --pages goes beyond the last page: the document has 6 pages\n"

    out = tmp_path / "out"
    assert cli.main([str(plain), str(titled), "-o", str(out), "--pages", "1", "-j", "2"]) == 0
    assert (out / "plain.md").read_text() == vellum.parse_to_markdown(plain.read_bytes(), pages=[0]) + "\n"
