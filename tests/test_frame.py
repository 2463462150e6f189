"""The module object, registration order, signatures and argument binding."""
import inspect

import pytest

import kelvane_core as kc
from module_table import FUNCTIONS, LSH_AFTER

TABLE_NAMES = [name for name, _ in FUNCTIONS]


def public_names():
    return [n for n in vars(kc) if not n.startswith("_")]


def test_module_docstring_and_no_state():
    assert "XChaCha20-Poly1305" in kc.__doc__
    assert "blind indices" in kc.__doc__
    assert not hasattr(kc, "__version__")


def test_public_names_follow_the_registration_table():
    names = public_names()
    expected = [n for n in TABLE_NAMES if n in names]
    if "LshHasher" in names:
        expected.insert(expected.index(LSH_AFTER) + 1, "LshHasher")
    assert names == expected
    # Nothing outside the table is exported.
    assert set(names) <= set(TABLE_NAMES) | {"LshHasher"}


@pytest.mark.parametrize("name,signature", [f for f in FUNCTIONS if hasattr(kc, f[0])])
def test_signatures(name, signature):
    fn = getattr(kc, name)
    assert str(inspect.signature(fn)) == signature
    assert fn.__text_signature__ == signature
    assert fn.__name__ == name


def test_keyword_and_positional_binding(zero_keys):
    salt = zero_keys["salt"]
    from conftest import ZERO_PHRASE

    by_position = kc.derive_lsh_seed(ZERO_PHRASE, salt)
    assert kc.derive_lsh_seed(mnemonic=ZERO_PHRASE, salt=salt) == by_position
    assert kc.derive_lsh_seed(ZERO_PHRASE, salt=salt) == by_position
    assert kc.derive_lsh_seed(salt=salt, mnemonic=ZERO_PHRASE) == by_position


@pytest.mark.parametrize(
    "call",
    [
        lambda: kc.encrypt("x"),  # missing
        lambda: kc.encrypt("x", bytes(32), 1),  # surplus
        lambda: kc.encrypt("x", key=bytes(32)),  # unknown keyword
        lambda: kc.encrypt("x", bytes(32), plaintext="y"),  # given twice
        lambda: kc.compute_auth_key_hash(),
    ],
)
def test_binding_errors_are_type_errors(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize(
    "bad,param",
    [
        (lambda: kc.encrypt("x", "k" * 32), "encryption_key"),
        (lambda: kc.encrypt("x", bytearray(32)), "encryption_key"),
        (lambda: kc.encrypt("x", memoryview(bytes(32))), "encryption_key"),
        (lambda: kc.encrypt(b"x", bytes(32)), "plaintext"),
        (lambda: kc.encrypt(None, bytes(32)), "plaintext"),
        (lambda: kc.decrypt(1, bytes(32)), "encrypted_base64"),
        (lambda: kc.derive_keys_from_mnemonic(["abandon"]), "mnemonic"),
    ],
)
def test_wrong_types_name_the_parameter(bad, param):
    with pytest.raises(TypeError, match=param):
        bad()


def test_first_bad_argument_wins():
    # Both are wrong; the left one is reported and no key check runs.
    with pytest.raises(TypeError, match="plaintext"):
        kc.encrypt(1, b"short")


@pytest.mark.parametrize("length", [0, 16, 31, 33, 64])
@pytest.mark.parametrize(
    "fn",
    [
        lambda k: kc.encrypt("x", k),
        lambda k: kc.decrypt("x", k),
        lambda k: kc.compute_auth_key_hash(k),
        lambda k: kc.derive_lsh_seed("not checked first", k),
    ],
)
def test_key_length_checks_have_no_prefix(fn, length):
    with pytest.raises(ValueError) as err:
        fn(bytes(length))
    assert err.type is ValueError
    assert err.value.args == (f"expected 32 bytes, got {length}",)


def test_library_errors_carry_the_variant_prefix():
    with pytest.raises(ValueError) as err:
        kc.decrypt("AAAA", bytes(32))
    assert err.value.args == ("crypto error: Encrypted data too short",)
    with pytest.raises(ValueError) as err:
        kc.derive_keys_from_mnemonic("abandon")
    assert str(err.value).startswith("invalid mnemonic: ")


def test_str_with_lone_surrogate_is_refused_cleanly():
    with pytest.raises(UnicodeEncodeError):
        kc.encrypt("\ud800", bytes(32))
