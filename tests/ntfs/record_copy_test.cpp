// The scan's copy of a record with its fix-ups, checked on the stored bytes
// before the copy, must answer as a plain copy fixed up afterwards does: the
// verdict the update sequence's rule gives on every array, sound or not, and
// the same bytes for every sound record, for each record size and alignment.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ntfs/record.h"
#include "ntfs/record_copy.h"

namespace {

// A record of size bytes whose update sequence array sits at usa_offset with
// usa_count entries, every sector's tail holding the sequence number, as
// stored (before the fix-ups are applied).
std::vector<uint8_t> stored_record(uint32_t size, uint32_t usa_offset, uint32_t usa_count) {
    std::vector<uint8_t> record(size);
    for (uint32_t i = 0; i < size; ++i) record[i] = uint8_t(i * 7 + 3);
    std::memcpy(record.data(), "FILE", 4);
    record[4] = uint8_t(usa_offset);
    record[5] = uint8_t(usa_offset >> 8);
    record[6] = uint8_t(usa_count);
    record[7] = uint8_t(usa_count >> 8);
    const uint8_t sequence[2] = {0x2A, 0x01};
    if (usa_offset + 2 <= size) std::memcpy(&record[usa_offset], sequence, 2);
    for (uint32_t i = 1; i * 512 <= size; ++i) std::memcpy(&record[i * 512 - 2], sequence, 2);
    return record;
}

TEST(RecordCopy, CheckedBeforeTheCopyAnswersAsTheCopyFixedUpAfter) {
    struct Case {
        uint32_t usa_offset;
        int usa_count_delta;  // from the size's own count (one per sector, plus one)
        int torn_sector;      // 1-based sector whose tail is changed; 0: none
    };
    const Case cases[] = {
        {48, 0, 0},  {42, 0, 0},  {8, 0, 0},   {6, 0, 0},  {0, 0, 0},   {7, 0, 0},
        {49, 0, 0},  {48, 1, 0},  {48, -1, 0}, {48, 0, 1}, {48, 0, 2},  {48, 0, 8},
        {500, 0, 0}, {503, 0, 0}, {504, 0, 0}, {505, 0, 0}, {506, 0, 0}, {508, 0, 0},
        {0xFFFE, 0, 0},
    };
    size_t sound = 0;
    for (uint32_t size : {512u, 1024u, 2048u, 4096u}) {
        const uint32_t count = size / 512 + 1;
        for (const Case& c : cases) {
            for (uint32_t misalign : {0u, 1u, 8u}) {
                SCOPED_TRACE(testing::Message() << "size " << size << ", offset " << c.usa_offset
                                                << ", count " << count + c.usa_count_delta
                                                << ", torn " << c.torn_sector << ", misaligned "
                                                << misalign);
                std::vector<uint8_t> stored =
                    stored_record(size, c.usa_offset, uint32_t(int(count) + c.usa_count_delta));
                if (c.torn_sector && uint32_t(c.torn_sector) * 512 <= size)
                    stored[uint32_t(c.torn_sector) * 512 - 1] ^= 0x40;
                std::vector<uint8_t> from(size + misalign), to(size + misalign, 0xEE);
                std::memcpy(from.data() + misalign, stored.data(), size);
                std::vector<uint8_t> fixed = stored;
                const int expected = ntfs_fix_record(fixed.data(), size);
                // Both share their checks, so the rule is written out here too.
                const uint32_t usa_count = uint32_t(int(count) + c.usa_count_delta);
                const bool torn = c.torn_sector && uint32_t(c.torn_sector) * 512 <= size;
                const int rule = usa_count == count && c.usa_offset >= 8 &&
                                 c.usa_offset % 2 == 0 && c.usa_offset + 2 * usa_count <= 510 &&
                                 !torn;
                ASSERT_EQ(expected, rule);
                const int got =
                    ntfs_copy_fixed_record(to.data() + misalign, from.data() + misalign, size);
                ASSERT_EQ(got, expected);
                if (expected) {
                    ++sound;
                    EXPECT_TRUE(std::memcmp(to.data() + misalign, fixed.data(), size) == 0);
                }
            }
        }
    }
    EXPECT_GT(sound, 20u);  // both verdicts well represented
}

}  // namespace
