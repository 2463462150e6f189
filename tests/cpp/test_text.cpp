// White space, UTF-8, hex and base64 helpers.
#include "check.hpp"
#include "frame/base64.hpp"
#include "frame/text.hpp"

using namespace kc;

KC_TEST(white_space_trim_and_split) {
    CHECK_EQ(trim_white_space("\n\t a b \u3000\u00a0"), "a b");
    CHECK_EQ(trim_white_space("\u200bx\u200b"), "\u200bx\u200b");  // zero-width space is not white space
    CHECK_EQ(trim_white_space(" \u2028\u0085 "), "");
    auto parts = split_white_space("  one\u2003two\t\tthree\u202f");
    CHECK_EQ(parts.size(), 3u);
    CHECK_EQ(parts[0], "one");
    CHECK_EQ(parts[1], "two");
    CHECK_EQ(parts[2], "three");
    CHECK(split_white_space(" \t ").empty());
    for (char32_t c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x2028, 0x2029,
                       0x202F, 0x205F, 0x3000})
        CHECK(is_white_space(c));
    for (char32_t c : {0x08, 0x1C, 0x1F, 0x200B, 0x180E, 0xFEFF, 0x2060, 0x41}) CHECK(!is_white_space(c));
}

KC_TEST(utf8_validation_reasons) {
    auto check = [](std::string_view bytes, const char* reason) {
        auto e = validate_utf8(as_bytes(bytes));
        if (!reason) {
            CHECK(!e.has_value());
            return;
        }
        CHECK(e.has_value());
        if (e) CHECK_EQ(e->describe(), reason);
    };
    check("plain é 🙂", nullptr);
    check("ab\xff", "invalid utf-8 sequence of 1 bytes from index 2");
    check("\xc3", "incomplete utf-8 byte sequence from index 0");
    check("a\xe2\x82", "incomplete utf-8 byte sequence from index 1");
    check("\xe2\x82x", "invalid utf-8 sequence of 2 bytes from index 0");
    check("\xf0\x9f\x99x", "invalid utf-8 sequence of 3 bytes from index 0");
    check("\xed\xa0\x80", "invalid utf-8 sequence of 1 bytes from index 0");  // a surrogate
    check("\xc0\x80", "invalid utf-8 sequence of 1 bytes from index 0");      // overlong
    check("\xf4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0");
}

KC_TEST(char_boundaries) {
    std::string_view s = "aé🙂";  // 1 + 2 + 4 bytes
    CHECK_EQ(floor_char_boundary(s, 2), 1u);
    CHECK_EQ(floor_char_boundary(s, 3), 3u);
    CHECK_EQ(floor_char_boundary(s, 6), 3u);
    CHECK_EQ(floor_char_boundary(s, 99), 7u);
    CHECK_EQ(char_count(s), 3u);
}

KC_TEST(hex_codec) {
    std::uint8_t raw[] = {0x00, 0xab, 0xff};
    CHECK_EQ(to_hex(raw), "00abff");
    CHECK(from_hex("00ABff").has_value());
    CHECK(!from_hex("0").has_value());
    CHECK(!from_hex("0g").has_value());
}

KC_TEST(base64_round_trip_rfc4648_vectors) {
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; ++i) {
        CHECK_EQ(base64_encode(as_bytes(plain[i])), coded[i]);
        auto back = base64_decode(coded[i]);
        CHECK(back.has_value());
        if (back) CHECK_EQ(std::string(as_text(*back)), plain[i]);
    }
}

KC_TEST(base64_refusal_reasons) {
    struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"Zg", "Invalid padding"},
        {"Zm8", "Invalid padding"},
        {"Zg=", "Invalid padding"},
        {"Zg===", "Invalid symbol 61, offset 2."},
        {"Z===", "Invalid symbol 61, offset 1."},
        {"====", "Invalid symbol 61, offset 0."},
        {"Zm9vY", "Invalid input length: 5"},
        {"Zm9v\n", "Invalid symbol 10, offset 4."},
        {"Zm 9v", "Invalid symbol 32, offset 2."},
        {"Zm9v-_==", "Invalid symbol 45, offset 4."},
        {"Zm9v_w==", "Invalid symbol 95, offset 4."},
        {"Zh==", "Invalid last symbol 104, offset 1."},
        {"Zm9=", "Invalid last symbol 57, offset 2."},
        {"Zg==Zg==", "Invalid symbol 61, offset 2."},
        {"Zg=a", "Invalid symbol 61, offset 2."},
    };
    for (const auto& c : cases) {
        auto r = base64_decode(c.text);
        CHECK(!r.has_value());
        if (!r) CHECK_EQ(r.error(), c.reason);
    }
}
