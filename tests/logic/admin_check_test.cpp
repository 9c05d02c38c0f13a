#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "elevation/admin_check.h"
#include "front/entry.h"
#include "base/entry_points.h"
#include "tests/fake_platform/fake_platform.h"

namespace {

const char kRefusal[] = "Sorry, this utility can only be run by Administrators.\n";

// The whole of a death test's standard error, as a regex both gtest regex
// flavours (POSIX and the simple one on Windows) read the same way.
std::string exactly(const std::string& text) {
    std::string regex = "^";
    for (char c : text) {
        if (std::string(".*+?()[]{}|^$\\").find(c) != std::string::npos) regex += '\\';
        regex += c;
    }
    return regex + "$";
}

class AdminCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_reset();
        look_up_entry_points();
    }
};

TEST_F(AdminCheck, DecisionTable) {
    struct Case {
        const char* what;
        int admin;  // -1: the platform has no administrator query
        uint32_t open_error, query_error, type;
        int result;
        std::string err;
        std::vector<std::string> calls;
    };
    const std::vector<std::string> query = {"OpenProcessToken", "GetTokenInformation",
                                            "CloseHandle token"};
    auto with_admin_query = [&](std::vector<std::string> calls) {
        calls.insert(calls.begin(), "IsUserAnAdmin");
        return calls;
    };
    const Case cases[] = {
        {"administrator", 1, 0, 0, 1, 0, "", {"IsUserAnAdmin"}},
        {"no query, default token", -1, 0, 0, 1, 1, kRefusal, query},
        {"not administrator, full token", 0, 0, 0, 2, 1, kRefusal, with_admin_query(query)},
        {"token not opened", 0, 5, 0, 3, 1,
         std::string("OpenProcessToken failed with error 5: fake text for 5\n") + kRefusal,
         {"IsUserAnAdmin", "OpenProcessToken"}},
        {"query invalid function", 0, 0, 1, 3, 1, kRefusal, with_admin_query(query)},
        {"query fails", 0, 0, 87, 3, 1,
         std::string("GetTokenInformation failed with error 87: fake text for 7\n") + kRefusal,
         with_admin_query(query)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_reset();
        if (c.admin < 0) fake_missing_entry_points = {"IsUserAnAdmin"};
        look_up_entry_points();
        fake_admin_answer = c.admin < 0 ? 1 : c.admin;
        fake_open_token_error = c.open_error;
        fake_token_query_error = c.query_error;
        fake_elevation_type = c.type;
        EXPECT_EQ(administrator_check(), c.result);
        EXPECT_EQ(fake_err_utf8(), c.err);
        EXPECT_EQ(fake_out, u"");
        EXPECT_EQ(fake_elevation_calls, c.calls);
    }
}

TEST_F(AdminCheck, RefusalEndsTheRunBeforeAnySearch) {
    fake_admin_answer = 0;
    std::u16string args[] = {u"morla", u"x.txt", u"q"};
    wchar* argv[] = {args[0].data(), args[1].data(), args[2].data(), nullptr};
    EXPECT_EQ(morla_entry(3, argv), 2);
    EXPECT_EQ(fake_err_utf8(), kRefusal);  // no "Unable to access drive q"
}

TEST_F(AdminCheck, LimitedTokenHandsOverToTheRequester) {
    fake_admin_answer = 0;
    fake_elevation_type = 3;
    // Nothing printed by the check; the requester ends the process.
    fake_pipe_input = {fake_trailer(0)};
    EXPECT_EXIT(administrator_check(), ::testing::ExitedWithCode(0), exactly(""));
    // Its reports are its own, with no refusal after them.
    fake_crypt_error = 5;
    EXPECT_EXIT(administrator_check(), ::testing::ExitedWithCode(5),
                exactly("Crypto failed with error 5: fake text for 5\n"));
}

TEST_F(AdminCheck, RelayModeMakesNoCheck) {
    fake_admin_answer = 0;
    fake_open_pipe_error = 5;
    std::u16string args[] = {u"morla", u"\\\\.\\pipe\\morla-uac-pipe-0000abcd", u"x"};
    wchar* argv[] = {args[0].data(), args[1].data(), args[2].data(), nullptr};
    EXPECT_EXIT(morla_entry(3, argv), ::testing::ExitedWithCode(5),
                exactly("BOX: Connect to pipe failed with error 5: fake text for 5\n"));
}

}  // namespace
