"""Search trapdoors equal the stored index terms of matching facts."""
import json
import struct

import pytest

import kelvane_core as kc
from test_blind_indices import reference_indices
from test_lsh import reference_hash, reference_planes

SEED = bytes(range(100, 132))
DIMS, TABLES, BITS = 6, 4, 10
PLANES = reference_planes(SEED, DIMS, TABLES, BITS)
HASHER = kc.LshHasher(SEED, DIMS, TABLES, BITS)
EMB = [0.3, -0.1, 0.7, 0.2, -0.9, 0.05]


def f32(values):
    return list(struct.unpack(f"<{len(values)}f", struct.pack(f"<{len(values)}f", *values)))


# Words the reference stemmer knows (the stemmer's vector table).
@pytest.mark.parametrize("query", ["The ponies?", "", "motoring hopeful hopefulness", "Ünïcode"])
def test_search_trapdoors(query):
    expected = reference_indices(query) + reference_hash(PLANES, f32(EMB))
    assert kc.generate_search_trapdoors(query, EMB, HASHER) == expected


def test_trapdoors_use_the_narrowed_embedding():
    # 0.1 is not a 32-bit float; the trapdoors hash its 32-bit rounding,
    # exactly as the store pipeline does.
    emb = [0.1] * DIMS
    buckets = kc.generate_search_trapdoors("", emb, HASHER)
    assert buckets == reference_hash(PLANES, f32(emb))
    assert buckets == HASHER.hash(f32(emb))


def test_trapdoors_match_a_stored_fact():
    keys = kc.derive_keys_from_mnemonic("abandon " * 11 + "about")
    fact = json.loads(kc.prepare_fact("The user lives in Lisbon", keys["encryption_key"], keys["dedup_key"],
                                      HASHER, EMB, 5, "user", "0x00", "agent"))
    doors = kc.generate_search_trapdoors("lisbon", EMB, HASHER)
    assert set(doors) <= set(fact["blind_indices"])


def test_expansion_trapdoors():
    queries = ["cats", "relational goodness", ""]
    embs = [EMB, [x * 2 for x in EMB], [-x for x in EMB]]
    out = kc.generate_expansion_trapdoors(queries, embs, HASHER)
    assert out == [reference_indices(q) + reference_hash(PLANES, f32(e)) for q, e in zip(queries, embs)]
    assert kc.generate_expansion_trapdoors([], [], HASHER) == []
    assert kc.generate_expansion_trapdoors(("a",), (tuple(EMB),), HASHER) == [kc.generate_search_trapdoors("a", EMB, HASHER)]


def test_expansion_length_mismatch_fails_before_hashing():
    with pytest.raises(ValueError) as err:
        # The embeddings are also of the wrong size: the count check comes first.
        kc.generate_expansion_trapdoors(["a", "b"], [[1.0], [2.0], [3.0]], HASHER)
    assert err.value.args == ("invalid input: queries.len() (2) != query_embeddings.len() (3)",)


def test_hasher_errors_pass_through():
    with pytest.raises(ValueError) as err:
        kc.generate_search_trapdoors("q", [1.0] * (DIMS + 1), HASHER)
    assert err.value.args == (f"LSH error: embedding dimension mismatch: expected {DIMS}, got {DIMS + 1}",)
    with pytest.raises(ValueError) as err:
        kc.generate_expansion_trapdoors(["a", "b"], [EMB, [1.0]], HASHER)
    assert err.value.args == (f"LSH error: embedding dimension mismatch: expected {DIMS}, got 1",)


@pytest.mark.parametrize(
    "call,param",
    [
        (lambda: kc.generate_expansion_trapdoors("ab", [EMB], HASHER), "queries"),
        (lambda: kc.generate_expansion_trapdoors(["a", 1], [EMB, EMB], HASHER), r"queries\[1\]"),
        (lambda: kc.generate_expansion_trapdoors(["a"], [EMB[0]], HASHER), r"embeddings\[0\]"),
        (lambda: kc.generate_expansion_trapdoors(["a"], ["x"], HASHER), r"embeddings\[0\]"),
        (lambda: kc.generate_expansion_trapdoors(["a"], [[0.1, "x"]], HASHER), r"embeddings\[0\]\[1\]"),
        (lambda: kc.generate_search_trapdoors("a", EMB, object()), "lsh_hasher"),
    ],
)
def test_conversion_errors(call, param):
    with pytest.raises(TypeError, match=param):
        call()
