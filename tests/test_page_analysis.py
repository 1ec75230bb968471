"""Tables, images and the OCR flag through every output and on real files;
how tables are found and which images are listed: the C++ tests."""

from __future__ import annotations

import json
import os
import re
import zlib

import vellum
from pdfbuilder import PdfBuilder, ruled_table_content, text_content

OCR_PLACEHOLDER = "_[scanned page \u2014 text extraction requires OCR]_"


def all_outputs(data: bytes):
    doc = vellum.parse(data)
    assert json.loads(vellum.parse_to_json(data)) == doc
    return doc, vellum.parse_to_markdown(data), vellum.parse_to_html(data)


def test_ruled_table_in_every_output():
    b = PdfBuilder()
    b.add_page(content=text_content([(72, 720, "Invoice")]) + b"\n" + ruled_table_content(
        72, 700, [100, 60], 20, [["Item", "Qty"], ["A|B", "2"]]))
    doc, md, html = all_outputs(b.build())
    assert doc["pages"][0]["tables"] == [{"rows": 2, "cols": 2, "cells": [["Item", "Qty"], ["A|B", "2"]]}]
    assert md.startswith("Invoice\n") and md.endswith("\n\n| Item | Qty |\n| --- | --- |\n| A\\|B | 2 |")
    assert "<table>\n<tr><td>Item</td><td>Qty</td></tr>\n<tr><td>A|B</td><td>2</td></tr>\n</table>\n" in html


def test_needs_ocr_rule_and_renderings():
    b = PdfBuilder()
    image = {"Im0": b.add_image(8, 8)}
    b.add_page(content=b"/Im0 Do", xobjects=image)  # image, no text: needs OCR
    b.add_page(content=text_content([(72, 700, "caption")]), xobjects=image)  # image and text
    b.add_page(content=b"")  # neither
    doc, md, html = all_outputs(b.build())
    assert [p["needs_ocr"] for p in doc["pages"]] == [True, False, False]
    assert md == OCR_PLACEHOLDER + "\n\n---\n\ncaption\n\n---\n\n"
    assert html.count(' data-needs-ocr="true"') == 1


def test_image_bytes_never_reach_any_output():
    b = PdfBuilder()
    b.add_page(content=b"", xobjects={"Im0": b.add_image(1024, 1024, data=os.urandom(1 << 20))})
    doc, md, html = all_outputs(b.build())
    assert len(json.dumps(doc) + md + html) < 2000


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
