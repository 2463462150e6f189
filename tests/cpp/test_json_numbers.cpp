// The reader takes integers beyond 64 bits as doubles, and leaves every
// other token, valid or not, as it was.
#include <cmath>
#include <string>
#include <vector>

#include "check.hpp"
#include "frame/json_reader.hpp"

using namespace kc;
using simdjson::dom::element_type;

namespace {

struct Number {
    element_type type;
    double value;  // the element's value as a double
};

std::vector<Number> numbers_of(std::string_view text, bool* ok) {
    std::vector<Number> out;
    json::Document doc;
    auto root = doc.parse(text);
    *ok = root.has_value() && root->type() == element_type::ARRAY;
    if (!*ok) return out;
    json::Array items = root->get_array().value_unsafe();
    for (json::Element e : items) {
        auto v = json::as_f64(e, "n");
        out.push_back({e.type(), v ? *v : std::nan("")});
    }
    return out;
}

}  // namespace

KC_TEST(json_integers_beyond_64_bits_read_as_doubles) {
    struct Case {
        const char* text;
        std::vector<Number> numbers;
    };
    const std::vector<Case> cases = {
        // The limits themselves stay integers; one beyond becomes a double.
        {"[18446744073709551615,18446744073709551616]",
         {{element_type::UINT64, 18446744073709551615.0}, {element_type::DOUBLE, 18446744073709551616.0}}},
        {"[-9223372036854775808,-9223372036854775809]",
         {{element_type::INT64, -9223372036854775808.0}, {element_type::DOUBLE, -9223372036854775809.0}}},
        // A long fraction or exponent next to a big integer is not touched.
        {"[123456789012345678901234567890, 0.123456789012345678901234567890,1234567890123456789012e-3]",
         {{element_type::DOUBLE, 123456789012345678901234567890.0},
          {element_type::DOUBLE, 0.123456789012345678901234567890},
          {element_type::DOUBLE, 1234567890123456789012e-3}}},
        // Digits inside strings stay text, escaped quotes and backslashes included.
        {R"(["\"123456789012345678901234567890", "a\\", 99999999999999999999999])",
         {{element_type::STRING, std::nan("")},
          {element_type::STRING, std::nan("")},
          {element_type::DOUBLE, 99999999999999999999999.0}}},
    };
    for (const Case& c : cases) {
        bool ok = false;
        std::vector<Number> got = numbers_of(c.text, &ok);
        CHECK(ok);
        CHECK_EQ(got.size(), c.numbers.size());
        for (std::size_t k = 0; k < got.size() && k < c.numbers.size(); ++k) {
            CHECK(got[k].type == c.numbers[k].type);
            CHECK(got[k].value == c.numbers[k].value || (std::isnan(got[k].value) && std::isnan(c.numbers[k].value)));
        }
    }
    json::Document doc;
    auto s = doc.parse(R"({"k":"x123456789012345678901234567890y","n":123456789012345678901234567890})");
    CHECK(s.has_value());
    CHECK_EQ(std::string(json::string_or(*s, "k", "")), std::string("x123456789012345678901234567890y"));
}

KC_TEST(json_malformed_numbers_stay_errors) {
    for (const char* bad : {"[0123456789012345678901234567890]", "[-0123456789012345678901234567890]",
                            "[123456789012345678901234567890x]", "[123456789012345678901234567890.]",
                            "[123456789012345678901234567890e]", "[123456789012345678901234567890 1]",
                            "[123456789012345678901234567890,]", "[-]", "[1e400]", "123456789012345678901234567890 x",
                            "[\"123456789012345678901234567890]"}) {
        json::Document doc;
        CHECK(!doc.parse(bad).has_value());
    }
}
