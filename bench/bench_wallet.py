"""The Ethereum account, user-operation hash and signature against same-run
Python baselines (hashlib PBKDF2 + hmac BIP-32 + coincurve; pycryptodomex
Keccak + coincurve)."""
import hashlib
import hmac
import json

import coincurve
from Cryptodome.Hash import keccak

import kelvane_core as kc
from _common import median_ns, report

PHRASE = "abandon " * 11 + "about"
ORDER = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141
HARDENED = 0x80000000
ENTRYPOINT = "0x0000000071727De22E5E9d8BAf0edAc6f37da032"
CHAIN_ID = 84532


def k256(data):
    return keccak.new(digest_bits=256, data=data).digest()


def python_eoa():
    seed = hashlib.pbkdf2_hmac("sha512", PHRASE.encode(), b"mnemonic", 2048, 64)
    i = hmac.new(b"Bitcoin seed", seed, hashlib.sha512).digest()
    k, chain = int.from_bytes(i[:32], "big"), i[32:]
    for index in (44 | HARDENED, 60 | HARDENED, HARDENED, 0, 0):
        if index & HARDENED:
            data = b"\0" + k.to_bytes(32, "big")
        else:
            data = coincurve.PrivateKey(k.to_bytes(32, "big")).public_key.format(compressed=True)
        i = hmac.new(chain, data + index.to_bytes(4, "big"), hashlib.sha512).digest()
        k, chain = (int.from_bytes(i[:32], "big") + k) % ORDER, i[32:]
    key = k.to_bytes(32, "big")
    pub = coincurve.PrivateKey(key).public_key.format(compressed=False)
    return json.dumps({"private_key": key.hex(), "address": "0x" + k256(pub[1:])[-20:].hex()},
                      separators=(",", ":"))


def strip(t):
    while t.startswith("0x"):
        t = t[2:]
    return t


def q(t):
    t = strip(t)
    try:
        v = int(t, 16)
    except ValueError:
        return 0
    return v if 0 <= v < 2**128 else 0


def python_hash(op_json):
    op = json.loads(op_json)
    packed = (bytes(12) + bytes.fromhex(strip(op["sender"])) + int(strip(op["nonce"]), 16).to_bytes(32, "big")
              + k256(b"") + k256(bytes.fromhex(strip(op["callData"])))
              + q(op["verificationGasLimit"]).to_bytes(16, "big") + q(op["callGasLimit"]).to_bytes(16, "big")
              + q(op["preVerificationGas"]).to_bytes(32, "big")
              + q(op["maxPriorityFeePerGas"]).to_bytes(16, "big") + q(op["maxFeePerGas"]).to_bytes(16, "big")
              + k256(b""))
    return k256(k256(packed) + bytes(12) + bytes.fromhex(strip(ENTRYPOINT)) + CHAIN_ID.to_bytes(32, "big"))


def python_sign(h, key):
    digest = k256(b"\x19Ethereum Signed Message:\n32" + h)
    sig = coincurve.PrivateKey(key).sign_recoverable(digest, hasher=None)
    return sig[:64] + bytes([27 + sig[64]])


def main():
    assert kc.derive_eoa(PHRASE) == python_eoa()
    # A batch of 30 typical payloads worth of call data (about 12 KB).
    op = json.dumps({
        "sender": "0x5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAed", "nonce": "0x1b",
        "callData": "0x47e1da2a" + "ab" * 12000, "callGasLimit": "0x30d40", "verificationGasLimit": "0x186a0",
        "preVerificationGas": "0xc350", "maxFeePerGas": "0x59682f00", "maxPriorityFeePerGas": "0x3b9aca00",
        "signature": "0x",
    })
    key = json.loads(python_eoa())["private_key"]
    key = bytes.fromhex(key)
    h = kc.hash_userop(op, ENTRYPOINT, CHAIN_ID)
    assert h == python_hash(op)
    assert kc.sign_userop(h, key) == python_sign(h, key)

    def ours():
        return kc.sign_userop(kc.hash_userop(op, ENTRYPOINT, CHAIN_ID), key)

    def theirs():
        return python_sign(python_hash(op), key)

    small = json.loads(op) | {"callData": "0x" + "ab" * 196}
    small = json.dumps(small)
    rows = [
        ("derive_eoa", median_ns(lambda: kc.derive_eoa(PHRASE)), "hashlib + hmac + coincurve",
         median_ns(python_eoa)),
        ("hash_userop (12 KB call data)", median_ns(lambda: kc.hash_userop(op, ENTRYPOINT, CHAIN_ID)),
         "json + pycryptodomex keccak", median_ns(lambda: python_hash(op))),
        ("hash_userop (196 B call data)", median_ns(lambda: kc.hash_userop(small, ENTRYPOINT, CHAIN_ID)),
         "json + pycryptodomex keccak", median_ns(lambda: python_hash(small))),
        ("sign_userop", median_ns(lambda: kc.sign_userop(h, key)), "pycryptodomex + coincurve",
         median_ns(lambda: python_sign(h, key))),
        ("hash_userop + sign_userop (12 KB)", median_ns(ours), "pycryptodomex + coincurve", median_ns(theirs)),
    ]
    report("Ethereum account and user operations", rows)


if __name__ == "__main__":
    main()
