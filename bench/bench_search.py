"""Blind-search answers, the expansion merge, the recall block and the cost
of the zero-argument constants, against same-run pure-Python baselines."""
import base64
import datetime
import json
import math
import random

import kelvane_core as kc
from _common import median_ns, report

KEYS = ["id", "encryptedBlob", "encryptedEmbedding", "decayScore", "timestamp", "createdAt", "isActive", "contentFp"]


def dumps(v):
    return json.dumps(v, separators=(",", ":"), ensure_ascii=False)


def make_fact(rng, n):
    # Realistic sizes: a 200-byte sealed text as hex, a sealed 640-float embedding as base64.
    return {
        "id": f"0x{n:064x}",
        "encryptedBlob": "0x" + rng.randbytes(240).hex(),
        "encryptedEmbedding": base64.b64encode(rng.randbytes(40 + 2560)).decode(),
        "decayScore": f"{rng.random():.6f}",
        "timestamp": str(1_700_000_000 + n),
        "createdAt": str(1_700_000_000 + n),
        "isActive": rng.random() > 0.05,
        "contentFp": rng.randbytes(32).hex(),
    }


def search_answer(entries=1000, distinct=400):
    rng = random.Random(1)
    facts = [make_fact(rng, n) for n in range(distinct)]
    return json.dumps({"blindIndexes": [{"id": f"bi-{i}", "fact": rng.choice(facts)} for i in range(entries)]})


def python_parse_search(text):
    out, seen = [], set()
    for entry in json.loads(text).get("blindIndexes") or []:
        f = entry.get("fact")
        if f is None or f.get("isActive") is False or f["id"] in seen:
            continue
        seen.add(f["id"])
        out.append({k: f.get(k) for k in KEYS})
    return dumps(out)


def python_merge(text, k):
    sets = json.loads(text)
    scores, kept = {}, {}
    for facts in sets:
        for p, f in enumerate(facts):
            scores[f["id"]] = scores.get(f["id"], 0.0) + 1.0 / ((p + 1) + k)
            kept.setdefault(f["id"], f)
    order = sorted(scores, key=lambda i: (-scores[i], i.encode()))
    return dumps([{k2: kept[i].get(k2) for k2 in KEYS} for i in order])


def python_recall(text, now):
    def date(s):
        if s <= 0:
            return ""
        return (datetime.date(1970, 1, 1) + datetime.timedelta(days=s // 86400)).isoformat()

    head = ("## Relevant memories from Kelvane\nThe current date is " + date(now) + ". Each memory is tagged with "
            "the date it was recorded. When the question involves timing or duration, reason carefully about the "
            "dates and compute differences precisely.\n")
    lines = []
    for it in json.loads(text):
        d = date(it.get("created_at", 0))
        cat = it.get("category", "")
        lines.append(f"- [{cat}] ({d}) {it.get('text', '')}" if d else f"- [{cat}] {it.get('text', '')}")
    return head + "\n".join(lines)


def main():
    rows = []
    answer = search_answer()
    assert kc.parse_search_response(answer) == python_parse_search(answer)
    rows.append((f"parse_search_response 1000 entries ({len(answer) >> 10} KiB)",
                 median_ns(lambda: kc.parse_search_response(answer), repeat=9),
                 "json.loads + rebuild + dumps", median_ns(lambda: python_parse_search(answer), repeat=9)))

    rng = random.Random(2)
    pool = [make_fact(rng, n) for n in range(300)]
    sets = json.dumps([rng.sample(pool, 100) for _ in range(4)])
    assert kc.merge_expansion_results(sets, 60.0) == python_merge(sets, 60.0)
    rows.append(("merge_expansion_results 4 x 100 facts", median_ns(lambda: kc.merge_expansion_results(sets, 60.0)),
                 "json + RRF + sorted + dumps", median_ns(lambda: python_merge(sets, 60.0))))

    words = "the user prefers green tea in the morning and coffee after lunch on weekdays".split()
    items = json.dumps([{"category": "preference", "text": " ".join(rng.choices(words, k=20)),
                         "created_at": 1_600_000_000 + 86400 * i} for i in range(20)])
    now = 1_705_276_800
    assert kc.format_recall_context(items, now) == python_recall(items, now)
    rows.append(("format_recall_context 20 items", median_ns(lambda: kc.format_recall_context(items, now)),
                 "json.loads + datetime + join", median_ns(lambda: python_recall(items, now))))
    report("search answers, merge, recall", rows)

    fabs = median_ns(lambda: math.fabs(1.0))
    calls = [
        # Wrapped in lambdas like the baseline, so both pay the same call.
        ("get_search_query", lambda: kc.get_search_query()),
        ("get_export_query", lambda: kc.get_export_query()),
        ("confirm_indexed_query", lambda: kc.confirm_indexed_query()),
        ("confirm_indexed_default_poll_ms", lambda: kc.confirm_indexed_default_poll_ms()),
        ("hex_blob_to_base64 (short)", lambda: kc.hex_blob_to_base64("0x48656c6c6f")),
        ("format_memory_date", lambda: kc.format_memory_date(1705276800)),
    ]
    report("call cost: the constants aim at 2x math.fabs; the last two rows take one argument and convert it",
           [(name, median_ns(fn), "math.fabs(1.0)", fabs) for name, fn in calls])


if __name__ == "__main__":
    main()
