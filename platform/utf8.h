// UTF-8 one character at a time, shared by both systems' text: Linux's
// lossless conversions and Windows's streams and console. Each keeps its own
// rule for what is not UTF-8; the rules of UTF-8 itself are here once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// A character begun by a lead byte and not yet complete: its bits so far,
// the continuation bytes it still needs, and the range the next of them must
// lie in (which keeps out overlong forms, surrogates and anything above
// U+10FFFF).
struct Utf8Carry {
    uint32_t code;
    uint8_t needed;
    uint8_t low, high;
};

// The character byte b begins: needed is 0 for ASCII (code b) and for a byte
// that begins none (code 0xFFFFFFFF).
inline Utf8Carry utf8_lead(uint8_t b) {
    if (b < 0x80) return Utf8Carry{b, 0, 0x80, 0xBF};
    if (b >= 0xC2 && b <= 0xDF) return Utf8Carry{b & 0x1Fu, 1, 0x80, 0xBF};
    if (b >= 0xE0 && b <= 0xEF)
        return Utf8Carry{b & 0x0Fu, 2, uint8_t(b == 0xE0 ? 0xA0 : 0x80),
                         uint8_t(b == 0xED ? 0x9F : 0xBF)};
    if (b >= 0xF0 && b <= 0xF4)
        return Utf8Carry{b & 0x07u, 3, uint8_t(b == 0xF0 ? 0x90 : 0x80),
                         uint8_t(b == 0xF4 ? 0x8F : 0xBF)};
    return Utf8Carry{0xFFFFFFFF, 0, 0x80, 0xBF};
}

// Takes the next byte of the character: false when it cannot continue it
// (the carry is then unchanged).
inline bool utf8_continue(Utf8Carry* carry, uint8_t b) {
    if (b < carry->low || b > carry->high) return false;
    carry->code = carry->code << 6 | (b & 0x3Fu);
    carry->low = 0x80;
    carry->high = 0xBF;
    --carry->needed;
    return true;
}

// A code point (not a surrogate, at most U+10FFFF) as UTF-16; the units stored.
inline size_t utf16_put(uint32_t c, wchar* out) {
    if (c < 0x10000) {
        out[0] = wchar(c);
        return 1;
    }
    out[0] = wchar(0xD800 + ((c - 0x10000) >> 10));
    out[1] = wchar(0xDC00 + ((c - 0x10000) & 0x3FF));
    return 2;
}

// The code point at units[0] when a surrogate pair starts there (*took 2),
// else the unit itself (*took 1), lone surrogates included.
inline uint32_t utf16_take(const wchar* units, size_t count, size_t* took) {
    const uint32_t c = units[0];
    if (c >= 0xD800 && c <= 0xDBFF && count > 1 && units[1] >= 0xDC00 && units[1] <= 0xDFFF) {
        *took = 2;
        return 0x10000 + ((c - 0xD800) << 10) + (uint32_t(units[1]) - 0xDC00);
    }
    *took = 1;
    return c;
}

// A code point as UTF-8, a lone surrogate as U+FFFD; the bytes stored (1-4).
inline size_t utf8_put(uint32_t c, uint8_t* out) {
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    if (c < 0x80) {
        out[0] = uint8_t(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = uint8_t(0xC0 | (c >> 6));
        out[1] = uint8_t(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = uint8_t(0xE0 | (c >> 12));
        out[1] = uint8_t(0x80 | ((c >> 6) & 0x3F));
        out[2] = uint8_t(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = uint8_t(0xF0 | (c >> 18));
    out[1] = uint8_t(0x80 | ((c >> 12) & 0x3F));
    out[2] = uint8_t(0x80 | ((c >> 6) & 0x3F));
    out[3] = uint8_t(0x80 | (c & 0x3F));
    return 4;
}
