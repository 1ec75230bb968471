"""Small files whose shape once made the work grow with the square of their
size (or exponentially): shared /Kids arrays, shared resources, fonts sharing
one ToUnicode map or /Widths array, a broken object referenced many times,
long names and long ToUnicode texts. Each must come out quickly and intact.
The sizes are such that the old paths took minutes or ran out of memory,
while the linear ones take a fraction of a second."""

from __future__ import annotations

import pytest

import vellum
from pdfbuilder import PdfBuilder, Ref

SHOW_X = b"BT /F0 12 Tf 72 700 Td (x) Tj ET"


def with_page_tree(b: PdfBuilder, root: Ref) -> bytes:
    b.set_object(PdfBuilder.CATALOG, {"Type": "/Catalog", "Pages": root})
    return b.build()


def pages_sharing(b: PdfBuilder, resources: Ref, count: int, content: bytes = SHOW_X) -> bytes:
    """`count` pages with the same content stream and resources."""
    stream = b.add_stream(None, content)
    kids = [b.add_object({"Type": "/Page", "Contents": stream, "Resources": resources}) for _ in range(count)]
    return with_page_tree(b, b.add_object({"Type": "/Pages", "Kids": kids, "Count": count}))


def fonts_sharing(b: PdfBuilder, part: dict, count: int) -> Ref:
    """Resources with `count` font objects F0, F1, ... that all carry `part`."""
    fonts = {f"F{i}": b.add_object({"Type": "/Font", "Subtype": "/Type1", "BaseFont": "/Helvetica", **part})
             for i in range(count)}
    return b.add_object({"Font": fonts})


def parents_sharing_one_kids_array(b):
    kids = b.add_object(["<< /Type /Page >>"] * 5000)
    parents = [b.add_object({"Type": "/Pages", "Kids": kids}) for _ in range(5000)]
    return with_page_tree(b, b.add_object({"Type": "/Pages", "Kids": parents})), [""] * 5000


def pages_sharing_direct_fonts(b):
    fonts = {f"F{i}": "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>" for i in range(3000)}
    return pages_sharing(b, b.add_object({"Font": fonts}), 3000), ["x"] * 3000


def pages_sharing_resources_with_many_keys(b):
    junk = " ".join(f"/K{i} 0" for i in range(30000))
    resources = b.add_object(f"<< {junk} /Font << /F0 << /Type /Font /Subtype /Type1 >> >> >>")
    return pages_sharing(b, resources, 30000), ["x"] * 30000


def fonts_sharing_one_to_unicode(b):
    entries = b"".join(b"<%04X> <%04X>\n" % (i, 0x41 + i % 26) for i in range(40000))
    to_unicode = b.add_stream(None, b"40000 beginbfchar\n" + entries + b"endbfchar")
    return pages_sharing(b, fonts_sharing(b, {"ToUnicode": to_unicode}, 10000), 1), [chr(0x41 + ord("x") % 26)]


def fonts_sharing_one_widths_array(b):
    widths = b.add_object([500] * 200000)
    return pages_sharing(b, fonts_sharing(b, {"FirstChar": 0, "Widths": widths}, 20000), 1), ["x"]


def fonts_sharing_one_broken_object(b):
    broken = b.add_object("[" + "0 " * 200000 + "foo")  # an array that never closes
    return pages_sharing(b, fonts_sharing(b, {"Encoding": broken}, 20000), 1), ["x"]


def long_font_name(b):
    name = "F" * 400000
    font = b.add_object({"Type": "/Font", "Subtype": "/Type1", "BaseFont": "/Helvetica"})
    content = b"BT /%s 12 Tf 72 700 Td " % name.encode() + b"(a) Tj " * 20000 + b"ET"
    return pages_sharing(b, b.add_object(f"<< /Font << /{name} {font} >> >>"), 1, content), ["a" * 20000]


def long_to_unicode_text(b):
    # Code <61> stands for 100,000 characters; only the first 512 bytes of
    # UTF-16 (256 characters) are kept, so 1,000 shows give 256,000.
    to_unicode = b.add_stream(None, b"1 beginbfchar <61> <" + b"0041" * 100000 + b"> endbfchar")
    content = b"BT /F0 12 Tf 72 700 Td (" + b"a" * 1000 + b") Tj ET"
    return pages_sharing(b, fonts_sharing(b, {"ToUnicode": to_unicode}, 1), 1, content), ["A" * 256000]


CASES = [
    parents_sharing_one_kids_array,
    pages_sharing_direct_fonts,
    pages_sharing_resources_with_many_keys,
    fonts_sharing_one_to_unicode,
    fonts_sharing_one_widths_array,
    fonts_sharing_one_broken_object,
    long_font_name,
    long_to_unicode_text,
]


@pytest.mark.parametrize("make", CASES, ids=[c.__name__ for c in CASES])
def test_hostile_shapes_come_out_whole(make):
    data, page_texts = make(PdfBuilder())
    doc = vellum.parse(data)
    assert ["\n".join(line["text"] for line in page["lines"]) for page in doc["pages"]] == page_texts
