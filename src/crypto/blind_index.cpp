#include "crypto/blind_index.hpp"

#include <cstdint>
#include <cstring>
#include <functional>

#include "crypto/primitives.hpp"
#include "crypto/stemmer.hpp"
#include "frame/text.hpp"
#include "frame/unicode.hpp"

namespace kc::crypto {
namespace {

// Open-addressing set with linear probing; `Key` must be cheap to copy and
// `hash` well mixed in its low bits. Capacity stays a power of two at most
// half full.
template <class Key, class Hash>
class FlatSet {
public:
    explicit FlatSet(std::size_t expected) {
        std::size_t cap = 16;
        while (cap < expected * 2) cap *= 2;
        slots_.resize(cap);
    }

    // Adds `key`; false when it was already present.
    bool insert(const Key& key) {
        if ((size_ + 1) * 2 > slots_.size()) grow();
        return place(slots_, key);
    }

private:
    struct Slot {
        bool used = false;
        Key key{};
    };

    bool place(std::vector<Slot>& slots, const Key& key) {
        std::size_t mask = slots.size() - 1;
        for (std::size_t i = Hash{}(key) & mask;; i = (i + 1) & mask) {
            if (!slots[i].used) {
                slots[i].used = true;
                slots[i].key = key;
                ++size_;
                return true;
            }
            if (slots[i].key == key) return false;
        }
    }

    void grow() {
        std::vector<Slot> bigger(slots_.size() * 2);
        size_ = 0;
        for (const Slot& s : slots_)
            if (s.used) place(bigger, s.key);
        slots_ = std::move(bigger);
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
};

// SHA-256 output is uniform, so its first 8 bytes are already a good hash.
struct DigestHash {
    std::size_t operator()(const Digest32& d) const {
        std::uint64_t v;
        std::memcpy(&v, d.data(), sizeof v);
        return static_cast<std::size_t>(v);
    }
};

struct ViewHash {
    std::size_t operator()(std::string_view s) const {
        // Spread the high bits into the low ones used for the slot index.
        std::uint64_t h = std::hash<std::string_view>{}(s);
        return static_cast<std::size_t>(h ^ (h >> 29));
    }
};

constexpr bool ascii_alnum(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z');
}

// Tokens of lower-cased text: maximal runs of alphanumeric characters.
// White space and every other character both end a token, so replacing the
// others by spaces and splitting on white space is this one scan.
template <class F>
void for_each_token(std::string_view s, F&& f) {
    std::size_t pos = 0;
    std::size_t start = 0;
    bool in_token = false;
    while (pos < s.size()) {
        std::size_t at = pos;
        auto b = static_cast<unsigned char>(s[pos]);
        bool alnum;
        if (b < 0x80) {
            alnum = ascii_alnum(b);
            ++pos;
        } else {
            alnum = is_alphanumeric(next_char(s, pos));
            if (pos > s.size()) pos = s.size();  // truncated sequence at the end
        }
        if (alnum) {
            if (!in_token) start = at;
            in_token = true;
        } else if (in_token) {
            f(s.substr(start, at - start));
            in_token = false;
        }
    }
    if (in_token) f(s.substr(start));
}

}  // namespace

std::vector<std::string> generate_blind_indices(std::string_view text) {
    const std::string lowered = to_lower(text);
    std::vector<std::string> out;
    // Typical prose has a token every 6 bytes; two hashes per token.
    FlatSet<Digest32, DigestHash> produced(lowered.size() / 3 + 8);
    FlatSet<std::string_view, ViewHash> tokens_seen(lowered.size() / 6 + 8);
    std::string stem_message = "stem:";

    auto emit = [&](const Digest32& d) {
        if (produced.insert(d)) out.push_back(to_hex(d));
    };

    for_each_token(lowered, [&](std::string_view token) {
        if (token.size() < 2) return;
        // A repeated token would produce exactly the hashes already in the set.
        if (!tokens_seen.insert(token)) return;
        emit(sha256(as_bytes(token)));
        std::string s = stem(token);
        if (s.size() < 2) return;
        stem_message.resize(5);
        stem_message.append(s);
        emit(sha256(as_bytes(stem_message)));
    });
    return out;
}

}  // namespace kc::crypto
