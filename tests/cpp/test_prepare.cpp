// The fact pipeline with an injected clock and random source: the id, the
// timestamp and the envelope nonces come from the environment, in order.
#include <memory>
#include <string>

#include "check.hpp"
#include "crypto/lsh.hpp"
#include "frame/base64.hpp"
#include "store/prepare.hpp"

using namespace kc;

namespace {

// Hands out 0, 1, 2, … as random bytes, so each draw is recognisable.
store::Environment counting_environment(UtcTime now) {
    auto next = std::make_shared<std::uint8_t>(0);
    return store::Environment{now, [next](std::span<std::uint8_t> out) {
                                  for (auto& b : out) b = (*next)++;
                              }};
}

std::string hex_run(unsigned first, unsigned count) {
    Bytes b;
    for (unsigned i = 0; i < count; ++i) b.push_back(static_cast<std::uint8_t>(first + i));
    return to_hex(b);
}

}  // namespace

KC_TEST(prepared_fact_draws_from_the_injected_environment) {
    auto hasher = crypto::with_params(Bytes(16, 7), 4, 2, 8);
    CHECK(hasher.has_value());
    const Bytes key(32, 1), dedup(32, 2);
    const float embedding[] = {0.5f, -0.25f, 1.0f, 0.0f};
    // 2022-02-22T19:22:22.123Z
    auto env = counting_environment(UtcTime{1645557742, 123'456'789});
    auto fact = store::prepare_fact("text", key, dedup, *hasher, embedding, 7.0, "user", "0xo", "agent", env);
    CHECK(fact.has_value());
    if (!fact) return;
    // Bytes 0..9 make the id (version and variant bits set over them).
    CHECK_EQ(fact->fact_id, "017f22e2-7a2b-7001-8203-040506070809");
    CHECK_EQ(fact->timestamp, "2022-02-22T19:22:22.123Z");
    // Bytes 10..33 are the fact envelope's nonce, 34..57 the embedding's.
    CHECK_EQ(fact->encrypted_blob_hex.substr(0, 48), hex_run(10, 24));
    CHECK(fact->encrypted_embedding.has_value());
    auto sealed = base64_decode(*fact->encrypted_embedding);
    CHECK(sealed.has_value() && to_hex(ByteView(sealed->data(), 24)) == hex_run(34, 24));
    CHECK_EQ(fact->decay_score, 0.7);

    // The same environment gives the same bytes.
    auto again = store::prepare_fact("text", key, dedup, *hasher, embedding, 7.0, "user", "0xo", "agent",
                                     counting_environment(UtcTime{1645557742, 123'456'789}));
    CHECK(again.has_value() && store::to_json(*again) == store::to_json(*fact));
}

KC_TEST(tombstone_uses_the_injected_clock) {
    auto env = counting_environment(UtcTime{1645557742, 500'000'000});
    Bytes stone = store::prepare_tombstone("f", "o", env);
    std::string text(as_text(stone));
    CHECK(text.find("2022-02-22T19:22:22.500+00:00") != std::string::npos);
    CHECK_EQ(stone.back(), std::uint8_t{3});
}
