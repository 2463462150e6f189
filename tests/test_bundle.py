"""The derived key bundle: canonical derivation and the fully validating
reader, against hmac/HKDF, ecdsa and Keccak oracles and the EIP-55 examples."""
import calendar
import copy
import json
import re
import time

import pytest

import kelvane_core as kc
from conftest import ZERO_PHRASE, bip39_seed, hkdf_sha256
from test_wallet import CURVE_ORDER, address_of, eip55, oracle_account

SMART_ACCOUNT = "0x" + "5aaeb6053f3e94c9b9a09f33669435e7ef1beaed"
SMART_ACCOUNT_EIP55 = "0x5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAed"
CHAIN_ID = 84532

# The example addresses published in EIP-55, in their checksummed form.
EIP55_EXAMPLES = [
    "0x52908400098527886E0F7030069857D2E4169EE7",
    "0x8617E340B3D01FA5F11F306F4090FD50E238070D",
    "0xde709f2102306220921060314715629080e2fb77",
    "0x27b1fdb04752bbc536007a920d24acb045561c26",
    "0x5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAed",
    "0xfB6916095ca1df60bB79Ce92cE3Ea74c37c5d359",
    "0xdbF03B407c01E7cD3CBea99509d93f8DDDC8C6FB",
    "0xD1220A0cf47c7B9Be7A2E6BA89F429762e7b9aDb",
]

SLUG_MESSAGE = (
    'invalid input: provisioned_by must match ^[a-z0-9-]{1,32}$ (a short lowercase slug \u2014 "spa" | '
    '"local-migration" | "external" today, others may be added later), got '
)


def expected_vault(phrase):
    seed = bip39_seed(phrase)
    salt = seed[:32]
    return {
        "encryption_key": hkdf_sha256(seed, salt, b"kelvane-encryption-key-v1", 32),
        "dedup_key": hkdf_sha256(seed, salt, b"brisquel-dedup-v1", 32),
        "auth_key": hkdf_sha256(seed, salt, b"kelvane-auth-key-v1", 32),
        "lsh_seed": hkdf_sha256(seed, salt, b"brisquel-lsh-seed-v1", 32),
    }


def expected_bundle_text(phrase, chain_id, slug, smart_account_eip55, provisioned_at):
    key, address = oracle_account(phrase)
    vault = expected_vault(phrase)
    return (
        '{"version":2,"schema":"derived-bundle-v1","vault":{'
        + ",".join(f'"{name}":"{value.hex()}"' for name, value in vault.items())
        + '},"signing":{"kind":"owner-eoa","private_key":"' + key.hex() + '","address":"' + eip55(address)
        + '"},"account":{"smart_account":"' + smart_account_eip55 + '","chain_id":' + str(chain_id)
        + '},"provisioned_at":"' + provisioned_at + '","provisioned_by":"' + slug + '"}'
    )


def derive(phrase=ZERO_PHRASE, chain_id=CHAIN_ID, slug="spa", smart_account=SMART_ACCOUNT):
    return kc.derive_bundle_from_mnemonic(phrase, chain_id, slug, smart_account)


@pytest.fixture(scope="module")
def owner_wire():
    """A valid owner-eoa bundle as a Python object, for mutation."""
    return json.loads(derive())


# A session key and its grant, built independently of the module.
SESSION_SECRET = (0x1234567890ABCDEF * 3 + 7).to_bytes(32, "big")
SESSION_ADDRESS = eip55(address_of(SESSION_SECRET))


def session_wire(grant=None, **account):
    wire = json.loads(derive())
    wire["signing"] = {
        "kind": "session-key",
        "private_key": SESSION_SECRET.hex(),
        "address": SESSION_ADDRESS,
        "grant": grant if grant is not None else default_grant(),
    }
    wire["account"].update(account)
    return wire


def default_grant():
    return {"signer": SESSION_ADDRESS, "account": SMART_ACCOUNT_EIP55, "domain": {"chainId": CHAIN_ID}}


def text(wire):
    return json.dumps(wire, separators=(",", ":"))


def refused(wire_or_text, message=None, prefix=None):
    source = wire_or_text if isinstance(wire_or_text, str) else text(wire_or_text)
    with pytest.raises(ValueError) as err:
        kc.parse_bundle_v1(source)
    with pytest.raises(ValueError) as err2:
        kc.validate_bundle_v1(source)
    assert err.value.args == err2.value.args
    got = err.value.args[0]
    if message is not None:
        assert got == message
    if prefix is not None:
        assert got.startswith(prefix), got
    return got


# ---- derivation -----------------------------------------------------------------


@pytest.mark.parametrize("phrase", [ZERO_PHRASE, "legal winner thank year wave sausage worth useful legal winner "
                                    "thank yellow"])
def test_derived_bundle_is_canonical(phrase):
    before = int(time.time())
    out = derive(phrase)
    after = int(time.time())
    stamp = re.search(r'"provisioned_at":"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"', out).group(1)
    assert before <= calendar.timegm(time.strptime(stamp, "%Y-%m-%dT%H:%M:%SZ")) <= after
    assert out == expected_bundle_text(phrase, CHAIN_ID, "spa", SMART_ACCOUNT_EIP55, stamp)


def test_zero_phrase_owner_address_is_the_known_account():
    wire = json.loads(derive())
    assert wire["signing"]["address"] == eip55("0x9858effd232b4033e47d90003d41ec34ecaeda94")
    assert wire["signing"]["address"] == "0x9858EfFD232B4033E47d90003D41EC34EcaEda94"


def test_deriving_twice_differs_only_in_the_time():
    first, second = json.loads(derive()), json.loads(derive())
    first.pop("provisioned_at")
    second.pop("provisioned_at")
    assert first == second


@pytest.mark.parametrize("example", EIP55_EXAMPLES)
@pytest.mark.parametrize("form", [str.lower, str.upper, lambda a: a, lambda a: a[2:].lower()])
def test_smart_account_comes_out_in_eip55_casing(example, form):
    given = form(example)
    if given.startswith("0X"):
        given = "0x" + given[2:]
    assert eip55(example) == example  # the oracle agrees with the EIP
    assert json.loads(derive(smart_account=given))["account"]["smart_account"] == example


@pytest.mark.parametrize(
    "smart_account",
    ["0x" + "a" * 39, "0x" + "a" * 41, "a" * 39, "0X" + "a" * 40, "0x" + "g" * 40, "", "0x", "0x0x" + "a" * 38,
     "0x" + "a" * 39 + "\u00e9"],
)
def test_malformed_smart_account_is_refused(smart_account):
    with pytest.raises(ValueError) as err:
        derive(smart_account=smart_account)
    assert err.value.args == ("invalid input: not a valid 20-byte hex address: " + smart_account,)


GOOD_SLUGS = ["spa", "local-migration", "external", "a", "-", "0", "x" * 32, "a-b-9"]
BAD_SLUGS = [("", '""'), ("Spa", '"Spa"'), ("a_b", '"a_b"'), ("x" * 33, '"' + "x" * 33 + '"'),
             ("sp a", '"sp a"'), ("caf\u00e9", '"caf\u00e9"'), ('a"b', '"a\\"b"'), ("a\nb", '"a\\nb"')]


@pytest.mark.parametrize("slug", GOOD_SLUGS)
def test_good_slugs(slug):
    assert json.loads(derive(slug=slug))["provisioned_by"] == slug


@pytest.mark.parametrize("slug,shown", BAD_SLUGS)
def test_bad_slug_is_refused_before_any_key_work(slug, shown):
    with pytest.raises(ValueError) as err:
        derive(phrase="not a phrase", slug=slug, smart_account="bad")
    assert err.value.args == (SLUG_MESSAGE + shown,)


def test_phrase_is_checked_before_the_smart_account():
    with pytest.raises(ValueError) as err:
        derive(phrase="abandon " * 11 + "abandon", smart_account="bad")
    assert err.value.args == ("invalid mnemonic: invalid BIP-39 mnemonic: the mnemonic has an invalid checksum",)


@pytest.mark.parametrize("chain_id", [0, 1, 2**64 - 1])
def test_chain_id_round_trips(chain_id):
    out = derive(chain_id=chain_id)
    assert f'"chain_id":{chain_id}}}' in out
    assert kc.parse_bundle_v1(out)["account"]["chain_id"] == chain_id


@pytest.mark.parametrize("chain_id,error", [(-1, OverflowError), (2**64, OverflowError), (1.0, TypeError),
                                            ("1", TypeError)])
def test_chain_id_conversion(chain_id, error):
    with pytest.raises(error):
        derive(chain_id=chain_id)


# ---- reading --------------------------------------------------------------------


def test_parse_result_shape_and_values():
    out = derive()
    result = kc.parse_bundle_v1(out)
    assert list(result) == ["vault", "signing", "account", "provisioned_at", "provisioned_by"]
    vault = expected_vault(ZERO_PHRASE)
    assert list(result["vault"]) == ["encryption_key", "dedup_key", "auth_key", "lsh_seed"]
    assert result["vault"] == vault
    assert all(type(v) is bytes and len(v) == 32 for v in result["vault"].values())
    key, address = oracle_account(ZERO_PHRASE)
    assert list(result["signing"]) == ["kind", "private_key", "address", "grant"]
    assert result["signing"] == {"kind": "owner-eoa", "private_key": key, "address": eip55(address), "grant": None}
    assert type(result["signing"]["private_key"]) is bytes
    assert list(result["account"]) == ["smart_account", "chain_id"]
    assert result["account"] == {"smart_account": SMART_ACCOUNT_EIP55, "chain_id": CHAIN_ID}
    assert result["provisioned_at"] == json.loads(out)["provisioned_at"]
    assert result["provisioned_by"] == "spa"
    assert kc.validate_bundle_v1(out) is None


def test_the_derived_keys_agree_with_the_key_functions():
    result = kc.parse_bundle_v1(derive())
    keys = kc.derive_keys_from_mnemonic(ZERO_PHRASE)
    assert result["vault"]["lsh_seed"] == kc.derive_lsh_seed(ZERO_PHRASE, keys["salt"])
    assert result["vault"]["auth_key"] == keys["auth_key"]
    assert result["signing"]["address"].lower() == kc.derive_eoa_address(ZERO_PHRASE)


def test_provisioned_at_is_not_validated(owner_wire):
    wire = copy.deepcopy(owner_wire)
    wire["provisioned_at"] = "yesterday"
    assert kc.parse_bundle_v1(text(wire))["provisioned_at"] == "yesterday"


def mutate(path, value):
    """A mutation of the wire object: set (or delete with ...) a member."""
    def apply(wire):
        node = wire
        for name in path[:-1]:
            node = node[name]
        if value is ...:
            del node[path[-1]]
        else:
            node[path[-1]] = value
    return apply


MALFORMED = {
    "upper-case key": mutate(["vault", "encryption_key"], "AB" * 32),
    "0x key": mutate(["vault", "dedup_key"], "0x" + "ab" * 31),
    "63-character key": mutate(["vault", "auth_key"], "a" * 63),
    "65-character key": mutate(["vault", "lsh_seed"], "a" * 65),
    "key as a number": mutate(["vault", "lsh_seed"], 5),
    "upper-case private key": mutate(["signing", "private_key"], "1AB42CC412B618BDEA3A599E3C9BAE199EBF030895B039E9DB1E30DAFB12B727"),
    "extra top-level member": mutate(["extra"], 1),
    "extra vault member": mutate(["vault", "salt"], "00" * 32),
    "extra signing member": mutate(["signing", "note"], "x"),
    "extra account member": mutate(["account", "name"], "x"),
    "owner-eoa with a grant": mutate(["signing", "grant"], {}),
    "missing version": mutate(["version"], ...),
    "missing schema": mutate(["schema"], ...),
    "missing vault": mutate(["vault"], ...),
    "missing signing": mutate(["signing"], ...),
    "missing account": mutate(["account"], ...),
    "missing provisioned_at": mutate(["provisioned_at"], ...),
    "missing provisioned_by": mutate(["provisioned_by"], ...),
    "missing vault key": mutate(["vault", "dedup_key"], ...),
    "missing kind": mutate(["signing", "kind"], ...),
    "missing private key": mutate(["signing", "private_key"], ...),
    "missing address": mutate(["signing", "address"], ...),
    "missing smart account": mutate(["account", "smart_account"], ...),
    "missing chain id": mutate(["account", "chain_id"], ...),
    "unknown kind": mutate(["signing", "kind"], "owner"),
    "kind in upper case": mutate(["signing", "kind"], "OWNER-EOA"),
    "negative chain id": mutate(["account", "chain_id"], -1),
    "chain id as a string": mutate(["account", "chain_id"], "84532"),
    "fractional chain id": mutate(["account", "chain_id"], 1.5),
    "version as a string": mutate(["version"], "2"),
    "negative version": mutate(["version"], -1),
    "version beyond 32 bits": mutate(["version"], 2**32),
    "schema as a number": mutate(["schema"], 1),
    "vault as an array": mutate(["vault"], []),
    "signing as a string": mutate(["signing"], "owner-eoa"),
    "address as null": mutate(["signing", "address"], None),
    "provisioned_by as null": mutate(["provisioned_by"], None),
}


@pytest.mark.parametrize("case", list(MALFORMED), ids=list(MALFORMED))
def test_malformed_structure(owner_wire, case):
    wire = copy.deepcopy(owner_wire)
    MALFORMED[case](wire)
    refused(wire, prefix="malformed bundle JSON: ")


@pytest.mark.parametrize("mangle", [
    lambda t: t + "x",
    lambda t: t[:-1],
    lambda t: "[" + t + "]",
    lambda t: "",
    lambda t: t.replace('"provisioned_by":"spa"', '"provisioned_by":"spa","provisioned_by":"spa"'),
    lambda t: t.replace('"chain_id":84532', '"chain_id":84532,"chain_id":84532'),
])
def test_malformed_text(mangle):
    refused(mangle(derive()), prefix="malformed bundle JSON: ")


def test_malformed_messages_name_the_problem(owner_wire):
    wire = copy.deepcopy(owner_wire)
    wire["vault"]["salt"] = "00"
    assert "`salt`" in refused(wire)
    wire = copy.deepcopy(owner_wire)
    del wire["account"]["chain_id"]
    assert "missing field `chain_id`" in refused(wire)
    wire = copy.deepcopy(owner_wire)
    wire["vault"]["auth_key"] = "a" * 63
    assert "expected exactly 64 lowercase hex chars, got 63 chars" in refused(wire)
    wire["vault"]["auth_key"] = "A" * 64
    assert "key material must be lowercase hex with no 0x prefix" in refused(wire)


def test_white_space_around_the_document_is_accepted():
    assert kc.parse_bundle_v1(" \n" + derive() + "\n ")["provisioned_by"] == "spa"


@pytest.mark.parametrize("version", [0, 1, 3, 2**32 - 1])
def test_unsupported_version(owner_wire, version):
    wire = copy.deepcopy(owner_wire)
    wire["version"] = version
    wire["schema"] = "something else"  # the version is checked first
    refused(wire, f"unsupported bundle version {version} (expected 2) \u2014 refusing to guess, never a silent downgrade")


@pytest.mark.parametrize("schema,shown", [
    ("derived-bundle-v2", '"derived-bundle-v2"'),
    ("", '""'),
    ("Derived-Bundle-V1", '"Derived-Bundle-V1"'),
    ('say "hi"\\', '"say \\"hi\\"\\\\"'),
    ("tab\tnew\nline\r", '"tab\\tnew\\nline\\r"'),
    ("caf\u00e9", '"caf\u00e9"'),
])
def test_unsupported_schema(owner_wire, schema, shown):
    wire = copy.deepcopy(owner_wire)
    wire["schema"] = schema
    wire["signing"]["private_key"] = "00" * 32  # the schema is checked before the key
    refused(wire, f'unsupported bundle schema {shown} (expected "derived-bundle-v1")')


@pytest.mark.parametrize("secret", [0, CURVE_ORDER, CURVE_ORDER + 1, 2**256 - 1])
def test_unusable_private_key(owner_wire, secret):
    wire = copy.deepcopy(owner_wire)
    wire["signing"]["private_key"] = secret.to_bytes(32, "big").hex()
    wire["account"]["smart_account"] = "bad"  # the key is checked before the addresses
    refused(wire, "crypto error: invalid private key: signature error")


def test_highest_usable_private_key(owner_wire):
    wire = copy.deepcopy(owner_wire)
    secret = (CURVE_ORDER - 1).to_bytes(32, "big")
    wire["signing"]["private_key"] = secret.hex()
    wire["signing"]["address"] = eip55(address_of(secret))
    assert kc.parse_bundle_v1(text(wire))["signing"]["private_key"] == secret


def test_address_must_match_the_key(owner_wire):
    wire = copy.deepcopy(owner_wire)
    other = SESSION_ADDRESS
    wire["signing"]["address"] = other
    wire["account"]["smart_account"] = "bad"  # the key/address match comes first
    derived = eip55(oracle_account(ZERO_PHRASE)[1])
    refused(wire, f"invalid input: signing.address {other} does not match the address derived from "
                  f"signing.private_key ({derived}) \u2014 corrupt or tampered provisioning payload")


def flip_case_of_first_letter(address):
    digits = address[2:]
    i = next(i for i, c in enumerate(digits) if c.isalpha())
    return "0x" + digits[:i] + digits[i].swapcase() + digits[i + 1:]


@pytest.mark.parametrize("field", ["account.smart_account", "signing.address"])
def test_case_change_breaks_the_checksum(owner_wire, field):
    wire = copy.deepcopy(owner_wire)
    section, name = field.split(".")
    good = wire[section][name]
    wire[section][name] = bad = flip_case_of_first_letter(good)
    refused(wire, f"invalid input: {field} is not EIP-55 checksummed (expected {good}, got {bad}) \u2014 "
                  "load-bearing for cross-client byte-equality parity, see derived-bundle-v1.md \u00a74.1")


def test_smart_account_is_checked_before_the_signing_address(owner_wire):
    wire = copy.deepcopy(owner_wire)
    wire["signing"]["address"] = wire["signing"]["address"].lower()
    wire["account"]["smart_account"] = bad = SMART_ACCOUNT_EIP55.lower()
    assert refused(wire).startswith(f"invalid input: account.smart_account is not EIP-55 checksummed "
                                    f"(expected {SMART_ACCOUNT_EIP55}, got {bad})")


@pytest.mark.parametrize("smart_account,message", [
    ("5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAed", 'must be 0x-prefixed, got "5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAed"'),
    ("0X5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAed", 'must be 0x-prefixed, got "0X5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAed"'),
    ("", 'must be 0x-prefixed, got ""'),
    ("0x5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAe", 'is not a valid 20-byte hex address: '
                                                  '"0x5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAe"'),
    ("0x5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAedd", 'is not a valid 20-byte hex address: '
                                                    '"0x5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAedd"'),
    ("0x5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAeZ", 'is not a valid 20-byte hex address: '
                                                   '"0x5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAeZ"'),
    ('0x"\\\n', 'is not a valid 20-byte hex address: "0x\\"\\\\\\n"'),
])
def test_malformed_smart_account_in_a_bundle(owner_wire, smart_account, message):
    wire = copy.deepcopy(owner_wire)
    wire["account"]["smart_account"] = smart_account
    refused(wire, "invalid input: account.smart_account " + message)


@pytest.mark.parametrize("slug", GOOD_SLUGS)
def test_good_slugs_are_read(owner_wire, slug):
    wire = copy.deepcopy(owner_wire)
    wire["provisioned_by"] = slug
    assert kc.parse_bundle_v1(text(wire))["provisioned_by"] == slug


@pytest.mark.parametrize("slug,shown", BAD_SLUGS)
def test_bad_slugs_are_refused(owner_wire, slug, shown):
    wire = copy.deepcopy(owner_wire)
    wire["provisioned_by"] = slug
    refused(wire, SLUG_MESSAGE + shown)


# ---- session keys ---------------------------------------------------------------


def test_session_key_bundle_is_accepted():
    result = kc.parse_bundle_v1(text(session_wire()))
    assert result["signing"]["kind"] == "session-key"
    assert result["signing"]["private_key"] == SESSION_SECRET
    assert result["signing"]["address"] == SESSION_ADDRESS
    assert result["signing"]["grant"] == json.dumps(default_grant(), separators=(",", ":"), sort_keys=True)


def test_grant_is_rewritten_compact_with_sorted_keys():
    grant = {
        "signer": SESSION_ADDRESS.lower(),
        "domain": {"version": "1", "chainId": CHAIN_ID, "name": "Vault"},
        "account": SMART_ACCOUNT_EIP55.upper().replace("0X", "0x"),
        "zeta": [3, {"b": True, "a": None}, "x\"y\\z\n\u0001/\u00e9\U0001f600"],
        "alpha": -5,
        "half": 0.5,
        "Upper": "first in byte order",
        "\u00e9t\u00e9": "non-ASCII key",
    }
    source = json.dumps(session_wire(grant), indent=2, ensure_ascii=True)
    rewritten = kc.parse_bundle_v1(source)["signing"]["grant"]
    assert rewritten == json.dumps(grant, separators=(",", ":"), sort_keys=True, ensure_ascii=False)


def test_repeated_grant_member_keeps_the_last_value():
    source = text(session_wire()).replace('"grant":{', '"grant":{"note":1,"note":2,', 1)
    assert json.loads(kc.parse_bundle_v1(source)["signing"]["grant"])["note"] == 2


def test_session_key_without_grant_is_malformed():
    wire = session_wire()
    del wire["signing"]["grant"]
    assert "missing field `grant`" in refused(wire, prefix="malformed bundle JSON: ")


def grant_with(**changes):
    grant = default_grant()
    for name, value in changes.items():
        if value is ...:
            grant.pop(name)
        else:
            grant[name] = value
    return grant


MISSING_ACCOUNT = 'invalid input: session-key grant is missing required field "account"'
MISSING_SIGNER = 'invalid input: session-key grant is missing required field "signer"'
MISSING_CHAIN_ID = 'invalid input: session-key grant is missing required field "domain.chainId"'


@pytest.mark.parametrize("grant,message", [
    (grant_with(account=...), MISSING_ACCOUNT),
    (grant_with(account=None), MISSING_ACCOUNT),
    (grant_with(account=5), MISSING_ACCOUNT),
    ([default_grant()], MISSING_ACCOUNT),
    ("grant", MISSING_ACCOUNT),
    (7, MISSING_ACCOUNT),
    (grant_with(account="0x" + "1" * 40),
     f"invalid input: session-key grant.account (0x{'1' * 40}) does not match account.smart_account "
     f"({SMART_ACCOUNT_EIP55})"),
    (grant_with(signer=...), MISSING_SIGNER),
    (grant_with(signer=["x"]), MISSING_SIGNER),
    (grant_with(signer=SMART_ACCOUNT_EIP55),
     f"invalid input: session-key grant.signer ({SMART_ACCOUNT_EIP55}) does not match signing.address "
     f"({SESSION_ADDRESS})"),
    (grant_with(domain=...), MISSING_CHAIN_ID),
    (grant_with(domain=CHAIN_ID), MISSING_CHAIN_ID),
    (grant_with(domain={}), MISSING_CHAIN_ID),
    (grant_with(domain={"chainId": str(CHAIN_ID)}), MISSING_CHAIN_ID),
    (grant_with(domain={"chainId": float(CHAIN_ID)}), MISSING_CHAIN_ID),
    (grant_with(domain={"chainId": -1}), MISSING_CHAIN_ID),
    (grant_with(domain={"chainId": None}), MISSING_CHAIN_ID),
    (grant_with(domain={"chainId": 1}),
     f"invalid input: session-key grant.domain.chainId (1) does not match account.chain_id ({CHAIN_ID})"),
])
def test_grant_checks(grant, message):
    refused(session_wire(grant), message)


def test_null_grant_is_not_an_object():
    wire = session_wire()
    wire["signing"]["grant"] = None
    refused(wire, MISSING_ACCOUNT)


def test_grant_addresses_compare_ignoring_case():
    grant = grant_with(signer=SESSION_ADDRESS.lower(), account="0x" + SMART_ACCOUNT_EIP55[2:].upper())
    assert kc.parse_bundle_v1(text(session_wire(grant)))["signing"]["kind"] == "session-key"


def test_grant_is_checked_last():
    wire = session_wire(grant_with(account=...))
    wire["provisioned_by"] = "BAD"
    refused(wire, SLUG_MESSAGE + '"BAD"')


def test_large_grant_chain_id_matches():
    wire = session_wire(grant_with(domain={"chainId": 2**64 - 1}), chain_id=2**64 - 1)
    assert kc.parse_bundle_v1(text(wire))["account"]["chain_id"] == 2**64 - 1


@pytest.mark.parametrize("function", [kc.parse_bundle_v1, kc.validate_bundle_v1])
def test_argument_conversion(function):
    with pytest.raises(TypeError):
        function(derive().encode())
    assert function(json=derive()) == function(derive())


def test_derive_keywords():
    out = kc.derive_bundle_from_mnemonic(mnemonic=ZERO_PHRASE, chain_id=1, provisioned_by="spa",
                                         smart_account=SMART_ACCOUNT)
    assert json.loads(out)["account"]["chain_id"] == 1
