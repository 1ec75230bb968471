"""vellum: PDF parsing and text extraction.

parse(data, password=None) returns the extracted document as a dict;
parse_to_json, parse_to_html and parse_to_markdown return it rendered as text.
Errors in the file raise ValueError("Kind: message").
"""

from ._vellum import InternalError, parse, parse_to_html, parse_to_json, parse_to_markdown

__all__ = ["parse", "parse_to_json", "parse_to_html", "parse_to_markdown"]
