"""decrypt_and_rerank of 200 facts (640-value embeddings, 40-word texts,
top 10) against the same work in Python: PyNaCl, json, base64/struct and
the plain-Python reranker of bench_rerank."""
import base64
import json
import os
import random
import struct

from _common import median_ns, report  # first: it configures NumPy's threads
from nacl import bindings as nacl

import kelvane_core as kc
from bench_rerank import python_rerank

KEY = bytes(range(32))
WORDS = ("coffee lisbon dark roast morning team meeting python rust garden cat dog travel "
         "music project deadline family birthday recipe running book").split()


def seal(plain):
    nonce = os.urandom(24)
    sealed = nacl.crypto_aead_xchacha20poly1305_ietf_encrypt(plain, None, nonce, KEY)
    return nonce + sealed[-16:] + sealed[:-16]


def make_facts(n, dims, rng):
    facts = []
    for k in range(n):
        text = " ".join(rng.choice(WORDS) for _ in range(40))
        doc = json.dumps({"a": "agent", "s": "user", "t": text}, separators=(",", ":"))
        emb = [rng.uniform(-1, 1) for _ in range(dims)]
        payload = base64.b64encode(struct.pack(f"<{dims}f", *emb))
        facts.append({"id": f"{k:04d}", "encryptedBlob": "0x" + seal(doc.encode()).hex(),
                      "encryptedEmbedding": base64.b64encode(seal(payload)).decode(), "decayScore": "0.8",
                      "timestamp": "2025-01-01T00:00:00.000Z", "createdAt": None, "isActive": True,
                      "contentFp": None})
    return facts


def python_decrypt_and_rerank(facts_json, query, qemb, key, top_k):
    candidates = []
    for f in json.loads(facts_json):
        raw = bytes.fromhex(f["encryptedBlob"][2:])
        try:
            plain = nacl.crypto_aead_xchacha20poly1305_ietf_decrypt(raw[40:] + raw[24:40], None, raw[:24], key)
            text = plain.decode()
        except Exception:
            continue
        try:
            doc = json.loads(text)
            text = doc["t"] if isinstance(doc, dict) and isinstance(doc.get("t"), str) else text
        except ValueError:
            pass
        emb = []
        if f.get("encryptedEmbedding"):
            sealed = base64.b64decode(f["encryptedEmbedding"])
            inner = nacl.crypto_aead_xchacha20poly1305_ietf_decrypt(sealed[40:] + sealed[24:40], None,
                                                                    sealed[:24], key)
            packed = base64.b64decode(inner)
            emb = list(struct.unpack(f"<{len(packed) // 4}f", packed[: len(packed) // 4 * 4]))
        candidates.append({"id": f["id"], "text": text, "embedding": emb, "timestamp": f["timestamp"] or ""})
    return python_rerank(query, qemb, json.dumps(candidates), top_k)


def main():
    rng = random.Random(1)
    facts_json = json.dumps(make_facts(200, 640, rng))
    query = "dark roast coffee in lisbon"
    qemb = [rng.uniform(-1, 1) for _ in range(640)]
    ours = kc.decrypt_and_rerank(facts_json, query, qemb, KEY, 10)
    assert [r["id"] for r in json.loads(ours)] == [r["id"] for r in json.loads(
        python_decrypt_and_rerank(facts_json, query, qemb, KEY, 10))]
    report("decrypt and rerank", [
        ("decrypt_and_rerank 200 facts, top 10", median_ns(lambda: kc.decrypt_and_rerank(facts_json, query, qemb, KEY, 10), repeat=9),
         "PyNaCl + json + Python reranker",
         median_ns(lambda: python_decrypt_and_rerank(facts_json, query, qemb, KEY, 10), repeat=5)),
    ])


if __name__ == "__main__":
    main()
