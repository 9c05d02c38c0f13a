// morla '*' on every test volume, run as a process, against what The Sleuth
// Kit's fls (or, where fls cannot read the volume, ntfs-3g's ntfsls) lists.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cctype>
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
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::multiset<std::string> printed = split_lines(r.out);
    EXPECT_EQ(printed, expected) << "printed but not listed:\n"
                                 << difference(printed, expected) << "listed but not printed:\n"
                                 << difference(expected, printed);
}

INSTANTIATE_TEST_SUITE_P(All, OracleVolumes,
                         testing::ValuesIn(TEST_VOLUMES, TEST_VOLUMES + TEST_VOLUME_COUNT),
                         [](const testing::TestParamInfo<TestVolumeSpec>& param) {
                             return test_volume_name(param.param);
                         });

}  // namespace
#endif
