// UTF-16 text helpers: terminated strings (arguments, literals) and the
// ASCII-only case folding the "C" locale applies.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// Length in units up to the terminating NUL.
inline size_t text_length(const wchar* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

// Whether the text holds a '/'.
inline bool text_has_slash(const wchar* text) {
    for (; *text; ++text)
        if (*text == u'/') return true;
    return false;
}

// Upper-cases 'a'-'z' only; every other unit stays as it is.
inline wchar ascii_upper(wchar c) { return (c >= u'a' && c <= u'z') ? wchar(c - 32) : c; }

// Compares at most n units of two terminated strings; 1 when equal.
inline int text_equal_prefix(const wchar* a, const wchar* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return 0;
        if (a[i] == 0) return 1;
    }
    return 1;
}
