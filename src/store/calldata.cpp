#include "store/calldata.hpp"

#include <cstring>
#include <string>

#include "crypto/primitives.hpp"

namespace kc::store {

namespace {

constexpr std::size_t word = 32;

constexpr bool is_address_text(std::string_view s) {
    if (s.starts_with("0x")) s.remove_prefix(2);
    if (s.size() != 40) return false;
    for (char c : s)
        if (hex_value(c) < 0) return false;
    return true;
}
static_assert(is_address_text(default_data_edge_address), "the built-in DataEdge address must parse");

std::array<std::uint8_t, 4> selector_of(std::string_view signature) {
    auto digest = crypto::keccak256(as_bytes(signature));
    return {digest[0], digest[1], digest[2], digest[3]};
}

constexpr std::size_t pad32(std::size_t n) { return (n + word - 1) / word * word; }

// Big-endian integer in the low bytes of a zeroed 32-byte word.
void put_uint_word(std::uint8_t* w, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) w[word - 1 - i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put_address_word(std::uint8_t* w, const Address& a) { std::memcpy(w + 12, a.data(), a.size()); }

// Length word followed by the bytes; the zero padding is already there.
std::uint8_t* put_bytes(std::uint8_t* p, ByteView payload) {
    put_uint_word(p, payload.size());
    if (!payload.empty()) std::memcpy(p + word, payload.data(), payload.size());
    return p + word + pad32(payload.size());
}

Result<Bytes> encode_single(ByteView payload, const Address& address) {
    Bytes out(4 + 4 * word + pad32(payload.size()), 0);
    std::uint8_t* p = out.data();
    std::memcpy(p, execute_selector().data(), 4);
    p += 4;
    put_address_word(p, address);  // target
    // p + 32: value, zero
    put_uint_word(p + 2 * word, 3 * word);  // offset of the bytes argument
    put_bytes(p + 3 * word, payload);
    return out;
}

}  // namespace

Result<Address> parse_data_edge_address(std::string_view text) {
    if (!is_address_text(text)) return fail(Error::invalid_input(cat("invalid DataEdge address: ", text)));
    std::string_view hex = text.starts_with("0x") ? text.substr(2) : text;
    Address a{};
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] = static_cast<std::uint8_t>(hex_value(hex[2 * i]) << 4 | hex_value(hex[2 * i + 1]));
    return a;
}

const std::array<std::uint8_t, 4>& execute_selector() {
    static const auto s = selector_of("execute(address,uint256,bytes)");
    return s;
}

const std::array<std::uint8_t, 4>& execute_batch_selector() {
    static const auto s = selector_of("executeBatch(address[],uint256[],bytes[])");
    return s;
}

Result<Bytes> encode_single_call_to(ByteView payload, std::string_view data_edge_address) {
    auto address = parse_data_edge_address(data_edge_address);
    if (!address) return fail(std::move(address.error()));
    return encode_single(payload, *address);
}

Result<Bytes> encode_batch_call_to(std::span<const ByteView> payloads, std::string_view data_edge_address) {
    const std::size_t n = payloads.size();
    if (n == 0) return fail(Error::invalid_input("Batch must contain at least 1 payload"));
    if (n > max_batch_size)
        return fail(Error::invalid_input(cat("Batch size ", n, " exceeds maximum of ", max_batch_size)));
    auto address = parse_data_edge_address(data_edge_address);
    if (!address) return fail(std::move(address.error()));
    if (n == 1) return encode_single(payloads[0], *address);

    // Three head words, then three arrays: each a count word and n words,
    // the call-data array followed by every payload's length word and
    // padded bytes.
    std::size_t payload_area = 0;
    for (ByteView p : payloads) payload_area += word + pad32(p.size());
    const std::size_t list_size = word + n * word;
    const std::size_t addresses_at = 3 * word;
    const std::size_t amounts_at = addresses_at + list_size;
    const std::size_t calls_at = amounts_at + list_size;

    Bytes out(4 + calls_at + list_size + payload_area, 0);
    std::memcpy(out.data(), execute_batch_selector().data(), 4);
    std::uint8_t* body = out.data() + 4;
    put_uint_word(body, addresses_at);
    put_uint_word(body + word, amounts_at);
    put_uint_word(body + 2 * word, calls_at);

    std::uint8_t* p = body + addresses_at;
    put_uint_word(p, n);
    for (std::size_t i = 0; i < n; ++i) put_address_word(p + word + i * word, *address);

    put_uint_word(body + amounts_at, n);  // the amounts themselves stay zero

    p = body + calls_at;
    put_uint_word(p, n);
    std::uint8_t* offsets = p + word;
    std::uint8_t* data = offsets + n * word;
    std::size_t offset = n * word;  // counted from the first offset word
    for (std::size_t i = 0; i < n; ++i) {
        put_uint_word(offsets + i * word, offset);
        data = put_bytes(data, payloads[i]);
        offset += word + pad32(payloads[i].size());
    }
    return out;
}

Result<Bytes> encode_batch_call_to(std::span<const Bytes> payloads, std::string_view data_edge_address) {
    std::vector<ByteView> views(payloads.begin(), payloads.end());
    return encode_batch_call_to(std::span<const ByteView>(views), data_edge_address);
}

Result<Bytes> build_single_calldata(const PreparedFact& fact) {
    return encode_single_call_to(fact.protobuf_bytes, default_data_edge_address);
}

Result<Bytes> build_batch_calldata(std::span<const PreparedFact> facts) {
    std::vector<ByteView> views;
    views.reserve(facts.size());
    for (const auto& f : facts) views.emplace_back(f.protobuf_bytes);
    return encode_batch_call_to(std::span<const ByteView>(views), default_data_edge_address);
}

}  // namespace kc::store
