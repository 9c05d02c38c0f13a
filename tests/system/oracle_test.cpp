// morla '*' on every test volume, run as a process, against what The Sleuth
// Kit's fls (or, where fls cannot read the volume, ntfs-3g's ntfsls) lists.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <vector>
#include <unistd.h>

#include "tests/system/fls_oracle.h"
#include "tests/system/run_process.h"
#include "tests/system/test_volumes.h"

namespace {

// A prefix folder whose drive C is the image, removed again when the value goes.
struct DriveC {
    std::string prefix;
    explicit DriveC(const std::string& image) : prefix(make_temp_folder()) {
        link_drive(prefix, 'c', image);
    }
    ~DriveC() { remove_tree(prefix); }
    ProcessResult morla(const std::vector<std::string>& args) const {
        return run_morla(args, {{"WINEPREFIX", prefix}}, 120);
    }
};

std::string difference(const std::multiset<std::string>& a, const std::multiset<std::string>& b) {
    std::ostringstream out;
    int shown = 0;
    for (const std::string& line : a)
        if (a.count(line) > b.count(line) && shown++ < 20) out << "  " << line << "\n";
    return out.str();
}

// A whole search with nothing to say, whose lines are the listing's.
void expect_listed(const ProcessResult& r, const std::multiset<std::string>& expected) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::multiset<std::string> printed = split_lines(r.out);
    EXPECT_EQ(printed, expected) << "printed but not listed:\n"
                                 << difference(printed, expected) << "listed but not printed:\n"
                                 << difference(expected, printed);
}

class OracleVolumes : public testing::TestWithParam<TestVolumeSpec> {};

TEST_P(OracleVolumes, EveryNameMorlaPrintsIsWhatAnIndependentListingHolds) {
    // Only an administrator gets as far as the drives.
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    if (!have_tool("fls") && !have_tool("ntfsls")) SKIP_WITHOUT_TOOL("neither fls nor ntfsls found");
    UnpackedVolume volume(GetParam());
    if (volume.path.empty()) GTEST_SKIP() << GetParam().file << " is absent";
    std::multiset<std::string> expected;
    bool listed = have_tool("fls") && fls_expected_lines(volume.path, "C:", &expected);
    // fls cannot read volumes with 2 MiB clusters; ntfsls can.
    if (!listed && have_tool("ntfsls")) listed = ntfsls_expected_lines(volume.path, "C:", &expected);
    if (!listed) GTEST_SKIP() << "no listing tool reads " << GetParam().file;

    DriveC drive(volume.path);
    ProcessResult r = drive.morla({"*", "C"});
    expect_listed(r, expected);
}

INSTANTIATE_TEST_SUITE_P(All, OracleVolumes,
                         testing::ValuesIn(TEST_VOLUMES, TEST_VOLUMES + TEST_VOLUME_COUNT),
                         [](const testing::TestParamInfo<TestVolumeSpec>& param) {
                             return test_volume_name(param.param);
                         });

// ---- Disks and their containers ------------------------------------------------

// A disk fixture's NTFS partitions: number and first sector.
struct Partition {
    int number;
    long sector;
};

struct DiskForm {
    const char* what;
    const char* fixture;
    std::vector<Partition> ntfs;
    const char* make;    // shell command making the form from disk.raw in the folder
    const char* target;  // the file the form is searched through
    bool by_letter;      // drive E, else the path './target'
};

void PrintTo(const DiskForm& form, std::ostream* out) { *out << form.what; }

const char kEwf[] = "ewfacquire -u -q -t disk -f encase6 -c deflate:fast -S 1099511627776 disk.raw";
// Random bytes in the GPT disk's free end make its E01 three 1 MiB segments.
const char kEwfSplit[] =
    "head -c 2097152 /dev/urandom | dd of=disk.raw bs=512 seek=12288 conv=notrunc status=none && "
    "ewfacquire -u -q -t disk -f encase6 -c deflate:fast -S 1048576 disk.raw && test -f disk.E03";
const std::vector<Partition> kGpt = {{2, 4096}, {3, 8192}};
const std::vector<Partition> kDos = {{5, 6144}};

const DiskForm DISK_FORMS[] = {
    {"gpt_raw_by_path", "gpt-disk.img.gz", kGpt, "true", "disk.raw", false},
    {"gpt_raw_by_letter", "gpt-disk.img.gz", kGpt, "true", "disk.raw", true},
    {"gpt_e01", "gpt-disk.img.gz", kGpt, kEwf, "disk.E01", false},
    {"gpt_e01_segments", "gpt-disk.img.gz", kGpt, kEwfSplit, "disk.E01", true},
    {"gpt_vmdk", "gpt-disk.img.gz", kGpt, "qemu-img convert -f raw -O vmdk disk.raw disk.vmdk", "disk.vmdk", false},
    {"gpt_vhd", "gpt-disk.img.gz", kGpt, "qemu-img convert -f raw -O vpc disk.raw disk.vhd", "disk.vhd", false},
    {"gpt_vhdx", "gpt-disk.img.gz", kGpt, "qemu-img convert -f raw -O vhdx disk.raw disk.vhdx", "disk.vhdx", true},
    {"gpt_split_raw", "gpt-disk.img.gz", kGpt, "split -b 3M -d -a 3 --numeric-suffixes=1 disk.raw disk.",
     "disk.001", false},
    {"dos_raw_by_letter", "dos-disk.img.gz", kDos, "true", "disk.raw", true},
    {"dos_raw_by_path", "dos-disk.img.gz", kDos, "true", "disk.raw", false},
    {"dos_e01", "dos-disk.img.gz", kDos, kEwf, "disk.E01", true},
    {"dos_vhdx", "dos-disk.img.gz", kDos, "qemu-img convert -f raw -O vhdx disk.raw disk.vhdx", "disk.vhdx", false},
#if defined(MORLA_QCOW) || !defined(MORLA_CONTAINERS)
    {"gpt_qcow2", "gpt-disk.img.gz", kGpt, "qemu-img convert -c -f raw -O qcow2 disk.raw disk.qcow2", "disk.qcow2",
     true},
#endif
};

class OracleDisks : public testing::TestWithParam<DiskForm> {};

// Each NTFS partition's lines are what fls lists of it, under the target's
// name when the disk holds one NTFS volume, else under the name and the
// partition's number; every form of the disk gives the same.
TEST_P(OracleDisks, EveryPartitionPrintsWhatAnIndependentListingHolds) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    if (!have_tool("fls") || !have_tool("ewfacquire") || !have_tool("qemu-img"))
        GTEST_SKIP() << "fls, ewfacquire and qemu-img are needed";
    const DiskForm& form = GetParam();
    UnpackedVolume disk(fixture_path(form.fixture));
    ASSERT_FALSE(disk.path.empty());
    const std::string folder = std::filesystem::path(disk.path).parent_path().string();
    ASSERT_EQ(std::system(("cd '" + folder + "' && mv '" + disk.path + "' disk.raw && " + form.make +
                           " >/dev/null 2>&1").c_str()),
              0);
    const std::string name = form.by_letter ? std::string("E") : "./" + std::string(form.target);
    std::multiset<std::string> expected;
    for (const Partition& p : form.ntfs) {
        std::string prefix = form.by_letter ? "E:" : name;
        if (form.ntfs.size() > 1)
            prefix = form.by_letter ? "E" + std::to_string(p.number) + ":" : name + "p" + std::to_string(p.number);
        ASSERT_TRUE(fls_expected_lines(folder + "/disk.raw", prefix, &expected, p.sector));
    }
    link_drive(folder, 'e', folder + "/" + form.target);
    ProcessResult r = run_process(
        "/bin/sh", {"-c", "cd \"$1\" && exec \"$2\" '*' \"$3\"", "sh", folder, MORLA_BINARY, name},
        {{"WINEPREFIX", folder}}, 120);
#ifndef MORLA_CONTAINERS
    // A build without the library names a container it cannot read.
    if (std::string(form.target) != "disk.raw") {
        EXPECT_EQ(r.status, 3);
        const std::string shown = form.by_letter ? "E:" : name;
        EXPECT_EQ(r.err, (form.by_letter ? "Unable to access drive E\n"
                                         : "Unable to access volume '" + name + "'\n") +
                             "Damaged disk or image '" + shown + "': this build reads no image containers\n");
        EXPECT_EQ(r.out, "");
        return;
    }
#endif
    expect_listed(r, expected);
}

INSTANTIATE_TEST_SUITE_P(All, OracleDisks, testing::ValuesIn(DISK_FORMS),
                         [](const testing::TestParamInfo<DiskForm>& param) { return param.param.what; });

}  // namespace
#endif
