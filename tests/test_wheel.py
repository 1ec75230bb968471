"""The package as users get it: one abi3 wheel with everything in it, which
installs offline into a fresh virtual environment and works there. Slow (it
compiles the library): deselect with -m "not slow"."""

from __future__ import annotations

import importlib.util
import os
import re
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

import vellum

REPO = Path(__file__).resolve().parent.parent
HELLO = REPO / "examples" / "hello.pdf"

pytestmark = pytest.mark.slow

EXPECTED_FILES = ["__init__.py", "__main__.py", "batch.py", "cli.py", "_vellum.pyi", "py.typed"]


def run(argv: list, timeout: float, **kwargs) -> subprocess.CompletedProcess:
    # Nothing from the test run's interpreter setup may leak into the venv.
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "VIRTUAL_ENV"))}
    proc = subprocess.run(argv, capture_output=True, text=True, timeout=timeout, **kwargs,
                          env={**env, "PIP_DISABLE_PIP_VERSION_CHECK": "1"})
    assert proc.returncode == 0, f"{argv}\n{proc.stdout}\n{proc.stderr}"
    return proc


def build_wheel(root: Path) -> Path:
    argv = [sys.executable, "-m", "pip", "wheel", str(REPO), "-w", str(root / "dist"), "--no-deps", "-q"]
    # A build directory of its own, so a concurrent build of the tree is not disturbed.
    argv.append(f"--config-settings=build-dir={root / 'build'}")
    if importlib.util.find_spec("scikit_build_core") is not None:
        argv.append("--no-build-isolation")  # the backend is here: no download needed
    run(argv, timeout=600)
    [wheel] = (root / "dist").glob("*.whl")
    return wheel


def test_one_abi3_wheel_with_everything_in_it_installs_offline_and_works(tmp_path):
    # .ci/run has built the wheel already (with the unit tests): reuse it.
    wheel = Path(os.environ["VELLUM_TEST_WHEEL"]) if os.environ.get("VELLUM_TEST_WHEEL") else build_wheel(tmp_path)
    assert re.fullmatch(r"vellum-[0-9][^-]*-cp39-abi3-[A-Za-z0-9_.]+\.whl", wheel.name), wheel.name
    with zipfile.ZipFile(wheel) as zf:
        names = zf.namelist()
    assert all(f"vellum/{name}" in names for name in EXPECTED_FILES), names
    assert [n for n in names if re.fullmatch(r"vellum/_vellum\.abi3\.(so|pyd)", n)], names

    venv = tmp_path / "venv"
    run([sys.executable, "-m", "venv", str(venv)], timeout=120)
    bindir = venv / ("Scripts" if os.name == "nt" else "bin")
    run([str(bindir / "python"), "-m", "pip", "install", "--no-index", "--no-deps", "-q", str(wheel)], timeout=120)

    script = (
        "import sys, vellum\n"
        "assert vellum.__file__.startswith(sys.prefix), vellum.__file__\n"
        f"print(vellum.parse(open({str(HELLO)!r}, 'rb').read())['pages'][0]['lines'][0]['text'])\n"
        "print(sorted(vellum.__all__))\n"
    )
    out = run([str(bindir / "python"), "-c", script], timeout=60, cwd=tmp_path).stdout.splitlines()
    assert out == ["Hello from vellum", str(sorted(vellum.__all__))]

    # the console script (the wheel's entry point), on one file and on a directory with a worker pool
    printed = run([str(bindir / "vellum"), str(HELLO)], timeout=60, cwd=tmp_path).stdout
    assert printed.startswith("Hello from vellum\n")
    batch = run([str(bindir / "vellum"), str(HELLO.parent), "-o", str(tmp_path / "out"), "-j", "2"], timeout=60, cwd=tmp_path)
    assert batch.stderr == "1 converted, 0 failed\n"
    assert (tmp_path / "out" / "hello.md").read_text(encoding="utf-8") == printed
