"""Type stubs for the native extension module vellum._vellum.

The TypedDicts describe the dict that `parse` returns; they exist for type
checkers only (import them under `if TYPE_CHECKING:`).
"""

from typing import List, Literal, Optional, TypedDict, type_check_only

__all__ = ["parse", "parse_to_json", "parse_to_html", "parse_to_markdown"]

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

class InternalError(BaseException):
    """A fault inside vellum itself; not an Exception, so ordinary handlers don't swallow it."""

class PasswordError(ValueError):
    """The document is encrypted and the password given (or none) is neither its user nor its owner password."""

class RecoveryWarning(UserWarning):
    """A damaged file was read by repairing its structure; strict=True raises instead."""

def parse(data: bytes, password: Optional[str] = None, *, strict: bool = False) -> Document:
    """Parse a PDF and return the extracted document as a native Python dict."""

def parse_to_json(data: bytes, password: Optional[str] = None, *, strict: bool = False) -> str:
    """Parse a PDF and return its extracted form as pretty JSON."""

def parse_to_html(data: bytes, password: Optional[str] = None, *, strict: bool = False) -> str:
    """Parse a PDF and render it to a standalone HTML document."""

def parse_to_markdown(data: bytes, password: Optional[str] = None, *, strict: bool = False) -> str:
    """Parse a PDF and render it to Markdown."""
