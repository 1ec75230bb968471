"""All four functions over the real-world corpus (encrypted files with their
user password): they fail only with ValueError, fail alike, and when they
succeed they show the same lines; pages= gives the full parse's pages, info()
what PyMuPDF reads, and an encrypted file's other passwords what they should.
Skipped when the corpus is absent."""

from __future__ import annotations

import html
import json
import re
import sys

import pytest
from conftest import REPO_DIR, corpus_dir, load_manifest

import vellum._vellum as native

sys.path.insert(0, str(REPO_DIR / "tools"))
from text_similarity import similarity  # noqa: E402

try:
    import pymupdf
except ImportError:  # info() is then compared with the full parse only
    pymupdf = None

ENTRIES = load_manifest()
FUNCTIONS = [native.parse, native.parse_to_json, native.parse_to_html, native.parse_to_markdown]

SECTION = re.compile(r'<section class="page" style="[^"]*"(?: data-needs-ocr="true")?>\n(.*?)</section>\n', re.S)
PARAGRAPH = re.compile(r"<p>(.*?)</p>\n", re.S)
LETTER_SPACED = re.compile(r"^([^\W\d_] )+[^\W\d_]$")  # "p d f e n c" rather than words

# Files whose pages paint a ruled grid (seen rendered); the other files tagged
# "tables" hold underlines, boxed text or forms, which are no table, and so
# does one page of prose with highlighted words and a page-sized clip.
PAINTED_GRIDS = {"word2010-geobase-19-pages.pdf", "excel2013-warn-report-16-pages.pdf", "excel2013-energy-table.pdf",
                 "quartz-nics-table-rotated.pdf", "itext-senate-expenditures-rotated.pdf", "pscript-table-curves.pdf",
                 "pdfmaker-excel-cjk.pdf"}
NO_TABLES = {"libreoffice64-writer-trivial.pdf"}
OUTLINED = {"pdftex-geotopo-117-pages.pdf", "distiller5-freeculture-352-pages.pdf", "htmldoc-tamreview-23-pages.pdf",
            "pdfill-demo-tables.pdf", "pdfmaker-excel-cjk.pdf", "qpdf-hybrid-xref-30-pages.pdf",
            "enc-r2-acrobat5-view-master.pdf", "enc-r3-acrobat5-view-master.pdf", "enc-r4-rc4-v4-qpdf-empty.pdf",
            "enc-r6-acrobat11-view-master.pdf", "enc-r5-aes256-qpdf-user3.pdf", "enc-r3-empty-user-leading-junk.pdf"}
INFO_KEYS = ["title", "author", "subject", "keywords", "creator", "producer"]


def password_of(entry: dict):
    encryption = entry.get("encryption")
    return None if encryption is None else encryption.get("user_password", "")


def run_all(data: bytes, password):
    """Each function's result, or the ValueError text it raised."""
    results = []
    for fn in FUNCTIONS:
        try:
            results.append(("ok", fn(data, password)))
        except ValueError as e:
            results.append(("error", str(e)))
        except BaseException as e:  # InternalError and anything else is a fault
            pytest.fail(f"{fn.__name__} raised {type(e).__name__}: {e}")
    return results


def html_lines(text: str) -> list:
    return [[html.unescape(p) for p in PARAGRAPH.findall(body)] for body in SECTION.findall(text)]


@pytest.mark.parametrize("entry", ENTRIES, ids=[e["file"] for e in ENTRIES])
def test_outputs_agree(corpus, entry):
    data = (corpus_dir() / "files" / entry["file"]).read_bytes()
    password = password_of(entry)
    results = run_all(data, password)

    errors = [value for status, value in results if status == "error"]
    if errors:
        assert len(errors) == len(FUNCTIONS) and len(set(errors)) == 1, f"functions failed apart: {results!r:.400}"
        return

    doc, json_text, html_text, markdown = (value for _, value in results)
    assert doc == json.loads(json_text)
    lines = [[line["text"] for line in page["lines"]] for page in doc["pages"]]
    assert html_lines(html_text) == lines
    for page, texts in zip(doc["pages"], lines):
        if not page["needs_ocr"] and texts:
            assert "\n".join(texts) in markdown
    if not entry["robustness"] and entry.get("pages") is not None:
        assert len(doc["pages"]) == entry["pages"]
    if entry["file"] in PAINTED_GRIDS | NO_TABLES:
        assert any(page["tables"] for page in doc["pages"]) == (entry["file"] in PAINTED_GRIDS)
    cells = [c for page in doc["pages"] for table in page["tables"] for row in table["cells"] for c in row]
    assert not [c for c in cells if len(c) >= 7 and LETTER_SPACED.match(c)]
    # A page of a scanned file needs OCR; a flagged page never has lines and always lists an image.
    flagged = [page for page in doc["pages"] if page["needs_ocr"]]
    assert all(not page["lines"] and page["images"] for page in flagged)
    assert flagged or "scanned" not in entry["features"] or not entry["scanned_pages"]

    check_passwords(entry, data, markdown, lines)
    check_pages_and_info(entry, data, password, doc, markdown)


def check_passwords(entry: dict, data: bytes, markdown: str, lines: list) -> None:
    # The owner password and (where the user password is empty) no password
    # give the user's text; a wrong password (and no password, where one is
    # needed) raises PasswordError, except where a password is empty: then
    # any password opens the file as if none had been given.
    enc = entry["encryption"] or {}
    if enc.get("owner_password") is not None:
        assert native.parse_to_markdown(data, enc["owner_password"]) == markdown
    if enc.get("user_password") == "":
        assert native.parse_to_markdown(data, None) == markdown
    if "" in (enc.get("user_password"), enc.get("owner_password")):
        assert native.parse_to_markdown(data, "certainly-not-the-password") == markdown
    elif enc:
        for wrong in (None, "certainly-not-the-password"):
            with pytest.raises(native.PasswordError):
                native.parse_to_markdown(data, wrong)
    if enc and entry.get("reference_text"):  # a wrong key leaves no word of the reference
        reference = (corpus_dir() / entry["reference_text"]).read_text(encoding="utf-8", errors="replace")
        assert similarity("\n".join(text for texts in lines for text in texts), reference) >= 0.9


def check_pages_and_info(entry: dict, data: bytes, password, doc: dict, markdown: str) -> None:
    # pages= gives the full parse's pages; info() agrees with it and with PyMuPDF.
    pages = doc["pages"]
    n = len(pages)
    for i in range(n):
        assert native.parse(data, password, pages=[i])["pages"] == [pages[i]], i
    backwards = native.parse(data, password, pages=range(-1, -n - 1, -1))
    assert backwards == {"version": doc["version"], "pages": pages[::-1]}
    assert native.parse_to_markdown(data, password, pages=range(n)) == markdown
    with pytest.raises(IndexError, match=f"the document has {n} page"):
        native.parse(data, password, pages=[0, n])
    found = native.info(data, password)
    method = (entry["encryption"] or {}).get("method")
    assert (found["pages"], found["encrypted"]) == (n, entry["encryption"] is not None)
    assert found["encryption"] == (method.split(" ")[0] if method else None)
    outline = [[o["level"], o["title"], -1 if o["page"] is None else o["page"] + 1] for o in found["outline"]]
    assert bool(outline) == (entry["file"] in OUTLINED)
    if pymupdf is not None:
        with pymupdf.open(stream=data) as peer:
            if password:
                peer.authenticate(password)
            # PyMuPDF gives "" for absent entries and strips nothing else.
            assert [found[k] or "" for k in INFO_KEYS] == [peer.metadata[k] for k in INFO_KEYS]
            assert outline == peer.get_toc(simple=True)


def test_the_files_named_are_in_the_corpus(corpus):
    assert PAINTED_GRIDS | NO_TABLES | OUTLINED <= {e["file"] for e in ENTRIES}
    assert len([e for e in ENTRIES if "scanned" in e["features"] and e["scanned_pages"]]) >= 10
