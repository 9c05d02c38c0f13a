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
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = units[i];
        if (c < 0x80) {
            out[n++] = uint8_t(c);
            continue;
        }
        if (is_high(wchar(c)) && i + 1 < count && is_low(units[i + 1])) {
            uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(units[++i]) - 0xDC00);
            out[n++] = uint8_t(0xF0 | (cp >> 18));
            out[n++] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
            out[n++] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
            out[n++] = uint8_t(0x80 | (cp & 0x3F));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = kReplacement;
        if (c < 0x800) {
            out[n++] = uint8_t(0xC0 | (c >> 6));
            out[n++] = uint8_t(0x80 | (c & 0x3F));
        } else {
            out[n++] = uint8_t(0xE0 | (c >> 12));
            out[n++] = uint8_t(0x80 | ((c >> 6) & 0x3F));
            out[n++] = uint8_t(0x80 | (c & 0x3F));
        }
    }
    return n;
}

size_t decode_utf8(Utf8Carry* carry, const uint8_t* bytes, size_t count, wchar* out) {
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (carry->needed) {
            if (b >= carry->low && b <= carry->high) {
                carry->code = carry->code << 6 | (b & 0x3F);
                carry->low = 0x80;
                carry->high = 0xBF;
                if (--carry->needed) continue;
                const uint32_t c = carry->code;
                if (c < 0x10000) {
                    out[n++] = wchar(c);
                } else {
                    out[n++] = wchar(0xD800 + ((c - 0x10000) >> 10));
                    out[n++] = wchar(0xDC00 + ((c - 0x10000) & 0x3FF));
                }
                continue;
            }
            // Cut short: what came so far is one malformed character, and
            // this byte starts afresh.
            carry->needed = 0;
            out[n++] = kReplacement;
        }
        *carry = Utf8Carry{0, 0, 0x80, 0xBF};
        if (b < 0x80) {
            out[n++] = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            *carry = Utf8Carry{b & 0x1Fu, 1, 0x80, 0xBF};
        } else if (b >= 0xE0 && b <= 0xEF) {
            *carry = Utf8Carry{b & 0x0Fu, 2, uint8_t(b == 0xE0 ? 0xA0 : 0x80),
                               uint8_t(b == 0xED ? 0x9F : 0xBF)};
        } else if (b >= 0xF0 && b <= 0xF4) {
            *carry = Utf8Carry{b & 0x07u, 3, uint8_t(b == 0xF0 ? 0x90 : 0x80),
                               uint8_t(b == 0xF4 ? 0x8F : 0xBF)};
        } else {
            out[n++] = kReplacement;
        }
    }
    return n;
}
