"""ERC-4337 v0.7 user-operation hashes against a reference written here from
the reading rules (pycryptodomex Keccak, eth-abi), and EIP-191 signatures
checked by public-key recovery (coincurve) and against the pure-Python
ecdsa package's RFC 6979 signature normalised to low s."""
import hashlib
import json
import random
import string

import coincurve
import ecdsa
import pytest
from Cryptodome.Hash import keccak
from ecdsa.util import sigencode_strings
from eth_abi import encode as abi_encode

import kelvane_core as kc
from conftest import ZERO_PHRASE
from test_wallet import CURVE_ORDER, address_of, oracle_account

ENTRYPOINT = "0x0000000071727De22E5E9d8BAf0edAc6f37da032"
CHAIN_ID = 84532


def keccak256(data: bytes) -> bytes:
    return keccak.new(digest_bits=256, data=data).digest()


# ---- the reference, from the reading rules ----------------------------------------


def strip_0x(text):
    while text.startswith("0x"):
        text = text[2:]
    return text


def is_hex(text):
    return all(c in string.hexdigits for c in text)


def bytes_rule(text):
    text = strip_0x(text)
    if len(text) % 2 or not is_hex(text):
        return b""
    return bytes.fromhex(text)


def quantity_rule(text):
    text = strip_0x(text)
    if text.startswith("+"):
        text = text[1:]
    if not text or not is_hex(text):
        return 0
    value = int(text, 16)
    return value if value < 2**128 else 0


def nonce_rule(text):
    text = strip_0x(text)
    if len(text) % 2:
        text = "0" + text
    raw = bytes.fromhex(text) if is_hex(text) else b""
    return raw.rjust(32, b"\0") if 1 <= len(raw) <= 32 else bytes(32)


def u128(value):
    return value.to_bytes(16, "big")


def reference_hash(op, entrypoint=ENTRYPOINT, chain_id=CHAIN_ID):
    def opt(name):
        return op.get(name)  # missing and null alike

    init_code = b""
    if opt("factory") is not None:
        init_code = bytes_rule(op["factory"]) + (bytes_rule(op["factoryData"]) if opt("factoryData") is not None
                                                 else b"")
    paymaster_and_data = b""
    if opt("paymaster") is not None:
        limits = [quantity_rule(op[k]) if opt(k) is not None else 0
                  for k in ("paymasterVerificationGasLimit", "paymasterPostOpGasLimit")]
        paymaster_and_data = (bytes_rule(op["paymaster"]) + u128(limits[0]) + u128(limits[1])
                              + (bytes_rule(op["paymasterData"]) if opt("paymasterData") is not None else b""))
    packed = (
        bytes(12) + bytes_rule(op["sender"])
        + nonce_rule(op["nonce"])
        + keccak256(init_code)
        + keccak256(bytes_rule(op["callData"]))
        + u128(quantity_rule(op["verificationGasLimit"])) + u128(quantity_rule(op["callGasLimit"]))
        + bytes(16) + u128(quantity_rule(op["preVerificationGas"]))
        + u128(quantity_rule(op["maxPriorityFeePerGas"])) + u128(quantity_rule(op["maxFeePerGas"]))
        + keccak256(paymaster_and_data)
    )
    ep = bytes.fromhex(strip_0x(entrypoint))
    return keccak256(keccak256(packed) + bytes(12) + ep + chain_id.to_bytes(32, "big"))


# ---- user operations as data --------------------------------------------------------

BASE = {
    "sender": "0x5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAed",
    "nonce": "0x1b",
    "callData": "0xb61d27f6" + "00" * 12 + "ab" * 20 + "00" * 32 + "00" * 31 + "60" + "00" * 31 + "03" + "010203"
                + "00" * 29,
    "callGasLimit": "0x30d40",
    "verificationGasLimit": "0x186a0",
    "preVerificationGas": "0xc350",
    "maxFeePerGas": "0x59682f00",
    "maxPriorityFeePerGas": "0x3b9aca00",
    "signature": "0x",
}
FACTORY = "0x9406Cc6185a346906296840746125a0E44976454"
PAYMASTER = "0x0000000000325602a77416A16136FDafd04b299f"


def pattern(n):
    return "0x" + bytes(i % 251 for i in range(n)).hex()


def variant(**changes):
    """BASE with members changed; ... removes a member, None writes null."""
    op = dict(BASE)
    for name, value in changes.items():
        if value is ...:
            op.pop(name, None)
        else:
            op[name] = value
    return op


OPS = {
    "base": variant(),
    "factory and data": variant(factory=FACTORY, factoryData="0x5fbfb9cf" + "11" * 32),
    "factory without data": variant(factory=FACTORY),
    "factory with null data": variant(factory=FACTORY, factoryData=None),
    "data without factory": variant(factoryData="0xdeadbeef"),
    "null factory with data": variant(factory=None, factoryData="0xdeadbeef"),
    "paymaster full": variant(paymaster=PAYMASTER, paymasterVerificationGasLimit="0x249f0",
                              paymasterPostOpGasLimit="0xc350", paymasterData="0x" + "cd" * 65),
    "paymaster null limits": variant(paymaster=PAYMASTER, paymasterVerificationGasLimit=None,
                                     paymasterPostOpGasLimit=None, paymasterData="0x01"),
    "paymaster only": variant(paymaster=PAYMASTER),
    "limits without paymaster": variant(paymasterVerificationGasLimit="0x1", paymasterData="0x02"),
    "null paymaster": variant(paymaster=None, paymasterVerificationGasLimit="0x1"),
    "empty gas": variant(callGasLimit="0x"),
    "non-hex gas": variant(callGasLimit="0xZZ"),
    "33-digit gas": variant(callGasLimit="0x1" + "0" * 31 + "1"),
    "doubled prefix gas": variant(callGasLimit="0x0x10"),
    "leading zeros gas": variant(callGasLimit="0x" + "0" * 38 + "10"),
    "plus gas": variant(callGasLimit="+10", maxFeePerGas="0x+ff"),
    "minus gas": variant(callGasLimit="-10"),
    "lone plus gas": variant(callGasLimit="+"),
    "upper prefix gas": variant(callGasLimit="0X10"),
    "max gas": variant(**{k: "0x" + "f" * 32 for k in ("callGasLimit", "verificationGasLimit", "preVerificationGas",
                                                      "maxFeePerGas", "maxPriorityFeePerGas")}),
    "nonce 0x1": variant(nonce="0x1"),
    "odd nonce": variant(nonce="0xabc"),
    "nonce of 64 digits": variant(nonce="0x" + "f" * 64),
    "nonce of 65 digits": variant(nonce="0x" + "1" * 65),
    "empty nonce": variant(nonce="0x"),
    "non-hex nonce": variant(nonce="0xzz"),
    "key-space nonce": variant(nonce="0x" + "00000000000000000000000000000000000000000000000a" + "0000000000000005"),
    "odd call data": variant(callData="0xabc"),
    "non-hex call data": variant(callData="0xgg"),
    "empty call data": variant(callData="0x"),
    "upper-case call data": variant(callData="0xABCDEF"),
    "doubled prefix call data": variant(callData="0x0xabcdef"),
    **{f"call data of {n} bytes": variant(callData=pattern(n)) for n in (1, 135, 136, 137, 200, 272, 1000)},
    "previous signature": variant(signature="0x" + "ab" * 65),
    "unknown member": variant(extra="ignored", eip7702Auth=None),
    "upper-case sender": variant(sender="0x" + BASE["sender"][2:].upper()),
    "sender without prefix": variant(sender=BASE["sender"][2:]),
    "short sender": variant(sender="0x" + "11" * 19),
    "long sender": variant(sender="0x" + "22" * 32),
    "odd sender": variant(sender="0x123"),
}


@pytest.mark.parametrize("case", list(OPS), ids=list(OPS))
def test_hash_matches_the_reference(case):
    op = OPS[case]
    got = kc.hash_userop(json.dumps(op), ENTRYPOINT, CHAIN_ID)
    assert type(got) is bytes and len(got) == 32
    assert got == reference_hash(op)


@pytest.mark.parametrize("case,same_as", [
    ("data without factory", "base"),
    ("null factory with data", "base"),
    ("limits without paymaster", "base"),
    ("null paymaster", "base"),
    ("previous signature", "base"),
    ("unknown member", "base"),
    ("upper-case sender", "base"),
    ("sender without prefix", "base"),
    ("non-hex gas", "empty gas"),
    ("33-digit gas", "empty gas"),
    ("minus gas", "empty gas"),
    ("lone plus gas", "empty gas"),
    ("upper prefix gas", "empty gas"),
    ("leading zeros gas", "doubled prefix gas"),
    ("odd call data", "empty call data"),
    ("non-hex call data", "empty call data"),
    ("nonce of 65 digits", "empty nonce"),
    ("non-hex nonce", "empty nonce"),
    ("factory without data", "factory with null data"),
])
def test_lenient_readings_that_coincide(case, same_as):
    def h(name):
        return kc.hash_userop(json.dumps(OPS[name]), ENTRYPOINT, CHAIN_ID)
    assert h(case) == h(same_as)


def test_zero_readings_equal_explicit_zero():
    zero = kc.hash_userop(json.dumps(variant(callGasLimit="0x0")), ENTRYPOINT, CHAIN_ID)
    assert kc.hash_userop(json.dumps(OPS["empty gas"]), ENTRYPOINT, CHAIN_ID) == zero
    sixteen = kc.hash_userop(json.dumps(variant(callGasLimit="0x10")), ENTRYPOINT, CHAIN_ID)
    assert kc.hash_userop(json.dumps(OPS["doubled prefix gas"]), ENTRYPOINT, CHAIN_ID) == sixteen
    assert kc.hash_userop(json.dumps(variant(nonce="0x00")), ENTRYPOINT, CHAIN_ID) == \
        kc.hash_userop(json.dumps(OPS["empty nonce"]), ENTRYPOINT, CHAIN_ID)


def test_hash_against_abi_encoding():
    """The packed operation as the EntryPoint encodes it, with eth-abi."""
    op = OPS["paymaster full"] | {"factory": FACTORY, "factoryData": "0x1234"}
    init_code = bytes.fromhex(FACTORY[2:] + "1234")
    paymaster_and_data = (bytes.fromhex(PAYMASTER[2:]) + (0x249F0).to_bytes(16, "big") + (0xC350).to_bytes(16, "big")
                          + bytes.fromhex("cd" * 65))
    packed = abi_encode(
        ["address", "uint256", "bytes32", "bytes32", "bytes32", "uint256", "bytes32", "bytes32"],
        [op["sender"], 0x1B, keccak256(init_code), keccak256(bytes.fromhex(op["callData"][2:])),
         (0x186A0).to_bytes(16, "big") + (0x30D40).to_bytes(16, "big"), 0xC350,
         (0x3B9ACA00).to_bytes(16, "big") + (0x59682F00).to_bytes(16, "big"), keccak256(paymaster_and_data)],
    )
    outer = abi_encode(["bytes32", "address", "uint256"], [keccak256(packed), ENTRYPOINT, CHAIN_ID])
    assert kc.hash_userop(json.dumps(op), ENTRYPOINT, CHAIN_ID) == keccak256(outer)


@pytest.mark.parametrize("entrypoint", [ENTRYPOINT, ENTRYPOINT[2:], ENTRYPOINT.lower(), "0x0x" + ENTRYPOINT[2:],
                                        "0x" + "ff" * 20, "0x" + "01" * 19, "0x"])
@pytest.mark.parametrize("chain_id", [0, 1, CHAIN_ID, 2**64 - 1])
def test_entrypoint_and_chain_id(entrypoint, chain_id):
    op = OPS["base"]
    assert kc.hash_userop(json.dumps(op), entrypoint, chain_id) == reference_hash(op, entrypoint, chain_id)


@pytest.mark.parametrize("entrypoint", ["0x123", "0x" + "g" * 40, "0X" + "00" * 20, " 0x" + "00" * 20,
                                        "0x" + "00" * 19 + "\u00e9"])
def test_malformed_entrypoint_is_a_crypto_error(entrypoint):
    with pytest.raises(ValueError) as err:
        kc.hash_userop(json.dumps(OPS["base"]), entrypoint, CHAIN_ID)
    assert err.value.args[0].startswith("crypto error: ")
    assert len(err.value.args[0]) > len("crypto error: ")


def without(name):
    return json.dumps({k: v for k, v in BASE.items() if k != name})


@pytest.mark.parametrize("source,detail", [
    ("{", None),
    ("", None),
    ("[]", None),
    ('"op"', None),
    (json.dumps(BASE) + " x", None),
    (without("sender"), "missing field `sender`"),
    (without("nonce"), "missing field `nonce`"),
    (without("callData"), "missing field `callData`"),
    (without("callGasLimit"), "missing field `callGasLimit`"),
    (without("maxPriorityFeePerGas"), "missing field `maxPriorityFeePerGas`"),
    (without("signature"), "missing field `signature`"),
    (json.dumps(BASE).replace('"nonce"', '"nonce": "0x2", "nonce"'), "duplicate field `nonce`"),
    (json.dumps(BASE).replace('"signature"', '"factory": "0x", "factory"'), "duplicate field `factory`"),
    (json.dumps(variant(nonce=27)), "`nonce`"),
    (json.dumps(variant(sender=None)), "`sender`"),
    (json.dumps(variant(callData=["0x"])), "`callData`"),
    (json.dumps(variant(factory=1)), "`factory`"),
    (json.dumps(variant(paymasterPostOpGasLimit=5)), "`paymasterPostOpGasLimit`"),
    (json.dumps(variant(signature=None)), "`signature`"),
])
def test_invalid_json(source, detail):
    with pytest.raises(ValueError) as err:
        kc.hash_userop(source, ENTRYPOINT, CHAIN_ID)
    message = err.value.args[0]
    assert message.startswith("Invalid UserOp JSON: ") and len(message) > len("Invalid UserOp JSON: ")
    if detail:
        assert detail in message


def test_json_is_checked_before_the_entrypoint():
    with pytest.raises(ValueError, match="^Invalid UserOp JSON: "):
        kc.hash_userop("{}", "0x1", CHAIN_ID)


@pytest.mark.parametrize("args,error", [
    ((json.dumps(BASE), ENTRYPOINT, -1), OverflowError),
    ((json.dumps(BASE), ENTRYPOINT, 2**64), OverflowError),
    ((json.dumps(BASE), ENTRYPOINT, 1.0), TypeError),
    ((json.dumps(BASE).encode(), ENTRYPOINT, 1), TypeError),
    ((json.dumps(BASE), ENTRYPOINT.encode(), 1), TypeError),
])
def test_hash_argument_conversion(args, error):
    with pytest.raises(error):
        kc.hash_userop(*args)


# ---- signatures ---------------------------------------------------------------------


def eip191_digest(h):
    return keccak256(b"\x19Ethereum Signed Message:\n32" + h)


def low_s_rfc6979(h, key):
    """(r, s) from the ecdsa package's RFC 6979 signer, s folded to the low half."""
    sk = ecdsa.SigningKey.from_string(key, curve=ecdsa.SECP256k1)
    r, s = sk.sign_digest_deterministic(eip191_digest(h), hashfunc=hashlib.sha256, sigencode=sigencode_strings)
    s_value = int.from_bytes(s, "big")
    return r, min(s_value, CURVE_ORDER - s_value).to_bytes(32, "big")


def signing_keys():
    rng = random.Random(4337)
    keys = [(1).to_bytes(32, "big"), (CURVE_ORDER - 1).to_bytes(32, "big"), oracle_account(ZERO_PHRASE)[0]]
    keys += [rng.randrange(1, CURVE_ORDER).to_bytes(32, "big") for _ in range(5)]
    return keys


def hashes():
    rng = random.Random(191)
    return [bytes(32), b"\xff" * 32, reference_hash(OPS["base"])] + [rng.randbytes(32) for _ in range(3)]


@pytest.mark.parametrize("key", signing_keys(), ids=lambda k: k.hex()[:8])
@pytest.mark.parametrize("h", hashes(), ids=lambda h: h.hex()[:8])
def test_signature_recovers_and_matches_rfc6979(h, key):
    sig = kc.sign_userop(h, key)
    assert type(sig) is bytes and len(sig) == 65
    r, s, v = sig[:32], sig[32:64], sig[64]
    assert v in (27, 28)
    assert int.from_bytes(s, "big") <= CURVE_ORDER // 2
    assert (r, s) == low_s_rfc6979(h, key)
    recovered = coincurve.PublicKey.from_signature_and_message(r + s + bytes([v - 27]), eip191_digest(h),
                                                               hasher=None)
    assert recovered.format(compressed=False) == coincurve.PrivateKey(key).public_key.format(compressed=False)
    assert sig[:64] + bytes([v - 27]) == coincurve.PrivateKey(key).sign_recoverable(eip191_digest(h), hasher=None)
    assert kc.sign_userop(h, key) == sig


def test_signature_recovers_to_the_phrase_account():
    key = oracle_account(ZERO_PHRASE)[0]
    h = kc.hash_userop(json.dumps(OPS["base"]), ENTRYPOINT, CHAIN_ID)
    sig = kc.sign_userop(h, key)
    pub = coincurve.PublicKey.from_signature_and_message(sig[:64] + bytes([sig[64] - 27]), eip191_digest(h),
                                                         hasher=None)
    assert "0x" + keccak256(pub.format(compressed=False)[1:])[-20:].hex() == address_of(key)
    assert address_of(key) == kc.derive_eoa_address(ZERO_PHRASE)


@pytest.mark.parametrize("h,key,message", [
    (bytes(31), bytes(5), "Hash must be 32 bytes, got 31"),
    (bytes(33), bytes(32), "Hash must be 32 bytes, got 33"),
    (b"", b"", "Hash must be 32 bytes, got 0"),
    (bytes(32), bytes(31), "expected 32 bytes, got 31"),
    (bytes(32), bytes(33), "expected 32 bytes, got 33"),
    (bytes(32), bytes(32), "crypto error: Invalid signing key: signature error"),
    (bytes(32), CURVE_ORDER.to_bytes(32, "big"), "crypto error: Invalid signing key: signature error"),
    (bytes(32), (CURVE_ORDER + 1).to_bytes(32, "big"), "crypto error: Invalid signing key: signature error"),
    (bytes(32), b"\xff" * 32, "crypto error: Invalid signing key: signature error"),
])
def test_sign_errors(h, key, message):
    with pytest.raises(ValueError) as err:
        kc.sign_userop(h, key)
    assert err.value.args == (message,)


@pytest.mark.parametrize("args", [
    (bytearray(32), (1).to_bytes(32, "big")),
    (bytes(32), bytearray((1).to_bytes(32, "big"))),
    ("00" * 32, (1).to_bytes(32, "big")),
])
def test_sign_argument_types(args):
    with pytest.raises(TypeError):
        kc.sign_userop(*args)


def test_keyword_arguments():
    key = (1).to_bytes(32, "big")
    h = kc.hash_userop(userop_json=json.dumps(BASE), entrypoint=ENTRYPOINT, chain_id=CHAIN_ID)
    assert kc.sign_userop(hash=h, private_key=key) == kc.sign_userop(h, key)
