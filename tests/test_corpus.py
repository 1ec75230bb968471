"""All four functions over the real-world corpus (encrypted files with their
user password): they fail only with ValueError, fail alike, and when they
succeed they show the same lines, whose text stays near the peer's reference
text, also through the owner password; pages= gives the full parse's pages
and info() what PyMuPDF reads. Skipped without the corpus."""

# The text check: the word-multiset similarity of tools/text_similarity.py
# must stay at or above the file's floor, a little under what the library
# achieves today, so a regression in fonts, text runs or layout fails here.
# Files far below 1.0 differ by design (see the comments); their floor keeps
# what they yield from getting worse.

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
INFO_KEYS = ["title", "author", "subject", "keywords", "creator", "producer"]

# The similarity every file must reach, and the files held to a lower floor.
# The malformed-* files with broken cross-reference data are read by recovery.
DEFAULT_FLOOR = 0.98
FLOORS = {
    **dict.fromkeys(["ghostscript10-pdfa-crazyones.pdf", "pscript-table-curves.pdf",
                     "xetex-xdvipdfmx-updated-twice.pdf", "libreoffice-form-filled-by-acrobat.pdf"], 0.97),
    **dict.fromkeys(["itext-federal-register-15-pages.pdf", "luradocument-ocr-jbig2-jpx.pdf"], 0.96),
    **dict.fromkeys(["skia-google-docs.pdf", "skia-chrome-wikipedia.pdf", "3b2-journal-17-pages.pdf",
                     "pdfill-demo-tables.pdf", "dvipdfmx-cjk-xref-stream.pdf"], 0.95),
    **dict.fromkeys(["pdftex-multicolumn.pdf", "excel2013-energy-table.pdf"], 0.94),
    "pdftex-tracemonkey-paper.pdf": 0.93,
    **dict.fromkeys(["distiller5-freeculture-352-pages.pdf", "quartz-nics-table-rotated.pdf"], 0.9),
    "quartz-pages-punkt.pdf": 0.88,
    # The reference keeps a few words the file's text splits otherwise.
    "enc-r5-nonascii-password.pdf": 0.92,
    # Kerned apart by a third of an em, which is a word gap here.
    "pdftex-type3-french-diacritics.pdf": 0.04,
    # Math fonts without ToUnicode (their /Differences and built-in
    # encodings speak), vertical labels.
    "pdftex-geotopo-117-pages.pdf": 0.76,
    # Diagrams are form XObjects; their vertical labels break into pieces.
    "word2010-geobase-19-pages.pdf": 0.96,
    # A formula: the reference joins the sum sign to the 6 before it.
    "word365-short.pdf": 0.9,
    # Page bodies are form XObjects whose fonts map codes only through
    # their embedded font programs (peers do no better).
    "htmldoc-tamreview-23-pages.pdf": 0.1,
    # Logical order; the reference is reordered for display with bidi marks.
    **dict.fromkeys(["weasyprint-arabic.pdf", "weasyprint-arabic-rotated-4-ways.pdf"], 0.0),
    # Type0 fonts without ToUnicode, text through the Adobe-Japan1
    # collection; the vertical page's columns are read as lines.
    "dvipdfmx-japanese-vertical.pdf": 0.07,
    # Recovered (console text before the header and inside the body); four
    # of its pages are drawn mirrored.
    "ghostscript10-leading-junk-8-pages.pdf": 0.6,
    # GBK bytes shown through a one-byte font, each pair with its own space.
    "pdftools-lzw-ascii85-chain.pdf": 0.01,
    # OCR layer: the reference splits letter-spaced words, we keep them.
    "epson-scan-ccitt-with-text.pdf": 0.54,
    # A standard font without /Encoding: 0x27 is the straight quote.
    "malformed-page-tree-loop.pdf": 0.31,
}


def run_all(data: bytes, password):
    """Each function's result, or the ValueError text it raised."""
    results = []
    for fn in FUNCTIONS:
        try:
            results.append(("ok", fn(data, password)))
        except ValueError as e:  # InternalError and anything else is a fault, and fails the test
            results.append(("error", str(e)))
    return results


@pytest.mark.parametrize("entry", ENTRIES, ids=[e["file"] for e in ENTRIES])
def test_outputs_agree(corpus, entry):
    data = (corpus_dir() / "files" / entry["file"]).read_bytes()
    password = entry["encryption"].get("user_password", "") if entry["encryption"] else None
    results = run_all(data, password)

    errors = [value for status, value in results if status == "error"]
    if errors:
        assert len(errors) == len(FUNCTIONS) and len(set(errors)) == 1, f"functions failed apart: {results!r:.400}"
        # only a damaged file without a reference text may fail
        assert entry["robustness"] and not entry.get("reference_text"), errors[0]
        return

    doc, json_text, html_text, markdown = (value for _, value in results)
    assert doc == json.loads(json_text)
    lines = [[line["text"] for line in page["lines"]] for page in doc["pages"]]
    assert [[html.unescape(p) for p in PARAGRAPH.findall(body)] for body in SECTION.findall(html_text)] == lines
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

    if entry.get("reference_text"):  # of an encrypted file: a wrong key leaves no word of it
        reference = (corpus_dir() / entry["reference_text"]).read_text(encoding="utf-8", errors="replace")
        got, floor = similarity("\n".join(sum(lines, [])), reference), FLOORS.get(entry["file"], DEFAULT_FLOOR)
        assert got >= floor, f"similarity {got:.3f} fell below {floor}"
    # The owner password gives the user's text too (wrong and empty passwords: test_encryption.py).
    if (entry["encryption"] or {}).get("owner_password") is not None:
        assert native.parse_to_markdown(data, entry["encryption"]["owner_password"]) == markdown
    check_pages_and_info(entry, data, password, doc, markdown)


def check_pages_and_info(entry: dict, data: bytes, password, doc: dict, markdown: str) -> None:
    # pages= gives the full parse's pages (all of them, in reverse order);
    # info() agrees with it and with PyMuPDF.
    pages = doc["pages"]
    n = len(pages)
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
    if pymupdf is not None:
        with pymupdf.open(stream=data) as peer:
            if password:
                peer.authenticate(password)
            # PyMuPDF gives "" for absent entries and strips nothing else.
            assert [found[k] or "" for k in INFO_KEYS] == [peer.metadata[k] for k in INFO_KEYS]
            assert outline == peer.get_toc(simple=True)
