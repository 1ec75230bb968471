"""Type stubs for the native extension module vellum._vellum.

The TypedDicts describe the dict that `parse` returns; they exist for type
checkers only (import them under `if TYPE_CHECKING:`).
"""

from typing import Any, Iterable, List, Literal, Optional, SupportsIndex, Tuple, TypedDict, type_check_only

__all__ = ["parse", "parse_to_json", "parse_to_html", "parse_to_markdown", "info"]

@type_check_only
class Line(TypedDict):
    text: str
    x: Optional[float]  # None when the coordinate is not finite
    y: Optional[float]

@type_check_only
class Table(TypedDict):
    rows: int
    cols: int
    cells: List[List[str]]

@type_check_only
class Image(TypedDict):
    name: str
    format: Literal["Jpeg", "Jpeg2000", "Ccitt", "Jbig2", "Raw"]
    width: int
    height: int
    bits_per_component: int
    color_space: str

@type_check_only
class Page(TypedDict):
    width: Optional[float]  # None when the size is not finite
    height: Optional[float]
    lines: List[Line]
    needs_ocr: bool
    tables: List[Table]
    images: List[Image]

@type_check_only
class Document(TypedDict):
    version: str
    pages: List[Page]

@type_check_only
class OutlineItem(TypedDict):
    title: str
    level: int  # 1 for the top level
    page: Optional[int]  # 0-based; None when the item leads to no page of this document

@type_check_only
class Info(TypedDict):
    pages: int
    version: str
    encrypted: bool
    encryption: Optional[str]  # "RC4-40" ... "RC4-128", "AES-128", "AES-256"; None if unknown
    title: Optional[str]
    author: Optional[str]
    subject: Optional[str]
    keywords: Optional[str]
    creator: Optional[str]
    producer: Optional[str]
    creation_date: Optional[str]  # ISO 8601, "2024-05-01T12:30:00+02:00"
    modification_date: Optional[str]
    outline: List[OutlineItem]

class InternalError(BaseException):
    """A fault inside vellum itself; not an Exception, so ordinary handlers don't swallow it."""

class PasswordError(ValueError):
    """The document is encrypted and the password given (or none) is neither its user nor its owner password."""

class RecoveryWarning(UserWarning):
    """A damaged file was read by repairing its structure; strict=True raises instead."""

_Pages = Optional[Iterable[SupportsIndex]]

def parse(data: bytes, password: Optional[str] = None, *, strict: bool = False, pages: _Pages = None) -> Document:
    """Parse a PDF and return the extracted document as a native Python dict."""

def parse_to_json(data: bytes, password: Optional[str] = None, *, strict: bool = False, pages: _Pages = None) -> str:
    """Parse a PDF and return its extracted form as pretty JSON."""

def parse_to_html(
    data: bytes,
    password: Optional[str] = None,
    *,
    strict: bool = False,
    pages: _Pages = None,
    default_title: Optional[str] = None,
) -> str:
    """Parse a PDF and render it to a standalone HTML document."""

def parse_to_markdown(data: bytes, password: Optional[str] = None, *, strict: bool = False, pages: _Pages = None) -> str:
    """Parse a PDF and render it to Markdown."""

def info(data: bytes, password: Optional[str] = None, *, strict: bool = False) -> Info:
    """Read a PDF's page count, version, encryption, document information and outline without extracting any page."""

def _convert(
    data: bytes,
    password: Optional[str] = None,
    *,
    strict: bool = False,
    pages: _Pages = None,
    default_title: Optional[str] = None,
    format: str = "markdown",  # "markdown", "json", "html" or "dict"
) -> Tuple[Any, str]:
    """For vellum.batch: the rendering named by `format` and the note of what recovery repaired ("" for none)."""
