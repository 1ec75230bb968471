"""vellum: PDF parsing and text extraction.

parse(data, password=None, *, strict=False, pages=None) returns the extracted
document as a dict; parse_to_json, parse_to_html and parse_to_markdown return
it rendered as text. pages= lists the 0-based pages to extract, in the order
wanted. info(data) returns the page count, version, encryption, document
information and outline without extracting any page. Errors in the file raise
ValueError("Kind: message"); an encrypted file opened without the right
password raises PasswordError, a ValueError; a page index out of range
raises IndexError. A damaged file whose cross-reference table had to be
repaired is read anyway and issues a RecoveryWarning; strict=True raises
instead. The calls release the interpreter lock while they work, so threads
run them in parallel.

convert_many(paths, format="markdown") converts many files in parallel and
yields (path, result or exception) as they finish (see vellum.batch).
"""

from ._vellum import InternalError as InternalError
from ._vellum import PasswordError as PasswordError
from ._vellum import RecoveryWarning as RecoveryWarning
from ._vellum import info, parse, parse_to_html, parse_to_json, parse_to_markdown
from .batch import convert_many

__version__ = "0.1.0"

__all__ = [
    "parse",
    "parse_to_json",
    "parse_to_html",
    "parse_to_markdown",
    "info",
    "convert_many",
    "PasswordError",
    "RecoveryWarning",
]
