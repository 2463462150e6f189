"""prepare_fact with a 640-value embedding and a 40-word text against the
same pipeline in Python (uuid, PyNaCl, hashlib/hmac, a Python Porter
stemmer, the plain-Python or a NumPy LSH, a Python protobuf writer); also
the search side's trapdoors."""
import base64
import json
import os
import random
import struct
import time
import uuid
from datetime import datetime, timezone

from _common import median_ns, report  # first: it configures NumPy's threads
import numpy as np
from nacl import bindings as nacl

import kelvane_core as kc
from bench_lsh import BITS, DIMS, SEED, TABLES, numpy_hash, python_hash, python_planes
from bench_store import python_fact_protobuf
from bench_text import py_blind_indices, py_fingerprint

WORDS = ("coffee lisbon dark roast morning team meeting python rust garden cat dog travel music project "
         "deadline family birthday recipe running book prefers lives works daughter plays").split()


def py_seal(plain, key):
    nonce = os.urandom(24)
    sealed = nacl.crypto_aead_xchacha20poly1305_ietf_encrypt(plain, None, nonce, key)
    return nonce + sealed[-16:] + sealed[:-16]


def uuid7():
    ms = time.time_ns() // 1_000_000
    rand = bytearray(os.urandom(10))
    raw = ms.to_bytes(6, "big") + bytes([0x70 | rand[0] & 0x0F, rand[1], 0x80 | rand[2] & 0x3F]) + bytes(rand[3:])
    return str(uuid.UUID(bytes=raw))


def python_prepare(text, enc, dedup, lsh_hash, embedding, importance, source, owner, agent):
    fid = uuid7()
    stamp = datetime.now(timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3] + "Z"
    doc = json.dumps({"a": agent, "s": source, "t": text}, ensure_ascii=False, separators=(",", ":"))
    blob = py_seal(doc.encode(), enc).hex()
    e32 = list(struct.unpack(f"<{len(embedding)}f", struct.pack(f"<{len(embedding)}f", *embedding)))
    indices = py_blind_indices(text) + lsh_hash(e32)
    payload = base64.b64encode(struct.pack(f"<{len(e32)}f", *e32))
    sealed_embedding = base64.b64encode(py_seal(payload, enc)).decode()
    fact = {"fact_id": fid, "timestamp": stamp, "owner": owner, "encrypted_blob_hex": blob,
            "blind_indices": indices, "decay_score": min(max(importance / 10, 0.0), 1.0), "source": source,
            "content_fp": py_fingerprint(text, dedup), "agent_id": agent, "encrypted_embedding": sealed_embedding}
    proto = python_fact_protobuf(json.dumps({**fact, "id": fid}))
    return json.dumps({**fact, "protobuf_bytes": list(proto)}, separators=(",", ":"))


def main():
    rng = random.Random(5)
    text = " ".join(rng.choice(WORDS) for _ in range(40))
    embedding = [rng.uniform(-1, 1) for _ in range(DIMS)]
    enc, dedup = bytes(range(32)), bytes(range(32, 64))
    hasher = kc.LshHasher(SEED, DIMS, TABLES, BITS)
    planes = python_planes()
    matrix = np.array([plane for table in planes for plane in table])

    def ours():
        return kc.prepare_fact(text, enc, dedup, hasher, embedding, 7, "user", "0xowner", "agent")

    assert json.loads(ours())["blind_indices"] == json.loads(python_prepare(
        text, enc, dedup, lambda e: python_hash(planes, e), embedding, 7, "user", "0xowner", "agent"))["blind_indices"]
    report("fact preparation", [
        ("prepare_fact 640-dim, 40 words", median_ns(ours), "plain-Python pipeline",
         median_ns(lambda: python_prepare(text, enc, dedup, lambda e: python_hash(planes, e), embedding, 7, "user",
                                          "0xowner", "agent"), repeat=5, number=3)),
        ("prepare_fact 640-dim, 40 words", median_ns(ours), "Python pipeline, NumPy LSH",
         median_ns(lambda: python_prepare(text, enc, dedup, lambda e: numpy_hash(matrix, np.array(e)), embedding,
                                          7, "user", "0xowner", "agent"))),
        ("generate_search_trapdoors 640-dim", median_ns(lambda: kc.generate_search_trapdoors(text, embedding, hasher)),
         "Python indices + NumPy LSH",
         median_ns(lambda: py_blind_indices(text) + numpy_hash(matrix, np.array(embedding, dtype=np.float32)
                                                                .astype(np.float64)))),
    ])


if __name__ == "__main__":
    main()
