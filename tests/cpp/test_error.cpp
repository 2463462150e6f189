// The library error's display texts: one prefix per variant, none for Parse.
#include "check.hpp"
#include "frame/error.hpp"

using namespace kc;

KC_TEST(error_display_prefixes) {
    struct {
        Error error;
        const char* shown;
    } cases[] = {
        {Error::crypto("m"), "crypto error: m"},
        {Error::invalid_mnemonic("m"), "invalid mnemonic: m"},
        {Error::lsh("m"), "LSH error: m"},
        {Error::reranker("m"), "reranker error: m"},
        {Error::invalid_input("m"), "invalid input: m"},
        {Error::parse("m"), "m"},
        {Error::parse(""), ""},
    };
    for (const auto& c : cases) CHECK_EQ(c.error.display(), c.shown);
    // The variants keep their declared order.
    CHECK_EQ(static_cast<int>(ErrorKind::Crypto), 0);
    CHECK_EQ(static_cast<int>(ErrorKind::Parse), 5);
}
