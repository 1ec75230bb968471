"""vellum: PDF parsing and text extraction."""

from ._vellum import parse, parse_to_html, parse_to_json, parse_to_markdown

__all__ = ["parse", "parse_to_json", "parse_to_html", "parse_to_markdown"]
