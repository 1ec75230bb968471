"""Tables, images and the OCR flag, through every output, and on real files.
How tables are found and which images are listed is checked in the C++
tests; here the records must reach the dict, the JSON, the Markdown and the
HTML, and the document-level rules (the OCR flag, the per-document image
check) must hold."""

from __future__ import annotations

import json
import os
import zlib

import vellum
from pdfbuilder import PdfBuilder, ruled_table_content, text_content

OCR_PLACEHOLDER = "_[scanned page \u2014 text extraction requires OCR]_"


def all_outputs(data: bytes):
    return (vellum.parse(data), vellum.parse_to_markdown(data), vellum.parse_to_html(data),
            json.loads(vellum.parse_to_json(data)))


def test_ruled_table_in_every_output():
    b = PdfBuilder()
    b.add_page(content=text_content([(72, 720, "Invoice")]) + b"\n" + ruled_table_content(
        72, 700, [100, 60], 20, [["Item", "Qty"], ["A|B", "2"]]))
    doc, md, html, js = all_outputs(b.build())
    table = doc["pages"][0]["tables"][0]
    assert table == {"rows": 2, "cols": 2, "cells": [["Item", "Qty"], ["A|B", "2"]]}
    assert js == doc
    assert md.startswith("Invoice\n")
    assert md.endswith("\n\n| Item | Qty |\n| --- | --- |\n| A\\|B | 2 |")
    assert "<table>\n<tr><td>Item</td><td>Qty</td></tr>\n<tr><td>A|B</td><td>2</td></tr>\n</table>\n" in html


def test_needs_ocr_rule_and_renderings():
    b = PdfBuilder()
    image = {"Im0": b.add_image(8, 8)}
    b.add_page(content=b"/Im0 Do", xobjects=image)  # image, no text: needs OCR
    b.add_page(content=text_content([(72, 700, "caption")]), xobjects=image)  # image and text
    b.add_page(content=b"")  # neither
    doc, md, html, js = all_outputs(b.build())
    assert [p["needs_ocr"] for p in doc["pages"]] == [True, False, False]
    assert md == OCR_PLACEHOLDER + "\n\n---\n\ncaption\n\n---\n\n"
    assert html.count(' data-needs-ocr="true"') == 1
    assert js == doc


def test_image_bytes_never_reach_any_output():
    b = PdfBuilder()
    b.add_page(content=b"", xobjects={"Im0": b.add_image(1024, 1024, data=os.urandom(1 << 20))})
    doc, md, html, js = all_outputs(b.build())
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

def _records(manifest, feature):
    return [r for r in manifest if feature in r["features"]]


def _parse(corpus, rec):
    enc = rec.get("encryption")
    with open(os.path.join(corpus, "files", rec["file"]), "rb") as f:
        return vellum.parse(f.read(), enc.get("user_password") if enc else None)


def test_corpus_files_tagged_tables_yield_a_table(corpus, manifest):
    records = _records(manifest, "tables")
    assert len(records) >= 10
    for rec in records:
        doc = _parse(corpus, rec)
        assert any(p["tables"] for p in doc["pages"]), rec["file"]


def test_corpus_scanned_files_yield_pages_needing_ocr(corpus, manifest):
    records = [r for r in _records(manifest, "scanned") if r["scanned_pages"]]
    assert len(records) >= 10
    for rec in records:
        doc = _parse(corpus, rec)
        flagged = sum(p["needs_ocr"] for p in doc["pages"])
        assert flagged >= 1, rec["file"]
        # A flagged page never has lines; every flagged page lists an image.
        for p in doc["pages"]:
            if p["needs_ocr"]:
                assert not p["lines"] and p["images"], rec["file"]
