"""generate_blind_indices against hashlib and a plain-Python tokeniser; stems
come from the published Porter vector table in tests/data."""
import hashlib
import pathlib
import random
import unicodedata

import pytest

import kelvane_core as kc

DATA = pathlib.Path(__file__).parent / "data" / "porter_stems.tsv"
STEMS = dict(
    line.split("\t") for line in DATA.read_text(encoding="utf-8").splitlines() if line and not line.startswith("#")
)

WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"

# Characters with the Alphabetic property outside general categories L and N
# that the tests use (circled letters, a Greek iota subscript, Indic vowel
# signs, the Arabic superscript alef).
OTHER_ALPHABETIC = set("\u24b6\u24b7\u24d0\u24d1\u0345\u093f\u0940\u0bbe\u0670")


def sha(text: str) -> str:
    return hashlib.sha256(text.encode()).hexdigest()


def is_alphanumeric(ch: str) -> bool:
    return unicodedata.category(ch)[0] in "LN" or ch in OTHER_ALPHABETIC


# A few more words the tests use, stemmed by hand with the 1980 rules.
EXTRA_STEMS = {"don": "don", "ies": "i", "the": "the", "and": "and"}


def reference_stem(token: str) -> str:
    if len(token) <= 2 or not token.isascii() or not token.isalpha():
        return token
    return STEMS.get(token) or EXTRA_STEMS[token]


def reference_indices(text: str) -> list:
    tokens, current = [], []
    for ch in text.lower() + " ":
        if is_alphanumeric(ch):
            current.append(ch)
        elif current:
            tokens.append("".join(current))
            current = []
    out, seen = [], set()
    for token in tokens:
        if len(token.encode()) < 2:
            continue
        preimages = [token]
        stem = reference_stem(token)
        if len(stem.encode()) >= 2:
            preimages.append("stem:" + stem)
        for p in preimages:
            h = sha(p)
            if h not in seen:
                seen.add(h)
                out.append(h)
    return out


@pytest.mark.parametrize(
    "text, preimages",
    [
        ("", []),
        ("!?., --- ... ' \u2014 \u00a7", []),
        ("a", []),
        ("a 1 _ b", []),
        ("\u00e9", ["\u00e9", "stem:\u00e9"]),
        ("Cats cats", ["cats", "stem:cat"]),
        ("CATS, Cats & cats!", ["cats", "stem:cat"]),
        ("don't", ["don", "stem:don"]),
        ("2024", ["2024", "stem:2024"]),
        ("ies", ["ies"]),  # its stem "i" is a single byte
        ("caresses caress", ["caresses", "stem:caress", "caress"]),
        ("ponies_cats", ["ponies", "stem:poni", "cats", "stem:cat"]),
        ("feed feed", ["feed", "stem:feed"]),
        ("x\u00b2 \u00bd", ["x\u00b2", "stem:x\u00b2", "\u00bd", "stem:\u00bd"]),
        ("\u039f\u0394\u039f\u03a3 \u03a3\u0391\u03a3", ["\u03bf\u03b4\u03bf\u03c2", "stem:\u03bf\u03b4\u03bf\u03c2",
                                                         "\u03c3\u03b1\u03c2", "stem:\u03c3\u03b1\u03c2"]),
        ("\u00e9t\u00e9", ["\u00e9t\u00e9", "stem:\u00e9t\u00e9"]),
        ("e\u0301te\u0301", ["te", "stem:te"]),  # no normalisation: the accents split off "e" and "te"
        ("cats2 CATS2", ["cats2", "stem:cats2"]),
        ("\u24b6\u24b7", ["\u24d0\u24d1", "stem:\u24d0\u24d1"]),
        ("\u0939\u093f\u0928\u094d\u0926\u0940", ["\u0939\u093f\u0928", "stem:\u0939\u093f\u0928",
                                                  "\u0926\u0940", "stem:\u0926\u0940"]),
        ("\u4e2d \u0436 \u0661", ["\u4e2d", "stem:\u4e2d", "\u0436", "stem:\u0436", "\u0661", "stem:\u0661"]),
        ("cats\u200bponies", ["cats", "stem:cat", "ponies", "stem:poni"]),
    ],
)
def test_stated_cases(text, preimages):
    expected = [sha(p) for p in preimages]
    assert reference_indices(text) == expected
    assert kc.generate_blind_indices(text) == expected


@pytest.mark.parametrize("word, stem", sorted(STEMS.items()))
def test_stemmer_vectors_through_blind_indices(word, stem):
    expected = [sha(word), sha("stem:" + stem)]
    assert kc.generate_blind_indices(word) == expected
    assert kc.generate_blind_indices(word.upper()) == expected
    assert kc.generate_blind_indices(f"({word.capitalize()}!)") == expected


@pytest.mark.parametrize("ws", list(WHITE_SPACE))
def test_every_white_space_character_separates(ws):
    assert kc.generate_blind_indices(f"{ws}cats{ws}{ws}ponies{ws}") == [
        sha("cats"), sha("stem:cat"), sha("ponies"), sha("stem:poni")]


@pytest.mark.parametrize(
    "ch, token",
    [(c, c.lower() * 2) for c in "qZ7\u00e9\u00c9\u0436\u4e2d\u0663\u00b2\u00bd\u2160\u216b\u3007\u02b0\u00aa"
                                   "\u24b6\u0345\u093f\u0bbe\u0670\U0001d400"]
    + [(c, None) for c in "_'-.\u2019\u203f\u00b7\u0301\u0307\u094d\u200b\ufeff\u00a7\u20ac\U0001f642\x00\x1c"],
)
def test_alphanumeric_classes(ch, token):
    expected = [] if token is None else [sha(token), sha("stem:" + reference_stem(token))]
    assert kc.generate_blind_indices(ch * 2) == expected


VOCABULARY = sorted(STEMS) + [
    "a", "to", "I", "ox", "\u00e9", "2024", "7", "caf\u00e9", "na\u00efve", "\u6771\u4eac", "x\u00b2",
    "\u039f\u0394\u039f\u03a3", "\u03c3\u03bf\u03c6\u03af\u03b1", "\u0436\u0438\u0437\u043d\u044c", "\u24b6\u24d1",
    "\u0939\u093f\u0928\u094d\u0926\u0940", "cats2", "\u0663\u0664",
]
SEPARATORS = [" ", "  ", "\t", ", ", "'", "\u2014", "\u200b", "\u0301", "_", "\u3000", ".\n", "\u00a0"]


def random_text(rng, words):
    parts = []
    for _ in range(words):
        w = rng.choice(VOCABULARY)
        if w.isascii() and rng.random() < 0.3:
            w = rng.choice([w.upper(), w.capitalize()])
        parts.append(w)
        parts.append(rng.choice(SEPARATORS))
    return "".join(parts)


@pytest.mark.parametrize("seed", range(6))
def test_matches_reference_on_mixed_texts(seed):
    rng = random.Random(seed)
    for words in (1, 2, 5, 20, 200):
        text = random_text(rng, words)
        assert kc.generate_blind_indices(text) == reference_indices(text), repr(text)


def test_ascii_and_unicode_paths_agree():
    # The same words with and without a non-ASCII character elsewhere.
    base = "Hopping, TANNED and relational ponies: 2024 cats!"
    assert kc.generate_blind_indices(base + " \u00e9t\u00e9") == kc.generate_blind_indices(base) + [
        sha("\u00e9t\u00e9"), sha("stem:\u00e9t\u00e9")]


def test_no_cap_and_no_stop_words():
    words = [f"w{i}x" for i in range(3000)]
    out = kc.generate_blind_indices(" ".join(words) + " the and of")
    assert out[:2] == [sha("w0x"), sha("stem:w0x")]
    assert out[-6:] == [sha(p) for p in ("the", "stem:the", "and", "stem:and", "of", "stem:of")]
    assert len(out) == 2 * 3000 + 6
