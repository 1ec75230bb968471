"""Command line: print the Markdown, JSON or HTML extracted from one PDF file.

    python -m vellum FILE [--format markdown|json|html] [--password PW]

Exit status: 0 on success, 1 when the file cannot be read or parsed (the
reason goes to stderr), 2 on a usage error.
"""

from __future__ import annotations

import argparse
import sys
from typing import List, Optional

from . import parse_to_html, parse_to_json, parse_to_markdown

RENDERERS = {"markdown": parse_to_markdown, "json": parse_to_json, "html": parse_to_html}


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="vellum", description="Extract the text, tables and images of a PDF file.")
    parser.add_argument("file", metavar="FILE", help="the PDF file to read")
    parser.add_argument("--format", choices=list(RENDERERS), default="markdown", help="output form (default: markdown)")
    parser.add_argument("--password", default=None, help="password of an encrypted file")
    return parser


def write_utf8(text: str) -> None:
    # The outputs are UTF-8 by definition (the HTML says so); don't let a
    # non-UTF-8 locale turn an em dash into an encoding error.
    stdout = sys.stdout
    buffer = getattr(stdout, "buffer", None)
    if buffer is None:
        stdout.write(text + "\n")
        return
    stdout.flush()
    buffer.write(text.encode("utf-8", "surrogateescape") + b"\n")
    buffer.flush()


def main(argv: Optional[List[str]] = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        with open(args.file, "rb") as f:
            data = f.read()
    except OSError as e:
        print(f"vellum: cannot read {args.file}: {e.strerror or e}", file=sys.stderr)
        return 1
    try:
        result = RENDERERS[args.format](data, args.password)
    except ValueError as e:
        print(f"vellum: {args.file}: {e}", file=sys.stderr)
        return 1
    write_utf8(result)
    return 0


if __name__ == "__main__":
    sys.exit(main())
