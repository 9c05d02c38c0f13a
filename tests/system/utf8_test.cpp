// Arguments and output on Linux: UTF-8 <-> UTF-16 without loss.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/posix/utf8.h"

namespace {

std::u16string decode(const std::string& bytes) {
    std::u16string units(bytes.size(), u'\0');
    units.resize(utf8_to_utf16(bytes.data(), bytes.size(), units.data()));
    return units;
}

std::string encode(const std::u16string& units) {
    std::string bytes(3 * units.size(), '\0');
    bytes.resize(utf16_to_utf8(units.data(), units.size(), bytes.data()));
    return bytes;
}

TEST(Utf8, DecodesValidTextAndEscapesEveryOtherByte) {
    struct Case {
        std::string bytes;
        std::u16string units;
    };
    const Case cases[] = {
        {"a.doc", u"a.doc"},
        {"\xc3\xa9" "clair", u"\u00e9clair"},
        {"\xe4\xb8\xad", u"\u4e2d"},
        {"\xf0\x9f\x98\x80", u"\U0001F600"},
        {"\xff", u"\xdcff"},
        {"\xc3", u"\xdcc3"},                       // cut short
        {"\xc0\xaf", u"\xdcc0\xdcaf"},             // overlong
        {"\xed\xa0\x80", u"\xdced\xdca0\xdc80"},   // an encoded surrogate
        {"\xf4\x90\x80\x80", u"\xdcf4\xdc90\xdc80\xdc80"},  // beyond U+10FFFF
        {"a\x80" "b", u"a\xdc80" "b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decode(c.bytes), c.units);
        EXPECT_EQ(encode(c.units), c.bytes);
    }
}

TEST(Utf8, EveryByteStringSurvivesTheRoundTrip) {
    std::mt19937 random(7);
    const char interesting[] = {'a', '\x80', '\xbf', '\xc2', '\xc3', '\xe0', '\xed', '\xef',
                                '\xf0', '\xf4', '\xf5', '\xff', '\x00'};
    for (int i = 0; i < 20000; ++i) {
        std::string bytes;
        size_t length = random() % 9;
        for (size_t k = 0; k < length; ++k)
            bytes += (random() % 2) ? interesting[random() % sizeof interesting] : char(random());
        ASSERT_EQ(encode(decode(bytes)), bytes);
    }
}

TEST(Utf8, LoneSurrogatesOutsideTheByteRangeBecomeReplacementCharacters) {
    EXPECT_EQ(encode(u"\xd800x"), "\xef\xbf\xbdx");
    EXPECT_EQ(encode(u"\xdc00"), "\xef\xbf\xbd");
    EXPECT_EQ(encode(u"x\xdbff"), "x\xef\xbf\xbd");
}

}  // namespace
#endif
