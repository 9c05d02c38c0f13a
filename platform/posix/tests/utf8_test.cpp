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

// Runs of ASCII take a faster way through the encoder, which must not change
// a byte wherever a run starts or ends.
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
