// Whole-name matching against a pattern with '*' (any run of code units,
// none included) and '?' (exactly one code unit). Every other unit is literal
// and compared after upper-casing 'a'-'z' only.
#pragma once

#include <cstdint>
#include <cstring>

#include "base/text.h"
#include "platform/platform.h"

// What a whole-name match asks of a name's two ends, worked out once per
// pattern: its first unit when that is literal, else its last when that is.
enum : uint8_t { PATTERN_ANY, PATTERN_EMPTY, PATTERN_FIRST, PATTERN_LAST };
struct PatternEnds {
    uint8_t kind;
    wchar unit;  // the literal unit, 'a'-'z' upper-cased
};
PatternEnds pattern_ends(const wchar* pattern);
// Whether the last unit of a name of count units (units as stored, possibly
// unaligned), the name ending at its first unit 0, is unit once 'a'-'z' are
// upper-cased. Reads no byte past the count units.
bool last_agrees(const void* units, uint32_t count, wchar unit);
// False when a counted name (units as stored, possibly unaligned, ending at
// the first unit 0) cannot match, as its first or last unit disagrees with
// the pattern's literal one; true when it may.
inline bool ends_agree(const void* units, uint32_t count, PatternEnds ends) {
    // The name ends at its first unit 0, as its terminated copy does.
    wchar first = 0;
    if (count) std::memcpy(&first, units, sizeof first);
    switch (ends.kind) {
    case PATTERN_FIRST:
        return first != 0 && ascii_upper(first) == ends.unit;
    case PATTERN_LAST:
        return first != 0 && last_agrees(units, count, ends.unit);
    case PATTERN_EMPTY:
        return first == 0;
    default:
        return true;
    }
}

// The units of a counted name (as stored, possibly unaligned) before its
// first unit 0: the part that is matched, so the part a path holds and a
// line prints.
uint32_t name_end(const void* units, uint32_t count);

// Matches a counted name (units as stored, possibly unaligned) through a
// terminated copy; the copy ends at the first unit 0. 1 for a match, else 0.
// When the copy cannot be allocated it warns and counts as no match.
int match_name(const void* units, uint32_t count, const wchar* pattern);

// Matches two terminated strings: 1 or 0. Iterative, in place, no
// allocation; time at most proportional to name length x pattern length.
int matcher(const wchar* name, const wchar* pattern);
