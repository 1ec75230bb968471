"""A password the document rejects is an error that says so.

Files of every revision are written by pikepdf (qpdf's own implementation of
the security handler), so the check does not lean on our reading of the
algorithms: each opens with its user and its owner password, raises
PasswordError without one or with a wrong one, and, when its user password is
empty, opens with any password as if none had been given."""

from __future__ import annotations

import pytest

import vellum
from test_encryption import SCHEMES, SECRET, encrypted_pdf  # skips without pikepdf


@pytest.mark.parametrize("scheme", SCHEMES.values(), ids=list(SCHEMES))
def test_user_owner_none_and_wrong(scheme):
    data = encrypted_pdf("user pw", "owner pw", **scheme)
    by_user = vellum.parse_to_markdown(data, "user pw")
    assert SECRET in by_user
    assert vellum.parse_to_markdown(data, "owner pw") == by_user
    for password, text in [(None, "document is encrypted; a password is needed"),
                           ("", "document is encrypted; a password is needed"),
                           ("wrong", "password is neither the user nor the owner password")]:
        with pytest.raises(vellum.PasswordError, match=f"^InvalidPassword: {text}$"):
            vellum.parse(data, password)


@pytest.mark.parametrize("scheme", SCHEMES.values(), ids=list(SCHEMES))
def test_empty_user_password_opens_with_any_password(scheme):
    data = encrypted_pdf("", "owner pw", **scheme)
    text = vellum.parse_to_markdown(data)
    assert SECRET in text
    assert vellum.parse_to_markdown(data, "some other file's password") == text
    assert vellum.parse_to_markdown(data, "owner pw") == text


def test_password_error_is_a_value_error_everywhere():
    data = encrypted_pdf("user pw", "owner pw")
    assert issubclass(vellum.PasswordError, ValueError)
    for fn in (vellum.parse, vellum.parse_to_json, vellum.parse_to_html, vellum.parse_to_markdown):
        with pytest.raises(ValueError):
            fn(data)


def test_unusable_dictionaries_keep_the_lenient_reading():
    """A revision outside 2 to 6 or an unknown /V cannot tell a wrong
    password: such a file is read as before (deciphered with whatever key
    the password gives), never refused as a PasswordError."""
    data = encrypted_pdf("user pw", "owner pw", r=4, aes=False)
    for old, new in [(b"/R 4", b"/R 9"), (b"/V 4", b"/V 3")]:
        assert data.count(old) == 1, old
        try:
            vellum.parse(data.replace(old, new), "wrong")
        except vellum.PasswordError:
            pytest.fail(f"{new!r} refused the password")
        except ValueError:
            pass  # the wrong key's garbage may not inflate
