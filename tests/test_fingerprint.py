"""normalize_text and generate_content_fingerprint against unicodedata/str.lower and hmac."""
import hashlib
import hmac
import random
import unicodedata

import pytest

import kelvane_core as kc

KEY = bytes(range(32))
OTHER_KEY = bytes(range(1, 33))

# Exactly the characters with the Unicode White_Space property.
WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"


def reference_normalize(text: str) -> str:
    """NFC, full lower-case mapping (str.lower applies final sigma), one pass
    collapsing White_Space runs, then trimming."""
    lowered = unicodedata.normalize("NFC", text).lower()
    out, pending = [], False
    for ch in lowered:
        if ch in WHITE_SPACE:
            pending = True
            continue
        if pending and out:
            out.append(" ")
        pending = False
        out.append(ch)
    return "".join(out)


def reference_fingerprint(text: str, key: bytes) -> str:
    return hmac.new(key, reference_normalize(text).encode(), hashlib.sha256).hexdigest()


@pytest.mark.parametrize(
    "text, expected",
    [
        ("  Hello\t\tWORLD \n", "hello world"),
        (" \t\r\n\u3000\u00a0 ", ""),
        ("", ""),
        ("e\u0301", "\u00e9"),
        ("\u00c9t\u00c9", "\u00e9t\u00e9"),
        ("a\u00a0b\u3000c", "a b c"),
        ("a\u200bb", "a\u200bb"),  # zero-width space is not white space
        ("a\x1cb\ufeffc\u180ed", "a\x1cb\ufeffc\u180ed"),  # nor are these
        ("\u039f\u0394\u039f\u03a3", "\u03bf\u03b4\u03bf\u03c2"),  # final sigma
        ("\u039f\u0394\u039f\u03a3 \u03a3\u0391\u03a3.", "\u03bf\u03b4\u03bf\u03c2 \u03c3\u03b1\u03c2."),
        ("\u03a3\u0391", "\u03c3\u03b1"),  # sigma inside a word
        ("\u0130stanbul", "i\u0307stanbul"),  # stays decomposed: no second NFC pass
        ("A\u030a", "\u00e5"),  # composed before lower-casing
        ("\u212b", "\u00e5"),  # ANGSTROM SIGN: NFC gives U+00C5, then lower-cased
        ("STRASSE stra\u00dfe", "strasse stra\u00dfe"),
        ("\u1e9e", "\u00df"),
        ("one\u2028two\u2029three\u0085four", "one two three four"),
        ("x" + WHITE_SPACE + "y", "x y"),
        ("ASCII  only\ttext\x0b\x0c", "ascii only text"),
        ("\U0001F642  \U0001D400", "\U0001F642 \U0001D400"),
    ],
)
def test_normalize_text(text, expected):
    assert reference_normalize(text) == expected  # the reference agrees with the stated form
    assert kc.normalize_text(text) == expected


@pytest.mark.parametrize("ws", list(WHITE_SPACE))
def test_every_white_space_character_collapses(ws):
    assert kc.normalize_text(f"{ws}A{ws}{ws}b{ws}") == "a b"


def random_texts(seed, count=300):
    rng = random.Random(seed)
    alphabet = (
        "abcXYZ09 .,'"
        + WHITE_SPACE
        + "\u00e9\u00c9e\u0301\u0301\u0327\u03a3\u03c3\u0391\u03b1\u0130\u0131\u00df\u1e9e\u212b\u00c5"
        + "\u0410\u0436\u4e2d\u200b\ufeff\U0001F642\u01c5\u1f88"
    )
    for _ in range(count):
        yield "".join(rng.choice(alphabet) for _ in range(rng.randrange(0, 24)))


@pytest.mark.parametrize("seed", range(4))
def test_normalize_text_matches_reference_on_mixed_texts(seed):
    for text in random_texts(seed):
        assert kc.normalize_text(text) == reference_normalize(text), repr(text)


@pytest.mark.parametrize(
    "text",
    ["", "   ", "Hello world", "  Hello\t\tWORLD \n", "caf\u00e9", "cafe\u0301", "\u039f\u0394\u039f\u03a3", "x" * 5000],
)
def test_fingerprint_is_hmac_of_normalised_text(text):
    fp = kc.generate_content_fingerprint(text, KEY)
    assert fp == reference_fingerprint(text, KEY)
    assert len(fp) == 64 and fp == fp.lower()


def test_blank_text_fingerprint_is_hmac_of_empty_message():
    assert kc.generate_content_fingerprint(" \u3000\n", KEY) == hmac.new(KEY, b"", hashlib.sha256).hexdigest()


@pytest.mark.parametrize(
    "a, b",
    [
        ("hello world again", "HELLO   WORLD   AGAIN"),
        ("caf\u00e9 au lait", "CAFE\u0301\tAU\u3000LAIT "),
        ("\u03bf\u03b4\u03bf\u03c2", "\u039f\u0394\u039f\u03a3"),
    ],
)
def test_equivalent_texts_share_a_fingerprint(a, b):
    assert kc.generate_content_fingerprint(a, KEY) == kc.generate_content_fingerprint(b, KEY)


def test_different_keys_give_different_fingerprints():
    assert kc.generate_content_fingerprint("same text", KEY) != kc.generate_content_fingerprint("same text", OTHER_KEY)
    assert kc.generate_content_fingerprint("same text", OTHER_KEY) == reference_fingerprint("same text", OTHER_KEY)


@pytest.mark.parametrize("length", [0, 16, 31, 33, 64])
def test_key_length_is_checked_by_the_binding(length):
    with pytest.raises(ValueError) as err:
        kc.generate_content_fingerprint("text", bytes(length))
    assert err.value.args == (f"expected 32 bytes, got {length}",)


@pytest.mark.parametrize(
    "call",
    [
        lambda: kc.generate_content_fingerprint("text", "k" * 32),
        lambda: kc.generate_content_fingerprint("text", bytearray(32)),
        lambda: kc.generate_content_fingerprint(b"text", KEY),
        lambda: kc.normalize_text(None),
        lambda: kc.normalize_text(b"bytes"),
    ],
)
def test_wrong_argument_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call()


def test_keyword_arguments():
    assert kc.generate_content_fingerprint(plaintext="A", dedup_key=KEY) == reference_fingerprint("a", KEY)
    assert kc.normalize_text(text=" A ") == "a"
