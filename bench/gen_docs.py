#!/usr/bin/env python3
"""Generate the two synthetic benchmark documents.

* generated-text-500-pages.pdf: 500 letter pages of prose in three fonts
  (Helvetica, Times-Roman, Helvetica-Bold headings), some lines shown as
  kerned TJ arrays, some paragraphs justified with word spacing, a small ruled
  table on every seventh page and a running footer. Content streams are
  Flate-compressed; the file uses a cross-reference stream with object
  streams, as current producers write big documents.
* generated-scanned-50-pages.pdf: 50 pages that each draw one full-page image
  and carry no text: odd pages a baseline JPEG (DCTDecode), even pages Flate
  samples, alternating 1-bit bilevel and 8-bit grey.

The output depends only on the code: the prose and the image noise come from
seeded generators, and the JPEG writer chooses quantised DCT coefficients
directly (no floating-point transform), so every run writes the same bytes
(given the same zlib and pikepdf).

    python bench/gen_docs.py [OUTDIR]      # default: bench/generated/
"""

from __future__ import annotations

import argparse
import random
import struct
import sys
import zlib
from pathlib import Path
from typing import Dict, List, Sequence, Tuple

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

from pdfbuilder import PdfBuilder, pdf_string, resave, ruled_table_content  # noqa: E402

DEFAULT_OUT = HERE / "generated"
TEXT_NAME = "generated-text-500-pages.pdf"
SCAN_NAME = "generated-scanned-50-pages.pdf"
TEXT_PAGES = 500
SCAN_PAGES = 50

PAGE_W, PAGE_H = 612, 792
MARGIN = 72

# --------------------------------------------------------------------- prose

WORDS = """
the of and to in is that for it as was with be by on not he this are or his
from at which but have an they you were her she there been one all we their
has would when if so no out up into do what about them more some could time
than only other may then these two its any like first over such our also new
after most years made many before must through back where much should well
people down between own being three state under never same another world
while last might great since against right take because each those small
river library harbour window letter morning station garden question evening
measure record village machine country council mountain surface paper signal
method number pattern history surveyor archive weather boundary ledger engine
careful quiet distant narrow heavy bright early simple common ordinary broad
written measured carried followed returned observed described reported placed
slowly nearly rarely often clearly certainly perhaps however therefore indeed
café naïve façade rôle über élite coöperate résumé
""".split()

NAMES = ["Avery", "Tomasz", "Wadley", "Yvonne", "Lorraine", "Vasquez", "Kowalski", "Okafor", "Brandt", "Ferreira"]

# Pairs that a typesetter would kern, with the adjustment in thousandths of
# an em (positive values move the next glyph left).
KERN_PAIRS = {"AV": 80, "Av": 60, "To": 80, "Ta": 70, "Te": 70, "Wa": 60, "We": 50, "Yo": 90, "Va": 70,
              "LT": 90, "r.": 40, "r,": 40, "y.": 50, "y,": 50, "ov": 15, "ye": 20, "wa": 15, "P.": 100}


def _narrow(ch: str) -> bool:
    return ch in "ijlft.,;:'!|() "


def text_width(text: str, size: float) -> float:
    """A coarse advance-width estimate, good enough to wrap lines."""
    em = 0.0
    for ch in text:
        if _narrow(ch):
            em += 0.28
        elif ch in "mwMW":
            em += 0.83
        elif ch.isupper():
            em += 0.68
        else:
            em += 0.52
    return em * size


def sentence(rng: random.Random) -> str:
    count = 6 + int(rng.random() * 13)
    words = []
    for i in range(count):
        r = rng.random()
        if r < 0.05:
            words.append(NAMES[int(rng.random() * len(NAMES))])
        elif r < 0.08:
            words.append(str(1800 + int(rng.random() * 220)))
        else:
            words.append(WORDS[int(rng.random() * len(WORDS))])
        if i + 1 < count and rng.random() < 0.08:
            words[-1] += rng.choice([",", ",", ";", " \u2013"])
    words[0] = words[0][:1].upper() + words[0][1:]
    end = "." if rng.random() < 0.85 else rng.choice(["?", "!", ":"])
    text = " ".join(words) + end
    if rng.random() < 0.1:
        text = "\u201c" + text + "\u201d"
    return text


def paragraph(rng: random.Random) -> str:
    return " ".join(sentence(rng) for _ in range(3 + int(rng.random() * 5)))


def wrap(text: str, size: float, width: float) -> List[str]:
    lines: List[str] = []
    current = ""
    for word in text.split(" "):
        candidate = word if not current else current + " " + word
        if current and text_width(candidate, size) > width:
            lines.append(current)
            current = word
        else:
            current = candidate
    if current:
        lines.append(current)
    return lines


def enc(text: str) -> bytes:
    """Text in the fonts' WinAnsiEncoding."""
    return text.encode("cp1252")


def kerned_tj(text: str) -> bytes:
    """A TJ array with kerning adjustments between the listed pairs."""
    parts: List[bytes] = []
    start = 0
    for i in range(len(text) - 1):
        adjust = KERN_PAIRS.get(text[i : i + 2])
        if adjust:
            parts.append(pdf_string(enc(text[start : i + 1])))
            parts.append(b"%d" % -adjust)
            start = i + 1
    parts.append(pdf_string(enc(text[start:])))
    return b"[" + b" ".join(parts) + b"] TJ"


def table_rows(rng: random.Random, page: int) -> List[List[str]]:
    header = ["Item", "Region", "Count", "Share"]
    rows = [header]
    for r in range(3 + page % 4):
        rows.append([
            f"{WORDS[int(rng.random() * 40) + 60].capitalize()} {page}.{r + 1}",
            NAMES[int(rng.random() * len(NAMES))],
            str(int(rng.random() * 9000) + 100),
            f"{rng.random() * 100:.1f}%",
        ])
    return rows


def text_page(rng: random.Random, page: int, total: int = TEXT_PAGES) -> bytes:
    """One page of content: heading, paragraphs, maybe a table, footer."""
    out: List[bytes] = []
    y = PAGE_H - MARGIN
    width = PAGE_W - 2 * MARGIN
    if page % 10 == 1:
        title = f"Chapter {page // 10 + 1}: The {WORDS[int(rng.random() * len(WORDS))]} {WORDS[int(rng.random() * len(WORDS))]}"
        out.append(b"BT /F3 18 Tf 1 0 0 1 %d %d Tm %s ET" % (MARGIN, y - 18, kerned_tj(title)))
        y -= 44
    table_at = 1 + page % 3 if page % 7 == 0 else -1
    paragraph_index = 0
    while True:
        if paragraph_index == table_at:
            rows = table_rows(rng, page)
            needed = 18 * len(rows) + 16
            if y - needed < MARGIN + 40:
                break
            out.append(ruled_table_content(MARGIN, y - 4, [150, 110, 80, 80], 18, [[enc(c) for c in row] for row in rows], font="F1", size=9))
            y -= needed
        paragraph_index += 1
        font, size, leading = (b"F1", 10, 13) if (page + paragraph_index) % 3 else (b"F2", 11, 14)
        lines = wrap(paragraph(rng), size, width)
        if y - leading * len(lines) < MARGIN + 40:
            if paragraph_index == 1:
                lines = lines[: max(1, int((y - MARGIN - 40) // leading))]
            else:
                break
        justified = rng.random() < 0.4
        kerned = rng.random() < 0.5
        out.append(b"BT /%s %d Tf %d TL 1 0 0 1 %d %d Tm" % (font, size, leading, MARGIN, y - size))
        for i, line in enumerate(lines):
            if i:
                out.append(b"T*")
            spaces = line.count(" ")
            if justified and i + 1 < len(lines) and spaces:
                # Tw applies to the single-byte space only, as it should
                gap = (width - text_width(line, size)) / spaces
                out.append(b"%.3f Tw" % max(0.0, min(gap, 4.0)))
            elif justified:
                out.append(b"0 Tw")
            out.append(kerned_tj(line) if kerned and i % 2 == 0 else pdf_string(enc(line)) + b" Tj")
        out.append(b"0 Tw ET")
        y -= leading * len(lines) + 8
    footer = f"Page {page} of {total}"
    out.append(b"BT /F1 9 Tf 1 0 0 1 %d 40 Tm %s Tj ET" % (PAGE_W // 2 - 30, pdf_string(enc(footer))))
    return b"\n".join(out)


def build_text_document(pages: int = TEXT_PAGES) -> bytes:
    """The prose document; other page counts serve the memory benchmark (bench/scale.py)."""
    rng = random.Random(20240501)
    b = PdfBuilder(version="1.5")
    fonts = {"F1": b.standard_font("Helvetica"), "F2": b.standard_font("Times-Roman"), "F3": b.standard_font("Helvetica-Bold")}
    for page in range(1, pages + 1):
        b.add_page(content=text_page(rng, page, pages), fonts=fonts, compress=True)
    return with_object_streams(b.build())


def with_object_streams(data: bytes) -> bytes:
    """`data` saved again by pikepdf with object streams and a cross-reference stream, as current producers write."""
    import pikepdf

    return resave(data, object_stream_mode=pikepdf.ObjectStreamMode.generate, static_id=True)


# ------------------------------------------------------------- JPEG writer

# Huffman tables of ITU T.81 Annex K (K.3 DC and K.5 AC luminance).
DC_BITS = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]
DC_VALS = list(range(12))
AC_BITS = [0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D]
AC_VALS = [
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07,
    0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0,
    0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2A, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
    0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
    0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
    0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5,
    0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2,
    0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8,
    0xF9, 0xFA,
]
# Annex K.1 luminance quantisation table (natural order), scaled to quality 75.
QUANT = [max(1, (q * 50 + 50) // 100) for q in [
    16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55, 14, 13, 16, 24, 40, 57, 69, 56,
    14, 17, 22, 29, 51, 87, 80, 62, 18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99]]
ZIGZAG = [0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14, 21, 28,
          35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63]


def huffman_codes(bits: Sequence[int], vals: Sequence[int]) -> Dict[int, str]:
    """Canonical codes (T.81 Annex C) as bit strings, keyed by symbol."""
    codes: Dict[int, str] = {}
    code, k = 0, 0
    for length in range(1, 17):
        for _ in range(bits[length - 1]):
            codes[vals[k]] = format(code, "0%db" % length)
            code += 1
            k += 1
        code <<= 1
    return codes


DC_CODES = huffman_codes(DC_BITS, DC_VALS)
AC_CODES = huffman_codes(AC_BITS, AC_VALS)


def magnitude_bits(value: int) -> Tuple[int, str]:
    """Size category and the appended bits of a coefficient (T.81 F.1.2.1)."""
    if value == 0:
        return 0, ""
    size = abs(value).bit_length()
    raw = value if value > 0 else value + (1 << size) - 1
    return size, format(raw, "0%db" % size)


def ac_bits(coefficients: Sequence[Tuple[int, int]]) -> str:
    """Entropy-coded AC part of a block from (zigzag index, value) pairs."""
    out: List[str] = []
    last = 0
    for index, value in sorted(coefficients):
        run = index - last - 1
        while run > 15:
            out.append(AC_CODES[0xF0])
            run -= 16
        size, extra = magnitude_bits(value)
        out.append(AC_CODES[(run << 4) | size] + extra)
        last = index
    if last < 63:
        out.append(AC_CODES[0x00])
    return "".join(out)


def segment(marker: int, payload: bytes) -> bytes:
    return struct.pack(">HH", 0xFF00 | marker, len(payload) + 2) + payload


def baseline_jpeg(width: int, height: int, rng: random.Random) -> bytes:
    """A greyscale baseline JPEG of a scanned text page.

    Blocks are chosen in the coefficient domain: white paper is DC only with
    rare noise, text bands get a darker DC and one of a few "glyph" AC
    patterns, so no transform is needed and the bytes are exact.
    """
    blocks_x, blocks_y = (width + 7) // 8, (height + 7) // 8
    glyphs = []
    for _ in range(48):
        coefs = {1 + int(rng.random() * 20): int(rng.random() * 24) - 12 for _ in range(3 + int(rng.random() * 8))}
        glyphs.append(ac_bits([(i, v) for i, v in coefs.items() if v]))
    noise = [ac_bits([(1 + int(rng.random() * 5), rng.choice([-1, 1]))]) for _ in range(8)]
    empty = AC_CODES[0x00]
    white_dc = 8 * (255 - 128) // QUANT[0]

    bands = set()
    by = 12
    while by < blocks_y - 12:
        if rng.random() < 0.8:
            bands.add(by)
            bands.add(by + 1)
        by += 3
    margin = 9
    bits: List[str] = []
    prev_dc = 0
    for row in range(blocks_y):
        in_band = row in bands
        line_end = blocks_x - margin - int(rng.random() * 30) if in_band else 0
        for col in range(blocks_x):
            if in_band and margin <= col < line_end and rng.random() < 0.9:
                dc = white_dc - 4 - int(rng.random() * 18)
                ac = glyphs[int(rng.random() * len(glyphs))]
            else:
                dc = white_dc
                ac = noise[int(rng.random() * len(noise))] if rng.random() < 0.02 else empty
            size, extra = magnitude_bits(dc - prev_dc)
            bits.append(DC_CODES[size] + extra)
            bits.append(ac)
            prev_dc = dc
    stream = "".join(bits)
    stream += "1" * (-len(stream) % 8)  # pad the last byte with 1-bits
    entropy = int(stream, 2).to_bytes(len(stream) // 8, "big").replace(b"\xff", b"\xff\x00")

    quant_zigzag = bytes(QUANT[z] for z in ZIGZAG)
    return b"".join([
        b"\xff\xd8",
        segment(0xE0, b"JFIF\x00\x01\x01\x01\x00\x96\x00\x96\x00\x00"),
        segment(0xDB, b"\x00" + quant_zigzag),
        segment(0xC0, struct.pack(">BHHB", 8, height, width, 1) + b"\x01\x11\x00"),
        segment(0xC4, b"\x00" + bytes(DC_BITS) + bytes(DC_VALS) + b"\x10" + bytes(AC_BITS) + bytes(AC_VALS)),
        segment(0xDA, b"\x01\x01\x00\x00\x3f\x00"),
        entropy,
        b"\xff\xd9",
    ])


# ----------------------------------------------------------- Flate images

def scanned_rows(width_bytes: int, height: int, rng: random.Random, paper: int, ink: Sequence[bytes]) -> bytes:
    """Raw samples of a text page: paper rows with bands of "ink" rows."""
    blank = bytes([paper]) * width_bytes
    left = width_bytes // 12
    rows: List[bytes] = []
    y = 0
    while y < height:
        if height // 12 < y < height - height // 12 and rng.random() < 0.7:
            length = width_bytes - 2 * left - int(rng.random() * width_bytes // 4)
            for _ in range(min(24, height - y)):
                pattern = ink[int(rng.random() * len(ink))]
                rows.append(blank[:left] + pattern[:length] + blank[: width_bytes - left - length])
            y += 24
        for _ in range(min(14, height - y)):
            rows.append(blank)
        y += 14
    return b"".join(rows[:height])


def bilevel_image(width: int, height: int, rng: random.Random) -> bytes:
    row_bytes = (width + 7) // 8
    # 1 is white in DeviceGray; ink rows are mostly white with black runs
    ink = [bytes(0xFF if rng.random() < 0.6 else int(rng.random() * 256) for _ in range(row_bytes)) for _ in range(16)]
    return scanned_rows(row_bytes, height, rng, 0xFF, ink)


def grey_image(width: int, height: int, rng: random.Random) -> bytes:
    ink = [bytes(235 - int(rng.random() * 200) if rng.random() < 0.35 else 235 for _ in range(width)) for _ in range(16)]
    return scanned_rows(width, height, rng, 235, ink)


def build_scanned_document() -> bytes:
    rng = random.Random(19700101)
    b = PdfBuilder(version="1.4")
    show = b"q %d 0 0 %d 0 0 cm /Im0 Do Q" % (PAGE_W, PAGE_H)
    for page in range(1, SCAN_PAGES + 1):
        if page % 2:
            width, height = 1272, 1648  # 150 dpi, whole 8x8 blocks
            image = b.add_image(width, height, baseline_jpeg(width, height, rng), filter="/DCTDecode")
        elif page % 4 == 0:
            width, height = 2544, 3296  # 300 dpi bilevel
            data = zlib.compress(bilevel_image(width, height, rng), 6)
            image = b.add_image(width, height, data, bits_per_component=1, filter="/FlateDecode")
        else:
            width, height = 1272, 1648
            data = zlib.compress(grey_image(width, height, rng), 6)
            image = b.add_image(width, height, data, filter="/FlateDecode")
        b.add_page(content=show, fonts={}, xobjects={"Im0": image})
    return b.build()


# ------------------------------------------------------------------ main

def generate(out_dir: Path, force: bool = False) -> Dict[str, Path]:
    """Write both documents into `out_dir` (skipping existing ones unless forced)."""
    out_dir.mkdir(parents=True, exist_ok=True)
    if out_dir.resolve() == DEFAULT_OUT.resolve():
        # keep the generated files out of version control without touching
        # the repository's own ignore list
        (out_dir / ".gitignore").write_text("*\n")
    paths = {}
    for name, build in ((TEXT_NAME, build_text_document), (SCAN_NAME, build_scanned_document)):
        path = out_dir / name
        if force or not path.exists():
            tmp = path.with_suffix(".tmp")
            tmp.write_bytes(build())
            tmp.replace(path)
        paths[name] = path
    return paths


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("out_dir", nargs="?", type=Path, default=DEFAULT_OUT)
    args = parser.parse_args()
    for name, path in generate(args.out_dir, force=True).items():
        print(f"{path}  {path.stat().st_size:,} bytes")


if __name__ == "__main__":
    main()
