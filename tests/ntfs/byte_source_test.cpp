// The NTFS reader fed from memory through its byte source, which no file
// or device can do: the answers must not depend on the order of the
// requests (the scan's block and the records at hand, answered without the
// bitmap's search, against the same numbers asked upward, each answered
// out of the scan's order), a source that starts
// failing part-way must make requests fail, never answer with other bytes,
// and a source far larger than its real bytes costs only its real bytes.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ntfs/volume.h"
#include "tests/system/fls_oracle.h"
#include "tests/ntfs/ntfs_image_edit.h"

namespace {

struct MemorySource {
    std::string bytes;
    long reads_left = -1;  // the reads that still succeed; -1: all of them
};

int read_memory(void* context, uint64_t offset, void* dest, size_t length) {
    MemorySource* m = static_cast<MemorySource*>(context);
    if (m->reads_left == 0) {
        errno = EIO;
        return 0;
    }
    if (m->reads_left > 0) --m->reads_left;
    std::memcpy(dest, m->bytes.data() + offset, length);
    return 1;
}

enum class Order { ScanFirst, ScatteredFirst, Upward };

// The request numbers of a whole search: from two above the top slot down
// to 0 as the scan asks, then scattered file references as path
// reconstruction asks; or the scattered ones first; or the first part
// upward, from 0.
std::vector<uint64_t> requests(uint64_t slots, Order order) {
    std::vector<uint64_t> asks;
    for (uint64_t i = 0; i < 2 * slots + 2; ++i)
        asks.push_back(i < slots + 2 ? slots + 1 - i : (((i * 7919) % slots) | (i << 48)));
    if (order == Order::ScatteredFirst)
        std::rotate(asks.begin(), asks.begin() + slots + 2, asks.end());
    if (order == Order::Upward) std::reverse(asks.begin(), asks.begin() + slots + 2);
    return asks;
}

// The volume data, then the reader's reply to each request, "failed <errno>"
// for a request that fails, in the order of the downward walk.
std::vector<std::string> answers(MemorySource* memory, Order order = Order::ScanFirst) {
    ByteSource source{memory, memory->bytes.size(), read_memory, nullptr};
    NtfsVolume* volume = ntfs_open(&source);
    if (!volume) return {"no volume " + std::to_string(errno)};
    if (volume->table_unread) {
        // Its one request, for the table's own record, fails as a read.
        std::string reply(NTFS_REPLY_HEADER_BYTES + volume->geometry.record_size, '\0');
        uint32_t returned = 0;
        int ok = ntfs_file_record(volume, 0, reinterpret_cast<uint8_t*>(reply.data()), &returned);
        ntfs_close(volume);
        return {"no table " + std::to_string(ok ? 0 : errno)};
    }
    std::vector<std::string> text(1, std::string(NTFS_VOLUME_DATA_BYTES, '\0'));
    ntfs_volume_data(volume, reinterpret_cast<uint8_t*>(text[0].data()));
    const uint32_t size = volume->geometry.record_size;
    const uint64_t slots = volume->mft.valid_length / size;
    std::string reply(NTFS_REPLY_HEADER_BYTES + size, '\0');
    const std::vector<uint64_t> asks = requests(slots, order);
    std::vector<std::string> by_request(asks.size());
    for (size_t k = 0; k < asks.size(); ++k) {
        size_t i = k;
        if (order == Order::ScatteredFirst) i = (k + slots + 2) % asks.size();
        if (order == Order::Upward && k < slots + 2) i = slots + 1 - k;
        uint32_t returned = 0;
        if (ntfs_file_record(volume, asks[k], reinterpret_cast<uint8_t*>(reply.data()), &returned))
            by_request[i] = reply.substr(0, returned);
        else
            by_request[i] = "failed " + std::to_string(errno);
    }
    ntfs_close(volume);
    text.insert(text.end(), by_request.begin(), by_request.end());
    return text;
}

TEST(ByteSource, AnswersDoNotDependOnTheOrderOfRequestsOnEveryVolume) {
    for (size_t i = 0; i < TEST_VOLUME_COUNT; ++i) {
        UnpackedVolume volume(TEST_VOLUMES[i]);
        if (volume.path.empty()) continue;  // a shared sample that is absent
        SCOPED_TRACE(TEST_VOLUMES[i].file);
        MemorySource memory{read_file(volume.path)};
        const std::vector<std::string> scan_first = answers(&memory);
        EXPECT_GT(scan_first.size(), 64u);
        EXPECT_TRUE(scan_first == answers(&memory, Order::ScatteredFirst));
        EXPECT_TRUE(scan_first == answers(&memory, Order::Upward));
    }
}

// A device that starts failing after any number of reads: every reply given
// is one the sound device gives too, and every other request fails with EIO.
TEST(ByteSource, ASourceThatStartsFailingMakesRequestsFailNotLie) {
    UnpackedVolume volume(TestVolumeSpec{"fragmented.img.gz", VolumeOrigin::Fixture});
    ASSERT_FALSE(volume.path.empty());
    MemorySource memory{read_file(volume.path)};
    const std::vector<std::string> sound = answers(&memory);
    const std::string eio = "failed " + std::to_string(EIO);
    size_t failures = 0;
    for (const bool scattered_first : {false, true}) {
        for (long reads : {0L, 1L, 2L, 5L, 20L, 60L, 200L}) {
            SCOPED_TRACE(testing::Message() << "scattered first " << scattered_first
                                            << ", reads " << reads);
            memory.reads_left = reads;
            const std::vector<std::string> failing = answers(
                &memory, scattered_first ? Order::ScatteredFirst : Order::ScanFirst);
            if (failing.size() == 1) {
                EXPECT_TRUE(failing[0] == "no volume " + std::to_string(EIO) ||
                            failing[0] == "no table " + std::to_string(EIO))
                    << failing[0];
                continue;
            }
            ASSERT_EQ(failing.size(), sound.size());
            for (size_t k = 0; k < sound.size(); ++k) {
                failures += failing[k] == eio;
                if (failing[k] != eio) {
                    ASSERT_TRUE(failing[k] == sound[k]) << "request " << k;
                }
            }
        }
    }
    EXPECT_GT(failures, 0u);
}

}  // namespace
#endif
