#include "frame/error.hpp"

#include "frame/text.hpp"

namespace kc {

std::string Error::display() const {
    std::string_view prefix;
    switch (kind) {
        case ErrorKind::Crypto: prefix = "crypto error: "; break;
        case ErrorKind::InvalidMnemonic: prefix = "invalid mnemonic: "; break;
        case ErrorKind::Lsh: prefix = "LSH error: "; break;
        case ErrorKind::Reranker: prefix = "reranker error: "; break;
        case ErrorKind::InvalidInput: prefix = "invalid input: "; break;
        case ErrorKind::Parse: prefix = ""; break;
    }
    return cat(prefix, message);
}

}  // namespace kc
