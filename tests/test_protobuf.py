"""The fact message and the tombstone, against messages assembled by hand from
the field table and read back with a small protobuf wire reader."""
import datetime
import json
import re
import struct

import pytest

import kelvane_core as kc


# ---- an independent wire-format reader ----------------------------------------------


def read_varint(data: bytes, pos: int):
    value = shift = 0
    while True:
        b = data[pos]
        pos += 1
        value |= (b & 0x7F) << shift
        shift += 7
        if not b & 0x80:
            return value, pos


def read_fields(data: bytes):
    """[(field number, wire type, value)], value bytes / int / float."""
    fields, pos = [], 0
    while pos < len(data):
        key, pos = read_varint(data, pos)
        number, wire = key >> 3, key & 7
        if wire == 0:
            value, pos = read_varint(data, pos)
        elif wire == 1:
            (value,) = struct.unpack_from("<d", data, pos)
            pos += 8
        elif wire == 2:
            length, pos = read_varint(data, pos)
            value = data[pos : pos + length]
            assert len(value) == length
            pos += length
        else:
            raise AssertionError(f"unexpected wire type {wire}")
        fields.append((number, wire, value))
    return fields


# ---- hand assembly from the field table ------------------------------------------------


def varint(n: int) -> bytes:
    out = bytearray()
    while n >= 0x80:
        out.append(n & 0x7F | 0x80)
        n >>= 7
    out.append(n)
    return bytes(out)


def ld(tag: int, data: bytes) -> bytes:
    return bytes([tag]) + varint(len(data)) + data


def text(tag: int, s: str) -> bytes:
    return ld(tag, s.encode()) if s else b""


def decay(v: float) -> bytes:
    return b"\x31" + struct.pack("<d", v)


def fixed_tail(v: float = 0.8, version: int = 3) -> bytes:
    return decay(v) + b"\x38\x01" + b"\x40" + varint(version)


FULL = {
    "id": "0190a1b2-c3d4-7e5f-8a9b-0c1d2e3f4a5b",
    "timestamp": "2025-01-02T03:04:05.678Z",
    "owner": "0x" + "ab" * 20,
    "encrypted_blob_hex": "00ff10Ab",
    "blind_indices": ["a" * 64, "b" * 64],
    "decay_score": 0.7,
    "source": "conversation",
    "content_fp": "f" * 64,
    "agent_id": "agent-1",
    "encrypted_embedding": "ZW1iZWRkaW5n",
}
FULL_BYTES = (
    text(0x0A, FULL["id"])
    + text(0x12, FULL["timestamp"])
    + text(0x1A, FULL["owner"])
    + ld(0x22, bytes([0x00, 0xFF, 0x10, 0xAB]))
    + text(0x2A, "a" * 64)
    + text(0x2A, "b" * 64)
    + fixed_tail(0.7)
    + text(0x52, "f" * 64)
    + text(0x6A, "ZW1iZWRkaW5n")
)

LONG = "é" * 100  # 200 UTF-8 bytes: a two-byte length varint

# (case, JSON object, expected message)
FACT_CASES = [
    ("empty object", {}, b"\x22\x00" + fixed_tail()),
    ("all texts empty", {k: "" for k in ("id", "timestamp", "owner", "encrypted_blob_hex", "content_fp")},
     b"\x22\x00" + fixed_tail()),
    ("full payload", FULL, FULL_BYTES),
    ("blob with 0x prefix dropped", {"encrypted_blob_hex": "0xabcd"}, fixed_tail()),
    ("blob of odd length dropped", {"encrypted_blob_hex": "abc"}, fixed_tail()),
    ("blob with non-hex dropped", {"encrypted_blob_hex": "abzz"}, fixed_tail()),
    ("blob with inner space dropped", {"encrypted_blob_hex": "ab cd"}, fixed_tail()),
    ("blob upper case", {"encrypted_blob_hex": "ABCD"}, b"\x22\x02\xab\xcd" + fixed_tail()),
    ("blob lower case", {"encrypted_blob_hex": "abcd"}, b"\x22\x02\xab\xcd" + fixed_tail()),
    ("blob not a string", {"encrypted_blob_hex": 12}, b"\x22\x00" + fixed_tail()),
    ("blind indices mixed", {"blind_indices": ["a", "", 5, "b", None, ["c"]]},
     b"\x22\x00" + text(0x2A, "a") + text(0x2A, "b") + fixed_tail()),
    ("blind indices not an array", {"blind_indices": "abc"}, b"\x22\x00" + fixed_tail()),
    ("decay score as string", {"decay_score": "0.5"}, b"\x22\x00" + fixed_tail(0.8)),
    ("decay score integer", {"decay_score": 1}, b"\x22\x00" + fixed_tail(1.0)),
    ("decay score negative zero", {"decay_score": -0.0}, b"\x22\x00" + fixed_tail(-0.0)),
    ("decay score large integer", {"decay_score": 18446744073709551615},
     b"\x22\x00" + fixed_tail(18446744073709551615.0)),
    ("decay score null", {"decay_score": None}, b"\x22\x00" + fixed_tail(0.8)),
    ("version 0", {"version": 0}, b"\x22\x00" + fixed_tail(version=3)),
    ("version 4", {"version": 4}, b"\x22\x00" + fixed_tail(version=4)),
    ("version 300", {"version": 300}, b"\x22\x00" + decay(0.8) + b"\x38\x01\x40\xac\x02"),
    ("version negative", {"version": -1}, b"\x22\x00" + fixed_tail(version=3)),
    ("version fractional", {"version": 4.0}, b"\x22\x00" + fixed_tail(version=3)),
    ("version as string", {"version": "4"}, b"\x22\x00" + fixed_tail(version=3)),
    ("version low 32 bits", {"version": 2**32 + 5}, b"\x22\x00" + fixed_tail(version=5)),
    ("version 2^32 is 0, the default", {"version": 2**32}, b"\x22\x00" + fixed_tail(version=3)),
    ("version u64 max", {"version": 2**64 - 1}, b"\x22\x00" + fixed_tail(version=2**32 - 1)),
    ("embedding empty", {"encrypted_embedding": ""}, b"\x22\x00" + fixed_tail()),
    ("embedding null", {"encrypted_embedding": None}, b"\x22\x00" + fixed_tail()),
    ("embedding number", {"encrypted_embedding": 3}, b"\x22\x00" + fixed_tail()),
    ("embedding present", {"encrypted_embedding": "e"}, b"\x22\x00" + fixed_tail() + b"\x6a\x01e"),
    ("wrong text types", {"id": 1, "timestamp": True, "owner": None, "content_fp": {}},
     b"\x22\x00" + fixed_tail()),
    ("long multibyte id", {"id": LONG}, b"\x0a\xc8\x01" + LONG.encode() + b"\x22\x00" + fixed_tail()),
    ("unknown keys ignored", {"extra": [1, 2], "is_active": False, "id": "x"},
     b"\x0a\x01x\x22\x00" + fixed_tail()),
    ("nul and escapes kept", {"id": "a\u0000\n\"b"}, ld(0x0A, b'a\x00\n"b') + b"\x22\x00" + fixed_tail()),
]


@pytest.mark.parametrize("obj,expected", [c[1:] for c in FACT_CASES], ids=[c[0] for c in FACT_CASES])
def test_fact_message_bytes(obj, expected):
    out = kc.encode_fact_protobuf(json.dumps(obj))
    assert out == expected
    # Cross-check the structure with the wire reader: fields in table order,
    # 6, 7 and 8 always there, 9, 11 and 12 never.
    numbers = [n for n, _, _ in read_fields(out)]
    assert numbers == sorted(numbers)
    assert {6, 7, 8} <= set(numbers) and not {9, 11, 12} & set(numbers)
    assert dict((n, v) for n, _, v in read_fields(out))[7] == 1


def test_full_payload_fields_read_back():
    fields = read_fields(kc.encode_fact_protobuf(json.dumps(FULL)))
    assert [(n, w) for n, w, _ in fields] == [
        (1, 2), (2, 2), (3, 2), (4, 2), (5, 2), (5, 2), (6, 1), (7, 0), (8, 0), (10, 2), (13, 2)]
    values = [v for _, _, v in fields]
    assert values[0].decode() == FULL["id"]
    assert values[3] == bytes.fromhex(FULL["encrypted_blob_hex"])
    assert values[6] == 0.7 and values[7] == 1 and values[8] == 3


@pytest.mark.parametrize("key,value", [("source", "other"), ("agent_id", "someone else"), ("source", 5)])
def test_source_and_agent_id_never_reach_the_wire(key, value):
    assert kc.encode_fact_protobuf(json.dumps(dict(FULL, **{key: value}))) == FULL_BYTES


def test_repeated_key_takes_the_last_occurrence():
    assert kc.encode_fact_protobuf('{"id":"a","id":"b"}') == b"\x0a\x01b\x22\x00" + fixed_tail()


@pytest.mark.parametrize("bad", ["[]", "5", '"x"', "null", "true", " [ {} ] "])
def test_non_object_json(bad):
    with pytest.raises(ValueError) as err:
        kc.encode_fact_protobuf(bad)
    assert err.value.args == ("expected JSON object",)


@pytest.mark.parametrize("bad", ["", "{", '{"id":}', "{} {}", "{'id': 'x'}", '{"id":"a",}', "nul"])
def test_syntax_errors_carry_the_reader_description(bad):
    with pytest.raises(ValueError) as err:
        kc.encode_fact_protobuf(bad)
    message = err.value.args[0]
    assert message and message != "expected JSON object"
    assert not message.startswith(("invalid input", "parse error"))


def test_fact_argument_types():
    with pytest.raises(TypeError):
        kc.encode_fact_protobuf(b"{}")
    assert kc.encode_fact_protobuf(json_str="{}") == b"\x22\x00" + fixed_tail()


# ---- tombstones ---------------------------------------------------------------------------

TIMESTAMP = re.compile(r"^(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)(?:\.(\d{3}|\d{6}|\d{9}))?\+00:00$")


def parse_timestamp(ts: str) -> datetime.datetime:
    m = TIMESTAMP.match(ts)
    assert m, ts
    fraction = m.group(7)
    if fraction is not None:
        # The fewest of 3, 6 or 9 digits: a shorter form would be exact.
        assert fraction[-3:] != "000"
    y, mo, d, h, mi, s = (int(g) for g in m.groups()[:6])
    micro = int((fraction or "0").ljust(9, "0")) // 1000
    return datetime.datetime(y, mo, d, h, mi, s, micro, tzinfo=datetime.timezone.utc)


def tombstone_expected(fact_id: str, owner: str, ts: str, version: int) -> bytes:
    return (text(0x0A, fact_id) + text(0x12, ts) + text(0x1A, owner)
            + b"\x22\x00" + b"\x31" + bytes(8) + b"\x38\x00" + b"\x40" + varint(version))


@pytest.mark.parametrize(
    "fact_id,owner,version,wire_version",
    [
        ("fact-1", "0x" + "cd" * 20, None, 3),
        ("fact-1", "0x" + "cd" * 20, 0, 3),
        ("fact-1", "owner", 3, 3),
        ("fact-1", "owner", 4, 4),
        ("fact-1", "owner", 300, 300),
        ("", "owner", None, 3),
        ("fact-1", "", None, 3),
        ("", "", 2**32 - 1, 2**32 - 1),
        (LONG, "ü", 1, 1),
    ],
)
def test_tombstone_bytes(fact_id, owner, version, wire_version):
    before = datetime.datetime.now(datetime.timezone.utc)
    out = kc.encode_tombstone_protobuf(fact_id, owner, version)
    after = datetime.datetime.now(datetime.timezone.utc)
    fields = read_fields(out)
    ts_values = [v for n, _, v in fields if n == 2]
    assert len(ts_values) == 1
    ts = ts_values[0].decode()
    stamp = parse_timestamp(ts)
    assert before - datetime.timedelta(seconds=1) <= stamp <= after + datetime.timedelta(seconds=1)
    assert out == tombstone_expected(fact_id, owner, ts, wire_version)
    expected_numbers = ([1] if fact_id else []) + [2] + ([3] if owner else []) + [4, 6, 7, 8]
    assert [n for n, _, _ in fields] == expected_numbers


def test_tombstone_defaults_and_empty_id():
    out = kc.encode_tombstone_protobuf("", "o")
    assert out[0] == 0x12
    assert out.endswith(b"\x38\x00\x40\x03")
    assert kc.encode_tombstone_protobuf(fact_id="f", owner="o", version=None).endswith(b"\x40\x03")


def test_two_tombstones_differ_only_in_the_timestamp():
    a = kc.encode_tombstone_protobuf("same", "owner", 4)
    b = kc.encode_tombstone_protobuf("same", "owner", 4)
    strip = lambda m: [(n, v) for n, _, v in read_fields(m) if n != 2]  # noqa: E731
    assert strip(a) == strip(b)


@pytest.mark.parametrize("version,error", [(-1, OverflowError), (2**32, OverflowError), (2**70, OverflowError),
                                           ("3", TypeError), (3.0, TypeError)])
def test_tombstone_version_range(version, error):
    with pytest.raises(error):
        kc.encode_tombstone_protobuf("f", "o", version)


def test_tombstone_argument_types():
    with pytest.raises(TypeError):
        kc.encode_tombstone_protobuf(b"f", "o")
    with pytest.raises(TypeError):
        kc.encode_tombstone_protobuf("f", None)
