"""Memory Taxonomy v1: strict validation and canonical form, lossy type and
source parsers, and the type names with their category tokens."""
import pytest

import kelvane_core as kc

PREFIX = "invalid v1 claim: "
HEAD = '"id":"1","text":"t","type":"preference","source":"user","created_at":"2024-01-01T00:00:00Z"'
MINIMAL = "{" + HEAD + "}"

VALID = [
    ("{" + HEAD + ',"schema_version":"1.0","scope":"unspecified","volatility":"updatable","entities":[],'
     '"metadata":{}}', MINIMAL),
    ("{" + HEAD + ',"pin_status":"pinned","confidence":1,"volatility":"stable","scope":"work"}',
     "{" + HEAD + ',"scope":"work","volatility":"stable","confidence":1.0,"pin_status":"pinned"}'),
    # Metadata with nothing in it is left out; with one text it is kept.
    ("{" + HEAD + ',"metadata":{"lessons":[]}}', MINIMAL),
    ("{" + HEAD + ',"metadata":{"subtype":"x"}}', "{" + HEAD + ',"metadata":{"subtype":"x"}}'),
    ("{" + HEAD + ',"metadata":{"subtype":null,"key_outcomes":[],"zz":1}}', MINIMAL),
    ("{" + HEAD + ',"metadata":null}', MINIMAL),
    ("{" + HEAD + ',"metadata":{"subtype":""}}', "{" + HEAD + ',"metadata":{"subtype":""}}'),
    # null is absent for the plain optional members.
    ("{" + HEAD + ',"reasoning":null,"expires_at":null,"importance":null,"confidence":null,'
     '"superseded_by":null,"pin_status":null}', MINIMAL),
    # Unknown keys are ignored.
    ("{" + HEAD + ',"t":"compact","c":"fact","extra":{"a":[1]}}', MINIMAL),
    # Everything, scrambled, comes back in declared order.
    ('{"metadata":{"import_source":"gemini","files_affected":["a.py","b.py"],"topics_discussed":["t1"],'
     '"lessons":["l1","l2"],"open_threads":["o1"],"key_outcomes":["k1"],"context":"ctx","session_id":"s1",'
     '"subtype":"debrief"},"pin_status":"unpinned","superseded_by":"2","confidence":0.25,"importance":255,'
     '"expires_at":"2025-01-01","reasoning":"because","entities":[{"role":"lead","type":"person","name":"Ann"},'
     '{"name":"Kelvane","type":"project"}],"volatility":"ephemeral","scope":"finance","schema_version":"1.0",'
     '"created_at":"now","source":"user-inferred","type":"commitment","text":"T \\"q\\" é","id":"abc"}',
     '{"id":"abc","text":"T \\"q\\" é","type":"commitment","source":"user-inferred","created_at":"now",'
     '"scope":"finance","volatility":"ephemeral","entities":[{"name":"Ann","type":"person","role":"lead"},'
     '{"name":"Kelvane","type":"project"}],"reasoning":"because","expires_at":"2025-01-01","importance":255,'
     '"confidence":0.25,"superseded_by":"2","pin_status":"unpinned","metadata":{"subtype":"debrief",'
     '"session_id":"s1","context":"ctx","key_outcomes":["k1"],"open_threads":["o1"],"lessons":["l1","l2"],'
     '"topics_discussed":["t1"],"files_affected":["a.py","b.py"],"import_source":"gemini"}}'),
    ("{" + HEAD + ',"importance":0,"confidence":-2.5e-7}',
     "{" + HEAD + ',"importance":0,"confidence":-2.5e-7}'),
]

TYPES = ["claim", "preference", "directive", "commitment", "episode", "summary"]
SOURCES = ["user", "user-inferred", "assistant", "external", "derived"]
SCOPES = ["work", "personal", "health", "family", "creative", "finance", "misc"]
VOLATILITIES = ["stable", "ephemeral"]


@pytest.mark.parametrize("given,expected", VALID)
def test_canonical_v1(given, expected):
    assert kc.validate_memory_claim_v1(given) == expected
    assert kc.validate_memory_claim_v1(expected) == expected


def one_of(key, values):
    return [(key, v) for v in values]


@pytest.mark.parametrize("key,value", one_of("type", TYPES) + one_of("source", SOURCES)
                         + one_of("scope", SCOPES) + one_of("volatility", VOLATILITIES))
def test_every_token_round_trips(key, value):
    fields = {"id": "1", "text": "t", "type": "claim", "source": "user", "created_at": "c"}
    fields[key] = value
    order = ["id", "text", "type", "source", "created_at", "scope", "volatility"]
    text = "{" + ",".join(f'"{k}":"{fields[k]}"' for k in order if k in fields) + "}"
    assert kc.validate_memory_claim_v1(text) == text


@pytest.mark.parametrize("version", ["1.1", "2.0", "", "1", "1.0 "])
def test_unsupported_schema_version(version):
    with pytest.raises(ValueError) as err:
        kc.validate_memory_claim_v1("{" + HEAD + f',"schema_version":"{version}"}}')
    assert str(err.value) == f"unsupported schema_version {version}: only 1.0 is supported"


# (input, text the message must contain after the prefix)
INVALID = [
    ('{"id":"1","text":"t","type":"claim","source":"user"}', "`created_at`"),
    ('{"text":"t","type":"claim","source":"user","created_at":"c"}', "`id`"),
    ('{"id":"1","type":"claim","source":"user","created_at":"c"}', "`text`"),
    ('{"id":"1","text":"t","source":"user","created_at":"c"}', "`type`"),
    ('{"id":"1","text":"t","type":"claim","created_at":"c"}', "`source`"),
    # A bad schema version does not hide a missing member.
    ('{"id":"1","text":"t","type":"claim","source":"user","schema_version":"2.0"}', "`created_at`"),
    ('{"id":"1","text":"t","type":"Preference","source":"user","created_at":"c"}', "Preference"),
    ('{"id":"1","text":"t","type":"fact","source":"user","created_at":"c"}', "fact"),
    ('{"id":"1","text":"t","type":"claim","source":"tool","created_at":"c"}', "tool"),
    ('{"id":"1","text":"t","type":"claim","source":"user_inferred","created_at":"c"}', "user_inferred"),
    ("{" + HEAD + ',"scope":"Work"}', "Work"),
    ("{" + HEAD + ',"scope":null}', "`scope`"),
    ("{" + HEAD + ',"volatility":"volatile"}', "volatile"),
    ("{" + HEAD + ',"volatility":null}', "`volatility`"),
    ("{" + HEAD + ',"schema_version":null}', "`schema_version`"),
    ("{" + HEAD + ',"schema_version":1.0}', "`schema_version`"),
    ("{" + HEAD + ',"entities":null}', "`entities`"),
    ("{" + HEAD + ',"entities":[{"name":"A"}]}', "`type`"),
    ("{" + HEAD + ',"entities":[{"type":"tool"}]}', "`name`"),
    ("{" + HEAD + ',"entities":[{"name":"A","type":"animal"}]}', "animal"),
    ("{" + HEAD + ',"entities":[{"name":"A","type":"tool","role":1}]}', "`role`"),
    ("{" + HEAD + ',"importance":256}', "`importance`"),
    ("{" + HEAD + ',"importance":-1}', "`importance`"),
    ("{" + HEAD + ',"importance":1.5}', "`importance`"),
    ("{" + HEAD + ',"confidence":"high"}', "`confidence`"),
    ("{" + HEAD + ',"pin_status":"Pinned"}', "Pinned"),
    ("{" + HEAD + ',"pin_status":true}', "`pin_status`"),
    ("{" + HEAD + ',"reasoning":["r"]}', "`reasoning`"),
    ("{" + HEAD + ',"created_at":"again"}', "duplicate field `created_at`"),
    ("{" + HEAD + ',"metadata":[]}', "metadata"),
    ("{" + HEAD + ',"metadata":{"lessons":null}}', "`lessons`"),
    ("{" + HEAD + ',"metadata":{"lessons":[1]}}', "lessons"),
    ("{" + HEAD + ',"metadata":{"subtype":2}}', "`subtype`"),
    ("{" + HEAD + ',"metadata":{"context":"a","context":"b"}}', "duplicate field `context`"),
    ('{"id":1,"text":"t","type":"claim","source":"user","created_at":"c"}', "`id`"),
    ("[]", "object"),
    ("", ""),
    ("nope", ""),
    (MINIMAL + " x", ""),
]


@pytest.mark.parametrize("given,fragment", INVALID)
def test_invalid_v1_claim(given, fragment):
    with pytest.raises(ValueError) as err:
        kc.validate_memory_claim_v1(given)
    message = str(err.value)
    assert message.startswith(PREFIX)
    assert len(message) > len(PREFIX)
    assert fragment in message[len(PREFIX):]


# ---- lossy parsers -------------------------------------------------------------

@pytest.mark.parametrize("text,expected", [
    (" Episode ", "episode"),
    ("pref", "claim"),
    ("", "claim"),
    ("PREFERENCE", "preference"),
    ("\u00a0directive\u3000\n", "directive"),
    ("Commit ment", "claim"),
    ("summary.", "claim"),
    ("claim", "claim"),
    ("\tCOMMITMENT", "commitment"),
])
def test_parse_memory_type_v1(text, expected):
    assert kc.parse_memory_type_v1(text) == expected
    assert kc.parse_memory_type_v1(s=text) == expected


@pytest.mark.parametrize("text,expected", [
    ("tool", "user-inferred"),
    ("Derived", "derived"),
    ("User_Inferred", "user-inferred"),
    (" ASSISTANT ", "assistant"),
    ("user inferred", "user-inferred"),
    ("\u2003External\n", "external"),
    ("user", "user"),
    ("USER", "user"),
    ("", "user-inferred"),
    ("users", "user-inferred"),
    ("assistant_", "user-inferred"),
])
def test_parse_memory_source(text, expected):
    assert kc.parse_memory_source(text) == expected


# ---- type names ------------------------------------------------------------------

def test_type_names_and_categories():
    assert kc.get_valid_memory_types() == TYPES
    mapping = kc.get_type_to_category()
    assert isinstance(mapping, dict)
    assert list(mapping.items()) == [
        ("claim", "claim"), ("preference", "pref"), ("directive", "rule"),
        ("commitment", "goal"), ("episode", "epi"), ("summary", "sum"),
    ]
    # Fresh objects each call.
    mapping["x"] = "y"
    assert "x" not in kc.get_type_to_category()


@pytest.mark.parametrize("value,valid,category", [
    ("claim", True, "claim"),
    ("directive", True, "rule"),
    ("summary", True, "sum"),
    ("Claim", False, None),
    (" claim", False, None),
    ("fact", False, None),
    ("pref", False, None),
    ("", False, None),
])
def test_membership_and_mapping_are_exact(value, valid, category):
    assert kc.py_is_valid_memory_type(value) is valid
    assert kc.py_map_type_to_category(value) == category
    assert kc.py_map_type_to_category(value=value) == category


def test_arguments_must_be_str():
    for fn in (kc.validate_memory_claim_v1, kc.parse_memory_type_v1, kc.parse_memory_source,
               kc.py_is_valid_memory_type, kc.py_map_type_to_category):
        with pytest.raises(TypeError):
            fn(None)
