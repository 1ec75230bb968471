"""Compare vellum's text with the pdftotext reference texts of the corpus.

Similarity is computed on whitespace-normalised words (Latin ligatures read as
their letters on both sides): 2 * |A & B| / (|A| + |B|)
over the two word multisets (order-insensitive, so differences in reading
order or line breaking do not count, missing or garbled words do).

    python tools/text_similarity.py [--corpus ../shared/corpus] [--below 0.9]
"""

from __future__ import annotations

import argparse
import collections
import json
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_CORPUS = os.path.join(HERE, "..", "..", "shared", "corpus")


# vellum writes the Latin ligatures U+FB00..U+FB06 as their letters; a
# reference that keeps them spells the same words.
LIGATURES = str.maketrans({"\ufb00": "ff", "\ufb01": "fi", "\ufb02": "fl", "\ufb03": "ffi",
                           "\ufb04": "ffl", "\ufb05": "st", "\ufb06": "st"})


def words(text: str) -> collections.Counter:
    return collections.Counter(re.findall(r"\S+", text.translate(LIGATURES)))


def similarity(ours: str, reference: str) -> float:
    a, b = words(ours), words(reference)
    total = sum(a.values()) + sum(b.values())
    if total == 0:
        return 1.0
    return 2 * sum((a & b).values()) / total


def extract_text(vellum, data: bytes, password: str | None) -> str:
    doc = vellum.parse(data, password)
    return "\n".join(line["text"] for page in doc["pages"] for line in page["lines"])


def corpus_similarities(corpus: str, include_encrypted: bool = False):
    import vellum

    with open(os.path.join(corpus, "manifest.json"), encoding="utf-8") as f:
        manifest = json.load(f)
    for rec in manifest:
        if not rec.get("reference_text"):
            continue
        enc = rec.get("encryption")
        if enc and not include_encrypted:
            continue
        password = enc.get("user_password") if enc else None
        with open(os.path.join(corpus, "files", rec["file"]), "rb") as f:
            data = f.read()
        with open(os.path.join(corpus, rec["reference_text"]), encoding="utf-8") as f:
            reference = f.read()
        try:
            ours = extract_text(vellum, data, password)
        except ValueError as e:
            yield rec["file"], 0.0, str(e)
            continue
        yield rec["file"], similarity(ours, reference), ""


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--corpus", default=DEFAULT_CORPUS)
    ap.add_argument("--encrypted", action="store_true", help="include encrypted files (user passwords)")
    ap.add_argument("--json", help="write {file: similarity} to this path")
    args = ap.parse_args()
    results = {}
    print("| file | similarity | note |\n| --- | --- | --- |")
    for name, sim, note in corpus_similarities(args.corpus, args.encrypted):
        results[name] = sim
        print(f"| {name} | {sim:.3f} | {note} |")
    if results:
        mean = sum(results.values()) / len(results)
        print(f"\n{len(results)} files, mean similarity {mean:.3f}, "
              f"{sum(1 for v in results.values() if v < 0.9)} below 0.9")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as f:
            json.dump(results, f, indent=1, sort_keys=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
