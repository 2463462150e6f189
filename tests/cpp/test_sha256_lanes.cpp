// The bulk SHA-256 code (SHA extensions, AVX-512 lanes, portable) and the
// labelled HKDF streams built on it, against OpenSSL's SHA-256 and HKDF.
#include <string>
#include <vector>

#include "check.hpp"
#include "streams.hpp"
#include "crypto/keys.hpp"
#include "crypto/primitives.hpp"
#include "crypto/sha256_lanes.hpp"

using namespace kc;
using namespace kc::crypto;
using kc::test::pattern;
using kc::test::reference_stream;

namespace {

// Runs `body` once per combination of the SHA-256 code paths this CPU has
// (portable only, SHA extensions, AVX-512 lanes, both).
template <class Body>
void with_every_sha_path(Body body) {
    using sha256_internal::Paths;
    const Paths before = sha256_internal::enabled_paths();
    const Paths can = sha256_internal::available_paths();
    for (bool ni : {false, true})
        for (bool wide : {false, true}) {
            if ((ni && !can.sha_extensions) || (wide && !can.avx512)) continue;
            sha256_internal::set_paths({ni, wide});
            body();
        }
    sha256_internal::set_paths(before);
}

}  // namespace

KC_TEST(sha256_oneshot_matches_openssl) {
    with_every_sha_path([] {
        for (std::size_t n = 0; n <= 300; ++n) {
            Bytes m = pattern(n, 3);
            CHECK(sha256_oneshot(m) == sha256(m));
        }
        Bytes big = pattern(100000, 9);
        CHECK(sha256_oneshot(big) == sha256(big));
    });
}

KC_TEST(labelled_stream_matches_block_by_block_hkdf) {
    const Bytes seeds[] = {pattern(32, 1), pattern(16, 2), pattern(64, 3), pattern(65, 4), pattern(200, 5)};
    const std::string labels[] = {"", "x", "lsh_table_7", std::string(22, 'a'), std::string(23, 'b'),
                                  std::string(40, 'c'), std::string(120, 'd')};
    const std::size_t lengths[] = {0, 1, 31, 32, 33, 64, 8159, 8160, 8161, 16320, 16352, 40000};
    with_every_sha_path([&] {
        for (const Bytes& seed : seeds)
            for (const std::string& label : labels)
                for (std::size_t length : lengths) {
                    auto got = derive_random_bytes(seed, label, length);
                    CHECK(got.has_value());
                    if (got) CHECK(*got == reference_stream(seed, label, length));
                }
        // The full stream of one default-size table: 21 blocks, the last short.
        auto table = derive_random_bytes(seeds[0], "lsh_table_19", 163840);
        CHECK(table.has_value() && *table == reference_stream(seeds[0], "lsh_table_19", 163840));
    });
}

KC_TEST(many_streams_at_once_match_one_by_one) {
    // Enough blocks of one shape for full and partly idle 16-lane groups,
    // infos of mixed lengths (short ones share lanes, long ones do not).
    std::vector<std::string> labels;
    for (int i = 0; i < 37; ++i) labels.push_back(cat("t", i * 997));
    for (int i = 0; i < 9; ++i) labels.push_back(cat(std::string(20 + i, 'q'), i));
    const std::size_t lengths[] = {8160 * 2 + 40, 8160, 96, 1};
    Bytes seed = pattern(32, 77);
    with_every_sha_path([&] {
        std::vector<Bytes> outs;
        std::vector<LabelledStreamJob> jobs;
        for (std::size_t i = 0; i < labels.size(); ++i) outs.emplace_back(lengths[i % std::size(lengths)]);
        for (std::size_t i = 0; i < labels.size(); ++i) jobs.push_back({labels[i], outs[i]});
        derive_labelled_streams(seed, jobs);
        bool all = true;
        for (std::size_t i = 0; i < labels.size(); ++i)
            all = all && outs[i] == reference_stream(seed, labels[i], outs[i].size());
        CHECK(all);
    });
}
