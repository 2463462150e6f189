"""Key derivation, the envelope and call overhead against same-run baselines."""
import base64
import hashlib
import hmac
import math
import os

from nacl import bindings as nacl

import kelvane_core as kc
from _common import median_ns, report

PHRASE = "abandon " * 11 + "about"


def hkdf(ikm, salt, info, length=32):
    prk = hmac.new(salt, ikm, hashlib.sha256).digest()
    return hmac.new(prk, info + b"\x01", hashlib.sha256).digest()[:length]


def python_keys():
    seed = hashlib.pbkdf2_hmac("sha512", PHRASE.encode(), b"mnemonic", 2048, 64)
    salt = seed[:32]
    return [hkdf(seed, salt, label) for label in (b"kelvane-auth-key-v1", b"kelvane-encryption-key-v1",
                                                  b"brisquel-dedup-v1")]


def nacl_encrypt(text, key):
    nonce = os.urandom(24)
    sealed = nacl.crypto_aead_xchacha20poly1305_ietf_encrypt(text.encode(), None, nonce, key)
    return base64.b64encode(nonce + sealed[-16:] + sealed[:-16]).decode()


def nacl_decrypt(blob, key):
    raw = base64.b64decode(blob)
    return nacl.crypto_aead_xchacha20poly1305_ietf_decrypt(raw[40:] + raw[24:40], None, raw[:24], key).decode()


def main():
    key = bytes(range(32))
    rows = [("derive_keys_from_mnemonic", median_ns(lambda: kc.derive_keys_from_mnemonic(PHRASE)),
             "hashlib PBKDF2 + 3 HKDF", median_ns(python_keys))]
    for size, label in ((1024, "1 KiB"), (1 << 20, "1 MiB")):
        text = "x" * size
        blob = kc.encrypt(text, key)
        rows.append((f"encrypt {label}", median_ns(lambda: kc.encrypt(text, key)),
                     "PyNaCl AEAD + base64", median_ns(lambda: nacl_encrypt(text, key))))
        rows.append((f"decrypt {label}", median_ns(lambda: kc.decrypt(blob, key)),
                     "PyNaCl AEAD + base64", median_ns(lambda: nacl_decrypt(blob, key))))
    auth = bytes(32)
    rows.append(("compute_auth_key_hash", median_ns(lambda: kc.compute_auth_key_hash(auth)),
                 "hashlib.sha256().hexdigest()", median_ns(lambda: hashlib.sha256(auth).hexdigest())))
    # The frame's own cost: a zero-argument constant against a C builtin.
    rows.append(("call overhead: a constant function", median_ns(lambda: kc.confirm_indexed_default_poll_ms()),
                 "math.fabs(1.0)", median_ns(lambda: math.fabs(1.0))))
    report("keys and envelope", rows)


if __name__ == "__main__":
    main()
