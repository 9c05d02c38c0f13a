// Searching every volume on Linux: the volumes are the distinct targets of
// the prefix's drive entries, each searched under its first drive root.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/entry_points.h"
#include "platform/platform.h"
#include "platform/posix/entry_points_table.h"
#include "tests/system/run_process.h"
#include "tests/system/test_volumes.h"
#include "volumes/volumes.h"

namespace fs = std::filesystem;

namespace {

std::u16string wide(const std::string& text) {
    // UTF-8 to UTF-16, for paths that are valid UTF-8.
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        uint32_t c = b;
        size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        if (len > 1) c = b & (0x3F >> (len - 1));
        for (size_t k = 1; k < len; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (c >= 0x10000) {
            out += char16_t(0xD800 + ((c - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += char16_t(c);
        }
        i += len;
    }
    return out;
}

// The volume name of a Linux path, as the enumeration gives it.
std::u16string volume_name_of(const std::string& path) {
    return u"\\\\?\\" + wide(fs::canonical(path).string()) + u"\\";
}

// Sets WINEPREFIX for the test's own process and puts the old value back.
struct PrefixScope {
    std::string old;
    bool had;
};
PrefixScope set_prefix(const std::string& prefix) {
    const char* old = std::getenv("WINEPREFIX");
    PrefixScope scope{old ? old : "", old != nullptr};
    setenv("WINEPREFIX", prefix.c_str(), 1);
    return scope;
}
void restore_prefix(const PrefixScope& scope) {
    if (scope.had) setenv("WINEPREFIX", scope.old.c_str(), 1);
    else unsetenv("WINEPREFIX");
}

// Every name the enumeration gives, in order; empty when it cannot start.
std::vector<std::u16string> enumerate() {
    std::vector<std::u16string> names;
    std::vector<wchar> buffer(0x8000);
    Handle find = platform_find_first_volume(buffer.data(), 0x8000);
    if (find == INVALID_HANDLE) return names;
    do {
        names.push_back(buffer.data());
    } while (platform_find_next_volume(find, buffer.data(), 0x8000));
    EXPECT_EQ(platform_find_volume_close(find), 1);
    return names;
}

// The mount path list of a volume by the two-call protocol; fails the test on
// the wrong protocol answers. Returns the list with its NULs.
std::u16string mount_paths(const std::u16string& name) {
    uint32_t needed = 0;
    EXPECT_EQ(posix_volume_path_names(name.c_str(), nullptr, 0, &needed), 0);
    EXPECT_EQ(platform_last_error(), uint32_t(ERROR_CODE_MORE_DATA));
    if (needed == 0) return std::u16string();
    std::u16string list(needed, u'#');
    uint32_t short_needed = 0;
    EXPECT_EQ(posix_volume_path_names(name.c_str(), list.data(), needed - 1, &short_needed), 0);
    EXPECT_EQ(platform_last_error(), uint32_t(ERROR_CODE_MORE_DATA));
    EXPECT_EQ(short_needed, needed);
    EXPECT_EQ(posix_volume_path_names(name.c_str(), list.data(), needed, &needed), 1);
    return list;
}

struct Drives {
    std::string prefix;  // the prefix folder, holding the images too
    std::string ntfs;    // unpacked NTFS image, or empty
    std::string fat;
};

// The NTFS images at hand: the bundled sample volume, and the Windows-made
// sample cut out of its disk when ../shared holds it.
struct NtfsImage {
    std::string gz;
    long skip;
};
std::vector<NtfsImage> ntfs_images() {
    std::vector<NtfsImage> images;
    std::string bundled = std::string(MORLA_SOURCE_DIR) + "/samples/sample-volume.img.gz";
    if (fs::exists(bundled)) images.push_back({bundled, 0});
    std::string windows_made = shared_sample_path("ntfs-lastaccess.raw.gz");
    if (!windows_made.empty()) images.push_back({windows_made, 65536});
    return images;
}

// c:: on an NTFS image (a plain file when none is given), e:: on the same
// image through a hard link, d:: on a FAT image, g:: on the FAT image through
// a chain of links, f:: dangling, and Wine's own 'c:' folder link beside them.
Drives make_drives(const NtfsImage* image, const std::string& prefix_name = "") {
    Drives d;
    d.prefix = make_temp_folder();
    if (!prefix_name.empty()) {
        d.prefix += "/" + prefix_name;
        fs::create_directories(d.prefix);
    }
    if (image) {
        d.ntfs = unpack_image(image->gz, image->skip);
    } else {
        d.ntfs = d.prefix + "/plain.img";
        EXPECT_EQ(std::system(("truncate -s 1M '" + d.ntfs + "'").c_str()), 0);
    }
    d.fat = d.prefix + "/fat.img";
    EXPECT_EQ(std::system(("truncate -s 2M '" + d.fat + "' && mkfs.fat '" + d.fat +
                           "' >/dev/null 2>&1")
                              .c_str()),
              0);
    if (d.ntfs.empty()) return d;
    link_drive(d.prefix, 'c', d.ntfs);
    fs::create_hard_link(d.ntfs, d.prefix + "/same-image.img");
    link_drive(d.prefix, 'e', d.prefix + "/same-image.img");
    link_drive(d.prefix, 'd', d.fat);
    link_drive(d.prefix, 'f', d.prefix + "/missing.img");
    fs::create_symlink(d.fat, d.prefix + "/fat-link.img");
    link_drive(d.prefix, 'g', d.prefix + "/fat-link.img");
    fs::create_directories(d.prefix + "/drive_c");
    fs::create_symlink("../drive_c", d.prefix + "/dosdevices/c:");
    return d;
}

void remove_drives(const Drives& d) {
    remove_tree(d.prefix);
    if (fs::path(d.prefix).parent_path().filename().string().rfind("morla-test-", 0) == 0)
        remove_tree(fs::path(d.prefix).parent_path());
    if (!d.ntfs.empty() && d.ntfs.rfind(d.prefix, 0) != 0) remove_tree(fs::path(d.ntfs).parent_path());
}

TEST(VolumeList, DistinctTargetsInLetterOrderWithTheirDriveRoots) {
    // The names carry the paths whole, non-ASCII folders included.
    for (const char* prefix_name : {"", "pr\xc3\xa9" "fixe-\xe6\xbc\xa2-\xf0\x9f\x93\x81"}) {
        SCOPED_TRACE(prefix_name);
        Drives d = make_drives(nullptr, prefix_name);
        PrefixScope scope = set_prefix(d.prefix);
        std::string dosdevices = fs::canonical(d.prefix + "/dosdevices").string();
        std::vector<std::u16string> names = enumerate();
        std::vector<std::u16string> expected = {volume_name_of(d.ntfs), volume_name_of(d.fat),
                                                u"\\\\?\\" + wide(dosdevices) + u"/f::\\"};
        EXPECT_EQ(names, expected);
        struct Case {
            size_t volume;
            std::u16string list;
        };
        const Case cases[] = {
            {0, std::u16string(u"C:\\\0E:\\\0\0", 9)},
            {1, std::u16string(u"D:\\\0G:\\\0\0", 9)},
            {2, std::u16string(u"F:\\\0\0", 5)},
        };
        for (const Case& c : cases) {
            if (c.volume < names.size()) {
                EXPECT_EQ(mount_paths(names[c.volume]), c.list);
            }
        }
        // The volume name opens its target, as a device path would.
        Handle volume = platform_open_volume(names.size() > 1 ? names[1].c_str() : u"");
        EXPECT_NE(volume, INVALID_HANDLE);
        if (volume != INVALID_HANDLE) platform_close_handle(volume);
        restore_prefix(scope);
        remove_drives(d);
    }
}

TEST(VolumeList, VanishedVolumesAndMissingEntries) {
    Drives d = make_drives(nullptr);
    PrefixScope scope = set_prefix(d.prefix);
    std::vector<std::u16string> names = enumerate();
    ASSERT_EQ(names.size(), 3u);
    uint32_t needed = 7;
    // The FAT image is still there but no entry names it any more.
    fs::remove(d.prefix + "/dosdevices/d::");
    fs::remove(d.prefix + "/dosdevices/g::");
    EXPECT_EQ(posix_volume_path_names(names[1].c_str(), nullptr, 0, &needed), 0);
    EXPECT_EQ(platform_last_error(), uint32_t(ENOENT));
    // The image behind c:: is gone; e:: still names its other link.
    fs::remove(d.ntfs);
    EXPECT_EQ(posix_volume_path_names(names[0].c_str(), nullptr, 0, &needed), 0);
    EXPECT_EQ(platform_last_error(), uint32_t(ENOENT));
    // The dangling entry itself is gone.
    fs::remove(d.prefix + "/dosdevices/f::");
    EXPECT_EQ(posix_volume_path_names(names[2].c_str(), nullptr, 0, &needed), 0);
    EXPECT_EQ(platform_last_error(), uint32_t(ENOENT));
    // Only names of the volume form are volume names.
    for (const char16_t* bad : {u"\\\\.\\C:", u"C:\\", u"\\\\?\\", u""}) {
        EXPECT_EQ(posix_volume_path_names(bad, nullptr, 0, &needed), 0);
        EXPECT_EQ(platform_last_error(), uint32_t(EINVAL));
    }
    // A capacity that cannot hold the name fails.
    std::vector<wchar> small(8);
    EXPECT_EQ(platform_find_first_volume(small.data(), 8), INVALID_HANDLE);
    // No entries at all, and no prefix folder: the enumeration cannot start.
    remove_tree(d.prefix + "/dosdevices");
    fs::create_directories(d.prefix + "/dosdevices");
    EXPECT_TRUE(enumerate().empty());
    setenv("WINEPREFIX", (d.prefix + "/no-such-prefix").c_str(), 1);
    EXPECT_TRUE(enumerate().empty());
    restore_prefix(scope);
    remove_drives(d);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(AllVolumes, PatternOnlySearchesEachVolumeOnceUnderItsFirstDrive) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    std::vector<NtfsImage> images = ntfs_images();
    if (images.empty()) GTEST_SKIP() << "no NTFS sample volume";
    for (const NtfsImage& image : images) {
        Drives d = make_drives(&image);
        ASSERT_FALSE(d.ntfs.empty()) << image.gz;
        for (const char* pattern : {"*.txt", "*"}) {
            SCOPED_TRACE(image.gz + " " + pattern);
            ProcessResult all = run_morla({pattern}, {{"WINEPREFIX", d.prefix}});
            ProcessResult drive_c = run_morla({pattern, "C"}, {{"WINEPREFIX", d.prefix}});
            EXPECT_EQ(all.status, 0);
            EXPECT_EQ(all.err, "Unable to access volume '\\\\.\\F:'\n");
            EXPECT_EQ(drive_c.status, 0);
            EXPECT_EQ(drive_c.err, "");
            EXPECT_FALSE(all.out.empty());
            EXPECT_EQ(lines_of(all.out), lines_of(drive_c.out));
            for (const std::string& line : lines_of(all.out)) {
                EXPECT_EQ(line.rfind("C:\\", 0), 0u) << line;
            }
        }
        remove_drives(d);
    }

    // Without entries the search says so and still ends with status 0.
    std::string empty = make_temp_folder();
    ProcessResult none = run_morla({"*.txt"}, {{"WINEPREFIX", empty}});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "Error enumerating volumes\n");
    remove_tree(empty);
}

// With the volume-path query missing, each volume name is opened as it
// stands and its text from the fifth unit on is the prefix of its lines.
TEST(AllVolumes, WithoutTheQueryTheVolumeNameIsTheDevicePath) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    std::vector<NtfsImage> images = ntfs_images();
    if (images.empty()) GTEST_SKIP() << "no NTFS sample volume";
    Drives d = make_drives(&images[0]);
    ASSERT_FALSE(d.ntfs.empty());
    ProcessResult drive_c = run_morla({"*.txt", "C"}, {{"WINEPREFIX", d.prefix}});
    PrefixScope scope = set_prefix(d.prefix);
    posix_hide_entry_point("GetVolumePathNamesForVolumeNameW", true);
    look_up_entry_points();
    ASSERT_EQ(volume_path_query, nullptr);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    search_all_volumes(u"*.txt");
    platform_flush(STREAM_OUT);
    platform_flush(STREAM_ERR);
    std::string out = ::testing::internal::GetCapturedStdout();
    std::string err = ::testing::internal::GetCapturedStderr();
    posix_hide_entry_point("GetVolumePathNamesForVolumeNameW", false);
    look_up_entry_points();
    restore_prefix(scope);

    std::string image = fs::canonical(d.ntfs).string() + "\\";
    std::string expected;
    for (const std::string& line : lines_of(drive_c.out)) expected += image + line.substr(2) + "\n";
    EXPECT_FALSE(drive_c.out.empty());
    EXPECT_EQ(out, expected);
    std::string dosdevices = fs::canonical(d.prefix + "/dosdevices").string();
    EXPECT_EQ(err, "Unable to access volume '\\\\?\\" + dosdevices + "/f::\\'\n");
    remove_drives(d);
}

}  // namespace
#endif
