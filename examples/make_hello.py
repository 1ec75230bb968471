"""Writes examples/hello.pdf: one page with a few lines of text and a small ruled table.

    python examples/make_hello.py

The output is deterministic; rerun it only when the example should change.
"""

import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

from pdfbuilder import PdfBuilder, ruled_table_content, text_content  # noqa: E402


def hello_pdf() -> bytes:
    text = text_content(
        [
            (72, 720, "Hello from vellum"),
            (72, 700, "This page has three lines of text and a small ruled table."),
            (72, 680, "Run: python -m vellum examples/hello.pdf"),
        ]
    )
    table = ruled_table_content(
        72, 640, [140, 60, 80], 20, [["Item", "Qty", "Price"], ["Notebook", "2", "7.50"], ["Pencil", "10", "0.40"]]
    )
    b = PdfBuilder(version="1.7")
    b.add_page(content=text + b"\n" + table)
    return b.build()


if __name__ == "__main__":
    (HERE / "hello.pdf").write_bytes(hello_pdf())
