#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/heap.h"
#include "tests/logic/search_helpers.h"

namespace {

uint64_t ref(uint64_t number, uint16_t sequence) { return fake_reference(number, sequence); }

class Scan : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_reset();
        heap_failure_countdown = -1;
    }
    void TearDown() override { heap_failure_countdown = -1; }
};
typedef Scan ScanDeathTest;

// Records 0-5 in use, 6 and 7 free: the first reply names 5, so the next
// request is for 4, and every in-use record is asked for once, highest first.
TEST_F(Scan, FreeRecordsAreSkippedThroughTheNearestLowerRecord) {
    FakeDisk& disk = fake_add_disk(kDriveC, 8);
    for (uint64_t n = 0; n <= 4; ++n)
        fake_add_file(disk, n, 1, {{kRoot, u"r" + std::u16string(1, wchar(u'0' + n))}});
    fake_add_file(disk, 5, 5, {{kRoot, u".", 3}});
    EXPECT_EQ(scan(disk, u"*"), "C:\\.\nC:\\r4\nC:\\r3\nC:\\r2\nC:\\r1\nC:\\r0\n");
    EXPECT_EQ(disk.requests, (std::vector<uint64_t>{7, 4, 3, 2, 1, 0}));
    EXPECT_EQ(fake_err, u"");
}

// Output follows record numbers downward, whatever the names and folders.
TEST_F(Scan, OutputOrderIsDescendingRecordNumbers) {
    FakeDisk& disk = disk_with_root(4096);
    fake_add_file(disk, 4000, 1, {{ref(300, 1), u"a.txt"}});
    fake_add_file(disk, 300, 1, {{kRoot, u"z"}});
    fake_add_file(disk, 1000, 1, {{kRoot, u"m.txt"}});
    fake_add_file(disk, 20, 1, {{ref(300, 1), u"b.txt"}});
    EXPECT_EQ(scan(disk, u"*.txt"), "C:\\z\\a.txt\nC:\\m.txt\nC:\\z\\b.txt\n");
}

TEST_F(Scan, NothingToReadIsSilent) {
    struct Case {
        const char* what;
        int64_t valid_length;
        uint32_t record_size;
        bool ntfs;
    };
    const Case cases[] = {
        {"less than one record", 1023, 1024, true},
        {"empty table", 0, 1024, true},
        {"negative length", -4096, 1024, true},
        {"record size 0", 8192, 0, true},
        {"record size too large for its spare bytes", 8192, 0xFFFFFFF8, true},
        {"not NTFS", 8192, 1024, false},
    };
    for (const Case& c : cases) {
        fake_reset();
        FakeDisk& disk = disk_with_root();
        disk.valid_length = c.valid_length;
        disk.record_size = c.record_size;
        disk.ntfs = c.ntfs;
        EXPECT_EQ(scan(disk, u"*"), "") << c.what;
        EXPECT_EQ(fake_err, u"") << c.what;
        EXPECT_TRUE(disk.requests.empty()) << c.what;
    }
}

// Lines already printed stay; the scan of this volume ends with a report and
// the caller goes on with the next volume.
TEST_F(Scan, FailedRequestEndsThisVolumeOnly) {
    FakeDisk& c = disk_with_root(8);
    fake_add_file(c, 7, 1, {{kRoot, u"seven"}});
    fake_add_file(c, 6, 1, {{kRoot, u"six"}});
    fake_add_file(c, 3, 1, {{kRoot, u"three"}});
    c.failing[5] = 5;
    FakeDisk& d = fake_add_disk(u"\\\\.\\D:", 8);
    fake_add_file(d, 5, 5, {{kRoot, u".", 3}});
    fake_add_file(d, 2, 1, {{kRoot, u"two"}});
    EXPECT_EQ(scan(c, u"*"), "C:\\seven\nC:\\six\n");
    EXPECT_EQ(fake_err_utf8(), "Reading MFT record failed with error 5: fake text for 5\n");
    EXPECT_EQ(c.requests, (std::vector<uint64_t>{7, 6, 5}));
    EXPECT_EQ(scan(d, u"*"), "D:\\.\nD:\\two\n");
}

// A reply that names record 0 or below ends the loop after that record.
TEST_F(Scan, ReplyNamingRecordZeroOrBelowEndsTheScan) {
    for (int64_t named : {int64_t(0), int64_t(-1), INT64_MIN}) {
        fake_reset();
        FakeDisk& disk = disk_with_root(8);
        fake_add_file(disk, 7, 1, {{kRoot, u"seven"}});
        disk.named_as[7] = named;
        EXPECT_EQ(scan(disk, u"*"), "C:\\seven\n");
        EXPECT_EQ(disk.requests, std::vector<uint64_t>{7});
    }
}

// The heap sets no error and a contradicting reply follows a request that
// succeeded: each report carries its own code, whatever code was current.
TEST_F(ScanDeathTest, FatalFailuresCarryTheirOwnCode) {
    struct Case {
        const char* what;
        int64_t countdown;
        bool reply_above;
        uint32_t code;
        std::string report;
    };
    const Case cases[] = {
        {"record buffer", 1, false, 8,
         "Allocate file buffer failed with error 8: fake text for 8\n"},
        {"name copy", 2, false, 8, "OOM failed with error 8: fake text for 8\n"},
        {"reply above the request", -1, true, 1392,
         "Semantic error failed with error 1392: fake text for 2\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_reset();
        FakeDisk& disk = disk_with_root(8);
        fake_add_file(disk, 6, 1, {{kRoot, u"six"}});
        if (c.reply_above) disk.named_as[5] = 6;  // asked for 5 after 6: the reply names 6 again
        heap_failure_countdown = c.countdown;
#ifdef _WIN32
        const int status = int(c.code);
#else
        const int status = int(c.code & 0xFF);  // a Linux parent sees the low byte only
#endif
        EXPECT_EXIT(scan(disk, u"*"), ::testing::ExitedWithCode(status), literal_to_end(c.report));
        heap_failure_countdown = -1;
    }
}

// The matcher's own copy failing costs that name only; a failure inside path
// reconstruction prints the path built so far.
TEST_F(Scan, OtherAllocationFailuresAreNotFatal) {
    struct Case {
        int64_t countdown;
        std::string out, err;
    };
    // Allocations: record buffer (1), then for b.txt: name (2), matcher copy
    // (3), the climb's record buffer (4), the whole path (5).
    const Case cases[] = {
        {3, "C:\\a.txt\n", "Out of memory!\n"},
        {4, "C:b.txt\nC:\\a.txt\n", ""},
        {5, "C:b.txt\nC:\\a.txt\n", ""},
        {-1, "C:\\dir\\b.txt\nC:\\a.txt\n", ""},
    };
    for (const Case& c : cases) {
        fake_reset();
        FakeDisk& disk = disk_with_root(8);
        fake_add_file(disk, 7, 1, {{ref(6, 1), u"b.txt"}});
        fake_add_file(disk, 6, 1, {{kRoot, u"dir"}});
        fake_add_file(disk, 4, 1, {{kRoot, u"a.txt"}});
        heap_failure_countdown = c.countdown;
        EXPECT_EQ(scan(disk, u"*.txt"), c.out) << c.countdown;
        EXPECT_EQ(fake_err_utf8(), c.err) << c.countdown;
        heap_failure_countdown = -1;
    }
}

TEST_F(Scan, EveryLongNameOfARecordIsTested) {
    struct Case {
        const char* what;
        std::vector<FakeName> names;
        std::u16string pattern;
        std::string out;
    };
    const Case cases[] = {
        {"hard link in two folders", {{kRoot, u"x.txt"}, {ref(6, 1), u"x.txt"}}, u"X.TXT",
         "C:\\x.txt\nC:\\dir\\x.txt\n"},
        {"two names, one matching", {{kRoot, u"x.txt"}, {ref(6, 1), u"y.doc"}}, u"*.doc",
         "C:\\dir\\y.doc\n"},
        {"short name never matches", {{kRoot, u"Long name.txt", 1}, {kRoot, u"LONGNA~1.TXT", 2}},
         u"*~1*", ""},
        {"long name beside it does", {{kRoot, u"LONGNA~1.TXT", 2}, {kRoot, u"Long name.txt", 1}},
         u"L*", "C:\\Long name.txt\n"},
        {"empty name, '*'", {{kRoot, u""}}, u"*", "C:\\\nC:\\dir\nC:\\.\n"},
        {"empty name, empty pattern", {{kRoot, u""}}, u"", "C:\\\n"},
        {"empty name, '?'", {{kRoot, u""}}, u"?", "C:\\.\n"},
        {"unit 0 ends the name matched and printed", {{kRoot, std::u16string(u"ab\0c", 4)}},
         u"ab", "C:\\ab\n"},
        // What would drive a terminal is shown as '?' or U+FFFD, never as itself.
        {"controls, separators, overrides, lone halves",
         {{kRoot, u"a\x9b" u"31m\u2028b\u202etxt.exe\xdcc3\xdca9"}}, u"a*",
         "C:\\a?31m?b?txt.exe\xef\xbf\xbd\xef\xbf\xbd\n"},
    };
    for (const Case& c : cases) {
        fake_reset();
        FakeDisk& disk = disk_with_root(8);
        fake_add_file(disk, 6, 1, {{kRoot, u"dir"}});
        fake_add_file(disk, 7, 1, c.names);
        EXPECT_EQ(scan(disk, c.pattern), c.out) << c.what;
        EXPECT_EQ(fake_err, u"") << c.what;
    }
}

// The prefix is the device path from its fifth unit on, never read beyond
// the end of a shorter one.
TEST_F(Scan, PrefixIsTheDevicePathFromItsFifthUnit) {
    struct Case {
        std::u16string device_path;
        std::string out;
    };
    const Case cases[] = {
        {u"\\\\.\\C:", "C:\\name\n"},
        {u"\\\\.\\D:\\mnt\\data", "D:\\mnt\\data\\name\n"},
        {u"\\\\?\\Volume{1}\\", "Volume{1}\\\\name\n"},
        {u"\\\\.\\", "\\name\n"},
        {u"\\\\.", "\\name\n"},
        {u"", "\\name\n"},
        {u"\\\\?\\/img\x1b]0;x\x07\\", "/img?]0;x?\\\\name\n"},
    };
    for (const Case& c : cases) {
        fake_reset();
        FakeDisk& disk = disk_with_root(8);
        fake_add_file(disk, 6, 1, {{kRoot, u"name"}});
        // An exact-size copy, so that a read past its end is caught.
        std::vector<wchar> path(c.device_path.begin(), c.device_path.end());
        path.push_back(0);
        scan_volume(fake_disk_handle(disk), u"name", path.data());
        EXPECT_EQ(fake_out_utf8(), c.out);
    }
}

}  // namespace
