"""The fact preparation pipeline: every field of a prepared fact decrypted
and re-derived with independent references (PyNaCl, hmac/hashlib, the
plain-Python LSH rule, a protobuf wire reader)."""
import base64
import json
import math
import re
import struct
import time
import uuid
from datetime import datetime, timezone

import pytest
from nacl import bindings as nacl

import kelvane_core as kc
from conftest import ZERO_PHRASE
from test_blind_indices import reference_indices
from test_fingerprint import reference_fingerprint
from test_lsh import reference_hash, reference_planes
from test_protobuf import read_fields

SEED = bytes(range(32))
DIMS, TABLES, BITS = 8, 3, 12
PLANES = reference_planes(SEED, DIMS, TABLES, BITS)
HASHER = kc.LshHasher(SEED, DIMS, TABLES, BITS)
KEYS = kc.derive_keys_from_mnemonic(ZERO_PHRASE)
ENC, DEDUP = KEYS["encryption_key"], KEYS["dedup_key"]
EMBEDDING = [0.1, -0.2, 0.3, -0.4, 0.5, 0.25, -0.125, 0.0625]
OWNER = "0x" + "ab" * 20


def f32(values):
    return list(struct.unpack(f"<{len(values)}f", struct.pack(f"<{len(values)}f", *values)))


def nacl_open(blob: bytes) -> bytes:
    return nacl.crypto_aead_xchacha20poly1305_ietf_decrypt(blob[40:] + blob[24:40], None, blob[:24], ENC)


# Words the reference stemmer knows (the stemmer's vector table).
TEXT = "Caresses the ponies and cats; plastered, motoring: relational goodness"


def prepare(text=TEXT, embedding=EMBEDDING, importance=7.0, source="user",
            owner=OWNER, agent="agent-1"):
    return json.loads(kc.prepare_fact(text, ENC, DEDUP, HASHER, embedding, importance, source, owner, agent))


@pytest.mark.parametrize(
    "text,source,agent",
    [
        (TEXT, "user", "agent-1"),
        ("", "", ""),
        ('" \\ / \t \n \x01 \x7f é 🙂 feed', "src\n", "agent\x1f"),
        ("Ünïcödé ΣΊΣΥΦΟΣ 2024, hopeful hopeful", "user-inferred", "a"),
    ],
)
def test_fields_rederived(text, source, agent):
    before = time.time()
    fact = prepare(text, source=source, agent=agent)
    after = time.time()
    assert list(fact) == ["fact_id", "timestamp", "owner", "encrypted_blob_hex", "blind_indices", "decay_score",
                          "source", "content_fp", "agent_id", "encrypted_embedding", "protobuf_bytes"]

    # Version 7 id whose time part is the creation time.
    fid = uuid.UUID(fact["fact_id"])
    assert str(fid) == fact["fact_id"] and fid.version == 7 and fid.variant == uuid.RFC_4122
    id_ms = int(fact["fact_id"].replace("-", "")[:12], 16)
    assert int(before * 1000) - 1 <= id_ms <= int(after * 1000) + 1
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z", fact["timestamp"])
    stamp = datetime.strptime(fact["timestamp"], "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=timezone.utc)
    assert int(stamp.timestamp() * 1000 + 0.5) == id_ms

    # The document, byte for byte with the module's escaping.
    expected_doc = json.dumps({"a": agent, "s": source, "t": text}, ensure_ascii=False, separators=(",", ":"))
    assert nacl_open(bytes.fromhex(fact["encrypted_blob_hex"])).decode() == expected_doc
    assert fact["encrypted_blob_hex"] == fact["encrypted_blob_hex"].lower()

    # Word indices first, then one bucket hash per table of the 32-bit embedding.
    assert fact["blind_indices"] == reference_indices(text) + reference_hash(PLANES, f32(EMBEDDING))
    assert fact["content_fp"] == reference_fingerprint(text, DEDUP)

    # The embedding payload: base64 of little-endian binary32, sealed.
    sealed = base64.b64decode(fact["encrypted_embedding"], validate=True)
    assert base64.b64decode(nacl_open(sealed), validate=True) == struct.pack(f"<{DIMS}f", *EMBEDDING)

    assert fact["owner"] == OWNER and fact["source"] == source and fact["agent_id"] == agent
    assert fact["decay_score"] == 0.7

    # The protobuf carries the same values, in the fixed field order.
    fields = read_fields(bytes(fact["protobuf_bytes"]))
    numbers = [n for n, _, _ in fields]
    words = len(fact["blind_indices"])
    assert numbers == [1, 2, 3, 4] + [5] * words + [6, 7, 8, 10, 13]
    values = dict((n, v) for n, _, v in fields if n != 5)
    assert values[1].decode() == fact["fact_id"] and values[2].decode() == fact["timestamp"]
    assert values[3].decode() == OWNER
    assert values[4] == bytes.fromhex(fact["encrypted_blob_hex"])
    assert [v.decode() for n, _, v in fields if n == 5] == fact["blind_indices"]
    assert values[6] == 0.7 and values[7] == 1 and values[8] == 3
    assert values[10].decode() == fact["content_fp"] and values[13].decode() == fact["encrypted_embedding"]


def test_empty_owner_leaves_out_field_three():
    fact = prepare(owner="")
    assert 3 not in [n for n, _, _ in read_fields(bytes(fact["protobuf_bytes"]))]


@pytest.mark.parametrize("importance,score", [(7, 0.7), (7.0, 0.7), (0, 0.0), (-3, 0.0), (15, 1.0), (10, 1.0),
                                              (2.5, 0.25)])
def test_decay_score_from_importance(importance, score):
    assert prepare(importance=importance)["decay_score"] == score


def test_nan_importance_is_written_as_null():
    fact = prepare(importance=math.nan)
    assert fact["decay_score"] is None
    assert math.isnan(dict((n, v) for n, _, v in read_fields(bytes(fact["protobuf_bytes"])))[6])


@pytest.mark.parametrize("given,stored", [(1.7, 1.0), (-0.2, 0.0), (0.35, 0.35), (1.0, 1.0), (0, 0.0)])
def test_decay_score_given_directly(given, stored):
    fact = json.loads(kc.prepare_fact_with_decay_score("x", ENC, DEDUP, HASHER, EMBEDDING, given, "s", "o", "a"))
    assert fact["decay_score"] == stored


def test_repeated_calls_differ_only_where_they_must():
    a, b = prepare(), prepare()
    for key in ("fact_id", "encrypted_blob_hex", "encrypted_embedding"):
        assert a[key] != b[key]
    for key in ("blind_indices", "content_fp", "decay_score", "owner", "source", "agent_id"):
        assert a[key] == b[key]


def test_timestamp_on_a_whole_second_keeps_three_digits():
    for _ in range(50):
        assert re.search(r"\.\d{3}Z$", prepare()["timestamp"])


@pytest.mark.parametrize(
    "enc,dedup,message",
    [(bytes(31), bytes(32), "expected 32 bytes, got 31"), (bytes(32), bytes(33), "expected 32 bytes, got 33"),
     (bytes(31), bytes(16), "expected 32 bytes, got 31")],
)
def test_key_lengths_checked_first(enc, dedup, message):
    with pytest.raises(ValueError) as err:
        # The embedding is also wrong; the key check comes first.
        kc.prepare_fact("x", enc, dedup, HASHER, [1.0], 5, "s", "o", "a")
    assert err.value.args == (message,)


def test_embedding_of_the_wrong_length():
    with pytest.raises(ValueError) as err:
        prepare(embedding=[0.5] * (DIMS - 1))
    assert err.value.args == (f"LSH error: embedding dimension mismatch: expected {DIMS}, got {DIMS - 1}",)


@pytest.mark.parametrize(
    "args,param",
    [
        (("x", ENC, DEDUP, "hasher", EMBEDDING, 5, "s", "o", "a"), "lsh_hasher"),
        (("x", ENC, DEDUP, HASHER, "0.1", 5, "s", "o", "a"), "embedding"),
        (("x", ENC, DEDUP, HASHER, EMBEDDING, "5", "s", "o", "a"), "importance"),
        (("x", "key", DEDUP, HASHER, EMBEDDING, 5, "s", "o", "a"), "encryption_key"),
    ],
)
def test_argument_types(args, param):
    with pytest.raises(TypeError, match=param):
        kc.prepare_fact(*args)


def test_keywords():
    fact = json.loads(kc.prepare_fact(text="x", encryption_key=ENC, dedup_key=DEDUP, lsh_hasher=HASHER,
                                      embedding=EMBEDDING, importance=5, source="s", owner="o", agent_id="a"))
    assert fact["decay_score"] == 0.5


def test_prepared_facts_become_calldata():
    facts = [prepare(f"cats {i}") for i in range(3)]
    single = kc.build_single_calldata_from_prepared(json.dumps(facts[0]))
    assert single == kc.encode_single_call(bytes(facts[0]["protobuf_bytes"]))
    batch = kc.build_batch_calldata_from_prepared(json.dumps(facts))
    assert batch == kc.encode_batch_call([bytes(f["protobuf_bytes"]) for f in facts])


def test_tombstone_has_the_default_version():
    stone = kc.prepare_tombstone("fact-1", OWNER)
    fields = read_fields(stone)
    assert [n for n, _, _ in fields] == [1, 2, 3, 4, 6, 7, 8]
    assert fields[0][2] == b"fact-1" and fields[-1][2] == 3 and fields[-2][2] == 0
    assert fields[1][2].decode().endswith("+00:00")
