"""A password the document rejects is an error that says so.

Files of every revision are written by pikepdf (qpdf's own implementation of
the security handler), so the check does not lean on our reading of the
algorithms: each opens with its user and its owner password, raises
PasswordError without one or with a wrong one, and, when its user password is
empty, opens with any password as if none had been given."""

from __future__ import annotations

import io
import warnings

import pytest

import vellum

pikepdf = pytest.importorskip("pikepdf")

SECRET = "Sphinx of black quartz"
# (revision, AES); revisions 2 and 3 and RC4 revision 4 cannot encrypt the
# metadata in qpdf, so every file here leaves it in clear.
SCHEMES = [(2, False), (3, False), (4, False), (4, True), (5, True), (6, True)]
IDS = ["r2", "r3", "r4-rc4", "r4-aes", "r5", "r6"]


def encrypted(revision: int, aes: bool, user: str, owner: str = "owner pw") -> bytes:
    pdf = pikepdf.new()
    font = pdf.make_indirect(pikepdf.Dictionary(Type=pikepdf.Name.Font, Subtype=pikepdf.Name.Type1,
                                                BaseFont=pikepdf.Name.Helvetica))
    page = pdf.add_blank_page()
    page.Resources = pikepdf.Dictionary(Font=pikepdf.Dictionary(F1=font))
    page.Contents = pdf.make_stream(f"BT /F1 12 Tf 72 700 Td ({SECRET}) Tj ET".encode())
    out = io.BytesIO()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # revision 5 is deprecated
        pdf.save(out, encryption=pikepdf.Encryption(owner=owner, user=user, R=revision, aes=aes, metadata=False))
    return out.getvalue()


@pytest.mark.parametrize("revision, aes", SCHEMES, ids=IDS)
def test_user_owner_none_and_wrong(revision, aes):
    data = encrypted(revision, aes, "user pw")
    by_user = vellum.parse_to_markdown(data, "user pw")
    assert SECRET in by_user
    assert vellum.parse_to_markdown(data, "owner pw") == by_user
    for password, text in [(None, "document is encrypted; a password is needed"),
                           ("", "document is encrypted; a password is needed"),
                           ("wrong", "password is neither the user nor the owner password")]:
        with pytest.raises(vellum.PasswordError, match=f"^InvalidPassword: {text}$"):
            vellum.parse(data, password)


@pytest.mark.parametrize("revision, aes", SCHEMES, ids=IDS)
def test_empty_user_password_opens_with_any_password(revision, aes):
    data = encrypted(revision, aes, "")
    text = vellum.parse_to_markdown(data)
    assert SECRET in text
    assert vellum.parse_to_markdown(data, "some other file's password") == text
    assert vellum.parse_to_markdown(data, "owner pw") == text


def test_password_error_is_a_value_error_everywhere():
    data = encrypted(6, True, "user pw")
    assert issubclass(vellum.PasswordError, ValueError)
    for fn in (vellum.parse, vellum.parse_to_json, vellum.parse_to_html, vellum.parse_to_markdown):
        with pytest.raises(ValueError):
            fn(data)


def test_unusable_dictionaries_keep_the_lenient_reading():
    """A revision outside 2 to 6 or an unknown /V cannot tell a wrong
    password: such a file is read as before (deciphered with whatever key
    the password gives), never refused as a PasswordError."""
    data = encrypted(4, False, "user pw")
    for old, new in [(b"/R 4", b"/R 9"), (b"/V 4", b"/V 3")]:
        assert data.count(old) == 1, old
        try:
            vellum.parse(data.replace(old, new), "wrong")
        except vellum.PasswordError:
            pytest.fail(f"{new!r} refused the password")
        except ValueError:
            pass  # the wrong key's garbage may not inflate
