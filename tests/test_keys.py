"""Key derivation from a recovery phrase, against hashlib/hmac oracles."""
import hashlib
import os

import pytest
from mnemonic import Mnemonic

import kelvane_core as kc
from conftest import ZERO_PHRASE, bip39_seed, hkdf_sha256

WORDS = Mnemonic("english").wordlist
LABELS = {
    "auth_key": b"kelvane-auth-key-v1",
    "encryption_key": b"kelvane-encryption-key-v1",
    "dedup_key": b"brisquel-dedup-v1",
}


def expected_keys(phrase_as_hashed: str) -> dict:
    seed = bip39_seed(phrase_as_hashed)
    salt = seed[:32]
    out = {"salt": salt}
    for name, label in LABELS.items():
        out[name] = hkdf_sha256(seed, salt, label, 32)
    return out


def test_word_list_is_the_standard_one():
    text = "\n".join(WORDS) + "\n"
    assert hashlib.sha256(text.encode()).hexdigest() == (
        "2f5eed53a4727b4bf8880d8f3f199efc90e58503646d9ff8eff3a2ed3b24dbda"
    )


def test_zero_entropy_phrase_matches_the_bip39_seed():
    keys = kc.derive_keys_from_mnemonic(ZERO_PHRASE)
    assert list(keys) == ["salt", "auth_key", "encryption_key", "dedup_key"]
    assert all(isinstance(v, bytes) and len(v) == 32 for v in keys.values())
    # The published seed of this phrase with an empty passphrase.
    assert keys["salt"].hex() == "5eb00bbddcf069084889a8ab9155568165f5c453ccb85e70811aaed6f6da5fc1"
    assert keys == expected_keys(ZERO_PHRASE)


@pytest.mark.parametrize("strength", [128, 160, 192, 224, 256])
def test_random_valid_phrases(strength):
    phrase = Mnemonic("english").to_mnemonic(os.urandom(strength // 8))
    assert kc.derive_keys_from_mnemonic(phrase) == expected_keys(phrase)


def test_lenient_and_strict_agree_on_valid_phrases():
    for strength in (128, 256):
        phrase = Mnemonic("english").to_mnemonic(os.urandom(strength // 8))
        assert kc.derive_keys_from_mnemonic_lenient(phrase) == kc.derive_keys_from_mnemonic(phrase)


def test_surrounding_white_space_is_trimmed_but_inner_space_counts():
    base = kc.derive_keys_from_mnemonic(ZERO_PHRASE)
    assert kc.derive_keys_from_mnemonic("\n" + ZERO_PHRASE + "   ") == base
    assert kc.derive_keys_from_mnemonic("\u3000\t" + ZERO_PHRASE + "\u00a0") == base
    doubled = ZERO_PHRASE.replace(" ", "  ", 1)
    keys = kc.derive_keys_from_mnemonic(doubled)
    assert keys != base
    assert keys == expected_keys(doubled)  # the seed hashes the text as written
    tabbed = ZERO_PHRASE.replace(" ", "\t")
    assert kc.derive_keys_from_mnemonic(tabbed) == expected_keys(tabbed)


def bad_checksum_phrase():
    return "abandon " * 11 + "abandon"


STRICT = "invalid mnemonic: invalid BIP-39 mnemonic: "


@pytest.mark.parametrize(
    "phrase,message",
    [
        (bad_checksum_phrase(), STRICT + "the mnemonic has an invalid checksum"),
        ("abandon " * 10 + "about", STRICT + "mnemonic has an invalid word count: 11. "
         "Word count must be 12, 15, 18, 21, or 24"),
        ("", STRICT + "mnemonic has an invalid word count: 0. Word count must be 12, 15, 18, 21, or 24"),
        ("abandon " * 26 + "about", STRICT + "mnemonic has an invalid word count: 27. "
         "Word count must be 12, 15, 18, 21, or 24"),
        ("Abandon " + "abandon " * 10 + "about", STRICT + "mnemonic contains an unknown word (word 0)"),
        ("abandon " * 5 + "zzz " + "abandon " * 5 + "about", STRICT + "mnemonic contains an unknown word (word 5)"),
        # The word count is checked before the words, the words before the checksum.
        ("zzz " * 11, STRICT + "mnemonic has an invalid word count: 11. Word count must be 12, 15, 18, 21, or 24"),
        ("abandon " * 10 + "zzz abandon", STRICT + "mnemonic contains an unknown word (word 10)"),
    ],
)
def test_strict_messages(phrase, message):
    with pytest.raises(ValueError) as err:
        kc.derive_keys_from_mnemonic(phrase)
    assert err.value.args == (message,)


@pytest.mark.parametrize(
    "phrase,message",
    [
        ("abandon " * 10 + "about", "invalid mnemonic: expected 12 or 24 words, got 11"),
        ("Abandon " + "abandon " * 10 + "about", "invalid mnemonic: word 'Abandon' not in BIP-39 English wordlist"),
        ("abandon " * 11 + "zzz", "invalid mnemonic: word 'zzz' not in BIP-39 English wordlist"),
        ("zzz " * 11, "invalid mnemonic: expected 12 or 24 words, got 11"),
        ("zzz " * 18, "invalid mnemonic: expected 12 or 24 words, got 18"),
        ("abandon " * 22 + "yyy zzz", "invalid mnemonic: word 'yyy' not in BIP-39 English wordlist"),
    ],
)
def test_lenient_messages(phrase, message):
    with pytest.raises(ValueError) as err:
        kc.derive_keys_from_mnemonic_lenient(phrase)
    assert err.value.args == (message,)


def test_lenient_accepts_bad_checksum_with_the_same_seed_rule():
    phrase = bad_checksum_phrase()
    assert kc.derive_keys_from_mnemonic_lenient(phrase) == expected_keys(phrase)
    with pytest.raises(ValueError, match="invalid checksum"):
        kc.derive_lsh_seed(phrase, bytes(32))


def test_fifteen_words_strict_only():
    phrase = Mnemonic("english").to_mnemonic(os.urandom(20))
    assert len(phrase.split()) == 15
    kc.derive_keys_from_mnemonic(phrase)
    with pytest.raises(ValueError) as err:
        kc.derive_keys_from_mnemonic_lenient(phrase)
    assert err.value.args == ("invalid mnemonic: expected 12 or 24 words, got 15",)


def test_full_width_letters_validate_through_nfkd_but_seed_uses_the_text():
    # NFKD maps U+FF41 to "a": validation passes; the seed hashes the raw text.
    phrase = "\uff41bandon " + "abandon " * 10 + "about"
    assert kc.derive_keys_from_mnemonic(phrase) == expected_keys(phrase)
    with pytest.raises(ValueError, match="not in BIP-39"):
        kc.derive_keys_from_mnemonic_lenient(phrase)


def test_lsh_seed_from_the_phrase_salt():
    keys = kc.derive_keys_from_mnemonic(ZERO_PHRASE)
    seed = bip39_seed(ZERO_PHRASE)
    expected = hkdf_sha256(seed, keys["salt"], b"brisquel-lsh-seed-v1", 32)
    assert kc.derive_lsh_seed(ZERO_PHRASE, keys["salt"]) == expected
    other_salt = bytes(range(32))
    assert kc.derive_lsh_seed(ZERO_PHRASE, other_salt) == hkdf_sha256(seed, other_salt, b"brisquel-lsh-seed-v1", 32)


def test_auth_key_hash_is_lower_case_sha256_hex():
    key = bytes(range(32))
    assert kc.compute_auth_key_hash(key) == hashlib.sha256(key).hexdigest()
    keys = kc.derive_keys_from_mnemonic(ZERO_PHRASE)
    digest = kc.compute_auth_key_hash(keys["auth_key"])
    assert digest == hashlib.sha256(keys["auth_key"]).hexdigest()
    assert len(digest) == 64 and digest == digest.lower()
