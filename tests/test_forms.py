"""Form XObjects through the public API: what a page draws through a form
comes out as if the page had drawn it, and the image list and OCR flag stay
the page's own. Operator level: tests/cpp/test_form.cpp."""

from __future__ import annotations

import zlib

import pytest

import vellum
from pdfbuilder import PdfBuilder, ruled_table_content, text_content

BODY = text_content([(72, 720, "Quarterly report"), (72, 700, "Revenue grew in every region.")]) + b"\n" + \
    ruled_table_content(72, 660, [120, 80], 20, [["Region", "Sales"], ["North", "1,200"], ["South", "950"]])


def form(b: PdfBuilder, content: bytes, **entries) -> object:
    return b.add_stream({"Type": "/XObject", "Subtype": "/Form", "BBox": [0, 0, 612, 792], **entries}, content)


@pytest.mark.parametrize("nested", [False, True], ids=["own-resources", "inherited-resources-nested"])
@pytest.mark.parametrize("matrix", [[1, 0, 0, 1, 0, 0], [1, 0, 0, 1, 30, -200], [0.5, 0, 0, 0.5, 100, 50]])
def test_form_content_reads_as_if_the_page_drew_it(nested, matrix):
    direct, b = PdfBuilder(), PdfBuilder()
    direct.add_page(content=b"q " + " ".join(map(str, matrix)).encode() + b" cm\n" + BODY + b"\nQ")
    if nested:  # the inner form takes its font from the page's resources
        outer = form(b, b"/Inner Do", Matrix=matrix)
        b.add_page(content=b"q /Outer Do Q", xobjects={"Outer": outer, "Inner": form(b, BODY)})
    else:
        x = form(b, BODY, Resources={"Font": {"F1": b.standard_font()}}, Matrix=matrix)
        b.add_page(content=b"/X0 Do", fonts={}, xobjects={"X0": x})
    got, want = b.build(), direct.build()
    page = vellum.parse(got)["pages"][0]
    assert [page] == vellum.parse(want)["pages"]  # the model every rendering is made from
    assert page["tables"][0]["cells"] == [["Region", "Sales"], ["North", "1,200"], ["South", "950"]]
    assert "Revenue grew in every region." in [line["text"] for line in page["lines"]]


def test_images_are_the_pages_own_and_the_ocr_flag_follows_the_text():
    # Forms and their images are not listed: a page with a scan and a form
    # that shows text and draws a logo lists the scan; with a form that draws
    # only rules it needs OCR.
    b = PdfBuilder()
    scan = b.add_image(8, 8)
    footer = form(b, text_content([(72, 40, "Page footer text")]) + b"\n/Logo Do",
                  Resources={"Font": {"F1": b.standard_font()}, "XObject": {"Logo": b.add_image(4, 4)}})
    for drawn in (footer, form(b, b"0 0 m 10 10 l S")):
        b.add_page(content=b"/Scan Do /Form Do", fonts={}, xobjects={"Scan": scan, "Form": drawn})
    pages = vellum.parse(b.build())["pages"]
    assert [([image["name"] for image in page["images"]], page["needs_ocr"]) for page in pages] == [
        (["Scan"], False), (["Scan"], True)]


def test_a_bomb_form_on_every_page_is_decoded_once():
    # 256 MiB of blanks around one line, deflated to a few hundred KB and
    # drawn by 40 pages: decoded once per document it fits the 4 GiB content
    # budget; decoded per page it would not, and later pages would lose it.
    b = PdfBuilder()
    x = b.add_stream({"Type": "/XObject", "Subtype": "/Form", "Resources": {"Font": {"F1": b.standard_font()}},
                      "Filter": "/FlateDecode"},
                     zlib.compress(b"BT /F1 12 Tf 72 700 Td (stamp) Tj ET" + b" " * (256 << 20), 1))
    for _ in range(40):
        b.add_page(content=b"/X0 Do BT /F1 12 Tf 72 600 Td (own) Tj ET", xobjects={"X0": x})
    pages = vellum.parse(b.build())["pages"]
    assert [[line["text"] for line in page["lines"]] for page in pages] == [["stamp", "own"]] * 40
