"""The type information that ships with the package: the package passes
mypy --strict, the stub of the native module matches the module at run time,
typed code using the package checks clean, and the stubs reject misuse."""

from __future__ import annotations

import os
import re
import subprocess
import sys
import textwrap
from pathlib import Path
from typing import Dict, List

import pytest

import vellum

pytest.importorskip("mypy")

# The package directory of the vellum under test (the installed one), so
# mypy and stubtest see the same files the other tests import.
PACKAGE_ROOT = str(Path(vellum.__file__).resolve().parent.parent)

GOOD_USAGE = """
from __future__ import annotations

from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import TYPE_CHECKING, Dict, List, Optional

import vellum

if TYPE_CHECKING:
    from vellum._vellum import Document, Image, Page


def texts(paths: List[Path]) -> Dict[Path, str]:
    return {p: r for p, r in vellum.convert_many(paths, "html", password="pw") if not isinstance(r, Exception)}


def documents(paths: List[str]) -> List[Document]:
    with ThreadPoolExecutor() as pool:
        results = vellum.convert_many(paths, format="dict", executor=pool, max_pending=4)
        return [doc for _, doc in results if not isinstance(doc, Exception)]


def first_width(data: bytes) -> Optional[float]:
    page: Page = vellum.parse(data, None)["pages"][0]
    images: List[Image] = page["images"]
    return None if page["needs_ocr"] and images[0]["format"] == "Jbig2" else page["width"]
"""

# (name, code, expected mypy error code): each snippet holds exactly one mistake.
MISUSES = [
    ("unknown format", 'vellum.convert_many(["a.pdf"], format="pdf")', "call-overload"),
    ("dict result is not str", 'x: str = next(iter(vellum.convert_many(["a.pdf"], "dict")))[1]', "assignment"),
    ("paths come back as given", 'p: Path = next(iter(vellum.convert_many(["a.pdf"])))[0]', "assignment"),
    ("data is bytes", 'vellum.parse("%PDF-1.4")', "arg-type"),
    ("no such page key", 'vellum.parse(b"")["pages"][0]["text"]', "typeddict-item"),
    ("coordinates may be None", 'y: float = vellum.parse(b"")["pages"][0]["lines"][0]["y"]', "assignment"),
]

PRELUDE = "from pathlib import Path\n\nimport vellum\n\n"


def run_mypy(args: List[str], cwd: Path, *paths: Path) -> subprocess.CompletedProcess:
    # mypy refuses site-packages on MYPYPATH and finds an installed package
    # by itself; a package elsewhere (a development tree) is added.
    path = [str(p) for p in paths] + ([PACKAGE_ROOT] if "site-packages" not in PACKAGE_ROOT else [])
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, timeout=300, cwd=cwd,
                          env=dict(os.environ, MYPYPATH=os.pathsep.join(path)))


@pytest.fixture(scope="module")
def mypy_report(tmp_path_factory) -> Dict[str, List[str]]:
    """One mypy run over the package and every sample; errors by file stem."""
    root = tmp_path_factory.mktemp("typing")
    samples = root / "samples"
    samples.mkdir()
    (samples / "good_usage.py").write_text(textwrap.dedent(GOOD_USAGE))
    for i, (_, code, _) in enumerate(MISUSES):
        (samples / f"misuse_{i}.py").write_text(PRELUDE + code + "\n")
    modules = ["good_usage"] + [f"misuse_{i}" for i in range(len(MISUSES))]
    args = ["mypy", "--strict", "--no-error-summary", "--cache-dir", str(root / "cache"), "-p", "vellum"]
    proc = run_mypy(args + [arg for m in modules for arg in ("-m", m)], root, samples)
    assert proc.returncode in (0, 1), proc.stdout + proc.stderr
    report: Dict[str, List[str]] = {}
    for line in proc.stdout.splitlines():
        match = re.match(r"(.+?):\d+: error: .*\[([a-z-]+)\]$", line)
        assert match or ": note: " in line, line
        if match:
            stem = Path(match[1]).stem
            report.setdefault(stem if stem in modules else "package", []).append(match[2])
    return report


def test_package_and_typed_usage_pass_strict(mypy_report):
    assert (mypy_report.get("package"), mypy_report.get("good_usage")) == (None, None)


@pytest.mark.parametrize("index", range(len(MISUSES)), ids=[m[0] for m in MISUSES])
def test_misuse_is_reported(mypy_report, index):
    assert mypy_report.get(f"misuse_{index}") == [MISUSES[index][2]]


def test_stub_matches_the_native_module(tmp_path):
    proc = run_mypy(["mypy.stubtest", "vellum._vellum", "--mypy-config-file", os.devnull], tmp_path)
    assert proc.returncode == 0, proc.stdout + proc.stderr
