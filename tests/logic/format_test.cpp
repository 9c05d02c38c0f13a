#include <gtest/gtest.h>

#include <string>

#include "base/format.h"
#include "base/safe_text.h"
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
    // boundary must still reach the stream whole, through the plain print and
    // the safe one (the one of paths).
    for (bool safe : {false, true}) {
        for (size_t before = 500; before < 530; ++before) {
            fake_reset();
            std::u16string text(before, u'a');
            text += u"\U0001F600";
            if (safe) print_stream_safe(STREAM_OUT, u"%s\n", text.c_str());
            else print_out(u"%s\n", text.c_str());
            EXPECT_EQ(fake_out, text + u"\n");
            for (const std::u16string& piece : fake_out_writes) {
                ASSERT_FALSE(piece.empty());
                EXPECT_FALSE(piece.back() >= 0xD800 && piece.back() <= 0xDBFF) << before;
            }
        }
    }
}

// Text from a volume or the system cannot drive a terminal: each listed unit
// becomes '?', a surrogate without its partner U+FFFD, anything else stays.
TEST(SafeText, ReplacesExactlyTheUnitsThatDriveATerminal) {
    const wchar replaced[] = {0x00,   0x1b,   0x1f,   0x7f,   0x80,   0x85,   0x9b,
                              0x9c,   0x9d,   0x9f,   0x061c, 0x200e, 0x200f, 0x2028,
                              0x2029, 0x202a, 0x202d, 0x202e, 0x2066, 0x2069};
    const std::u16string kept = u" ~\xa0\xe9\u061b\u061d\u200d\u2010\u2027\u202f\u2065\u206a\ufffd"
                                u"\U0001F600";
    struct Case {
        std::u16string text, shown;
    };
    std::vector<Case> cases = {
        {kept, kept},
        {u"a\xdc9b", u"a\ufffd"},          // a lone low surrogate
        {u"\xdcc2\xdc9b", u"\ufffd\ufffd"},  // not a pair, nor the byte pair C2 9B
        {u"x\xd83d", u"x\ufffd"},          // a high surrogate at the end
        {u"\xd83dx", u"\ufffdx"},
        {u"\xde00\xd83d", u"\ufffd\ufffd"},  // the two halves the wrong way round
    };
    for (wchar c : replaced) cases.push_back({std::u16string(1, c), u"?"});
    for (const Case& c : cases) {
        // At every place of a run of ASCII long enough for the block checks.
        for (size_t before : {size_t(0), size_t(15), size_t(16), size_t(17), size_t(40)}) {
            std::u16string text = std::u16string(before, u'a') + c.text + u"zz";
            std::u16string out(text.size(), u'#');
            ASSERT_EQ(copy_safe_text(text.data(), text.size(), out.data(), out.size()),
                      text.size());
            EXPECT_EQ(out, std::u16string(before, u'a') + c.shown + u"zz") << before;
        }
    }
}

TEST(SafeText, APairIsNeverSplitAtTheEndOfTheRoom) {
    const std::u16string text = u"ab\U0001F600c";
    wchar out[4];
    EXPECT_EQ(copy_safe_text(text.data(), text.size(), out, 3), 2u);  // the pair waits
    EXPECT_EQ(copy_safe_text(text.data(), text.size(), out, 4), 4u);
    EXPECT_EQ(std::u16string(out, 4), u"ab\U0001F600");
    // A lone high surrogate at the end of the room is not held back.
    EXPECT_EQ(copy_safe_text(u"ab\xd83d" u"c", 4, out, 3), 3u);
    EXPECT_EQ(std::u16string(out, 3), u"ab\ufffd");
}

}  // namespace
