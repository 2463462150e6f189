"""Fact protobuf and smart-account call data against same-run Python
baselines (a plain-Python protobuf writer, eth-abi)."""
import base64
import datetime
import hashlib
import json
import os
import struct

from Cryptodome.Hash import keccak
from eth_abi import encode as abi_encode

import kelvane_core as kc
from _common import median_ns, report

ADDRESS = "0x7d1e3b0c5a2f94e6b8c04d17a3e9f25b6c80d4a1"
EXECUTE = keccak.new(digest_bits=256, data=b"execute(address,uint256,bytes)").digest()[:4]
EXECUTE_BATCH = keccak.new(digest_bits=256, data=b"executeBatch(address[],uint256[],bytes[])").digest()[:4]


def realistic_fact(i: int) -> dict:
    """Sizes of a real fact: a 40-word text's indices plus 20 LSH buckets,
    a 640-value embedding encrypted as base64."""
    blob = os.urandom(40 + 220)
    # envelope (40 bytes) around base64 of 640 little-endian floats (3416 characters)
    embedding = base64.b64encode(os.urandom(40 + 3416)).decode()
    return {
        "id": f"0190a1b2-c3d4-7e5f-8a9b-0c1d2e3f4a{i:02x}",
        "timestamp": "2025-01-02T03:04:05.678Z",
        "owner": "0x" + "ab" * 20,
        "encrypted_blob_hex": blob.hex(),
        "blind_indices": [hashlib.sha256(f"{i}-{k}".encode()).hexdigest() for k in range(60)],
        "decay_score": 0.7,
        "source": "conversation",
        "content_fp": hashlib.sha256(f"fp{i}".encode()).hexdigest(),
        "agent_id": "agent",
        "encrypted_embedding": embedding,
    }


# ---- plain-Python protobuf writer -------------------------------------------------------


def _varint(n):
    out = bytearray()
    while n >= 0x80:
        out.append(n & 0x7F | 0x80)
        n >>= 7
    out.append(n)
    return out


def _text(out, tag, s):
    if s:
        b = s.encode()
        out.append(tag)
        out += _varint(len(b))
        out += b


def python_fact_protobuf(json_str):
    d = json.loads(json_str)
    out = bytearray()
    _text(out, 0x0A, d.get("id", ""))
    _text(out, 0x12, d.get("timestamp", ""))
    _text(out, 0x1A, d.get("owner", ""))
    try:
        blob = bytes.fromhex(d.get("encrypted_blob_hex", ""))
        out.append(0x22)
        out += _varint(len(blob))
        out += blob
    except ValueError:
        pass
    for s in d.get("blind_indices", []):
        if isinstance(s, str):
            _text(out, 0x2A, s)
    out.append(0x31)
    out += struct.pack("<d", float(d.get("decay_score", 0.8)))
    out += b"\x38\x01\x40"
    out += _varint(d.get("version", 3) or 3)
    _text(out, 0x52, d.get("content_fp", ""))
    if isinstance(d.get("encrypted_embedding"), str):
        _text(out, 0x6A, d["encrypted_embedding"])
    return bytes(out)


def python_tombstone(fact_id, owner):
    out = bytearray()
    _text(out, 0x0A, fact_id)
    _text(out, 0x12, datetime.datetime.now(datetime.timezone.utc).isoformat())
    _text(out, 0x1A, owner)
    out += b"\x22\x00\x31" + bytes(8) + b"\x38\x00\x40\x03"
    return bytes(out)


def python_batch(payloads):
    n = len(payloads)
    return EXECUTE_BATCH + abi_encode(["address[]", "uint256[]", "bytes[]"], [[ADDRESS] * n, [0] * n, payloads])


def python_single(payload):
    return EXECUTE + abi_encode(["address", "uint256", "bytes"], [ADDRESS, 0, payload])


def python_batch_from_prepared(text):
    return python_batch([bytes(f["protobuf_bytes"]) for f in json.loads(text)])


def main():
    facts = [realistic_fact(i) for i in range(30)]
    fact_json = json.dumps(facts[0])
    assert kc.encode_fact_protobuf(fact_json) == python_fact_protobuf(fact_json)

    payloads = [kc.encode_fact_protobuf(json.dumps(f)) for f in facts]
    prepared = []
    for f, p in zip(facts, payloads):
        # A PreparedFact text written by hand: the record's members in order.
        prepared.append({"fact_id": f["id"], "timestamp": f["timestamp"], "owner": f["owner"],
                         "encrypted_blob_hex": f["encrypted_blob_hex"], "blind_indices": f["blind_indices"],
                         "decay_score": f["decay_score"], "source": f["source"], "content_fp": f["content_fp"],
                         "agent_id": f["agent_id"], "encrypted_embedding": f["encrypted_embedding"],
                         "protobuf_bytes": list(p)})
    prepared_text = json.dumps(prepared, separators=(",", ":"))
    assert kc.build_batch_calldata_from_prepared(prepared_text) == python_batch_from_prepared(prepared_text)
    assert kc.encode_batch_call(payloads, ADDRESS) == python_batch(payloads)
    assert kc.encode_single_call(payloads[0], ADDRESS) == python_single(payloads[0])

    print(f"30 prepared facts: {len(prepared_text) // 1024} KiB of JSON, {len(payloads[0])}-byte payloads")
    rows = [
        ("encode_fact_protobuf", median_ns(lambda: kc.encode_fact_protobuf(fact_json)),
         "json + plain-Python writer", median_ns(lambda: python_fact_protobuf(fact_json))),
        ("encode_tombstone_protobuf", median_ns(lambda: kc.encode_tombstone_protobuf("f" * 36, "0x" + "ab" * 20)),
         "datetime + plain-Python writer",
         median_ns(lambda: python_tombstone("f" * 36, "0x" + "ab" * 20))),
        ("build_batch_calldata_from_prepared x30",
         median_ns(lambda: kc.build_batch_calldata_from_prepared(prepared_text), repeat=9),
         "json.loads + eth-abi", median_ns(lambda: python_batch_from_prepared(prepared_text), repeat=9)),
        ("encode_batch_call x30", median_ns(lambda: kc.encode_batch_call(payloads)),
         "eth-abi", median_ns(lambda: python_batch(payloads), repeat=9)),
        ("encode_single_call", median_ns(lambda: kc.encode_single_call(payloads[0])),
         "eth-abi", median_ns(lambda: python_single(payloads[0]))),
    ]
    report("fact protobuf and smart-account call data", rows)


if __name__ == "__main__":
    main()
