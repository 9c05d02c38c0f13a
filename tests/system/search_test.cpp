// The search on real NTFS volumes made by mkntfs and ntfs-3g, through the
// real morla binary: what matches, how it prints, and in which order, with
// The Sleuth Kit's fls telling which record each path belongs to.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>
#include <unistd.h>

#include "platform/posix/utf8.h"
#include "tests/system/run_process.h"
#include "tests/system/test_volumes.h"

namespace {

typedef std::multiset<std::string> Lines;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The program's full path on PATH, or empty.
std::string find_tool(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        std::string candidate = dir + "/" + name;
        if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::string();
}

// A fixture image as drive C of a fresh prefix folder.
struct Drive {
    std::string image;
    std::string prefix;
    explicit Drive(const std::string& fixture) {
        std::string gz = fixture_path(fixture);
        image = unpack_image(gz);
        if (!image.empty()) {
            prefix = make_temp_folder();
            link_drive(prefix, 'c', image);
        }
    }
    ~Drive() {
        remove_tree(prefix);
        if (!image.empty()) remove_tree(image.substr(0, image.rfind('/')));
    }
    ProcessResult morla(const std::string& pattern) const {
        return run_morla({pattern, "C"}, {{"WINEPREFIX", prefix}}, 120);
    }
};

// Path as morla prints it ('C:\dir\name') -> record number, for every in-use
// entry fls lists. A file listed once per data stream ('name:stream') counts
// as 'name'.
std::map<std::string, uint64_t> fls_records(const std::string& fls, const std::string& image) {
    std::map<std::string, uint64_t> records;
    ProcessResult r = run_process(fls, {"-r", "-p", image}, {}, 120);
    if (r.status != 0) return records;
    for (const std::string& line : lines_of(r.out)) {
        // "r/r 64-128-2:\tdocs/shared.txt"; deleted entries carry a '*'.
        size_t tab = line.find('\t');
        size_t space = line.find(' ');
        if (tab == std::string::npos || space > tab || line[space + 1] == '*') continue;
        uint64_t number = std::strtoull(line.c_str() + space + 1, nullptr, 10);
        std::string path = line.substr(tab + 1);
        if (size_t colon = path.find(':'); colon != std::string::npos) path.resize(colon);
        for (char& c : path)
            if (c == '/') c = '\\';
        records.emplace("C:\\" + path, number);
    }
    return records;
}

class SearchNames : public ::testing::Test {
  protected:
    static Drive* drive;
    static void SetUpTestSuite() { drive = new Drive("names.img.gz"); }
    static void TearDownTestSuite() {
        delete drive;
        drive = nullptr;
    }
    void SetUp() override {
        if (drive->image.empty()) GTEST_SKIP() << "tests/fixtures/names.img.gz is absent";
    }
    static Lines search(const std::string& pattern) {
        ProcessResult r = drive->morla(pattern);
        EXPECT_EQ(r.status, 0) << pattern;
        EXPECT_EQ(r.err, "") << pattern;
        std::vector<std::string> lines = lines_of(r.out);
        return Lines(lines.begin(), lines.end());
    }
};
Drive* SearchNames::drive = nullptr;

TEST_F(SearchNames, PatternsMatchWholeNamesFoldingOnlyAsciiLetters) {
    struct Case {
        std::string pattern;
        Lines expected;
    };
    const Case cases[] = {
        {"REPORT.DOC", {"C:\\cases\\Report.DOC", "C:\\cases\\report.doc"}},
        {"*.doc", {"C:\\cases\\Report.DOC", "C:\\cases\\report.doc"}},
        {"*.doc?", {"C:\\cases\\report.docx", "C:\\cases\\x.doc "}},
        {"x.doc ", {"C:\\cases\\x.doc "}},
        {"\xc3\x89*", {}},                      // 'É*' against 'éclair.txt'
        {"\xc3\x89" "CLAIR.TXT", {}},           // 'ÉCLAIR.TXT'
        {"\xc3\xa9*", {"C:\\intl\\\xc3\xa9" "clair.txt"}},  // 'é*'
        {"\xc3\xa9" "CLAIR.TXT", {"C:\\intl\\\xc3\xa9" "clair.txt"}},
        {"\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82.txt", {}},  // 'привет.txt'
        {"\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82.TXT",
         {"C:\\intl\\\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82.txt"}},
        // A character beyond U+FFFF is two code units.
        {"?smile.txt", {}},
        {"??SMILE.TXT", {"C:\\intl\\\xf0\x9f\x98\x80smile.txt"}},
        {"*\xe6\x97\xa5*", {"C:\\intl\\\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt"}},
        // The short name is never tested; the long one is.
        {"LONGFI~1.TXT", {}},
        {"*~*", {}},
        {"long file name.txt", {"C:\\Long File Name.txt"}},
        // One file under two long names in two folders.
        {"shared*", {"C:\\docs\\shared.txt", "C:\\archive\\2023\\shared-copy.txt"}},
        // Control characters match '?' and print as '?'.
        {"line?feed.txt", {"C:\\ctrl\\line?feed.txt"}},
        {"tab?here.txt", {"C:\\ctrl\\tab?here.txt"}},
        {"*leaf*", {"C:\\deep\\l1\\l2\\l3\\l4\\l5\\l6\\leaf.txt"}},
        // Deleted files and folders are not in use.
        {"d??.txt", {}},
        {"gone", {}},
        {"k0?.txt", {"C:\\keep\\k01.txt", "C:\\keep\\k02.txt", "C:\\keep\\k03.txt",
                     "C:\\keep\\k04.txt", "C:\\keep\\k05.txt", "C:\\keep\\k06.txt",
                     "C:\\keep\\k07.txt", "C:\\keep\\k08.txt", "C:\\keep\\k09.txt"}},
        {".", {"C:\\."}},
        {"$mft*", {"C:\\$MFT", "C:\\$MFTMirr"}},
    };
    for (const Case& c : cases) EXPECT_EQ(search(c.pattern), c.expected) << c.pattern;
}

TEST_F(SearchNames, UpperCasePatternFindsWhatLowerCaseFinds) {
    Lines lower = search("*.txt");
    EXPECT_EQ(search("*.TXT"), lower);
    EXPECT_EQ(lower.count("C:\\readme.txt"), 1u);
    EXPECT_GT(lower.size(), 20u);
}

// Both names of the hard-linked file belong to one record and print one
// after the other, in the record's attribute order.
TEST_F(SearchNames, HardLinkedFilePrintsOncePerLongName) {
    std::string fls = find_tool("fls");
    if (fls.empty()) SKIP_WITHOUT_TOOL("fls (The Sleuth Kit) not found");
    std::map<std::string, uint64_t> records = fls_records(fls, drive->image);
    const std::string a = "C:\\docs\\shared.txt", b = "C:\\archive\\2023\\shared-copy.txt";
    ASSERT_TRUE(records.count(a) && records.count(b));
    EXPECT_EQ(records[a], records[b]);
    std::vector<std::string> all = lines_of(drive->morla("*").out);
    size_t at_a = 0, at_b = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i] == a) at_a = i + 1;
        if (all[i] == b) at_b = i + 1;
    }
    ASSERT_TRUE(at_a && at_b);
    EXPECT_EQ(at_a > at_b ? at_a - at_b : at_b - at_a, 1u);
}

// Names made to drive a terminal, and names no UTF-8 could make (lone
// surrogates, U+0000), each print as one line of valid UTF-8 in which every
// such character shows as '?' or U+FFFD; a name ends at a unit 0, as it
// does when matched.
TEST(SearchHostileNames, EachIsOneLineOfValidUtf8ThatCannotDriveATerminal) {
    Drive drive("hostile-names.img.gz");
    if (drive.image.empty()) GTEST_SKIP() << "tests/fixtures/hostile-names.img.gz is absent";
    ProcessResult r = drive.morla("*");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string h = "C:\\hostile\\", fffd = "\xef\xbf\xbd";
    const Lines expected = {
        h + "a?31mRED?0m.txt",   h + "e?0;TITLE?.txt",   h + "o?0;unterminated.txt",
        h + "b?C:\\Windows\\System32\\fake.txt",    h + "l?line?para.txt",
        h + "d?txt.exe",         h + "m???????????.txt", h + "esc?[31mred?.txt",
        h + "del?.txt",          h + "e-acute-\xc3\xa9.txt",
        h + "lone-" + fffd + ".txt", h + "high-" + fffd + ".txt",
        h + "pair-" + fffd + fffd + ".txt", h + "e-acute-" + fffd + fffd + ".txt",
        h + "nul-"};
    Lines shown;
    for (const std::string& line : lines_of(r.out))
        if (line.rfind(h, 0) == 0) shown.insert(line);
    EXPECT_EQ(shown, expected);
    // Decoding marks each byte that is not valid UTF-8 as U+DC80-U+DCFF.
    std::u16string units(r.out.size(), u'\0');
    units.resize(utf8_to_utf16(r.out.data(), r.out.size(), units.data()));
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            ++i;  // a character beyond U+FFFF, whole
            continue;
        }
        bool listed = (c < 0x20 && c != u'\n') || (c >= 0x7F && c <= 0x9F) || c == 0x061C ||
                      c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
                      (c >= 0x2066 && c <= 0x2069);
        ASSERT_FALSE(listed || (c >= 0xDC00 && c <= 0xDFFF)) << "unit " << std::hex << unsigned(c);
    }
}

// Lines come in descending record numbers, not by name or folder.
TEST(SearchOrder, OutputFollowsDescendingRecordNumbers) {
    std::string fls = find_tool("fls");
    if (fls.empty()) SKIP_WITHOUT_TOOL("fls (The Sleuth Kit) not found");
    for (const char* fixture : {"names.img.gz", "fragmented.img.gz"}) {
        Drive drive(fixture);
        if (drive.image.empty()) continue;
        std::map<std::string, uint64_t> records = fls_records(fls, drive.image);
        ASSERT_FALSE(records.empty()) << fixture;
        ProcessResult r = drive.morla("*");
        EXPECT_EQ(r.status, 0);
        uint64_t previous = UINT64_MAX;
        size_t checked = 0;
        for (const std::string& line : lines_of(r.out)) {
            if (line == "C:\\." || line.find('?') != std::string::npos) continue;
            auto found = records.find(line);
            ASSERT_NE(found, records.end()) << fixture << ": " << line;
            EXPECT_LE(found->second, previous) << fixture << ": " << line;
            previous = found->second;
            ++checked;
        }
        EXPECT_GT(checked, 40u) << fixture;
    }
}

}  // namespace
#endif
