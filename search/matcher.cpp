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

PatternEnds pattern_ends(const wchar* pattern) {
    // A whole-name match pairs a literal first (or last) unit of the pattern
    // with the name's first (or last) unit, so most names fail one look:
    // 'report*' at the first, '*.doc' at the last.
    if (*pattern == 0) return {PATTERN_EMPTY, 0};
    if (*pattern != u'*' && *pattern != u'?') return {PATTERN_FIRST, ascii_upper(*pattern)};
    const wchar last = pattern[text_length(pattern) - 1];
    if (last == u'*' || last == u'?') return {PATTERN_ANY, 0};
    return {PATTERN_LAST, ascii_upper(last)};
}

namespace {
// Whether any of the count units at bytes is 0, four at a time: the last four
// read once more, overlapping, instead of one by one.
bool holds_zero_unit(const uint8_t* bytes, uint32_t count) {
    auto zero_in = [](const uint8_t* at) {
        uint64_t four;
        std::memcpy(&four, at, sizeof four);
        return ((four - 0x0001000100010001ull) & ~four & 0x8000800080008000ull) != 0;
    };
    if (count < 4) {
        for (uint32_t i = 0; i < count; ++i) {
            wchar c;
            std::memcpy(&c, bytes + 2 * size_t(i), sizeof c);
            if (c == 0) return true;
        }
        return false;
    }
    const uint8_t* last = bytes + 2 * size_t(count) - 8;
    for (const uint8_t* at = bytes; at < last; at += 8)
        if (zero_in(at)) return true;
    return zero_in(last);
}
}  // namespace

bool last_agrees(const void* units, uint32_t count, wchar unit) {
    const uint8_t* bytes = static_cast<const uint8_t*>(units);
    wchar last;
    std::memcpy(&last, bytes + 2 * size_t(count - 1), sizeof last);
    if (ascii_upper(last) == unit) return true;
    // A unit 0 inside the name (damage) would end it before its last unit.
    if (!holds_zero_unit(bytes, count)) return false;
    uint32_t end = 1;
    for (wchar c; end < count; ++end) {
        std::memcpy(&c, bytes + 2 * size_t(end), sizeof c);
        if (c == 0) break;
    }
    std::memcpy(&last, bytes + 2 * size_t(end - 1), sizeof last);
    return ascii_upper(last) == unit;
}

int match_name(const void* units, uint32_t count, const wchar* pattern) {
    if (!ends_agree(units, count, pattern_ends(pattern))) return 0;
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
