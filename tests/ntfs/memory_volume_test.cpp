// Small volumes built in memory for what the test volumes never show the
// reader: a table whose pieces lie backward and touching on the volume, a
// stretch of free records longer than the scan's block, and a bitmap
// shorter than the table. Every answer, asked as the scan asks and out of
// its order, is checked against the nearest-lower rule over the records the
// volume was built with.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ntfs/volume.h"
#include "tests/ntfs/ntfs_image_edit.h"

namespace {

constexpr uint32_t CLUSTER = 4096;
constexpr uint32_t RECORD = 1024;
constexpr uint64_t VOLUME_CLUSTERS = 512;
constexpr uint64_t BITMAP_LCN = 1;
constexpr uint32_t FIRST_ATTRIBUTE = 56;

struct Table {
    std::vector<Run> runs;     // where the table lies, in VCN order
    std::vector<bool> in_use;  // one per record slot
    uint64_t bitmap_bytes;     // the bitmap's size: one bit per record it covers
    // When not 0, the most bytes the scan may read and ask to be read ahead,
    // one climb out of its order included. The volume then claims what the
    // runs map, and reads as zeros past the bytes built.
    uint64_t byte_bound = 0;
    // The record a climb asks for once the scan is below the table's middle
    // (0: the table's last).
    uint64_t climb = 0;
};

// A record as the reader returns it: fix-ups applied.
std::string plain_record(uint64_t number) {
    std::string record(RECORD, '\0');
    record.replace(NTFS_RECORD_SIGNATURE, 4, "FILE");
    put_le(record, NTFS_RECORD_USA_OFFSET, NTFS_RECORD_HEADER_BYTES, 2);
    put_le(record, NTFS_RECORD_USA_COUNT, RECORD / NTFS_FIXUP_STRIDE + 1, 2);
    put_le(record, NTFS_RECORD_HEADER_BYTES, 1, 2);  // the update sequence number
    put_le(record, NTFS_RECORD_SEQUENCE, 1, 2);
    put_le(record, NTFS_RECORD_FIRST_ATTRIBUTE, FIRST_ATTRIBUTE, 2);
    put_le(record, NTFS_RECORD_FLAGS, NTFS_RECORD_IN_USE, 2);
    put_le(record, NTFS_RECORD_NUMBER, number, 4);
    put_le(record, FIRST_ATTRIBUTE, NTFS_TYPE_END, 4);
    // Something in every stride's tail, which the fix-ups keep aside.
    for (uint32_t tail = NTFS_FIXUP_STRIDE - 2; tail < RECORD; tail += NTFS_FIXUP_STRIDE)
        put_le(record, tail, number + tail, 2);
    return record;
}

uint64_t volume_clusters(const Table& table) {
    uint64_t end = VOLUME_CLUSTERS;
    for (const Run& run : table.runs) end = std::max(end, run.lcn + run.clusters);
    return end;
}

std::string make_volume(const Table& table) {
    std::string image(VOLUME_CLUSTERS * CLUSTER, '\0');
    image.replace(NTFS_BOOT_OEM_ID, 8, "NTFS    ");
    put_le(image, NTFS_BOOT_BYTES_PER_SECTOR, 512, 2);
    image[NTFS_BOOT_SECTORS_PER_CLUSTER] = CLUSTER / 512;
    put_le(image, NTFS_BOOT_SECTORS, volume_clusters(table) * (CLUSTER / 512), 8);
    put_le(image, NTFS_BOOT_MFT_LCN, table.runs[0].lcn, 8);
    image[NTFS_BOOT_CLUSTERS_PER_RECORD] = char(-10);  // 1024-byte records

    const uint64_t records = table.in_use.size();
    std::string zero = plain_record(0);
    zero.replace(FIRST_ATTRIBUTE, std::string::npos, "");
    uint64_t clusters = 0;
    for (const Run& run : table.runs) clusters += run.clusters;
    zero += non_resident_attribute(NTFS_TYPE_DATA, clusters - 1, table.runs, records * RECORD,
                                   CLUSTER);
    const uint64_t bitmap_clusters = (table.bitmap_bytes + CLUSTER - 1) / CLUSTER;
    zero += non_resident_attribute(NTFS_TYPE_BITMAP, bitmap_clusters - 1,
                                   {{bitmap_clusters, BITMAP_LCN}}, table.bitmap_bytes, CLUSTER);
    zero += std::string("\xFF\xFF\xFF\xFF\0\0\0\0", 8);
    zero.resize(RECORD, '\0');
    // Every record is stored, free or not, as a freed record keeps its bytes:
    // only the bitmap tells them apart.
    uint64_t vcn = 0;
    for (const Run& run : table.runs) {
        for (uint64_t at = 0; at < run.clusters * CLUSTER; at += RECORD) {
            const uint64_t r = (vcn * CLUSTER + at) / RECORD;
            if (r >= records || run.lcn * CLUSTER + at >= image.size()) break;
            std::string record = r ? plain_record(r) : zero;
            protect_record(record);
            image.replace(run.lcn * CLUSTER + at, RECORD, record);
        }
        vcn += run.clusters;
    }
    for (uint64_t r = 0; r < records && r / 8 < table.bitmap_bytes; ++r)
        if (table.in_use[r]) image[BITMAP_LCN * CLUSTER + r / 8] |= char(1 << (r % 8));
    return image;
}

// The built bytes, zeros past them; what was read and hinted, counted.
struct Memory {
    std::string image;
    uint64_t moved = 0;
};

int read_memory(void* context, uint64_t offset, void* dest, size_t length) {
    Memory* m = static_cast<Memory*>(context);
    std::memset(dest, 0, length);
    if (offset < m->image.size())
        std::memcpy(dest, m->image.data() + offset, std::min<uint64_t>(length, m->image.size() - offset));
    m->moved += length;
    return 1;
}

void hint_memory(void* context, uint64_t, uint64_t length) {
    static_cast<Memory*>(context)->moved += length;
}

// The reply the nearest-lower rule gives for number, or "failed <errno>".
std::string expected_reply(const Table& table, uint64_t number) {
    uint64_t r = std::min<uint64_t>(number & NTFS_RECORD_NUMBER_MASK, table.in_use.size() - 1);
    r = std::min<uint64_t>(r, table.bitmap_bytes * 8 - 1);
    for (;; --r) {
        if (table.in_use[r]) {
            std::string reply(NTFS_REPLY_HEADER_BYTES, '\0');
            put_le(reply, NTFS_REPLY_NUMBER, r, 8);
            put_le(reply, NTFS_REPLY_LENGTH, RECORD, 4);
            // Fixed up, the record's array keeps the tails it saved.
            std::string record = plain_record(r);
            protect_record(record);
            apply_fixups(record);
            return reply + record;
        }
        if (r == 0) return "failed " + std::to_string(ENODATA);
    }
}

std::string reply_for(NtfsVolume* volume, uint64_t number) {
    std::string reply(NTFS_REPLY_HEADER_BYTES + RECORD, '\0');
    uint32_t returned = 0;
    if (!ntfs_file_record(volume, number, reinterpret_cast<uint8_t*>(reply.data()), &returned))
        return "failed " + std::to_string(errno);
    return reply.substr(0, returned);
}

// Asks as the scan does (downward, each request below the last answer), then
// every slot and a few references out of order; returns the wrong answers.
int wrong_answers(const Table& table) {
    Memory memory{make_volume(table)};
    // Record 0's bytes are its attributes, not a plain record.
    const std::string zero_expected = [&] {
        std::string record = memory.image.substr(table.runs[0].lcn * CLUSTER, RECORD);
        apply_fixups(record);
        return record;
    }();
    ByteSource source{};
    source.context = &memory;
    source.length = table.byte_bound ? volume_clusters(table) * CLUSTER : memory.image.size();
    source.read = read_memory;
    source.prefetch = hint_memory;
    NtfsVolume* volume = ntfs_open(&source);
    if (!volume) {
        ADD_FAILURE() << "no volume, errno " << errno;
        return 1;
    }
    const uint64_t slots = table.in_use.size();
    std::vector<uint64_t> asks;
    std::vector<uint64_t> scattered;
    for (uint64_t i = 0; i < std::min<uint64_t>(slots + 2, table.byte_bound ? 16 : 2048); ++i)
        scattered.push_back((i * 7919) % (slots + 2));
    for (uint64_t n : {uint64_t(5) | uint64_t(3) << 48, ~uint64_t(0)}) scattered.push_back(n);
    int wrong = 0;
    auto check = [&](uint64_t number, const std::string& got) {
        std::string want = expected_reply(table, number);
        if (want.size() > NTFS_REPLY_HEADER_BYTES && get_le(want, NTFS_REPLY_NUMBER, 8) == 0)
            want = want.substr(0, NTFS_REPLY_HEADER_BYTES) + zero_expected;
        if (got != want && ++wrong <= 5)
            ADD_FAILURE() << "record " << number << ": got "
                          << (got.size() > 8 ? std::to_string(get_le(got, 0, 8)) : got)
                          << ", expected "
                          << (want.size() > 8 ? std::to_string(get_le(want, 0, 8)) : want);
    };
    memory.moved = 0;
    bool climbed = false;
    for (uint64_t k = slots; k > 0;) {
        const std::string got = reply_for(volume, k - 1);
        check(k - 1, got);
        if (got.size() < NTFS_REPLY_HEADER_BYTES || got.rfind("failed", 0) == 0) break;
        // A climb out of the scan's block, as from a match in the bottom block.
        const uint64_t climb = table.climb ? table.climb : slots - 1;
        if (k < slots / 2 && !climbed) check(climb, reply_for(volume, climb));
        climbed = climbed || k < slots / 2;
        k = get_le(got, NTFS_REPLY_NUMBER, 8);
    }
    if (table.byte_bound) {
        EXPECT_LE(memory.moved, table.byte_bound);
    }
    for (uint64_t n : scattered) check(n, reply_for(volume, n));
    ntfs_close(volume);
    return wrong;
}

std::vector<bool> all_in_use(uint64_t records) { return std::vector<bool>(records, true); }

TEST(MemoryVolume, EveryAnswerFollowsTheNearestLowerRule) {
    struct Case {
        const char* what;
        Table table;
    };
    std::vector<bool> stretch = all_in_use(1024);
    for (uint64_t r = 300; r <= 800; ++r) stretch[r] = false;  // the scan jumps a whole block
    std::vector<bool> top_free = all_in_use(1032);
    for (uint64_t r = 1016; r < 1032; ++r) top_free[r] = r % 3 == 0;
    // A table claiming 4 GiB, 40 records in use at its two ends (its last
    // piece inside the bytes built, the one before it far past them): the
    // scan jumps over the free stretch, and a climb from its bottom block
    // reads nothing of it either. Read: the bitmap once, and about the two
    // blocks in use, each read and asked to be read ahead.
    const uint64_t claimed = uint64_t(4) << 20, claimed_clusters = claimed * RECORD / CLUSTER;
    std::vector<bool> ends(claimed, false);
    for (uint64_t r = 0; r < 40; ++r) ends[r < 33 ? r : claimed - 40 + r] = true;
    const Case cases[] = {
        // The scan's block holds records 256-511 when the climb asks for one
        // in the block above: read once more, not in the scan's place.
        {"a climb into the block above the scan's",
         {{{256, 8}}, all_in_use(1024), 128, 1024 * RECORD * 7 / 4 + 4096, 600}},
        {"4 GiB claimed, 40 records in use",
         {{{256, 256}, {claimed_clusters - 258, 1024}, {2, 140}}, ends, claimed / 8,
          claimed / 8 + 3 * SCAN_BLOCK_BYTES}},
        {"records 300-800 free", {{{256, 8}}, stretch, 128}},
        {"table pieces stored backward, the last touching the one before",
         {{{128, 300}, {64, 100}, {64, 164}}, all_in_use(1024), 128}},
        {"bitmap a byte shorter than the table's last record needs",
         {{{258, 8}}, all_in_use(1032), 128}},
        {"bitmap shorter than the table, the top records free", {{{258, 8}}, top_free, 128}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(wrong_answers(c.table), 0);
    }
}

}  // namespace
#endif
