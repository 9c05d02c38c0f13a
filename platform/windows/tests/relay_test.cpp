#ifdef _WIN32
// The Win32 side under wine, which runs "runas" launches without a prompt:
// the requester's operations drive a real relay and worker of morla.exe.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <windows.h>

#include "platform/platform.h"

namespace {

// The binary's path as the build gives it; under wine a Linux path is on Z:.
std::u16string morla_exe() {
    std::u16string path;
    for (const char* c = MORLA_BINARY; *c; ++c) path += char16_t(*c == '/' ? '\\' : *c);
    return path[0] == u'\\' ? u"Z:" + path : path;
}

std::u16string pipe_name(const char16_t* digits) {
    return std::u16string(u"\\\\.\\pipe\\morla-uac-pipe-") + digits;
}

// What the relay's stream brings back for the command line: a real relay
// and worker, launched as the requester launches them.
std::string relayed(const std::u16string& name, const std::u16string& line) {
    Handle pipe = platform_create_named_pipe(name.c_str());
    if (pipe == INVALID_HANDLE) return "no pipe";
    Handle launched = nullptr;
    std::string stream;
    if (platform_shell_execute_runas(morla_exe().c_str(), name.c_str(), &launched) == 1) {
        platform_connect_named_pipe(pipe, launched);
        uint32_t count = uint32_t(line.size()), done = 0;
        platform_write_file(pipe, &count, 4, &done);
        platform_write_file(pipe, line.data(), 2 * count, &done);
        char chunk[1024];
        while (platform_read_file(pipe, chunk, sizeof chunk, &done) && done)
            stream.append(chunk, done);
        platform_close_handle(launched);
    }
    platform_close_handle(pipe);
    return stream;
}

// The worker's last bytes: a NUL and its status, little-endian.
std::string trailer(char status) { return std::string(1, '\0') + status + std::string(3, '\0'); }

// Results go to the pipe in blocks, messages at once: each message still
// comes whole between whole result lines, where it was printed. E: is an
// NTFS image when .ci/windows.sh runs the tests.
TEST(WindowsRelay, MessagesKeepTheirPlaceBetweenWholeResultLines) {
    const std::string one = relayed(pipe_name(u"0e0e0e01"), u"morla.exe * E");
    if (one.size() < 64 || one.substr(one.size() - 5) != trailer(0))
        GTEST_SKIP() << "no NTFS volume on E:";
    const std::string results = one.substr(0, one.size() - 5);
    std::u16string line = u"morla.exe *";
    std::string expected;
    while (expected.size() < 3 * 4096) {
        line += u" E X";
        expected += results + "Unable to access drive X\r\n";
    }
    EXPECT_TRUE(relayed(pipe_name(u"0e0e0e02"), line) == expected + trailer(3));
}

TEST(WindowsRelay, RequesterOperationsDriveARealRelay) {
    std::u16string name = pipe_name(u"5e1f7e57");
    Handle pipe = platform_create_named_pipe(name.c_str());
    ASSERT_NE(pipe, INVALID_HANDLE);
    EXPECT_EQ(platform_create_named_pipe(name.c_str()), INVALID_HANDLE);  // first instance only
    Handle launched = nullptr;
    ASSERT_EQ(platform_shell_execute_runas(morla_exe().c_str(), name.c_str(), &launched), 1);
    int connected = platform_connect_named_pipe(pipe, launched);
    EXPECT_TRUE(connected == 1 ||
                (connected == 0 && platform_last_error() == ERROR_CODE_PIPE_CONNECTED));
    std::u16string line = u"morla.exe x.txt 1 q";
    uint32_t count = uint32_t(line.size()), done = 0;
    ASSERT_EQ(platform_write_file(pipe, &count, 4, &done), 1);
    ASSERT_EQ(platform_write_file(pipe, line.data(), 2 * count, &done), 1);
    std::string stream;
    char chunk[1024];
    while (platform_read_file(pipe, chunk, sizeof chunk, &done) && done) stream.append(chunk, done);
    // Then the worker's trailer: its status, 3, as a drive could not be searched.
    EXPECT_EQ(stream, "Invalid drive letter '1'\r\nUnable to access drive q\r\n" + trailer(3));
    platform_close_handle(launched);
    platform_close_handle(pipe);
}

TEST(WindowsRelay, LaunchThatEndsWithoutConnectingEndsTheWait) {
    std::u16string name = pipe_name(u"0dd0dd00");
    Handle pipe = platform_create_named_pipe(name.c_str());
    ASSERT_NE(pipe, INVALID_HANDLE);
    Handle launched = nullptr;
    // No parameter: the usage text, and an end without any connection.
    ASSERT_EQ(platform_shell_execute_runas(morla_exe().c_str(), u"", &launched), 1);
    auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(platform_connect_named_pipe(pipe, launched), -1);
    EXPECT_EQ(platform_last_error(), 1223u);  // ERROR_CANCELLED
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(30));
    platform_close_handle(launched);
    platform_close_handle(pipe);
}

// The requester's copy to a console: the worker's UTF-8, arriving in reads
// that split characters, shows as the characters it encodes. A console is
// there only on a terminal (.ci/windows.sh runs this under script(1)).
TEST(WindowsRelayConsole, RelayedUtf8ShowsAsTextWhenSplitBetweenReads) {
    Handle out = platform_get_std_output();
    DWORD mode = 0;
    CONSOLE_SCREEN_BUFFER_INFO screen = {};
    if (!GetConsoleMode(out, &mode) || !GetConsoleScreenBufferInfo(out, &screen))
        GTEST_SKIP() << "standard output is no console";
    const char bytes[] = "x\xC3\xA9\xF0\x9F\x98\x80y";  // x, e acute, a smiley, y
    for (uint32_t at : {0u, 2u, 5u}) {
        uint32_t done = 0;
        ASSERT_EQ(platform_write_file(out, bytes + at, 2 + (at != 0), &done), 1);
        EXPECT_EQ(done, 2 + (at != 0));
    }
    wchar_t shown[5] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadConsoleOutputCharacterW(out, shown, 5, screen.dwCursorPosition, &read));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(shown), read),
              u"x\u00e9\U0001F600y");
}

}  // namespace
#endif
