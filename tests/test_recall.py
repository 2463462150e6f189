"""The recall block and index confirmation."""
import datetime
import json

import pytest

import kelvane_core as kc

EPOCH = datetime.date(1970, 1, 1)
DAYS_PER_400_YEARS = 146097
INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1


def civil_date(days):
    """The proleptic Gregorian date of a day number, for any year: datetime
    covers one 400-year cycle and the calendar repeats after it."""
    cycles, rest = divmod(days, DAYS_PER_400_YEARS)
    d = EPOCH + datetime.timedelta(days=rest)
    return f"{d.year + 400 * cycles:04d}-{d.month:02d}-{d.day:02d}"


def days_to(year, month, day):
    cycles, base = divmod(year - 1970, 400)
    return (datetime.date(1970 + base, month, day) - EPOCH).days + cycles * DAYS_PER_400_YEARS


LAST_DAY = days_to(262142, 12, 31)

DATE_LITERALS = [
    (1, "1970-01-01"),
    (86399, "1970-01-01"),
    (86400, "1970-01-02"),
    (0, ""),
    (-5, ""),
    (1705276800, "2024-01-15"),
    (INT64_MIN, ""),
    (INT64_MAX, ""),
    (LAST_DAY * 86400, "262142-12-31"),
    (LAST_DAY * 86400 + 86399, "262142-12-31"),
    ((LAST_DAY + 1) * 86400, ""),
]


@pytest.mark.parametrize("secs,expected", DATE_LITERALS)
def test_format_memory_date_literals(secs, expected):
    assert kc.format_memory_date(secs) == expected


DATE_SAMPLES = [
    59, 951782400, 951868799, 951868800, 978307199, 4107542400, 253402300799, 253402300800,
    days_to(10000, 2, 29) * 86400 + 7, days_to(12000, 3, 1) * 86400 - 1, days_to(100000, 12, 31) * 86400,
    days_to(262000, 6, 15) * 86400 + 43200,
]


@pytest.mark.parametrize("secs", DATE_SAMPLES)
def test_format_memory_date_against_the_calendar(secs):
    if secs <= 253402300799:
        d = datetime.datetime.fromtimestamp(secs, datetime.timezone.utc).date()
        assert kc.format_memory_date(secs) == d.isoformat()
    assert kc.format_memory_date(secs) == civil_date(secs // 86400)


@pytest.mark.parametrize("value,error", [(2**63, OverflowError), (1.5, TypeError), ("1", TypeError)])
def test_format_memory_date_argument(value, error):
    with pytest.raises(error):
        kc.format_memory_date(value)


# ---- the recall block --------------------------------------------------------------------

FIRST_LINE = "## Relevant memories from Kelvane"
SECOND_LINE = ("The current date is {}. Each memory is tagged with the date it was recorded. When the question "
               "involves timing or duration, reason carefully about the dates and compute differences precisely.")


def header(date):
    return FIRST_LINE + "\n" + SECOND_LINE.format(date) + "\n"


@pytest.mark.parametrize("now,date", [(1705276800, "2024-01-15"), (0, ""), (-1, ""), (INT64_MAX, ""),
                                      (1705276800 + 86399, "2024-01-15")])
def test_recall_context_header(now, date):
    assert kc.recall_context_header(now) == header(date)


def test_header_without_a_date_reads_as_stated():
    second = kc.recall_context_header(0).split("\n")[1]
    assert second.startswith("The current date is . Each memory")


TEA = {"category": "preference", "text": "Likes tea", "created_at": 1705276800}

RECALL_CASES = [
    # (name, items_json, memory lines)
    ("dated item", [TEA], ["- [preference] (2024-01-15) Likes tea"]),
    ("undated item", [{**TEA, "created_at": 0}], ["- [preference] Likes tea"]),
    ("negative date", [{**TEA, "created_at": -3}], ["- [preference] Likes tea"]),
    ("date past the range", [{**TEA, "created_at": INT64_MAX}], ["- [preference] Likes tea"]),
    ("no category", [{"text": "x", "created_at": 86400}], ["- [] (1970-01-02) x"]),
    ("empty object", [{}], ["- [] "]),
    ("two items", [TEA, {"category": "fact", "text": "Lives in Oslo"}],
     ["- [preference] (2024-01-15) Likes tea", "- [fact] Lives in Oslo"]),
    ("unknown members ignored", [{**TEA, "importance": 0.9, "tags": [1]}], ["- [preference] (2024-01-15) Likes tea"]),
    ("texts kept as they are", [{"category": "a]b", "text": "line\nnext é"}], ["- [a]b] line\nnext é"]),
    ("empty array", [], []),
    ("invalid JSON", "[{", []),
    ("empty text", "", []),
    ("not an array", {"items": [TEA]}, []),
    ("fractional created_at", [{**TEA, "created_at": 1705276800.0}], []),
    ("fractional created_at in one of two items", [TEA, {**TEA, "created_at": 1.5}], []),
    ("created_at beyond 64 bits", '[{"created_at": 9223372036854775808}]', []),
    ("created_at as text", [{**TEA, "created_at": "1705276800"}], []),
    ("null category", [{**TEA, "category": None}], []),
    ("null created_at", [{**TEA, "created_at": None}], []),
    ("numeric text", [{**TEA, "text": 5}], []),
    ("item not an object", [TEA, "x"], []),
    ("repeated member", '[{"text": "a", "text": "b"}]', []),
    ("deep nesting", "[" * 100000 + "]" * 100000, []),
]


@pytest.mark.parametrize("name,items,lines", RECALL_CASES, ids=[c[0] for c in RECALL_CASES])
def test_format_recall_context(name, items, lines):
    text = items if isinstance(items, str) else json.dumps(items)
    now = 1705276800
    expected = header("2024-01-15") + "\n".join(lines)
    assert kc.format_recall_context(text, now) == expected


def test_format_recall_context_with_an_undatable_now():
    assert kc.format_recall_context(json.dumps([TEA]), 0) == header("") + "- [preference] (2024-01-15) Likes tea"


# ---- index confirmation --------------------------------------------------------------------

CONFIRM_LINES = [
    (2, "query ConfirmIndexed($id: ID!) {"),
    (4, "fact(id: $id) {"),
    (6, "id"),
    (6, "isActive"),
    (6, "blockNumber"),
    (4, "}"),
    (2, "}"),
]


def test_confirm_indexed_query():
    expected = "\n" + "".join(" " * n + text + "\n" for n, text in CONFIRM_LINES)
    assert len(expected) == 108
    assert kc.confirm_indexed_query() == expected


def test_polling_defaults():
    assert kc.confirm_indexed_default_poll_ms() == 1000
    assert kc.confirm_indexed_default_timeout_ms() == 30000
    assert type(kc.confirm_indexed_default_poll_ms()) is int


CONFIRM_CASES = [
    ('{"data": null}', False),
    ('{"data": {"fact": {"id": "f", "isActive": true, "blockNumber": "12"}}}', True),
    ('{"data": {"fact": {"id": "f", "isActive": false}}}', False),
    ('{"data": {"fact": null}}', False),
    ('{"data": {"fact": {"id": "f"}}}', False),
    ('{"data": {"fact": {"isActive": "true"}}}', False),
    ('{"data": {"fact": {"isActive": 1}}}', False),
    ('{"data": {"fact": {"isActive": null}}}', False),
    ('{"data": {"fact": "yes"}}', False),
    ('{"data": {"fact": {"isActive": true}}, "errors": []}', True),
    ('{"fact": {"isActive": false}}', False),
    ('{"fact": {"isActive": true}}', True),
    ('{"fact": null}', False),
    ('  {"fact": {"isActive": true}}\n', True),
    # A free JSON map keeps the last of repeated members.
    ('{"fact": {"isActive": false, "isActive": true}}', True),
    ('{"data": {"fact": {"isActive": true}}, "data": null}', False),
]


@pytest.mark.parametrize("text,expected", CONFIRM_CASES)
def test_confirm_indexed_parse(text, expected):
    assert kc.confirm_indexed_parse(text) is expected


SHAPE = "confirm_indexed: response did not match either {data:{fact}} or {fact} shape: "
WRAPPED = "confirm_indexed: wrapped response missing `fact` field under `data`"

LONG = "é" * 150 + "x" * 150  # 300 characters, 450 bytes

CONFIRM_ERRORS = [
    # (text, exact message or (prefix, suffix) for the not-valid-JSON case)
    ("{}", SHAPE + "{}"),
    ('{"result": {"fact": null}}', SHAPE + '{"result": {"fact": null}}'),
    ("[1]", SHAPE + "[1]"),
    ("5", SHAPE + "5"),
    ('{"data": {}}', WRAPPED),
    ('{"data": 5}', WRAPPED),
    ('{"data": {"Fact": null}}', WRAPPED),
    (json.dumps({"other": LONG}, ensure_ascii=False), SHAPE + json.dumps({"other": LONG}, ensure_ascii=False)[:200]),
]


@pytest.mark.parametrize("text,message", CONFIRM_ERRORS)
def test_confirm_indexed_parse_errors(text, message):
    with pytest.raises(ValueError) as err:
        kc.confirm_indexed_parse(text)
    assert str(err.value) == message


@pytest.mark.parametrize("text", ["", "{", "not json", LONG, '{"fact": true} trailing', '{"a": 1,}',
                                  "[" * 5000 + "]" * 5000])
def test_confirm_indexed_parse_invalid_json(text):
    with pytest.raises(ValueError) as err:
        kc.confirm_indexed_parse(text)
    message = str(err.value)
    prefix = "confirm_indexed: response is not valid JSON ("
    suffix = "). Body: " + text[:200]
    assert message.startswith(prefix) and message.endswith(suffix)
    assert len(message) > len(prefix) + len(suffix)  # the reader's description is there
