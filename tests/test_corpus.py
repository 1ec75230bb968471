"""All four functions over the real-world corpus (encrypted files with their
user password): they fail only with ValueError, fail alike, and when they
succeed they show the same lines. Skipped when the corpus is absent."""

from __future__ import annotations

import html
import json
import re

import pytest
from conftest import corpus_dir, load_manifest

import vellum._vellum as native

ENTRIES = load_manifest()
FUNCTIONS = [native.parse, native.parse_to_json, native.parse_to_html, native.parse_to_markdown]

SECTION = re.compile(r'<section class="page" style="[^"]*"(?: data-needs-ocr="true")?>\n(.*?)</section>\n', re.S)
PARAGRAPH = re.compile(r"<p>(.*?)</p>\n", re.S)


def password_of(entry: dict):
    encryption = entry.get("encryption")
    return None if encryption is None else encryption.get("user_password", "")


def run_all(data: bytes, password):
    """Each function's result, or the ValueError text it raised."""
    results = []
    for fn in FUNCTIONS:
        try:
            results.append(("ok", fn(data, password)))
        except ValueError as e:
            results.append(("error", str(e)))
        except BaseException as e:  # InternalError and anything else is a fault
            pytest.fail(f"{fn.__name__} raised {type(e).__name__}: {e}")
    return results


def html_lines(text: str) -> list:
    return [[html.unescape(p) for p in PARAGRAPH.findall(body)] for body in SECTION.findall(text)]


@pytest.mark.parametrize("entry", ENTRIES, ids=[e["file"] for e in ENTRIES])
def test_outputs_agree(corpus, entry):
    data = (corpus_dir() / "files" / entry["file"]).read_bytes()
    results = run_all(data, password_of(entry))

    errors = [value for status, value in results if status == "error"]
    if errors:
        assert len(errors) == len(FUNCTIONS) and len(set(errors)) == 1, f"functions failed apart: {results!r:.400}"
        return

    doc, json_text, html_text, markdown = (value for _, value in results)
    assert doc == json.loads(json_text)
    lines = [[line["text"] for line in page["lines"]] for page in doc["pages"]]
    assert html_lines(html_text) == lines
    for page, texts in zip(doc["pages"], lines):
        if not page["needs_ocr"] and texts:
            assert "\n".join(texts) in markdown
    if not entry["robustness"] and entry.get("pages") is not None:
        assert len(doc["pages"]) == entry["pages"]
