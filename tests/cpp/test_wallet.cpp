// Keccak-256 against published vectors, the lenient hex readers of user
// operations and the address helpers of the key bundle.
#include <string>

#include "check.hpp"
#include "crypto/bundle.hpp"
#include "crypto/ec.hpp"
#include "crypto/primitives.hpp"
#include "store/userop.hpp"

using namespace kc;

namespace {

std::string keccak_hex(ByteView b) { return to_hex(crypto::keccak256(b)); }

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i % 251);
    return b;
}

std::string u128_hex(store::U128 v) {
    std::array<std::uint8_t, 16> b{};
    for (int i = 15; i >= 0; --i, v >>= 8) b[i] = static_cast<std::uint8_t>(v);
    return to_hex(b);
}

}  // namespace

KC_TEST(keccak256_matches_published_vectors) {
    CHECK_EQ(keccak_hex({}), "c5d2460186f7233c927e7db2dcc703c0e500b653ca82273b7bfad8045d85a470");
    CHECK_EQ(keccak_hex(as_bytes("abc")), "4e03657aea45a94fc7d47ba826c8d667c0d1e6e33a64a036ec44f58fa12d6c45");
    // Inputs around the 136-byte rate: one block, exactly one block plus the
    // padding block, two blocks, a multi-block input. Digests computed with
    // pycryptodomex's Keccak over bytes i % 251.
    struct Vector {
        std::size_t n;
        const char* digest;
    };
    const Vector vectors[] = {
        {135, "cbdfd9dee5faad3818d6b06f95a219fd290b0e1706f6a82e5a595b9ce9faca62"},
        {136, "7ce759f1ab7f9ce437719970c26b0a66ff11fe3e38e17df89cf5d29c7d7f807e"},
        {137, "ac73d4fae68b8453f764007c1a20ce95994187861f0c3227a3a8e99a73a3b1db"},
        {200, "bfb0aa97863e797943cf7c33bb7e880bb4543f3d2703c0923c6901c2af57b890"},
        {272, "8e2476e65823b24d96ebe239f2c1534cdf763e689e2410c3b1cb0c74e6177bfc"},
        {273, "3f02f134370e4debb95140ef49ddd3aed8c65ff1ed83a43f1b269421f179c5f9"},
    };
    for (const auto& v : vectors) CHECK_EQ(keccak_hex(pattern(v.n)), v.digest);
}

KC_TEST(parse_hex_u128_follows_the_quantity_rule) {
    struct Case {
        const char* text;
        const char* value;  // 32 hex digits
    };
    const Case cases[] = {
        {"0x10", "00000000000000000000000000000010"},
        {"10", "00000000000000000000000000000010"},
        {"0x0x10", "00000000000000000000000000000010"},
        {"0xAbC", "00000000000000000000000000000abc"},
        {"+ff", "000000000000000000000000000000ff"},
        {"0x+ff", "000000000000000000000000000000ff"},
        {"0x", "00000000000000000000000000000000"},
        {"", "00000000000000000000000000000000"},
        {"+", "00000000000000000000000000000000"},
        {"-1", "00000000000000000000000000000000"},
        {"0xZZ", "00000000000000000000000000000000"},
        {"0X10", "00000000000000000000000000000000"},
        {"+0x10", "00000000000000000000000000000000"},
        {" 10", "00000000000000000000000000000000"},
        {"ffffffffffffffffffffffffffffffff", "ffffffffffffffffffffffffffffffff"},
        {"100000000000000000000000000000000", "00000000000000000000000000000000"},  // 2^128
        {"100000000000000000000000000000001", "00000000000000000000000000000000"},  // 2^128 + 1, not wrapped
        {"0000000000ffffffffffffffffffffffffffffffff", "ffffffffffffffffffffffffffffffff"},
    };
    for (const auto& c : cases) CHECK_EQ(u128_hex(store::parse_hex_u128(c.text)), c.value);
}

KC_TEST(nonce_and_bytes_rules) {
    CHECK_EQ(to_hex(store::read_nonce_word("0x1")), std::string(62, '0') + "01");
    CHECK_EQ(to_hex(store::read_nonce_word("0x0x123")), std::string(60, '0') + "0123");
    CHECK_EQ(to_hex(store::read_nonce_word(std::string(64, 'f'))), std::string(64, 'f'));
    CHECK_EQ(to_hex(store::read_nonce_word(std::string(65, '1'))), std::string(64, '0'));
    CHECK_EQ(to_hex(store::read_nonce_word("0x")), std::string(64, '0'));
    CHECK_EQ(to_hex(store::read_nonce_word("0xzz")), std::string(64, '0'));
    CHECK_EQ(to_hex(store::read_hex_bytes_lenient("0x0xAbcD")), "abcd");
    CHECK_EQ(to_hex(store::read_hex_bytes_lenient("0xabc")), "");
    CHECK_EQ(to_hex(store::read_hex_bytes_lenient("0xgg")), "");
}

KC_TEST(eip55_checksum_and_address_checks) {
    CHECK_EQ(*crypto::to_eip55_checksum("5aaeb6053f3e94c9b9a09f33669435e7ef1beaed"),
             "0x5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAed");
    CHECK_EQ(*crypto::to_eip55_checksum("0xFB6916095CA1DF60BB79CE92CE3EA74C37C5D359"),
             "0xfB6916095ca1df60bB79Ce92cE3Ea74c37c5d359");
    for (const char* bad : {"0X5aaeb6053f3e94c9b9a09f33669435e7ef1beaed", "0x5aaeb6053f3e94c9b9a09f33669435e7ef1bea",
                            "0x5aaeb6053f3e94c9b9a09f33669435e7ef1beaedd", "0x5aaeb6053f3e94c9b9a09f33669435e7ef1beaeg",
                            ""}) {
        auto r = crypto::to_eip55_checksum(bad);
        CHECK(!r);
        if (!r) {
            CHECK(r.error().kind == ErrorKind::InvalidInput);
            CHECK_EQ(r.error().message, cat("not a valid 20-byte hex address: ", bad));
        }
    }
    CHECK(crypto::addresses_equal_ignoring_case("0xAbC", "0xaBc"));
    CHECK(!crypto::addresses_equal_ignoring_case("0xAbC", "0xaBcd"));
    CHECK(!crypto::addresses_equal_ignoring_case("0xabc", "0xabd"));
    CHECK(crypto::require_valid_address("0x" + std::string(40, 'A'), "f").has_value());
    CHECK_EQ(crypto::require_valid_address("x", "f").error().message, "f must be 0x-prefixed, got \"x\"");
    CHECK_EQ(crypto::require_valid_address("0x\n", "f").error().message,
             "f is not a valid 20-byte hex address: \"0x\\n\"");
}

KC_TEST(parse_hex32_refuses_every_other_form) {
    CHECK(crypto::parse_hex32(std::string(64, 'a')).has_value());
    CHECK_EQ(crypto::parse_hex32(std::string(63, 'a')).error().message,
             "expected exactly 64 lowercase hex chars, got 63 chars");
    CHECK_EQ(crypto::parse_hex32(std::string(62, 'a') + "\xc3\xa9").error().message,
             "expected exactly 64 lowercase hex chars, got 63 chars");
    CHECK_EQ(crypto::parse_hex32(std::string(63, 'a') + "A").error().message,
             "key material must be lowercase hex with no 0x prefix");
    CHECK_EQ(crypto::parse_hex32("0x" + std::string(62, 'a')).error().message,
             "key material must be lowercase hex with no 0x prefix");
    CHECK(crypto::parse_hex32("").error().kind == ErrorKind::Parse);
}

KC_TEST(secret_key_range) {
    crypto::Key32 k{};
    CHECK(!crypto::ec::seckey_valid(k));
    k[31] = 1;
    CHECK(crypto::ec::seckey_valid(k));
    // The group order n and n - 1.
    auto order = *from_hex("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141");
    std::copy(order.begin(), order.end(), k.begin());
    CHECK(!crypto::ec::seckey_valid(k));
    k[31] = 0x40;
    CHECK(crypto::ec::seckey_valid(k));
    // Private key 1 is the generator; its address is a well-known constant.
    crypto::Key32 one{};
    one[31] = 1;
    CHECK_EQ(*crypto::ec::address_of_secret(one), "0x7e5f4552091a69125d5dfcb7b8c2659029395bdf");
}

KC_TEST(parse_hex32_counts_characters) {
    // 64 characters but 65 bytes: a length that matches, content that does not.
    CHECK_EQ(crypto::parse_hex32(std::string(63, 'a') + "\xc3\xa9").error().message,
             "key material must be lowercase hex with no 0x prefix");
}
