#include "store/userop.hpp"

#include <algorithm>
#include <cstring>

#include "crypto/ec.hpp"
#include "crypto/primitives.hpp"
#include "frame/json_reader.hpp"

namespace kc::store {
namespace {

void put_u128(std::uint8_t* out, U128 v) {
    for (int i = 15; i >= 0; --i) {
        out[i] = static_cast<std::uint8_t>(v);
        v >>= 8;
    }
}

void put_u64_word(std::uint8_t* out, std::uint64_t v) {
    std::memset(out, 0, 24);
    for (int i = 31; i >= 24; --i) {
        out[i] = static_cast<std::uint8_t>(v);
        v >>= 8;
    }
}

// Strict hex decoding of the entrypoint; the error describes the fault.
std::expected<Bytes, std::string> decode_hex_strict(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::unexpected(std::string("Odd number of digits"));
    Bytes out(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); ++i) {
        int v = hex_value(hex[i]);
        if (v < 0) {
            auto b = static_cast<unsigned char>(hex[i]);
            std::string shown = b >= 0x20 && b < 0x7F ? cat("'", hex[i], "'")
                                                      : cat("byte 0x", to_hex(ByteView(&b, 1)));
            return std::unexpected(cat("Invalid character ", shown, " at position ", i));
        }
        out[i / 2] = static_cast<std::uint8_t>(out[i / 2] << 4 | v);
    }
    return out;
}

crypto::Digest32 keccak(ByteView b) { return crypto::keccak256(b); }

}  // namespace

std::string_view strip_hex_prefixes(std::string_view text) {
    while (text.starts_with("0x")) text.remove_prefix(2);
    return text;
}

U128 parse_hex_u128(std::string_view text) {
    text = strip_hex_prefixes(text);
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return 0;
    U128 v = 0;
    for (char c : text) {
        int d = hex_value(c);
        if (d < 0) return 0;
        if (v >> 124) return 0;  // the next digit would pass 2^128
        v = v << 4 | static_cast<U128>(d);
    }
    return v;
}

Bytes read_hex_bytes_lenient(std::string_view text) {
    auto bytes = from_hex(strip_hex_prefixes(text));
    return bytes ? std::move(*bytes) : Bytes();
}

Hash32 read_nonce_word(std::string_view text) {
    text = strip_hex_prefixes(text);
    std::optional<Bytes> bytes = text.size() % 2 ? from_hex(cat("0", text)) : from_hex(text);
    Hash32 word{};
    if (bytes && !bytes->empty() && bytes->size() <= 32) std::copy(bytes->begin(), bytes->end(), word.end() - bytes->size());
    return word;
}

Result<UserOperationV7> parse_userop_json(std::string_view json_text) {
    auto invalid = [](std::string why) { return fail(Error::parse(cat("Invalid UserOp JSON: ", why))); };
    json::Document doc;
    auto root = doc.parse(json_text);
    if (!root) return invalid(std::move(root.error()));
    auto m = json::Members::collect(*root,
                                    {"sender", "nonce", "factory", "factoryData", "callData", "callGasLimit",
                                     "verificationGasLimit", "preVerificationGas", "maxFeePerGas",
                                     "maxPriorityFeePerGas", "paymaster", "paymasterVerificationGasLimit",
                                     "paymasterPostOpGasLimit", "paymasterData", "signature"},
                                    json::Unknown::Ignore, "user operation");
    if (!m) return invalid(std::move(m.error()));

    UserOperationV7 op;
    std::string error;
    auto required = [&](std::string_view key, std::string& out) {
        auto v = m->str(key);
        if (!v) {
            error = std::move(v.error());
            return false;
        }
        out = *v;
        return true;
    };
    auto optional = [&](std::string_view key, std::optional<std::string>& out) {
        auto v = m->opt_str(key);
        if (!v) {
            error = std::move(v.error());
            return false;
        }
        if (*v) out = std::string(**v);
        return true;
    };
    bool ok = required("sender", op.sender) && required("nonce", op.nonce) && optional("factory", op.factory) &&
              optional("factoryData", op.factory_data) && required("callData", op.call_data) &&
              required("callGasLimit", op.call_gas_limit) &&
              required("verificationGasLimit", op.verification_gas_limit) &&
              required("preVerificationGas", op.pre_verification_gas) &&
              required("maxFeePerGas", op.max_fee_per_gas) &&
              required("maxPriorityFeePerGas", op.max_priority_fee_per_gas) &&
              optional("paymaster", op.paymaster) &&
              optional("paymasterVerificationGasLimit", op.paymaster_verification_gas_limit) &&
              optional("paymasterPostOpGasLimit", op.paymaster_post_op_gas_limit) &&
              optional("paymasterData", op.paymaster_data) && required("signature", op.signature);
    if (!ok) return invalid(std::move(error));
    return op;
}

Result<Hash32> hash_userop(const UserOperationV7& op, std::string_view entrypoint, std::uint64_t chain_id) {
    Bytes init_code;
    if (op.factory) {
        init_code = read_hex_bytes_lenient(*op.factory);
        if (op.factory_data) {
            Bytes data = read_hex_bytes_lenient(*op.factory_data);
            init_code.insert(init_code.end(), data.begin(), data.end());
        }
    }
    Bytes paymaster_and_data;
    if (op.paymaster) {
        paymaster_and_data = read_hex_bytes_lenient(*op.paymaster);
        std::size_t at = paymaster_and_data.size();
        paymaster_and_data.resize(at + 32);
        put_u128(paymaster_and_data.data() + at,
                 op.paymaster_verification_gas_limit ? parse_hex_u128(*op.paymaster_verification_gas_limit) : 0);
        put_u128(paymaster_and_data.data() + at + 16,
                 op.paymaster_post_op_gas_limit ? parse_hex_u128(*op.paymaster_post_op_gas_limit) : 0);
        if (op.paymaster_data) {
            Bytes data = read_hex_bytes_lenient(*op.paymaster_data);
            paymaster_and_data.insert(paymaster_and_data.end(), data.begin(), data.end());
        }
    }

    Bytes sender = read_hex_bytes_lenient(op.sender);
    Bytes packed(12 + sender.size() + 7 * 32, 0);
    std::uint8_t* p = packed.data() + 12;
    p = std::copy(sender.begin(), sender.end(), p);
    Hash32 nonce = read_nonce_word(op.nonce);
    p = std::copy(nonce.begin(), nonce.end(), p);
    auto init_hash = keccak(init_code);
    p = std::copy(init_hash.begin(), init_hash.end(), p);
    auto call_hash = keccak(read_hex_bytes_lenient(op.call_data));
    p = std::copy(call_hash.begin(), call_hash.end(), p);
    put_u128(p, parse_hex_u128(op.verification_gas_limit));
    put_u128(p + 16, parse_hex_u128(op.call_gas_limit));
    p += 32;
    put_u128(p + 16, parse_hex_u128(op.pre_verification_gas));
    p += 32;
    put_u128(p, parse_hex_u128(op.max_priority_fee_per_gas));
    put_u128(p + 16, parse_hex_u128(op.max_fee_per_gas));
    p += 32;
    auto paymaster_hash = keccak(paymaster_and_data);
    std::copy(paymaster_hash.begin(), paymaster_hash.end(), p);
    auto inner = keccak(packed);

    auto ep = decode_hex_strict(strip_hex_prefixes(entrypoint));
    if (!ep) return fail(Error::crypto(std::move(ep.error())));
    Bytes outer(32 + 12 + ep->size() + 32, 0);
    std::copy(inner.begin(), inner.end(), outer.begin());
    std::copy(ep->begin(), ep->end(), outer.begin() + 44);
    put_u64_word(outer.data() + 44 + ep->size(), chain_id);
    return keccak(outer);
}

Result<Signature65> sign_userop(const Hash32& hash, const crypto::Key32& private_key) {
    if (!crypto::ec::seckey_valid(private_key))
        return fail(Error::crypto(cat("Invalid signing key: ", crypto::ec::kSignatureError)));
    // EIP-191: 0x19 "Ethereum Signed Message:\n" and the length, here "32".
    static constexpr std::string_view kPrefix = "\x19" "Ethereum Signed Message:\n32";
    std::array<std::uint8_t, kPrefix.size() + 32> message{};
    std::copy(kPrefix.begin(), kPrefix.end(), message.begin());
    std::copy(hash.begin(), hash.end(), message.begin() + kPrefix.size());
    auto digest = crypto::keccak256(message);
    auto sig = crypto::ec::sign_recoverable(digest, private_key);
    if (!sig) return fail(Error::crypto(cat("Signing failed: ", sig.error())));
    Signature65 out{};
    std::copy(sig->rs.begin(), sig->rs.end(), out.begin());
    out[64] = static_cast<std::uint8_t>(27 + sig->recovery_id);
    return out;
}

}  // namespace kc::store
