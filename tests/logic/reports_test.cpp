#include <gtest/gtest.h>

#include <string>

#include "base/format.h"
#include "base/reports.h"
#include "tests/fake_platform/fake_platform.h"

namespace {

TEST(Reports, ConsoleReportNamesStepCodeAndTextAndReturnsTheCode) {
    struct Case {
        uint32_t code;
        std::string expected;
    };
    const Case cases[] = {
        {5, "Reading MFT record failed with error 5: fake text for 5\n"},
        {0, "Reading MFT record failed with error 0: fake text for 0\n"},
        // Printed as a signed number, as error codes with the high bit set are.
        {0x80070005u, "Reading MFT record failed with error -2147024891: fake text for 5\n"},
    };
    for (const Case& c : cases) {
        fake_reset();
        platform_set_last_error(c.code);
        EXPECT_EQ(console_report(u"Reading MFT record"), c.code);
        EXPECT_EQ(fake_err_utf8(), c.expected);
        EXPECT_EQ(fake_out, u"");
    }
}

TEST(ReportsDeathTest, FatalReportExitsWithTheCodeAfterItsLine) {
    fake_reset();
    platform_set_last_error(7);
    EXPECT_EXIT(fatal_report(u"Semantic error"), ::testing::ExitedWithCode(7),
                "Semantic error failed with error 7: fake text for 7\n$");
}

TEST(ReportsDeathTest, MessageBoxTextIsNeverCutShort) {
    // The longest number the code can print, and a long step name: the box's
    // 40 spare units must still hold all of it.
    fake_reset();
    platform_set_last_error(0x80000001u);
#ifdef _WIN32
    const int status = int(0x80000001u);
#else
    const int status = 1;  // a Linux parent sees the low byte only
#endif
    EXPECT_EXIT(message_box_report(u"Create worker process"), ::testing::ExitedWithCode(status),
                "BOX: Create worker process failed with error -2147483647: fake text for 9\n$");
}

// The first write that fails ends the run with its code: quietly when the
// reader went away (Windows' broken-pipe codes here), with the report
// "Write output" otherwise, and with no report when standard error itself
// cannot take it.
TEST(ReportsDeathTest, AFailedWriteEndsTheRunWithItsCode) {
    struct Case {
        const char* what;
        uint32_t out_error, err_error;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {"disk full", 112, 0, 112, "Write output failed with error 112: fake text for 2\n"},
        {"pipe closed", 232, 0, 232, ""},
        {"pipe broken", 109, 0, 109, ""},
        {"standard error full too", 112, 39, 112, ""},
        {"standard error full", 0, 39, 39, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_reset();
        fake_out_write_error = c.out_error;
        fake_err_write_error = c.err_error;
        EXPECT_EXIT(
            {
                print_out(u"C:\\a.doc\n");
                print_err(u"Unable to access drive q\n");
                print_out(u"C:\\b.doc\n");
                deliver_output();
                platform_exit_process(0);
            },
            ::testing::ExitedWithCode(c.status), "^" + c.err + "$");
    }
}

}  // namespace
