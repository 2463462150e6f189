"""Strict reading of PreparedFact JSON through the calldata builders: the
texts are written by hand here, the call data checked against eth-abi."""
import json

import pytest
from Cryptodome.Hash import keccak
from eth_abi import encode as abi_encode

import kelvane_core as kc

DEFAULT_ADDRESS = "0x7d1e3b0c5a2f94e6b8c04d17a3e9f25b6c80d4a1"
EXECUTE = keccak.new(digest_bits=256, data=b"execute(address,uint256,bytes)").digest()[:4]
EXECUTE_BATCH = keccak.new(digest_bits=256, data=b"executeBatch(address[],uint256[],bytes[])").digest()[:4]

REQUIRED = ["fact_id", "timestamp", "owner", "encrypted_blob_hex", "blind_indices", "decay_score", "source",
            "content_fp", "agent_id", "protobuf_bytes"]


def prepared(i: int = 0, **changes) -> dict:
    fact = {
        "fact_id": f"0190a1b2-c3d4-7e5f-8a9b-0c1d2e3f4a{i:02x}",
        "timestamp": "2025-01-02T03:04:05.678Z",
        "owner": "0x" + "ab" * 20,
        "encrypted_blob_hex": "00ff" * 10,
        "blind_indices": ["a" * 64, "b" * 64],
        "decay_score": 0.7,
        "source": "conversation",
        "content_fp": "c" * 64,
        "agent_id": "agent",
        "encrypted_embedding": "ZW1i",
        "protobuf_bytes": list(bytes((i + k) & 0xFF for k in range(40 + i))),
    }
    fact.update(changes)
    return fact


def single(payload: bytes) -> bytes:
    return EXECUTE + abi_encode(["address", "uint256", "bytes"], [DEFAULT_ADDRESS, 0, payload])


def batch(payloads) -> bytes:
    n = len(payloads)
    return EXECUTE_BATCH + abi_encode(["address[]", "uint256[]", "bytes[]"],
                                      [[DEFAULT_ADDRESS] * n, [0] * n, list(payloads)])


def build_single(fact):
    return kc.build_single_calldata_from_prepared(fact if isinstance(fact, str) else json.dumps(fact))


ACCEPTED = [
    ("complete", prepared()),
    ("embedding null", prepared(encrypted_embedding=None)),
    ("embedding missing", {k: v for k, v in prepared().items() if k != "encrypted_embedding"}),
    ("integer decay score", prepared(decay_score=1)),
    ("unknown members ignored", prepared(extra={"x": [1]}, is_active=True)),
    ("empty payload and lists", prepared(protobuf_bytes=[], blind_indices=[])),
    ("byte bounds", prepared(protobuf_bytes=[0, 255, 128])),
]


@pytest.mark.parametrize("fact", [c[1] for c in ACCEPTED], ids=[c[0] for c in ACCEPTED])
def test_single_from_prepared(fact):
    assert build_single(fact) == single(bytes(fact["protobuf_bytes"]))


def test_writer_style_text_with_white_space_and_unicode():
    text = json.dumps(prepared(source="Ünïcode ✓", agent_id="a\"b\\c"), indent=2, ensure_ascii=False)
    assert build_single("\n " + text + " \n") == single(bytes(prepared()["protobuf_bytes"]))


PREFIX = "Invalid PreparedFact JSON: "


@pytest.mark.parametrize("key", REQUIRED)
def test_every_required_member(key):
    fact = prepared()
    del fact[key]
    with pytest.raises(ValueError) as err:
        build_single(fact)
    assert err.value.args == (f"{PREFIX}missing field `{key}`",)


@pytest.mark.parametrize("key", ["owner", "protobuf_bytes", "encrypted_embedding"])
def test_duplicate_member(key):
    text = json.dumps(prepared())[:-1] + f', "{key}": ' + json.dumps(prepared()[key]) + "}"
    with pytest.raises(ValueError) as err:
        build_single(text)
    assert err.value.args == (f"{PREFIX}duplicate field `{key}`",)


WRONG_TYPES = [
    ("fact_id", 5),
    ("timestamp", None),
    ("owner", ["0x"]),
    ("encrypted_blob_hex", 0),
    ("blind_indices", "a"),
    ("blind_indices", ["a", 1]),
    ("blind_indices", None),
    ("decay_score", None),
    ("decay_score", "0.7"),
    ("decay_score", True),
    ("source", False),
    ("content_fp", {}),
    ("agent_id", None),
    ("encrypted_embedding", 5),
    ("encrypted_embedding", ["x"]),
    ("protobuf_bytes", "AAEC"),
    ("protobuf_bytes", [1, 256]),
    ("protobuf_bytes", [-1]),
    ("protobuf_bytes", [1.0]),
    ("protobuf_bytes", [18446744073709551615]),
    ("protobuf_bytes", [None]),
    ("protobuf_bytes", None),
]


@pytest.mark.parametrize("key,value", WRONG_TYPES)
def test_wrong_member_types(key, value):
    with pytest.raises(ValueError) as err:
        build_single(prepared(**{key: value}))
    message = err.value.args[0]
    assert message.startswith(PREFIX) and key in message


@pytest.mark.parametrize("text", ["", "{", "[]", "null", "5", json.dumps(prepared()) + " {}",
                                  json.dumps([prepared()])])
def test_not_one_prepared_fact(text):
    with pytest.raises(ValueError) as err:
        build_single(text)
    assert err.value.args[0].startswith(PREFIX) and len(err.value.args[0]) > len(PREFIX)


# ---- arrays ------------------------------------------------------------------------------


@pytest.mark.parametrize("count", [2, 3, 17, 30])
def test_batch_from_prepared(count):
    facts = [prepared(i) for i in range(count)]
    out = kc.build_batch_calldata_from_prepared(json.dumps(facts))
    assert out == batch([bytes(f["protobuf_bytes"]) for f in facts])


def test_batch_of_one_prepared_fact_is_execute():
    assert kc.build_batch_calldata_from_prepared(json.dumps([prepared(3)])) == single(bytes(prepared(3)["protobuf_bytes"]))


@pytest.mark.parametrize("count,message", [
    (0, "invalid input: Batch must contain at least 1 payload"),
    (31, "invalid input: Batch size 31 exceeds maximum of 30"),
])
def test_batch_counts(count, message):
    with pytest.raises(ValueError) as err:
        kc.build_batch_calldata_from_prepared(json.dumps([prepared(i) for i in range(count)]))
    assert err.value.args == (message,)


ARRAY_PREFIX = "Invalid PreparedFact array JSON: "


def test_array_element_fault_names_the_member():
    facts = [prepared(i) for i in range(3)]
    del facts[1]["owner"]
    with pytest.raises(ValueError) as err:
        kc.build_batch_calldata_from_prepared(json.dumps(facts))
    message = err.value.args[0]
    assert message.startswith(ARRAY_PREFIX) and message.endswith("missing field `owner`") and "1" in message


def test_array_json_faults_come_before_the_count_check():
    facts = [prepared(i) for i in range(31)]
    facts[30]["decay_score"] = None
    with pytest.raises(ValueError) as err:
        kc.build_batch_calldata_from_prepared(json.dumps(facts))
    assert err.value.args[0].startswith(ARRAY_PREFIX) and "decay_score" in err.value.args[0]


@pytest.mark.parametrize("text", ["", "[", "{}", json.dumps(prepared()), "[1]", "[null]", "[[]]",
                                  json.dumps([prepared()]) + "]"])
def test_not_an_array_of_prepared_facts(text):
    with pytest.raises(ValueError) as err:
        kc.build_batch_calldata_from_prepared(text)
    assert err.value.args[0].startswith(ARRAY_PREFIX) and len(err.value.args[0]) > len(ARRAY_PREFIX)


def test_protobuf_of_a_lenient_fact_round_trips_into_calldata():
    message = kc.encode_fact_protobuf(json.dumps({"id": "x", "blind_indices": ["a"], "encrypted_embedding": "e"}))
    fact = prepared(protobuf_bytes=list(message))
    assert kc.build_batch_calldata_from_prepared(json.dumps([fact, fact])) == batch([message, message])


def test_argument_types():
    with pytest.raises(TypeError):
        kc.build_single_calldata_from_prepared(json.dumps(prepared()).encode())
    with pytest.raises(TypeError):
        kc.build_batch_calldata_from_prepared([json.dumps(prepared())])
