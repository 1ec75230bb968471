"""Text from fonts without a ToUnicode map, end to end. Oracles: Python's
codecs for the legacy CJK encodings, fontTools for building TrueType and CFF
programs with known cmaps and glyph names."""

from __future__ import annotations

import io
from typing import Callable

import pytest
from pdfbuilder import PdfBuilder

import vellum


def page_text(font: dict | Callable[[PdfBuilder], dict], shown: bytes) -> str:
    """`font`: the font dictionary, or a function making it in the builder it is given (with its streams)."""
    b = PdfBuilder()
    font_ref = b.add_object(font(b) if callable(font) else font)
    b.add_page(b"BT /F1 12 Tf 72 700 Td <" + shown.hex().encode() + b"> Tj ET", fonts={"F1": font_ref})
    return "".join(line["text"] for page in vellum.parse(b.build())["pages"] for line in page["lines"])


def type0(encoding: str, ordering: str, descendant: dict | None = None) -> dict:
    cid_font = {"Type": "/Font", "Subtype": "/CIDFontType0", "BaseFont": "/X", "DW": 1000,
                "CIDSystemInfo": {"Registry": b"Adobe", "Ordering": ordering.encode(), "Supplement": 0},
                **(descendant or {})}
    return {"Type": "/Font", "Subtype": "/Type0", "BaseFont": "/X", "Encoding": encoding, "DescendantFonts": [cid_font]}


# (CMap, collection, Python codec, text): the codec encodes the bytes shown;
# the Unicode CMaps give their codes as text (UTF-16 ones beyond the BMP too).
CMAPS = [("/UniJIS-UCS2-H", "Japan1", "utf-16-be", "テキスト漢字"), ("/UniGB-UTF16-V", "GB1", "utf-16-be", "漢字𠀋"),
         ("/UniKS-UCS2-V", "Korea1", "utf-16-be", "한국어"), ("/UniCNS-UTF16-H", "CNS1", "utf-16-be", "臺灣𠀋"),
         ("/90ms-RKSJ-H", "Japan1", "cp932", "日本語のテキストとｶﾀｶﾅ"), ("/90ms-RKSJ-V", "Japan1", "cp932", "縦書きの文章"),
         ("/EUC-H", "Japan1", "euc_jp", "漢字かな交じり文"), ("/GBK-EUC-H", "GB1", "gbk", "中文文本测试"),
         ("/GB-EUC-H", "GB1", "gb2312", "简体中文"), ("/B5pc-H", "CNS1", "big5", "繁體中文測試"),
         ("/ETen-B5-V", "CNS1", "big5", "臺灣"), ("/KSCms-UHC-H", "Korea1", "cp949", "한국어 텍스트"),
         ("/KSC-EUC-H", "Korea1", "euc_kr", "대한민국")]


@pytest.mark.parametrize("cmap,ordering,codec,text", CMAPS, ids=[c[0][1:] for c in CMAPS])
def test_predefined_cjk_cmaps(cmap, ordering, codec, text):
    assert page_text(type0(cmap, ordering), text.encode(codec)) == text


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
    gid_map = b"\0\0" + b"".join(g.to_bytes(2, "big") for g in gids)  # CIDs 1..n name the glyphs through the map
    for cids, cid_to_gid in ((gids, None), (range(1, len(gids) + 1), gid_map)):
        font = lambda b: type0("/Identity-H", "Identity", {  # noqa: E731
                "Subtype": "/CIDFontType2", "FontDescriptor": {"FontFile2": b.add_stream({}, data, compress=True)},
                "CIDToGIDMap": b.add_stream({}, cid_to_gid) if cid_to_gid else "/Identity"})
        assert page_text(font, b"".join(c.to_bytes(2, "big") for c in cids)) == text, cid_to_gid


def test_symbolic_truetype_reads_post_names():
    # A (3,0) cmap at 0xF041.. and glyph names from the post table (custom, and "A" by its Macintosh index).
    data, _ = truetype_program({0xF041: "Alpha", 0xF042: "uni263A", 0xF043: "A"}, post_names=True)
    font = lambda b: {"Type": "/Font", "Subtype": "/TrueType", "BaseFont": "/S",  # noqa: E731
                      "FontDescriptor": {"Flags": 4, "FontFile2": b.add_stream({}, data)}}
    assert page_text(font, b"ABC") == "Α☺A"


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
    # /Differences apply on top of the built-in encoding
    encoding = {"Encoding": {"Differences": [0x44, "/Z"]}} if with_differences else {}
    font = lambda b: {"Type": "/Font", "Subtype": "/Type1", "BaseFont": "/F",  # noqa: E731
                      "FontDescriptor": {"Flags": 4, "FontFile3": b.add_stream({"Subtype": "/Type1C"}, data)}, **encoding}
    # the ligature glyph reads as its letters
    assert page_text(font, b"ABCD") == ("AfiéZ" if with_differences else "Afié☺")


def test_type1_builtin_encoding_ot1():
    # A Computer Modern style program: ligatures, dotless i and accents at low codes.
    clear = (b"%!PS-AdobeFont-1.0: CMR10\n/Encoding 256 array\n0 1 255 {1 index exch /.notdef put} for\n"
             b"dup 11 /ff put dup 12 /fi put dup 16 /dotlessi put dup 92 /quotedblleft put\n"
             b"dup 34 /quotedblright put dup 123 /endash put\nreadonly def\ncurrentfile eexec\n")
    program = {"Length1": len(clear), "Length2": 4, "Length3": 0}, clear + b"\0\0\0\0"
    font = lambda b: {"Type": "/Font", "Subtype": "/Type1", "BaseFont": "/CMR10",  # noqa: E731
                      "FontDescriptor": {"Flags": 4, "FontFile": b.add_stream(*program)}}
    assert page_text(font, b"\\\x0bect\x0c\x7b\x10\"") == "\u201cffectfi\u2013\u0131\u201d"


def test_scaled_cid_font_lines_stay_apart():
    # Text set at 180 Tf under a 0.05 text matrix, in a flipped CTM, through a
    # Type0 font with a ToUnicode map: lines 14 units apart are grouped by
    # their visible size (9), so they stay apart. The C++ layout tests cover
    # the rule on runs without a font; this is the whole path with one.
    b = PdfBuilder()
    cmap = b"4 beginbfchar <0001> <0041> <0002> <0042> <0003> <0043> <0004> <0044> endbfchar"
    font = b.add_object({**type0("/Identity-H", "Identity", {"Subtype": "/CIDFontType2"}),
                         "ToUnicode": b.add_stream(None, cmap)})
    content = (b"1 0 0 -1 0 792 cm BT /C 180 Tf 0.05 0 0 -0.05 72 92 Tm <0001> Tj 180 0 TD <0002> Tj ET "
               b"BT /C 180 Tf 0.05 0 0 -0.05 72 106 Tm <0003> Tj 180 0 TD <0004> Tj ET")
    b.add_page(content=content, fonts={"C": font})
    assert [line["text"] for line in vellum.parse(b.build())["pages"][0]["lines"]] == ["AB", "CD"]
