#include "platform/posix/disks/partition_table.h"

#include <cstring>

namespace {

constexpr uint64_t kSector = 512;
constexpr uint32_t kGptEntryBytesMost = 4096;

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t(le16(p)) | uint32_t(le16(p + 2)) << 16; }
uint64_t le64(const uint8_t* p) { return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32; }

uint32_t crc32(const uint8_t* bytes, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

bool read_sector(const ByteSource* disk, uint64_t lba, uint8_t* sector) {
    if (lba > disk->length / kSector) return false;
    return source_read(disk, lba * kSector, sector, kSector);
}

// Keeps a partition that lies inside the disk and overlaps none kept before.
void add_partition(const ByteSource* disk, PartitionTable* table, uint32_t number,
                   uint64_t first_lba, uint64_t sectors) {
    if (!sectors) return;
    const uint64_t most = disk->length / kSector;
    if (first_lba > most || sectors > most - first_lba) {
        table->faults |= TABLE_PAST_END;
        return;
    }
    const uint64_t start = first_lba * kSector, length = sectors * kSector;
    for (const DiskPartition& kept : table->partitions) {
        if (start < kept.start + kept.length && kept.start < start + length) {
            table->faults |= TABLE_OVERLAP;
            return;
        }
    }
    table->partitions.push_back(DiskPartition{number, start, length});
}

bool extended_type(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// Slots hold a status byte of 0x00 or 0x80; anything else is a boot sector's
// code, not a table.
bool dos_table(const uint8_t* mbr) {
    if (mbr[510] != 0x55 || mbr[511] != 0xAA) return false;
    bool any = false;
    for (int slot = 0; slot < 4; ++slot) {
        const uint8_t* entry = mbr + 446 + 16 * slot;
        if (entry[0] != 0x00 && entry[0] != 0x80) return false;
        any = any || entry[4] != 0;
    }
    return any;
}

// The extended chain: each link's first slot is a logical partition (from
// the link), its second the next link (from the extended partition's start).
void read_logical(const ByteSource* disk, PartitionTable* table, uint64_t extended_lba) {
    uint8_t sector[kSector];
    std::vector<uint64_t> seen;
    uint64_t link = extended_lba;
    uint32_t number = 5;
    while (true) {
        for (uint64_t earlier : seen) {
            if (earlier == link) {
                table->faults |= TABLE_EXTENDED_LOOP;
                return;
            }
        }
        if (seen.size() >= TABLE_MOST_LOGICAL) {
            table->faults |= TABLE_EXTENDED_LOOP;
            return;
        }
        seen.push_back(link);
        if (!read_sector(disk, link, sector)) {
            table->faults |= TABLE_PAST_END;
            return;
        }
        if (sector[510] != 0x55 || sector[511] != 0xAA) return;
        const uint8_t* logical = sector + 446;
        const uint8_t* next = sector + 462;
        if (logical[4] && !extended_type(logical[4]))
            add_partition(disk, table, number++, link + le32(logical + 8), le32(logical + 12));
        if (!next[4] || !extended_type(next[4])) return;
        link = extended_lba + le32(next + 8);
    }
}

void read_dos(const ByteSource* disk, const uint8_t* mbr, PartitionTable* table) {
    table->kind = TABLE_DOS;
    uint64_t extended = 0;
    for (uint32_t slot = 0; slot < 4; ++slot) {
        const uint8_t* entry = mbr + 446 + 16 * slot;
        if (!entry[4]) continue;
        if (extended_type(entry[4])) {
            if (!extended) extended = le32(entry + 8);
            continue;
        }
        add_partition(disk, table, slot + 1, le32(entry + 8), le32(entry + 12));
    }
    if (extended) read_logical(disk, table, extended);
}

// One GPT header and its entries; false when either does not check.
bool read_gpt_at(const ByteSource* disk, uint64_t lba, PartitionTable* table) {
    uint8_t header[kSector];
    if (!read_sector(disk, lba, header) || std::memcmp(header, "EFI PART", 8) != 0) return false;
    const uint32_t header_bytes = le32(header + 12);
    if (header_bytes < 92 || header_bytes > kSector) return false;
    const uint32_t stored = le32(header + 16);
    std::memset(header + 16, 0, 4);
    if (crc32(header, header_bytes) != stored || le64(header + 24) != lba) return false;
    const uint64_t entries_lba = le64(header + 72);
    const uint32_t count = le32(header + 80), entry_bytes = le32(header + 84);
    if (entry_bytes < 128 || entry_bytes > kGptEntryBytesMost || entry_bytes % 8) return false;
    if (count > TABLE_MOST_GPT_ENTRIES) {
        table->faults |= TABLE_GPT_ENTRIES;
        return false;
    }
    const uint64_t bytes = uint64_t(count) * entry_bytes;
    const uint64_t most = disk->length / kSector;
    if (entries_lba > most || (bytes + kSector - 1) / kSector > most - entries_lba) return false;
    std::vector<uint8_t> entries(static_cast<size_t>(bytes));
    if (bytes && !source_read(disk, entries_lba * kSector, entries.data(), bytes)) return false;
    if (crc32(entries.data(), size_t(bytes)) != le32(header + 88)) return false;
    table->partitions.clear();
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = entries.data() + uint64_t(i) * entry_bytes;
        static const uint8_t kUnused[16] = {};
        if (std::memcmp(entry, kUnused, 16) == 0) continue;
        const uint64_t first = le64(entry + 32), last = le64(entry + 40);
        if (last < first) {
            table->faults |= TABLE_PAST_END;
            continue;
        }
        add_partition(disk, table, i + 1, first, last - first + 1);
    }
    return true;
}

// The primary header after the protective MBR; when it does not check, the
// backup in the disk's last sector, as the kernel takes it.
void read_gpt(const ByteSource* disk, PartitionTable* table) {
    table->kind = TABLE_GPT;
    if (read_gpt_at(disk, 1, table)) return;
    const uint32_t too_many = table->faults & TABLE_GPT_ENTRIES;
    if (!too_many) table->faults |= TABLE_GPT_HEADER;
    const uint64_t last = disk->length / kSector;
    if (last >= 2 && !too_many) read_gpt_at(disk, last - 1, table);
}

}  // namespace

void read_partition_table(const ByteSource* disk, PartitionTable* table) {
    table->kind = TABLE_NONE;
    table->faults = 0;
    table->partitions.clear();
    uint8_t mbr[kSector];
    if (disk->length < 2 * kSector || !source_read(disk, 0, mbr, kSector) || !dos_table(mbr))
        return;
    bool protective = false;
    for (int slot = 0; slot < 4; ++slot) protective = protective || mbr[446 + 16 * slot + 4] == 0xEE;
    if (protective) read_gpt(disk, table);
    else read_dos(disk, mbr, table);
}

const char16_t* partition_fault_words(uint32_t fault) {
    switch (fault) {
    case TABLE_PAST_END: return u"a partition reaches past the end of the disk";
    case TABLE_OVERLAP: return u"partitions overlap";
    case TABLE_EXTENDED_LOOP: return u"the extended partitions form a loop";
    case TABLE_GPT_HEADER: return u"the GPT header does not check";
    case TABLE_GPT_ENTRIES: return u"too many GPT entries";
    default: return u"the partition table cannot be read";
    }
}
