#include <gtest/gtest.h>

#include <string>

#include "base/format.h"
#include "tests/fake_platform/fake_platform.h"

namespace {

std::u16string stored(const wchar* buffer, size_t n) { return std::u16string(buffer, n); }

TEST(Formatter, ConversionsGiveTheirText) {
    struct Case {
        const wchar* format;
        std::u16string expected;
    };
    wchar buffer[64];
    format_counted(buffer, 64, u"%s|%c|%.*s|%d|%08x|%%", u"ab", int(u'Z'), 2, u"xyz", -2147483647 - 1,
                   0xBEEFu);
    EXPECT_EQ(std::u16string(buffer), u"ab|Z|xy|-2147483648|0000beef|%");
    format_counted(buffer, 64, u"%d %d %08x", 0, 2147483647, 0xFFFFFFFFu);
    EXPECT_EQ(std::u16string(buffer), u"0 2147483647 ffffffff");
    // A NUL unit given to %c shows as nothing.
    format_counted(buffer, 64, u"'%c'", 0);
    EXPECT_EQ(std::u16string(buffer), u"''");
}

TEST(Formatter, CountedStoresNulOnlyWhenShorter) {
    struct Case {
        size_t limit;
        size_t length;           // whole text's length returned
        std::u16string stored;   // units stored
        bool terminated;
    };
    const Case cases[] = {
        {10, 6, u"\\\\.\\C:", true},   // shorter: NUL follows
        {6, 6, u"\\\\.\\C:", false},   // exactly n: no NUL
        {4, 6, u"\\\\.\\", false},     // longer: cut to n, no NUL
    };
    for (const Case& c : cases) {
        wchar buffer[16];
        for (wchar& u : buffer) u = u'#';
        size_t length = format_counted(buffer, c.limit, u"\\\\.\\%s", u"C:");
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(stored(buffer, c.stored.size()), c.stored);
        EXPECT_EQ(buffer[c.stored.size()], c.terminated ? u'\0' : u'#') << c.limit;
    }
}

TEST(Formatter, TerminatingAlwaysEndsWithNul) {
    wchar buffer[8];
    for (wchar& u : buffer) u = u'#';
    format_terminated(buffer, 5, u"%s failed", u"Step");
    EXPECT_EQ(std::u16string(buffer), u"Step");
    EXPECT_EQ(buffer[5], u'#');
    format_terminated(buffer, 8, u"%d", 42);
    EXPECT_EQ(std::u16string(buffer), u"42");
    format_terminated(buffer, 1, u"anything");
    EXPECT_EQ(buffer[0], u'\0');
}

TEST(Print, ASurrogatePairIsNeverSplitBetweenWrites) {
    // Long prints go out in pieces; a character beyond U+FFFF on a piece's
    // boundary must still reach the stream whole.
    for (size_t before = 500; before < 530; ++before) {
        fake_reset();
        std::u16string text(before, u'a');
        text += u"\U0001F600\n";
        print_out(u"%s", text.c_str());
        EXPECT_EQ(fake_out, text);
        for (const std::u16string& piece : fake_out_writes) {
            ASSERT_FALSE(piece.empty());
            EXPECT_FALSE(piece.back() >= 0xD800 && piece.back() <= 0xDBFF) << before;
        }
    }
}

}  // namespace
