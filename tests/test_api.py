"""The Python surface of vellum: argument matching, error mapping, the dict
form against the JSON form, module identity and file layouts. The command
line: test_cli.py."""

from __future__ import annotations

import json
import math
import subprocess
import sys
import textwrap

import pytest
from pdfbuilder import Hex, PdfBuilder, Ref, ruled_table_content

import vellum
import vellum._vellum as native

FUNCTIONS = [native.parse, native.parse_to_json, native.parse_to_html, native.parse_to_markdown]
FUNCTION_IDS = [f.__name__ for f in FUNCTIONS]
TEXT_FUNCTIONS = FUNCTIONS[1:]


def simple_pdf(text: bytes = b"Hello") -> bytes:
    b = PdfBuilder()
    b.add_page(content=b"BT /F1 12 Tf 72 700 Td (" + text + b") Tj ET")
    return b.build()


class Outer:
    class Inner:
        pass


# ---------------------------------------------------------------- arguments

ARGUMENT_ERRORS = [
    # (args, kwargs, message with {fn} for the function name)
    ((), {}, "{fn}() missing 1 required positional argument: 'data'"),
    ((), {"password": "pw"}, "{fn}() missing 1 required positional argument: 'data'"),
    ((b"", None, None), {}, "{fn}() takes from 1 to 2 positional arguments but 3 were given"),
    ((b"",), {"pw": "x"}, "{fn}() got an unexpected keyword argument 'pw'"),
    ((b"",), {"data": b""}, "{fn}() got multiple values for argument 'data'"),
    ((b"", None), {"password": None}, "{fn}() got multiple values for argument 'password'"),
    ((bytearray(b"%PDF-1.4"),), {}, "argument 'data': 'bytearray' object cannot be converted to 'PyBytes'"),
    (("%PDF-1.4",), {}, "argument 'data': 'str' object cannot be converted to 'PyBytes'"),
    ((Outer.Inner(),), {}, "argument 'data': 'Outer.Inner' object cannot be converted to 'PyBytes'"),
    ((b"", b"pw"), {}, "argument 'password': 'bytes' object cannot be converted to 'PyString'"),
    # data is converted first, so it is the one named when both are wrong
    ((bytearray(), 1), {}, "argument 'data': 'bytearray' object cannot be converted to 'PyBytes'"),
]


@pytest.mark.parametrize("fn", FUNCTIONS, ids=FUNCTION_IDS)
@pytest.mark.parametrize("args,kwargs,message", ARGUMENT_ERRORS)
def test_argument_errors(fn, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    assert str(info.value) == message.format(fn=fn.__name__)


@pytest.mark.parametrize("fn", FUNCTIONS, ids=FUNCTION_IDS)
def test_password_not_encodable_raises_the_encoding_error(fn):
    with pytest.raises(UnicodeEncodeError):
        fn(simple_pdf(), "\udc80")


class BytesSub(bytes):
    pass


class StrSub(str):
    pass


@pytest.mark.parametrize(
    "call",
    [
        lambda fn, d: fn(d),
        lambda fn, d: fn(d, None),
        lambda fn, d: fn(d, ""),
        lambda fn, d: fn(data=d),
        lambda fn, d: fn(data=d, password=""),
        lambda fn, d: fn(password=None, data=d),
        lambda fn, d: fn(d, None, strict=True),
        lambda fn, d: fn(strict=0, data=d),
        lambda fn, d: fn(BytesSub(d), StrSub("")),
    ],
)
@pytest.mark.parametrize("fn", FUNCTIONS, ids=FUNCTION_IDS)
def test_absent_none_and_empty_password_agree(fn, call):
    data = simple_pdf()
    assert call(fn, data) == fn(data)


# ---------------------------------------------------------------- library errors


def _without_root() -> bytes:
    return PdfBuilder(trailer={"Root": None}).build()


def _catalog_without_pages() -> bytes:
    b = PdfBuilder()
    b.set_object(PdfBuilder.CATALOG, {"Type": "/Catalog"})
    return b.build()


def _missing_encrypt_object() -> bytes:
    b = PdfBuilder(trailer={"Encrypt": Ref(99), "ID": [Hex(b"0123456789abcdef")] * 2})
    b.add_page(content=b"BT ET")
    return b.build()


def _content_filter(name: str) -> bytes:
    b = PdfBuilder()
    b.add_page(content=None, Contents=b.add_stream({"Filter": name}, b"BT ET"))
    return b.build()


BROKEN_FILES = [
    ("empty", b"", "InvalidHeader: no %PDF- header"),
    ("header only", b"%PDF-1.4\n", "InvalidXref: no startxref"),
    ("no root", _without_root(), "MissingTrailer: trailer has no /Root"),
    ("catalog without pages", _catalog_without_pages(), "InvalidObject: catalog has no /Pages"),
    ("encrypt object missing", _missing_encrypt_object(), "ObjectNotFound: no such object"),
    ("unsupported content filter", _content_filter("/DCT"), "Unsupported: unsupported filter: DCT"),
    # a filter name from the file that is not UTF-8 still yields a readable message
    ("filter name not utf-8", _content_filter("/Bad#FF"), "Unsupported: unsupported filter: Bad\ufffd"),
]


@pytest.mark.parametrize("name,data,message", BROKEN_FILES, ids=[c[0] for c in BROKEN_FILES])
def test_library_errors_raise_the_same_value_error_everywhere(name, data, message):
    texts = []
    for fn in FUNCTIONS:
        with pytest.raises(ValueError) as info:
            fn(data, strict=True)
        assert type(info.value) is ValueError
        assert len(info.value.args) == 1 and isinstance(info.value.args[0], str)
        texts.append(str(info.value))
    assert texts == [message] * len(FUNCTIONS)


# ---------------------------------------------------------------- the dict form


def _pages_pdf() -> bytes:
    b = PdfBuilder(version="1.6")
    b.add_page(content=b"BT /F1 12 Tf 72 700 Td (Tom & \"Jerry\" <3) Tj 0 -20 Td (caf\xe9 | tab\there) Tj ET")
    b.add_page(
        content=ruled_table_content(72, 600, [100, 80], 20, [["Item", "Qty"], ["A|B", "2"]]),
        media_box=[0, 792, 612, 0],
        compress=True,
    )
    scan = b.add_image(8, 8)
    b.add_page(content=b"q 612 0 0 792 0 0 cm /Im0 Do Q", xobjects={"Im0": scan}, media_box=[0, 0, 595.28, 841.89])
    b.add_page(content=b"")
    return b.build()


def _empty_tree() -> bytes:
    return PdfBuilder(version="1.7").build()


DOCUMENTS = {"pages": _pages_pdf, "empty tree": _empty_tree, "hello": lambda: simple_pdf()}

KEY_ORDER = {
    "document": ["version", "pages"],
    "page": ["width", "height", "lines", "needs_ocr", "tables", "images"],
    "line": ["text", "x", "y"],
    "table": ["rows", "cols", "cells"],
    "image": ["name", "format", "width", "height", "bits_per_component", "color_space"],
}


def check_shape(doc: dict) -> None:
    """Key order and Python types of every record (Nones only for non-finite floats)."""
    assert list(doc) == KEY_ORDER["document"]
    assert type(doc["version"]) is str and type(doc["pages"]) is list
    for page in doc["pages"]:
        assert list(page) == KEY_ORDER["page"]
        for key in ("width", "height"):
            assert page[key] is None or type(page[key]) is float
        assert page["needs_ocr"] is True or page["needs_ocr"] is False
        for line in page["lines"]:
            assert list(line) == KEY_ORDER["line"]
            assert type(line["text"]) is str
            assert all(line[k] is None or type(line[k]) is float for k in ("x", "y"))
        for table in page["tables"]:
            assert list(table) == KEY_ORDER["table"]
            assert type(table["rows"]) is int and type(table["cols"]) is int
            assert type(table["cells"]) is list
            assert all(type(row) is list and all(type(c) is str for c in row) for row in table["cells"])
        for image in page["images"]:
            assert list(image) == KEY_ORDER["image"]
            assert image["format"] in ("Jpeg", "Jpeg2000", "Ccitt", "Jbig2", "Raw")
            assert all(type(image[k]) is int for k in ("width", "height", "bits_per_component"))
            assert type(image["name"]) is str and type(image["color_space"]) is str


@pytest.mark.parametrize("make", DOCUMENTS.values(), ids=list(DOCUMENTS))
def test_dict_equals_json_and_has_the_documented_shape(make):
    data = make()
    doc = native.parse(data)
    check_shape(doc)
    # equal values, and (object_pairs_hook) equal key order at every level
    assert doc == json.loads(native.parse_to_json(data))
    assert json.dumps(doc) == json.dumps(json.loads(native.parse_to_json(data)))


def test_dict_values_of_a_small_document():
    doc = native.parse(_pages_pdf())
    assert doc["version"] == "1.6"
    pages = doc["pages"]
    assert [(p["width"], p["height"]) for p in pages] == [(612.0, 792.0), (612.0, 792.0), (595.28, 841.89), (612.0, 792.0)]
    assert [p["needs_ocr"] for p in pages] == [False, False, True, False]
    assert pages[2]["lines"] == [] and pages[3]["lines"] == [] and pages[3]["images"] == []
    image = pages[2]["images"][0]
    assert (image["name"], image["format"], image["width"], image["bits_per_component"]) == ("Im0", "Raw", 8, 8)
    assert image["color_space"] == "DeviceGray"
    assert [line["text"] for line in pages[0]["lines"]][0] == 'Tom & "Jerry" <3'
    assert native.parse(_empty_tree()) == {"version": "1.7", "pages": []}


def test_non_finite_coordinate_becomes_none_in_dict_and_json():
    # A number too large for a double reads as infinity.
    huge = b"1" + b"0" * 400
    b = PdfBuilder()
    b.add_page(content=b"BT /F1 12 Tf " + huge + b" 700 Td (Far) Tj ET")
    data = b.build()
    doc = native.parse(data)
    assert doc == json.loads(native.parse_to_json(data))
    for page in doc["pages"]:
        for line in page["lines"]:
            assert all(v is None or math.isfinite(v) for v in (line["x"], line["y"]))


def test_results_are_fresh_objects():
    data = _pages_pdf()
    first, second = native.parse(data), native.parse(data)
    assert first == second
    first["pages"][0]["lines"].clear()
    assert native.parse(data) == second


def test_renderings_are_str_and_html_is_escaped():
    # the Markdown and HTML of tables and scanned pages: test_page_analysis.py
    data = _pages_pdf()
    assert all(type(fn(data)) is str for fn in TEXT_FUNCTIONS)
    html = native.parse_to_html(data)
    assert html.startswith("<!DOCTYPE html>\n") and html.endswith("</html>\n")
    assert "<p>Tom &amp; &quot;Jerry&quot; &lt;3</p>" in html
    assert '<section class="page" style="width:595px;height:842px" data-needs-ocr="true">' in html


# ---------------------------------------------------------------- the module


def test_module_definition():
    assert native.__name__ == "vellum._vellum"
    assert native.__doc__ == "The native extension module (`vellum._vellum`)."
    assert native.__all__ == ["parse", "parse_to_json", "parse_to_html", "parse_to_markdown", "info"]
    assert vellum.__all__[:5] == native.__all__
    assert all(getattr(vellum, name) is getattr(native, name) for name in native.__all__)
    # InternalError (a fault in the library) must pass through `except Exception`
    assert issubclass(native.InternalError, BaseException)
    assert not issubclass(native.InternalError, Exception)
    assert native.InternalError.__module__ == "vellum._vellum"
    signatures = {fn: "(data, password=None, *, strict=False, pages=None)" for fn in FUNCTIONS}
    signatures[native.parse_to_html] = "(data, password=None, *, strict=False, pages=None, default_title=None)"
    signatures[native.info] = "(data, password=None, *, strict=False)"
    assert {fn: fn.__text_signature__ for fn in signatures} == signatures
    assert issubclass(vellum.RecoveryWarning, UserWarning) and vellum.RecoveryWarning is native.RecoveryWarning


def test_second_initialisation_raises_import_error():
    # Load the same shared object under a second module name: the interpreter
    # then runs its initialisation again instead of reusing the first module.
    script = textwrap.dedent(
        """
        import importlib.machinery, importlib.util
        import vellum._vellum as first
        location = importlib.util.spec_from_file_location("again._vellum", first.__file__)
        try:
            importlib.util.module_from_spec(location)
        except ImportError as e:
            print("ImportError", e)
        else:
            print("loaded twice")
        print(first.parse_to_markdown.__name__)
        """
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    lines = out.stdout.splitlines()
    assert lines[0].startswith("ImportError ")
    assert lines[1] == "parse_to_markdown"


# ---------------------------------------------------------------- file layouts


def _layout(xref: str, object_streams: bool = False, compress: bool = False, update: str = "") -> bytes:
    b = PdfBuilder(xref=xref, object_streams=object_streams, compress_structure=compress)
    b.add_page(content=b"BT /F1 12 Tf 72 700 Td (First page) Tj ET", compress=compress)
    second = b"BT /F1 12 Tf 72 700 Td (Second page) Tj ET"
    if update:
        b.new_revision(xref=update)
    b.add_page(content=second, compress=compress)
    return b.build()


LAYOUTS = {
    "table": lambda: _layout("table"),
    "xref stream": lambda: _layout("stream"),
    "object streams": lambda: _layout("stream", object_streams=True, compress=True),
    "hybrid": lambda: _layout("hybrid", object_streams=True),
    "update, table": lambda: _layout("table", update="table"),
    "update, table then stream": lambda: _layout("table", update="stream"),
    "update of object streams": lambda: _layout("stream", object_streams=True, update="stream"),
}


@pytest.mark.parametrize("make", LAYOUTS.values(), ids=list(LAYOUTS))
def test_every_file_layout_gives_the_same_document(make):
    expected = native.parse(_layout("table"))
    assert [[line["text"] for line in p["lines"]] for p in expected["pages"]] == [["First page"], ["Second page"]]
    assert native.parse(make()) == expected
