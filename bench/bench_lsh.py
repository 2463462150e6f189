"""LshHasher construction and hashing against same-run baselines: a
plain-Python build of the same rule (hmac HKDF blocks, math.log/math.cos
Box–Muller, sequential dots, hashlib), and NumPy's matrix-vector product of
the same hyperplanes as the practical floor for hashing (BLAS order, not
bit-exact; shown for speed only)."""
import hashlib
import hmac
import math
import random
import struct

import numpy as np

import kelvane_core as kc
from _common import fmt_ns, median_ns, report

SEED = bytes(range(32))
DIMS, TABLES, BITS = 640, 20, 32


def hkdf_block(prk, info, length):
    out, block, counter = b"", b"", 1
    while len(out) < length:
        block = hmac.new(prk, block + info + bytes([counter]), hashlib.sha256).digest()
        out += block
        counter += 1
    return out[:length]


def python_planes(seed=SEED):
    prk = hmac.new(bytes(32), seed, hashlib.sha256).digest()
    log, cos, sqrt = math.log, math.cos, math.sqrt
    tables = []
    for t in range(TABLES):
        length = BITS * DIMS * 8
        stream = b"".join(hkdf_block(prk, f"lsh_table_{t}_block_{b}".encode(), min(8160, length - 8160 * b))
                          for b in range((length + 8159) // 8160))
        words = struct.unpack(f"<{2 * BITS * DIMS}I", stream)
        values = [sqrt(log((words[2 * j] + 1.0) / 4294967297.0) * -2.0)
                  * cos((words[2 * j + 1] + 1.0) / 4294967297.0 * 6.283185307179586) for j in range(BITS * DIMS)]
        tables.append([values[k * DIMS:(k + 1) * DIMS] for k in range(BITS)])
    return tables


def python_hash(planes, embedding):
    out = []
    for t, table in enumerate(planes):
        bits = []
        for plane in table:
            dot = 0.0
            for h, x in zip(plane, embedding):
                dot += h * x
            bits.append("1" if dot >= 0.0 else "0")
        out.append(hashlib.sha256(f"lsh_t{t}_{''.join(bits)}".encode()).hexdigest())
    return out


def numpy_hash(matrix, embedding):
    dots = matrix @ embedding
    out = []
    for t in range(TABLES):
        bits = "".join("1" if d >= 0.0 else "0" for d in dots[t * BITS:(t + 1) * BITS].tolist())
        out.append(hashlib.sha256(f"lsh_t{t}_{bits}".encode()).hexdigest())
    return out


def main():
    build_ns = median_ns(lambda: kc.LshHasher(SEED, DIMS), repeat=9)
    planes = python_planes()
    python_build_ns = median_ns(python_planes, repeat=3, number=1)

    hasher = kc.LshHasher(SEED, DIMS)
    rng = random.Random(1)
    embedding = [rng.gauss(0.0, 1.0) for _ in range(DIMS)]
    matrix = np.array([row for table in planes for row in table])
    vector = np.array(embedding)
    assert python_hash(planes, embedding) == hasher.hash(embedding)
    assert numpy_hash(matrix, vector) == hasher.hash(embedding)

    hash_ns = median_ns(lambda: hasher.hash(embedding), repeat=31)
    python_hash_ns = median_ns(lambda: python_hash(planes, embedding), repeat=3, number=1)
    numpy_hash_ns = median_ns(lambda: numpy_hash(matrix, vector), repeat=31)
    matvec_ns = median_ns(lambda: matrix @ vector, repeat=31)

    report(f"LshHasher ({DIMS} dims, {TABLES} tables, {BITS} bits)", [
        ("construction", build_ns, "plain Python", python_build_ns),
        ("hash", hash_ns, "plain Python", python_hash_ns),
        ("hash", hash_ns, "NumPy matvec + hashlib", numpy_hash_ns),
        ("hash", hash_ns, "NumPy matvec alone", matvec_ns),
    ])
    print("\n  targets:")
    print(f"    construction {fmt_ns(build_ns)} (<= 25 ms), {python_build_ns / build_ns:.0f}x plain Python (>= 20x)")
    print(f"    hash {fmt_ns(hash_ns)} (<= 80 µs), {python_hash_ns / hash_ns:.0f}x plain Python (>= 100x), "
          f"{matvec_ns / hash_ns:.2f}x the speed of NumPy's matvec")


if __name__ == "__main__":
    main()
