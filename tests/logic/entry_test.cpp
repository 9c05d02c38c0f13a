#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "front/entry.h"
#include "base/entry_points.h"
#include "tests/fake_platform/fake_platform.h"

namespace {

int run(std::vector<std::u16string> args) {
    std::vector<wchar*> argv;
    for (std::u16string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return morla_entry(int(args.size()), argv.data());
}

class Entry : public ::testing::Test {
  protected:
    void SetUp() override { fake_reset(); }
};

TEST_F(Entry, NoArgumentPrintsUsageOnStandardError) {
    EXPECT_EQ(run({u"morla"}), 1);
    EXPECT_EQ(fake_out, u"");
    EXPECT_EQ(fake_err_utf8(),
              "Usage:\tmorla <pattern> [<drive letter>*]\n"
              "\tpattern\t\tfilename to search for, e.g. *.doc\n"
              "\tdrive letter\te.g. C\n\n"
              "Note: Multiple drive letters may be given, separated by spaces;\n"
              "if only a pattern is given, Morla will search all local NTFS\n"
              "file systems.\n");
}

TEST_F(Entry, DriveLettersAreCheckedByTheirFirstUnit) {
    struct Case {
        std::vector<std::u16string> letters;
        std::string err;
    };
    const Case cases[] = {
        {{u"1", u"q"}, "Invalid drive letter '1'\nUnable to access drive q\n"},
        {{u"cdrive"}, "Unable to access drive c\n"},
        {{u"c", u"C"}, "Unable to access drive c\nUnable to access drive C\n"},
        {{u""}, "Invalid drive letter ''\n"},
        {{u"\u00e9"}, "Invalid drive letter '\xc3\xa9'\n"},
        {{u"[", u"@"}, "Invalid drive letter '['\nInvalid drive letter '@'\n"},
        {{u"A", u"Z", u"a", u"z"},
         "Unable to access drive A\nUnable to access drive Z\nUnable to access drive a\n"
         "Unable to access drive z\n"},
        {{u"`", u"{"}, "Invalid drive letter '`'\nInvalid drive letter '{'\n"},
    };
    for (const Case& c : cases) {
        fake_reset();
        std::vector<std::u16string> args = {u"morla", u"x.txt"};
        args.insert(args.end(), c.letters.begin(), c.letters.end());
        EXPECT_EQ(run(args), 3);
        EXPECT_EQ(fake_err_utf8(), c.err);
        EXPECT_EQ(fake_out, u"");
    }
}

TEST_F(Entry, OptionalEntryPointsAreLookedUpEveryRun) {
    fake_missing_entry_points = {"IsUserAnAdmin"};
    run({u"morla"});
    EXPECT_NE(volume_path_query, nullptr);
    EXPECT_EQ(admin_query, nullptr);
    fake_missing_entry_points = {};
    run({u"morla"});
    EXPECT_NE(admin_query, nullptr);
}

}  // namespace
