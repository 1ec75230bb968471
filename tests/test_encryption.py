"""Encrypted documents end to end, on files that do not lean on our reading
of the algorithms: pikepdf (qpdf's own implementation of the security
handler) writes them here, of every revision. The corpus's encrypted files:
test_corpus.py; dictionary handling: tests/cpp/test_crypt.cpp.
"""

# A password that is neither the user nor the owner password fails the open
# with PasswordError, except on a file whose user password is empty, which
# then opens as if no password had been given.

from __future__ import annotations

import random
import warnings

import pytest
from pdfbuilder import resave, text_pdf

import vellum

pikepdf = pytest.importorskip("pikepdf")

SECRET = "Confidential quarterly figures"


def encrypted_pdf(user: str, owner: str, r: int = 6, aes: bool = True, metadata: bool = True, streams: bool = False) -> bytes:
    # `streams` packs the objects into object streams indexed by a cross-reference stream
    mode = pikepdf.ObjectStreamMode.generate if streams else pikepdf.ObjectStreamMode.disable
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # revision 5 is deprecated
        encryption = pikepdf.Encryption(user=user, owner=owner, R=r, aes=aes, metadata=metadata and aes)
        return resave(text_pdf(SECRET), encryption=encryption, object_stream_mode=mode, static_id=True)


SCHEMES = {"r2-rc4-40": dict(r=2, aes=False), "r3-rc4-128": dict(r=3, aes=False), "r4-rc4-128": dict(r=4, aes=False),
           "r4-aes-128": dict(r=4), "r4-aes-128-clear-metadata": dict(r=4, metadata=False), "r5-aes-256": dict(r=5),
           "r6-aes-256": dict(r=6)}


@pytest.mark.parametrize("user", ["user pw", ""], ids=["user", "empty-user"])
@pytest.mark.parametrize("streams", [False, True], ids=["plain", "object-streams"])
@pytest.mark.parametrize("scheme", SCHEMES.values(), ids=list(SCHEMES))
def test_user_owner_none_and_wrong(scheme, streams, user):
    # Objects inside an encrypted object stream are not deciphered again.
    data = encrypted_pdf(user, "owner pw", streams=streams, **scheme)
    by_user = vellum.parse_to_markdown(data, user)
    assert SECRET in by_user and vellum.parse_to_markdown(data, "owner pw") == by_user
    assert issubclass(vellum.PasswordError, ValueError)
    for password, text in [(None, "document is encrypted; a password is needed"),
                           ("", "document is encrypted; a password is needed"),
                           ("wrong", "password is neither the user nor the owner password")]:
        if user == "":  # then any password opens the file as if none had been given
            assert vellum.parse_to_markdown(data, password) == by_user
            continue
        with pytest.raises(vellum.PasswordError, match=f"^InvalidPassword: {text}$"):
            vellum.parse(data, password)


# The password as hashed: UTF-8, cut at 127 bytes (revisions 5 and 6, one
# preparation) or padded and cut to 32 (revisions 2 to 4).
@pytest.mark.parametrize("scheme, user, password, opens", [
    ("r6-aes-256", "p\u00e4ssw\u00f6rt \u65e5\u672c", "p\u00e4ssw\u00f6rt \u65e5\u672c", True),
    ("r6-aes-256", "x" * 127, "x" * 127 + "-tail", True), ("r6-aes-256", "x" * 127, "x" * 126 + "y-tail", False),
    ("r3-rc4-128", "z" * 32, "z" * 32 + "-ignored-tail", True), ("r4-aes-128", "z" * 32, "z" * 31 + "y", False),
], ids=["r6-utf8", "r6-cut-at-127", "r6-byte-126-counts", "r3-cut-at-32", "r4-byte-31-counts"])
def test_password_forms(scheme, user, password, opens):
    data = encrypted_pdf(user, "owner pw", **SCHEMES[scheme])
    if opens:
        assert SECRET in vellum.parse_to_markdown(data, password)
    else:
        with pytest.raises(vellum.PasswordError):
            vellum.parse_to_markdown(data, password)


def test_r6_random_passwords():
    # The revision 6 hash (64 or more rounds of AES and SHA-2, the round count
    # set by the data) on random passwords of up to 127 UTF-8 bytes, printable
    # ASCII or any scalar value above it.
    rng = random.Random(2024)
    for i in range(16):
        user, owner = (random_password(rng, i % 2 == k) for k in (0, 1))
        if user != owner:
            data = encrypted_pdf(user, owner)
            assert all(SECRET in vellum.parse_to_markdown(data, pw) for pw in (user, owner)), (user, owner)


def random_password(rng: random.Random, ascii_only: bool) -> str:
    above_ascii = lambda: rng.choice([rng.randrange(0x80, 0xD800), rng.randrange(0xE000, 0x30000)])  # noqa: E731
    chars = [chr(rng.randrange(0x20, 0x7F) if ascii_only else above_ascii()) for _ in range(rng.randrange(128))]
    return "".join(chars).encode("utf-8")[:127].decode("utf-8", "ignore")


def test_unusable_dictionaries_keep_the_lenient_reading():
    # A revision outside 2 to 6 or an unknown /V cannot tell a wrong password:
    # such a file is read as before (deciphered with whatever key the password
    # gives), never refused as a PasswordError.
    data = encrypted_pdf("user pw", "owner pw", r=4, aes=False)
    for old, new in [(b"/R 4", b"/R 9"), (b"/V 4", b"/V 3")]:
        assert data.count(old) == 1, old
        try:
            vellum.parse(data.replace(old, new), "wrong")
        except ValueError as e:  # the wrong key's garbage may not inflate
            assert not isinstance(e, vellum.PasswordError), f"{new!r} refused the password"
