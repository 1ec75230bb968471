"""The Python surface of vellum: argument matching, error mapping, the dict
form against the JSON form, images in the outputs, pages= and info(), module
identity. The command line: test_cli.py; how the outputs render tables,
images and OCR pages: tests/cpp/test_serialize.cpp; real files: test_corpus.py."""

from __future__ import annotations

import importlib.util
import json
import math
import os
import zlib

import pytest
from pdfbuilder import PdfBuilder, ruled_table_content, text_pdf

import vellum
import vellum._vellum as native

FUNCTIONS = [native.parse, native.parse_to_json, native.parse_to_html, native.parse_to_markdown]


ARGUMENT_ERRORS = [
    # (args, kwargs, message with {fn} for the function name)
    ((), {"password": "pw"}, "{fn}() missing 1 required positional argument: 'data'"),
    ((b"", None, None), {}, "{fn}() takes from 1 to 2 positional arguments but 3 were given"),
    ((b"",), {"pw": "x"}, "{fn}() got an unexpected keyword argument 'pw'"),
    ((b"",), {"data": b""}, "{fn}() got multiple values for argument 'data'"),
    ((type("Inner", (), {"__qualname__": "Outer.Inner"})(),), {},
     "argument 'data': 'Outer.Inner' object cannot be converted to 'PyBytes'"),
    ((b"", b"pw"), {}, "argument 'password': 'bytes' object cannot be converted to 'PyString'"),
    # data is converted first, so it is the one named when both are wrong
    ((bytearray(), 1), {}, "argument 'data': 'bytearray' object cannot be converted to 'PyBytes'"),
]


@pytest.mark.parametrize("fn", FUNCTIONS, ids=[f.__name__ for f in FUNCTIONS])
@pytest.mark.parametrize("args,kwargs,message", ARGUMENT_ERRORS)
def test_argument_errors(fn, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    assert str(info.value) == message.format(fn=fn.__name__)


def test_keywords_bytes_subclasses_int_flags_and_the_empty_password_are_accepted():
    # ("" means no password on an encrypted file too: test_encryption.py)
    data = text_pdf("Hello")
    subclass = type("BytesSub", (bytes,), {})
    assert native.parse_to_markdown(password="", data=subclass(data), strict=0) == native.parse_to_markdown(data)
    with pytest.raises(UnicodeEncodeError):
        native.parse_to_markdown(data, "\udc80")


def _content_filter(name: str) -> bytes:
    b = PdfBuilder()
    b.add_page(content=None, Contents=b.add_stream({"Filter": name}, b"BT ET"))
    return b.build()


# The trailer's errors: tests/cpp/test_doc.cpp.
BROKEN_FILES = [
    ("empty", b"", "InvalidHeader: no %PDF- header"),
    ("catalog without pages", text_pdf("x").replace(b"/Pages 2 0 R", b"/Pagez 2 0 R"),
     "InvalidObject: catalog has no /Pages"),
    ("unsupported content filter", _content_filter("/DCT"), "Unsupported: unsupported filter: DCT"),
    # a filter name from the file that is not UTF-8 still yields a readable message
    ("filter name not utf-8", _content_filter("/Bad#FF"), "Unsupported: unsupported filter: Bad\ufffd"),
]


@pytest.mark.parametrize("name,data,message", BROKEN_FILES, ids=[c[0] for c in BROKEN_FILES])
def test_library_errors_raise_the_same_value_error_everywhere(name, data, message):
    for fn in FUNCTIONS:
        with pytest.raises(ValueError) as info:
            fn(data, strict=True)
        assert type(info.value) is ValueError and info.value.args == (message,)


# ---------------------------------------------------------------- the dict form


def _pages_pdf() -> bytes:
    # text and an image; a ruled table; an image alone, which needs OCR; a line far away; nothing
    b = PdfBuilder(version="1.6")
    scan = b.add_image(8, 8)
    b.add_page(content=b"BT /F1 12 Tf 72 700 Td (Tom & \"Jerry\" <3) Tj 0 -20 Td (caf\xe9 | tab\there) Tj ET /Im0 Do",
               xobjects={"Im0": scan})
    b.add_page(content=ruled_table_content(72, 600, [100, 80], 20, [["Item", "Qty"], ["A|B", "2"]]),
               media_box=[0, 792, 612, 0], compress=True)
    b.add_page(content=b"q 612 0 0 792 0 0 cm /Im0 Do Q", xobjects={"Im0": scan}, media_box=[0, 0, 595.28, 841.89])
    b.add_page(content=b"BT /F1 12 Tf 1" + b"0" * 400 + b" 700 Td (Far) Tj ET")  # a number that reads as infinity
    b.add_page(content=b"")  # neither text nor image: no OCR
    return b.build()


# Each record's keys in order, with their Python types.
SHAPES = {
    "document": {"version": str, "pages": list},
    "page": {"width": float, "height": float, "lines": list, "needs_ocr": bool, "tables": list, "images": list},
    "lines": {"text": str, "x": float, "y": float},
    "tables": {"rows": int, "cols": int, "cells": list},
    "images": {"name": str, "format": str, "width": int, "height": int, "bits_per_component": int, "color_space": str},
}


def check_shape(record: dict, kind: str) -> None:
    assert list(record) == list(SHAPES[kind])
    assert all(type(record[k]) is t or (t is float and record[k] is None) for k, t in SHAPES[kind].items()), record
    for key in ("pages", "lines", "tables", "images"):
        for inner in record.get(key, []):
            check_shape(inner, "page" if key == "pages" else key)


def test_dict_equals_json_and_has_the_documented_shape():
    data = _pages_pdf()
    doc = native.parse(data)
    # equal values, and equal key order at every level
    assert json.dumps(doc) == json.dumps(json.loads(native.parse_to_json(data)))
    check_shape(doc, "document")
    pages = doc["pages"]
    letter = (612.0, 792.0)
    assert [(p["width"], p["height"]) for p in pages] == [letter, letter, (595.28, 841.89), letter, letter]
    assert [p["needs_ocr"] for p in pages] == [False, False, True, False, False]
    assert pages[1]["tables"] == [{"rows": 2, "cols": 2, "cells": [["Item", "Qty"], ["A|B", "2"]]}]
    # a non-finite coordinate becomes None in the dict and in the JSON
    assert all(v is None or math.isfinite(v) for line in pages[3]["lines"] for v in (line["x"], line["y"]))
    assert pages[2]["images"] == [{"name": "Im0", "format": "Raw", "width": 8, "height": 8, "bits_per_component": 8,
                                   "color_space": "DeviceGray"}]
    assert pages[0]["lines"][0]["text"] == 'Tom & "Jerry" <3' and pages[0]["images"] == pages[2]["images"]
    assert native.parse(PdfBuilder(version="1.7").build()) == {"version": "1.7", "pages": []}
    # results are fresh objects, not shared with a later call
    doc["pages"][0]["lines"].clear()
    assert native.parse(data)["pages"][0]["lines"]


def test_shared_images_are_listed_or_skipped_on_every_page_and_their_bytes_never_output():
    # The decode check of a shared image is remembered per document; the
    # result on every page must be what a fresh check gives.
    b = PdfBuilder()
    good = b.add_image(1024, 1024, data=zlib.compress(os.urandom(1 << 20)), filter="/FlateDecode")
    bad = b.add_image(4, 4, data=b"\x00broken", filter="/FlateDecode")
    for _ in range(3):
        b.add_page(content=b"", xobjects={"Logo": good, "Bad": bad})
    data = b.build()
    assert [[i["name"] for i in p["images"]] for p in vellum.parse(data)["pages"]] == [["Logo"]] * 3
    assert sum(len(fn(data)) for fn in (vellum.parse_to_json, vellum.parse_to_markdown, vellum.parse_to_html)) < 4000


# ---------------------------------------------------------------- pages= and info()
# On every corpus file (outlines, metadata) against the full parse and PyMuPDF: test_corpus.py.


THREE_PAGES = text_pdf("page 0", "page 1", "page 2")


def test_info_reads_what_pymupdf_writes():
    pymupdf = pytest.importorskip("pymupdf")
    doc = pymupdf.open()
    doc.new_page()
    doc.set_metadata({"title": "Résumé <☃>", "creationDate": "D:20240501123000+02'00'", "modDate": "D:20240502Z"})
    data = doc.tobytes()
    # the strings and page counts of files from many writers: the corpus walk, against PyMuPDF
    dates = ("2024-05-01T12:30:00+02:00", "2024-05-02T00:00:00+00:00")
    assert (vellum.info(data)["creation_date"], vellum.info(data)["modification_date"]) == dates
    # the document's title, escaped, wins over the default title
    assert "<title>Résumé &lt;☃&gt;</title>" in vellum.parse_to_html(data, default_title="ignored")


def test_pages_in_the_order_given():
    for pages, expected in [([-1, -3, 1, 1], [2, 0, 1, 1]), ([], []), ((i for i in [1]), [1])]:
        doc = vellum.parse(THREE_PAGES, pages=pages)
        assert [p["lines"][0]["text"] for p in doc["pages"]] == [f"page {i}" for i in expected]


@pytest.mark.parametrize("pages,error,message", [
    ([3], IndexError, "page index 3 out of range: the document has 3 pages"),
    ([-4], IndexError, "page index -4 out of range: the document has 3 pages"),
    ([10**30], IndexError, "the document has 3 pages"),
    ([1.0], TypeError, "'float' object cannot be interpreted as an integer"), (0, TypeError, "'int' object is not iterable"),
    ("0", TypeError, "not a string"), (b"\x00", TypeError, "not a string")])
def test_bad_pages(pages, error, message):
    with pytest.raises(error, match=message):
        vellum.parse_to_html(THREE_PAGES, pages=pages)


# ---------------------------------------------------------------- the module


# The signatures against the stub: test_typing.py (stubtest).
def test_module_definition():
    assert vellum.__all__[:5] == native.__all__
    # the same objects (RecoveryWarning among them, a UserWarning: the recovery tests catch it as one)
    assert all(getattr(vellum, name) is getattr(native, name) for name in native.__all__ + ["RecoveryWarning"])
    # InternalError (a fault in the library) must pass through `except Exception`
    assert issubclass(native.InternalError, BaseException) and not issubclass(native.InternalError, Exception)


def test_second_initialisation_raises_import_error():
    # The same shared object under a second module name: the interpreter runs
    # its initialisation again instead of reusing the first module.
    location = importlib.util.spec_from_file_location("again._vellum", native.__file__)
    with pytest.raises(ImportError, match="^vellum._vellum is already initialised in this process$"):
        importlib.util.module_from_spec(location)
    assert native.parse(text_pdf("still here"))["pages"][0]["lines"][0]["text"] == "still here"
