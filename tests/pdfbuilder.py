"""A small, deterministic PDF writer for fixtures that a well-kept writer
would not give us: exact bytes, broken objects and page trees, stream data
written as given (bombs, undecodable images), font dictionaries assembled by
hand. Other layouts (object streams, encryption) are its output saved again
by pikepdf (`resave`); pages laid out like a producer's come from reportlab.
"""

# `pdf_value` writes Python values as PDF syntax: `str` verbatim ("/Page",
# "(text)", "5 0 R"), `bytes` as a literal string, dict keys as names, and
# int, float, bool, None, list and `Ref` as their PDF counterparts. The
# catalog is object 1, the one flat page tree node object 2, and the file
# has one classic cross-reference table. The same calls give the same bytes:
#
#     b = PdfBuilder()
#     b.add_page(content=b"BT /F1 12 Tf 72 700 Td (Hello) Tj ET")
#     data = b.build()

from __future__ import annotations

import io
import itertools
import zlib
from typing import Any, Dict, Iterable, List, NamedTuple, Optional, Sequence, Tuple, Union


class Ref(NamedTuple):
    num: int

    def __str__(self) -> str:
        return f"{self.num} 0 R"


def pdf_name(text: str) -> bytes:
    return b"/" + b"".join(bytes([c]) if 0x20 < c < 0x7F and c not in b"#/%()<>[]{}" else b"#%02X" % c
                           for c in text.encode("utf-8"))


def pdf_string(data: Union[bytes, str]) -> bytes:
    data = data.encode("latin-1") if isinstance(data, str) else data
    escaped = data.replace(b"\\", b"\\\\").replace(b"(", b"\\(").replace(b")", b"\\)").replace(b"\r", b"\\r")
    return b"(" + escaped + b")"


def _number(value: float) -> bytes:
    if value == int(value) and abs(value) < 1e15:
        return str(int(value)).encode()
    return ("%.6f" % value).rstrip("0").rstrip(".").encode()


def pdf_value(value: Any) -> bytes:
    if value is None or isinstance(value, bool):
        return {None: b"null", True: b"true", False: b"false"}[value]
    if isinstance(value, float):
        return _number(value)
    if isinstance(value, (bytes, bytearray)):
        return pdf_string(bytes(value))
    if isinstance(value, (str, int, Ref)):
        return str(value).encode("latin-1")
    if isinstance(value, (list, tuple)):
        return b"[" + b" ".join(pdf_value(v) for v in value) + b"]"
    if isinstance(value, dict):
        return b"<<" + b" ".join(pdf_name(str(k)) + b" " + pdf_value(v) for k, v in value.items()) + b">>"
    raise TypeError(f"no PDF form for {type(value).__name__}")


def text_content(lines: Iterable[Tuple[float, float, str]], font: str = "F1", size: float = 12) -> bytes:
    # a content stream showing each (x, y, text) with font `font`
    shown = [b"/%s %s Tf 1 0 0 1 %s %s Tm %s Tj" % (font.encode(), _number(size), _number(x), _number(y),
                                                      pdf_string(text)) for x, y, text in lines]
    return b"\n".join([b"BT", *shown, b"ET"])


def ruled_table_content(x: float, top: float, col_widths: Sequence[float], row_height: float,
                        rows: Sequence[Sequence[str]], font: str = "F1", size: float = 10) -> bytes:
    # A grid of stroked rules with one text per cell, top row first; each
    # cell's text starts 4 units right of its left rule and 4 above its bottom rule.
    edges_x = list(itertools.accumulate(col_widths, initial=x))
    edges_y = [top - i * row_height for i in range(len(rows) + 1)]
    rules = [(ex, edges_y[0], ex, edges_y[-1]) for ex in edges_x]
    rules += [(edges_x[0], ey, edges_x[-1], ey) for ey in edges_y]
    out = [b"0.5 w"] + [b"%s %s m %s %s l S" % tuple(map(_number, rule)) for rule in rules]
    cells = [(edges_x[c] + 4, edges_y[r + 1] + 4, text) for r, row in enumerate(rows) for c, text in enumerate(row)]
    return b"\n".join(out + [text_content(cells, font=font, size=size)])


def flate_bomb(unit: bytes, count: int) -> bytes:
    # The data of a [/FlateDecode /FlateDecode] stream that decodes to
    # `unit * count`, built without holding it: one deflate segment ended by a
    # full flush (so it depends on nothing before it) is repeated, wrapped in a
    # zlib header and checksum, and deflated once more.
    per_chunk = max(1, (1 << 20) // len(unit))
    whole, rest = divmod(count, per_chunk)
    raw = zlib.compressobj(9, zlib.DEFLATED, -15)
    chunk = unit * per_chunk
    segment = raw.compress(chunk) + raw.flush(zlib.Z_FULL_FLUSH)
    tail = raw.compress(unit * rest) + raw.flush()
    adler = 1
    for _ in range(whole):
        adler = zlib.adler32(chunk, adler)
    adler = zlib.adler32(unit * rest, adler)
    return zlib.compress(b"\x78\xda" + segment * whole + tail + adler.to_bytes(4, "big"), 9)


class PdfBuilder:
    CATALOG = Ref(1)
    PAGES = Ref(2)

    def __init__(self, version: str = "1.4") -> None:
        self.version = version
        self.objects: Dict[int, bytes] = {}
        self.pages: List[Ref] = []
        self._standard_fonts: Dict[str, Ref] = {}
        self._next_num = 3

    def reserve(self) -> Ref:
        self._next_num += 1
        return Ref(self._next_num - 1)

    def set_object(self, ref: Ref, value: Any) -> Ref:
        self.objects[ref.num] = pdf_value(value)
        return ref

    def add_object(self, value: Any) -> Ref:
        return self.set_object(self.reserve(), value)

    def add_stream(self, dictionary: Optional[Dict[str, Any]], data: bytes, compress: bool = False) -> Ref:
        # /Length is filled in unless given
        entries = dict(dictionary or {})
        if compress:
            data = zlib.compress(data, 6)
            entries["Filter"] = "/FlateDecode"
        entries.setdefault("Length", len(data))
        ref = self.reserve()
        self.objects[ref.num] = pdf_value(entries) + b"\nstream\n" + data + b"\nendstream"
        return ref

    def standard_font(self, base_font: str = "Helvetica") -> Ref:
        # one shared Type1 font object (WinAnsiEncoding) per base font name
        if base_font not in self._standard_fonts:
            font = {"Type": "/Font", "Subtype": "/Type1", "BaseFont": pdf_name(base_font).decode(),
                    "Encoding": "/WinAnsiEncoding"}
            self._standard_fonts[base_font] = self.add_object(font)
        return self._standard_fonts[base_font]

    def add_image(self, width: int, height: int, data: Optional[bytes] = None, bits_per_component: int = 8,
                  color_space: Any = "/DeviceGray", filter: Any = None) -> Ref:
        # `data` defaults to mid-grey samples; `filter` is written as given
        entries = {"Type": "/XObject", "Subtype": "/Image", "Width": width, "Height": height,
                   "ColorSpace": color_space, "BitsPerComponent": bits_per_component,
                   **({"Filter": filter} if filter is not None else {})}
        if data is None:
            channels = {"/DeviceRGB": 3, "/DeviceCMYK": 4}.get(color_space, 1)
            data = b"\x80" * ((width * channels * bits_per_component + 7) // 8 * height)
        return self.add_stream(entries, data)

    def add_page(self, content: Optional[bytes] = b"", fonts: Optional[Dict[str, Any]] = None,
                 media_box: Sequence[float] = (0, 0, 612, 792), xobjects: Optional[Dict[str, Ref]] = None,
                 compress: bool = False, **extra: Any) -> Ref:
        # `content`: the content stream, or None for no /Contents. `fonts` maps
        # resource names to a Ref or a standard font name (by default F1 is
        # Helvetica when there is content). `extra` adds page entries.
        fonts = {"F1": "Helvetica"} if fonts is None and content else fonts
        resources: Dict[str, Any] = {"Font": {k: (v if isinstance(v, Ref) else self.standard_font(v))
                                              for k, v in fonts.items()}} if fonts else {}
        if xobjects:
            resources["XObject"] = dict(xobjects)
        page = {"Type": "/Page", "Parent": self.PAGES, "MediaBox": list(media_box), "Resources": resources}
        if content is not None:
            page["Contents"] = self.add_stream(None, content, compress)
        self.pages.append(self.add_object({**page, **extra}))
        return self.pages[-1]

    def build(self) -> bytes:
        objects = {self.CATALOG.num: pdf_value({"Type": "/Catalog", "Pages": self.PAGES}),
                   self.PAGES.num: pdf_value({"Type": "/Pages", "Kids": self.pages, "Count": len(self.pages)}),
                   **self.objects}
        out = bytearray(b"%PDF-" + self.version.encode("latin-1") + b"\n%\xe2\xe3\xcf\xd3\n")
        offsets = {}
        for num in sorted(objects):
            offsets[num] = len(out)
            out += b"%d 0 obj\n" % num + objects[num] + b"\nendobj\n"
        xref_at, size = len(out), self._next_num
        out += b"xref\n0 %d\n0000000000 65535 f\r\n" % size
        for num in range(1, size):
            out += b"%010d 00000 n\r\n" % offsets[num] if num in offsets else b"0000000000 00001 f\r\n"
        out += b"trailer\n" + pdf_value({"Size": size, "Root": self.CATALOG})
        return bytes(out + b"\nstartxref\n%d\n%%%%EOF\n" % xref_at)


def text_pdf(*pages: str) -> bytes:
    # one page per text, each shown at (72, 700) in Helvetica 12
    b = PdfBuilder()
    for text in pages:
        b.add_page(content=text_content([(72, 700, text)]))
    return b.build()


def resave(data: bytes, **options: Any) -> bytes:
    # `data` written again by pikepdf with its save options (object streams, encryption ...)
    import pikepdf

    with pikepdf.open(io.BytesIO(data)) as pdf:
        out = io.BytesIO()
        pdf.save(out, **options)
        return out.getvalue()
