// The fact preparation pipeline: everything the chain and the indexer need
// for one new fact, computed locally in one call. Submits nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "crypto/lsh.hpp"
#include "frame/clock.hpp"
#include "frame/error.hpp"
#include "frame/text.hpp"
#include "store/prepared_fact.hpp"

namespace kc::store {

// Where the pipeline gets the time and its random bits (the fact id's and
// the envelopes' nonces). Tests inject fixed ones; live() reads the UTC
// clock and the operating system's CSPRNG.
struct Environment {
    UtcTime now;
    std::function<void(std::span<std::uint8_t>)> random;
    static Environment live();
};

// Prepares one fact: a version 7 id and millisecond timestamp from env.now;
// the document {"a":agent_id,"s":source,"t":text} sealed under
// `encryption_key` (hex of the envelope); the blind indices of `text`
// followed by the LSH bucket hashes of `embedding` (widened exactly to
// doubles); the content fingerprint under `dedup_key`; the encrypted
// embedding payload; the decay score importance / 10 clamped to [0, 1]
// (NaN passes through); and the fact protobuf with version 3.
// Keys must be 32 bytes (the binding checks). Errors: the hasher's Lsh error
// (embedding length differs from its dimensions), Crypto errors of the
// envelope.
Result<PreparedFact> prepare_fact(std::string_view text, ByteView encryption_key, ByteView dedup_key,
                                  const crypto::LshHasher& hasher, std::span<const float> embedding,
                                  double importance, std::string_view source, std::string_view owner,
                                  std::string_view agent_id, const Environment& env);

// prepare_fact with the decay score given directly (clamped to [0, 1], NaN
// passing through). Same errors.
Result<PreparedFact> prepare_fact_with_decay_score(std::string_view text, ByteView encryption_key,
                                                   ByteView dedup_key, const crypto::LshHasher& hasher,
                                                   std::span<const float> embedding, double decay_score,
                                                   std::string_view source, std::string_view owner,
                                                   std::string_view agent_id, const Environment& env);

// The encrypted embedding payload: the base64 text of the values as
// little-endian binary32, sealed under `encryption_key` and carried as the
// envelope's base64 text. Errors: Crypto errors of the envelope.
Result<std::string> encrypt_embedding(std::span<const float> embedding, ByteView encryption_key,
                                      const Environment& env);

// The score stored for a decay value: a lower bound of 0.0, then an upper
// bound of 1.0; NaN passes both.
double clamp_decay_score(double score);

// The tombstone message with the default version, stamped env.now.
Bytes prepare_tombstone(std::string_view fact_id, std::string_view owner, const Environment& env);

}  // namespace kc::store
