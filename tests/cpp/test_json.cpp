// The JSON writer's number and string forms and the record reader's errors.
#include <cmath>
#include <limits>

#include "check.hpp"
#include "frame/json_reader.hpp"
#include "frame/json_value.hpp"
#include "frame/json_writer.hpp"

using namespace kc;

KC_TEST(float_forms) {
    struct {
        double v;
        const char* text;
    } cases[] = {
        {1.0, "1.0"},
        {-1.0, "-1.0"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {0.1, "0.1"},
        {1.5, "1.5"},
        {123.456, "123.456"},
        {1e-5, "0.00001"},
        {1.5e-5, "0.000015"},
        {9.99e-6, "9.99e-6"},
        {1e-7, "1e-7"},
        {1.25e-10, "1.25e-10"},
        {1e15, "1000000000000000.0"},
        {9999999999999998.0, "9999999999999998.0"},
        {1e16, "1e+16"},
        {1.5e16, "1.5e+16"},
        {1.2345678901234568e17, "1.2345678901234568e+17"},
        {1e300, "1e+300"},
        {5e-324, "5e-324"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
        {0.30000000000000004, "0.30000000000000004"},
        {100.0, "100.0"},
        {-2.5e-8, "-2.5e-8"},
    };
    for (const auto& c : cases) CHECK_EQ(json::format_double(c.v), c.text);
    CHECK_EQ(json::format_double(std::nan("")), "null");
    CHECK_EQ(json::format_double(INFINITY), "null");
    CHECK_EQ(json::format_double(-INFINITY), "null");
}

KC_TEST(float32_forms_are_shortest_for_single_precision) {
    CHECK_EQ(json::format_float(0.1f), "0.1");
    CHECK_EQ(json::format_float(1.0f / 3.0f), "0.33333334");
    CHECK_EQ(json::format_float(16777216.0f), "16777216.0");
    CHECK_EQ(json::format_float(1e-7f), "1e-7");
    CHECK_EQ(json::format_float(3e38f), "3e+38");
}

KC_TEST(string_escaping) {
    std::string out;
    json::append_string(out, "a\"b\\c/d\b\f\n\r\t\x01\x1f\x7f é 🙂");
    CHECK_EQ(out, "\"a\\\"b\\\\c/d\\b\\f\\n\\r\\t\\u0001\\u001f\x7f é 🙂\"");
}

KC_TEST(writer_compact_and_pretty) {
    auto build = [](json::Writer w) {
        w.begin_object().key("a").integer(-1).key("b").begin_array().number(1.0).boolean(true).null().end_array();
        w.key("c").begin_object().end_object().key("d").begin_array().end_array().key("e").string("x").end_object();
        return std::move(w).finish().value();
    };
    CHECK_EQ(build(json::Writer()), "{\"a\":-1,\"b\":[1.0,true,null],\"c\":{},\"d\":[],\"e\":\"x\"}");
    CHECK_EQ(build(json::Writer(true)),
             "{\n  \"a\": -1,\n  \"b\": [\n    1.0,\n    true,\n    null\n  ],\n  \"c\": {},\n  \"d\": [],\n"
             "  \"e\": \"x\"\n}");
}

KC_TEST(writer_refuses_invalid_utf8) {
    json::Writer w;
    w.string(std::string_view("\xff", 1));
    CHECK(!std::move(w).finish().has_value());
}

KC_TEST(free_values_sort_keys_and_keep_number_kinds) {
    json::Document doc;
    auto root = doc.parse(R"({"b":1,"a":{"z":[1.0,-2,3e2],"y":"s"},"b":2, "c":null})");
    CHECK(root.has_value());
    CHECK_EQ(json::to_compact_json(json::to_value(*root)), R"({"a":{"y":"s","z":[1.0,-2,300.0]},"b":2,"c":null})");
}

KC_TEST(document_refuses_trailing_text_and_bad_tokens) {
    for (const char* bad : {"{} x", "[1] [2]", "{\"a\":1,}", "[tru]", "{'a':1}", "", "  ", "[1,]", "nul"}) {
        json::Document doc;
        CHECK(!doc.parse(bad).has_value());
    }
    json::Document doc;
    CHECK(doc.parse("  {\"a\": [1, 2]}\n\t ").has_value());
}

KC_TEST(members_strict_reading) {
    json::Document doc;
    auto root = doc.parse(R"({"name":"x","count":3,"ratio":0.5,"flag":true,"extra":1,"none":null,"neg":-4,"frac":1.0})");
    CHECK(root.has_value());
    auto m = json::Members::collect(*root, {"name", "count", "ratio", "flag", "none", "neg", "frac", "absent"});
    CHECK(m.has_value());
    CHECK_EQ(*m->str("name"), "x");
    CHECK_EQ(*m->u64("count"), 3u);
    CHECK_EQ(*m->f64("count"), 3.0);
    CHECK_EQ(*m->f64("ratio"), 0.5);
    CHECK_EQ(*m->boolean("flag"), true);
    CHECK(!m->opt_str("none")->has_value());
    CHECK(!m->opt_u32("absent")->has_value());
    CHECK_EQ(m->str("absent").error(), "missing field `absent`");
    CHECK(!m->str("none").has_value());  // null is not a string
    CHECK(!m->u64("ratio").has_value());  // a fraction is not an integer
    CHECK(!m->u64("frac").has_value());   // nor is 1.0
    CHECK(!m->u64("neg").has_value());
    CHECK_EQ(*m->i64("neg"), -4);
    CHECK(!m->str("count").has_value());

    json::Document dup;
    auto d = dup.parse(R"({"a":1,"a":2})");
    CHECK_EQ(json::Members::collect(*d, {"a"}).error(), "duplicate field `a`");
    // An undeclared repeated member is simply ignored.
    CHECK(json::Members::collect(*d, {"b"}).has_value());
    CHECK_EQ(json::Members::collect(*d, {"b"}, json::Unknown::Refuse).error(), "unknown field `a`");
}

KC_TEST(integer_ranges) {
    json::Document doc;
    auto root = doc.parse(R"({"big":18446744073709551615,"u32":4294967296,"i":9223372036854775807})");
    CHECK(root.has_value());
    auto m = json::Members::collect(*root, {"big", "u32", "i"});
    CHECK_EQ(*m->u64("big"), 18446744073709551615ull);
    CHECK(!m->i64("big").has_value());
    CHECK(!m->u32("u32").has_value());
    CHECK_EQ(*m->u64("u32"), 4294967296ull);
    CHECK_EQ(*m->i64("i"), 9223372036854775807ll);
}

KC_TEST(two_documents_stay_valid_together) {
    json::Document a, b;
    auto ra = a.parse(R"({"k":"first"})");
    auto rb = b.parse(R"({"k":"second"})");
    CHECK_EQ(json::string_or(*ra, "k", ""), "first");
    CHECK_EQ(json::string_or(*rb, "k", ""), "second");
}

KC_TEST(tolerant_access) {
    json::Document doc;
    auto root = doc.parse(R"({"s":"v","n":2,"b":false,"wrong":[1]})");
    CHECK_EQ(json::string_or(*root, "s", "d"), "v");
    CHECK_EQ(json::string_or(*root, "wrong", "d"), "d");
    CHECK_EQ(json::string_or(*root, "missing", "d"), "d");
    CHECK_EQ(json::number_or(*root, "n", 0.5), 2.0);
    CHECK_EQ(json::number_or(*root, "s", 0.5), 0.5);
    CHECK_EQ(json::bool_or(*root, "b", true), false);
}

// The writer skips clean stretches eight bytes at a time; compare it with a
// byte-by-byte rendering of the escaping rule at every alignment.
KC_TEST(string_escaping_matches_the_byte_rule_at_every_position) {
    auto reference = [](std::string_view s) {
        std::string out = "\"";
        for (unsigned char c : s) {
            if (c == '"') out += "\\\"";
            else if (c == '\\') out += "\\\\";
            else if (c == '\b') out += "\\b";
            else if (c == '\t') out += "\\t";
            else if (c == '\n') out += "\\n";
            else if (c == '\f') out += "\\f";
            else if (c == '\r') out += "\\r";
            else if (c < 0x20) {
                static const char* hex = "0123456789abcdef";
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else out += static_cast<char>(c);
        }
        return out + "\"";
    };
    const char specials[] = {'"', '\\', '\n', '\x01', '\x1f', ' ', '!', '\x7f', '\xc3', '\xa9', '#', '[', ']'};
    for (std::size_t len = 0; len < 40; ++len) {
        for (std::size_t pos = 0; pos < len; ++pos) {
            for (char sp : specials) {
                std::string s(len, 'a');
                s[pos] = sp;
                if (len > 3) s[len - 1 - pos % 3] = '"';
                std::string got;
                json::append_string(got, s);
                CHECK_EQ(got, reference(s));
            }
        }
    }
}

KC_TEST(byte_arrays) {
    json::Writer w;
    std::uint8_t bytes[] = {0, 9, 10, 99, 100, 255};
    w.begin_object().key("b").byte_array(bytes).key("e").byte_array({}).end_object();
    CHECK_EQ(std::move(w).finish().value(), "{\"b\":[0,9,10,99,100,255],\"e\":[]}");
}
