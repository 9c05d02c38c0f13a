// Failure reports on the real platform layer: what reaches redirected files.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "base/format.h"
#include "base/reports.h"
#include "tests/system/test_volumes.h"

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Both streams to files, fully buffered as for any redirected run, then a
// fatal report: everything printed before it arrives, stdout first.
void print_then_fail(const std::string& out, const std::string& err) {
    std::freopen(out.c_str(), "w", stdout);
    std::freopen(err.c_str(), "w", stderr);
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    std::setvbuf(stderr, nullptr, _IOFBF, 1 << 16);
    print_out(u"C:\\Users\\ann\\report.doc\n");
    print_err(u"Unable to access drive q\n");
    platform_set_last_error(EIO);
    fatal_report(u"Reading MFT record");
}

TEST(ReportsDeathTest, FatalReportDeliversEverythingAndExitsWithTheCode) {
    std::string folder = make_temp_folder();
    std::string out = folder + "/out", err = folder + "/err";
    EXPECT_EXIT(print_then_fail(out, err), ::testing::ExitedWithCode(EIO), "");
    EXPECT_EQ(read_file(out), "C:\\Users\\ann\\report.doc\n");
    std::string expected_tail = "Reading MFT record failed with error " + std::to_string(EIO) +
                                ": Input/output error\n";
    EXPECT_EQ(read_file(err), "Unable to access drive q\n" + expected_tail);
    remove_tree(folder);
}

TEST(ReportsDeathTest, MessageBoxReportWritesTheBoxTextOnStandardError) {
    platform_set_last_error(ENOENT);
    EXPECT_EXIT(message_box_report(u"Connect to pipe"), ::testing::ExitedWithCode(ENOENT),
                "Error: Connect to pipe failed with error 2: No such file or directory\n");
}

}  // namespace
#endif
