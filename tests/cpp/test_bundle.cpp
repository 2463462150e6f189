// The key bundle's writer for what the Python functions never write (a
// session-key signing object) and its time stamp with an injected clock.
#include <string>

#include "check.hpp"
#include "crypto/bundle.hpp"
#include "frame/json_reader.hpp"
#include "frame/json_value.hpp"

using namespace kc;
using namespace kc::crypto;

namespace {

// Secret 1 and its Ethereum address in EIP-55 casing (the generator point's
// well-known account).
constexpr std::string_view kOneAddress = "0x7E5F4552091A69125d5DfCb7b8C2659029395Bdf";
constexpr std::string_view kSmartAccount = "0x5aAeb6053F3E94C9b9A09f33669435E7Ef1BeAed";

Key32 filled(std::uint8_t b) {
    Key32 k{};
    k.fill(b);
    return k;
}

}  // namespace

KC_TEST(session_key_bundle_is_written_canonically_and_reads_back) {
    DerivedBundleV1 b;
    b.vault = {filled(0x11), filled(0x22), filled(0x33), filled(0x44)};
    b.signing.kind = SigningKind::SessionKey;
    b.signing.private_key[31] = 1;
    b.signing.address = std::string(kOneAddress);
    json::Document doc;
    auto grant = doc.parse(cat(R"({"signer":")", kOneAddress, R"(","domain":{"name":"x","chainId":5},"account":")",
                               kSmartAccount, R"(","b":[1,-2,0.5,null,true]})"));
    CHECK(grant.has_value());
    if (!grant) return;
    b.signing.grant = json::to_value(*grant);
    b.account = {std::string(kSmartAccount), 5};
    b.provisioned_at = "2025-01-02T03:04:05Z";
    b.provisioned_by = "spa";

    const std::string expected = cat(
        R"({"version":2,"schema":"derived-bundle-v1","vault":{"encryption_key":")", std::string(64, '1'),
        R"(","dedup_key":")", std::string(64, '2'), R"(","auth_key":")", std::string(64, '3'), R"(","lsh_seed":")",
        std::string(64, '4'), R"("},"signing":{"kind":"session-key","private_key":")", std::string(63, '0'), "1",
        R"(","address":")", kOneAddress, R"(","grant":{"account":")", kSmartAccount,
        R"(","b":[1,-2,0.5,null,true],"domain":{"chainId":5,"name":"x"},"signer":")", kOneAddress,
        R"("}},"account":{"smart_account":")", kSmartAccount,
        R"(","chain_id":5},"provisioned_at":"2025-01-02T03:04:05Z","provisioned_by":"spa"})");
    auto text = bundle_to_json(b);
    CHECK(text.has_value());
    if (!text) return;
    CHECK_EQ(*text, expected);

    auto back = parse_bundle_v1(*text);
    CHECK(back.has_value());
    if (!back) return;
    CHECK(back->signing.kind == SigningKind::SessionKey);
    CHECK(back->signing.private_key == b.signing.private_key);
    CHECK(back->vault.lsh_seed == b.vault.lsh_seed);
    CHECK(back->signing.grant.has_value());
    auto again = bundle_to_json(*back);
    CHECK(again.has_value() && *again == expected);
}

KC_TEST(derived_bundle_is_stamped_with_the_given_time) {
    const std::string phrase = "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
                               "abandon about";
    struct Case {
        std::int64_t now;
        const char* stamp;
    };
    const Case cases[] = {
        {1735787045, "2025-01-02T03:04:05Z"},
        {0, "1970-01-01T00:00:00Z"},
        {951782400, "2000-02-29T00:00:00Z"},
    };
    for (const Case& c : cases) {
        auto b = derive_bundle_from_mnemonic(phrase, 1, "spa", kSmartAccount, c.now);
        CHECK(b.has_value());
        if (!b) continue;
        CHECK_EQ(b->provisioned_at, std::string(c.stamp));
        CHECK_EQ(b->signing.address, std::string("0x9858EfFD232B4033E47d90003D41EC34EcaEda94"));
        auto text = bundle_to_json(*b);
        CHECK(text.has_value() && text->find(cat(R"("provisioned_at":")", c.stamp, R"(")")) != std::string::npos);
    }
}
