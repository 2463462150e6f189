"""The XChaCha20-Poly1305 envelope, against PyNaCl in both directions."""
import base64
import os

import pytest
from nacl import bindings as nacl

import kelvane_core as kc

KEY = bytes(range(32))


def nacl_open(text: str, key: bytes) -> bytes:
    blob = base64.b64decode(text, validate=True)
    nonce, tag, body = blob[:24], blob[24:40], blob[40:]
    return nacl.crypto_aead_xchacha20poly1305_ietf_decrypt(body + tag, None, nonce, key)


def nacl_seal(plain: bytes, key: bytes, nonce: bytes = None) -> str:
    nonce = nonce or os.urandom(24)
    sealed = nacl.crypto_aead_xchacha20poly1305_ietf_encrypt(plain, None, nonce, key)
    body, tag = sealed[:-16], sealed[-16:]
    return base64.b64encode(nonce + tag + body).decode()


@pytest.mark.parametrize("text", ["", "hello", "ünïcödé 🙂", "x" * 10000, "nul\x00inside"])
def test_round_trip_both_directions(text):
    sealed = kc.encrypt(text, KEY)
    assert len(sealed) == 4 * -(-(40 + len(text.encode())) // 3)
    assert nacl_open(sealed, KEY) == text.encode()
    assert kc.decrypt(sealed, KEY) == text
    assert kc.decrypt(nacl_seal(text.encode(), KEY), KEY) == text


def test_empty_text_is_56_characters():
    sealed = kc.encrypt("", KEY)
    assert len(sealed) == 56
    assert kc.decrypt(sealed, KEY) == ""


def test_fresh_nonce_each_time():
    a, b = kc.encrypt("same", KEY), kc.encrypt("same", KEY)
    assert a != b
    assert base64.b64decode(a)[:24] != base64.b64decode(b)[:24]


AUTH_FAIL = "crypto error: XChaCha20-Poly1305 decrypt failed: "


def test_every_flipped_bit_fails_authentication():
    blob = bytearray(base64.b64decode(kc.encrypt("tamper me", KEY)))
    for i in range(len(blob)):
        for bit in (0, 7):
            changed = bytearray(blob)
            changed[i] ^= 1 << bit
            with pytest.raises(ValueError) as err:
                kc.decrypt(base64.b64encode(changed).decode(), KEY)
            assert err.value.args[0].startswith(AUTH_FAIL)


def test_wrong_key_truncation_and_extension_fail_authentication():
    sealed = kc.encrypt("secret", KEY)
    blob = base64.b64decode(sealed)
    for text, key in [
        (sealed, bytes(32)),
        (base64.b64encode(blob[:-1]).decode(), KEY),
        (base64.b64encode(blob + b"\x00").decode(), KEY),
    ]:
        with pytest.raises(ValueError) as err:
            kc.decrypt(text, key)
        assert err.value.args[0].startswith(AUTH_FAIL)
    # The failure text is one fixed constant whatever the cause.
    messages = set()
    for key in (bytes(32), bytes([1]) * 32):
        with pytest.raises(ValueError) as err:
            kc.decrypt(sealed, key)
        messages.add(err.value.args[0])
    assert len(messages) == 1


def test_short_envelopes():
    with pytest.raises(ValueError) as err:
        kc.decrypt(base64.b64encode(bytes(39)).decode(), KEY)
    assert err.value.args == ("crypto error: Encrypted data too short",)
    with pytest.raises(ValueError) as err:
        kc.decrypt("", KEY)
    assert err.value.args == ("crypto error: Encrypted data too short",)
    # Exactly 40 bytes that authenticate: the empty text.
    assert kc.decrypt(nacl_seal(b"", KEY), KEY) == ""


B64 = "crypto error: base64 decode failed: "


def test_base64_refusals():
    sealed = kc.encrypt("some text", KEY)  # 49 bytes -> 68 chars, ends with "=="
    assert sealed.endswith("==")
    cases = {
        sealed.rstrip("="): "Invalid padding",
        sealed[:10] + " " + sealed[10:]: None,  # embedded white space
        sealed[:10] + "\n" + sealed[10:]: None,
        sealed + "\n": None,
        sealed.replace("+", "-").replace("/", "_") if ("+" in sealed or "/" in sealed) else "-" + sealed[1:]: None,
        "A" * 5: "Invalid input length: 5",
        "AB==": "Invalid last symbol 66, offset 1.",
        "A===": "Invalid symbol 61, offset 1.",
    }
    for text, reason in cases.items():
        with pytest.raises(ValueError) as err:
            kc.decrypt(text, KEY)
        message = err.value.args[0]
        assert message.startswith(B64), text
        if reason:
            assert message == B64 + reason
        else:
            assert message.startswith(B64 + "Invalid symbol ")


def test_invalid_symbol_names_byte_and_offset():
    sealed = kc.encrypt("abc", KEY)
    bad = sealed[:4] + "*" + sealed[5:]
    with pytest.raises(ValueError) as err:
        kc.decrypt(bad, KEY)
    assert err.value.args == (B64 + "Invalid symbol 42, offset 4.",)


@pytest.mark.parametrize(
    "plain,reason",
    [
        (b"\xff", "invalid utf-8 sequence of 1 bytes from index 0"),
        (b"ok\xc3", "incomplete utf-8 byte sequence from index 2"),
        (b"ab\xe2\x82x", "invalid utf-8 sequence of 2 bytes from index 2"),
    ],
)
def test_non_utf8_plaintext(plain, reason):
    with pytest.raises(ValueError) as err:
        kc.decrypt(nacl_seal(plain, KEY), KEY)
    assert err.value.args == ("crypto error: UTF-8 decode failed: " + reason,)
