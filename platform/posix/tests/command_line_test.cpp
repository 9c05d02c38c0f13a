// The command line the relay's frame carries: split by the Windows rules,
// and split(join(words)) giving the words back.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/relay/command_line.h"

namespace {

std::u16string join(const std::vector<std::u16string>& words) {
    std::vector<const wchar*> pointers;
    for (const std::u16string& word : words) pointers.push_back(word.c_str());
    return command_line_join(pointers.data(), pointers.size());
}

TEST(CommandLine, SplitsByTheWindowsRules) {
    struct Case {
        std::u16string line;
        std::vector<std::u16string> words;
    };
    const Case cases[] = {
        {u"prog \"abc\" d e", {u"prog", u"abc", u"d", u"e"}},
        {u"prog a\\\\\\b d\"e f\"g h", {u"prog", u"a\\\\\\b", u"de fg", u"h"}},
        {u"prog a\\\\\\\"b c d", {u"prog", u"a\\\"b", u"c", u"d"}},
        {u"prog a\\\\\\\\\"b c\" d e", {u"prog", u"a\\\\b c", u"d", u"e"}},
        {u"prog a\"b\"\" c d", {u"prog", u"ab\" c d"}},
        {u"prog \t a\t\tb  ", {u"prog", u"a", u"b"}},
        {u"prog \"\" \"\"", {u"prog", u"", u""}},
        {u"prog \"open quote", {u"prog", u"open quote"}},
        {u"prog a\\\\", {u"prog", u"a\\\\"}},
        // The program name takes no escapes and ends at its closing quote.
        {u"\"C:\\Program Files\\morla.exe\" *.doc C",
         {u"C:\\Program Files\\morla.exe", u"*.doc", u"C"}},
        {u"\"C:\\dir\\\"x y", {u"C:\\dir\\", u"x", u"y"}},
        {u"C:\\a\"b c", {u"C:\\a\"b", u"c"}},
        {u"", {u""}},
    };
    for (const Case& c : cases) EXPECT_EQ(command_line_split(c.line.c_str()), c.words);
    EXPECT_EQ(command_line_split_arguments(u" \\\\.\\pipe\\x \"a b\""),
              (std::vector<std::u16string>{u"\\\\.\\pipe\\x", u"a b"}));
}

TEST(CommandLine, SplitUndoesJoinExactly) {
    // Spaces, tabs, quotes, backslashes, bytes that were not UTF-8, and more.
    const char16_t alphabet[] = {u'a', u' ', u'\t', u'"', u'\\', 0xDC80, 0xDCFF, 0x00E9};
    std::vector<std::u16string> strings = {u""};
    for (size_t begin = 0, length = 1; length <= 4; ++length) {
        size_t end = strings.size();
        for (size_t i = begin; i < end; ++i)
            for (char16_t c : alphabet) strings.push_back(strings[i] + c);
        begin = end;
    }
    std::vector<std::vector<std::u16string>> lists;
    for (const std::u16string& s : strings) lists.push_back({u"p", s});
    for (const std::u16string& a : strings) {
        if (a.size() > 2) continue;
        for (const std::u16string& b : strings)
            if (b.size() <= 2) lists.push_back({u"p", a, b, u""});
    }
    // Long runs of backslashes and quotes.
    for (int n = 0; n < 12; ++n) {
        lists.push_back({u"p", std::u16string(size_t(n), u'\\')});
        lists.push_back({u"p", std::u16string(size_t(n), u'\\') + u'"'});
        lists.push_back({u"p", u"\"" + std::u16string(size_t(n), u'\\') + u"\" x"});
    }
    // Program names: anything without a quote, and quotes kept when unquoted.
    for (const std::u16string& s : strings)
        if (s.size() <= 3 && s.find(u'"') == std::u16string::npos) {
            lists.push_back({s, u"x"});
            lists.push_back({s});
        }
    for (const char16_t* name : {u"a\"b", u"a\"", u"\\\"x", u"C:\\dir\\"}) lists.push_back({name, u"y"});

    size_t failures = 0;
    for (const std::vector<std::u16string>& words : lists) {
        std::u16string line = join(words);
        if (command_line_split(line.c_str()) != words && ++failures <= 5)
            ADD_FAILURE() << "round trip lost a word of a list of " << words.size();
    }
    EXPECT_EQ(failures, 0u) << "of " << lists.size() << " lists";
}

TEST(CommandLine, QuotesAProgramNameCannotHoldAreLeftOut) {
    EXPECT_EQ(command_line_split(join({u"my \"dir\"/morla", u"x"}).c_str()),
              (std::vector<std::u16string>{u"my dir/morla", u"x"}));
}

}  // namespace
#endif
