// Text: UTF-8 <-> UTF-16 without loss (the rules are in utf8.h).
#include "platform/posix/utf8.h"

#include <cstdint>
#include <cstring>

#include "platform/utf8.h"

size_t utf8_to_utf16(const char* text, size_t count, wchar* out) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
    size_t n = 0;
    for (size_t i = 0; i < count;) {
        Utf8Carry c = utf8_lead(bytes[i]);
        size_t end = i + 1;
        while (c.needed && end < count && utf8_continue(&c, bytes[end])) ++end;
        if (c.needed || c.code == 0xFFFFFFFF) {
            out[n++] = wchar(0xDC00 + bytes[i]);  // not UTF-8: the byte itself
            ++i;
            continue;
        }
        n += utf16_put(c.code, out + n);
        i = end;
    }
    return n;
}

size_t utf16_to_utf8(const wchar* units, size_t count, char* text) {
    uint8_t* out = reinterpret_cast<uint8_t*>(text);
    size_t n = 0;
    for (size_t i = 0; i < count;) {
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
        size_t took;
        const uint32_t c = utf16_take(units + i, count - i, &took);
        i += took;
        if (c >= 0xDC80 && c <= 0xDCFF) out[n++] = uint8_t(c - 0xDC00);  // a byte that was not UTF-8
        else n += utf8_put(c, out + n);
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
