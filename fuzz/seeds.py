#!/usr/bin/env python3
"""Seed corpora for the fuzz targets, cut from the shared corpus of real PDFs.

For every file of ../shared/corpus/files (relative to the repository):
  corpus-document/           the whole file (files above 256 KiB are left out:
                             under the sanitizers they take over the 1 s
                             timeout and add little syntax)
  corpus-document_password/  the whole file behind the harness's password
                             header, with the user password (and, in a second
                             seed, the owner password) from manifest.json
  corpus-<target>/           what fuzz/build/seed_extract cuts out of the file
                             with vellum itself: object texts, decoded page
                             contents, CMaps, filtered stream bodies (single
                             decoders and whole chains) and encryption
                             dictionaries.
When the extractor has not been built, FlateDecode stream bodies found by a
regular expression and inflated with zlib stand in for the content, cmap and
decode seeds.

Usage: fuzz/seeds.py [--corpus DIR]   (run from anywhere; writes into fuzz/)
"""

import argparse
import hashlib
import json
import pathlib
import re
import subprocess
import sys
import zlib

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
MAX_WHOLE_FILE = 256 << 10
TARGETS = ["document", "document_password", "object", "content", "cmap", "decode", "filter_chain", "crypt"]


def write_seed(target, data):
    if not data:
        return
    d = HERE / f"corpus-{target}"
    d.mkdir(exist_ok=True)
    (d / hashlib.sha1(data).hexdigest()).write_bytes(data)


def password_seed(password, pdf):
    pw = password.encode("utf-8")[:63]
    return bytes([len(pw)]) + pw + pdf


def regex_seeds(pdf):
    """Inflate FlateDecode stream bodies found by a regular expression."""
    for m in re.finditer(rb"/FlateDecode.{0,200}?>>\s*stream\r?\n", pdf, re.S):
        start = m.end()
        end = pdf.find(b"endstream", start)
        if end < 0:
            continue
        body = pdf[start:end]
        try:
            data = zlib.decompressobj().decompress(body, 1 << 20)
        except zlib.error:
            continue
        # decode target: Flate selector, no predictor, raw deflate body.
        write_seed("decode", b"\x00\x00\x00\x00\x00" + body[2:])
        if b"begincmap" in data:
            write_seed("cmap", data)
        elif b"BT" in data or b" re" in data:
            write_seed("content", data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", type=pathlib.Path, default=REPO.parent / "shared" / "corpus")
    args = parser.parse_args()
    files = args.corpus / "files"
    if not files.is_dir():
        print(f"no corpus at {args.corpus}; nothing to do", file=sys.stderr)
        return 0
    manifest = {}
    if (args.corpus / "manifest.json").exists():
        manifest = {r["file"]: r for r in json.loads((args.corpus / "manifest.json").read_text())}

    extractor = HERE / "build" / "seed_extract"
    staging = HERE / "build" / "seeds-staging"
    for pdf_path in sorted(files.glob("*.pdf")):
        pdf = pdf_path.read_bytes()
        if len(pdf) <= MAX_WHOLE_FILE:
            write_seed("document", pdf)
        enc = (manifest.get(pdf_path.name) or {}).get("encryption") or {}
        passwords = [p for p in (enc.get("user_password"), enc.get("owner_password")) if p is not None]
        if len(pdf) <= MAX_WHOLE_FILE:
            for pw in passwords or [""]:
                write_seed("document_password", password_seed(pw, pdf))
        if not extractor.exists():
            regex_seeds(pdf)
            continue
        cmd = [str(extractor), str(pdf_path), str(staging)]
        if passwords:
            cmd.append(passwords[0])
        try:
            subprocess.run(cmd, check=False, timeout=120, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            print(f"seed_extract timed out on {pdf_path.name}", file=sys.stderr)
    if staging.is_dir():
        for target_dir in staging.iterdir():
            for seed in target_dir.iterdir():
                write_seed(target_dir.name, seed.read_bytes())
                seed.unlink()
    for t in TARGETS:
        d = HERE / f"corpus-{t}"
        print(f"corpus-{t}: {len(list(d.iterdir())) if d.is_dir() else 0} seeds")
    return 0


if __name__ == "__main__":
    sys.exit(main())
