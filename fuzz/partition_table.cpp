// Fuzz target: the partition table reader over a disk of hostile bytes.
// Input: the disk's length in sectors (4 bytes, little-endian), then its
// first bytes; the rest of the disk reads as zeros. Promises: every
// partition lies inside the disk, none overlaps another, each is numbered
// as the kernel numbers it, and a second reading gives the same.
#include <cerrno>
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "platform/posix/disks/partition_table.h"

namespace {

struct Disk {
    const uint8_t* bytes;
    size_t size;
};

int read_disk(void* context, uint64_t offset, void* dest, size_t length) {
    const Disk* d = static_cast<const Disk*>(context);
    uint8_t* to = static_cast<uint8_t*>(dest);
    std::memset(to, 0, length);
    if (offset < d->size) {
        const size_t have = d->size - size_t(offset);
        std::memcpy(to, d->bytes + offset, have < length ? have : length);
    }
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint64_t sectors = uint64_t(data[0]) | uint64_t(data[1]) << 8 | uint64_t(data[2]) << 16 |
                             uint64_t(data[3]) << 24;
    Disk disk{data + 4, size - 4};
    ByteSource source{&disk, sectors * 512, read_disk, nullptr};
    PartitionTable table, again;
    read_partition_table(&source, &table);
    read_partition_table(&source, &again);
    FUZZ_CHECK(table.kind == again.kind && table.faults == again.faults &&
                   table.partitions.size() == again.partitions.size(),
               "the same bytes read alike");
    FUZZ_CHECK(table.kind != TABLE_NONE || table.partitions.empty(), "no table, no partition");
    FUZZ_CHECK(table.partitions.size() <= TABLE_MOST_GPT_ENTRIES + 4 + TABLE_MOST_LOGICAL,
               "partitions bounded");
    for (size_t i = 0; i < table.partitions.size(); ++i) {
        const DiskPartition& p = table.partitions[i];
        FUZZ_CHECK(p.length > 0 && p.start <= source.length && p.length <= source.length - p.start,
                   "inside the disk");
        FUZZ_CHECK(p.start % 512 == 0 && p.length % 512 == 0, "whole sectors");
        if (table.kind == TABLE_GPT) FUZZ_CHECK(p.number >= 1 && p.number <= TABLE_MOST_GPT_ENTRIES, "GPT number");
        else FUZZ_CHECK(p.number >= 1 && p.number <= 4 + TABLE_MOST_LOGICAL, "DOS number");
        for (size_t j = 0; j < i; ++j) {
            const DiskPartition& q = table.partitions[j];
            FUZZ_CHECK(p.start >= q.start + q.length || q.start >= p.start + p.length, "no overlap");
            FUZZ_CHECK(p.number != q.number, "numbers distinct");
        }
    }
    return 0;
}
