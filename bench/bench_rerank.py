"""rerank of 500 candidates (640-value embeddings, 40-word texts) and
cosine_similarity against plain-Python references doing the same work in
the same run (JSON in, BM25 + cosine + fusion + ordering, JSON out)."""
import json
import math
import random
import unicodedata

import numpy as np

import kelvane_core as kc
from _common import median_ns, report

WORDS = ("memory vault agent encrypted search query ranking fusion cosine lexical recall pinned project "
         "decision tea coffee python rust sqlite indexer blind trapdoor schedule meeting family travel "
         "budget health music garden recipe deadline review release café naïve").split()


def tokenize(text):
    tokens, current = [], []
    for ch in text.lower():
        if ch.isalpha() or unicodedata.category(ch)[0] == "N":
            current.append(ch)
        else:
            tokens.append("".join(current))
            current = []
    tokens.append("".join(current))
    return [t for t in tokens if len(t.encode()) >= 2]


def ranks(scores):
    order = sorted(range(len(scores)), key=lambda k: -scores[k])
    out = [0] * len(scores)
    for pos, k in enumerate(order):
        same = pos > 0 and scores[k] == scores[order[pos - 1]]
        out[k] = out[order[pos - 1]] if same else pos + 1
    return out


def python_rerank(query, query_embedding, candidates_json, top_k):
    candidates = json.loads(candidates_json)
    q32 = [float(x) for x in np.asarray(query_embedding, dtype=np.float32)]
    q = tokenize(query)
    docs = [tokenize(c["text"]) for c in candidates]
    n = len(docs)
    avgdl = sum(len(d) for d in docs) / n
    df = {}
    for d in docs:
        for t in d:
            df[t] = df.get(t, 0) + 1
    bm25, cosine = [], []
    for c, d in zip(candidates, docs):
        score = 0.0
        if d:
            k = ((len(d) * 0.75) / avgdl + 0.25) * 1.2
            for t in q:
                tf = d.count(t)
                if tf:
                    score += ((tf * 2.2) / (k + tf)) * math.log(((n - df[t]) + 0.5) / (df[t] + 0.5) + 1)
        bm25.append(score)
        e = [float(x) for x in np.asarray(c["embedding"], dtype=np.float32)]
        if len(e) != len(q32) or not q32:
            cosine.append(0.0)
            continue
        dot = na = nb = 0.0
        for x, y in zip(q32, e):
            dot += x * y
            na += x * x
            nb += y * y
        den = math.sqrt(na) * math.sqrt(nb)
        cosine.append(dot / den if den else 0.0)
    rb, rc = ranks(bm25), ranks(cosine)
    results = []
    for k, c in enumerate(candidates):
        cl = min(max(cosine[k], 0.0), 1.0)
        score = (((1 - cl) * 0.3 + 0.3) * (1 / (rb[k] + 60))) + ((cl * 0.3 + 0.3) * (1 / (rc[k] + 60)))
        results.append({"id": c["id"], "text": c["text"], "score": score, "bm25_score": bm25[k],
                        "cosine_score": cosine[k], "timestamp": c["timestamp"]})
    results.sort(key=lambda r: (-r["score"], r["id"].encode()))
    return json.dumps(results[:top_k], ensure_ascii=False, separators=(",", ":"))


def python_cosine(a, b):
    a = [float(x) for x in np.asarray(a, dtype=np.float32)]
    b = [float(x) for x in np.asarray(b, dtype=np.float32)]
    dot = na = nb = 0.0
    for x, y in zip(a, b):
        dot += x * y
        na += x * x
        nb += y * y
    return dot / (math.sqrt(na) * math.sqrt(nb))


def main():
    rng = random.Random(5)
    dims = 640
    candidates = [{
        "id": f"fact-{k:04d}",
        "text": " ".join(rng.choice(WORDS) for _ in range(40)),
        "embedding": [rng.uniform(-1, 1) for _ in range(dims)],
        "timestamp": "2024-05-01T00:00:00Z",
    } for k in range(500)]
    candidates_json = json.dumps(candidates)
    query = "encrypted memory search for the project deadline"
    query_embedding = [rng.uniform(-1, 1) for _ in range(dims)]

    ours = kc.rerank(query, query_embedding, candidates_json, 10)
    theirs = python_rerank(query, query_embedding, candidates_json, 10)
    assert json.loads(ours) == json.loads(theirs), "reference and module disagree"

    a, b = query_embedding, candidates[0]["embedding"]
    rows = [
        ("rerank 500 x 640-dim, 40 words, top 10",
         median_ns(lambda: kc.rerank(query, query_embedding, candidates_json, 10), repeat=9),
         "plain Python (json + loops)",
         median_ns(lambda: python_rerank(query, query_embedding, candidates_json, 10), repeat=3, number=1)),
        ("rerank_with_config (source weights on)",
         median_ns(lambda: kc.rerank_with_config(query, query_embedding, candidates_json, 10, True), repeat=9),
         "plain Python (json + loops)",
         median_ns(lambda: python_rerank(query, query_embedding, candidates_json, 10), repeat=3, number=1)),
        # top_k 0 stops right after reading the candidates: the JSON share.
        ("rerank, top_k 0 (reading the JSON only)",
         median_ns(lambda: kc.rerank(query, query_embedding, candidates_json, 0), repeat=9),
         "json.loads", median_ns(lambda: json.loads(candidates_json), repeat=5)),
        ("cosine_similarity 640-dim",
         median_ns(lambda: kc.cosine_similarity(a, b)),
         "plain Python loop", median_ns(lambda: python_cosine(a, b))),
    ]
    a32, b32 = np.asarray(a, np.float32).astype(np.float64), np.asarray(b, np.float32).astype(np.float64)
    rows.append(("cosine_similarity 640-dim", rows[-1][1], "numpy on ready arrays",
                 median_ns(lambda: float(a32 @ b32) / (math.sqrt(a32 @ a32) * math.sqrt(b32 @ b32)))))
    report(f"Reranker ({len(candidates_json) / 1e6:.1f} MB of candidate JSON)", rows)


if __name__ == "__main__":
    main()
