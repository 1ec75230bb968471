"""Text from fonts without a ToUnicode map, end to end. Oracles: Python's
codecs for the legacy CJK encodings, fontTools for building TrueType and CFF
programs with known cmaps and glyph names."""

from __future__ import annotations

import io

import pytest
from pdfbuilder import PdfBuilder

import vellum


def page_text(font: dict, shown: bytes, builder: PdfBuilder | None = None) -> str:
    b = builder or PdfBuilder()
    font_ref = b.add_object(font)
    b.add_page(b"BT /F1 12 Tf 72 700 Td " + b"<" + shown.hex().encode() + b"> Tj ET", fonts={"F1": font_ref})
    doc = vellum.parse(b.build())
    return "".join(line["text"] for page in doc["pages"] for line in page["lines"])


def type0(encoding: str, ordering: str, builder: PdfBuilder | None = None, descendant: dict | None = None) -> dict:
    cid_font = {"Type": "/Font", "Subtype": "/CIDFontType0", "BaseFont": "/X", "DW": 1000,
                "CIDSystemInfo": {"Registry": b"Adobe", "Ordering": ordering.encode(), "Supplement": 0}}
    cid_font.update(descendant or {})
    return {"Type": "/Font", "Subtype": "/Type0", "BaseFont": "/X", "Encoding": encoding, "DescendantFonts": [cid_font]}


# (CMap, collection, Python codec, text): the codec encodes the bytes shown.
LEGACY = [("/90ms-RKSJ-H", "Japan1", "cp932", "日本語のテキストとｶﾀｶﾅ"), ("/90ms-RKSJ-V", "Japan1", "cp932", "縦書きの文章"),
          ("/EUC-H", "Japan1", "euc_jp", "漢字かな交じり文"), ("/GBK-EUC-H", "GB1", "gbk", "中文文本测试"),
          ("/GB-EUC-H", "GB1", "gb2312", "简体中文"), ("/B5pc-H", "CNS1", "big5", "繁體中文測試"),
          ("/ETen-B5-V", "CNS1", "big5", "臺灣"), ("/KSCms-UHC-H", "Korea1", "cp949", "한국어 텍스트"),
          ("/KSC-EUC-H", "Korea1", "euc_kr", "대한민국")]


@pytest.mark.parametrize("cmap,ordering,codec,text", LEGACY, ids=[c[0][1:] for c in LEGACY])
def test_legacy_cjk_cmaps(cmap, ordering, codec, text):
    assert page_text(type0(cmap, ordering), text.encode(codec)) == text


@pytest.mark.parametrize("cmap", ["/UniJIS-UCS2-H", "/UniGB-UTF16-V", "/UniKS-UCS2-V", "/UniCNS-UTF16-H"])
def test_unicode_cmaps_give_their_codes(cmap):
    text = "テキスト漢字" + ("𠀋" if "UTF16" in cmap else "")
    assert page_text(type0(cmap, "Japan1"), text.encode("utf-16-be")) == text


fontTools = pytest.importorskip("fontTools")
from fontTools.fontBuilder import FontBuilder  # noqa: E402
from fontTools.pens.t2CharStringPen import T2CharStringPen  # noqa: E402
from fontTools.pens.ttGlyphPen import TTGlyphPen  # noqa: E402


def truetype_program(cmap: dict, post_names: bool = False) -> tuple[bytes, list]:
    names = [".notdef"] + sorted(set(cmap.values()))
    fb = FontBuilder(1000, isTTF=True)
    fb.setupGlyphOrder(names)
    fb.setupCharacterMap(cmap)
    fb.setupGlyf({n: TTGlyphPen(None).glyph() for n in names})
    fb.setupHorizontalMetrics({n: (500, 0) for n in names})
    fb.setupHorizontalHeader()
    fb.setupPost(keepGlyphNames=post_names)
    if post_names:  # symbolic: the (3,0) cmap alone, at 0xF041..
        for table in fb.font["cmap"].tables:
            table.platformID, table.platEncID = 3, 0
        fb.font["cmap"].tables = fb.font["cmap"].tables[:1]
    out = io.BytesIO()
    fb.font.save(out)
    return out.getvalue(), fb.font.getGlyphOrder()


def test_type0_truetype_without_tounicode():
    text = "Hé中😀"
    data, order = truetype_program({ord(c): f"g{ord(c):X}" for c in text})
    gids = [order.index(f"g{ord(c):X}") for c in text]
    for cid_to_gid in ("identity", "stream"):
        b = PdfBuilder()
        program = b.add_stream({}, data, compress=True)
        descendant = {"Subtype": "/CIDFontType2", "FontDescriptor": {"FontFile2": program},
                      "CIDSystemInfo": {"Registry": b"Adobe", "Ordering": b"Identity", "Supplement": 0}}
        if cid_to_gid == "identity":
            descendant["CIDToGIDMap"] = "/Identity"
            cids = gids
        else:  # CIDs 1..n name the glyphs through the map
            descendant["CIDToGIDMap"] = b.add_stream({}, b"\0\0" + b"".join(g.to_bytes(2, "big") for g in gids))
            cids = list(range(1, len(gids) + 1))
        shown = b"".join(c.to_bytes(2, "big") for c in cids)
        assert page_text(type0("/Identity-H", "Identity", descendant=descendant), shown, b) == text, cid_to_gid


def test_symbolic_truetype_reads_post_names():
    # A (3,0) cmap at 0xF041.. and glyph names from the post table.
    data, _ = truetype_program({0xF041: "Alpha", 0xF042: "uni263A"}, post_names=True)
    b = PdfBuilder()
    program = b.add_stream({}, data)
    simple = {"Type": "/Font", "Subtype": "/TrueType", "BaseFont": "/S",
              "FontDescriptor": {"Flags": 4, "FontFile2": program}}
    assert page_text(simple, b"AB", b) == "Α☺"


def cff_program(names: list, encoding: dict) -> bytes:
    fb = FontBuilder(1000, isTTF=False)
    fb.setupGlyphOrder([".notdef"] + names)
    charstring = T2CharStringPen(500, None).getCharString()
    fb.setupCFF("F", {}, {n: charstring for n in [".notdef"] + names}, {})
    fb.font["CFF "].cff.topDictIndex[0].Encoding = [encoding.get(code, ".notdef") for code in range(256)]
    out = io.BytesIO()
    fb.font["CFF "].cff.compile(out, fb.font)
    return out.getvalue()


@pytest.mark.parametrize("with_differences", [False, True])
def test_type1c_builtin_encoding(with_differences):
    data = cff_program(["A", "fi", "eacute", "uni263A"], {0x41: "A", 0x42: "fi", 0x43: "eacute", 0x44: "uni263A"})
    b = PdfBuilder()
    program = b.add_stream({"Subtype": "/Type1C"}, data)
    font = {"Type": "/Font", "Subtype": "/Type1", "BaseFont": "/F",
            "FontDescriptor": {"Flags": 4, "FontFile3": program}}
    want = "Afié☺"  # the ligature glyph reads as its letters
    if with_differences:  # /Differences apply on top of the built-in encoding
        font["Encoding"] = {"Differences": [0x44, "/Z"]}
        want = want[:-1] + "Z"
    assert page_text(font, b"ABCD", b) == want


def test_type1_builtin_encoding_ot1():
    # A Computer Modern style program: ligatures, dotless i and accents at low codes.
    clear = (b"%!PS-AdobeFont-1.0: CMR10\n/Encoding 256 array\n0 1 255 {1 index exch /.notdef put} for\n"
             b"dup 11 /ff put dup 12 /fi put dup 16 /dotlessi put dup 92 /quotedblleft put\n"
             b"dup 34 /quotedblright put dup 123 /endash put\nreadonly def\ncurrentfile eexec\n")
    b = PdfBuilder()
    program = b.add_stream({"Length1": len(clear), "Length2": 4, "Length3": 0}, clear + b"\0\0\0\0")
    font = {"Type": "/Font", "Subtype": "/Type1", "BaseFont": "/CMR10",
            "FontDescriptor": {"Flags": 4, "FontFile": program}}
    assert page_text(font, b"\\\x0bect\x0c\x7b\x10\"", b) == "\u201cffectfi\u2013\u0131\u201d"
