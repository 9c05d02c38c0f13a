// A disk's partition table, DOS (primary slots, the extended chain's logical
// partitions) or GPT, read from the disk's bytes with bounds of Morla's own:
// the table is as hostile as the volumes it points at. Stands in for the
// system's disk management on Linux; knows no operating system.
#pragma once

#include <cstdint>
#include <vector>

#include "ntfs/byte_source.h"

// Numbered as the kernel numbers them: the GPT entry's index from 1; DOS
// primary slots 1-4, logical partitions from 5 in the chain's order.
struct DiskPartition {
    uint32_t number;
    uint64_t start;   // bytes from the disk's start
    uint64_t length;  // bytes
};

// What was wrong with a table whose other partitions are still read.
enum : uint32_t {
    TABLE_PAST_END = 1u << 0,        // a partition reaches past the disk's end
    TABLE_OVERLAP = 1u << 1,         // a partition overlaps an earlier one
    TABLE_EXTENDED_LOOP = 1u << 2,   // the extended chain points back or runs on
    TABLE_GPT_HEADER = 1u << 3,      // the GPT header (or its entries) does not check
    TABLE_GPT_ENTRIES = 1u << 4,     // more GPT entries than Morla reads
    TABLE_UNREADABLE = 1u << 5,      // the disk failed a read of the table
};

enum : int { TABLE_NONE = 0, TABLE_DOS = 1, TABLE_GPT = 2 };

struct PartitionTable {
    int kind;                            // TABLE_NONE: the bytes hold no table
    uint32_t faults;                     // TABLE_ bits
    std::vector<DiskPartition> partitions;  // data partitions, in the table's order
};

// The most GPT entries read, and logical partitions followed.
enum : uint32_t { TABLE_MOST_GPT_ENTRIES = 1024, TABLE_MOST_LOGICAL = 256 };

// Reads the table; a disk without one gives TABLE_NONE. Partitions that
// reach past the end, or overlap one listed before, are left out (their
// fault noted). Extended partitions themselves are not listed.
void read_partition_table(const ByteSource* disk, PartitionTable* table);

// The few words that tell a fault (one TABLE_ bit).
const char16_t* partition_fault_words(uint32_t fault);
