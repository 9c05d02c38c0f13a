// Fuzz target: the relay's reading of the requester's frame (a 4-byte
// little-endian count, then that many UTF-16 units) from a pipe that hands
// the bytes over in pieces. Input: a byte that sets how the stream is cut and
// how it ends, then the stream. The relay must take exactly the frame's bytes
// when they are all there and fit a command line, and name the right step
// otherwise, never reading past the frame or keeping memory it took.
#include <deque>
#include <string>

#include "elevation/relay.h"
#include "base/heap.h"
#include "fuzz/fuzz_check.h"
#include "tests/fake_platform/fake_platform.h"

namespace {

// Pieces of 1 to 2^k bytes, their sizes drawn from a small generator.
std::deque<std::string> in_pieces(const std::string& stream, uint8_t seed) {
    std::deque<std::string> pieces;
    uint32_t state = seed | 1u;
    const uint32_t largest = 1u << (seed % 12);
    for (size_t at = 0; at < stream.size();) {
        state = state * 1103515245u + 12345u;
        size_t piece = 1 + (state >> 16) % largest;
        pieces.push_back(stream.substr(at, piece));
        at += piece;
    }
    return pieces;
}

size_t bytes_left() {
    size_t left = 0;
    for (const std::string& piece : fake_pipe_input) left += piece.size();
    return left;
}

bool same(const wchar* a, const wchar* b) { return std::u16string(a) == std::u16string(b); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t control = data[0];
    const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);
    fake_reset();
    heap_keep_freed = false;  // every release reaches the sanitizers
    fake_pipe_input = in_pieces(stream, control);
    // The stream's end: a failed read (the writer has gone) or a read of 0.
    fake_read_end_error = control & 0x80 ? 0 : 109;
    const bool short_of_memory = (control & 0x70) == 0x70;
    if (short_of_memory) heap_failure_countdown = 1;

    Handle pipe = platform_open_pipe_client(u"\\\\.\\pipe\\morla-uac-pipe-0000abcd");
    const wchar* step = nullptr;
    platform_set_last_error(0);
    wchar* line = receive_frame(pipe, &step);
    heap_failure_countdown = -1;

    const size_t have = stream.size();
    if (have < 4) {
        FUZZ_CHECK(!line && step && same(step, u"Read buffer size"), "a count cut short");
        FUZZ_CHECK(platform_last_error() == 109, "the stream's end is not the reason");
        return 0;
    }
    const uint32_t units = uint32_t(uint8_t(stream[0]) | uint8_t(stream[1]) << 8 |
                                    uint8_t(stream[2]) << 16 | uint32_t(uint8_t(stream[3])) << 24);
    if (units > MAX_COMMAND_LINE_UNITS) {
        FUZZ_CHECK(!line && step && same(step, u"Read buffer size"), "a count too large");
        FUZZ_CHECK(platform_last_error() == 13, "the count is not the reason");
        FUZZ_CHECK(bytes_left() == have - 4, "read past a refused count");
        return 0;
    }
    if (short_of_memory) {
        FUZZ_CHECK(!line && step && same(step, u"Allocate command line"), "memory short");
        FUZZ_CHECK(platform_last_error() == 8, "the memory is not the reason");
        return 0;
    }
    if (have < 4 + 2 * size_t(units)) {
        FUZZ_CHECK(!line && step && same(step, u"Read command line"), "a text cut short");
        FUZZ_CHECK(platform_last_error() == 109, "the stream's end is not the reason");
        return 0;
    }
    FUZZ_CHECK(line != nullptr, "a whole frame refused");
    for (uint32_t i = 0; i < units; ++i) {
        const wchar unit = wchar(uint8_t(stream[4 + 2 * i]) | uint8_t(stream[5 + 2 * i]) << 8);
        FUZZ_CHECK(line[i] == unit, "a unit of the command line differs");
    }
    FUZZ_CHECK(line[units] == 0, "the command line is not terminated");
    FUZZ_CHECK(bytes_left() == have - 4 - 2 * size_t(units), "read past the frame");
    heap_free(line);
    return 0;
}
