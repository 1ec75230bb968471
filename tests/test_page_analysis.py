"""Images and the OCR flag through every output, and tables, images and the
OCR flag on real files. How tables are found, which images are listed and
how the outputs render them: the C++ tests; the dict form: test_api.py."""

from __future__ import annotations

import os
import re
import zlib

import vellum
from pdfbuilder import PdfBuilder


def test_image_bytes_never_reach_any_output():
    b = PdfBuilder()
    b.add_page(content=b"", xobjects={"Im0": b.add_image(1024, 1024, data=os.urandom(1 << 20))})
    data = b.build()
    assert len(vellum.parse_to_json(data) + vellum.parse_to_markdown(data) + vellum.parse_to_html(data)) < 2000


def test_images_shared_by_pages_are_listed_or_skipped_on_every_page():
    # The decode check of a shared image is remembered per document; the
    # result on every page must be what a fresh check gives.
    b = PdfBuilder()
    good = b.add_image(4, 4, data=zlib.compress(b"\x80" * 16), filter="/FlateDecode")
    bad = b.add_image(4, 4, data=b"\x00broken", filter="/FlateDecode")
    for _ in range(3):
        b.add_page(content=b"", xobjects={"Logo": good, "Bad": bad})
    pages = vellum.parse(b.build())["pages"]
    assert [[i["name"] for i in p["images"]] for p in pages] == [["Logo"]] * 3


# ---------------------------------------------------------------- corpus

def _parse(corpus, rec):
    enc = rec.get("encryption")
    with open(os.path.join(corpus, "files", rec["file"]), "rb") as f:
        return vellum.parse(f.read(), enc.get("user_password") if enc else None)


# Files whose pages paint a ruled grid (seen rendered); the other files tagged
# "tables" hold underlines, boxed text or forms, which are no table.
PAINTED_GRIDS = [
    "word2010-geobase-19-pages.pdf", "excel2013-warn-report-16-pages.pdf", "excel2013-energy-table.pdf",
    "quartz-nics-table-rotated.pdf", "itext-senate-expenditures-rotated.pdf", "pscript-table-curves.pdf",
    "pdfmaker-excel-cjk.pdf",
]


def test_corpus_painted_grids_yield_a_table(corpus, manifest):
    by_name = {r["file"]: r for r in manifest}
    for name in PAINTED_GRIDS:
        doc = _parse(corpus, by_name[name])
        assert any(p["tables"] for p in doc["pages"]), name
    # One page of prose with highlighted words and a page-sized clip.
    assert not any(p["tables"] for p in _parse(corpus, by_name["libreoffice64-writer-trivial.pdf"])["pages"])


LETTER_SPACED = re.compile(r"^([^\W\d_] )+[^\W\d_]$")  # "p d f e n c" rather than words


def test_corpus_markdown_has_no_letter_spaced_cells(corpus, manifest):
    for rec in manifest:
        try:
            doc = _parse(corpus, rec)
        except ValueError:
            continue  # files vellum refuses are covered elsewhere
        cells = [c for page in doc["pages"] for table in page["tables"] for row in table["cells"] for c in row]
        assert not [c for c in cells if len(c) >= 7 and LETTER_SPACED.match(c)], rec["file"]


def test_corpus_scanned_files_yield_pages_needing_ocr(corpus, manifest):
    records = [r for r in manifest if "scanned" in r["features"] and r["scanned_pages"]]
    assert len(records) >= 10
    for rec in records:
        flagged = [p for p in _parse(corpus, rec)["pages"] if p["needs_ocr"]]
        # A flagged page never has lines; every flagged page lists an image.
        assert flagged and all(not p["lines"] and p["images"] for p in flagged), rec["file"]
