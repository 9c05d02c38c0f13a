// Whole-name matching against a pattern with '*' (any run of code units,
// none included) and '?' (exactly one code unit). Every other unit is literal
// and compared after upper-casing 'a'-'z' only.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Matches a counted name (units as stored, possibly unaligned) through a
// terminated copy; the copy ends at the first unit 0. 1 for a match, else 0.
// When the copy cannot be allocated it warns and counts as no match.
int match_name(const void* units, uint32_t count, const wchar* pattern);

// Matches two terminated strings: 1 or 0. Iterative, in place, no
// allocation; time at most proportional to name length x pattern length.
int matcher(const wchar* name, const wchar* pattern);
