"""vellum: PDF parsing and text extraction.

parse(data, password=None, *, strict=False) returns the extracted document
as a dict; parse_to_json, parse_to_html and parse_to_markdown return it
rendered as text. Errors in the file raise ValueError("Kind: message"); an
encrypted file opened without the right password raises PasswordError, a
ValueError. A damaged file whose cross-reference table had to be repaired is
read anyway and issues a RecoveryWarning; strict=True raises instead.

convert_many(paths, format="markdown") converts many files in parallel and
yields (path, result or exception) as they finish (see vellum.batch).
"""

from ._vellum import InternalError as InternalError
from ._vellum import PasswordError as PasswordError
from ._vellum import RecoveryWarning as RecoveryWarning
from ._vellum import parse, parse_to_html, parse_to_json, parse_to_markdown
from .batch import convert_many

__all__ = [
    "parse",
    "parse_to_json",
    "parse_to_html",
    "parse_to_markdown",
    "convert_many",
    "PasswordError",
    "RecoveryWarning",
]
