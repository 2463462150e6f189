"""The embedding codec against struct's binary16/binary32 packing, base64 and
numpy's shortest float32 formatting."""
import base64
import math
import random
import struct
from fractions import Fraction

import numpy as np
import pytest

import kelvane_core as kc

NON_FINITE = " — non-finite components are not encodable (they would permanently poison cosine similarity on-chain)"
F16_RANGE = " exceeds the f16 range (|x| <= 65504); refusing to silently saturate to ±inf"
AMBIGUOUS = (
    "invalid input: embedding has 320 components — its f32 payload would be exactly 1280 bytes, "
    "which decoders read back as 640 f16 values; refusing to write a payload that cannot round-trip"
)


def f32(x: float) -> float:
    return struct.unpack("<f", struct.pack("<f", x))[0]


def bits(x: float) -> bytes:
    return struct.pack("<d", x)


def shortest_f32(x: float) -> str:
    """Shortest decimal that reads back to the same float32, without exponent."""
    return np.format_float_positional(np.float32(x), unique=True, trim="-")


def half_payload(values) -> str:
    return base64.b64encode(struct.pack(f"<{len(values)}e", *values)).decode()


def single_payload(values) -> str:
    return base64.b64encode(struct.pack(f"<{len(values)}f", *values)).decode()


def random_vector(n, seed, scale=1.0):
    rng = random.Random(seed)
    return [f32(rng.gauss(0.0, scale)) for _ in range(n)]


# Values around the binary16 rounding boundaries: ties (which go to even),
# subnormals, signed zeros and the largest finite value.
HALF_EDGES = [
    0.0, -0.0, 1.0, -1.0, 65504.0, -65504.0, 65503.9, 1 + 2**-11, 1 + 3 * 2**-11, 1 + 2**-11 + 2**-23,
    2**-14, 2**-24, 2**-25, 3 * 2**-25, 2**-25 + 2**-40, -(2**-24), 2**-26, 1e-8, 6.1e-5, 0.1, 1 / 3, 2**-149,
]


@pytest.mark.parametrize("values", [
    HALF_EDGES + random_vector(640 - len(HALF_EDGES), 1),
    random_vector(640, 2, scale=100.0),
    random_vector(640, 3, scale=1e-5),
    [0.0] * 640,
])
def test_640_components_are_half_precision(values):
    payload = kc.encode_embedding_canonical(values)
    assert len(payload) == 1708
    assert payload == half_payload(values)
    decoded = kc.decode_embedding_universal(payload)
    expected = list(struct.unpack("<640e", struct.pack("<640e", *values)))
    assert [bits(v) for v in decoded] == [bits(v) for v in expected]


@pytest.mark.parametrize("n", [1, 2, 3, 319, 321, 639, 641, 1024])
def test_other_lengths_are_single_precision(n):
    values = random_vector(n, n, scale=1e3)
    values[0] = -0.0
    payload = kc.encode_embedding_canonical(values)
    assert payload == single_payload(values)
    assert len(base64.b64decode(payload)) == 4 * n
    decoded = kc.decode_embedding_universal(payload)
    assert [bits(v) for v in decoded] == [bits(v) for v in values]


def test_values_are_narrowed_to_single_precision_on_entry():
    values = [0.1, 1 / 3, 1e-40, 123456.789]
    assert kc.encode_embedding_canonical(values) == single_payload([f32(v) for v in values])


def test_every_half_precision_code_decodes_exactly():
    codes = list(range(0x10000))
    for start in range(0, len(codes), 640):
        chunk = codes[start:start + 640]
        chunk += [0] * (640 - len(chunk))
        raw = struct.pack("<640H", *chunk)
        decoded = kc.decode_embedding_universal(base64.b64encode(raw).decode())
        expected = struct.unpack("<640e", raw)
        for code, got, want in zip(chunk, decoded, expected):
            if math.isnan(want):
                assert math.isnan(got), hex(code)
            else:
                assert bits(got) == bits(want), hex(code)


def test_empty_embedding_and_blank_payloads():
    assert kc.encode_embedding_canonical([]) == ""
    for blank in ["", " ", "\n\t \u3000", "\u00a0"]:
        assert kc.decode_embedding_universal(blank) == []


@pytest.mark.parametrize("n, index, value", [
    (640, 0, 65504.5), (640, 639, 70000.0), (640, 5, -70000.0), (640, 1, 1e30), (640, 2, -3.4028234663852886e38),
    (640, 3, 65504.00390625), (640, 4, 123456.789),
])
def test_half_range_is_refused_with_the_value(n, index, value):
    values = [0.5] * n
    values[index] = value
    with pytest.raises(ValueError) as err:
        kc.encode_embedding_canonical(values)
    assert err.value.args == (f"invalid input: embedding[{index}] = {shortest_f32(value)}{F16_RANGE}",)
    # One more component and the same value is written as single precision.
    assert kc.encode_embedding_canonical(values + [0.0]) == single_payload(values + [0.0])


@pytest.mark.parametrize("value, shown", [(65504.5, "65504.5"), (70000.0, "70000"), (1e30, "1000000000000000000000000000000")])
def test_message_values_are_plain_shortest_decimals(value, shown):
    assert shortest_f32(value) == shown  # the oracle agrees with the stated form
    values = [0.0] * 640
    values[7] = value
    with pytest.raises(ValueError, match=r"^invalid input: embedding\[7\] = " + shown + " exceeds"):
        kc.encode_embedding_canonical(values)


@pytest.mark.parametrize("n", [1, 3, 320, 640, 641])
@pytest.mark.parametrize("value, shown", [(math.nan, "NaN"), (-math.nan, "NaN"), (math.inf, "inf"),
                                          (-math.inf, "-inf"), (1e39, "inf"), (-1e39, "-inf")])
def test_non_finite_components_are_refused(n, value, shown):
    values = [0.25] * n
    index = n - 1
    values[index] = value
    with pytest.raises(ValueError) as err:
        kc.encode_embedding_canonical(values)
    assert err.value.args == (f"invalid input: embedding[{index}] is {shown}{NON_FINITE}",)


@pytest.mark.parametrize("first, second, message", [
    ((2, math.nan), (3, 70000.0), "invalid input: embedding[2] is NaN" + NON_FINITE),
    ((2, 70000.0), (3, math.inf), "invalid input: embedding[2] = 70000" + F16_RANGE),
])
def test_first_failing_component_is_reported(first, second, message):
    values = [0.0] * 640
    values[first[0]], values[second[0]] = first[1], second[1]
    with pytest.raises(ValueError) as err:
        kc.encode_embedding_canonical(values)
    assert err.value.args == (message,)


@pytest.mark.parametrize("values", [[0.0] * 320, random_vector(320, 9), [70000.0] * 320])
def test_320_components_are_refused(values):
    with pytest.raises(ValueError) as err:
        kc.encode_embedding_canonical(values)
    assert err.value.args == (AMBIGUOUS,)


def test_1280_byte_buffers_still_read_as_half_precision():
    # What another writer may have stored for 320 single-precision values.
    raw = struct.pack("<320f", *random_vector(320, 4))
    decoded = kc.decode_embedding_universal(base64.b64encode(raw).decode())
    assert len(decoded) == 640
    for got, want in zip(decoded, struct.unpack("<640e", raw)):
        assert (math.isnan(got) and math.isnan(want)) or bits(got) == bits(want)


def nearest_f32(text: str) -> float:
    """Correctly rounded decimal -> binary32 (ties to even), from exact fractions;
    overflow gives an infinity and the sign of a zero result is kept."""
    exact = Fraction(text)
    sign = -1.0 if text.startswith("-") else 1.0
    # Halfway between the largest float and 2**128: from here on, infinity.
    if abs(exact) >= 2**128 - 2**103:
        return math.copysign(math.inf, sign)
    if exact == 0:
        return math.copysign(0.0, sign)
    with np.errstate(over="ignore"):
        guess = np.float32(float(exact))
    candidates = {guess, np.nextafter(guess, np.float32(np.inf)), np.nextafter(guess, np.float32(-np.inf))}
    finite = [c for c in candidates if np.isfinite(c)]
    best = min(finite, key=lambda c: (abs(Fraction(float(c)) - exact),
                                      struct.unpack("<I", struct.pack("<f", float(c)))[0] & 1))
    return math.copysign(float(best), sign)


@pytest.mark.parametrize("text, expected", [
    (" [1, 2.5, -3] ", [1.0, 2.5, -3.0]),
    ("[0.1,-0.2,0.3]", [f32(0.1), f32(-0.2), f32(0.3)]),
    ("[]", []),
    ("[ ]", []),
    ("\u3000[1]\n", [1.0]),
    ("[1E2, 0.5e-1, 4e+0]", [100.0, f32(0.05), 4.0]),
    ("[-0, -0.0, 0]", [-0.0, -0.0, 0.0]),
    ("[16777217, 18446744073709551615, -9223372036854775808]", [16777216.0, 2.0**64, -(2.0**63)]),
    ("[1e39, -1e39, 1e-50]", [math.inf, -math.inf, 0.0]),
    ("[1e-45, 3e-39]", [nearest_f32("1e-45"), nearest_f32("3e-39")]),
    # Just above the midpoint of 1 and the next float: reading through a
    # double would land on the tie and round down.
    ("[1.00000005960464477539062500000001]", [nearest_f32("1.00000005960464477539062500000001")]),
    ("[1.000000059604644775390625]", [1.0]),
    ("[1.000000178813934326171875]", [f32(1.000000238418579)]),
    # Integers beyond 64 bits are still JSON numbers.
    ("[100000000000000000000, -18446744073709551616]", [nearest_f32("1e20"), -(2.0**64)]),
    ("[123456789012345678901234567890123456789]", [nearest_f32("123456789012345678901234567890123456789")]),
    ("[1000000000000000000000000000000000000000000, -1e400, 1e-400, -1e-400]", [math.inf, -math.inf, 0.0, -0.0]),
    ("[0e999999999999999999, 0.000000000000000000000000000000000000000000000000001e60]", [0.0, 1e9]),
])
def test_legacy_json_arrays(text, expected):
    decoded = kc.decode_embedding_universal(text)
    assert [bits(v) for v in decoded] == [bits(v) for v in expected]


def random_json_number(rng) -> str:
    sign = rng.choice(["", "-"])
    whole = rng.choice(["0", str(rng.randrange(1, 10)) + "".join(rng.choice("0123456789") for _ in range(rng.randrange(0, 30)))])
    frac = rng.choice(["", "." + "".join(rng.choice("0123456789") for _ in range(rng.randrange(1, 30)))])
    exp = rng.choice(["", f"{rng.choice('eE')}{rng.choice(['', '+', '-'])}{rng.randrange(0, 36)}"])
    return sign + whole + frac + exp


@pytest.mark.parametrize("seed", range(3))
def test_legacy_json_numbers_round_to_nearest(seed):
    rng = random.Random(seed)
    tokens = [random_json_number(rng) for _ in range(300)]
    separators = [",", ", ", " ,\n", "\t,\r"]
    text = "[" + "".join(t + rng.choice(separators) for t in tokens[:-1]) + tokens[-1] + "]"
    decoded = kc.decode_embedding_universal(text)
    assert [bits(v) for v in decoded] == [bits(nearest_f32(t)) for t in tokens]


def test_correct_rounding_case_is_not_the_double_rounded_value():
    assert nearest_f32("1.00000005960464477539062500000001") == 1 + 2**-23
    assert f32(float("1.00000005960464477539062500000001")) == 1.0


@pytest.mark.parametrize("text", [
    "[1, 2", "[1,]", "[1] [2]", "[1] x", "[01]", "[\"1\"]", "[[1]]", "[null]", "[true]", "[{}]", "[NaN]",
    "[Infinity]", "[.5]", "[+1]", "[", "[-]", "[1.]", "[1e]", "[1e+]", "[-01]", "[1 2]", "[,1]", "[1,,2]", "[1]]",
    "[1,\x0b2]", "[0x10]", "[1.5e3.2]", "[-Infinity]", "[1]\x00", "[\u00a01]",
])
def test_malformed_legacy_json(text):
    with pytest.raises(ValueError) as err:
        kc.decode_embedding_universal(text)
    message = err.value.args[0]
    assert message.startswith("invalid JSON embedding array: ")
    assert len(message) > len("invalid JSON embedding array: ")


@pytest.mark.parametrize("payload, reason", [
    ("AACAPwAAAEA", "Invalid padding"),  # unpadded
    ("AACA PwAAAEA=", "Invalid symbol 32, offset 4."),
    ("AACAPwAAAE-=", "Invalid symbol 45, offset 10."),
    ("A", "Invalid input length: 1"),
    ("AACAPwAAAEB=", "Invalid last symbol 66, offset 10."),
])
def test_malformed_base64(payload, reason):
    with pytest.raises(ValueError) as err:
        kc.decode_embedding_universal(payload)
    assert err.value.args == (f"base64 decode failed: {reason}",)


@pytest.mark.parametrize("length", [1, 2, 3, 6, 1278, 1279, 1281, 1282])
def test_decoded_length_must_be_1280_or_a_multiple_of_4(length):
    payload = base64.b64encode(bytes(length)).decode()
    with pytest.raises(ValueError) as err:
        kc.decode_embedding_universal(payload)
    assert err.value.args == (
        f"invalid input: decoded embedding buffer has length {length} (expected 1280 for f16, or a multiple of 4 for f32)",)


def test_payload_surrounded_by_white_space_decodes():
    values = [1.5, -2.25]
    assert kc.decode_embedding_universal("\n " + single_payload(values) + "\u3000") == values


@pytest.mark.parametrize("call", [
    lambda: kc.encode_embedding_canonical("1,2"),
    lambda: kc.encode_embedding_canonical(["a"]),
    lambda: kc.encode_embedding_canonical(None),
    lambda: kc.decode_embedding_universal(b"AAAA"),
    lambda: kc.decode_embedding_universal([1.0]),
])
def test_wrong_argument_types(call):
    with pytest.raises(TypeError):
        call()
