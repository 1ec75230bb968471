"""Encrypted documents end to end.

Two sources of encrypted files:

* files that pikepdf (qpdf's independent implementation of the standard
  security handler) writes here: every revision with its objects in object
  streams and a cross-reference stream, and with clear metadata, the
  password's UTF-8 form and its cuts, and revision 6 with random passwords
  (user, owner, no and wrong passwords on plain files: test_passwords.py);
* the corpus: every file whose manifest entry has `encryption`, opened with
  its user password, its owner password and (where the user password is
  empty) no password, its text compared with the peer's reference text.

A password that is neither the user nor the owner password fails the open
with PasswordError, except on a file whose user password is empty, which
then opens as if no password had been given. The dictionary handling and
values from real revision 2-6 files: tests/cpp/test_crypt.cpp.
"""

from __future__ import annotations

import difflib
import io
import random
import re
import warnings
from typing import Optional

import pytest
from conftest import corpus_dir, load_manifest
from pdfbuilder import PdfBuilder

import vellum

pikepdf = pytest.importorskip("pikepdf")

SECRET = "Confidential quarterly figures"


def encrypted_pdf(user: str, owner: str, r: int = 6, aes: bool = True, metadata: bool = True, streams: bool = False) -> bytes:
    """One page showing SECRET, its content Flate-compressed, encrypted by
    pikepdf; `streams` packs the objects into object streams indexed by a
    cross-reference stream."""
    b = PdfBuilder()
    b.add_page(content=b"BT /F1 12 Tf 72 700 Td (" + SECRET.encode() + b") Tj ET", compress=True)
    mode = pikepdf.ObjectStreamMode.generate if streams else pikepdf.ObjectStreamMode.disable
    with pikepdf.open(io.BytesIO(b.build())) as pdf, warnings.catch_warnings():
        warnings.simplefilter("ignore")  # revision 5 is deprecated
        out = io.BytesIO()
        encryption = pikepdf.Encryption(user=user, owner=owner, R=r, aes=aes, metadata=metadata and aes)
        pdf.save(out, encryption=encryption, object_stream_mode=mode, static_id=True)
        return out.getvalue()


SCHEMES = {
    "r2-rc4-40": dict(r=2, aes=False),
    "r3-rc4-128": dict(r=3, aes=False),
    "r4-rc4-128": dict(r=4, aes=False),
    "r4-aes-128": dict(r=4),
    "r4-aes-128-clear-metadata": dict(r=4, metadata=False),
    "r5-aes-256": dict(r=5),
    "r6-aes-256": dict(r=6),
}


@pytest.mark.parametrize("scheme", SCHEMES.values(), ids=list(SCHEMES))
def test_object_streams_and_xref_stream(scheme):
    """Objects inside an encrypted object stream are not deciphered again."""
    data = encrypted_pdf("user pw", "owner pw", streams=True, **scheme)
    by_user = vellum.parse_to_markdown(data, "user pw")
    assert SECRET in by_user
    assert vellum.parse_to_markdown(data, "owner pw") == by_user


@pytest.mark.parametrize(
    "scheme, user, password, opens",
    [
        # The password as hashed: UTF-8, cut at 127 bytes (revisions 5 and 6)
        # or padded and cut to 32 (revisions 2 to 4).
        ("r6-aes-256", "p\u00e4ssw\u00f6rt \u65e5\u672c", "p\u00e4ssw\u00f6rt \u65e5\u672c", True),
        ("r6-aes-256", "x" * 127, "x" * 127 + "-ignored-tail", True),
        ("r6-aes-256", "x" * 127, "x" * 126 + "y-ignored-tail", False),
        ("r5-aes-256", "x" * 127, "x" * 127 + "-ignored-tail", True),
        ("r3-rc4-128", "z" * 32, "z" * 32 + "-ignored-tail", True),
        ("r4-aes-128", "z" * 32, "z" * 31 + "y", False),
        ("r4-aes-128-clear-metadata", "user pw", "user pw", True),
    ],
    ids=["r6-utf8", "r6-cut-at-127", "r6-byte-126-counts", "r5-cut-at-127", "r3-cut-at-32", "r4-byte-31-counts",
         "r4-clear-metadata"],
)
def test_password_forms(scheme, user, password, opens):
    data = encrypted_pdf(user, "owner pw", **SCHEMES[scheme])
    if not opens:
        with pytest.raises(vellum.PasswordError):
            vellum.parse_to_markdown(data, password)
        return
    assert SECRET in vellum.parse_to_markdown(data, password)


def random_password(rng: random.Random, ascii_only: bool) -> str:
    """Up to 127 UTF-8 bytes, printable ASCII or any scalar value above it."""
    out = ""
    for _ in range(rng.randrange(0, 128)):
        ch = chr(rng.randrange(0x20, 0x7F)) if ascii_only else chr(rng.choice([rng.randrange(0x80, 0xD800), rng.randrange(0xE000, 0x30000)]))
        if len((out + ch).encode("utf-8")) > 127:
            break
        out += ch
    return out


def test_r6_random_passwords():
    """The revision 6 hash (64 or more rounds of AES and SHA-2, the round
    count set by the data) on random user and owner passwords."""
    rng = random.Random(2024)
    for i in range(16):
        user, owner = random_password(rng, i % 2 == 0), random_password(rng, i % 2 == 1)
        if user == owner:
            continue
        data = encrypted_pdf(user, owner)
        assert SECRET in vellum.parse_to_markdown(data, user), (user, owner)
        assert SECRET in vellum.parse_to_markdown(data, owner), (user, owner)


# ---------------------------------------------------------------- corpus

# The text check is coverage: the share of the reference's letters and
# digits (whitespace and punctuation dropped, so that merged lines or another
# line order do not count) that lie in runs of at least 8 characters common
# to both texts, in order. A correct key reproduces every such run of the
# peer's text (all corpus files score 1.0 today); a wrong key leaves none,
# since a run of 8 matching characters does not arise by chance. The bar
# leaves room for ligatures, hyphenation and the like.
COVERAGE = 0.8
RUN = 8


def letters(text: str) -> str:
    return "".join(re.findall(r"\w+", text.lower()))


def coverage(ours: str, reference: str) -> float:
    ref = letters(reference)
    run = min(RUN, len(ref))
    matcher = difflib.SequenceMatcher(None, letters(ours), ref, autojunk=False)
    return sum(b.size for b in matcher.get_matching_blocks() if b.size >= run) / max(1, len(ref))


def read_entry(entry) -> tuple:
    """The file's bytes and the reference text, None when there is nothing
    to compare with."""
    root = corpus_dir()
    data = (root / "files" / entry["file"]).read_bytes()
    ref = entry.get("reference_text")
    if not ref:
        return data, None
    reference = (root / ref).read_text(encoding="utf-8", errors="replace")
    return data, reference if letters(reference) else None


def markdown(entry, data: bytes, password) -> Optional[str]:
    """parse_to_markdown; None for a damaged file that this strict reader
    rejects (the manifest's `robustness` files, e.g. offsets that count
    from a header preceded by junk)."""
    try:
        return vellum.parse_to_markdown(data, password)
    except ValueError:
        if entry.get("robustness"):
            return None
        raise


ENCRYPTED = [e for e in load_manifest() if e.get("encryption")]


@pytest.mark.parametrize("entry", ENCRYPTED, ids=[e["file"] for e in ENCRYPTED])
def test_corpus_file_decrypts(corpus, entry):
    """The user password, the owner password and (where the user password
    is empty) no password give the same text, which covers the reference.
    A wrong password (and no password, where one is needed) raises
    PasswordError, except where the user password is empty: then any
    password opens the file as if none had been given."""
    enc = entry["encryption"]
    data, reference = read_entry(entry)
    text = markdown(entry, data, enc["user_password"])
    if enc.get("owner_password") is not None:
        assert markdown(entry, data, enc["owner_password"]) == text
    if enc["user_password"] == "":
        assert markdown(entry, data, None) == text
    if "" in (enc["user_password"], enc.get("owner_password")):  # anyone may open it
        assert markdown(entry, data, "certainly-not-the-password") == text
    elif text is not None:
        for password in (None, "certainly-not-the-password"):
            with pytest.raises(vellum.PasswordError):
                vellum.parse_to_markdown(data, password)
    if reference is None:
        return
    if text is not None:
        score = coverage(text, reference)
        assert score >= COVERAGE, f"coverage {score:.2f} of the reference text"
