"""Tables, images and the OCR flag, through every output, and on real files."""

from __future__ import annotations

import json
import os
import zlib

import pytest

import vellum
from pdfbuilder import PdfBuilder, ruled_table_content, text_content

OCR_PLACEHOLDER = "_[scanned page \u2014 text extraction requires OCR]_"


def build(pages) -> bytes:
    """`pages`: list of (content bytes, xobjects dict-builder or None)."""
    b = PdfBuilder()
    for content, images in pages:
        xobjects = images(b) if images else None
        b.add_page(content=content, xobjects=xobjects)
    return b.build()


def all_outputs(data: bytes):
    return (vellum.parse(data), vellum.parse_to_markdown(data), vellum.parse_to_html(data),
            json.loads(vellum.parse_to_json(data)))


def test_ruled_table_in_every_output():
    content = text_content([(72, 720, "Invoice")]) + b"\n" + ruled_table_content(
        72, 700, [100, 60], 20, [["Item", "Qty"], ["A|B", "2"]])
    doc, md, html, js = all_outputs(build([(content, None)]))
    table = doc["pages"][0]["tables"][0]
    assert table == {"rows": 2, "cols": 2, "cells": [["Item", "Qty"], ["A|B", "2"]]}
    assert js == doc
    assert md.startswith("Invoice\n")
    assert md.endswith("\n\n| Item | Qty |\n| --- | --- |\n| A\\|B | 2 |")
    assert "<table>\n<tr><td>Item</td><td>Qty</td></tr>\n<tr><td>A|B</td><td>2</td></tr>\n</table>\n" in html


def test_rectangles_lines_and_transforms_give_the_same_grid():
    cells = b"BT /F1 9 Tf 1 0 0 1 105 705 Tm (a) Tj 1 0 0 1 205 705 Tm (b) Tj ET"
    as_rects = b"100 700 100 20 re 200 700 100 20 re S\n" + cells
    as_lines = b"100 700 m 300 700 l 100 720 m 300 720 l 100 700 m 100 720 l 200 700 m 200 720 l " \
               b"300 700 m 300 720 l S\n" + cells
    # The same rules drawn at half size and scaled up by the CTM, inside q/Q.
    scaled = b"q 2 0 0 2 0 0 cm 50 350 50 10 re 100 350 50 10 re S Q\n" + cells
    for content in (as_rects, as_lines, scaled):
        tables = vellum.parse(build([(content, None)]))["pages"][0]["tables"]
        assert tables == [{"rows": 1, "cols": 2, "cells": [["a", "b"]]}], content


def test_horizontal_rules_alone_are_no_table():
    content = b"72 700 m 540 700 l S 72 650 m 540 650 l S\n" + text_content([(72, 710, "Heading")])
    assert vellum.parse(build([(content, None)]))["pages"][0]["tables"] == []


def image(b: PdfBuilder, **kw):
    return b.add_image(4, 4, **kw)


@pytest.mark.parametrize("filters, color_space, expected", [
    (None, "/DeviceGray", ("Raw", "DeviceGray")),
    ("/DCTDecode", "/DeviceRGB", ("Jpeg", "DeviceRGB")),
    ("[/FlateDecode /DCTDecode]", "[/ICCBased 99 0 R]", ("Jpeg", "ICCBased")),
    ("/JPXDecode", "[]", ("Jpeg2000", "Unknown")),
    ("/JBIG2Decode", "/DeviceGray", ("Jbig2", "DeviceGray")),
    ("/CCITTFaxDecode", "[/Indexed /DeviceRGB 1 <000000FFFFFF>]", ("Ccitt", "Indexed")),
])
def test_image_records(filters, color_space, expected):
    def images(b):
        data = b"\x80" * 16
        if filters and filters.startswith("[/FlateDecode"):
            data = zlib.compress(data)
        return {"Im0": b.add_image(4, 4, data=data, color_space=color_space, filter=filters)}
    doc = vellum.parse(build([(b"", images)]))
    [img] = doc["pages"][0]["images"]
    assert (img["format"], img["color_space"]) == expected
    assert (img["width"], img["height"], img["bits_per_component"]) == (4, 4, 8)
    assert list(img) == ["name", "format", "width", "height", "bits_per_component", "color_space"]


def test_images_skipped_listed_twice_and_forms_not_entered():
    def images(b):
        good = b.add_image(2, 2)
        broken = b.add_image(2, 2, data=b"not flate", filter="/FlateDecode")
        unknown = b.add_image(2, 2, filter="/Crypt")
        inner = b.add_image(2, 2)
        form = b.add_stream({"Type": "/XObject", "Subtype": "/Form", "BBox": [0, 0, 1, 1],
                             "Resources": {"XObject": {"In": inner}}}, b"/In Do")
        return {"A": good, "Bad": broken, "Crypt": unknown, "Fm": form, "B": good}
    [page] = vellum.parse(build([(b"", images)]))["pages"]
    assert [i["name"] for i in page["images"]] == ["A", "B"]


def test_needs_ocr_rule_and_renderings():
    def one_image(b):
        return {"Im0": b.add_image(8, 8)}
    data = build([
        (b"/Im0 Do", one_image),                                # image, no text: needs OCR
        (text_content([(72, 700, "caption")]), one_image),      # image and text
        (b"", None),                                             # neither
    ])
    doc, md, html, js = all_outputs(data)
    assert [p["needs_ocr"] for p in doc["pages"]] == [True, False, False]
    assert md == OCR_PLACEHOLDER + "\n\n---\n\ncaption\n\n---\n\n"
    assert html.count(' data-needs-ocr="true"') == 1
    assert js == doc


def test_image_bytes_never_reach_any_output():
    big = os.urandom(1 << 20)
    def images(b):
        return {"Im0": b.add_image(1024, 1024, data=big)}
    doc, md, html, js = all_outputs(build([(b"", images)]))
    out = json.dumps(doc) + md + html
    assert len(out) < 2000


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
