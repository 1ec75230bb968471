"""Generate the font data tables under core/font/ (run once, by hand; the
output is committed so that building needs nothing of this).

    python tools/gen_font_tables.py [--cmaps /usr/share/poppler/cMap]

Writes
  core/font/cjk_tables.inc   CID -> Unicode for the four Adobe CJK character
                             collections (from the Adobe-<collection>-UCS2
                             CMaps) and the legacy CJK encoding CMaps (code
                             space ranges and code -> CID ranges);
  core/font/agl_table.inc    the Adobe Glyph List plus a few TeX glyph names;
  core/font/font_names.inc   the standard strings and StandardEncoding of the
                             Compact Font Format and the standard Macintosh
                             glyph names of TrueType's post table.

Sources and licences:
  * Adobe's CMap resources (https://github.com/adobe-type-tools/cmap-resources),
    BSD-3-Clause, as shipped in the cMap/ folder of Debian's poppler-data
    package (only that folder: its cidToUnicode/ folder is under another
    licence and is neither read nor needed here).
  * Adobe's glyphlist.txt (https://github.com/adobe-type-tools/agl-aglfn),
    BSD-3-Clause, read from the verbatim copy inside fontTools (fontTools.agl).
  * The CFF standard strings and StandardEncoding are those of Adobe
    Technical Note #5176, appendices A and B, and the Macintosh glyph names
    those of Apple's TrueType reference (read from fontTools, MIT licence).
"""

from __future__ import annotations

import argparse
import base64
import os
import re

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "core", "font")

COLLECTIONS = ["Japan1", "GB1", "CNS1", "Korea1"]
# Legacy encoding CMaps by collection (horizontal forms; a vertical CMap is
# read as its horizontal pair, which gives the same text).
LEGACY = {
    "Japan1": ["90ms-RKSJ-H", "90msp-RKSJ-H", "90pv-RKSJ-H", "EUC-H", "H", "83pv-RKSJ-H", "Ext-RKSJ-H", "Add-RKSJ-H"],
    "GB1": ["GBK-EUC-H", "GB-EUC-H", "GBK2K-H", "GBpc-EUC-H", "GBKp-EUC-H", "GBT-EUC-H"],
    "CNS1": ["B5pc-H", "ETen-B5-H", "HKscs-B5-H", "CNS-EUC-H", "B5-H"],
    "Korea1": ["KSCms-UHC-H", "KSC-EUC-H", "KSCpc-EUC-H", "KSC-H"],
}
# TeX glyph names outside the Adobe Glyph List (or better mapped than there).
TEX_NAMES = {
    "dotlessj": 0x0237, "visiblespace": 0x2423, "compwordmark": 0x200C, "cwm": 0x200C,
    "angbracketleft": 0x27E8, "angbracketright": 0x27E9, "Germandbls": 0x1E9E,
    "ringfitted": 0x00E5, "Ringfitted": 0x00C5, "perthousandzero": 0x2030,
    "hyphenchar": 0x002D, "zerooldstyle": 0x0030, "oneoldstyle": 0x0031,
}

TOKEN = re.compile(rb"<[0-9a-fA-F]*>|/?[^\s<>\[\]/]+|\[|\]")
LICENCE = """\
// Copyright 1990-2023 Adobe. All rights reserved.
//
// Redistribution and use in source and binary forms, with or without
// modification, are permitted provided that the following conditions are met:
// Redistributions of source code must retain the above copyright notice, this
// list of conditions and the following disclaimer. Redistributions in binary
// form must reproduce the above copyright notice, this list of conditions and
// the following disclaimer in the documentation and/or other materials
// provided with the distribution. Neither the name of Adobe nor the names of
// its contributors may be used to endorse or promote products derived from
// this software without specific prior written permission.
// THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS AND CONTRIBUTORS "AS IS"
// AND ANY EXPRESS OR IMPLIED WARRANTIES, INCLUDING, BUT NOT LIMITED TO, THE
// IMPLIED WARRANTIES OF MERCHANTABILITY AND FITNESS FOR A PARTICULAR PURPOSE
// ARE DISCLAIMED. IN NO EVENT SHALL THE COPYRIGHT HOLDER OR CONTRIBUTORS BE
// LIABLE FOR ANY DIRECT, INDIRECT, INCIDENTAL, SPECIAL, EXEMPLARY, OR
// CONSEQUENTIAL DAMAGES (INCLUDING, BUT NOT LIMITED TO, PROCUREMENT OF
// SUBSTITUTE GOODS OR SERVICES; LOSS OF USE, DATA, OR PROFITS; OR BUSINESS
// INTERRUPTION) HOWEVER CAUSED AND ON ANY THEORY OF LIABILITY, WHETHER IN
// CONTRACT, STRICT LIABILITY, OR TORT (INCLUDING NEGLIGENCE OR OTHERWISE)
// ARISING IN ANY WAY OUT OF THE USE OF THIS SOFTWARE, EVEN IF ADVISED OF THE
// POSSIBILITY OF SUCH DAMAGE.
"""


def tokens(path: str) -> list[bytes]:
    data = open(path, "rb").read()
    return TOKEN.findall(data.split(b"begincmap", 1)[-1])


def hexval(tok: bytes) -> int:
    return int(tok[1:-1], 16)


def utf16_scalar(tok: bytes) -> int | None:
    units = [int(tok[1 + 4 * k : 5 + 4 * k], 16) for k in range((len(tok) - 2) // 4)]
    if len(units) == 1 and not 0xD800 <= units[0] < 0xE000:
        return units[0]
    if len(units) == 2 and 0xD800 <= units[0] < 0xDC00 and 0xDC00 <= units[1] < 0xE000:
        return 0x10000 + ((units[0] - 0xD800) << 10) + (units[1] - 0xDC00)
    return None  # several characters for one CID: left out


def read_cmap(path: str):
    """(codespace ranges, [(low, high, cid)], {cid: unicode}) of one CMap file."""
    toks = tokens(path)
    spaces, cids, uni = [], [], {}
    i, mode = 0, None
    while i < len(toks):
        t = toks[i]
        if t.startswith(b"begin") and t != b"begincmap":
            mode, i = t, i + 1
            continue
        if t.startswith(b"end"):
            mode, i = None, i + 1
            continue
        if t == b"usecmap":
            raise SystemExit(f"{path}: usecmap is not expected in the CMaps read here")
        if mode == b"begincodespacerange":
            lo, hi = toks[i], toks[i + 1]
            spaces.append(((len(lo) - 2) // 2, hexval(lo), hexval(hi)))
            i += 2
        elif mode == b"begincidrange":
            cids.append((hexval(toks[i]), hexval(toks[i + 1]), int(toks[i + 2])))
            i += 3
        elif mode == b"begincidchar":
            cids.append((hexval(toks[i]), hexval(toks[i]), int(toks[i + 1])))
            i += 2
        elif mode == b"beginbfchar":
            u = utf16_scalar(toks[i + 1])
            if u is not None:
                uni[hexval(toks[i])] = u
            i += 2
        elif mode == b"beginbfrange":
            lo, hi = hexval(toks[i]), hexval(toks[i + 1])
            if toks[i + 2] == b"[":
                j = i + 3
                while toks[j] != b"]":
                    u = utf16_scalar(toks[j])
                    if u is not None:
                        uni[lo + j - i - 3] = u
                    j += 1
                i = j + 1
            else:
                start = utf16_scalar(toks[i + 2])
                for k in range(lo, hi + 1):
                    if start is not None:
                        uni[k] = start + k - lo
                i += 3
        else:
            i += 1
    return spaces, cids, uni


def varint(n: int) -> bytes:
    out = bytearray()
    while True:
        b = n & 0x7F
        n >>= 7
        out.append(b | (0x80 if n else 0))
        if not n:
            return bytes(out)


def literal(blob: bytes, indent: str = "    ") -> str:
    text = base64.b64encode(blob).decode()
    return "\n".join(f'{indent}"{text[k:k + 96]}"' for k in range(0, len(text), 96))


def cjk_tables(cmaps: str) -> str:
    out = [LICENCE, "//", "// Generated by tools/gen_font_tables.py from Adobe's CMap resources (cMap/",
           "// folder of Debian's poppler-data). Do not edit.", ""]
    # CID -> Unicode: one varint per CID in order, the zigzag-coded difference
    # of its Unicode value (0 when unmapped) from the previous CID's.
    out.append("constexpr CollectionBlob kCollectionBlobs[] = {")
    for coll in COLLECTIONS:
        _, _, uni = read_cmap(f"{cmaps}/Adobe-{coll}/Adobe-{coll}-UCS2")
        if coll == "Japan1" and uni.get(231) == 0x2002:
            # The half-width space, which the legacy CMaps give code 0x20:
            # written as the space itself, not an en space.
            uni[231] = 0x20
        count = max(uni) + 1
        blob, prev = bytearray(), 0
        for cid in range(count):
            u = uni.get(cid, 0)
            if u == 0xFFFD:
                u = 0
            d = u - prev
            blob += varint((d << 1) if d >= 0 else ((-d << 1) - 1))
            prev = u
        out.append(f"  {{{count},\n{literal(bytes(blob))}}},")
    out.append("};")
    out.append("")
    # Legacy CMaps: code space ranges, then code -> CID ranges sorted by code,
    # each as varints (low - previous low, high - low, cid).
    out.append("constexpr LegacyBlob kLegacyBlobs[] = {")
    for index, coll in enumerate(COLLECTIONS):
        for name in LEGACY[coll]:
            spaces, cids, _ = read_cmap(f"{cmaps}/Adobe-{coll}/{name}")
            blob = bytearray(varint(len(spaces)))
            for nbytes, lo, hi in spaces:
                blob += bytes([nbytes]) + lo.to_bytes(nbytes, "big") + hi.to_bytes(nbytes, "big")
            cids.sort()
            blob += varint(len(cids))
            prev = 0
            for lo, hi, cid in cids:
                blob += varint(lo - prev) + varint(hi - lo) + varint(cid)
                prev = lo
            out.append(f'  {{"{name}", {index},\n{literal(bytes(blob))}}},')
    out.append("};")
    return "\n".join(out) + "\n"


def agl_table() -> str:
    from fontTools import agl

    names: dict[str, int] = {}
    for line in agl._aglText.splitlines():
        if not line or line.startswith("#"):
            continue
        name, codes = line.split(";")
        units = codes.split()
        if len(units) == 1:  # names of several characters are left out
            names[name] = int(units[0], 16)
    names.update(TEX_NAMES)
    header = LICENCE.replace("1990-2023", "2002-2019")
    rows = [f'{{"{n}", 0x{names[n]:04X}}},' for n in sorted(names, key=lambda s: s.encode())]
    body = "\n".join("    " + " ".join(rows[k : k + 4]) for k in range(0, len(rows), 4))
    return (header + "//\n// Generated by tools/gen_font_tables.py from Adobe's glyphlist.txt (Adobe Glyph\n"
            "// List 2.0) plus TeX glyph names. Do not edit.\n"
            f"constexpr GlyphRow kGlyphs[] = {{\n{body}\n}};\n"
            f"constexpr size_t kGlyphCount = {len(rows)};\n")


def font_names() -> str:
    from fontTools.cffLib import cffStandardStrings
    from fontTools.encodings.StandardEncoding import StandardEncoding as cffStandardEncoding
    from fontTools.ttLib.standardGlyphOrder import standardGlyphOrder

    def rows(items, per):
        cells = [f'"{s}",' for s in items]
        return "\n".join("    " + " ".join(cells[k : k + per]) for k in range(0, len(cells), per))

    sids = {name: sid for sid, name in enumerate(cffStandardStrings)}
    standard = [sids.get(name, 0) for name in cffStandardEncoding]
    return ("// Generated by tools/gen_font_tables.py. Do not edit.\n//\n"
            "// The standard strings of the Compact Font Format (Adobe Technical Note\n"
            "// #5176, appendix A), by string id.\n"
            f"constexpr std::string_view kStandardStrings[] = {{\n{rows(cffStandardStrings, 8)}\n}};\n"
            "// PostScript StandardEncoding: code -> standard string id (0 = .notdef).\n"
            "constexpr uint16_t kStandardEncodingSids[256] = {\n"
            + "\n".join("    " + " ".join(f"{v}," for v in standard[k : k + 16]) for k in range(0, 256, 16))
            + "\n};\n"
            "// The 258 standard Macintosh glyph names of the TrueType post table.\n"
            f"constexpr std::string_view kMacGlyphNames[] = {{\n{rows(standardGlyphOrder, 8)}\n}};\n")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cmaps", default="/usr/share/poppler/cMap")
    args = parser.parse_args()
    for name, text in (("cjk_tables.inc", cjk_tables(args.cmaps)), ("agl_table.inc", agl_table()),
                       ("font_names.inc", font_names())):
        with open(os.path.join(OUT, name), "w") as f:
            f.write(text)
        print(name, len(text))


if __name__ == "__main__":
    main()
