#include "base/safe_text.h"

#include <cstdint>

namespace {

bool is_high(wchar c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_surrogate(wchar c) { return c >= 0xD800 && c <= 0xDFFF; }

// C0 and C1 controls, line and paragraph separators, and the marks,
// embeddings, overrides and isolates that reorder text.
bool drives_terminal(wchar c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

size_t copy_safe_text(const wchar* text, size_t count, wchar* out, size_t room) {
    const size_t n = count < room ? count : room;
    // Printable ASCII, the bulk of any path, is copied and recognised in one
    // pass that the compiler vectorises; anything else is done again below.
    unsigned odd = 0;
    for (size_t i = 0; i < n; ++i) {
        out[i] = text[i];
        odd |= unsigned(uint16_t(text[i] - 0x20) >= 0x5F);
    }
    if (!odd) return n;
    size_t i = 0;
    while (i < n) {
        const wchar c = text[i];
        if (is_high(c) && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            if (i + 1 == n) break;  // the pair does not fit: it starts the next call
            out[i] = c;
            out[i + 1] = text[i + 1];
            i += 2;
        } else {
            out[i++] = drives_terminal(c) ? u'?' : is_surrogate(c) ? wchar(0xFFFD) : c;
        }
    }
    return i;
}
