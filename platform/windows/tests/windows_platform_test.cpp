// The Windows platform layer on the real system (run under wine in CI):
// output text, streams redirected to files, and the system calls as the
// logic makes them.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <io.h>
#include <windows.h>

#include "base/format.h"
#include "base/reports.h"
#include "platform/windows/sector_source.h"
#include "platform/windows/text_out.h"

namespace {

// Runs the writes of one stream, then its flush, as the stream code does.
std::string written_bytes(const std::vector<std::u16string>& writes) {
    SurrogateCarry carry{0};
    std::u16string mended;
    for (const std::u16string& w : writes) {
        std::u16string part(w.size() + 1, u'\0');
        part.resize(mend_utf16(&carry, w.data(), w.size(), part.data()));
        mended += part;
    }
    wchar rest[1];
    if (release_carry(&carry, rest)) mended += rest[0];
    std::string bytes(3 * mended.size(), '\0');
    bytes.resize(encode_utf8(mended.data(), mended.size(), bytes.data()));
    return bytes;
}

TEST(WindowsText, KeepsEveryCharacterAndMendsLoneSurrogates) {
    struct Case {
        std::vector<std::u16string> writes;
        std::string bytes;
    };
    const std::string fffd = "\xEF\xBF\xBD";
    const Case cases[] = {
        {{u"C:\\a.doc\n"}, "C:\\a.doc\n"},
        {{u"\u00e9\u07ff\u0800\u20ac\uffff"}, "\xC3\xA9\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF"},
        {{u"\U0001F600"}, "\xF0\x9F\x98\x80"},
        // A pair split between two writes (a long line cut into chunks) stays one character.
        {{u"x\xD83D", u"\xDE00y"}, "x\xF0\x9F\x98\x80y"},
        {{u"\xD83D", u"", u"\xDE00"}, "\xF0\x9F\x98\x80"},
        {{u"a\xD83D" "b"}, "a" + fffd + "b"},
        {{u"\xDC80"}, fffd},
        {{u"\xDE00\xD83D"}, fffd + fffd},
        {{u"end\xD83D"}, "end" + fffd},
        {{u"\xD83D", u"\xD83D\xDE00"}, fffd + "\xF0\x9F\x98\x80"},
        {{u"\xD83D", u"z"}, fffd + "z"},
    };
    for (const Case& c : cases) EXPECT_EQ(written_bytes(c.writes), c.bytes) << c.bytes;
}

// Splits text into console writes the way the console route does.
std::vector<std::u16string> console_pieces(const std::u16string& text) {
    std::vector<std::u16string> pieces;
    size_t start = 0;
    while (start < text.size()) {
        wchar piece[CONSOLE_PIECE_ROOM];
        size_t n = 0;
        size_t end = console_piece(text.data(), text.size(), start, piece, &n);
        EXPECT_GT(end, start);
        if (end <= start) break;
        pieces.emplace_back(piece, n);
        start = end;
    }
    return pieces;
}

TEST(WindowsText, ConsoleWritesEndLinesWithCrLfAndKeepPairsWhole) {
    const std::u16string a511(511, u'a'), a512(512, u'a'), pair = u"\U0001F600";
    struct Case {
        std::u16string text;
        std::vector<std::u16string> pieces;
    };
    const Case cases[] = {
        {u"ab\ncd", {u"ab\r\n", u"cd"}},
        {u"\n\n", {u"\r\n", u"\r\n"}},
        {u"x\r\n", {u"x\r\r\n"}},  // a CR already there stays, as in text mode
        {a512 + u"b\n", {a512, u"b\r\n"}},
        {a512 + u"\n", {a512 + u"\r\n"}},
        {a511 + pair + u"\n", {a511 + pair + u"\r\n"}},
        {a511 + pair + u"c", {a511 + pair, u"c"}},
    };
    for (const Case& c : cases) EXPECT_EQ(console_pieces(c.text), c.pieces) << c.text.size();
}

// Relayed UTF-8 on its way to a console, decoded piece by piece as the pipe
// delivers it: a character split between two reads comes out whole, and a
// malformed one as U+FFFD.
TEST(WindowsText, RelayedUtf8KeepsACharacterSplitBetweenReads) {
    struct Case {
        std::vector<std::string> reads;
        std::u16string text;
    };
    const std::u16string r = u"\uFFFD";
    const Case cases[] = {
        {{"C:\\\xC3\xA9t\xC3\xA9.txt\r\n"}, u"C:\\\u00e9t\u00e9.txt\r\n"},
        {{"x\xC3", "\xA9y"}, u"x\u00e9y"},
        {{"\xE2\x82", "\xAC"}, u"\u20ac"},
        {{"\xF0", "\x9F\x98", "", "\x80!"}, u"\U0001F600!"},
        {{"\xC3", "x"}, r + u"x"},                       // cut short
        {{"\xE0\x80\xAF", "\xC0\xAF"}, r + r + r + r + r},  // overlong forms
        {{"\xED\xA0\x80"}, r + r + r},                   // a surrogate
        {{"\xF4\x90\x80\x80"}, r + r + r + r},            // past U+10FFFF
        {{"\xF4\x8F\xBF\xBF"}, u"\U0010FFFF"},
        {{"\x80\xFF"}, r + r},
    };
    for (const Case& c : cases) {
        Utf8Carry carry = {0, 0, 0x80, 0xBF};
        std::u16string text;
        for (const std::string& read : c.reads) {
            std::u16string part(read.size() + 1, u'\0');
            part.resize(decode_utf8(&carry, reinterpret_cast<const uint8_t*>(read.data()),
                                    read.size(), part.data()));
            text += part;
        }
        EXPECT_EQ(text, c.text) << c.reads[0];
    }
}

std::string temp_file(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Both streams to files, then a fatal report. More than one 4096-byte block
// goes to standard output, so the runtime's buffer is written in parts.
void print_then_fail(const std::string& out, const std::string& err) {
    std::freopen(out.c_str(), "w", stdout);
    std::freopen(err.c_str(), "w", stderr);
    for (int i = 0; i < 300; ++i) print_out(u"C:\\Users\\ann\\%d.doc\n", i);
    print_out(u"C:\\\u00e9t\u00e9\\\U0001F600\xD800.txt\n");
    const wchar pair[] = u"\U0001F600\n";
    platform_write_text(STREAM_OUT, pair, 1);
    platform_write_text(STREAM_OUT, pair + 1, 2);
    print_err(u"Unable to access drive q\n");
    platform_set_last_error(ERROR_ACCESS_DENIED);
    fatal_report(u"Reading MFT record");
}

TEST(WindowsStreamsDeathTest, RedirectedOutputIsUtf8WithCrLfAndSurvivesAFatalReport) {
    std::string out = temp_file("morla-streams-out.txt"), err = temp_file("morla-streams-err.txt");
    EXPECT_EXIT(print_then_fail(out, err), ::testing::ExitedWithCode(ERROR_ACCESS_DENIED), "");
    std::string expected;
    for (int i = 0; i < 300; ++i) expected += "C:\\Users\\ann\\" + std::to_string(i) + ".doc\r\n";
    expected += "C:\\\xC3\xA9t\xC3\xA9\\\xF0\x9F\x98\x80\xEF\xBF\xBD.txt\r\n";
    expected += "\xF0\x9F\x98\x80\r\n";
    EXPECT_EQ(read_file(out), expected);
    // The system text keeps its own CR LF, to which text mode adds a CR.
    std::string errors = read_file(err);
    std::string head = "Unable to access drive q\r\nReading MFT record failed with error 5: ";
    EXPECT_EQ(errors.substr(0, head.size()), head);
    ASSERT_GT(errors.size(), head.size() + 3);
    EXPECT_EQ(errors.substr(errors.size() - 3), "\r\r\n");
    std::remove(out.c_str());
    std::remove(err.c_str());
}

// Standard output on a pipe whose reader has gone: the write that fails ends
// the run at once, quietly, with the system's broken-pipe code.
void write_to_a_pipe_nobody_reads() {
    HANDLE reader = nullptr, writer = nullptr;
    if (!CreatePipe(&reader, &writer, nullptr, 0)) ExitProcess(1);
    CloseHandle(reader);
    _dup2(_open_osfhandle(reinterpret_cast<intptr_t>(writer), _O_WRONLY), _fileno(stdout));
    print_out(u"C:\\a.doc\n");
    deliver_output();
    ExitProcess(0);
}

TEST(WindowsStreamsDeathTest, AReaderThatWentAwayEndsTheRunQuietly) {
    auto broken_pipe = [](int status) {
        return platform_reader_gone(uint32_t(status)) != 0;
    };
    EXPECT_EXIT(write_to_a_pipe_nobody_reads(), broken_pipe, "^$");
}

// An image file read through the sector source as a volume is: whole
// sectors at aligned offsets, whatever range is asked for. A range that ends
// past the device fails rather than hand out bytes it did not read; so does
// a read the system refuses, with the system's code kept.
TEST(WindowsSectorSource, HandsOutExactlyTheRangeAskedOrFails) {
    const std::string path = temp_file("morla-sectors.img");
    const uint64_t size = 300 * 512 + 100;  // the last sector cut short, as an image may be
    std::string bytes(size, '\0');
    for (uint64_t i = 0; i < size; ++i) bytes[i] = char(i * 7 % 251);
    std::ofstream(path, std::ios::binary) << bytes;
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SectorSource sectors;
    ByteSource source;
    // The source is told of no end: the device's own end must stop it.
    ASSERT_EQ(sector_source_start(&sectors, file, 512, ~uint64_t(0), &source), 1);
    std::vector<uint8_t> memory(size + 8192);
    uint8_t* aligned = memory.data() + (4096 - reinterpret_cast<uintptr_t>(memory.data()) % 4096);
    struct Case {
        uint64_t offset;
        size_t length;
        size_t dest_offset;  // from an aligned address
        bool ok;
    };
    const Case cases[] = {
        {3, 8, 0, true},                // inside one sector
        {500, 30, 0, true},             // across a sector's end
        {512, 1024, 0, true},           // whole sectors, straight into aligned memory
        {512, 1024, 1, true},           // whole sectors into unaligned memory
        {1000, 100000, 3, true},        // more than the bounce buffer holds
        {0, size_t(size), 0, true},     // up to the device's end, in its cut-short sector
        {size - 90, 100, 0, false},     // ending past the device
        {size, 1, 0, false},            // starting at its end
        {size + 4096, 512, 0, false},   // beyond it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.length));
        uint8_t* dest = aligned + c.dest_offset;
        std::memset(dest, 0xEE, c.length);
        errno = 0;
        sectors.error = 0;
        ASSERT_EQ(source.read(source.context, c.offset, dest, c.length), c.ok ? 1 : 0);
        if (c.ok) {
            EXPECT_EQ(std::memcmp(dest, bytes.data() + c.offset, c.length), 0);
        } else {
            EXPECT_EQ(errno, EIO);
            EXPECT_EQ(sectors.error, DWORD(ERROR_HANDLE_EOF));
        }
    }
    NtfsGeometry geometry = {};
    EXPECT_EQ(device_length(file, &geometry), size);  // an image's length is its size
    sector_source_release(&sectors);
    CloseHandle(file);

    // A handle that may not read: the system's refusal is the read's failure.
    file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_EQ(sector_source_start(&sectors, file, 512, size, &source), 1);
    errno = 0;
    EXPECT_EQ(source.read(source.context, 0, aligned, 512), 0);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(sectors.error, DWORD(ERROR_ACCESS_DENIED));
    sector_source_release(&sectors);
    CloseHandle(file);
    std::remove(path.c_str());
}

TEST(WindowsPlatform, ReportsAskTheSystemForTextAndMemory) {
    platform_set_last_error(1234);
    EXPECT_EQ(platform_last_error(), 1234u);

    wchar* text = nullptr;
    uint32_t units = platform_format_message(MESSAGE_FROM_SYSTEM, ERROR_ACCESS_DENIED, &text);
    ASSERT_NE(text, nullptr);
    ASSERT_GT(units, 2u);
    EXPECT_EQ(text[units - 1], u'\n');  // the text brings its own line end
    EXPECT_EQ(text[units], u'\0');
    platform_local_free(text);
    // A code the system has no text for: no text, nothing to release.
    text = reinterpret_cast<wchar*>(&units);
    EXPECT_EQ(platform_format_message(MESSAGE_FROM_SYSTEM, 0x2000FFFF, &text), 0u);
    EXPECT_EQ(text, nullptr);

    unsigned char* block = static_cast<unsigned char*>(platform_local_alloc_zeroed(100));
    ASSERT_NE(block, nullptr);
    EXPECT_GE(platform_local_size(block), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(block[i], 0) << i;
    platform_local_free(block);
}

TEST(WindowsPlatform, FindsTheOptionalEntryPointsByName) {
    void* kernel = platform_load_library(u"kernel32.dll");
    void* shell = platform_load_library(u"shell32.dll");
    ASSERT_NE(kernel, nullptr);
    ASSERT_NE(shell, nullptr);
    EXPECT_NE(platform_get_proc_address(kernel, "GetVolumePathNamesForVolumeNameW"), nullptr);
    EXPECT_NE(platform_get_proc_address(shell, "IsUserAnAdmin"), nullptr);
    EXPECT_EQ(platform_get_proc_address(kernel, "NoSuchMorlaExport"), nullptr);
    EXPECT_EQ(platform_load_library(u"no-such-morla-library.dll"), nullptr);
}

// Every volume name, and for each its mount paths through the found query
// with the two-call protocol the volume search uses.
TEST(WindowsPlatform, EnumeratesVolumesAndTheirMountPaths) {
    auto query = reinterpret_cast<VolumePathNamesFn>(platform_get_proc_address(
        platform_load_library(u"kernel32.dll"), "GetVolumePathNamesForVolumeNameW"));
    ASSERT_NE(query, nullptr);
    std::vector<wchar> name(0x8000);
    Handle find = platform_find_first_volume(name.data(), 0x8000);
    ASSERT_NE(find, INVALID_HANDLE);
    int volumes = 0;
    do {
        std::u16string volume(name.data());
        ASSERT_GT(volume.size(), 5u);
        EXPECT_EQ(volume.substr(0, 4), u"\\\\?\\");
        EXPECT_EQ(volume.back(), u'\\');
        uint32_t needed = 0;
        platform_set_last_error(0);
        EXPECT_EQ(query(volume.c_str(), nullptr, 0, &needed), 0);
        if (platform_last_error() == ERROR_CODE_MORE_DATA) {
            ASSERT_GE(needed, 1u);
            std::vector<wchar> list(needed + 1, u'?');
            EXPECT_EQ(query(volume.c_str(), list.data(), needed, &needed), 1);
            EXPECT_EQ(list[needed - 1], u'\0');  // the list ends with an empty string
        }
        ++volumes;
    } while (platform_find_next_volume(find, name.data(), 0x8000));
    EXPECT_EQ(platform_last_error(), uint32_t(ERROR_NO_MORE_FILES));
    EXPECT_GE(volumes, 1);
    EXPECT_EQ(platform_find_volume_close(find), 1);
}

TEST(WindowsPlatform, OpensVolumesAndPassesTheNtfsRequests) {
    // A letter no drive uses cannot be opened, and says why.
    DWORD drives = GetLogicalDrives();
    wchar path[] = u"\\\\.\\A:";
    for (int i = 25; i >= 0; --i)
        if (!(drives & (1u << i))) path[4] = wchar(u'A' + i);
    ASSERT_FALSE(drives & (1u << (path[4] - u'A')));
    platform_set_last_error(0);
    EXPECT_EQ(platform_open_volume(path), INVALID_HANDLE);
    EXPECT_NE(platform_last_error(), 0u);

    // The system drive: wine opens it but answers neither request (error 50);
    // Windows answers both for an administrator on NTFS.
    Handle volume = platform_open_volume(u"\\\\.\\C:");
    if (volume == INVALID_HANDLE)
        GTEST_SKIP() << "no access to C: (error " << platform_last_error() << ")";
    unsigned char data[96] = {};
    uint32_t returned = 0xFFFF;
    platform_set_last_error(0);
    if (platform_device_io_control(volume, FSCTL_NTFS_VOLUME_DATA, nullptr, 0, data, sizeof data,
                                   &returned)) {
        EXPECT_EQ(returned, 96u);
        uint32_t record_size = 0;
        std::memcpy(&record_size, data + 48, 4);
        EXPECT_TRUE(record_size == 1024 || record_size == 4096) << record_size;
    } else {
        EXPECT_NE(platform_last_error(), 0u);
    }
    int64_t number = 0;
    std::vector<unsigned char> record(4096 + 15);
    platform_set_last_error(0);
    if (platform_device_io_control(volume, FSCTL_NTFS_FILE_RECORD, &number, sizeof number,
                                   record.data(), uint32_t(record.size()), &returned)) {
        EXPECT_EQ(std::memcmp(record.data() + 12, "FILE", 4), 0);
    } else {
        EXPECT_NE(platform_last_error(), 0u);
    }
    EXPECT_EQ(platform_close_handle(volume), 1);
}

}  // namespace
#endif
