// Output encoding of long paths: runs of ASCII take a faster way through the
// encoder, which must not change a byte wherever a run starts or ends.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>

#include "platform/posix/utf8.h"

namespace {

std::string encode(const std::u16string& units) {
    std::string bytes(3 * units.size(), '\0');
    bytes.resize(utf16_to_utf8(units.data(), units.size(), bytes.data()));
    return bytes;
}

TEST(Utf8Runs, EveryCharacterAtEveryPlaceOfALongRun) {
    struct Special {
        std::u16string units;
        std::string bytes;
    };
    const Special specials[] = {
        {u"\u00e9", "\xc3\xa9"},              // two bytes
        {u"\u4e2d", "\xe4\xb8\xad"},          // three bytes
        {u"\U0001F600", "\xf0\x9f\x98\x80"},  // a surrogate pair
        {u"\xdc80", "\x80"},                  // a byte that was not UTF-8
        {u"\xd800", "\xef\xbf\xbd"},          // a lone surrogate
        {u"\x7f", "\x7f"},                    // the last ASCII unit
        {u"\x80", "\xc2\x80"},                // the first that is not
    };
    for (const Special& special : specials) {
        for (size_t before = 0; before <= 40; ++before) {
            for (size_t after = 0; after <= 20; ++after) {
                std::u16string units(before, u'a');
                std::string bytes(before, 'a');
                units += special.units + std::u16string(after, u'z');
                bytes += special.bytes + std::string(after, 'z');
                ASSERT_EQ(encode(units), bytes) << before << " " << after;
                // The pair split across the end of a text is no pair.
                if (special.units.size() == 2 && after == 0) {
                    ASSERT_EQ(encode(units.substr(0, units.size() - 1)),
                              std::string(before, 'a') + "\xef\xbf\xbd");
                }
            }
        }
    }
    for (size_t length = 0; length <= 100; ++length) {
        std::u16string units;
        std::string bytes;
        for (size_t i = 0; i < length; ++i) {
            units += char16_t(i % 128);
            bytes += char(i % 128);
        }
        ASSERT_EQ(encode(units), bytes) << length;
    }
}

}  // namespace
#endif
