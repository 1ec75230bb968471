"""Entry point of `python -m vellum` and of the `vellum` command.

    vellum FILE... [--format markdown|json|html] [--password PW] [-o DIR] [-j N]

The command itself lives in vellum.cli; `vellum --help` describes it.
"""

from __future__ import annotations

import sys

from .cli import main

__all__ = ["main"]

if __name__ == "__main__":
    sys.exit(main())
