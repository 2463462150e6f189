#include "check.hpp"

namespace kc::test {
std::vector<Case>& registry() {
    static std::vector<Case> cases;
    return cases;
}
int& failures() {
    static int count = 0;
    return count;
}
}  // namespace kc::test

int main() {
    int before = 0;
    for (const auto& c : kc::test::registry()) {
        c.fn();
        int now = kc::test::failures();
        std::printf("%s %s\n", now == before ? "ok  " : "FAIL", c.name);
        before = now;
    }
    if (kc::test::failures()) {
        std::printf("%d check(s) failed\n", kc::test::failures());
        return 1;
    }
    std::printf("all %zu C++ layer tests passed\n", kc::test::registry().size());
    return 0;
}
