#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/heap.h"
#include "search/matcher.h"
#include "tests/fake_platform/fake_platform.h"

namespace {

wchar upper(wchar c) { return (c >= u'a' && c <= u'z') ? wchar(c - 32) : c; }

// The four rules, transcribed literally (recursive, exponential): the oracle.
int rules(const wchar* n, const wchar* p) {
    if (*p == 0) return *n == 0;
    if (*p == u'*') {
        if (rules(n, p + 1)) return 1;
        if (*n) return rules(n + 1, p);
        return p[1] == 0;
    }
    if (*p == u'?') return *n ? rules(n + 1, p + 1) : 0;
    if (upper(*n) != upper(*p)) return 0;
    return rules(n + 1, p + 1);
}

int match(const std::u16string& name, const std::u16string& pattern) {
    return match_name(name.data(), uint32_t(name.size()), pattern.c_str());
}

TEST(Matcher, Examples) {
    struct Case {
        std::u16string pattern, name;
        int expected;
    };
    const Case cases[] = {
        {u"*.doc", u"Report.DOC", 1},
        {u"*.doc", u"report.doc", 1},
        {u"*.doc", u"report.docx", 0},
        {u"*.doc", u"x.doc ", 0},
        {u"*", u"", 1},
        {u"*", u"anything at all", 1},
        {u"", u"", 1},
        {u"", u"a", 0},
        {u"?", u"", 0},
        {u"?", u"ab", 0},
        {u"a?c", u"abc", 1},
        {u"a?c", u"ac", 0},
        {u"*a*", u"Banana", 1},
        {u"**", u"Banana", 1},
        {u"***", u"", 1},
        {u"*?", u"", 0},
        {u"\u00c9*", u"\u00e9clair", 0},
        {u"e*", u"Eclair", 1},
        {u"E*", u"eclair", 1},
        {u"??", u"\U0001F600", 1},  // a surrogate pair is two units
        {u"?", u"\U0001F600", 0},
        {u"[ab].\\", u"[AB].\\", 1},  // only '*' and '?' are special
        {u"x.txt", u"x_txt", 0},
        {u"\uffff", u"\uffff", 1},
        {u"@", u"`", 0},  // neighbours of the folded range stay apart
        {u"{", u"[", 0},
        {u"*ab*ab", u"abXabab", 1},
        {u"*ab*ab", u"abXaba", 0},
    };
    fake_reset();
    for (const Case& c : cases) {
        EXPECT_EQ(match(c.name, c.pattern), c.expected)
            << std::string(c.pattern.begin(), c.pattern.end());
    }
    EXPECT_EQ(fake_err, u"");
}

// Every name and pattern up to four units over small alphabets, then longer
// random ones: the matcher agrees with the rules on all of them.
TEST(Matcher, AgreesWithTheRules) {
    const std::u16string name_units = u"aA*\u00e9";
    const std::u16string pattern_units = u"a*?A";
    auto all = [](const std::u16string& alphabet, size_t max) {
        std::vector<std::u16string> out{u""};
        for (size_t i = 0; i < out.size(); ++i)
            if (out[i].size() < max)
                for (wchar c : alphabet) out.push_back(out[i] + c);
        return out;
    };
    size_t checked = 0, matched = 0;
    for (const std::u16string& n : all(name_units, 4))
        for (const std::u16string& p : all(pattern_units, 4)) {
            int expected = rules(n.c_str(), p.c_str());
            ASSERT_EQ(matcher(n.c_str(), p.c_str()), expected);
            ++checked;
            matched += size_t(expected);
        }

    const std::u16string units = u"aAbBzZ.?*\u00e9\u00c9\u007f\xd83d\xde00\uffff{`@";
    std::mt19937 random(12345);
    for (int i = 0; i < 200000; ++i) {
        std::u16string n, p;
        size_t alphabet = 2 + random() % (units.size() - 2);
        for (size_t len = random() % 12; len; --len) n += units[random() % alphabet];
        for (size_t len = random() % 9; len; --len) {
            // Patterns favour wildcards and copy letters from the name.
            unsigned kind = unsigned(random() % 6);
            if (kind == 0) p += u'*';
            else if (kind == 1) p += u'?';
            else if (kind == 2 && !n.empty()) p += upper(n[random() % n.size()]);
            else p += units[random() % alphabet];
        }
        int expected = rules(n.c_str(), p.c_str());
        ASSERT_EQ(matcher(n.c_str(), p.c_str()), expected);
        ++checked;
        matched += size_t(expected);
    }
    // Both outcomes well represented, or the comparison proves little.
    EXPECT_GT(matched, checked / 20);
    EXPECT_LT(matched, checked - checked / 20);
}

// Patterns that would take the recursion exponential time or unbounded depth.
TEST(Matcher, DepthAndTimeStayBounded) {
    std::u16string name(255, u'a');
    std::u16string stars;
    for (int i = 0; i < 40; ++i) stars += u"*a";
    EXPECT_EQ(matcher(name.c_str(), (stars + u"b").c_str()), 0);
    EXPECT_EQ(matcher(name.c_str(), (stars + u"*").c_str()), 1);
    std::u16string long_pattern(1000000, u'*');
    EXPECT_EQ(matcher(name.c_str(), (long_pattern + u"A").c_str()), 1);
    EXPECT_EQ(matcher(name.c_str(), (long_pattern + u"?b").c_str()), 0);
}

TEST(Matcher, CopyEndsAtTheFirstNulAndNeedsNoAlignment) {
    fake_reset();
    const std::u16string with_nul(u"ab\0cd", 5);
    EXPECT_EQ(match(with_nul, u"ab"), 1);
    EXPECT_EQ(match(with_nul, u"ab*d"), 0);
    // Names sit at any byte offset in a record.
    alignas(2) unsigned char bytes[9] = {0, 'x', 0, '.', 0, 'T', 0, 0, 0};
    EXPECT_EQ(match_name(bytes + 1, 3, u"X.t"), 1);
    EXPECT_EQ(match_name(bytes + 1, 0, u""), 1);
}

// The last unit is the one before the first 0, 'a'-'z' upper-cased: for every
// 0 position, unaligned, the name ending its allocation (ASan sees over-reads).
TEST(Matcher, LastUnitIsTheOneBeforeTheFirstNul) {
    for (size_t n = 1; n <= 256; n = n == 40 ? 255 : n + 1)
        for (size_t zero = 0; zero <= n; ++zero)  // n: none
            for (size_t offset = 0; offset < 6; ++offset) {
                std::u16string name;
                for (size_t i = 0; i < n; ++i)
                    name += wchar(i % 5 == 3 ? 0x100 + i : (i % 3 ? u'a' : u'A') + i * 7 % 26);
                if (zero < n) name[zero] = 0;
                if (offset >= 3) name[n - 1] = 0;  // a second 0 at times
                std::vector<unsigned char> bytes(offset + 2 * n);
                std::memcpy(bytes.data() + offset, name.data(), 2 * n);
                const size_t end = std::min(name.find(u'\0'), n);
                for (wchar unit : {upper(name[end ? end - 1 : 0]), upper(name[n - 1]), u'@'}) {
                    const bool rule = end && upper(name[end - 1]) == unit;
                    ASSERT_EQ(last_agrees(bytes.data() + offset, uint32_t(n), unit), rule)
                        << n << " units, 0 at " << zero << ", offset " << offset;
                    const PatternEnds ends{PATTERN_LAST, unit};
                    ASSERT_EQ(ends_agree(bytes.data() + offset, uint32_t(n), ends), rule);
                }
            }
}

TEST(Matcher, CopyThatCannotBeAllocatedWarnsAndDoesNotMatch) {
    fake_reset();
    heap_failure_countdown = 1;
    EXPECT_EQ(match(u"name", u"*"), 0);
    EXPECT_EQ(fake_err_utf8(), "Out of memory!\n");
    EXPECT_EQ(match(u"name", u"*"), 1);
    heap_failure_countdown = -1;
}

}  // namespace
