"""Compact claims: strict reading, canonical writing, the tolerant legacy
reader, entity-name normalisation and deterministic entity ids."""
import hashlib
import json
import unicodedata

import pytest

import kelvane_core as kc

PREFIX = "invalid claim JSON: "

# (input, canonical output)
CANONICAL = [
    ('{"t":"x","c":"pref","cf":1,"i":3,"sa":"a1","cc":1,"st":"a","e":[]}',
     '{"t":"x","c":"pref","cf":1.0,"i":3,"sa":"a1"}'),
    ('{"t":"Likes tea","c":"fact","cf":0.9,"i":6,"sa":"unknown"}',
     '{"t":"Likes tea","c":"fact","cf":0.9,"i":6,"sa":"unknown"}'),
    # cc 0 is kept; cc 2 moves between i and sa.
    ('{"t":"x","c":"fact","cf":0.5,"i":1,"sa":"s","cc":0}',
     '{"t":"x","c":"fact","cf":0.5,"i":1,"cc":0,"sa":"s"}'),
    ('{"sa":"s","t":"x","cf":0.5,"i":1,"c":"fact","cc":2}',
     '{"t":"x","c":"fact","cf":0.5,"i":1,"cc":2,"sa":"s"}'),
    # Unknown keys disappear.
    ('{"t":"x","c":"fact","cf":0.5,"i":1,"sa":"s","zz":[1,{"q":2}],"zz":3}',
     '{"t":"x","c":"fact","cf":0.5,"i":1,"sa":"s"}'),
    # Every key, scrambled, comes back in table order.
    ('{"st":"p","vf":"v","sby":"b","sup":"u","e":[{"r":"owner","tp":"project","n":"Kelvane"},'
     '{"n":"Bob","tp":"person"}],"ea":"2024-05-01T12:00:00Z","sc":"chat","sa":"agent","cc":7,'
     '"i":255,"cf":0.25,"c":"dec","t":"Chose SQLite"}',
     '{"t":"Chose SQLite","c":"dec","cf":0.25,"i":255,"cc":7,"sa":"agent","sc":"chat",'
     '"ea":"2024-05-01T12:00:00Z","e":[{"n":"Kelvane","tp":"project","r":"owner"},{"n":"Bob","tp":"person"}],'
     '"sup":"u","sby":"b","vf":"v","st":"p"}'),
    # null is absent for the optional texts and an entity's role.
    ('{"t":"x","c":"fact","cf":0.5,"i":1,"sa":"s","sc":null,"ea":null,"sup":null,"sby":null,"vf":null,'
     '"e":[{"n":"A","tp":"tool","r":null}]}',
     '{"t":"x","c":"fact","cf":0.5,"i":1,"sa":"s","e":[{"n":"A","tp":"tool"}]}'),
    # Number forms: shortest round trip, integral values keep a fraction,
    # exponent form outside 1e-5..1e16.
    ('{"t":"x","c":"fact","cf":100,"i":0,"sa":"s"}', '{"t":"x","c":"fact","cf":100.0,"i":0,"sa":"s"}'),
    ('{"t":"x","c":"fact","cf":1e-7,"i":0,"sa":"s"}', '{"t":"x","c":"fact","cf":1e-7,"i":0,"sa":"s"}'),
    ('{"t":"x","c":"fact","cf":-1.5E16,"i":0,"sa":"s"}', '{"t":"x","c":"fact","cf":-1.5e+16,"i":0,"sa":"s"}'),
    ('{"t":"x","c":"fact","cf":0.70000000000000001,"i":0,"sa":"s"}',
     '{"t":"x","c":"fact","cf":0.7,"i":0,"sa":"s"}'),
    ('{"t":"x","c":"fact","cf":-0.0,"i":0,"sa":"s","cc":4294967295}',
     '{"t":"x","c":"fact","cf":-0.0,"i":0,"cc":4294967295,"sa":"s"}'),
    # Minimal escaping, UTF-8 as is, solidus unescaped, white space of the
    # input gone.
    (' {\n "t" : "caf\\u00e9 \\"q\\" \\/ \\u0001\\u001f\\b\\f\\n\\r\\t\\\\ \U0001F600" ,"c":"fact","cf":0.5,'
     '"i":1,"sa":"\\u2028"}\r\n',
     '{"t":"café \\"q\\" / \\u0001\\u001f\\b\\f\\n\\r\\t\\\\ \U0001F600","c":"fact","cf":0.5,"i":1,"sa":"\u2028"}'),
    # The positional array form: t, c, cf, i, cc, sa, then optional
    # trailing positions.
    ('["x","fact",0.5,1,1,"s"]', '{"t":"x","c":"fact","cf":0.5,"i":1,"sa":"s"}'),
    ('["x","goal",2,9,3,"s",null,"2024-01-01T00:00:00Z"]',
     '{"t":"x","c":"goal","cf":2.0,"i":9,"cc":3,"sa":"s","ea":"2024-01-01T00:00:00Z"}'),
    ('["x","ent",0.5,1,1,"s","sc","ea",[{"n":"N","tp":"place"}],"sup","sby","vf","r"]',
     '{"t":"x","c":"ent","cf":0.5,"i":1,"sa":"s","sc":"sc","ea":"ea","e":[{"n":"N","tp":"place"}],'
     '"sup":"sup","sby":"sby","vf":"vf","st":"r"}'),
]

CATEGORIES = ["fact", "pref", "dec", "epi", "goal", "ctx", "sum", "rule", "ent", "dig"]
STATUSES = ["s", "r", "c", "p"]
ENTITY_TYPES = ["person", "project", "tool", "company", "concept", "place"]

BASE = '{"t":"x","c":"fact","cf":0.5,"i":1,"sa":"s"'

# (input, text the message must contain after the prefix)
INVALID = [
    ("", ""),
    ("not json", ""),
    (BASE + "} trailing", ""),
    (BASE + "}{}", ""),
    ('"a string"', "object"),
    ("42", "object"),
    ("null", "object"),
    ('{"c":"fact","cf":0.5,"i":1,"sa":"s"}', "`t`"),
    ('{"t":"x","cf":0.5,"i":1,"sa":"s"}', "`c`"),
    ('{"t":"x","c":"fact","i":1,"sa":"s"}', "`cf`"),
    ('{"t":"x","c":"fact","cf":0.5,"sa":"s"}', "`i`"),
    ('{"t":"x","c":"fact","cf":0.5,"i":1}', "`sa`"),
    ('{"t":"x","c":"preference","cf":0.5,"i":1,"sa":"s"}', "preference"),
    ('{"t":"x","c":"Fact","cf":0.5,"i":1,"sa":"s"}', "Fact"),
    (BASE + ',"st":"P"}', "`P`"),
    (BASE + ',"st":"a "}', "st"),
    (BASE + ',"e":[{"n":"A","tp":"Person"}]}', "Person"),
    (BASE + ',"e":[{"n":"A","tp":"animal"}]}', "animal"),
    (BASE + ',"e":[{"tp":"tool"}]}', "`n`"),
    (BASE + ',"e":[{"n":"A"}]}', "`tp`"),
    (BASE + ',"e":[{"n":"A","tp":"tool","r":3}]}', "`r`"),
    (BASE + ',"e":[{"n":"A","tp":"tool","n":"B"}]}', "duplicate field `n`"),
    (BASE + ',"e":["A"]}', "object"),
    (BASE + ',"e":{"n":"A","tp":"tool"}}', "`e`"),
    (BASE + ',"e":null}', "`e`"),
    (BASE + ',"cc":null}', "`cc`"),
    (BASE + ',"st":null}', "`st`"),
    (BASE + ',"cc":-1}', "`cc`"),
    (BASE + ',"cc":1.5}', "`cc`"),
    (BASE + ',"cc":4294967296}', "`cc`"),
    (BASE + ',"sc":5}', "`sc`"),
    (BASE + ',"ea":true}', "`ea`"),
    (BASE + ',"vf":[]}', "`vf`"),
    (BASE + ',"t":"y"}', "duplicate field `t`"),
    ('{"t":null,"c":"fact","cf":0.5,"i":1,"sa":"s"}', "`t`"),
    ('{"t":1,"c":"fact","cf":0.5,"i":1,"sa":"s"}', "`t`"),
    ('{"t":"x","c":"fact","cf":"0.5","i":1,"sa":"s"}', "`cf`"),
    ('{"t":"x","c":"fact","cf":null,"i":1,"sa":"s"}', "`cf`"),
    ('{"t":"x","c":"fact","cf":0.5,"i":256,"sa":"s"}', "`i`"),
    ('{"t":"x","c":"fact","cf":0.5,"i":-1,"sa":"s"}', "`i`"),
    ('{"t":"x","c":"fact","cf":0.5,"i":3.0,"sa":"s"}', "`i`"),
    ('{"t":"x","c":"fact","cf":0.5,"i":1,"sa":null}', "`sa`"),
    # Array form: the first six positions are required, at most thirteen.
    ('["x","fact",0.5,1,1]', "`sa`"),
    ('["x","fact",0.5,1]', "`sa`"),
    ("[]", "`t`"),
    ('["x","fact",0.5,1,null,"s"]', "`cc`"),
    ('["x","fact",0.5,1,1,"s",null,null,[],null,null,null,"a","extra"]', "too many"),
    ('["x","fact",0.5,1,1,"s",null,null,null]', "`e`"),
    ("[1,2]", "`t`"),
]


def canonical(text):
    return kc.canonicalize_claim(text)


@pytest.mark.parametrize("given,expected", CANONICAL)
def test_canonical_form(given, expected):
    assert canonical(given) == expected
    # Canonical text is a fixed point, and the tolerant reader agrees.
    assert canonical(expected) == expected
    assert kc.parse_claim_or_legacy(given) == expected


@pytest.mark.parametrize("category", CATEGORIES)
def test_every_category_token(category):
    text = f'{{"t":"x","c":"{category}","cf":0.5,"i":1,"sa":"s"}}'
    assert canonical(text) == text


@pytest.mark.parametrize("status", STATUSES)
def test_every_written_status_token(status):
    text = f'{{"t":"x","c":"fact","cf":0.5,"i":1,"sa":"s","st":"{status}"}}'
    assert canonical(text) == text


@pytest.mark.parametrize("kind", ENTITY_TYPES)
def test_every_entity_type_token(kind):
    text = f'{{"t":"x","c":"fact","cf":0.5,"i":1,"sa":"s","e":[{{"n":"A","tp":"{kind}","r":"r"}}]}}'
    assert canonical(text) == text


@pytest.mark.parametrize("given,fragment", INVALID)
def test_strict_reader_refuses(given, fragment):
    with pytest.raises(ValueError) as err:
        canonical(given)
    message = str(err.value)
    assert message.startswith(PREFIX)
    assert len(message) > len(PREFIX)
    assert fragment in message[len(PREFIX):]


def test_refusals_name_the_token_and_the_accepted_ones():
    with pytest.raises(ValueError) as err:
        canonical('{"t":"x","c":"preference","cf":0.5,"i":1,"sa":"s"}')
    for token in CATEGORIES:
        assert f"`{token}`" in str(err.value)


def test_arguments_must_be_str():
    for fn in (kc.canonicalize_claim, kc.parse_claim_or_legacy, kc.normalize_entity_name,
               kc.deterministic_entity_id):
        with pytest.raises(TypeError):
            fn(b"{}")
    assert kc.canonicalize_claim(claim_json='["x","fact",0.5,1,1,"s"]').startswith('{"t":"x"')


# ---- tolerant reader ---------------------------------------------------------

def fallback(text, sa="unknown"):
    """The fallback claim's canonical text, written by the JSON rules."""
    dump = lambda s: json.dumps(s, ensure_ascii=False)  # noqa: E731
    return '{"t":' + dump(text) + ',"c":"fact","cf":0.7,"i":5,"sa":' + dump(sa) + "}"


LEGACY = [
    ("Hello", fallback("Hello")),
    ("", fallback("")),
    ("   ", fallback("   ")),
    ("{broken", fallback("{broken")),
    ('{"t":"x"} trailing', fallback('{"t":"x"} trailing')),
    ('"quoted"', fallback("quoted")),
    ('"line\\nbreak \\u00e9"', fallback("line\nbreak é")),
    ("[1,2]", fallback("[1,2]")),
    ("42", fallback("42")),
    ("true", fallback("true")),
    ("null", fallback("null")),
    ("{}", fallback("{}")),
    ('{"text":"Met Bob","metadata":{"source":"import"}}', fallback("Met Bob", "import")),
    ('{"t":42,"text":"y"}', fallback('{"t":42,"text":"y"}')),
    ('{"t":"x","a":"agent-7"}', fallback("x", "agent-7")),
    ('{"text":"y","a":5,"metadata":{"source":"m"}}', fallback("y")),
    ('{"text":"y","metadata":{"source":7}}', fallback("y")),
    ('{"text":"y","metadata":"import"}', fallback("y")),
    ('{"text":null}', fallback('{"text":null}')),
    ('{"a":"agent"}', fallback('{"a":"agent"}', "agent")),
    # Not strictly valid (bad tokens): the fallback takes "t"; "sa" is not a
    # source key of the fallback.
    ('{"t":"x","c":"preference","cf":1,"i":3,"sa":"a1"}', fallback("x")),
    ('{"t":"x","c":"fact","cf":1,"i":3,"sa":"a1","st":"P"}', fallback("x")),
    ('{"t":"x","c":"fact","cf":1,"i":300,"sa":"a1","a":"z"}', fallback("x", "z")),
    # A repeated key keeps its last value, as in every free JSON object.
    ('{"t":"first","t":"second"}', fallback("second")),
    # Strictly valid claims come back canonical.
    ('{"sa":"s","i":2,"cf":1,"c":"rule","t":"x","st":"a"}', '{"t":"x","c":"rule","cf":1.0,"i":2,"sa":"s"}'),
    ('["x","fact",0.5,1,1,"s"]', '{"t":"x","c":"fact","cf":0.5,"i":1,"sa":"s"}'),
]


@pytest.mark.parametrize("given,expected", LEGACY)
def test_tolerant_reader(given, expected):
    assert kc.parse_claim_or_legacy(given) == expected
    assert kc.parse_claim_or_legacy(decrypted=given) == expected


@pytest.mark.parametrize("given", [case[0] for case in INVALID])
def test_tolerant_reader_never_raises(given):
    out = kc.parse_claim_or_legacy(given)
    # Whatever came in, the result is a strictly valid canonical claim.
    assert canonical(out) == out


# ---- entity names ---------------------------------------------------------------

# Unicode White_Space, as listed for the collapse step.
WHITE_SPACE = set("\t\n\x0b\x0c\r \x85\xa0\u1680\u2028\u2029\u202f\u205f\u3000") | {
    chr(c) for c in range(0x2000, 0x200B)
}


def reference_normalize(name):
    pieces, current = [], []
    for ch in name:
        if ch in WHITE_SPACE:
            if current:
                pieces.append("".join(current))
                current = []
        else:
            current.append(ch)
    if current:
        pieces.append("".join(current))
    collapsed = " ".join(pieces)
    # Each character on its own: no final-sigma context.
    lowered = "".join(ch.lower() for ch in collapsed)
    return unicodedata.normalize("NFC", lowered)


NAMES = [
    ("\tAlice \u00a0 SMITH \n", "alice smith"),
    ("E\u0301", "\u00e9"),
    ("", ""),
    (" \t\u3000\n", ""),
    ("Alice Smith", "alice smith"),
    ("  alice    SMITH  ", "alice smith"),
    ("ΟΔΟΣ", "οδοσ"),
    ("ΣΑΣ ΑΣ", "σασ ασ"),
    ("İstanbul", "i\u0307stanbul"),
    ("ẞ", "ß"),
    ("A\u2028B\u205f\u1680C\u0085D\u202fE", "a b c d e"),
    ("zero\u200bwidth\ufeffkept", "zero\u200bwidth\ufeffkept"),
    ("\u180eMongolian", "\u180emongolian"),
    ("Å\u0301 ǅ Ⅻ", None),
    ("a\u0323\u0307", None),
    ("日本 語", "日本 語"),
]


@pytest.mark.parametrize("name,expected", NAMES)
def test_normalize_entity_name(name, expected):
    if expected is not None:
        assert reference_normalize(name) == expected
    assert kc.normalize_entity_name(name) == reference_normalize(name)


@pytest.mark.parametrize("name", [n for n, _ in NAMES])
def test_deterministic_entity_id(name):
    digest = hashlib.sha256(reference_normalize(name).encode()).hexdigest()
    assert kc.deterministic_entity_id(name) == digest[:16]


def test_entity_id_literals():
    assert kc.deterministic_entity_id("") == "e3b0c44298fc1c14"
    assert kc.deterministic_entity_id("  Alice   SMITH ") == kc.deterministic_entity_id("alice smith")
