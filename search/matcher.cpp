#include "search/matcher.h"

#include <cstdint>
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

namespace {
// A whole-name match pairs a literal first (or last) unit of the pattern
// with the name's first (or last) unit, so most names fail one of these two
// looks, without the copy: 'report*' at the first, '*.doc' at the last. The
// name ends at its first unit 0, as its terminated copy does.
bool ends_agree(const void* units, uint32_t count, const wchar* pattern) {
    const uint8_t* bytes = static_cast<const uint8_t*>(units);
    wchar first = 0;
    if (count) std::memcpy(&first, bytes, sizeof first);
    if (*pattern != u'*' && *pattern != u'?') {
        // An empty pattern takes an empty name only; a literal, its unit.
        if (*pattern == 0) return first == 0;
        return first != 0 && ascii_upper(first) == ascii_upper(*pattern);
    }
    const size_t length = text_length(pattern);
    const wchar last = pattern[length - 1];
    if (last == u'*' || last == u'?') return true;
    uint32_t end = 0;
    for (wchar c; end < count; ++end) {
        std::memcpy(&c, bytes + 2 * size_t(end), sizeof c);
        if (c == 0) break;
    }
    if (end == 0) return false;
    wchar name_last;
    std::memcpy(&name_last, bytes + 2 * size_t(end - 1), sizeof name_last);
    return ascii_upper(name_last) == ascii_upper(last);
}
}  // namespace

int match_name(const void* units, uint32_t count, const wchar* pattern) {
    if (!ends_agree(units, count, pattern)) return 0;
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
