// Searching every volume on Linux: the volumes are the distinct targets of
// the prefix's drive entries, each searched under its first drive root, then
// every block device no letter names, under its node.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/entry_points.h"
#include "platform/platform.h"
#include "platform/posix/entry_points.h"
#include "platform/posix/volumes/block_devices.h"
#include "platform/posix/volumes/drive_map.h"
#include "platform/posix/volumes/volume_list.h"
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
    link_drive(d.prefix, 'z', d.fat);  // the last letter
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

// Every letter from A to Z, in either case, names its entry; the characters
// either side of each range name none.
TEST(DriveMap, LettersAToZInEitherCaseNameTheirEntries) {
    const PrefixScope scope = set_prefix("/prefix");
    const struct {
        const char16_t* device_path;
        std::string file;
    } cases[] = {
        {u"\\\\.\\A:", "/prefix/dosdevices/a::"}, {u"\\\\.\\a:", "/prefix/dosdevices/a::"},
        {u"\\\\.\\Z:", "/prefix/dosdevices/z::"}, {u"\\\\.\\z:", "/prefix/dosdevices/z::"},
        {u"\\\\.\\@:", ""}, {u"\\\\.\\[:", ""}, {u"\\\\.\\`:", ""}, {u"\\\\.\\{:", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(posix_device_file(c.device_path), c.file);
    restore_prefix(scope);
}

// Devices come in the order of their names, numbers by value.
TEST(BlockDevices, NamesInTheirNaturalOrder) {
    const std::vector<std::string> ordered = {
        "/dev/loop0",    "/dev/loop0p1",   "/dev/loop0p2",    "/dev/loop0p10", "/dev/loop1",
        "/dev/loop10",   "/dev/md0",       "/dev/nvme0n1",    "/dev/nvme0n1p2", "/dev/nvme0n1p10",
        "/dev/nvme1n1",  "/dev/sda",       "/dev/sda1",       "/dev/sda2",     "/dev/sda10",
        "/dev/sdaa",     "/dev/sdb",
    };
    std::vector<std::string> names(ordered.rbegin(), ordered.rend());
    std::sort(names.begin(), names.end(), posix_device_name_less);
    EXPECT_EQ(names, ordered);
    for (const std::string& name : ordered) EXPECT_FALSE(posix_device_name_less(name, name)) << name;
}

TEST(VolumeList, DistinctTargetsInLetterOrderWithTheirDriveRootsThenBlockDevices) {
    // The names carry the paths whole, non-ASCII folders included.
    for (const char* prefix_name : {"", "pr\xc3\xa9" "fixe-\xe6\xbc\xa2-\xf0\x9f\x93\x81"}) {
        SCOPED_TRACE(prefix_name);
        Drives d = make_drives(nullptr, prefix_name);
        PrefixScope scope = set_prefix(d.prefix);
        std::string dosdevices = fs::canonical(d.prefix + "/dosdevices").string();
        std::vector<std::u16string> names = enumerate();
        std::vector<std::u16string> expected = {volume_name_of(d.ntfs), volume_name_of(d.fat),
                                                u"\\\\?\\" + wide(dosdevices) + u"/f::\\"};
        ASSERT_GE(names.size(), expected.size());
        EXPECT_EQ(std::vector<std::u16string>(names.begin(), names.begin() + 3), expected);
        struct Case {
            size_t volume;
            std::u16string list;
        };
        const Case cases[] = {
            {0, std::u16string(u"C:\\\0E:\\\0\0", 9)},
            {1, std::u16string(u"D:\\\0G:\\\0Z:\\\0\0", 13)},
            {2, std::u16string(u"F:\\\0\0", 5)},
        };
        for (const Case& c : cases) EXPECT_EQ(mount_paths(names[c.volume]), c.list);
        // The rest are the machine's block devices, each under its node.
        for (size_t i = 3; i < names.size(); ++i) {
            const std::u16string& name = names[i];
            ASSERT_EQ(name.rfind(u"\\\\?\\/dev/", 0), 0u);
            std::u16string node = name.substr(4, name.size() - 5);
            EXPECT_EQ(mount_paths(name), node + u"\\" + u'\0' + u'\0');
        }
        // A lettered image is no block device: the device its file system
        // lives on is listed all the same.
        struct stat held;
        for (const BlockDevice& device : posix_block_devices())
            if (stat(d.ntfs.c_str(), &held) == 0 && device.number == held.st_dev) {
                EXPECT_NE(std::find(names.begin(), names.end(), u"\\\\?\\" + wide(device.node) + u"\\"),
                          names.end()) << device.node;
            }
        // The volume name opens its target, as a device path would.
        Handle volume = platform_open_volume(names[1].c_str());
        EXPECT_NE(volume, INVALID_HANDLE);
        if (volume != INVALID_HANDLE) platform_close_handle(volume);
        restore_prefix(scope);
        remove_drives(d);
    }
}

TEST(VolumeList, MountPathsComeFromTheListEvenOnceTheTargetsAreGone) {
    Drives d = make_drives(nullptr);
    PrefixScope scope = set_prefix(d.prefix);
    std::vector<std::u16string> names = enumerate();
    ASSERT_GE(names.size(), 3u);
    // Every entry and target gone: the query still answers as listed, so the
    // search meets the loss at the open, as a volume it cannot access.
    remove_tree(d.prefix + "/dosdevices");
    fs::remove(d.ntfs);
    fs::remove(d.fat);
    EXPECT_EQ(mount_paths(names[0]), std::u16string(u"C:\\\0E:\\\0\0", 9));
    EXPECT_EQ(mount_paths(names[2]), std::u16string(u"F:\\\0\0", 5));
    uint32_t needed = 7;
    // A name of the volume form that no listing gave is unknown.
    std::u16string never_listed = volume_name_of(d.prefix) + u"never-listed\\";
    EXPECT_EQ(posix_volume_path_names(never_listed.c_str(), nullptr, 0, &needed), 0);
    EXPECT_EQ(platform_last_error(), uint32_t(ENOENT));
    // Only names of the volume form are volume names.
    for (const char16_t* bad : {u"\\\\.\\C:", u"C:\\", u"\\\\?\\", u""}) {
        EXPECT_EQ(posix_volume_path_names(bad, nullptr, 0, &needed), 0);
        EXPECT_EQ(platform_last_error(), uint32_t(EINVAL));
    }
    // A capacity that cannot hold the name fails.
    std::vector<wchar> small(8);
    EXPECT_EQ(platform_find_first_volume(small.data(), 8), INVALID_HANDLE);
    // Without a drive map, only the block devices are left.
    for (const std::u16string& name : enumerate()) EXPECT_EQ(name.rfind(u"\\\\?\\/dev/", 0), 0u);
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

// The lines printed under a volume prefix ('C:', '/dev/loop0p1'), less it.
// A search of every volume meets the machine's other devices too (and those
// that other tests attach meanwhile): each test looks at its own volumes.
std::vector<std::string> lines_under(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    for (const std::string& line : lines_of(text))
        if (line.rfind(prefix + "\\", 0) == 0) lines.push_back(line.substr(prefix.size()));
    return lines;
}

// The messages that are not about one of the machine's block devices.
std::vector<std::string> drive_messages(const std::string& err) {
    std::vector<std::string> lines;
    for (const std::string& line : lines_of(err))
        if (line.find("\\/dev/") == std::string::npos) lines.push_back(line);
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
            EXPECT_EQ(drive_messages(all.err),
                      std::vector<std::string>{"Unable to access volume '\\\\.\\F:'"});
            EXPECT_EQ(drive_c.status, 0);
            EXPECT_EQ(drive_c.err, "");
            EXPECT_FALSE(drive_c.out.empty());
            EXPECT_EQ(lines_under(all.out, "C:"), lines_under(drive_c.out, "C:"));
            for (const char* other : {"D:", "E:", "F:", "G:"}) EXPECT_TRUE(lines_under(all.out, other).empty());
        }
        remove_drives(d);
    }
}

// A drive map with no entries, and no block device at all (an empty
// /sys/class/block in a mount namespace of the run's own), or only stale
// device nodes (each device's node in /dev naming another device).
TEST(AllVolumes, NothingToListIsAnEnumerationError) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    std::string empty = make_temp_folder();
    for (const char* hide : {"mount --bind \"$0\" /sys/class/block",
                             "mount -t tmpfs none /dev && for d in /sys/class/block/*; do "
                             "mknod \"/dev/${d##*/}\" b 240 99; done"}) {
        SCOPED_TRACE(hide);
        ProcessResult r = run_process(
            "/usr/bin/unshare",
            {"-m", "/bin/sh", "-c", std::string(hide) + " && exec \"$@\"", empty, MORLA_BINARY,
             "*.txt"},
            {{"WINEPREFIX", empty}});
        if (r.err.find("enumerating") == std::string::npos && r.err.find("Unable") == std::string::npos)
            GTEST_SKIP() << "no mount namespace here: " << r.err;
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Error enumerating volumes\n");
    }
    remove_tree(empty);
}

// Removed after the listing, or never able to serve: each fails at its open
// and the search goes on with the next volume.
TEST(AllVolumes, ATargetGoneOrUnfitIsSkippedAndTheSearchGoesOn) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    std::string prefix = make_temp_folder();
    // C and D come first and print far more than the output pipe and the
    // stream buffer hold, so the run is still on them when E's image goes.
    std::vector<std::string> images;
    for (const char* fixture : {"fragmented.img.gz", "fragmented.img.gz", "names.img.gz"})
        images.push_back(unpack_image(fixture_path(fixture)));
    images.push_back(unpack_image(std::string(MORLA_SOURCE_DIR) + "/samples/sample-volume.img.gz"));
    for (const std::string& image : images) ASSERT_FALSE(image.empty());
    link_drive(prefix, 'c', images[0]);
    link_drive(prefix, 'd', images[1]);
    link_drive(prefix, 'e', images[2]);
    ASSERT_EQ(mkfifo((prefix + "/fifo").c_str(), 0600), 0);
    link_drive(prefix, 'f', prefix + "/fifo");
    link_drive(prefix, 'g', images[3]);
    ProcessResult drive_g = run_morla({"*", "G"}, {{"WINEPREFIX", prefix}});
    ProcessResult all = run_morla({"*"}, {{"WINEPREFIX", prefix}}, 60,
                                  [&] { fs::remove(images[2]); });
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(drive_messages(all.err),
              (std::vector<std::string>{"Unable to access volume '\\\\.\\E:'",
                                        "Unable to access volume '\\\\.\\F:'"}));
    EXPECT_GT(lines_under(all.out, "C:").size(), 1000u);
    EXPECT_EQ(lines_under(all.out, "D:"), lines_under(all.out, "C:"));
    EXPECT_FALSE(drive_g.out.empty());
    EXPECT_EQ(lines_under(all.out, "G:"), lines_under(drive_g.out, "G:"));
    for (const std::string& image : images) remove_tree(fs::path(image).parent_path());
    remove_tree(prefix);
}

// A GPT disk image: the names fixture and the sample volume as NTFS
// partitions 1 and 2, a FAT partition 3. Empty when the tools are missing.
std::string make_gpt_disk(const std::string& folder) {
    std::string names = unpack_image(fixture_path("names.img.gz"));
    std::string sample = unpack_image(std::string(MORLA_SOURCE_DIR) + "/samples/sample-volume.img.gz");
    std::string disk = folder + "/disk.img";
    std::string into = " of='" + disk + "' bs=1M conv=notrunc status=none";
    std::string command =
        "truncate -s 16M '" + disk + "' && printf 'label: gpt\\n" +
        "start=1MiB,size=4MiB\\nstart=5MiB,size=8MiB\\nstart=13MiB,size=2MiB\\n' | sfdisk -q '" +
        disk + "' && dd if='" + names + "' seek=1" + into + " && dd if='" + sample + "' seek=5" +
        into + " && truncate -s 2M '" + folder + "/fat.img' && mkfs.fat '" + folder +
        "/fat.img' >/dev/null && dd if='" + folder + "/fat.img' seek=13" + into;
    bool made = !names.empty() && !sample.empty() && std::system((command + " 2>/dev/null").c_str()) == 0;
    for (const std::string& image : {names, sample})
        if (!image.empty()) remove_tree(fs::path(image).parent_path());
    return made ? disk : std::string();
}

TEST(AllVolumes, EveryNtfsPartitionOfADiskImageOnALoopDevice) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    std::string folder = make_temp_folder();
    std::string disk_image = make_gpt_disk(folder);
    LoopDisk disk = disk_image.empty() ? LoopDisk{} : attach_loop_disk(disk_image, 3);
    if (disk.device.empty()) {
        remove_tree(folder);
        GTEST_SKIP() << "no loop device with partitions, or no sfdisk and mkfs.fat";
    }
    const std::string p1 = disk.device + "p1", p2 = disk.device + "p2", p3 = disk.device + "p3";
    // What each NTFS partition prints as drive C.
    std::string prefix = folder + "/prefix";
    link_drive(prefix, 'c', p1);
    ProcessResult first = run_morla({"*", "C"}, {{"WINEPREFIX", prefix}});
    link_drive(prefix, 'c', p2);
    ProcessResult second = run_morla({"*", "C"}, {{"WINEPREFIX", prefix}});
    EXPECT_GT(lines_of(first.out).size(), 40u);
    EXPECT_GT(lines_of(second.out).size(), 40u);

    // A prefix folder without entries, and no prefix folder at all.
    fs::remove(prefix + "/dosdevices/c::");
    const std::map<std::string, std::string> unlettered[] = {
        {{"WINEPREFIX", prefix}, {"SUDO_USER", ""}},
        {{"WINEPREFIX", ""}, {"SUDO_USER", ""}, {"HOME", folder + "/home"}},
    };
    for (const auto& env : unlettered) {
        ProcessResult all = run_morla({"*"}, env, 120);
        EXPECT_EQ(all.status, 0);
        EXPECT_EQ(lines_under(all.out, p1), lines_under(first.out, "C:"));
        EXPECT_EQ(lines_under(all.out, p2), lines_under(second.out, "C:"));
        EXPECT_TRUE(lines_under(all.out, p3).empty());
        EXPECT_TRUE(lines_under(all.out, disk.device).empty());
        EXPECT_EQ(all.err.find(disk.device), std::string::npos) << all.err;
    }

    // A lettered partition prints under its letter only.
    link_drive(prefix, 'c', p2);
    ProcessResult lettered = run_morla({"*"}, {{"WINEPREFIX", prefix}}, 120);
    EXPECT_EQ(lettered.status, 0);
    EXPECT_EQ(lines_under(lettered.out, "C:"), lines_under(second.out, "C:"));
    EXPECT_TRUE(lines_under(lettered.out, p2).empty());
    EXPECT_EQ(lines_under(lettered.out, p1), lines_under(first.out, "C:"));

    // The lettered disk: its partitions under the letter and their numbers,
    // and not again under their devices.
    link_drive(prefix, 'c', disk.device);
    ProcessResult whole = run_morla({"*"}, {{"WINEPREFIX", prefix}}, 120);
    EXPECT_EQ(lines_under(whole.out, "C1:"), lines_under(first.out, "C:"));
    EXPECT_EQ(lines_under(whole.out, "C2:"), lines_under(second.out, "C:"));
    EXPECT_TRUE(lines_under(whole.out, p1).empty());
    EXPECT_TRUE(lines_under(whole.out, p2).empty());
    fs::remove(prefix + "/dosdevices/c::");

    // Attached without its partitions, the disk is read through its table,
    // each partition under the name the kernel would give it.
    LoopDisk plain = attach_loop_disk(disk_image, 0, false);
    ASSERT_FALSE(plain.device.empty());
    ProcessResult through_table = run_morla({"*"}, {{"WINEPREFIX", prefix}}, 120);
    EXPECT_EQ(lines_under(through_table.out, plain.device + "p1"), lines_under(first.out, "C:"));
    EXPECT_EQ(lines_under(through_table.out, plain.device + "p2"), lines_under(second.out, "C:"));
    EXPECT_TRUE(lines_under(through_table.out, plain.device).empty());
    detach_loop_disk(&plain);
    detach_loop_disk(&disk);
    remove_tree(folder);
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

    // The volume name keeps its trailing backslash before the path's own.
    std::string image = fs::canonical(d.ntfs).string() + "\\";
    EXPECT_FALSE(drive_c.out.empty());
    EXPECT_EQ(lines_under(out, image), lines_under(drive_c.out, "C:"));
    std::string dosdevices = fs::canonical(d.prefix + "/dosdevices").string();
    EXPECT_EQ(drive_messages(err),
              std::vector<std::string>{"Unable to access volume '\\\\?\\" + dosdevices + "/f::\\'"});
    remove_drives(d);
}

}  // namespace
#endif
