"""SimpleAccount execute / executeBatch call data, against eth-abi with
selectors from an independent Keccak-256."""
import pytest
from Cryptodome.Hash import keccak
from eth_abi import encode as abi_encode

import kelvane_core as kc

# The built-in DataEdge deployment address (a documented module constant).
DEFAULT_ADDRESS = "0x7d1e3b0c5a2f94e6b8c04d17a3e9f25b6c80d4a1"
OTHER_ADDRESS = "0x" + "0123456789abcdef0123456789abcdef01234567"


def selector(signature: str) -> bytes:
    return keccak.new(digest_bits=256, data=signature.encode()).digest()[:4]


EXECUTE = selector("execute(address,uint256,bytes)")
EXECUTE_BATCH = selector("executeBatch(address[],uint256[],bytes[])")


def expected_single(payload: bytes, address: str = DEFAULT_ADDRESS) -> bytes:
    return EXECUTE + abi_encode(["address", "uint256", "bytes"], [address, 0, payload])


def expected_batch(payloads, address: str = DEFAULT_ADDRESS) -> bytes:
    n = len(payloads)
    return EXECUTE_BATCH + abi_encode(["address[]", "uint256[]", "bytes[]"], [[address] * n, [0] * n, list(payloads)])


def payload(i: int, length: int) -> bytes:
    return bytes((i * 31 + k * 7 + 1) & 0xFF for k in range(length))


def test_selectors_are_the_known_values():
    assert EXECUTE.hex() == "b61d27f6"
    assert EXECUTE_BATCH.hex() == "47e1da2a"
    assert kc.encode_single_call(b"")[:4] == EXECUTE
    assert kc.encode_batch_call([b"a", b"b"])[:4] == EXECUTE_BATCH


@pytest.mark.parametrize("length", [0, 1, 31, 32, 33, 63, 64, 65, 200, 4096])
@pytest.mark.parametrize("address", [None, OTHER_ADDRESS])
def test_single_call_matches_eth_abi(length, address):
    data = payload(1, length)
    out = kc.encode_single_call(data, address)
    assert out == expected_single(data, address or DEFAULT_ADDRESS)
    assert len(out) == 4 + 128 + -(-length // 32) * 32


def test_single_call_layout_edges():
    empty = kc.encode_single_call(b"")
    assert len(empty) == 4 + 128 and empty[-32:] == bytes(32)
    assert empty[4 : 4 + 32] == bytes(12) + bytes.fromhex(DEFAULT_ADDRESS[2:])
    out = kc.encode_single_call(b"\xff" * 33)
    assert len(out) == 4 + 128 + 64
    area = out[4 + 128 :]
    assert area[:33] == b"\xff" * 33 and area[33:64] == bytes(31)


def test_default_address_by_omission_none_and_keyword():
    data = b"\x0a\x01x"
    assert kc.encode_single_call(data) == kc.encode_single_call(data, None) == expected_single(data)
    assert kc.encode_single_call(protobuf_payload=data, data_edge_address=DEFAULT_ADDRESS) == expected_single(data)
    assert kc.encode_batch_call([data, data]) == kc.encode_batch_call([data, data], None) == expected_batch([data, data])


BATCH_SHAPES = [
    ("two empty", [0, 0]),
    ("two mixed", [3, 40]),
    ("word boundaries", [31, 32, 33, 64, 0]),
    ("thirty", [i * 7 for i in range(30)]),
    ("thirty large", [300 + i for i in range(30)]),
]


@pytest.mark.parametrize("lengths", [s[1] for s in BATCH_SHAPES], ids=[s[0] for s in BATCH_SHAPES])
@pytest.mark.parametrize("address", [None, OTHER_ADDRESS])
def test_batch_call_matches_eth_abi(lengths, address):
    payloads = [payload(i, n) for i, n in enumerate(lengths)]
    out = kc.encode_batch_call(payloads, address)
    assert out == expected_batch(payloads, address or DEFAULT_ADDRESS)


def test_batch_heads_follow_the_layout():
    n, payloads = 3, [b"a" * 40, b"", b"b"]
    body = kc.encode_batch_call(payloads)[4:]
    word = lambda i: int.from_bytes(body[32 * i : 32 * i + 32], "big")  # noqa: E731
    assert [word(0), word(1), word(2)] == [0x60, 0x80 + 32 * n, 0xA0 + 64 * n]
    calls = (0xA0 + 64 * n) // 32
    assert word(calls) == n
    assert [word(calls + 1 + i) for i in range(n)] == [32 * n, 32 * n + 32 + 64, 32 * n + 32 + 64 + 32]


def test_batch_of_one_is_execute():
    data = payload(0, 50)
    assert kc.encode_batch_call([data]) == kc.encode_single_call(data) == expected_single(data)
    assert kc.encode_batch_call([data], OTHER_ADDRESS) == expected_single(data, OTHER_ADDRESS)


def test_batch_accepts_byte_sequences():
    items = (bytearray(b"ab"), b"cd", [1, 2, 3])
    assert kc.encode_batch_call(items) == expected_batch([b"ab", b"cd", b"\x01\x02\x03"])


@pytest.mark.parametrize("bad", ["ab", b"ab", ["ab", "cd"], 5, None])
def test_batch_refuses_non_sequences_of_bytes(bad):
    with pytest.raises(TypeError):
        kc.encode_batch_call(bad)


@pytest.mark.parametrize("bad", ["ab", bytearray(b"ab"), None])
def test_single_refuses_non_bytes(bad):
    with pytest.raises(TypeError):
        kc.encode_single_call(bad)


EMPTY_BATCH = "invalid input: Batch must contain at least 1 payload"


@pytest.mark.parametrize(
    "count,address,message",
    [
        (0, None, EMPTY_BATCH),
        (0, "nonsense", EMPTY_BATCH),
        (31, None, "invalid input: Batch size 31 exceeds maximum of 30"),
        (31, "nonsense", "invalid input: Batch size 31 exceeds maximum of 30"),
        (100, None, "invalid input: Batch size 100 exceeds maximum of 30"),
        (1, "nonsense", "invalid input: invalid DataEdge address: nonsense"),
        (2, "nonsense", "invalid input: invalid DataEdge address: nonsense"),
        (30, "0X" + "a" * 40, "invalid input: invalid DataEdge address: 0X" + "a" * 40),
    ],
)
def test_batch_errors_in_order(count, address, message):
    with pytest.raises(ValueError) as err:
        kc.encode_batch_call([b"p"] * count, address)
    assert err.value.args == (message,)


ACCEPTED_ADDRESSES = [
    OTHER_ADDRESS[2:],
    OTHER_ADDRESS.upper().replace("0X", "0x"),
    OTHER_ADDRESS[2:].upper(),
    "0x0123456789ABCDEF0123456789abcdef01234567",
]


@pytest.mark.parametrize("address", ACCEPTED_ADDRESSES)
def test_address_forms_accepted(address):
    data = b"xyz"
    assert kc.encode_single_call(data, address) == expected_single(data, OTHER_ADDRESS)
    assert kc.encode_batch_call([data, data], address) == expected_batch([data, data], OTHER_ADDRESS)


REFUSED_ADDRESSES = [
    "",
    "0x",
    "0X" + "ab" * 20,
    "0x" + "a" * 39,
    "0x" + "a" * 41,
    "a" * 39,
    "a" * 42,
    "0x" + "g" + "a" * 39,
    " 0x" + "ab" * 20,
    "0x" + "ab" * 20 + " ",
    "0x0x" + "ab" * 19,
    "0x" + "ab" * 19 + "é",
    "0x" + "٠" * 40,  # Arabic-Indic digits are not hex digits
]


@pytest.mark.parametrize("address", REFUSED_ADDRESSES)
def test_address_forms_refused_with_the_text_echoed(address):
    for call in (lambda: kc.encode_single_call(b"x", address), lambda: kc.encode_batch_call([b"x", b"y"], address)):
        with pytest.raises(ValueError) as err:
            call()
        assert err.value.args == (f"invalid input: invalid DataEdge address: {address}",)
