// Text: UTF-8 <-> UTF-16 without loss (the rules are in utf8.h).
#include "platform/posix/utf8.h"

#include <cstdint>
#include <cstring>

size_t utf8_to_utf16(const char* text, size_t count, wchar* out) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
    size_t n = 0;
    size_t i = 0;
    while (i < count) {
        uint8_t b = bytes[i];
        if (b < 0x80) {
            out[n++] = b;
            ++i;
            continue;
        }
        // Sequence length and the smallest code point it may encode (no overlongs).
        size_t len = 0;
        uint32_t cp = 0, min = 0;
        if (b >= 0xC2 && b <= 0xDF) len = 2, cp = b & 0x1F, min = 0x80;
        else if (b >= 0xE0 && b <= 0xEF) len = 3, cp = b & 0x0F, min = 0x800;
        else if (b >= 0xF0 && b <= 0xF4) len = 4, cp = b & 0x07, min = 0x10000;
        bool valid = len && i + len <= count;
        for (size_t k = 1; valid && k < len; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) valid = false;
            else cp = (cp << 6) | (bytes[i + k] & 0x3F);
        }
        if (valid && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
        if (!valid) {
            out[n++] = wchar(0xDC00 + b);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out[n++] = wchar(0xD800 + (cp >> 10));
            out[n++] = wchar(0xDC00 + (cp & 0x3FF));
        } else {
            out[n++] = wchar(cp);
        }
        i += len;
    }
    return n;
}

size_t utf16_to_utf8(const wchar* units, size_t count, char* text) {
    uint8_t* out = reinterpret_cast<uint8_t*>(text);
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        // Runs of ASCII, the bulk of any path, go sixteen units at a time, in
        // loops of fixed length that the compiler turns into vector code.
        // Local copies keep the compiler from fearing that out overlaps units.
        while (count - i >= 16) {
            wchar chunk[16];
            std::memcpy(chunk, units + i, sizeof chunk);
            unsigned all = 0;
            for (wchar c : chunk) all |= c;
            if (all >= 0x80) break;
            uint8_t ascii[16];
            for (size_t k = 0; k < 16; ++k) ascii[k] = uint8_t(chunk[k]);
            std::memcpy(out + n, ascii, sizeof ascii);
            n += 16;
            i += 16;
        }
        while (i < count && units[i] < 0x80) out[n++] = uint8_t(units[i++]);
        if (i == count) break;
        uint32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
            out[n++] = uint8_t(0xF0 | (cp >> 18));
            out[n++] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
            out[n++] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
            out[n++] = uint8_t(0x80 | (cp & 0x3F));
            continue;
        }
        if (c >= 0xDC80 && c <= 0xDCFF) {  // a byte that was not UTF-8
            out[n++] = uint8_t(c - 0xDC00);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
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

std::u16string utf16_text(const std::string& bytes) {
    std::u16string units(bytes.size(), u'\0');
    units.resize(utf8_to_utf16(bytes.data(), bytes.size(), units.data()));
    return units;
}

std::string utf8_text(const wchar* units, size_t count) {
    std::string bytes(3 * count, '\0');
    bytes.resize(utf16_to_utf8(units, count, bytes.data()));
    return bytes;
}
