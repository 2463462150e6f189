import hashlib
import hmac
import os

# pycryptodomex loads its native parts with RTLD_DEEPBIND when cffi is
# present, which the sanitizer runtime refuses (the process exits); plain
# dlopen works everywhere. Set before any test module imports Cryptodome.
os.environ.setdefault("PYCRYPTODOME_DISABLE_DEEPBIND", "1")

import pytest

# The twelve-word phrase of all-zero 128-bit entropy (BIP-39 test vectors).
ZERO_PHRASE = "abandon " * 11 + "about"


def hkdf_sha256(ikm: bytes, salt: bytes, info: bytes, length: int) -> bytes:
    """RFC 5869 with hmac, independent of the module."""
    prk = hmac.new(salt or bytes(32), ikm, hashlib.sha256).digest()
    out, block = b"", b""
    counter = 1
    while len(out) < length:
        block = hmac.new(prk, block + info + bytes([counter]), hashlib.sha256).digest()
        out += block
        counter += 1
    return out[:length]


def bip39_seed(phrase: str) -> bytes:
    return hashlib.pbkdf2_hmac("sha512", phrase.encode(), b"mnemonic", 2048, 64)


@pytest.fixture(scope="session")
def zero_keys():
    import kelvane_core

    return kelvane_core.derive_keys_from_mnemonic(ZERO_PHRASE)
