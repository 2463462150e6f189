"""Merge of reformulated searches by reciprocal rank fusion, against a
plain-Python reference of the rule."""
import functools
import json
import math
import random

import pytest

import kelvane_core as kc

FACT_KEYS = ["id", "encryptedBlob", "encryptedEmbedding", "decayScore", "timestamp", "createdAt", "isActive",
             "contentFp"]


def record(fact):
    return {k: fact.get(k) for k in FACT_KEYS}


def fact(fid, blob=None):
    return {"id": fid, "encryptedBlob": blob if blob is not None else "0x" + fid.encode().hex()}


def merge(sets, k):
    return json.loads(kc.merge_expansion_results(json.dumps(sets), k))


def div(a, b):
    # IEEE division, which Python refuses for a zero divisor.
    if b == 0:
        return math.copysign(math.inf, b) if a > 0 else math.nan
    return a / b


def reference_merge(sets, k):
    if not sets:
        return []
    if len(sets) == 1:
        return [record(f) for f in sets[0]]
    scores, kept = {}, {}
    for facts in sets:
        for p, f in enumerate(facts):
            scores[f["id"]] = scores.get(f["id"], 0.0) + div(1.0, (p + 1) + k)
            kept.setdefault(f["id"], f)

    def order(a, b):
        sa, sb = scores[a], scores[b]
        if sa > sb:
            return -1
        if sa < sb:
            return 1
        ka, kb = a.encode(), b.encode()
        return (ka > kb) - (ka < kb)

    return [record(kept[i]) for i in sorted(scores, key=functools.cmp_to_key(order))]


def ids(facts):
    return [f["id"] for f in facts]


X, Y, Z = fact("X"), fact("Y"), fact("Z")

# (name, sets, rrf_k, expected ids) — literal outcomes of the rule.
MERGE_CASES = [
    ("no sets", [], 60.0, []),
    ("X first in two sets beats Y first in the third", [[X, Z], [X], [Y]], 60.0, ["X", "Y", "Z"]),
    ("one set is returned unchanged, duplicates kept", [[Y, X, Y]], 60.0, ["Y", "X", "Y"]),
    ("one set with an empty second set is fused", [[Y, X, Y], []], 60.0, ["Y", "X"]),
    ("empty sets only", [[], []], 60.0, []),
    ("equal scores by id ascending", [[fact("b")], [fact("a")], [fact("c")]], 60.0, ["a", "b", "c"]),
    ("ids compare byte by byte", [[fact("é")], [fact("z")], [fact("Z")], [fact("a")]], 60.0,
     ["Z", "a", "z", "é"]),
    ("rrf_k 0: first place is worth 1.0", [[fact("A"), fact("B"), fact("C")], [fact("D"), fact("C")]], 0.0,
     ["A", "D", "C", "B"]),
    ("rrf_k 60 on the same sets", [[fact("A"), fact("B"), fact("C")], [fact("D"), fact("C")]], 60.0,
     ["C", "A", "D", "B"]),
    ("a repeat inside one set adds score", [[fact("q"), fact("p"), fact("p")], [fact("q")]], 60.0, ["q", "p"]),
    ("NaN scores fall back to the id", [[fact("b"), fact("c")], [fact("a")]], math.nan, ["a", "b", "c"]),
    ("infinite k makes every score zero", [[fact("b"), fact("c")], [fact("a")]], math.inf, ["a", "b", "c"]),
    ("a zero divisor gives an infinite score", [[fact("b"), fact("c")], [fact("a")]], -1.0, ["a", "b", "c"]),
    ("negative k", [[fact("b"), fact("c")], [fact("a"), fact("c")]], -2.5, ["a", "b", "c"]),
]


@pytest.mark.parametrize("name,sets,k,expected", MERGE_CASES, ids=[c[0] for c in MERGE_CASES])
def test_merge_literals(name, sets, k, expected):
    merged = merge(sets, k)
    assert ids(merged) == expected
    assert merged == reference_merge(sets, k)


def test_first_record_of_an_id_is_kept():
    sets = [[fact("a", "0x01")], [fact("b", "0x02"), {**fact("a", "0x03"), "decayScore": "9"}]]
    assert merge(sets, 60.0) == [record(fact("a", "0x01")), record(fact("b", "0x02"))]


def test_records_are_written_with_all_members():
    text = kc.merge_expansion_results(json.dumps([[{"isActive": False, **fact("a")}]]), 60.0)
    assert [list(dict(pairs)) for pairs in json.loads(text, object_pairs_hook=lambda p: p)] == [FACT_KEYS]
    assert json.loads(text)[0]["isActive"] is False


def test_the_integer_k_is_accepted():
    sets = [[fact("a"), fact("b")], [fact("b")]]
    assert merge(sets, 60) == merge(sets, 60.0)


@pytest.mark.parametrize("seed", range(6))
def test_merge_matches_the_reference(seed):
    rng = random.Random(seed)
    pool = [f"id-{n:03d}" for n in range(40)]
    sets = [[fact(rng.choice(pool), f"0x{rng.getrandbits(32):08x}") for _ in range(rng.randrange(0, 30))]
            for _ in range(rng.randrange(2, 7))]
    k = rng.choice([60.0, 0.0, 1.0, 0.5, 1e-300, 1e9, rng.uniform(0, 100)])
    assert merge(sets, k) == reference_merge(sets, k)


MERGE_ERRORS = [
    ("not JSON", "[[", ""),
    ("empty text", "", ""),
    ("not an array", '{"sets": []}', "expected an array"),
    ("a set that is not an array", '[[], {}]', "expected an array"),
    ("a fact that is not an object", '[[1]]', "expected an object"),
    ("a fact without id", '[[{"encryptedBlob": ""}]]', "missing field `id`"),
    ("a fact with a numeric timestamp", '[[{"id": "a", "encryptedBlob": "", "timestamp": 3}]]', "`timestamp`"),
    ("a bad fact in a single set", '[[{"id": "a"}]]', "missing field `encryptedBlob`"),
]


@pytest.mark.parametrize("name,text,fragment", MERGE_ERRORS, ids=[c[0] for c in MERGE_ERRORS])
def test_merge_errors(name, text, fragment):
    with pytest.raises(ValueError) as err:
        kc.merge_expansion_results(text, 60.0)
    assert str(err.value).startswith("Invalid fact_sets JSON: ")
    assert fragment in str(err.value)


@pytest.mark.parametrize("args", [("[]", "60"), (b"[]", 60.0), ("[]", None)])
def test_merge_argument_types(args):
    with pytest.raises(TypeError):
        kc.merge_expansion_results(*args)
