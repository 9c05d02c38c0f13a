#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "elevation/relay.h"
#include "elevation/requester.h"
#include "base/heap.h"
#include "tests/fake_platform/fake_platform.h"

namespace {

const char kPipeName[] = "\\\\.\\pipe\\morla-uac-pipe-12345678";
const char16_t kPipeName16[] = u"\\\\.\\pipe\\morla-uac-pipe-12345678";

std::string exactly(const std::string& text) {
    std::string regex = "^";
    for (char c : text) {
        if (std::string(".*+?()[]{}|^$\\").find(c) != std::string::npos) regex += '\\';
        regex += c;
    }
    return regex + "$";
}

std::string le32(uint32_t n) {
    return {char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF), char(n >> 24)};
}

std::string utf16le(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) bytes += {char(c & 0xFF), char(c >> 8)};
    return bytes;
}

std::string frame(const std::u16string& line) { return le32(uint32_t(line.size())) + utf16le(line); }

// The frame cut into uneven pieces, as a pipe may deliver it.
std::deque<std::string> in_pieces(const std::string& bytes) {
    std::deque<std::string> pieces;
    size_t at = 0;
    for (size_t size = 1; at < bytes.size(); size += 2) {
        pieces.push_back(bytes.substr(at, size));
        at += size;
    }
    return pieces;
}

class Requester : public ::testing::Test {
  protected:
    void SetUp() override { fake_reset(); }
};

class Relay : public ::testing::Test {
  protected:
    void SetUp() override { fake_reset(); }
};

TEST_F(Requester, SendsTheFrameAndCopiesTheOutputInChunks) {
    fake_command_line = u"morla \"a b\" C \u00e9\u4e2d";
    std::string output;
    for (int i = 0; i < 400; ++i) output += "C:\\dir\\file" + std::to_string(i) + ".doc\r\n";
    fake_pipe_input = {output.substr(0, 3000), output.substr(3000, 5), output.substr(3005),
                       fake_trailer(0)};
    EXPECT_EQ(run_requester(), 0);

    std::vector<std::string> calls = {
        "Crypto", "CryptGenRandom", "CryptReleaseContext",
        std::string("CreateNamedPipe ") + kPipeName, "GetModuleFileName",
        std::string("ShellExecuteEx C:\\Tools\\morla.exe | ") + kPipeName, "ConnectNamedPipe",
        "GetCommandLine", "GetStdHandle"};
    EXPECT_EQ(fake_elevation_calls, calls);
    ASSERT_GE(fake_writes.size(), 3u);
    EXPECT_EQ(fake_writes[0].target, "pipe");
    EXPECT_EQ(fake_writes[0].bytes, le32(uint32_t(fake_command_line.size())));
    EXPECT_EQ(fake_writes[1].target, "pipe");
    EXPECT_EQ(fake_writes[1].bytes, utf16le(fake_command_line));
    std::string copied;
    for (size_t i = 2; i < fake_writes.size(); ++i) {
        EXPECT_EQ(fake_writes[i].target, "stdout");
        EXPECT_LE(fake_writes[i].bytes.size(), 1024u);
        copied += fake_writes[i].bytes;
    }
    EXPECT_EQ(copied, output);
    EXPECT_EQ(fake_out, u"");  // nothing through the buffered stream
    EXPECT_EQ(fake_err, u"");
}

TEST_F(Requester, PipeNameTakesTheRandomBytesLittleEndian) {
    struct Case {
        uint8_t bytes[4];
        const char* name;
    };
    const Case cases[] = {
        {{0x01, 0x00, 0x00, 0x00}, "\\\\.\\pipe\\morla-uac-pipe-00000001"},
        {{0x00, 0x00, 0x00, 0xA0}, "\\\\.\\pipe\\morla-uac-pipe-a0000000"},
        {{0xFF, 0xFF, 0xFF, 0xFF}, "\\\\.\\pipe\\morla-uac-pipe-ffffffff"},
    };
    for (const Case& c : cases) {
        fake_reset();
        std::copy(c.bytes, c.bytes + 4, fake_random_bytes);
        run_requester();
        ASSERT_GE(fake_elevation_calls.size(), 6u);
        EXPECT_EQ(fake_elevation_calls[3], std::string("CreateNamedPipe ") + c.name);
        EXPECT_EQ(fake_elevation_calls[5],
                  std::string("ShellExecuteEx C:\\Tools\\morla.exe | ") + c.name);
    }
}

TEST_F(Requester, EdgesThatStillSucceed) {
    // A relay that connected before the wait; a path of 255 units, the most
    // the buffer holds; a worker that prints nothing.
    fake_connect_result = 0;
    fake_connect_error = 535;
    fake_module_path = u"C:\\" + std::u16string(252, u'x');
    fake_pipe_input = {fake_trailer(0)};
    EXPECT_EQ(run_requester(), 0);
    EXPECT_EQ(fake_writes.size(), 2u);
    EXPECT_EQ(fake_elevation_calls.back(), "GetStdHandle");
    EXPECT_EQ(fake_err, u"");
}

TEST_F(Requester, FailuresEndWithTheirFatalReport) {
    struct Case {
        const char* what;
        std::function<void()> setup;
        int code;
        std::string step;
    };
    const Case cases[] = {
        {"context", [] { fake_crypt_error = 5; }, 5, "Crypto"},
        {"random", [] { fake_random_error = 6; }, 6, "CryptGenRandom"},
        {"pipe exists", [] { fake_create_pipe_error = 231; }, 231, "CreateNamedPipe"},
        {"own path", [] { fake_module_error = 2; }, 2, "GetModuleFileName"},
        {"own path cut short", [] { fake_module_path = u"C:\\" + std::u16string(253, u'x'); },
         122, "GetModuleFileName"},
        {"launch declined", [] { fake_launch_error = 199; }, 199, "ShellExecuteEx"},
        {"launch ended first",
         [] {
             fake_connect_result = -1;
             fake_connect_error = 198;
         },
         198, "ShellExecuteEx"},
        {"connect fails",
         [] {
             fake_connect_result = 0;
             fake_connect_error = 232;
         },
         232, "ConnectNamedPipe"},
        {"count write",
         [] {
             fake_failing_write = 0;
             fake_write_error = 112;
         },
         112, "WriteFile"},
        {"count short", [] { fake_short_write = 0; }, 109, "WriteFile"},
        {"text write",
         [] {
             fake_failing_write = 1;
             fake_write_error = 112;
         },
         112, "WriteFile"},
        {"text short", [] { fake_short_write = 1; }, 109, "WriteFile"},
        {"standard output full",
         [] {
             fake_pipe_input = {"result\r\n"};
             fake_failing_write = 2;
             fake_write_error = 112;
         },
         112, "WriteFile"},
        {"standard output short",
         [] {
             fake_pipe_input = {"result\r\n"};
             fake_short_write = 2;
         },
         109, "WriteFile"},
        // The reader went away: the end is quiet and at once.
        {"standard output closed",
         [] {
             fake_pipe_input = {"result\r\n", "more\r\n"};
             fake_failing_write = 2;
         },
         232, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_reset();
        c.setup();
        std::string report = c.step.empty() ? ""
                                            : c.step + " failed with error " +
                                                  std::to_string(c.code) + ": fake text for " +
                                                  std::to_string(c.code % 10) + "\n";
        EXPECT_EXIT(requester_entry(), ::testing::ExitedWithCode(c.code), exactly(report));
    }
}

// The worker's status, from the trailer it sends last, which is never
// printed; a stream without a whole trailer is a worker that did not finish.
TEST_F(Requester, EndsWithTheWorkersStatusOrSaysItDidNotFinish) {
    const std::string unfinished = "The elevated search ended before it finished\n";
    struct Case {
        std::deque<std::string> input;
        int status;
        std::string out, err;
        int failing_write = -1;  // the relay gone while the command line is sent
    };
    const Case cases[] = {
        {{"C:\\a.doc\r\n" + fake_trailer(0)}, 0, "C:\\a.doc\r\n", ""},
        {{"C:\\a.doc\r\n", fake_trailer(3)}, 3, "C:\\a.doc\r\n", ""},
        {{"x\r\n" + fake_trailer(0x105).substr(0, 2), fake_trailer(0x105).substr(2)}, 0x105,
         "x\r\n", ""},
        {{"C:\\Users\\geor"}, 3, "C:\\Users\\geor\n", unfinished},
        {{}, 3, "", unfinished},
        {{"C:\\a.doc\r\n", fake_trailer(0).substr(0, 4)}, 3, "C:\\a.doc\r\n", unfinished},
        {{fake_trailer(0) + "x"}, 3, "", unfinished},
        {{}, 3, "", unfinished, 0},
        {{}, 3, "", unfinished, 1},
    };
    for (const Case& c : cases) {
        fake_reset();
        fake_pipe_input = c.input;
        fake_failing_write = c.failing_write;
        EXPECT_EQ(run_requester(), c.status) << c.out;
        std::string copied;
        for (size_t i = 2; i < fake_writes.size(); ++i) copied += fake_writes[i].bytes;
        EXPECT_EQ(copied, c.out);
        EXPECT_EQ(fake_err_utf8(), c.err);
    }
    fake_reset();
    fake_pipe_input = {"C:\\a.doc\r\n" + fake_trailer(7)};
    EXPECT_EXIT(requester_entry(), ::testing::ExitedWithCode(7), exactly(""));
}

TEST_F(Relay, StartsTheWorkerOnTheReceivedCommandLine) {
    const std::u16string line = u"morla \"a b\" C \u00e9\u4e2d";
    fake_pipe_input = in_pieces(frame(line));
    run_relay(kPipeName16);
    std::vector<std::string> calls = {
        std::string("OpenPipe ") + kPipeName, "GetModuleFileName",
        "CreateProcess C:\\Tools\\morla.exe | morla \"a b\" C ??", "FreeConsole",
        "CloseHandle worker process", "CloseHandle worker thread"};
    EXPECT_EQ(fake_elevation_calls, calls);
    EXPECT_EQ(fake_worker_command_line, line);
    EXPECT_TRUE(fake_writes.empty());
    EXPECT_EQ(fake_err, u"");
    EXPECT_TRUE(fake_message_boxes.empty());
}

TEST_F(Relay, CommandLineLengthsAtTheEdges) {
    // Multiples of 8 units fill the heap's blocks exactly: the terminator
    // is one unit past the text, which the buffer must hold as well.
    for (size_t units : {size_t(0), size_t(1), size_t(8), size_t(512), size_t(32256), size_t(32767)}) {
        fake_reset();
        std::u16string line(units, u'x');
        fake_pipe_input = {frame(line)};
        run_relay(kPipeName16);
        EXPECT_EQ(fake_worker_command_line, line);
        EXPECT_TRUE(fake_message_boxes.empty());
    }
}

TEST_F(Relay, FailuresEndWithTheirReport) {
    struct Case {
        const char* what;
        std::function<void()> setup;
        int code;
        std::string report;  // as the fake's exit writes it
    };
    auto box = [](const std::string& step, int code) {
        return "BOX: " + step + " failed with error " + std::to_string(code) +
               ": fake text for " + std::to_string(code % 10) + "\n";
    };
    const Case cases[] = {
        {"no pipe", [] { fake_open_pipe_error = 2; }, 2, box("Connect to pipe", 2)},
        {"count cut short", [] { fake_pipe_input = {"\x05"}; }, 109, box("Read buffer size", 109)},
        {"count read ends with 0 bytes",
         [] {
             fake_pipe_input = {"\x05\x00"};
             fake_read_end_error = 0;
         },
         109, box("Read buffer size", 109)},
        // Refused before any allocation: the next one would fail.
        {"count too large",
         [] {
             fake_pipe_input = {le32(32768) + "xx"};
             heap_failure_countdown = 1;
         },
         13, box("Read buffer size", 13)},
        {"count far too large",
         [] {
             fake_pipe_input = {le32(0xFFFFFFFF)};
             heap_failure_countdown = 1;
         },
         13, box("Read buffer size", 13)},
        {"no memory",
         [] {
             fake_pipe_input = {frame(u"abc")};
             heap_failure_countdown = 1;
         },
         8, box("Allocate command line", 8)},
        {"text cut short", [] { fake_pipe_input = {le32(3) + "abcd"}; }, 109,
         box("Read command line", 109)},
        {"own path",
         [] {
             fake_pipe_input = {frame(u"morla x")};
             fake_module_error = 3;
         },
         3, "GetModuleFileName failed with error 3: fake text for 3\n"},
        {"own path cut short",
         [] {
             fake_pipe_input = {frame(u"morla x")};
             fake_module_path = std::u16string(65536, u'x');
         },
         122, "GetModuleFileName failed with error 122: fake text for 2\n"},
        {"worker not started",
         [] {
             fake_pipe_input = {frame(u"morla x")};
             fake_create_worker_error = 193;
         },
         193, box("Create worker process", 193)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_reset();
        c.setup();
        EXPECT_EXIT(relay_entry(kPipeName16), ::testing::ExitedWithCode(c.code),
                    exactly(c.report));
        heap_failure_countdown = -1;
    }
}

TEST_F(Relay, EndsWithZeroOnceTheWorkerHasStarted) {
    fake_pipe_input = {frame(u"morla *.doc C")};
    EXPECT_EXIT(relay_entry(kPipeName16), ::testing::ExitedWithCode(0), exactly(""));
}

}  // namespace
