#include "platform/windows/text_out.h"

#include <cstdint>

namespace {
const wchar kReplacement = 0xFFFD;

bool is_high(wchar c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low(wchar c) { return c >= 0xDC00 && c <= 0xDFFF; }
}  // namespace

size_t mend_utf16(SurrogateCarry* carry, const wchar* units, size_t count, wchar* out) {
    size_t n = 0;
    size_t i = 0;
    if (carry->high) {
        if (count && is_low(units[0])) {
            out[n++] = carry->high;
            out[n++] = units[0];
            i = 1;
        } else if (count) {
            out[n++] = kReplacement;
        } else {
            return 0;  // nothing new yet: keep waiting
        }
        carry->high = 0;
    }
    for (; i < count; ++i) {
        wchar c = units[i];
        if (is_high(c)) {
            if (i + 1 == count) {
                carry->high = c;
                break;
            }
            if (is_low(units[i + 1])) {
                out[n++] = c;
                out[n++] = units[++i];
                continue;
            }
            c = kReplacement;
        } else if (is_low(c)) {
            c = kReplacement;
        }
        out[n++] = c;
    }
    return n;
}

size_t release_carry(SurrogateCarry* carry, wchar* out) {
    if (!carry->high) return 0;
    carry->high = 0;
    out[0] = kReplacement;
    return 1;
}

size_t console_piece(const wchar* units, size_t count, size_t start, wchar* out, size_t* stored) {
    size_t n = 0;
    size_t end = start;
    while (end < count && units[end] != u'\n' && n < CONSOLE_PIECE_UNITS) out[n++] = units[end++];
    if (n == CONSOLE_PIECE_UNITS && end < count && is_high(out[n - 1]) && is_low(units[end]))
        out[n++] = units[end++];
    if (end < count && units[end] == u'\n') {
        out[n++] = u'\r';
        out[n++] = u'\n';
        ++end;
    }
    *stored = n;
    return end;
}

size_t encode_utf8(const wchar* units, size_t count, char* text) {
    uint8_t* out = reinterpret_cast<uint8_t*>(text);
    size_t n = 0;
    for (size_t i = 0; i < count;) {
        size_t took;
        n += utf8_put(utf16_take(units + i, count - i, &took), out + n);
        i += took;
    }
    return n;
}

size_t decode_utf8(Utf8Carry* carry, const uint8_t* bytes, size_t count, wchar* out) {
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (carry->needed) {
            if (utf8_continue(carry, b)) {
                if (!carry->needed) n += utf16_put(carry->code, out + n);
                continue;
            }
            // Cut short: what came so far is one malformed character, and
            // this byte starts afresh.
            carry->needed = 0;
            out[n++] = kReplacement;
        }
        *carry = utf8_lead(b);
        if (carry->needed) continue;
        out[n++] = carry->code == 0xFFFFFFFF ? kReplacement : wchar(carry->code);
    }
    return n;
}
