"""The reranker against a plain-Python reference of its rules: tokenisation,
BM25 with the collection count, cosine similarity over 32-bit inputs with
separate square roots, competition ranks, adaptive fusion, source weights and
the ordering. Scores are compared exactly with the module's JSON."""
import json
import math
import random
import unicodedata

import numpy as np
import pytest

import kelvane_core as kc

# ---- reference -------------------------------------------------------------------

SOURCE_WEIGHTS = {"user": 1.0, "user-inferred": 0.95, "assistant": 0.85, "external": 0.85,
                  "derived": 0.85, None: 0.85}


def f32(values):
    with np.errstate(over="ignore"):
        return [float(v) for v in np.asarray(values, dtype=np.float64).astype(np.float32)]


def ref_tokenize(text):
    tokens, current = [], []
    for ch in text.lower():
        if ch.isalpha() or unicodedata.category(ch)[0] == "N":
            current.append(ch)
        else:
            tokens.append("".join(current))
            current = []
    tokens.append("".join(current))
    return [t for t in tokens if len(t.encode()) >= 2]


def ref_bm25(query, texts):
    q = ref_tokenize(query)
    docs = [ref_tokenize(t) for t in texts]
    n = len(docs)
    avgdl = sum(len(d) for d in docs) / n
    df = {}
    for d in docs:
        for t in d:
            df[t] = df.get(t, 0) + 1
    scores = []
    for d in docs:
        score = 0.0
        if d:
            dl = len(d)
            k = ((dl * 0.75) / avgdl + 0.25) * 1.2
            for t in q:
                tf = d.count(t)
                if tf == 0:
                    continue
                idf = math.log(((n - df[t]) + 0.5) / (df[t] + 0.5) + 1)
                score += ((tf * 2.2) / (k + tf)) * idf
        scores.append(score)
    return scores


def ref_cosine(a, b):
    a, b = f32(a), f32(b)
    if len(a) != len(b) or not a:
        return 0.0
    dot = na = nb = 0.0
    for x, y in zip(a, b):
        dot += x * y
        na += x * x
        nb += y * y
    denominator = math.sqrt(na) * math.sqrt(nb)
    if denominator == 0:
        return 0.0
    return dot / denominator


def ref_ranks(scores):
    """Competition ranks; the reference is only used without NaN."""
    assert not any(math.isnan(s) for s in scores)
    order = sorted(range(len(scores)), key=lambda k: -scores[k])
    ranks = [0] * len(scores)
    for pos, k in enumerate(order):
        if pos > 0 and scores[k] == scores[order[pos - 1]]:
            ranks[k] = ranks[order[pos - 1]]
        else:
            ranks[k] = pos + 1
    return ranks


def ref_rerank(query, query_embedding, candidates, top_k, apply_source_weights=False):
    bm25 = ref_bm25(query, [c["text"] for c in candidates])
    cosine = [ref_cosine(query_embedding, c["embedding"]) for c in candidates]
    bm25_rank, cosine_rank = ref_ranks(bm25), ref_ranks(cosine)
    results = []
    for k, c in enumerate(candidates):
        clamped = min(max(cosine[k], 0.0), 1.0)
        w_bm25 = ((1 - clamped) * 0.3) + 0.3
        w_cos = (clamped * 0.3) + 0.3
        s = SOURCE_WEIGHTS[c.get("source")] if apply_source_weights else 1.0
        score = ((w_bm25 * (1 / (bm25_rank[k] + 60))) + (w_cos * (1 / (cosine_rank[k] + 60)))) * s
        result = {"id": c["id"], "text": c["text"], "score": score, "bm25_score": bm25[k],
                  "cosine_score": cosine[k], "timestamp": c["timestamp"]}
        if abs(s - 1.0) >= 2**-52:
            result["source_weight"] = s
        results.append(result)
    results.sort(key=lambda r: (-r["score"], r["id"].encode()))
    return results[:top_k]


def run(query, query_embedding, candidates, top_k, apply_source_weights=None):
    text = json.dumps(candidates, ensure_ascii=False)
    if apply_source_weights is None:
        out = kc.rerank(query, query_embedding, text, top_k)
    else:
        out = kc.rerank_with_config(query, query_embedding, text, top_k, apply_source_weights)
    # Member order is part of the contract: keep it.
    return json.loads(out, object_pairs_hook=lambda pairs: dict(pairs) | {"_keys": [k for k, _ in pairs]})


def strip_keys(results):
    keys = [r.pop("_keys") for r in results]
    return results, keys


def check_against_reference(query, query_embedding, candidates, top_k, apply_source_weights=None):
    got, keys = strip_keys(run(query, query_embedding, candidates, top_k, apply_source_weights))
    expected = ref_rerank(query, query_embedding, candidates, top_k, bool(apply_source_weights))
    assert got == expected
    for result, names in zip(expected, keys):
        assert names == list(result)
    return got


# ---- generated candidate sets ----------------------------------------------------

VOCABULARY = ("memory vault agent encrypted search query ranking fusion cosine lexical recall pinned "
              "project decision tea coffee python rust sqlite indexer blind trapdoor 2024 42 x y a I "
              "café naïve Über straße ΟΔΟΣ οδός Ἄρτεμις 東京 ½ Ⅻ x1 b2 don't e-mail").split()
SOURCES = [None, "user", "user-inferred", "assistant", "external", "derived"]


def make_candidates(seed, count, dims=8, words=12):
    rng = random.Random(seed)
    out = []
    for k in range(count):
        text_words = [rng.choice(VOCABULARY) for _ in range(rng.randint(0, words))]
        sep = rng.choice([" ", ", ", "; ", "\n", " — "])
        length = dims if rng.random() < 0.85 else rng.choice([0, dims - 1, dims + 2])
        candidate = {
            "id": f"fact-{rng.randint(0, 40):02d}{rng.choice('abcXYZé')}",
            "text": sep.join(text_words),
            "embedding": [rng.uniform(-1, 1) for _ in range(length)],
            "timestamp": f"2024-05-{k % 28 + 1:02d}T00:00:00Z",
        }
        source = rng.choice(SOURCES)
        if source is not None or rng.random() < 0.5:
            candidate["source"] = source
        out.append(candidate)
    return out


QUERIES = ["memory search", "Encrypted memory vault, encrypted search", "tea café ΟΔΟΣ", "",
           "a b c", "Python rust sqlite 2024 ½", "Über STRASSE straße recall recall"]


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("apply", [None, False, True])
def test_matches_reference(seed, apply):
    rng = random.Random(1000 + seed)
    candidates = make_candidates(seed, rng.randint(1, 40))
    query = QUERIES[seed % len(QUERIES)]
    embedding = [rng.uniform(-1, 1) for _ in range(8)]
    for top_k in (len(candidates), 3, 1, 10**6):
        check_against_reference(query, embedding, candidates, top_k, apply)


@pytest.mark.parametrize("query", QUERIES)
def test_queries_against_one_set(query):
    candidates = make_candidates(99, 30)
    check_against_reference(query, [0.5] * 8, candidates, 30, True)


def test_no_candidates_or_top_k_zero():
    assert kc.rerank("q", [1.0], "[]", 5) == "[]"
    assert kc.rerank_with_config("q", [1.0], "[]", 5, True) == "[]"
    candidates = json.dumps(make_candidates(1, 5))
    assert kc.rerank("memory", [0.1] * 8, candidates, 0) == "[]"


def test_embeddings_of_other_lengths_leave_bm25_in_charge():
    candidates = make_candidates(3, 12, dims=5)
    got = check_against_reference("memory search agent", [1.0, 2.0], candidates, 12)
    assert all(r["cosine_score"] == 0.0 for r in got)
    bm25 = [r["bm25_score"] for r in got]
    ranks = ref_ranks(bm25)
    for r, rank in zip(got, ranks):
        # All cosine ranks are 1; weights 0.6 and 0.3.
        assert r["score"] == (0.6 * (1 / (rank + 60))) + (0.3 * (1 / (1 + 60)))
    assert bm25 == sorted(bm25, reverse=True)


@pytest.mark.parametrize("query", ["", "a b c 1 2 x", "!!! ,,, ---"])
def test_query_without_tokens(query):
    got = check_against_reference(query, [0.3] * 8, make_candidates(4, 10), 10)
    assert all(r["bm25_score"] == 0.0 for r in got)


def test_identical_candidates_are_ordered_by_id_bytes():
    ids = ["b", "é", "a", "B", "z", "aa", "\u00ff", "\U0001F600", "A"]
    candidates = [{"id": i, "text": "same memory text", "embedding": [0.25, 0.5], "timestamp": "t"}
                  for i in ids]
    got = run("memory", [1.0, 0.0], candidates, 100)
    assert [r["id"] for r in got] == sorted(ids, key=lambda s: s.encode())
    assert len({r["score"] for r in got}) == 1
    check_against_reference("memory", [1.0, 0.0], candidates, 100)


def test_collection_count_can_make_idf_negative():
    candidates = [
        {"id": "a", "text": "apple " * 10, "embedding": [], "timestamp": "t"},
        {"id": "b", "text": "apple banana", "embedding": [], "timestamp": "t"},
        {"id": "c", "text": "cherry", "embedding": [], "timestamp": "t"},
    ]
    got = check_against_reference("apple", [], candidates, 3)
    by_id = {r["id"]: r for r in got}
    # df(apple) = 11 occurrences > N + 0.5, so every match lowers the score.
    assert by_id["a"]["bm25_score"] < 0 and by_id["b"]["bm25_score"] < 0
    assert by_id["c"]["bm25_score"] == 0.0
    assert [r["id"] for r in got] == ["c", "b", "a"]


def test_repeated_query_token_counts_twice():
    candidates = make_candidates(5, 8)
    once = {r["id"] + r["timestamp"]: r["bm25_score"] for r in run("memory vault", [0.0] * 8, candidates, 8)}
    twice = {r["id"] + r["timestamp"]: r["bm25_score"]
             for r in check_against_reference("memory memory vault", [0.0] * 8, candidates, 8)}
    assert any(twice[k] != once[k] for k in once)


def test_tokenisation_rules_show_in_bm25():
    # Final sigma lower-casing, splitting at non-alphanumerics, two-byte
    # minimum (é alone counts, a single ASCII letter does not), numbers.
    texts = ["ΟΔΟΣ", "οδος", "é x", "a", "snake_case", "½ Ⅻ", "don't", "日本語テキスト"]
    candidates = [{"id": str(k), "text": t, "embedding": [], "timestamp": ""} for k, t in enumerate(texts)]
    for query in ["οδος", "ΟΔΟΣ", "é", "a", "snake case", "½ ⅻ", "don", "日本語テキスト"]:
        check_against_reference(query, [], candidates, 10)
    by_id = {r["id"]: r for r in run("οδος", [], candidates, 10)}
    assert by_id["0"]["bm25_score"] == by_id["1"]["bm25_score"] != 0.0


def test_source_weights_in_results():
    candidates = [{"id": s or "none", "text": "memory", "embedding": [1.0], "timestamp": "t", "source": s}
                  for s in SOURCES]
    got = {r["id"]: r for r in strip_keys(run("memory", [1.0], candidates, 10, True))[0]}
    assert "source_weight" not in got["user"]
    assert got["external"]["source_weight"] == 0.85
    assert got["user-inferred"]["source_weight"] == 0.95
    assert got["none"]["source_weight"] == 0.85
    assert [r["id"] for r in run("memory", [1.0], candidates, 10, True)][0] == "user"
    # Off: no member anywhere.
    for apply in (None, False):
        assert all("source_weight" not in r for r in run("memory", [1.0], candidates, 10, apply))


@pytest.mark.parametrize("source,weight", [
    ("ASSISTANT", 0.85), ("user", 1.0), ("User", 1.0), ("user_inferred", 0.95), ("external", 0.85),
    ("derived", 0.85), ("tool", 0.95), ("", 0.95),
])
def test_source_weight(source, weight):
    assert kc.source_weight(source) == weight


def test_legacy_claim_fallback_weight():
    assert kc.legacy_claim_fallback_weight() == 0.85


# ---- cosine ------------------------------------------------------------------------

@pytest.mark.parametrize("a,b,expected", [
    ([1, 0], [0, 1], 0.0),
    ([0, 0], [0, 0], 0.0),
    ([1, 2], [1, 2, 3], 0.0),
    ([1, 0], [2, 0], 1.0),
    ([1, 2], [2, 4], 0.9999999999999998),
    ([], [], 0.0),
    ([], [1.0], 0.0),
    ([1.0], [], 0.0),
    ([3.0], [-2.0], -1.0),
])
def test_cosine_literals(a, b, expected):
    got = kc.cosine_similarity(a, b)
    assert got == expected and isinstance(got, float)


@pytest.mark.parametrize("seed", range(8))
def test_cosine_against_reference(seed):
    rng = random.Random(seed)
    n = rng.randint(1, 700)
    a = [rng.gauss(0, 1) * 10 ** rng.randint(-30, 30) for _ in range(n)]
    b = [rng.choice([0.1, 1 / 3, rng.uniform(-1e6, 1e6), 1e-40]) for _ in range(n)]
    assert kc.cosine_similarity(a, b) == ref_cosine(a, b)
    assert kc.cosine_similarity(a=b, b=a) == ref_cosine(b, a)


def test_cosine_narrows_to_single_precision():
    # 0.1 and 0.1000000001 are the same 32-bit float.
    assert kc.cosine_similarity([0.1, 0.2], [0.1000000001, 0.2]) == ref_cosine([0.1, 0.2], [0.1, 0.2])
    assert math.isnan(kc.cosine_similarity([float("nan"), 1.0], [1.0, 1.0]))
    assert math.isnan(kc.cosine_similarity([1e39, 1.0], [1.0, 1.0]))  # inf / inf


def test_cosine_argument_types():
    with pytest.raises(TypeError):
        kc.cosine_similarity("ab", [1.0, 2.0])
    with pytest.raises(TypeError):
        kc.cosine_similarity([1.0, "x"], [1.0, 2.0])


# ---- NaN ---------------------------------------------------------------------------

def test_all_nan_scores_are_ordered_by_id():
    candidates = make_candidates(11, 20)
    for c in candidates:
        c["embedding"] = [0.5, 0.25]
    got = run("memory search", [float("nan"), 1.0], candidates, 20)
    assert all(r["score"] is None and r["cosine_score"] is None for r in got)
    assert [r["id"].encode() for r in got] == sorted(c["id"].encode() for c in candidates)


@pytest.mark.parametrize("seed", range(5))
def test_nan_mixed_with_ordinary_scores(seed):
    # An embedding value beyond the float range narrows to infinity, whose
    # cosine is NaN; the other candidates keep ordinary scores.
    rng = random.Random(seed)
    candidates = make_candidates(seed, 60, dims=4)
    poisoned = set()
    for k, c in enumerate(candidates):
        if len(c["embedding"]) == 4 and rng.random() < 0.4:
            c["embedding"][rng.randrange(4)] = 1e39
            poisoned.add(k)
    query_embedding = [0.0, 0.5, -0.5, 1.0]
    full = run("memory agent recall", query_embedding, candidates, 1000)
    # A permutation of the candidates, NaN written as null, BM25 untouched.
    assert sorted((r["id"], r["timestamp"]) for r in full) == sorted((c["id"], c["timestamp"]) for c in candidates)
    bm25 = ref_bm25("memory agent recall", [c["text"] for c in candidates])
    by_key = {(c["id"], c["timestamp"]): k for k, c in enumerate(candidates)}
    for r in full:
        k = by_key[(r["id"], r["timestamp"])]
        assert r["bm25_score"] == bm25[k]
        expected_cos = ref_cosine(query_embedding, candidates[k]["embedding"])
        if math.isnan(expected_cos):
            assert r["cosine_score"] is None and r["score"] is None
        else:
            assert r["cosine_score"] == expected_cos
    assert any(r["score"] is None for r in full) and any(r["score"] is not None for r in full)
    # top_k keeps a prefix of the full order.
    for top_k in (0, 1, 7, 59):
        assert run("memory agent recall", query_embedding, candidates, top_k) == full[:top_k]


# ---- input errors --------------------------------------------------------------------

GOOD = {"id": "1", "text": "t", "embedding": [1.0], "timestamp": "ts"}

BAD_CANDIDATES = [
    ("not json", None),
    ("", None),
    ('{"id":"1"}', "array"),
    ('"[]"', "array"),
    ("[1]", "object"),
    (json.dumps([GOOD]) + " x", None),
    (json.dumps([{k: v for k, v in GOOD.items() if k != "id"}]), "`id`"),
    (json.dumps([{k: v for k, v in GOOD.items() if k != "text"}]), "`text`"),
    (json.dumps([{k: v for k, v in GOOD.items() if k != "embedding"}]), "`embedding`"),
    (json.dumps([{k: v for k, v in GOOD.items() if k != "timestamp"}]), "`timestamp`"),
    (json.dumps([GOOD | {"id": 1}]), "`id`"),
    (json.dumps([GOOD | {"text": None}]), "`text`"),
    (json.dumps([GOOD | {"embedding": "1.0"}]), "`embedding`"),
    (json.dumps([GOOD | {"embedding": [1.0, "2"]}]), "`embedding`"),
    (json.dumps([GOOD | {"embedding": None}]), "`embedding`"),
    (json.dumps([GOOD | {"timestamp": None}]), "`timestamp`"),
    (json.dumps([GOOD | {"source": "tool"}]), "tool"),
    (json.dumps([GOOD | {"source": "User"}]), "User"),
    (json.dumps([GOOD | {"source": 1}]), "`source`"),
    ('[{"id":"1","id":"2","text":"t","embedding":[],"timestamp":""}]', "duplicate field `id`"),
]


@pytest.mark.parametrize("text,fragment", BAD_CANDIDATES)
@pytest.mark.parametrize("fn", ["rerank", "rerank_with_config"])
def test_bad_candidates(fn, text, fragment):
    args = ("q", [1.0], text, 3) + ((True,) if fn == "rerank_with_config" else ())
    with pytest.raises(ValueError) as err:
        getattr(kc, fn)(*args)
    message = str(err.value)
    assert message and not message.startswith(("reranker error", "invalid input"))
    if fragment:
        assert fragment in message


def test_lenient_candidate_members():
    # null source is no source; unknown members are ignored; integers are numbers.
    candidates = [GOOD | {"source": None, "extra": {"x": [1]}}, GOOD | {"id": "2", "embedding": [2]}]
    got = check_against_reference("t", [1.0], candidates, 5, True)
    assert got[0]["source_weight"] == 0.85


@pytest.mark.parametrize("call,error", [
    (lambda: kc.rerank("q", [1.0], "[]", -1), OverflowError),
    (lambda: kc.rerank("q", [1.0], "[]", 2**64), OverflowError),
    (lambda: kc.rerank("q", [1.0], "[]", 1.0), TypeError),
    (lambda: kc.rerank("q", "1.0", "[]", 1), TypeError),
    (lambda: kc.rerank(b"q", [1.0], "[]", 1), TypeError),
    (lambda: kc.rerank_with_config("q", [1.0], "[]", 1, 1), TypeError),
    (lambda: kc.rerank_with_config("q", [1.0], "[]", 1), TypeError),
])
def test_argument_conversion(call, error):
    with pytest.raises(error):
        call()


def test_keywords_and_large_top_k():
    text = json.dumps(make_candidates(2, 4))
    assert kc.rerank(query="memory", query_embedding=[0.0] * 8, candidates_json=text, top_k=2**64 - 1) == \
        kc.rerank("memory", [0.0] * 8, text, 4)
