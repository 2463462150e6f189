"""Pin status in both claim formats, the lossy status parser, and pin tier
boosts against a plain-Python reference of the decay formula."""
import math

import pytest

import kelvane_core as kc

DEFAULT = '{"soft_half_life_days":90,"soft_max_boost":1.5,"hard_boost":1.5}'
INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1
DAY = 86400


@pytest.mark.parametrize("text,expected", [
    ("  PINNED \n", "pinned"),
    ("pinned", "pinned"),
    ("Pinned", "pinned"),
    ("\u3000pinned\u00a0", "pinned"),
    ("pin", "unpinned"),
    ("", "unpinned"),
    ("unpinned", "unpinned"),
    ("pinned!", "unpinned"),
    ("pin ned", "unpinned"),
])
def test_parse_pin_status(text, expected):
    assert kc.parse_pin_status(text) == expected


V1 = '"id":"1","text":"t","type":"claim","source":"user","created_at":"c"'
COMPACT = '"t":"x","c":"fact","cf":0.9,"i":5,"sa":"a"'

PIN_CASES = [
    ("{" + COMPACT + ',"st":"p"}', True),
    ("{" + COMPACT + "}", False),
    ("{" + COMPACT + ',"st":"s"}', False),
    ('["x","fact",0.9,5,1,"a",null,null,[],null,null,null,"p"]', True),
    ("{" + V1 + ',"pin_status":"pinned"}', True),
    ("{" + V1 + ',"pin_status":"unpinned"}', False),
    ("{" + V1 + "}", False),
    # A valid v1 claim is judged by pin_status alone.
    ("{" + V1 + "," + COMPACT + ',"st":"p"}', False),
    ("{" + V1 + "," + COMPACT + ',"pin_status":"pinned"}', True),
    # Not a valid v1 claim (bad token), but a valid pinned compact claim.
    ("{" + COMPACT + ',"st":"p","type":"weird","id":"1"}', True),
    # Neither reads strictly: not pinned, no error.
    ("{" + COMPACT + ',"st":"P"}', False),
    ("{" + V1 + ',"pin_status":"PINNED"}', False),
    ('{"pin_status":"pinned"}', False),
    ('{"st":"p"}', False),
    ("not json", False),
    ("", False),
    ("[]", False),
    ('"pinned"', False),
    ("{" + COMPACT + ',"st":"p"} trailing', False),
]


@pytest.mark.parametrize("fn", [kc.is_pinned_claim, kc.is_pinned_claim_json])
@pytest.mark.parametrize("text,expected", PIN_CASES)
def test_pin_test(fn, text, expected):
    assert fn(text) is expected


def test_default_pin_config():
    assert kc.default_pin_config() == DEFAULT


def reference_boost(tier, now, half_life=90, soft_max=1.5, hard=1.5):
    """The decay rule written from its description."""
    if tier["tier"] == "none":
        return 1.0
    if tier["tier"] == "hard":
        return hard
    age = min(max(now - tier["pinned_at"], INT64_MIN), INT64_MAX)
    age_days = float(age) / 86400.0
    if not age_days > 0 or half_life == 0:
        return soft_max
    x = (age_days * -0.6931471805599453) / half_life
    return 1 + (soft_max - 1) * math.exp(x)


def config(half_life=90, soft_max=1.5, hard=1.5):
    return (f'{{"soft_half_life_days":{half_life},"soft_max_boost":{soft_max!r},'
            f'"hard_boost":{hard!r}}}')


# The literals of the default configuration.
@pytest.mark.parametrize("tier_json,now,expected", [
    ('{"tier":"soft","pinned_at":0}', 90 * DAY, 1.25),
    ('{"tier":"soft","pinned_at":0}', 180 * DAY, 1.125),
    ('{"tier":"soft","pinned_at":0}', 0, 1.5),
    ('{"tier":"soft","pinned_at":0}', -1, 1.5),
    ('{"tier":"soft","pinned_at":1716000000}', 1716000000 - 5, 1.5),
    ('{"tier":"hard"}', 10**12, 1.5),
    ('{"tier":"none"}', 123, 1.0),
])
def test_boost_literals(tier_json, now, expected):
    assert kc.pin_boost(tier_json, now, DEFAULT) == expected


SOFT_CASES = [
    # (pinned_at, now, half_life, soft_max)
    (0, 1, 90, 1.5),
    (0, 45 * DAY, 90, 1.5),
    (1716000000, 1716000000 + 3 * DAY + 17, 90, 1.5),
    (0, 10**7, 30, 2.0),
    (0, 10**7, 4294967295, 3.25),
    (0, 400 * DAY, 90, 0.5),  # a boost below 1.0 demotes
    (0, 10**9, 0, 1.75),  # half-life 0: no decay
    (-5, 10**9, 0, 1.75),
    # The age saturates instead of wrapping: the pin is infinitely old...
    (INT64_MIN, INT64_MAX, 90, 1.5),
    # ...or lies in the far future.
    (INT64_MAX, INT64_MIN, 90, 1.5),
    (INT64_MIN, 0, 1, 1.5),
]


@pytest.mark.parametrize("pinned_at,now,half_life,soft_max", SOFT_CASES)
def test_soft_decay(pinned_at, now, half_life, soft_max):
    tier = f'{{"tier":"soft","pinned_at":{pinned_at}}}'
    expected = reference_boost({"tier": "soft", "pinned_at": pinned_at}, now, half_life, soft_max)
    assert kc.pin_boost(tier, now, config(half_life, soft_max)) == expected


def test_saturation_literals():
    # Wrapping would give an age of 1 second and of -1 second.
    assert kc.pin_boost(f'{{"tier":"soft","pinned_at":{INT64_MAX}}}', INT64_MIN, DEFAULT) == 1.5
    assert kc.pin_boost(f'{{"tier":"soft","pinned_at":{INT64_MIN}}}', INT64_MAX, DEFAULT) == 1.0


@pytest.mark.parametrize("tier_json,expected", [
    ('{"tier":"hard","pinned_at":"ignored"}', 0.75),
    ('{"tier":"none","extra":[1,2]}', 1.0),
    ('{"pinned_at":5,"tier":"soft","x":null}', 3.0),
])
def test_other_tier_keys_are_ignored(tier_json, expected):
    assert kc.pin_boost(tier_json, 5, config(90, 3.0, 0.75)) == expected


def test_config_keys_in_any_order_and_extra_keys():
    text = '{"hard_boost":2,"extra":1,"soft_max_boost":1,"soft_half_life_days":1}'
    assert kc.pin_boost('{"tier":"hard"}', 0, text) == 2.0


TIER_ERRORS = [
    '{"tier":"soft"}',
    '{"tier":"Soft","pinned_at":0}',
    '{"tier":"pinned"}',
    '{"pinned_at":0}',
    "{}",
    '{"tier":null}',
    '{"tier":1}',
    '{"tier":"soft","pinned_at":"0"}',
    '{"tier":"soft","pinned_at":1.5}',
    '{"tier":"soft","pinned_at":null}',
    '{"tier":"soft","pinned_at":9223372036854775808}',
    '{"tier":"hard","tier":"none"}',
    '"hard"',
    "[]",
    "",
    '{"tier":"hard"} x',
]

CONFIG_ERRORS = [
    '{"soft_max_boost":1.5,"hard_boost":1.5}',
    '{"soft_half_life_days":90,"hard_boost":1.5}',
    '{"soft_half_life_days":90,"soft_max_boost":1.5}',
    '{"soft_half_life_days":-1,"soft_max_boost":1.5,"hard_boost":1.5}',
    '{"soft_half_life_days":4294967296,"soft_max_boost":1.5,"hard_boost":1.5}',
    '{"soft_half_life_days":90.0,"soft_max_boost":1.5,"hard_boost":1.5}',
    '{"soft_half_life_days":90,"soft_max_boost":"1.5","hard_boost":1.5}',
    '{"soft_half_life_days":90,"soft_max_boost":1.5,"hard_boost":null}',
    '{"soft_half_life_days":90,"soft_max_boost":1.5,"hard_boost":1.5,"hard_boost":2}',
    "[90,1.5,1.5]",
    "",
    DEFAULT + "]",
]


@pytest.mark.parametrize("tier_json", TIER_ERRORS)
def test_tier_errors(tier_json):
    with pytest.raises(ValueError, match=r"^invalid PinTier json: .") as err:
        kc.pin_boost(tier_json, 0, DEFAULT)
    # Both bad: the tier is reported.
    with pytest.raises(ValueError, match=r"^invalid PinTier json: "):
        kc.pin_boost(tier_json, 0, "{}")
    assert "PinConfig" not in str(err.value)


@pytest.mark.parametrize("config_json", CONFIG_ERRORS)
@pytest.mark.parametrize("tier_json", ['{"tier":"none"}', '{"tier":"hard"}', '{"tier":"soft","pinned_at":1}'])
def test_config_errors_even_for_the_none_tier(tier_json, config_json):
    with pytest.raises(ValueError, match=r"^invalid PinConfig json: ."):
        kc.pin_boost(tier_json, 0, config_json)


def test_error_descriptions_name_the_member():
    with pytest.raises(ValueError, match="pinned_at"):
        kc.pin_boost('{"tier":"soft"}', 0, DEFAULT)
    with pytest.raises(ValueError, match="Soft"):
        kc.pin_boost('{"tier":"Soft"}', 0, DEFAULT)
    with pytest.raises(ValueError, match="hard_boost"):
        kc.pin_boost('{"tier":"none"}', 0, CONFIG_ERRORS[2])


@pytest.mark.parametrize("now,error", [(2**63, OverflowError), (-(2**63) - 1, OverflowError),
                                       (1.0, TypeError), ("0", TypeError)])
def test_now_unix_conversion(now, error):
    with pytest.raises(error):
        kc.pin_boost('{"tier":"none"}', now, DEFAULT)


def test_keywords():
    assert kc.pin_boost(tier_json='{"tier":"hard"}', now_unix=0, config_json=DEFAULT) == 1.5
