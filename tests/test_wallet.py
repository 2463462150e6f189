"""The Ethereum account of a recovery phrase, against published accounts and
an independent BIP-32 derivation (hmac + the pure-Python ecdsa package)."""
import hashlib
import hmac
import inspect
import json
import random

import ecdsa
import pytest
from Cryptodome.Hash import keccak
from mnemonic import Mnemonic

import kelvane_core as kc
from conftest import ZERO_PHRASE, bip39_seed

CURVE_ORDER = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141
HARDENED = 0x80000000
ETH_PATH = (44 | HARDENED, 60 | HARDENED, 0 | HARDENED, 0, 0)


def keccak256(data: bytes) -> bytes:
    return keccak.new(digest_bits=256, data=data).digest()


def public_key(secret: bytes, encoding: str) -> bytes:
    """SEC1 public key of a secret ("compressed" or "uncompressed")."""
    vk = ecdsa.SigningKey.from_string(secret, curve=ecdsa.SECP256k1).get_verifying_key()
    return vk.to_string(encoding)


def address_of(secret: bytes) -> str:
    """Lower-case Ethereum address of a secret key."""
    return "0x" + keccak256(public_key(secret, "uncompressed")[1:])[-20:].hex()


def eip55(address: str) -> str:
    """EIP-55 casing, written from the EIP's rule."""
    lower = address.removeprefix("0x").lower()
    digest = keccak256(lower.encode()).hex()
    return "0x" + "".join(c.upper() if c.isalpha() and int(digest[i], 16) >= 8 else c for i, c in enumerate(lower))


def bip32_eth_key(seed: bytes) -> bytes:
    """BIP-32 private derivation of m/44'/60'/0'/0/0."""
    i = hmac.new(b"Bitcoin seed", seed, hashlib.sha512).digest()
    k, chain = int.from_bytes(i[:32], "big"), i[32:]
    assert 0 < k < CURVE_ORDER
    for index in ETH_PATH:
        if index & HARDENED:
            data = b"\0" + k.to_bytes(32, "big")
        else:
            data = public_key(k.to_bytes(32, "big"), "compressed")
        i = hmac.new(chain, data + index.to_bytes(4, "big"), hashlib.sha512).digest()
        tweak = int.from_bytes(i[:32], "big")
        assert tweak < CURVE_ORDER
        k, chain = (tweak + k) % CURVE_ORDER, i[32:]
        assert k != 0
    return k.to_bytes(32, "big")


def oracle_account(phrase_as_hashed: str) -> tuple[bytes, str]:
    key = bip32_eth_key(bip39_seed(phrase_as_hashed))
    return key, address_of(key)


# Account 0 of well-known phrases, as every BIP-44 wallet shows it.
KNOWN_ACCOUNTS = [
    (ZERO_PHRASE, "0x9858effd232b4033e47d90003d41ec34ecaeda94"),
    ("test test test test test test test test test test test junk", "0xf39fd6e51aad88f6f4ce6ab8827279cfffb92266"),
]


def fixed_phrases():
    """Valid phrases of every length from fixed entropy, plus BIP-39 vectors."""
    rng = random.Random(20240607)
    phrases = [
        "legal winner thank year wave sausage worth useful legal winner thank yellow",
        "zoo " * 23 + "vote",
    ]
    for strength in (128, 160, 192, 224, 256):
        phrases.append(Mnemonic("english").to_mnemonic(rng.randbytes(strength // 8)))
    return phrases


@pytest.mark.parametrize("phrase,address", KNOWN_ACCOUNTS)
def test_known_accounts(phrase, address):
    assert kc.derive_eoa_address(phrase) == address
    wallet = json.loads(kc.derive_eoa(phrase))
    assert wallet["address"] == address
    assert address_of(bytes.fromhex(wallet["private_key"])) == address


@pytest.mark.parametrize("phrase", fixed_phrases())
def test_matches_independent_bip32(phrase):
    key, address = oracle_account(phrase)
    expected = '{"private_key":"' + key.hex() + '","address":"' + address + '"}'
    assert kc.derive_eoa(phrase) == expected
    assert kc.derive_eoa_address(phrase) == address


def test_json_form():
    text = kc.derive_eoa(ZERO_PHRASE)
    assert " " not in text
    assert list(json.loads(text)) == ["private_key", "address"]
    wallet = json.loads(text)
    assert len(wallet["private_key"]) == 64 and wallet["private_key"] == wallet["private_key"].lower()
    assert not wallet["private_key"].startswith("0x")
    assert len(wallet["address"]) == 42 and wallet["address"] == wallet["address"].lower()


def test_surrounding_white_space_is_trimmed_but_inner_space_counts():
    base = kc.derive_eoa(ZERO_PHRASE)
    assert kc.derive_eoa("\n " + ZERO_PHRASE + "\u3000\t") == base
    doubled = ZERO_PHRASE.replace(" ", "  ", 1)
    key, address = oracle_account(doubled)
    assert kc.derive_eoa_address(doubled) == address
    assert address != KNOWN_ACCOUNTS[0][1]


STRICT = "invalid mnemonic: invalid BIP-39 mnemonic: "


@pytest.mark.parametrize(
    "phrase,message",
    [
        ("abandon " * 11 + "abandon", STRICT + "the mnemonic has an invalid checksum"),
        ("abandon " * 10 + "about",
         STRICT + "mnemonic has an invalid word count: 11. Word count must be 12, 15, 18, 21, or 24"),
        ("", STRICT + "mnemonic has an invalid word count: 0. Word count must be 12, 15, 18, 21, or 24"),
        ("abandon " * 3 + "Abandon " + "abandon " * 7 + "about", STRICT + "mnemonic contains an unknown word (word 3)"),
    ],
)
@pytest.mark.parametrize("function", [kc.derive_eoa, kc.derive_eoa_address])
def test_invalid_phrases(function, phrase, message):
    with pytest.raises(ValueError) as err:
        function(phrase)
    assert err.value.args == (message,)


def test_lenient_only_phrase_is_refused():
    phrase = "abandon " * 11 + "abandon"
    kc.derive_keys_from_mnemonic_lenient(phrase)
    with pytest.raises(ValueError, match="invalid checksum"):
        kc.derive_eoa(phrase)


@pytest.mark.parametrize("function", [kc.derive_eoa, kc.derive_eoa_address])
def test_argument_conversion(function):
    assert str(inspect.signature(function)) == "(mnemonic)"
    assert function(mnemonic=ZERO_PHRASE)
    with pytest.raises(TypeError):
        function(ZERO_PHRASE.encode())
    with pytest.raises(TypeError):
        function()
