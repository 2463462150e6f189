// The library's single error type and the result type every fallible
// operation returns. Nothing else crosses the library boundary.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

namespace kc {

// Variants in declaration order; the order is part of the contract.
enum class ErrorKind : std::uint8_t {
    Crypto,
    InvalidMnemonic,
    Lsh,
    Reranker,
    InvalidInput,
    Parse,
};

struct Error {
    ErrorKind kind;
    std::string message;

    // The display text: the variant's prefix followed by the message
    // ("crypto error: …"); a Parse error is shown bare.
    std::string display() const;

    static Error crypto(std::string m) { return {ErrorKind::Crypto, std::move(m)}; }
    static Error invalid_mnemonic(std::string m) { return {ErrorKind::InvalidMnemonic, std::move(m)}; }
    static Error lsh(std::string m) { return {ErrorKind::Lsh, std::move(m)}; }
    static Error reranker(std::string m) { return {ErrorKind::Reranker, std::move(m)}; }
    static Error invalid_input(std::string m) { return {ErrorKind::InvalidInput, std::move(m)}; }
    static Error parse(std::string m) { return {ErrorKind::Parse, std::move(m)}; }
};

template <class T>
using Result = std::expected<T, Error>;

// Shorthand for the failing branch: `return fail(Error::parse("…"));`.
inline std::unexpected<Error> fail(Error e) { return std::unexpected<Error>(std::move(e)); }

// Unit value for operations that succeed with nothing to return.
struct Unit {};

}  // namespace kc
