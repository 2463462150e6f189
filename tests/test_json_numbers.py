"""Integers written with more digits than 64 bits hold are ordinary JSON
numbers: every reader takes them as the nearest double, where a number is
expected, and ignores them in members it does not read. Python's json module
is the oracle of what is valid JSON."""
import json

import pytest

import kelvane_core as kc
from test_reranker import ref_cosine

BIG = 123456789012345678901234567890
BIG_TEXT = str(BIG)
NEG_TEXT = "-" + BIG_TEXT
KEY = bytes(range(32))

V1_HEAD = '"id":"1","text":"t","type":"claim","source":"user","created_at":"c"'
CLAIM_HEAD = '"t":"x","c":"fact","i":1,"sa":"s"'


def ranked_text(plaintext):
    """The text decrypt_and_rerank ranks a fact under."""
    import os

    from nacl import bindings as nacl

    nonce = os.urandom(24)
    sealed = nacl.crypto_aead_xchacha20poly1305_ietf_encrypt(plaintext.encode(), None, nonce, KEY)
    blob = "0x" + (nonce + sealed[-16:] + sealed[:-16]).hex()
    facts = json.dumps([{"id": "f", "encryptedBlob": blob}])
    return [r["text"] for r in json.loads(kc.decrypt_and_rerank(facts, "q", [], KEY, 5))]


def rerank_embedding(values_text):
    candidates = '[{"id":"a","text":"x","embedding":' + values_text + ',"timestamp":""}]'
    return json.loads(kc.rerank("x", [1.0, 1.0], candidates, 1))[0]["cosine_score"]


CASES = [
    # (name, call, expected)
    ("legacy claim object with an unread big member",
     lambda: json.loads(kc.parse_claim_or_legacy('{"t":"hello","n":' + BIG_TEXT + "}"))["t"], "hello"),
    ("claim confidence", lambda: kc.canonicalize_claim("{" + CLAIM_HEAD + ',"cf":' + BIG_TEXT + "}"),
     '{"t":"x","c":"fact","cf":' + repr(float(BIG)) + ',"i":1,"sa":"s"}'),
    ("claim confidence, negative", lambda: json.loads(kc.canonicalize_claim("{" + CLAIM_HEAD + ',"cf":' + NEG_TEXT + "}"))["cf"],
     float(-BIG)),
    ("claim with an unknown big member",
     lambda: kc.canonicalize_claim("{" + CLAIM_HEAD + ',"cf":0.5,"zz":[' + BIG_TEXT + "]}"),
     '{"t":"x","c":"fact","cf":0.5,"i":1,"sa":"s"}'),
    ("v1 confidence", lambda: kc.validate_memory_claim_v1("{" + V1_HEAD + ',"confidence":' + BIG_TEXT + "}"),
     "{" + V1_HEAD + ',"confidence":' + repr(float(BIG)) + "}"),
    ("fact plaintext with an unread big member", lambda: ranked_text('{"t":"big","n":' + BIG_TEXT + "}"), ["big"]),
    ("candidate embedding", lambda: rerank_embedding("[" + BIG_TEXT + "," + NEG_TEXT + "]"), 0.0),
    ("candidate embedding, one big value", lambda: rerank_embedding("[" + BIG_TEXT + ",0]"),
     ref_cosine([1.0, 1.0], [BIG, 0])),
    ("search answer with an unread big member",
     lambda: [f["id"] for f in json.loads(kc.parse_search_response(
         '{"blindIndexes":[{"id":"e","n":' + BIG_TEXT + ',"fact":{"id":"f","encryptedBlob":"0x","n":'
         + NEG_TEXT + "}}]}"))], ["f"]),
    ("confirmation with a big block number",
     lambda: kc.confirm_indexed_parse('{"data":{"fact":{"isActive":true,"blockNumber":' + BIG_TEXT + "}}}"), True),
    ("recall item with an unread big member",
     lambda: kc.format_recall_context('[{"category":"c","text":"t","score":' + BIG_TEXT + "}]", 0).split("\n")[-1],
     "- [c] t"),
    ("pin configuration boost",
     lambda: kc.pin_boost('{"tier":"hard"}', 0, '{"soft_half_life_days":90,"soft_max_boost":1.5,"hard_boost":'
                          + BIG_TEXT + "}"), float(BIG)),
    ("big integer inside a string stays text",
     lambda: kc.canonicalize_claim('{"t":"' + BIG_TEXT + '","c":"fact","cf":1,"i":1,"sa":"s"}'),
     '{"t":"' + BIG_TEXT + '","c":"fact","cf":1.0,"i":1,"sa":"s"}'),
]


@pytest.mark.parametrize("name,call,expected", CASES, ids=[c[0] for c in CASES])
def test_big_integers_are_numbers(name, call, expected):
    assert call() == expected


# Where an integer is required, a value beyond 64 bits is refused like any
# other out-of-range value.
REFUSED = [
    (lambda: kc.canonicalize_claim('{"t":"x","c":"fact","cf":1,"i":' + BIG_TEXT + ',"sa":"s"}'), "`i`"),
    (lambda: kc.canonicalize_claim("{" + CLAIM_HEAD + ',"cf":1,"cc":' + BIG_TEXT + "}"), "`cc`"),
    (lambda: kc.validate_memory_claim_v1("{" + V1_HEAD + ',"importance":' + BIG_TEXT + "}"), "`importance`"),
    (lambda: kc.pin_boost('{"tier":"soft","pinned_at":' + NEG_TEXT + "}", 0,
                          '{"soft_half_life_days":90,"soft_max_boost":1.5,"hard_boost":1.5}'), "`pinned_at`"),
    (lambda: kc.parse_search_response('{"blindIndexes":[{"id":"e","fact":{"id":"f","encryptedBlob":"0x",'
                                      '"decayScore":' + BIG_TEXT + "}}]}"), "`decayScore`"),
]


@pytest.mark.parametrize("call,member", REFUSED)
def test_big_integers_where_integers_or_texts_are_required(call, member):
    with pytest.raises(ValueError) as err:
        call()
    assert member in str(err.value)


def test_big_created_at_makes_the_items_unreadable():
    items = '[{"category":"c","text":"t","created_at":' + BIG_TEXT + "}]"
    assert kc.format_recall_context(items, 0) == kc.recall_context_header(0)


@pytest.mark.parametrize("value", [
    BIG_TEXT + "x",  # still malformed after the digits
    BIG_TEXT + ",",
    "0" + BIG_TEXT,  # leading zero
    "-" + "0" + BIG_TEXT,
    "-",
    BIG_TEXT + ".",
    BIG_TEXT + "e",
])
def test_malformed_numbers_stay_errors(value):
    text = '{"fact":{"isActive":true,"n":' + value + "}}"
    with pytest.raises(ValueError):
        json.loads(text)
    with pytest.raises(ValueError) as err:
        kc.confirm_indexed_parse(text)
    assert str(err.value).startswith("confirm_indexed: response is not valid JSON (")
