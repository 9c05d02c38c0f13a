#include <gtest/gtest.h>

#include <string>

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

}  // namespace
