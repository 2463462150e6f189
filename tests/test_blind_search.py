"""Blind search: the GraphQL texts, the readers of the indexer's answers and
the hex-to-base64 converter."""
import base64
import json
import random

import pytest

import kelvane_core as kc

# The query texts as line tables: (leading spaces, text).
SEARCH_LINES = [
    (2, "query SearchByBlindIndex($trapdoors: [String!]!, $owner: Bytes!, $first: Int!) {"),
    (4, "blindIndexes("),
    (6, "where: { hash_in: $trapdoors, owner: $owner, fact_: { isActive: true } }"),
    (6, "first: $first"),
    (6, "orderBy: id"),
    (6, "orderDirection: desc"),
    (4, ") {"),
    (6, "id"),
    (6, "fact {"),
    (8, "id"),
    (8, "encryptedBlob"),
    (8, "encryptedEmbedding"),
    (8, "decayScore"),
    (8, "timestamp"),
    (8, "createdAt"),
    (8, "isActive"),
    (8, "contentFp"),
    (6, "}"),
    (4, "}"),
    (2, "}"),
]
BROADENED_LINES = [
    (2, "query BroadenedSearch($owner: Bytes!, $first: Int!) {"),
    (4, "facts("),
    (6, "where: { owner: $owner, isActive: true }"),
    (6, "first: $first"),
    (6, "orderBy: timestamp"),
    (6, "orderDirection: desc"),
    (4, ") {"),
    (6, "id"),
    (6, "encryptedBlob"),
    (6, "encryptedEmbedding"),
    (6, "decayScore"),
    (6, "timestamp"),
    (6, "createdAt"),
    (6, "isActive"),
    (6, "contentFp"),
    (4, "}"),
    (2, "}"),
]
EXPORT_LINES = [
    (2, "query ExportFacts($owner: Bytes!, $first: Int!, $skip: Int!) {"),
    (4, "facts("),
    (6, "where: { owner: $owner, isActive: true }"),
    (6, "first: $first"),
    (6, "skip: $skip"),
    (6, "orderBy: timestamp"),
    (6, "orderDirection: desc"),
    (4, ") {"),
    (6, "id"),
    (6, "encryptedBlob"),
    (6, "encryptedEmbedding"),
    (6, "decayScore"),
    (6, "timestamp"),
    (6, "createdAt"),
    (6, "isActive"),
    (4, "}"),
    (2, "}"),
]


def build_query(lines):
    return "\n" + "".join(" " * spaces + text + "\n" for spaces, text in lines)


@pytest.mark.parametrize(
    "fn,lines,length",
    [
        (kc.get_search_query, SEARCH_LINES, 444),
        (kc.get_broadened_search_query, BROADENED_LINES, 339),
        (kc.get_export_query, EXPORT_LINES, 350),
    ],
)
def test_query_texts(fn, lines, length):
    expected = build_query(lines)
    assert len(expected) == length
    assert fn() == expected
    assert type(fn()) is str


def test_export_query_does_not_ask_for_the_fingerprint():
    assert "contentFp" not in kc.get_export_query()


# ---- the record and a plain-Python reading of the answers --------------------------

FACT_KEYS = ["id", "encryptedBlob", "encryptedEmbedding", "decayScore", "timestamp", "createdAt", "isActive",
             "contentFp"]


def record(fact):
    """The fact as the module writes it: eight members in order, absent as null."""
    return {k: fact.get(k) for k in FACT_KEYS}


def dumps(value):
    return json.dumps(value, separators=(",", ":"), ensure_ascii=False)


def reference_search(data):
    out, seen = [], set()
    for entry in data.get("blindIndexes") or []:
        fact = entry.get("fact")
        if fact is None or fact.get("isActive") is False or fact["id"] in seen:
            continue
        seen.add(fact["id"])
        out.append(record(fact))
    return out


def reference_broadened(data):
    return [record(f) for f in data.get("facts") or [] if f.get("isActive") is not False]


def fact(fid, active=None, **extra):
    f = {"id": fid, "encryptedBlob": "0x" + fid.encode().hex()}
    if active is not None:
        f["isActive"] = active
    f.update(extra)
    return f


def entries(*facts):
    return {"blindIndexes": [{"id": f"bi-{i}", "fact": f} for i, f in enumerate(facts)]}


def ordered_keys(text):
    return [list(dict(pairs)) for pairs in json.loads(text, object_pairs_hook=lambda p: p)]


SEARCH_CASES = [
    # (name, data, expected ids)
    ("one fact through three trapdoors", entries(fact("a"), fact("b"), fact("a"), fact("c"), fact("a")),
     ["a", "b", "c"]),
    ("inactive dropped, missing and null kept",
     entries(fact("a", False), fact("b"), fact("c", True), {"id": "d", "encryptedBlob": "", "isActive": None}),
     ["b", "c", "d"]),
    ("an inactive copy does not hide a later active one", entries(fact("a", False), fact("a", True)), ["a"]),
    ("fact null or missing is skipped",
     {"blindIndexes": [{"id": "x", "fact": None}, {"id": "y"}, {"id": "z", "fact": fact("k")}]}, ["k"]),
    ("full answer envelope", {"data": entries(fact("a"))}, []),
    ("blindIndexes null", {"blindIndexes": None}, []),
    ("empty object", {}, []),
    ("empty list", {"blindIndexes": []}, []),
    ("unknown members ignored",
     {"other": 1, "blindIndexes": [{"id": "e", "extra": [1], "fact": fact("a", junk={"x": 1})}]}, ["a"]),
]


@pytest.mark.parametrize("name,data,ids", SEARCH_CASES, ids=[c[0] for c in SEARCH_CASES])
def test_parse_search_response(name, data, ids):
    text = kc.parse_search_response(json.dumps(data))
    assert [f["id"] for f in json.loads(text)] == ids
    assert text == dumps(reference_search(data))


def test_fact_members_are_written_in_order_with_nulls():
    full = fact("f1", True, encryptedEmbedding="ZW1i", decayScore="0.75", timestamp="1700000000",
                createdAt="1700000001", contentFp="ab" * 32)
    # Input members in reverse order must not change the output order.
    shuffled = dict(reversed(list(full.items())))
    text = kc.parse_search_response(json.dumps(entries(shuffled, fact("f2"))))
    assert ordered_keys(text) == [FACT_KEYS, FACT_KEYS]
    assert json.loads(text) == [full, record(fact("f2"))]


def test_strings_keep_their_content():
    # Escapes, controls, solidus and non-ASCII survive the round trip and are
    # written in the compact minimal-escape form.
    odd = 'quote " back \\ slash / tab \t nl \n bell \x07 del \x7f é 日本 \U0001f600'
    data = entries(fact("é/日本", timestamp=odd, contentFp="\x00"))
    text = kc.parse_search_response(json.dumps(data, ensure_ascii=True))
    assert text == dumps(reference_search(data))
    assert json.loads(text)[0]["timestamp"] == odd


def test_ids_are_compared_after_unescaping():
    text = ('{"blindIndexes": [{"id": "1", "fact": {"id": "a\\u00e9", "encryptedBlob": "0x"}},'
            ' {"id": "2", "fact": {"id": "a\u00e9", "encryptedBlob": "0x01"}}]}')
    assert json.loads(kc.parse_search_response(text)) == [record({"id": "a\u00e9", "encryptedBlob": "0x"})]


def test_a_large_answer_matches_the_reference():
    rng = random.Random(5)
    pool = [f"0x{rng.getrandbits(64):016x}" for _ in range(120)]
    facts = []
    for _ in range(600):
        f = fact(rng.choice(pool), rng.choice([None, True, False]))
        if rng.random() < 0.5:
            f["decayScore"] = str(rng.random())
        facts.append(f)
    data = entries(*facts)
    data["blindIndexes"].insert(17, {"id": "bare", "fact": None})
    assert kc.parse_search_response(json.dumps(data)) == dumps(reference_search(data))


SEARCH_ERRORS = [
    # (name, text, fragment of the reader's description)
    ("not JSON", "{blindIndexes", ""),
    ("empty text", "", ""),
    ("trailing text", '{"blindIndexes": []} x', ""),
    ("two values", "{} {}", ""),
    ("deep nesting", '{"blindIndexes": ' + "[" * 100000 + "]" * 100000 + "}", ""),
    ("top level array", "[]", "expected an object"),
    ("blindIndexes not an array", '{"blindIndexes": {}}', "`blindIndexes`"),
    ("repeated blindIndexes", '{"blindIndexes": [], "blindIndexes": []}', "duplicate field `blindIndexes`"),
    ("entry not an object", '{"blindIndexes": [3]}', "expected an object"),
    ("entry without id", '{"blindIndexes": [{"fact": null}]}', "missing field `id`"),
    ("entry id a number", '{"blindIndexes": [{"id": 3, "fact": null}]}', "`id`"),
    ("entry id null", '{"blindIndexes": [{"id": null, "fact": null}]}', "`id`"),
    ("repeated fact", '{"blindIndexes": [{"id": "e", "fact": null, "fact": null}]}', "duplicate field `fact`"),
    ("fact not an object", '{"blindIndexes": [{"id": "e", "fact": "x"}]}', "expected an object"),
    ("fact without id", '{"blindIndexes": [{"id": "e", "fact": {"encryptedBlob": ""}}]}', "missing field `id`"),
    ("fact without blob", '{"blindIndexes": [{"id": "e", "fact": {"id": "f"}}]}', "missing field `encryptedBlob`"),
    ("blob null", '{"blindIndexes": [{"id": "e", "fact": {"id": "f", "encryptedBlob": null}}]}', "`encryptedBlob`"),
    ("decayScore a number",
     '{"blindIndexes": [{"id": "e", "fact": {"id": "f", "encryptedBlob": "", "decayScore": 0.5}}]}',
     "`decayScore`"),
    ("isActive a string",
     '{"blindIndexes": [{"id": "e", "fact": {"id": "f", "encryptedBlob": "", "isActive": "true"}}]}',
     "`isActive`"),
    ("repeated fact member",
     '{"blindIndexes": [{"id": "e", "fact": {"id": "f", "id": "g", "encryptedBlob": ""}}]}',
     "duplicate field `id`"),
    ("bad entry after good ones (no partial result)",
     json.dumps({"blindIndexes": [{"id": "a", "fact": fact("a")}, {"id": "b", "fact": {"id": "b"}}]}),
     "missing field `encryptedBlob`"),
    ("bad fact behind a hidden one",
     '{"blindIndexes": [{"id": "e", "fact": {"id": "f", "encryptedBlob": "", "isActive": false, "timestamp": 1}}]}',
     "`timestamp`"),
]


@pytest.mark.parametrize("name,text,fragment", SEARCH_ERRORS, ids=[c[0] for c in SEARCH_ERRORS])
def test_parse_search_response_errors(name, text, fragment):
    with pytest.raises(ValueError) as err:
        kc.parse_search_response(text)
    message = str(err.value)
    assert message.startswith("failed to parse search response: ")
    assert len(message) > len("failed to parse search response: ")
    assert fragment in message


BROADENED_CASES = [
    ("duplicates kept, inactive dropped",
     {"facts": [fact("a"), fact("b", False), fact("a", True), fact("c", None)]}, ["a", "a", "c"]),
    ("facts null", {"facts": None}, []),
    ("no facts", {}, []),
    ("full answer envelope", {"data": {"facts": [fact("a")]}}, []),
]


@pytest.mark.parametrize("name,data,ids", BROADENED_CASES, ids=[c[0] for c in BROADENED_CASES])
def test_parse_broadened_response(name, data, ids):
    text = kc.parse_broadened_response(json.dumps(data))
    assert [f["id"] for f in json.loads(text)] == ids
    assert text == dumps(reference_broadened(data))


BROADENED_ERRORS = [
    ("not JSON", "nope", ""),
    ("facts not an array", '{"facts": "x"}', "`facts`"),
    ("fact without blob", '{"facts": [{"id": "f"}]}', "missing field `encryptedBlob`"),
    ("createdAt a number", '{"facts": [{"id": "f", "encryptedBlob": "", "createdAt": 5}]}', "`createdAt`"),
    ("fact not an object", '{"facts": [null]}', "expected an object"),
]


@pytest.mark.parametrize("name,text,fragment", BROADENED_ERRORS, ids=[c[0] for c in BROADENED_ERRORS])
def test_parse_broadened_response_errors(name, text, fragment):
    with pytest.raises(ValueError) as err:
        kc.parse_broadened_response(text)
    assert str(err.value).startswith("failed to parse broadened response: ")
    assert fragment in str(err.value)


@pytest.mark.parametrize("fn", [kc.parse_search_response, kc.parse_broadened_response])
def test_parsers_take_str_only(fn):
    with pytest.raises(TypeError):
        fn(b"{}")


# ---- hex blob to base64 ----------------------------------------------------------------


def b64_of_hex(digits):
    return base64.b64encode(bytes.fromhex(digits)).decode()


HEX_CASES = [
    ("0x48656c6c6f", "SGVsbG8="),
    ("48656c6c6f", "SGVsbG8="),
    ("0x", ""),
    ("", ""),
    ("0xABCDEF", b64_of_hex("ABCDEF")),
    ("0xaBcD0e", b64_of_hex("aBcD0e")),
    ("00ff", b64_of_hex("00ff")),
    ("0X48", None),
    ("0x486", None),
    ("486", None),
    ("0", None),
    ("x", None),
    ("0xzz", None),
    ("0x0x00", None),
    (" 0x48", None),
    ("0x48 ", None),
    ("0x4é", None),
]


@pytest.mark.parametrize("hex_blob,expected", HEX_CASES)
def test_hex_blob_to_base64(hex_blob, expected):
    assert kc.hex_blob_to_base64(hex_blob) == expected


@pytest.mark.parametrize("size", [1, 2, 3, 40, 1000])
def test_hex_blob_to_base64_random(size):
    blob = random.Random(size).randbytes(size)
    assert kc.hex_blob_to_base64("0x" + blob.hex()) == base64.b64encode(blob).decode()
    assert kc.hex_blob_to_base64(blob.hex().upper()) == base64.b64encode(blob).decode()
