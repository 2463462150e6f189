// The project's one stable sort. Several rankings order scores with a
// comparison under which NaN "compares equal to everything"; that is not a
// strict weak ordering, and std::sort / std::stable_sort are undefined for
// it (they may read out of bounds). This merge sort only ever compares
// elements at indices it owns, so any comparison, consistent or not, yields
// some permutation of the input and never touches memory outside it. With a
// consistent comparison the result is the usual stable order.
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

namespace kc {

// Sorts `items` stably: `before(a, b)` true means a must come before b;
// equal elements keep their input order.
template <class T, class Before>
void stable_sort(std::span<T> items, Before before) {
    const std::size_t n = items.size();
    if (n < 2) return;
    std::vector<T> buffer;
    buffer.reserve(n);
    // Bottom-up: merge runs of width 1, 2, 4, … from `items` into `buffer`
    // and back.
    for (std::size_t width = 1; width < n; width *= 2) {
        buffer.clear();
        for (std::size_t lo = 0; lo < n; lo += 2 * width) {
            std::size_t mid = lo + width < n ? lo + width : n;
            std::size_t hi = lo + 2 * width < n ? lo + 2 * width : n;
            std::size_t i = lo, j = mid;
            while (i < mid && j < hi) {
                // Take from the right run only when it must come first, so
                // ties keep the left (earlier) element first.
                if (before(items[j], items[i]))
                    buffer.push_back(std::move(items[j++]));
                else
                    buffer.push_back(std::move(items[i++]));
            }
            while (i < mid) buffer.push_back(std::move(items[i++]));
            while (j < hi) buffer.push_back(std::move(items[j++]));
        }
        for (std::size_t k = 0; k < n; ++k) items[k] = std::move(buffer[k]);
    }
}

template <class T, class Before>
void stable_sort(std::vector<T>& items, Before before) {
    stable_sort(std::span<T>(items), before);
}

}  // namespace kc
