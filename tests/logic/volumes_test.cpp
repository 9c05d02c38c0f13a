#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "front/entry.h"
#include "base/entry_points.h"
#include "base/heap.h"
#include "tests/fake_platform/fake_platform.h"
#include "volumes/volumes.h"

namespace {

const std::u16string kVolumeA = u"\\\\?\\Volume{aaaaaaaa-0000-0000-0000-000000000001}\\";
// Volume names come from the system: B's would set a terminal's title.
const std::u16string kVolumeB = u"\\\\?\\Volume{bbbbbbbb-\x1b]0;x\x07-0000-000000000002}\\";
const std::u16string kVolumeC = u"\\\\?\\Volume{cccccccc-0000-0000-0000-000000000003}\\";
const std::string kNameA = "\\\\?\\Volume{aaaaaaaa-0000-0000-0000-000000000001}\\";
const std::string kNameB = "\\\\?\\Volume{bbbbbbbb-?]0;x?-0000-000000000002}\\";  // as shown

class Volumes : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_reset();
        heap_failure_countdown = -1;
        look_up_entry_points();
    }
    void TearDown() override { heap_failure_countdown = -1; }
};

int run(std::vector<std::u16string> args) {
    std::vector<wchar*> argv;
    for (std::u16string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return morla_entry(int(args.size()), argv.data());
}

// A death-test pattern that matches the text literally, up to the end.
std::string literal_to_end(const std::string& text) {
    std::string pattern;
    for (char c : text) {
        if (std::string("\\.[](){}*+?^$|").find(c) != std::string::npos) pattern += '\\';
        pattern += c;
    }
    return pattern + "$";
}

FakeVolume volume(const std::u16string& name, const std::vector<std::u16string>& paths) {
    FakeVolume v;
    v.name = name;
    v.mount_paths = fake_mount_list(paths);
    return v;
}

// The device path comes out in the message of the open that fails, so every
// path the rule builds is visible whole.
TEST_F(Volumes, DevicePathIsPrefixAndFirstMountPathLessItsLastUnit) {
    struct Case {
        std::vector<std::u16string> paths;
        std::string err;
    };
    const Case cases[] = {
        {{u"C:\\"}, "Unable to access volume '\\\\.\\C:'\n"},
        {{u"E:\\", u"D:\\mnt\\data\\"}, "Unable to access volume '\\\\.\\E:'\n"},
        {{u"D:\\mnt\\data\\", u"E:\\"}, "Unable to access volume '\\\\.\\D:\\mnt\\data'\n"},
        {{u"D:\\m\u00f6\u0436\\"}, "Unable to access volume '\\\\.\\D:\\m\xc3\xb6\xd0\xb6'\n"},
        {{}, "Unable to access volume '\\\\.'\n"},
        {{u""}, "Unable to access volume '\\\\.'\n"},
        {{u"Q:"}, "Unable to access volume '\\\\.\\Q'\n"},
        {{u"Q"}, "Unable to access volume '\\\\.\\'\n"},
        {{u"D:\\\u202e\x85txt.exe\\"}, "Unable to access volume '\\\\.\\D:\\??txt.exe'\n"},
    };
    for (const Case& c : cases) {
        fake_reset();
        fake_volume_list = {volume(kVolumeA, c.paths)};
        // A volume not named, that cannot be opened, leaves the search complete.
        EXPECT_EQ(search_all_volumes(u"*.txt"), 1);
        EXPECT_EQ(fake_err_utf8(), c.err);
        EXPECT_EQ(fake_out, u"");
    }
}

// A disk with the table, the root and one file, 'report.doc', in it.
FakeDisk& add_disk(const std::u16string& device_path) {
    FakeDisk& disk = fake_add_disk(device_path, 8);
    fake_add_file(disk, 0, 1, {{fake_reference(5, 5), u"$MFT"}});
    fake_add_file(disk, 5, 5, {{fake_reference(5, 5), u"."}});
    fake_add_file(disk, 7, 1, {{fake_reference(5, 5), u"report.doc"}});
    return disk;
}

// Each volume that opens is scanned once under its device path and closed;
// its lines carry the device path from the fifth unit on, nothing when the
// device path is shorter.
TEST_F(Volumes, OpenedVolumesAreScannedUnderTheirDevicePath) {
    struct Case {
        bool query_missing;
        std::vector<std::u16string> paths;
        std::u16string opened;
        std::string out;
    };
    const Case cases[] = {
        {false, {u"C:\\", u"D:\\mnt\\"}, u"\\\\.\\C:", "C:\\report.doc\n"},
        // A folder's device path opens no volume: the volume name does,
        // without its trailing backslash; the lines keep the mount path.
        {false, {u"D:\\mnt\\data\\"}, kVolumeA.substr(0, kVolumeA.size() - 1),
         "D:\\mnt\\data\\report.doc\n"},
        {false, {u"D:\\mnt\\data\\", u"C:\\"}, kVolumeA.substr(0, kVolumeA.size() - 1),
         "D:\\mnt\\data\\report.doc\n"},
        {false, {}, u"\\\\.", "\\report.doc\n"},
        {true, {u"C:\\"}, kVolumeA, kNameA.substr(4) + "\\report.doc\n"},
    };
    for (const Case& c : cases) {
        fake_reset();
        if (c.query_missing) fake_missing_entry_points = {"GetVolumePathNamesForVolumeNameW"};
        look_up_entry_points();
        FakeDisk& disk = add_disk(c.opened);
        FakeDisk& not_ntfs = add_disk(u"\\\\.\\E:");
        not_ntfs.ntfs = false;
        fake_volume_list = {volume(kVolumeA, c.paths), volume(kVolumeB, {u"E:\\"})};
        if (c.query_missing) fake_disks.back().device_path = kVolumeB;
        EXPECT_EQ(search_all_volumes(u"*.DOC"), 1);  // the one that is not NTFS too
        EXPECT_EQ(fake_out_utf8(), c.out);
        EXPECT_EQ(fake_err_utf8(), "");
        EXPECT_EQ(disk.opens, 1);
        EXPECT_EQ(disk.closes, 1);
        EXPECT_EQ(not_ntfs.opens, 1);
        EXPECT_EQ(not_ntfs.closes, 1);
    }
}

TEST_F(Volumes, EveryVolumeInPlatformOrderWithTheTwoCallProtocol) {
    fake_volume_list = {volume(kVolumeB, {u"Z:\\"}), volume(kVolumeA, {u"C:\\", u"F:\\x\\"}),
                        volume(kVolumeC, {})};
    EXPECT_EQ(run({u"morla", u"*.doc"}), 0);
    EXPECT_EQ(fake_err_utf8(),
              "Unable to access volume '\\\\.\\Z:'\n"
              "Unable to access volume '\\\\.\\C:'\n"
              "Unable to access volume '\\\\.'\n");
    ASSERT_EQ(fake_path_queries.size(), 6u);
    const std::u16string names[] = {kVolumeB, kVolumeA, kVolumeC};
    const uint32_t lengths[] = {5, 11, 1};
    for (size_t i = 0; i < 3; ++i) {
        const FakePathQuery& length_query = fake_path_queries[2 * i];
        const FakePathQuery& list_query = fake_path_queries[2 * i + 1];
        EXPECT_EQ(length_query.volume_name, names[i]);
        EXPECT_FALSE(length_query.has_buffer);
        EXPECT_EQ(length_query.capacity, 0u);
        EXPECT_EQ(list_query.volume_name, names[i]);
        EXPECT_TRUE(list_query.has_buffer);
        EXPECT_EQ(list_query.capacity, lengths[i]);
    }
    // FindFirst, two FindNext that give a name, the one that ends the list.
    EXPECT_EQ(fake_find_capacities, std::vector<uint32_t>(4, 0x8000u));
    EXPECT_EQ(fake_find_handles_open, 0);
}

TEST_F(Volumes, FailureTable) {
    struct Case {
        const char* what;
        int64_t failing_allocation;   // heap_failure_countdown, -1 for none
        uint32_t find_first_error;
        int find_next_fails_after;
        bool empty_list;
        std::string err;
        const char16_t* first_mount = u"C:\\";
    };
    const std::string unable_c = "Unable to access volume '\\\\.\\C:'\n";
    const std::string unable_d = "Unable to access volume '\\\\.\\D:'\n";
    const Case cases[] = {
        {"nothing fails", -1, 0, -1, false, unable_c + unable_d},
        {"volume name buffer", 1, 0, -1, false, "Out of memory!\n"},
        {"enumeration cannot start", -1, 21, -1, false, "Error enumerating volumes\n"},
        {"no volume at all", -1, 0, -1, true, "Error enumerating volumes\n"},
        {"mount path list of the first volume", 2, 0, -1, false,
         "Insufficient memory to identify volume: '" + kNameA + "'\n" + unable_d},
        {"device path of the first volume", 3, 0, -1, false, "Out of memory!\n" + unable_d},
        {"mount path list of the second volume", 4, 0, -1, false,
         unable_c + "Insufficient memory to identify volume: '" + kNameB + "'\n"},
        {"next volume fails for another reason", -1, 0, 1, false, unable_c},
        {"volume name of a folder mount to open", 4, 0, -1, false, "Out of memory!\n" + unable_d,
         u"D:\\mnt\\"},
        {"device path of a folder mount", 3, 0, -1, false, "Out of memory!\n" + unable_d,
         u"D:\\mnt\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_reset();
        if (!c.empty_list)
            fake_volume_list = {volume(kVolumeA, {c.first_mount}), volume(kVolumeB, {u"D:\\"})};
        fake_find_first_error = c.find_first_error;
        fake_find_next_fails_after = c.find_next_fails_after;
        heap_failure_countdown = c.failing_allocation;
        search_all_volumes(u"*");
        heap_failure_countdown = -1;
        EXPECT_EQ(fake_err_utf8(), c.err);
        EXPECT_EQ(fake_out, u"");
        EXPECT_EQ(fake_find_handles_open, 0);
    }
}

// A second request that fails leaves a buffer that holds no list; one that
// claims success without a terminator must not be read past its end.
TEST_F(Volumes, SecondMountPathRequestIsNotTrustedBlindly) {
    FakeVolume grows = volume(kVolumeA, {u"C:\\"});
    grows.list_grows = true;
    FakeVolume unterminated = volume(kVolumeB, {u"D:\\"});
    unterminated.list_unterminated = true;
    fake_volume_list = {grows, unterminated, volume(kVolumeC, {u"E:\\"})};
    search_all_volumes(u"*");
    EXPECT_EQ(fake_err_utf8(),
              "Unable to access volume '\\\\.\\XXXX'\n"
              "Unable to access volume '\\\\.\\E:'\n");
}

TEST_F(Volumes, WithoutTheQueryEachVolumeNameIsOpenedAsItStands) {
    fake_missing_entry_points = {"GetVolumePathNamesForVolumeNameW"};
    look_up_entry_points();
    fake_volume_list = {volume(kVolumeA, {u"C:\\"}), volume(kVolumeB, {u"D:\\"})};
    search_all_volumes(u"*");
    EXPECT_EQ(fake_err_utf8(), "Unable to access volume '" + kNameA +
                                   "'\nUnable to access volume '" + kNameB + "'\n");
    EXPECT_TRUE(fake_path_queries.empty());
    EXPECT_EQ(volume_path_query, nullptr);
}

// A query missing at start is looked up again before each volume; once found
// it is used, and the look-up refills the administrator query as well.
TEST_F(Volumes, MissingQueryIsLookedUpAgain) {
    volume_path_query = nullptr;
    admin_query = nullptr;
    fake_volume_list = {volume(kVolumeA, {u"C:\\"})};
    search_all_volumes(u"*");
    EXPECT_EQ(fake_err_utf8(), "Unable to access volume '\\\\.\\C:'\n");
    EXPECT_EQ(fake_path_queries.size(), 2u);
    EXPECT_NE(volume_path_query, nullptr);
    EXPECT_NE(admin_query, nullptr);
}

// Any last error but 234 after the length query ends the process with the
// query's code; what went before has been printed.
TEST_F(Volumes, AnonymousVolumeEndsTheProcess) {
    for (uint32_t code : {5u, 87u}) {
        fake_reset();
        look_up_entry_points();
        FakeVolume anonymous = volume(kVolumeB, {u"D:\\"});
        anonymous.length_error = code;
        fake_volume_list = {volume(kVolumeA, {u"C:\\"}), anonymous, volume(kVolumeC, {u"E:\\"})};
        std::string expected = literal_to_end(
            "Unable to access volume '\\\\.\\C:'\nAnonymous volume: '" + kNameB +
            "'\npvolname failed with error " + std::to_string(code) + ": fake text for " +
            std::to_string(code % 10) + "\n");
        EXPECT_EXIT(search_all_volumes(u"*"), ::testing::ExitedWithCode(int(code)), expected);
    }
}

}  // namespace
