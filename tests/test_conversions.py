"""The frame's argument conversions, exercised through real functions: each
annotation accepts what it promises and refuses the rest with the stated
exception class, naming the parameter."""
import array
import json
import math
from fractions import Fraction

import numpy as np
import pytest

import kelvane_core as kc

KEY = bytes(32)


class Indexable:
    def __index__(self):
        return 7


class Floatable:
    def __float__(self):
        return 0.5


# ---- int (signed 64-bit) ------------------------------------------------------------

@pytest.mark.parametrize("value", [0, -1, 7, True, np.int64(5), Indexable(), 2**63 - 1, -(2**63)])
def test_int_accepts_index_objects(value):
    assert isinstance(kc.format_memory_date(value), str)


@pytest.mark.parametrize("value", [1.0, "1", None, b"1", [1], Fraction(1, 1)])
def test_int_refuses_non_integers(value):
    with pytest.raises(TypeError, match="created_at_unix"):
        kc.format_memory_date(value)


@pytest.mark.parametrize("value", [2**63, -(2**63) - 1, 10**30])
def test_int_beyond_64_bits_overflows(value):
    with pytest.raises(OverflowError):
        kc.format_memory_date(value)


# ---- int >= 0 (64 and 32 bits) --------------------------------------------------------

def test_unsigned_64_accepts_its_range():
    assert kc.rerank("q", [], "[]", 2**64 - 1) == "[]"
    assert kc.rerank("q", [], "[]", True) == "[]"
    assert kc.rerank("q", [], "[]", np.uint64(3)) == "[]"


@pytest.mark.parametrize("value", [-1, 2**64, -(2**70)])
def test_unsigned_64_out_of_range(value):
    with pytest.raises(OverflowError, match="top_k"):
        kc.rerank("q", [], "[]", value)


@pytest.mark.parametrize("value", [1.5, "3", None])
def test_unsigned_refuses_non_integers(value):
    with pytest.raises(TypeError, match="top_k"):
        kc.rerank("q", [], "[]", value)


def test_unsigned_32_range():
    assert kc.encode_tombstone_protobuf("f", "o", 2**32 - 1)[-6:] == bytes([0x40, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F])
    for bad in (2**32, -1):
        with pytest.raises(OverflowError, match="version"):
            kc.encode_tombstone_protobuf("f", "o", bad)


# ---- optional with default None -------------------------------------------------------

def test_optional_none_or_omitted_is_the_default():
    omitted = kc.encode_tombstone_protobuf("f", "o")
    assert omitted[-2:] == bytes([0x40, 3])
    assert kc.encode_tombstone_protobuf("f", "o", None)[-2:] == bytes([0x40, 3])
    assert kc.encode_tombstone_protobuf("f", "o", version=4)[-2:] == bytes([0x40, 4])
    assert kc.encode_single_call(b"x") == kc.encode_single_call(b"x", None)
    with pytest.raises(TypeError, match="version"):
        kc.encode_tombstone_protobuf("f", "o", "3")


# ---- float ------------------------------------------------------------------------------------

@pytest.mark.parametrize("value", [60, 60.0, True, np.float32(60), Floatable(), Fraction(1, 2), Indexable()])
def test_float_accepts_numbers(value):
    sets = json.dumps([[{"id": "a", "encryptedBlob": "00"}], [{"id": "a", "encryptedBlob": "00"}]])
    assert json.loads(kc.merge_expansion_results(sets, value))[0]["id"] == "a"


@pytest.mark.parametrize("value", ["60", None, b"1", [60.0]])
def test_float_refuses_other_types(value):
    with pytest.raises(TypeError, match="rrf_k"):
        kc.merge_expansion_results("[]", value)


def test_float_too_large_int_overflows():
    with pytest.raises(OverflowError):
        kc.merge_expansion_results("[]", 10**400)


# ---- bool ------------------------------------------------------------------------------------

@pytest.mark.parametrize("value", [0, 1, None, "true", np.bool_(True)])
def test_bool_accepts_only_bool(value):
    with pytest.raises(TypeError, match="apply_source_weights"):
        kc.rerank_with_config("q", [], "[]", 1, value)
    assert kc.rerank_with_config("q", [], "[]", 1, True) == "[]"


# ---- bytes ---------------------------------------------------------------------------------------

@pytest.mark.parametrize("value", [bytearray(32), memoryview(bytes(32)), "x" * 32, [0] * 32, None])
def test_bytes_only(value):
    with pytest.raises(TypeError, match="encryption_key"):
        kc.encrypt("x", value)


# ---- str ---------------------------------------------------------------------------------------

@pytest.mark.parametrize("value", [b"x", 1, None, ["x"]])
def test_str_only(value):
    with pytest.raises(TypeError, match="text"):
        kc.normalize_text(value)


def test_str_subclass_and_non_ascii():
    class S(str):
        pass

    assert kc.normalize_text(S("  Ünïcode  ")) == "ünïcode"
    assert kc.normalize_text("a\x00b") == "a\x00b"  # embedded NUL survives


# ---- list[float] (single): narrowed to 32 bits on entry ----------------------------------------

def f32(x):
    return float(np.float32(x))


@pytest.mark.parametrize("seq", [[0.1, 0.2, 0.3], (0.1, 0.2, 0.3), array.array("d", [0.1, 0.2, 0.3]),
                                 np.array([0.1, 0.2, 0.3]), [Fraction(1, 10), 0.2, 0.3]])
def test_single_lists_accept_sequences_and_narrow(seq):
    payload = kc.encode_embedding_canonical(seq)
    assert kc.decode_embedding_universal(payload) == [f32(0.1), f32(0.2), f32(0.3)]


def test_single_narrowing_beyond_the_float_range():
    # Values past the largest float round to infinity as IEEE narrowing does,
    # so the codec reports a non-finite component.
    with pytest.raises(ValueError, match="non-finite"):
        kc.encode_embedding_canonical([1e39])
    assert kc.decode_embedding_universal(kc.encode_embedding_canonical([3.4028235e38])) == [f32(3.4028235e38)]


@pytest.mark.parametrize("seq", ["0.1", {0.1: 1}, {0.1}, (x for x in [0.1]), 1.0, None])
def test_single_lists_refuse_non_sequences(seq):
    with pytest.raises(TypeError, match="embedding"):
        kc.encode_embedding_canonical(seq)


@pytest.mark.parametrize("seq", [[0.1, "x"], [None], [b"1"], [[0.1]]])
def test_single_lists_refuse_bad_items_naming_the_parameter(seq):
    with pytest.raises(TypeError, match=r"embedding\["):
        kc.encode_embedding_canonical(seq)


def test_list_mutated_by_item_conversion_is_safe():
    values = [0.5] * 4

    class Shrinker:
        def __float__(self):
            values.clear()
            return 0.25

    values[1] = Shrinker()
    # The list shrinks while it is read; the conversion stops at the new end.
    result = kc.decode_embedding_universal(kc.encode_embedding_canonical(values))
    assert result == [0.5, 0.25]


# ---- list[bytes] ---------------------------------------------------------------------------------

def test_bytes_lists():
    expected = kc.encode_batch_call([b"ab", b"cd"])
    assert kc.encode_batch_call((b"ab", b"cd")) == expected
    assert kc.encode_batch_call([bytearray(b"ab"), [0x63, 0x64]]) == expected
    with pytest.raises(TypeError, match="payloads"):
        kc.encode_batch_call("abcd")
    with pytest.raises(TypeError, match=r"payloads\[1\]"):
        kc.encode_batch_call([b"ab", "cd"])
    with pytest.raises(OverflowError, match=r"payloads\[0\]\[1\]"):
        kc.encode_batch_call([[1, 256]])
