// Shared inputs and references for the tests of the hashing layers.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "check.hpp"
#include "crypto/primitives.hpp"
#include "frame/text.hpp"

namespace kc::test {

// A deterministic byte pattern of length n; `salt` varies it.
inline Bytes pattern(std::size_t n, unsigned salt) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 131 + salt * 7 + (i >> 8));
    return b;
}

// The labelled stream block by block through OpenSSL's HKDF.
inline Bytes reference_stream(ByteView ikm, std::string_view label, std::size_t length) {
    Bytes out(length);
    for (std::size_t done = 0, block = 0; done < length; ++block) {
        std::size_t take = std::min<std::size_t>(8160, length - done);
        std::string info = cat(label, "_block_", block);
        auto r = crypto::hkdf_sha256(std::span<std::uint8_t>(out.data() + done, take), {}, ikm, as_bytes(info));
        CHECK(r.has_value());
        done += take;
    }
    return out;
}

}  // namespace kc::test
