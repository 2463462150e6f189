// A minimal test harness for the internal C++ layers that no Python
// function exposes directly.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kc::test {

struct Case {
    const char* name;
    void (*fn)();
};

std::vector<Case>& registry();
int& failures();

struct Register {
    Register(const char* name, void (*fn)()) { registry().push_back({name, fn}); }
};

inline void report(const char* file, int line, const std::string& what) {
    std::fprintf(stderr, "%s:%d: FAILED: %s\n", file, line, what.c_str());
    ++failures();
}

}  // namespace kc::test

#define KC_TEST(name)                                              \
    static void name();                                            \
    static ::kc::test::Register name##_registration(#name, &name); \
    static void name()

#define CHECK(cond)                                                   \
    do {                                                              \
        if (!(cond)) ::kc::test::report(__FILE__, __LINE__, #cond);   \
    } while (0)

#define CHECK_EQ(actual, expected)                                                                          \
    do {                                                                                                    \
        const auto kc_a = (actual);                                                                         \
        const auto kc_e = (expected);                                                                       \
        if (!(kc_a == kc_e))                                                                                \
            ::kc::test::report(__FILE__, __LINE__,                                                          \
                               ::kc::test::mismatch(#actual " == " #expected, ::kc::test::show(kc_a),     \
                                                    ::kc::test::show(kc_e)));                              \
    } while (0)

namespace kc::test {
inline std::string show(std::string_view s) {
    std::string out(1, '"');
    out.append(s);
    out.push_back('"');
    return out;
}
inline std::string show(const std::string& s) { return show(std::string_view(s)); }
inline std::string show(const char* s) { return show(std::string_view(s)); }
inline std::string mismatch(const char* what, const std::string& got, const std::string& expected) {
    std::string out(what);
    out.append("\n    got:      ").append(got).append("\n    expected: ").append(expected);
    return out;
}
template <class T>
std::string show(const T& v) {
    if constexpr (std::is_same_v<T, bool>) return v ? "true" : "false";
    else if constexpr (std::is_arithmetic_v<T>) return std::to_string(v);
    else return "<value>";
}
}  // namespace kc::test
