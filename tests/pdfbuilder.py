"""A small, deterministic PDF writer for tests.

Tests describe their input in a few lines and get exact bytes back:

    b = PdfBuilder()
    b.add_page(content=b"BT /F1 12 Tf 72 700 Td (Hello) Tj ET")
    data = b.build()

Values are written as PDF syntax by `pdf_value`:

* `str` is copied verbatim as PDF syntax ("/Page", "(text)", "true", "5 0 R");
* `bytes` become a literal string "( ... )" with the needed escapes, and
  `Hex(b"...")` a hexadecimal string;
* `int`, `float`, `bool`, `None`, `list`, `dict` (keys are names, written
  without the slash) and `Ref` map to their PDF counterparts.

The builder writes the catalog (object 1) and one flat page tree node
(object 2) itself. Layout options:

* `xref="table"` (default): classic cross-reference table and trailer;
* `xref="stream"`: a cross-reference stream;
* `xref="hybrid"`: a classic table whose trailer points (/XRefStm) at a
  cross-reference stream listing the objects kept in object streams;
* `object_streams=True` (with "stream" or "hybrid"): non-stream objects go
  into one object stream per revision;
* `new_revision()` starts an incremental update: objects added or replaced
  afterwards are appended after the previous file with their own
  cross-reference section and a /Prev link;
* `trailer={...}` adds or overrides trailer entries of the first revision;
  a value of None drops the key (e.g. {"Root": None}).

Nothing depends on time or randomness: the same calls give the same bytes.
"""

from __future__ import annotations

import zlib
from dataclasses import dataclass, field
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple, Union


@dataclass(frozen=True)
class Ref:
    """An indirect reference `num gen R`."""

    num: int
    gen: int = 0

    def __str__(self) -> str:
        return f"{self.num} {self.gen} R"


@dataclass(frozen=True)
class Hex:
    """A hexadecimal string object <...>."""

    data: bytes


_NAME_SAFE = set(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.-_+*,;:!?'\"@$^&|~`=")


def pdf_name(text: str) -> bytes:
    out = bytearray(b"/")
    for byte in text.encode("utf-8"):
        out += bytes([byte]) if byte in _NAME_SAFE else b"#%02X" % byte
    return bytes(out)


def pdf_string(data: Union[bytes, str]) -> bytes:
    """A literal string with backslash, parentheses and CR escaped."""
    if isinstance(data, str):
        data = data.encode("latin-1")
    escaped = data.replace(b"\\", b"\\\\").replace(b"(", b"\\(").replace(b")", b"\\)").replace(b"\r", b"\\r")
    return b"(" + escaped + b")"


def _number(value: float) -> bytes:
    if value == int(value) and abs(value) < 1e15:
        return str(int(value)).encode()
    return ("%.6f" % value).rstrip("0").rstrip(".").encode()


def pdf_value(value: Any) -> bytes:
    """PDF syntax for a Python value (see the module docstring)."""
    if value is None:
        return b"null"
    if value is True:
        return b"true"
    if value is False:
        return b"false"
    if isinstance(value, int):
        return str(value).encode()
    if isinstance(value, float):
        return _number(value)
    if isinstance(value, Ref):
        return str(value).encode()
    if isinstance(value, Hex):
        return b"<" + value.data.hex().upper().encode() + b">"
    if isinstance(value, (bytes, bytearray)):
        return pdf_string(bytes(value))
    if isinstance(value, str):
        return value.encode("latin-1")
    if isinstance(value, (list, tuple)):
        return b"[" + b" ".join(pdf_value(v) for v in value) + b"]"
    if isinstance(value, dict):
        parts = [pdf_name(str(k)) + b" " + pdf_value(v) for k, v in value.items()]
        return b"<<" + b" ".join(parts) + b">>"
    raise TypeError(f"no PDF form for {type(value).__name__}")


def text_content(lines: Iterable[Tuple[float, float, str]], font: str = "F1", size: float = 12) -> bytes:
    """A content stream showing each (x, y, text) with font `font`."""
    out = [b"BT"]
    for x, y, text in lines:
        out.append(b"/%s %s Tf 1 0 0 1 %s %s Tm %s Tj" % (font.encode(), _number(size), _number(x), _number(y), pdf_string(text)))
    out.append(b"ET")
    return b"\n".join(out)


def flate_bomb(unit: bytes, count: int) -> bytes:
    """The data of a [/FlateDecode /FlateDecode] stream that decodes to
    `unit * count`, built without holding it: one deflate segment ended by a
    full flush (so it depends on nothing before it) is repeated, wrapped in a
    zlib header and checksum, and deflated once more."""
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


def ruled_table_content(
    x: float,
    top: float,
    col_widths: Sequence[float],
    row_height: float,
    rows: Sequence[Sequence[str]],
    font: str = "F1",
    size: float = 10,
) -> bytes:
    """A grid of stroked rules with one text per cell, top row first.

    Each cell's text starts 4 units right of its left rule and 4 above its
    bottom rule.
    """
    edges_x = [x]
    for w in col_widths:
        edges_x.append(edges_x[-1] + w)
    edges_y = [top - i * row_height for i in range(len(rows) + 1)]
    out = [b"0.5 w"]
    for ex in edges_x:
        out.append(b"%s %s m %s %s l S" % (_number(ex), _number(edges_y[0]), _number(ex), _number(edges_y[-1])))
    for ey in edges_y:
        out.append(b"%s %s m %s %s l S" % (_number(edges_x[0]), _number(ey), _number(edges_x[-1]), _number(ey)))
    cells = []
    for r, row in enumerate(rows):
        for c, text in enumerate(row):
            cells.append((edges_x[c] + 4, edges_y[r + 1] + 4, text))
    out.append(text_content(cells, font=font, size=size))
    return b"\n".join(out)


@dataclass
class _Body:
    data: bytes  # everything between "n g obj" and "endobj"
    is_stream: bool


@dataclass
class _Revision:
    xref: str
    object_streams: bool
    trailer: Dict[str, Any]
    objects: Dict[int, _Body] = field(default_factory=dict)
    pages_changed: bool = False


class PdfBuilder:
    """Collects objects and pages, then writes a complete file with `build()`."""

    CATALOG = Ref(1)
    PAGES = Ref(2)

    def __init__(
        self,
        version: str = "1.4",
        xref: str = "table",
        object_streams: bool = False,
        compress_structure: bool = False,
        trailer: Optional[Dict[str, Any]] = None,
    ) -> None:
        """`compress_structure` Flate-compresses object and xref streams."""
        self.version = version
        self.compress_structure = compress_structure
        self._revisions: List[_Revision] = []
        self._next_num = 3
        self._pages: List[Ref] = []
        self._standard_fonts: Dict[str, Ref] = {}
        self._add_revision(xref, object_streams, dict(trailer or {}))
        self._revisions[0].pages_changed = True

    # ------------------------------------------------------------ objects

    def new_revision(self, xref: Optional[str] = None) -> None:
        """Start an incremental update; later additions go into it."""
        prev = self._revisions[-1]
        self._add_revision(xref or prev.xref, prev.object_streams, {})

    def _add_revision(self, kind: str, objstm: bool, trailer: Dict[str, Any]) -> None:
        if kind not in ("table", "stream", "hybrid"):
            raise ValueError(f"unknown xref kind {kind!r}")
        if objstm and kind == "table":
            raise ValueError("object streams need xref='stream' or 'hybrid'")
        self._revisions.append(_Revision(kind, objstm, trailer))

    def reserve(self) -> Ref:
        """A fresh object number, to be filled later with `set_object`."""
        ref = Ref(self._next_num)
        self._next_num += 1
        return ref

    def set_object(self, ref: Ref, value: Any) -> Ref:
        """Write (or, in a later revision, replace) object `ref`."""
        self._revisions[-1].objects[ref.num] = _Body(pdf_value(value), False)
        return ref

    def add_object(self, value: Any) -> Ref:
        return self.set_object(self.reserve(), value)

    def set_stream(self, ref: Ref, dictionary: Optional[Dict[str, Any]], data: bytes, compress: bool = False) -> Ref:
        entries = dict(dictionary or {})
        if compress:
            data = zlib.compress(data, 6)
            entries["Filter"] = "/FlateDecode"
        entries.setdefault("Length", len(data))
        body = pdf_value(entries) + b"\nstream\n" + data + b"\nendstream"
        self._revisions[-1].objects[ref.num] = _Body(body, True)
        return ref

    def add_stream(self, dictionary: Optional[Dict[str, Any]], data: bytes, compress: bool = False) -> Ref:
        """Add a stream; /Length is filled in unless given."""
        return self.set_stream(self.reserve(), dictionary, data, compress)

    # ------------------------------------------------------------ helpers

    def standard_font(self, base_font: str = "Helvetica") -> Ref:
        """One shared Type1 font object (WinAnsiEncoding) per base font name."""
        if base_font not in self._standard_fonts:
            font = {"Type": "/Font", "Subtype": "/Type1", "BaseFont": pdf_name(base_font).decode(), "Encoding": "/WinAnsiEncoding"}
            self._standard_fonts[base_font] = self.add_object(font)
        return self._standard_fonts[base_font]

    def add_image(
        self,
        width: int,
        height: int,
        data: Optional[bytes] = None,
        bits_per_component: int = 8,
        color_space: Any = "/DeviceGray",
        filter: Any = None,
    ) -> Ref:
        """An image XObject; `data` defaults to mid-grey samples. `filter` is written as given."""
        entries: Dict[str, Any] = {
            "Type": "/XObject",
            "Subtype": "/Image",
            "Width": width,
            "Height": height,
            "ColorSpace": color_space,
            "BitsPerComponent": bits_per_component,
        }
        if filter is not None:
            entries["Filter"] = filter
        if data is None:
            channels = {"/DeviceRGB": 3, "/DeviceCMYK": 4}.get(color_space, 1)
            data = b"\x80" * ((width * channels * bits_per_component + 7) // 8 * height)
        return self.add_stream(entries, data)

    def add_page(
        self,
        content: Optional[bytes] = b"",
        fonts: Optional[Dict[str, Any]] = None,
        media_box: Sequence[float] = (0, 0, 612, 792),
        xobjects: Optional[Dict[str, Ref]] = None,
        compress: bool = False,
        **extra: Any,
    ) -> Ref:
        """Append a page to the page tree.

        `content`: the content stream, or None for no /Contents. `fonts` maps resource names to a Ref or
        to a standard font name; by default F1 is Helvetica when there is
        content. `extra` adds page entries (Contents=ref, ...).
        """
        page: Dict[str, Any] = {"Type": "/Page", "Parent": self.PAGES, "MediaBox": list(media_box)}
        res: Dict[str, Any] = {}
        if fonts is None and content:
            fonts = {"F1": "Helvetica"}
        if fonts:
            res["Font"] = {k: (v if isinstance(v, Ref) else self.standard_font(v)) for k, v in fonts.items()}
        if xobjects:
            res["XObject"] = dict(xobjects)
        page["Resources"] = res
        if content is not None:
            page["Contents"] = self.add_stream(None, content, compress)
        page.update(extra)
        ref = self.add_object(page)
        self._pages.append(ref)
        self._revisions[-1].pages_changed = True
        return ref

    # ------------------------------------------------------------ output

    def build(self) -> bytes:
        """The whole file: header, then each revision with its own xref section."""
        out = bytearray(b"%PDF-" + self.version.encode("latin-1") + b"\n%\xe2\xe3\xcf\xd3\n")
        prev_xref: Optional[int] = None
        size = self._next_num
        for index, rev in enumerate(self._revisions):
            objects = dict(rev.objects)
            if rev.pages_changed:
                pages = {"Type": "/Pages", "Kids": list(self._pages), "Count": len(self._pages)}
                objects[self.PAGES.num] = _Body(pdf_value(pages), False)
            if index == 0:
                catalog = {"Type": "/Catalog", "Pages": self.PAGES}
                objects.setdefault(self.CATALOG.num, _Body(pdf_value(catalog), False))
            prev_xref, size = self._write_revision(out, rev, objects, size, prev_xref, first=index == 0)
        return bytes(out)

    def _write_revision(
        self, out: bytearray, rev: _Revision, objects: Dict[int, _Body], size: int, prev: Optional[int], first: bool
    ) -> Tuple[int, int]:
        # entries: num -> (type, field2, field3); type 0 free, 1 offset, 2 in object stream
        entries: Dict[int, Tuple[int, int, int]] = {}
        packed = [n for n in sorted(objects) if rev.object_streams and not objects[n].is_stream]
        for num in sorted(objects):
            if num not in packed:
                entries[num] = (1, len(out), 0)
                out += b"%d 0 obj\n" % num + objects[num].data + b"\nendobj\n"
        if packed:
            stm_num = size
            size += 1
            header, payload = [], bytearray()
            for i, num in enumerate(packed):
                header.append(b"%d %d" % (num, len(payload)))
                payload += objects[num].data + b"\n"
                entries[num] = (2, stm_num, i)
            head = b" ".join(header) + b"\n"
            data = head + bytes(payload)
            stm: Dict[str, Any] = {"Type": "/ObjStm", "N": len(packed), "First": len(head)}
            data = self._structure_stream(stm, data)
            entries[stm_num] = (1, len(out), 0)
            out += b"%d 0 obj\n" % stm_num + pdf_value(stm) + b"\nstream\n" + data + b"\nendstream\nendobj\n"
        size = max([size] + [n + 1 for n in entries])

        trailer: Dict[str, Any] = {"Size": size, "Root": self.CATALOG}
        if prev is not None:
            trailer["Prev"] = prev

        if rev.xref == "table":
            return self._write_table(out, entries, trailer, rev.trailer, first), size
        if rev.xref == "stream":
            return self._write_xref_stream(out, entries, trailer, rev.trailer, first, size)
        # hybrid: the classic table lists what lives in the file; the stream, the rest
        stream_entries = {n: e for n, e in entries.items() if e[0] == 2}
        table_entries = {n: e for n, e in entries.items() if e[0] != 2}
        xrefstm_at, size = self._write_xref_stream(out, stream_entries, {"Size": size + 1}, {}, False, size, hybrid=True)
        table_entries[size - 1] = (1, xrefstm_at, 0)
        trailer["Size"] = size
        trailer["XRefStm"] = xrefstm_at
        return self._write_table(out, table_entries, trailer, rev.trailer, first, skip=stream_entries), size

    def _structure_stream(self, entries: Dict[str, Any], data: bytes) -> bytes:
        if self.compress_structure:
            data = zlib.compress(data, 6)
            entries["Filter"] = "/FlateDecode"
        entries["Length"] = len(data)
        return data

    @staticmethod
    def _final_trailer(trailer: Dict[str, Any], edits: Dict[str, Any]) -> Dict[str, Any]:
        merged = dict(trailer)
        for key, value in edits.items():
            if value is None:
                merged.pop(key, None)
            else:
                merged[key] = value
        return merged

    def _write_table(self, out: bytearray, entries: Dict[int, Tuple[int, int, int]], trailer, edits, first: bool, skip=()) -> int:
        at = len(out)
        rows = dict(entries)
        if first:
            # gaps become free entries, except the objects that the
            # cross-reference stream of a hybrid file describes
            for num in range(0, trailer["Size"]):
                if num not in skip:
                    rows.setdefault(num, (0, 0, 65535 if num == 0 else 1))
        out += b"xref\n"
        for start, run in _runs(sorted(rows)):
            out += b"%d %d\n" % (start, len(run))
            for num in run:
                kind, f2, f3 = rows[num]
                if kind == 0:
                    out += b"%010d %05d f\r\n" % (0, f3)
                else:
                    out += b"%010d %05d n\r\n" % (f2, 0)
        out += b"trailer\n" + pdf_value(self._final_trailer(trailer, edits)) + b"\nstartxref\n%d\n%%%%EOF\n" % at
        return at

    def _write_xref_stream(self, out, entries, trailer, edits, first: bool, size: int, hybrid: bool = False):
        num = size
        size += 1
        at = len(out)
        rows = dict(entries)
        rows[num] = (1, at, 0)
        if first:
            for n in range(0, size):
                rows.setdefault(n, (0, 0, 65535 if n == 0 else 1))
        index: List[int] = []
        data = bytearray()
        for start, run in _runs(sorted(rows)):
            index += [start, len(run)]
            for n in run:
                kind, f2, f3 = rows[n]
                data += bytes([kind]) + f2.to_bytes(4, "big") + f3.to_bytes(2, "big")
        stream: Dict[str, Any] = {"Type": "/XRef", "W": [1, 4, 2], "Index": index}
        if not hybrid:
            stream.update(trailer)
        stream["Size"] = size
        stream = self._final_trailer(stream, edits)
        payload = self._structure_stream(stream, bytes(data))
        out += b"%d 0 obj\n" % num + pdf_value(stream) + b"\nstream\n" + payload + b"\nendstream\nendobj\n"
        if not hybrid:
            out += b"startxref\n%d\n%%%%EOF\n" % at
        return at, size


def _runs(nums: List[int]) -> Iterable[Tuple[int, List[int]]]:
    """Consecutive object numbers grouped into cross-reference subsections."""
    run: List[int] = []
    for n in nums:
        if run and n != run[-1] + 1:
            yield run[0], run
            run = []
        run.append(n)
    if run:
        yield run[0], run
