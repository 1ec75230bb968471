"""Shared pytest fixtures: the PDF builder on the import path and the corpus
(../shared/corpus or $VELLUM_CORPUS; tests that need it skip without it)."""

from __future__ import annotations

import json
import os
from pathlib import Path

import pytest

# pytest puts this directory on sys.path (rootdir conftest, prepend import
# mode), so the tests import pdfbuilder and conftest directly.
REPO_DIR = Path(__file__).resolve().parent.parent


def corpus_dir() -> Path:
    return Path(os.environ.get("VELLUM_CORPUS") or REPO_DIR / ".." / "shared" / "corpus")


def load_manifest() -> list:
    """The manifest's entries, or [] when the corpus is absent."""
    path = corpus_dir() / "manifest.json"
    return json.loads(path.read_text(encoding="utf-8")) if path.is_file() else []


@pytest.fixture(scope="session")
def corpus() -> Path:
    """The corpus directory; skips the test when it is absent."""
    if not load_manifest():
        pytest.skip("corpus not available")
    return corpus_dir()
