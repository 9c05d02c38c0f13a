#include "search/matcher.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
#if defined(__SSE2__)
__m128i load16(const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
__m128i load8(const uint8_t* at) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at)); }
#endif

// Whether any of the count units at bytes is 0. Nearly every name holds none,
// so all compares are gathered and asked once. The last eight or sixteen bytes
// are read once more, overlapping, instead of one by one; nothing past the
// count units is read, as a name may end its buffer.
bool holds_zero_unit(const uint8_t* bytes, uint32_t count) {
    const size_t size = 2 * size_t(count);
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    if (count >= 8) {
        __m128i zeros = _mm_cmpeq_epi16(load16(bytes + size - 16), zero);
        for (size_t at = 0; at + 16 < size; at += 16)
            zeros = _mm_or_si128(zeros, _mm_cmpeq_epi16(load16(bytes + at), zero));
        return _mm_movemask_epi8(zeros) != 0;
    }
    if (count >= 4) {
        const __m128i ends = _mm_unpacklo_epi64(load8(bytes), load8(bytes + size - 8));
        return _mm_movemask_epi8(_mm_cmpeq_epi16(ends, zero)) != 0;
    }
#else
    auto zero_in = [](const uint8_t* at) {
        uint64_t four;
        std::memcpy(&four, at, sizeof four);
        return ((four - 0x0001000100010001ull) & ~four & 0x8000800080008000ull) != 0;
    };
    if (count >= 4) {
        const uint8_t* last = bytes + size - 8;
        for (const uint8_t* at = bytes; at < last; at += 8)
            if (zero_in(at)) return true;
        return zero_in(last);
    }
#endif
    for (uint32_t i = 0; i < count; ++i) {
        wchar c;
        std::memcpy(&c, bytes + 2 * size_t(i), sizeof c);
        if (c == 0) return true;
    }
    return false;
}
}  // namespace

uint32_t name_end(const void* units, uint32_t count) {
    const uint8_t* bytes = static_cast<const uint8_t*>(units);
    if (!holds_zero_unit(bytes, count)) return count;
    uint32_t end = 0;
    for (wchar c; end < count; ++end) {
        std::memcpy(&c, bytes + 2 * size_t(end), sizeof c);
        if (c == 0) break;
    }
    return end;
}

bool last_agrees(const void* units, uint32_t count, wchar unit) {
    const uint8_t* bytes = static_cast<const uint8_t*>(units);
    // A unit 0 inside the name (damage) ends it, as it ends the terminated copy.
    const uint32_t end = name_end(units, count);
    if (end == 0) return false;
    wchar last;
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
