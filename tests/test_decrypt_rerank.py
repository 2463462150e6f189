"""Decrypt-and-rerank: facts sealed in the test with PyNaCl, ranked exactly
as rerank() ranks the same candidates given in clear."""
import base64
import json
import os
import random
import struct

import pytest
from nacl import bindings as nacl

import kelvane_core as kc

KEY = bytes(range(32))
OTHER_KEY = bytes(range(1, 33))


def seal(plain: bytes, key: bytes = KEY) -> bytes:
    nonce = os.urandom(24)
    sealed = nacl.crypto_aead_xchacha20poly1305_ietf_encrypt(plain, None, nonce, key)
    return nonce + sealed[-16:] + sealed[:-16]


def sealed_embedding(values, key=KEY, extra=b""):
    payload = base64.b64encode(struct.pack(f"<{len(values)}f", *values) + extra)
    return base64.b64encode(seal(payload, key)).decode()


def document(text, agent="agent", source="user"):
    return json.dumps({"a": agent, "s": source, "t": text}, ensure_ascii=False, separators=(",", ":"))


def fact(fid, plaintext, embedding=None, key=KEY, timestamp="2025-01-01T00:00:00.000Z", blob_prefix="0x"):
    return {
        "id": fid,
        "encryptedBlob": blob_prefix + seal(plaintext.encode() if isinstance(plaintext, str) else plaintext, key).hex(),
        "encryptedEmbedding": sealed_embedding(embedding, key) if embedding is not None else None,
        "decayScore": "0.8",
        "timestamp": timestamp,
        "createdAt": "1735689600",
        "isActive": True,
        "contentFp": "00",
    }


def f32(values):
    return list(struct.unpack(f"<{len(values)}f", struct.pack(f"<{len(values)}f", *values)))


def as_candidates(rows):
    return json.dumps([{"id": i, "text": t, "embedding": e, "timestamp": ts} for i, t, e, ts in rows])


WORDS = "coffee lisbon dark roast morning team meeting python rust garden cat dog travel".split()


@pytest.mark.parametrize("seed", range(5))
def test_ranking_equals_rerank_over_the_clear_candidates(seed):
    rng = random.Random(seed)
    dims = 16
    query = "dark roast coffee in lisbon"
    qemb = [rng.uniform(-1, 1) for _ in range(dims)]
    facts, rows = [], []
    for k in range(30):
        text = " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 12)))
        emb = f32([rng.uniform(-1, 1) for _ in range(dims)])
        facts.append(fact(f"fact-{k:02d}", document(text), emb, timestamp=f"t{k}"))
        rows.append((f"fact-{k:02d}", text, emb, f"t{k}"))
    for top_k in (0, 1, 10, 100):
        got = kc.decrypt_and_rerank(json.dumps(facts), query, qemb, KEY, top_k)
        assert got == kc.rerank(query, qemb, as_candidates(rows), top_k)
    assert len(json.loads(kc.decrypt_and_rerank(json.dumps(facts), query, qemb, KEY, 10))) == 10


def test_unreadable_facts_are_skipped_silently():
    emb = [0.5, -0.25]
    good = fact("good", document("alpha beta"), emb)
    facts = [
        fact("foreign", document("alpha"), emb, key=OTHER_KEY),
        dict(good, id="odd-hex", encryptedBlob=good["encryptedBlob"] + "0"),
        dict(good, id="bad-hex", encryptedBlob="0xzz" + good["encryptedBlob"][4:]),
        dict(good, id="upper-X", encryptedBlob="0X" + good["encryptedBlob"][2:]),
        fact("not-utf8", b"\xff\xfe alpha"),
        dict(good, id="truncated", encryptedBlob=good["encryptedBlob"][:-2]),
        good,
        fact("no-prefix", document("alpha gamma"), emb, blob_prefix=""),
    ]
    out = json.loads(kc.decrypt_and_rerank(json.dumps(facts), "alpha", emb, KEY, 10))
    assert sorted(r["id"] for r in out) == ["good", "no-prefix"]
    all_foreign = [fact(f"x{i}", document("alpha"), emb, key=OTHER_KEY) for i in range(3)]
    assert kc.decrypt_and_rerank(json.dumps(all_foreign), "alpha", emb, KEY, 10) == "[]"
    assert kc.decrypt_and_rerank("[]", "alpha", emb, KEY, 10) == "[]"


@pytest.mark.parametrize(
    "plaintext,text",
    [
        (document("the stored text"), "the stored text"),
        ("plain prose from an older client", "plain prose from an older client"),
        ("[1,2]", "[1,2]"),
        ('{"t": 5, "x": "y"}', '{"t": 5, "x": "y"}'),
        ('{"text": "a v1 claim"}', '{"text": "a v1 claim"}'),
        ('{"t": "first", "t": "last"}', "last"),
        ('  {"a":"x","t":"padded"}  ', "padded"),
        ('{"t": "ok"} trailing', '{"t": "ok"} trailing'),
        ('"a json string"', '"a json string"'),
        ("", ""),
    ],
)
def test_text_is_the_t_member_or_the_whole_plaintext(plaintext, text):
    out = json.loads(kc.decrypt_and_rerank(json.dumps([fact("f", plaintext)]), "q", [], KEY, 5))
    assert [r["text"] for r in out] == [text]


def test_embedding_payload_rules():
    rng = random.Random(3)
    q640 = [rng.uniform(-1, 1) for _ in range(640)]
    e640 = f32([rng.uniform(-1, 1) for _ in range(640)])
    q320 = q640[:320]
    e320 = e640[:320]
    facts = [
        dict(fact("full", document("x"), e640)),  # 2,560 bytes
        dict(fact("short", document("x")), encryptedEmbedding=sealed_embedding(e320, extra=b"\x01\x02")),  # 1,282 bytes
        fact("none", document("x")),
        dict(fact("garbage", document("x")), encryptedEmbedding="not base64!"),
        dict(fact("foreign-emb", document("x")), encryptedEmbedding=sealed_embedding(e640, key=OTHER_KEY)),
    ]
    got = json.loads(kc.decrypt_and_rerank(json.dumps(facts), "x", q640, KEY, 10))
    by_id = {r["id"]: r for r in got}
    expected = json.loads(kc.rerank("x", q640, as_candidates([
        ("full", "x", e640, "2025-01-01T00:00:00.000Z"),
        ("short", "x", e320, "2025-01-01T00:00:00.000Z"),
        ("none", "x", [], "2025-01-01T00:00:00.000Z"),
        ("garbage", "x", [], "2025-01-01T00:00:00.000Z"),
        ("foreign-emb", "x", [], "2025-01-01T00:00:00.000Z"),
    ]), 10))
    assert got == expected
    assert by_id["none"]["cosine_score"] == 0.0
    assert by_id["full"]["cosine_score"] != 0.0
    # 320 values against a 640-value query: lengths differ, cosine 0; the
    # same payload against a 320-value query is read as 320 values.
    assert by_id["short"]["cosine_score"] == 0.0
    short = json.loads(kc.decrypt_and_rerank(json.dumps(facts[1:2]), "x", q320, KEY, 1))[0]
    assert short["cosine_score"] == json.loads(kc.rerank("x", q320, as_candidates(
        [("short", "x", e320, "")]), 1))[0]["cosine_score"]


def test_null_timestamp_becomes_empty():
    f = dict(fact("f", document("x")), timestamp=None)
    assert json.loads(kc.decrypt_and_rerank(json.dumps([f]), "x", [], KEY, 1))[0]["timestamp"] == ""


def test_key_length_is_checked_before_the_json():
    with pytest.raises(ValueError) as err:
        kc.decrypt_and_rerank("not json", "q", [], bytes(31), 1)
    assert err.value.args == ("expected 32 bytes, got 31",)


@pytest.mark.parametrize(
    "facts_json",
    ["", "{}", "[1]", '[{"id": "x"}]', '[{"encryptedBlob": "00"}]', '[{"id": 1, "encryptedBlob": "00"}]',
     '[{"id": "a", "encryptedBlob": "00", "isActive": "yes"}]', '[{"id": "a", "id": "b", "encryptedBlob": "00"}]',
     "[] []"],
)
def test_malformed_fact_arrays(facts_json):
    with pytest.raises(ValueError) as err:
        kc.decrypt_and_rerank(facts_json, "q", [], KEY, 1)
    assert err.value.args[0].startswith("Invalid SubgraphFact array JSON: ")


def test_top_k_is_unsigned():
    with pytest.raises(OverflowError):
        kc.decrypt_and_rerank("[]", "q", [], KEY, -1)
