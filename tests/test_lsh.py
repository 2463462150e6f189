"""LshHasher against a plain-Python reference of the whole rule: the HKDF
block stream (hmac), Box–Muller with math.log/math.cos, dot products added
one product at a time in component order, SHA-256 of the bucket identifier
(hashlib)."""
import copy
import hashlib
import inspect
import math
import pickle
import random
import struct

import numpy as np
import pytest

import kelvane_core as kc
from conftest import hkdf_sha256

SEED = bytes(range(32))
NAN = float("nan")
INF = float("inf")


# ---- the reference -----------------------------------------------------------


def labelled_stream(ikm: bytes, label: str, length: int) -> bytes:
    out = bytearray()
    block = 0
    while len(out) < length:
        take = min(8160, length - len(out))
        out += hkdf_sha256(ikm, b"", f"{label}_block_{block}".encode(), take)
        block += 1
    return bytes(out)


def reference_planes(seed: bytes, dims: int, n_tables: int, n_bits: int):
    """Per table the n_bits hyperplanes, each a list of dims floats."""
    tables = []
    for t in range(n_tables):
        stream = labelled_stream(seed, f"lsh_table_{t}", n_bits * dims * 8)
        words = struct.unpack(f"<{2 * n_bits * dims}I", stream)
        values = []
        for j in range(n_bits * dims):
            u1 = (words[2 * j] + 1.0) / 4294967297.0
            u2 = (words[2 * j + 1] + 1.0) / 4294967297.0
            values.append(math.sqrt(math.log(u1) * -2.0) * math.cos(u2 * 6.283185307179586))
        tables.append([values[k * dims:(k + 1) * dims] for k in range(n_bits)])
    return tables


def reference_dot(plane, embedding):
    dot = 0.0
    for h, x in zip(plane, embedding):
        dot += h * x
    return dot


def reference_bits(planes, embedding):
    # NaN >= 0.0 is False ("0"); -0.0 >= 0.0 is True ("1").
    return ["".join("1" if reference_dot(p, embedding) >= 0.0 else "0" for p in table) for table in planes]


def reference_hash(planes, embedding):
    return [hashlib.sha256(f"lsh_t{t}_{bits}".encode()).hexdigest()
            for t, bits in enumerate(reference_bits(planes, embedding))]


# ---- embeddings of every kind ------------------------------------------------------

SPECIALS = [NAN, INF, -INF, 0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308, 1e-310, 1e300, -1e300,
            1.7976931348623157e308, 1e-200, 3e150]


def embeddings(planes, dims, rng):
    out = {
        "gaussian": [rng.gauss(0.0, 1.0) for _ in range(dims)],
        "uniform": [rng.uniform(-1.0, 1.0) for _ in range(dims)],
        "integers": [rng.randint(-3, 3) for _ in range(dims)],
        "tiny": [rng.gauss(0.0, 1.0) * 1e-305 for _ in range(dims)],
        "huge": [rng.gauss(0.0, 1.0) * 1e305 for _ in range(dims)],
        "zeros": [0.0] * dims,
        "negative zeros": [-0.0] * dims,
    }
    for i in range(4):
        e = [rng.gauss(0.0, 1.0) for _ in range(dims)]
        for _ in range(max(1, dims // 7)):
            e[rng.randrange(dims)] = rng.choice(SPECIALS)
        out[f"specials {i}"] = e
    if dims >= 2:
        # Almost orthogonal to a hyperplane: that dot is a rounding residue
        # around zero, the case a shortcut on the sign would get wrong.
        for t, table in enumerate(planes[:4]):
            for k in range(min(len(table), 3)):
                h = table[k]
                e = [rng.gauss(0.0, 1.0) for _ in range(dims)]
                c = reference_dot(h, e) / reference_dot(h, h)
                out[f"orthogonal to {t}/{k}"] = [x - c * y for x, y in zip(e, h)]
        # (h1, -h0, 0, …): the dot with the first plane is exactly 0.0.
        h = planes[0][0]
        z = [0.0] * dims
        z[0], z[1] = h[1], -h[0]
        out["exact zero"] = z
    return out


SHAPES = [  # dims, n_tables, n_bits
    (1, 1, 1),
    (2, 3, 5),
    (7, 2, 40),
    (16, 4, 8),
    (9, 1, 65),
    (5, 2, 12),
    (4, 1, 36),
]


@pytest.fixture(scope="module")
def default_reference():
    return reference_planes(SEED, 640, 20, 32)


@pytest.fixture(scope="module")
def default_hasher():
    return kc.LshHasher(SEED, 640)


# ---- agreement with the reference ------------------------------------------------------


@pytest.mark.parametrize("dims,n_tables,n_bits", SHAPES)
def test_small_hashers_match_the_reference(dims, n_tables, n_bits):
    seed = hashlib.sha256(f"{dims}/{n_tables}/{n_bits}".encode()).digest()[:16 + dims % 16]
    planes = reference_planes(seed, dims, n_tables, n_bits)
    hasher = kc.LshHasher(seed, dims, n_tables, n_bits)
    rng = random.Random(dims * 1000 + n_bits)
    for name, e in embeddings(planes, dims, rng).items():
        assert hasher.hash(e) == reference_hash(planes, e), name


def test_default_hasher_matches_the_reference(default_hasher, default_reference):
    rng = random.Random(640)
    cases = embeddings(default_reference, 640, rng)
    for i in range(6):
        cases[f"gaussian {i}"] = [rng.gauss(0.0, 1.0) for _ in range(640)]
    for name, e in cases.items():
        got = default_hasher.hash(e)
        assert len(got) == 20 and all(len(h) == 64 and h == h.lower() for h in got)
        assert got == reference_hash(default_reference, e), name


def test_embeddings_at_full_double_precision(default_hasher, default_reference):
    # Values that single precision would change: the hasher must not narrow
    # them. Near-orthogonal embeddings make the last bits matter.
    rng = random.Random(7)
    h = default_reference[3][5]
    e = [rng.gauss(0.0, 1.0) + 1e-12 for _ in range(640)]
    c = reference_dot(h, e) / reference_dot(h, h)
    e = [x - c * y for x, y in zip(e, h)]
    assert any(struct.unpack("f", struct.pack("f", x))[0] != x for x in e)
    assert default_hasher.hash(e) == reference_hash(default_reference, e)


def test_all_ones_for_the_zero_vector(default_hasher):
    ones = [hashlib.sha256(f"lsh_t{t}_{'1' * 32}".encode()).hexdigest() for t in range(20)]
    assert default_hasher.hash([0.0] * 640) == ones
    assert default_hasher.hash([-0.0] * 640) == ones


def test_nan_gives_zero_bits(default_hasher):
    zeros = [hashlib.sha256(f"lsh_t{t}_{'0' * 32}".encode()).hexdigest() for t in range(20)]
    assert default_hasher.hash([NAN] + [1.0] * 639) == zeros


def test_scaling_and_negation(default_hasher, default_reference):
    rng = random.Random(11)
    e = [rng.gauss(0.0, 1.0) for _ in range(640)]
    base = default_hasher.hash(e)
    for scale in (2.0, 0.5, 1024.0, 2.0 ** -40):  # exact scalings keep every dot's sign
        assert default_hasher.hash([x * scale for x in e]) == base
    # Negation flips every bit whose dot is not exactly zero.
    flipped = ["".join("1" if b == "0" else "0" for b in bits) for bits in reference_bits(default_reference, e)]
    expected = [hashlib.sha256(f"lsh_t{t}_{bits}".encode()).hexdigest() for t, bits in enumerate(flipped)]
    assert default_hasher.hash([-x for x in e]) == expected


def test_one_by_one_hasher_sign_rule():
    seed = b"\x42" * 16
    (plane,), = reference_planes(seed, 1, 1, 1)
    hasher = kc.LshHasher(seed, 1, 1, 1)
    for x in (1.0, -1.0, 0.0, -0.0, 5e-324, -5e-324, INF, -INF, NAN):
        bit = "1" if plane[0] * x >= 0.0 else "0"
        assert hasher.hash([x]) == [hashlib.sha256(f"lsh_t0_{bit}".encode()).hexdigest()]


def test_same_seed_same_buckets_other_seed_unrelated(default_hasher):
    rng = random.Random(3)
    e = [rng.gauss(0.0, 1.0) for _ in range(640)]
    again = kc.LshHasher(bytes(range(32)), 640)
    assert again.hash(e) == default_hasher.hash(e)
    other = kc.LshHasher(bytes(range(31)) + b"\x00", 640)
    assert not set(other.hash(e)) & set(default_hasher.hash(e))


def test_sequences_other_than_lists(default_hasher):
    rng = random.Random(5)
    e = [rng.gauss(0.0, 1.0) for _ in range(640)]
    assert default_hasher.hash(tuple(e)) == default_hasher.hash(e)
    assert default_hasher.hash(embedding=e) == default_hasher.hash(e)
    ints = [rng.randint(-5, 5) for _ in range(640)]
    assert default_hasher.hash(ints) == default_hasher.hash([float(i) for i in ints])


# ---- the class ------------------------------------------------------------------------------


def test_registered_after_the_embedding_codec():
    names = [n for n in vars(kc) if not n.startswith("_")]
    if "decode_embedding_universal" in names:
        assert names[names.index("decode_embedding_universal") + 1] == "LshHasher"
    assert isinstance(kc.LshHasher, type)
    assert kc.LshHasher.__module__ == "kelvane_core"
    assert kc.LshHasher.__name__ == "LshHasher"


def test_signatures_and_docstrings():
    assert str(inspect.signature(kc.LshHasher)) == "(seed, dims, n_tables=20, n_bits=32)"
    assert kc.LshHasher.__text_signature__ == "(seed, dims, n_tables=20, n_bits=32)"
    doc = kc.LshHasher.__doc__
    assert "random-hyperplane" in doc.lower() and "hash()" in doc and "bytes" in doc
    assert kc.LshHasher.hash.__text_signature__ == "($self, embedding)"
    assert str(inspect.signature(kc.LshHasher(SEED, 4).hash)) == "(embedding)"
    assert kc.LshHasher.tables.__doc__ == "Number of hash tables."
    assert kc.LshHasher.bits.__doc__ == "Number of bits per table."
    assert kc.LshHasher.dimensions.__doc__ == "Embedding dimensionality."


@pytest.mark.parametrize(
    "make",
    [
        lambda: kc.LshHasher(SEED, 640),
        lambda: kc.LshHasher(SEED, 640, 20, 32),
        lambda: kc.LshHasher(seed=SEED, dims=640),
        lambda: kc.LshHasher(SEED, dims=640, n_bits=32, n_tables=20),
        lambda: kc.LshHasher(n_bits=32, dims=640, seed=SEED),
    ],
)
def test_binding_of_constructor_arguments(make, default_hasher):
    h = make()
    assert (h.tables, h.bits, h.dimensions) == (20, 32, 640)
    e = [math.sin(i) for i in range(640)]
    assert h.hash(e) == default_hasher.hash(e)


def test_properties():
    h = kc.LshHasher(SEED, 12, n_tables=3, n_bits=7)
    assert (h.tables, h.bits, h.dimensions) == (3, 7, 12)
    assert all(type(v) is int for v in (h.tables, h.bits, h.dimensions))
    assert len(h.hash([1.0] * 12)) == 3
    # Integers by the index protocol, bool included.
    h = kc.LshHasher(SEED, np.int64(5), True, np.uint8(2))
    assert (h.tables, h.bits, h.dimensions) == (1, 2, 5)


def test_instances_and_class_are_immutable():
    h = kc.LshHasher(SEED, 4)
    for name in ("tables", "bits", "dimensions"):
        with pytest.raises(AttributeError):
            setattr(h, name, 1)
        with pytest.raises(AttributeError):
            delattr(h, name)
    with pytest.raises(AttributeError):
        h.extra = 1
    assert not hasattr(h, "__dict__")
    with pytest.raises(TypeError):
        kc.LshHasher.hash = None
    with pytest.raises(TypeError):

        class Sub(kc.LshHasher):  # final: later calls borrow instances read-only
            pass


@pytest.mark.parametrize(
    "args,kwargs,message",
    [
        ((b"x" * 15, 640), {}, "LSH error: seed too short: expected >= 16 bytes, got 15"),
        ((b"", 640), {}, "LSH error: seed too short: expected >= 16 bytes, got 0"),
        ((b"x" * 8, 0, 0, 0), {}, "LSH error: seed too short: expected >= 16 bytes, got 8"),
        ((SEED, 0), {}, "LSH error: dims must be positive, got 0"),
        ((SEED, 0, 0, 0), {}, "LSH error: dims must be positive, got 0"),
        ((SEED, 640, 0), {}, "LSH error: n_tables must be positive, got 0"),
        ((SEED, 640, 0, 0), {}, "LSH error: n_tables must be positive, got 0"),
        ((SEED, 640), {"n_bits": 0}, "LSH error: n_bits must be positive, got 0"),
        ((SEED, 2 ** 30, 20, 32), {},
         "LSH error: too many hyperplane values: n_tables * n_bits * dims must be at most 67108864, "
         "got 20 * 32 * 1073741824"),
        ((SEED, 2 ** 64 - 1, 2 ** 64 - 1, 2 ** 64 - 1), {},
         "LSH error: too many hyperplane values: n_tables * n_bits * dims must be at most 67108864, "
         f"got {2 ** 64 - 1} * {2 ** 64 - 1} * {2 ** 64 - 1}"),
    ],
)
def test_construction_errors_in_order(args, kwargs, message):
    with pytest.raises(ValueError) as err:
        kc.LshHasher(*args, **kwargs)
    assert err.type is ValueError
    assert err.value.args == (message,)


def test_sixteen_byte_seed_is_enough():
    seed = b"s" * 16
    h = kc.LshHasher(seed, 3, 2, 4)
    planes = reference_planes(seed, 3, 2, 4)
    assert h.hash([1.0, -2.0, 0.5]) == reference_hash(planes, [1.0, -2.0, 0.5])


@pytest.mark.parametrize(
    "args,kwargs,error,param",
    [
        (("x" * 32, 640), {}, TypeError, "seed"),
        ((bytearray(32), 640), {}, TypeError, "seed"),
        ((memoryview(SEED), 640), {}, TypeError, "seed"),
        ((SEED, 640.0), {}, TypeError, "dims"),
        ((SEED, "640"), {}, TypeError, "dims"),
        ((SEED, None), {}, TypeError, "dims"),
        ((SEED, 640, None), {}, TypeError, "n_tables"),
        ((SEED, -1), {}, OverflowError, "dims"),
        ((SEED, 640, -1), {}, OverflowError, "n_tables"),
        ((SEED, 640, 20, -1), {}, OverflowError, "n_bits"),
        ((SEED, 2 ** 64), {}, OverflowError, "dims"),
        ((SEED, 640), {"n_bits": 2 ** 70}, OverflowError, "n_bits"),
    ],
)
def test_argument_conversion_errors(args, kwargs, error, param):
    with pytest.raises(error, match=param):
        kc.LshHasher(*args, **kwargs)


@pytest.mark.parametrize(
    "call",
    [
        lambda: kc.LshHasher(),
        lambda: kc.LshHasher(SEED),
        lambda: kc.LshHasher(SEED, 640, 20, 32, 1),
        lambda: kc.LshHasher(SEED, 640, seeds=SEED),
        lambda: kc.LshHasher(SEED, 640, dims=640),
        lambda: kc.LshHasher.__new__(kc.LshHasher),
        lambda: object.__new__(kc.LshHasher),  # never an instance without a hasher
        lambda: copy.copy(kc.LshHasher(SEED, 4)),
        lambda: pickle.dumps(kc.LshHasher(SEED, 4)),
    ],
)
def test_binding_errors(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize(
    "embedding,error,message",
    [
        ([0.0] * 639, ValueError, "LSH error: embedding dimension mismatch: expected 640, got 639"),
        ([0.0] * 641, ValueError, "LSH error: embedding dimension mismatch: expected 640, got 641"),
        ([], ValueError, "LSH error: embedding dimension mismatch: expected 640, got 0"),
        ("x" * 640, TypeError, None),
        ([0.0] * 639 + ["1"], TypeError, None),
        ([0.0] * 639 + [None], TypeError, None),
        (None, TypeError, None),
        (640, TypeError, None),
    ],
)
def test_hash_refuses_bad_embeddings(default_hasher, embedding, error, message):
    with pytest.raises(error) as err:
        default_hasher.hash(embedding)
    if message:
        assert err.value.args == (message,)


def test_hash_binding_errors(default_hasher):
    with pytest.raises(TypeError):
        default_hasher.hash()
    with pytest.raises(TypeError):
        default_hasher.hash([0.0] * 640, [0.0] * 640)
    with pytest.raises(TypeError):
        default_hasher.hash(vector=[0.0] * 640)
    with pytest.raises(TypeError):
        kc.LshHasher.hash(object(), [0.0] * 640)


def test_instances_outlive_their_creators():
    # Built and dropped repeatedly, and used after the constructor's
    # arguments are gone.
    hashers = [kc.LshHasher(bytes([i]) * 16, 8, 2, 3) for i in range(50)]
    del hashers[::2]
    for h in hashers:
        assert len(h.hash([1.0] * 8)) == 2
