"""The type information that ships with the package: the package passes
mypy --strict, the stub of the native module matches the module at run time,
typed code using the package checks clean, and the stubs reject misuse."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path
from typing import List

import pytest

import vellum

pytest.importorskip("mypy")

# The package directory of the vellum under test (the installed one), so
# mypy and stubtest see the same files the other tests import.
PACKAGE_ROOT = str(Path(vellum.__file__).resolve().parent.parent)

# Typed code using the package, and misuses the stubs must reject: under
# --strict a `type: ignore` that silences nothing is an error, as is an error
# of another code than the one ignored, so each misuse is reported exactly.
USAGE = """
from __future__ import annotations

from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import TYPE_CHECKING, List, Optional

import vellum

if TYPE_CHECKING:
    from vellum._vellum import Document, Image, Page


def documents(paths: List[str]) -> List[Document]:
    with ThreadPoolExecutor() as pool:
        results = vellum.convert_many(paths, format="dict", password="pw", executor=pool, max_pending=4)
        return [doc for _, doc in results if not isinstance(doc, Exception)]


def first_width(data: bytes) -> Optional[float]:
    page: Page = vellum.parse(data, None)["pages"][0]
    images: List[Image] = page["images"]
    return None if page["needs_ocr"] and images[0]["format"] == "Jbig2" else page["width"]


def misuses() -> None:
    vellum.convert_many(["a.pdf"], format="pdf")  # type: ignore[call-overload]
    x: str = next(iter(vellum.convert_many(["a.pdf"], "dict")))[1]  # type: ignore[assignment]
    p: Path = next(iter(vellum.convert_many(["a.pdf"])))[0]  # type: ignore[assignment]
    vellum.parse("%PDF-1.4")  # type: ignore[arg-type]
    vellum.parse(b"")["pages"][0]["text"]  # type: ignore[typeddict-item]
    y: float = vellum.parse(b"")["pages"][0]["lines"][0]["y"]  # type: ignore[assignment]
"""


def run_mypy(args: List[str], cwd: Path, *paths: Path) -> subprocess.CompletedProcess:
    # mypy refuses site-packages on MYPYPATH and finds an installed package
    # by itself; a package elsewhere (a development tree) is added.
    path = [str(p) for p in paths] + ([PACKAGE_ROOT] if "site-packages" not in PACKAGE_ROOT else [])
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, timeout=300, cwd=cwd,
                          env=dict(os.environ, MYPYPATH=os.pathsep.join(path)))


def test_package_typed_usage_and_misuses_pass_strict(tmp_path):
    (tmp_path / "usage.py").write_text(USAGE)
    args = ["mypy", "--strict", "--no-error-summary", "--cache-dir", str(tmp_path / "cache"), "-p", "vellum"]
    proc = run_mypy(args + ["-m", "usage"], tmp_path, tmp_path)
    assert (proc.returncode, proc.stdout + proc.stderr) == (0, "")


def test_stub_matches_the_native_module(tmp_path):
    proc = run_mypy(["mypy.stubtest", "vellum._vellum", "--mypy-config-file", os.devnull], tmp_path)
    assert proc.returncode == 0, proc.stdout + proc.stderr
