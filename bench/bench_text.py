"""Blind indices, normalisation/fingerprint and the embedding codec against
pure-Python baselines doing the same work in the same run."""
import base64
import hashlib
import hmac
import random
import re
import struct
import unicodedata

import kelvane_core as kc
from _common import median_ns, report

# ---- a plain-Python Porter (1980) stemmer with the same rule set ------------

STEP2 = [("ational", "ate"), ("tional", "tion"), ("enci", "ence"), ("anci", "ance"), ("izer", "ize"),
         ("abli", "able"), ("alli", "al"), ("entli", "ent"), ("eli", "e"), ("ousli", "ous"), ("ization", "ize"),
         ("ation", "ate"), ("ator", "ate"), ("alism", "al"), ("iveness", "ive"), ("fulness", "ful"),
         ("ousness", "ous"), ("aliti", "al"), ("iviti", "ive"), ("biliti", "ble")]
STEP3 = [("icate", "ic"), ("ative", ""), ("alize", "al"), ("iciti", "ic"), ("ical", "ic"), ("ful", ""), ("ness", "")]
STEP4 = ["al", "ance", "ence", "er", "ic", "able", "ible", "ant", "ement", "ment", "ent", "ion", "ou", "ism", "ate",
         "iti", "ous", "ive", "ize"]
for table in (STEP2, STEP3):
    table.sort(key=lambda r: -len(r[0]))
STEP4.sort(key=len, reverse=True)


def consonants(w):
    flags = []
    for i, c in enumerate(w):
        if c in "aeiou":
            flags.append(False)
        elif c == "y":
            flags.append(True if i == 0 else not flags[-1])
        else:
            flags.append(True)
    return flags


def measure(w):
    m, seen_vowel = 0, False
    for cons in consonants(w):
        if not cons:
            seen_vowel = True
        elif seen_vowel:
            m, seen_vowel = m + 1, False
    return m


def has_vowel(w):
    return not all(consonants(w))


def cvc(w):
    if len(w) < 3:
        return False
    f = consonants(w)
    return f[-3] and not f[-2] and f[-1] and w[-1] not in "wxy"


def py_stem(w):
    if len(w) <= 2 or not (w.isascii() and w.isalpha()):
        return w
    if w.endswith("sses"):
        w = w[:-2]
    elif w.endswith("ies"):
        w = w[:-2]
    elif not w.endswith("ss") and w.endswith("s"):
        w = w[:-1]
    if w.endswith("eed"):
        if measure(w[:-3]) > 0:
            w = w[:-1]
    else:
        cut = 2 if w.endswith("ed") and has_vowel(w[:-2]) else 3 if w.endswith("ing") and has_vowel(w[:-3]) else 0
        if cut:
            w = w[:-cut]
            if w.endswith(("at", "bl", "iz")):
                w += "e"
            elif len(w) >= 2 and w[-1] == w[-2] and consonants(w)[-1] and w[-1] not in "lsz":
                w = w[:-1]
            elif measure(w) == 1 and cvc(w):
                w += "e"
    if w.endswith("y") and has_vowel(w[:-1]):
        w = w[:-1] + "i"
    for table in (STEP2, STEP3):
        for suffix, repl in table:
            if w.endswith(suffix):
                if measure(w[:-len(suffix)]) > 0:
                    w = w[:-len(suffix)] + repl
                break
    for suffix in STEP4:
        if w.endswith(suffix):
            stem = w[:-len(suffix)]
            if (suffix != "ion" or stem.endswith(("s", "t"))) and measure(stem) > 1:
                w = stem
            break
    if w.endswith("e"):
        m = measure(w[:-1])
        if m > 1 or (m == 1 and not cvc(w[:-1])):
            w = w[:-1]
    if w.endswith("ll") and measure(w) > 1:
        w = w[:-1]
    return w


TOKEN = re.compile(r"[^\W_]+")


def py_blind_indices(text):
    out, seen = [], set()
    for token in TOKEN.findall(text.lower()):
        if len(token.encode()) < 2:
            continue
        for pre in (token, "stem:" + py_stem(token)):
            if pre.startswith("stem:") and len(pre) < 7:
                continue
            h = hashlib.sha256(pre.encode()).hexdigest()
            if h not in seen:
                seen.add(h)
                out.append(h)
    return out


WS = re.compile(r"\s+")


def py_normalize(text):
    return WS.sub(" ", unicodedata.normalize("NFC", text).lower()).strip()


def py_fingerprint(text, key):
    return hmac.new(key, py_normalize(text).encode(), hashlib.sha256).hexdigest()


WORDS = ("the agent remembered that the user prefers running shoes with wide toe boxes and was planning "
         "a trip to Lisbon in October; relational databases, conditional formatting and generalizations of "
         "operators were discussed while hopping between meetings, 2024 budgets, cats, ponies and caresses").split()


def make_text(words, rng):
    return " ".join(rng.choice(WORDS).capitalize() if rng.random() < 0.1 else rng.choice(WORDS)
                    for _ in range(words))


def main():
    rng = random.Random(7)
    text = make_text(200, rng)
    assert kc.generate_blind_indices(text) == py_blind_indices(text)
    unicode_text = text + " Café ΟΔΟΣ naïve"
    assert kc.generate_blind_indices(unicode_text) == py_blind_indices(unicode_text)
    rows = [
        ("generate_blind_indices, 200 words", median_ns(lambda: kc.generate_blind_indices(text)),
         "re + hashlib + Python Porter", median_ns(lambda: py_blind_indices(text))),
        ("  same, with non-ASCII words", median_ns(lambda: kc.generate_blind_indices(unicode_text)),
         "re + hashlib + Python Porter", median_ns(lambda: py_blind_indices(unicode_text))),
    ]

    key = bytes(range(32))
    messy = "  " + "  ".join(text.split()[:60]).upper() + " \t\n"
    messy_unicode = messy + " CAFE\u0301 \u039f\u0394\u039f\u03a3\u3000"
    for label, t in (("ASCII", messy), ("non-ASCII", messy_unicode)):
        assert kc.normalize_text(t) == py_normalize(t)
        assert kc.generate_content_fingerprint(t, key) == py_fingerprint(t, key)
        rows.append((f"normalize_text, 60 words {label}", median_ns(lambda: kc.normalize_text(t)),
                     "unicodedata NFC + lower + re", median_ns(lambda: py_normalize(t))))
        rows.append((f"generate_content_fingerprint {label}", median_ns(lambda: kc.generate_content_fingerprint(t, key)),
                     "unicodedata + re + hmac", median_ns(lambda: py_fingerprint(t, key))))

    for n, fmt in ((640, "e"), (1536, "f")):
        values = [rng.uniform(-1, 1) for _ in range(n)]
        pack = f"<{n}{fmt}"
        payload = kc.encode_embedding_canonical(values)
        assert payload == base64.b64encode(struct.pack(pack, *values)).decode()
        rows.append((f"encode_embedding_canonical {n} ({'f16' if fmt == 'e' else 'f32'})",
                     median_ns(lambda: kc.encode_embedding_canonical(values)),
                     "struct.pack + base64", median_ns(lambda: base64.b64encode(struct.pack(pack, *values)).decode())))
        rows.append((f"decode_embedding_universal {n}", median_ns(lambda: kc.decode_embedding_universal(payload)),
                     "base64 + struct.unpack", median_ns(lambda: list(struct.unpack(pack, base64.b64decode(payload))))))
    report("text indexing and embedding codec", rows)


if __name__ == "__main__":
    main()
