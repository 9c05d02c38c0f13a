// The NTFS reader fed from memory through its byte source, which no file
// or device can do: views and copies must give the same answers, and a
// source that starts failing part-way must make requests fail, never answer
// with other bytes.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ntfs/volume.h"
#include "tests/system/fls_oracle.h"
#include "tests/system/ntfs_image_edit.h"

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

const uint8_t* view_memory(void* context, uint64_t offset, uint64_t) {
    MemorySource* m = static_cast<MemorySource*>(context);
    if (m->reads_left == 0) {
        errno = EIO;
        return nullptr;
    }
    if (m->reads_left > 0) --m->reads_left;
    return reinterpret_cast<const uint8_t*>(m->bytes.data()) + offset;
}

// The volume data, then every reply of the reader from two above the top
// slot down to 0 and by scattered file references, "failed <errno>" for a
// request that fails.
std::vector<std::string> answers(MemorySource* memory, bool views) {
    ByteSource source{memory, memory->bytes.size(), read_memory, views ? view_memory : nullptr,
                      nullptr};
    NtfsVolume* volume = ntfs_open(&source);
    if (!volume) return {"no volume " + std::to_string(errno)};
    std::vector<std::string> text(1, std::string(NTFS_VOLUME_DATA_BYTES, '\0'));
    ntfs_volume_data(volume, reinterpret_cast<uint8_t*>(text[0].data()));
    const uint32_t size = volume->geometry.record_size;
    const uint64_t slots = volume->mft.valid_length / size;
    std::string reply(FILE_RECORD_HEADER_BYTES + size, '\0');
    for (uint64_t i = 0; i < 2 * slots + 2; ++i) {
        const uint64_t n = i < slots + 2 ? slots + 1 - i : ((i * 7919 % slots) | (i << 48));
        uint32_t returned = 0;
        if (ntfs_file_record(volume, n, reinterpret_cast<uint8_t*>(reply.data()), &returned))
            text.push_back(reply.substr(0, returned));
        else
            text.push_back("failed " + std::to_string(errno));
    }
    ntfs_close(volume);
    return text;
}

TEST(ByteSource, ViewsAndCopiesGiveTheSameAnswersOnEveryVolume) {
    for (size_t i = 0; i < TEST_VOLUME_COUNT; ++i) {
        UnpackedVolume volume(TEST_VOLUMES[i]);
        if (volume.path.empty()) continue;  // a shared sample that is absent
        SCOPED_TRACE(TEST_VOLUMES[i].file);
        MemorySource memory{read_file(volume.path)};
        const std::vector<std::string> copied = answers(&memory, false);
        EXPECT_GT(copied.size(), 64u);
        EXPECT_TRUE(copied == answers(&memory, true));
    }
}

// A device that starts failing after any number of reads: every reply given
// is one the sound device gives too, and every other request fails with EIO.
TEST(ByteSource, ASourceThatStartsFailingMakesRequestsFailNotLie) {
    UnpackedVolume volume(TestVolumeSpec{"fragmented.img.gz", VolumeOrigin::Fixture});
    ASSERT_FALSE(volume.path.empty());
    MemorySource memory{read_file(volume.path)};
    const std::vector<std::string> sound = answers(&memory, false);
    const std::string eio = "failed " + std::to_string(EIO);
    size_t failures = 0;
    for (bool views : {false, true}) {
        for (long reads : {0L, 1L, 2L, 5L, 20L, 60L, 200L}) {
            SCOPED_TRACE(testing::Message() << "views " << views << ", reads " << reads);
            memory.reads_left = reads;
            const std::vector<std::string> failing = answers(&memory, views);
            if (failing.size() == 1) {
                EXPECT_EQ(failing[0], "no volume " + std::to_string(EIO));
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
