#include "search/matcher.h"

#include <cstring>

#include "base/format.h"
#include "base/heap.h"
#include "base/text.h"

int matcher(const wchar* name, const wchar* pattern) {
    // Greedy with backtracking to the last '*' only: a later '*' can absorb
    // whatever an earlier one would have, so earlier choices never need
    // revisiting, and the runtime stays O(name x pattern).
    const wchar* star = nullptr;       // pattern just after the last '*' seen
    const wchar* star_name = nullptr;  // name position that '*' currently stops at
    while (*name) {
        if (*pattern == u'*') {
            star = ++pattern;
            star_name = name;
        } else if (*pattern && (*pattern == u'?' || ascii_upper(*pattern) == ascii_upper(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star;
            name = ++star_name;
        } else {
            return 0;
        }
    }
    while (*pattern == u'*') ++pattern;
    return *pattern == 0;
}

int match_name(const void* units, uint32_t count, const wchar* pattern) {
    wchar* copy = static_cast<wchar*>(heap_alloc((size_t(count) + 1) * sizeof(wchar)));
    if (!copy) {
        print_err(u"Out of memory!\n");
        return 0;
    }
    std::memcpy(copy, units, size_t(count) * sizeof(wchar));
    copy[count] = 0;
    int matched = matcher(copy, pattern);
    heap_free(copy);
    return matched;
}
