// Where every field Morla reads or writes sits, on an NTFS volume and in the
// replies of the two volume requests: one place for the reader (ntfs/), the
// search that reads the replies (search/, which includes nothing else of
// ntfs/), the Windows build's ties to the system's own structures and the
// tests' image editors.
//
// Each layout is a structure in the order of the bytes, packed so that the
// compiler counts the offsets; the names below are those offsets, and the
// static_asserts pin sizes and offsets to the documented numbers. The
// structures are never laid over bytes: fields are copied out with the
// little-endian reader at the end, since they may sit at any byte of a
// damaged record.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// ---- Boot sector: the volume's first 512 bytes ------------------------------------
struct [[gnu::packed]] NtfsBootSector {
    uint8_t jump[3];
    char oem_id[8];               // "NTFS    "
    uint16_t bytes_per_sector;
    uint8_t sectors_per_cluster;  // above 0x80: 2^(256 - value)
    uint8_t unused_bpb[26];
    uint64_t sectors;             // in the volume
    uint64_t mft_lcn;             // first cluster of $MFT
    uint64_t mft_mirror_lcn;      // first cluster of $MFTMirr
    int8_t clusters_per_record;   // negative n: 2^-n bytes
    uint8_t unused_index[7];
    uint64_t serial;
    uint8_t boot_code[430];
    uint16_t end_marker;          // 0xAA55
};
static_assert(sizeof(NtfsBootSector) == 512);
static_assert(offsetof(NtfsBootSector, bytes_per_sector) == 0x0B);
static_assert(offsetof(NtfsBootSector, sectors) == 0x28);
static_assert(offsetof(NtfsBootSector, clusters_per_record) == 0x40);
static_assert(offsetof(NtfsBootSector, serial) == 0x48);

enum : uint32_t {
    NTFS_BOOT_SECTOR_BYTES = sizeof(NtfsBootSector),
    NTFS_BOOT_OEM_ID = offsetof(NtfsBootSector, oem_id),
    NTFS_BOOT_BYTES_PER_SECTOR = offsetof(NtfsBootSector, bytes_per_sector),
    NTFS_BOOT_SECTORS_PER_CLUSTER = offsetof(NtfsBootSector, sectors_per_cluster),
    NTFS_BOOT_SECTORS = offsetof(NtfsBootSector, sectors),
    NTFS_BOOT_MFT_LCN = offsetof(NtfsBootSector, mft_lcn),
    NTFS_BOOT_MFT_MIRROR_LCN = offsetof(NtfsBootSector, mft_mirror_lcn),
    NTFS_BOOT_CLUSTERS_PER_RECORD = offsetof(NtfsBootSector, clusters_per_record),
    NTFS_BOOT_SERIAL = offsetof(NtfsBootSector, serial),
};

// ---- File record header (record n at byte n x record size of $MFT's data) ---------
struct [[gnu::packed]] NtfsRecordHeader {
    char signature[4];          // "FILE"; "BAAD" for a record the driver found torn
    uint16_t usa_offset;        // update sequence array
    uint16_t usa_count;         // 1 + the record's 512-byte strides
    uint64_t log_sequence;
    uint16_t sequence;          // bumped each time the record is reused
    uint16_t links;
    uint16_t first_attribute;
    uint16_t flags;             // NTFS_RECORD_IN_USE, ...
    uint32_t bytes_in_use;
    uint32_t bytes_allocated;
    uint64_t base_record;       // 0 for a base record; an extension's base
    uint16_t next_attribute_id;
    uint16_t unused;
    uint32_t number;            // this record's own number
};
static_assert(sizeof(NtfsRecordHeader) == 48);
static_assert(offsetof(NtfsRecordHeader, sequence) == 0x10);
static_assert(offsetof(NtfsRecordHeader, first_attribute) == 0x14);
static_assert(offsetof(NtfsRecordHeader, base_record) == 0x20);
static_assert(offsetof(NtfsRecordHeader, number) == 0x2C);

enum : uint32_t {
    NTFS_RECORD_HEADER_BYTES = sizeof(NtfsRecordHeader),
    NTFS_RECORD_SIGNATURE = offsetof(NtfsRecordHeader, signature),
    NTFS_RECORD_USA_OFFSET = offsetof(NtfsRecordHeader, usa_offset),
    NTFS_RECORD_USA_COUNT = offsetof(NtfsRecordHeader, usa_count),
    NTFS_RECORD_SEQUENCE = offsetof(NtfsRecordHeader, sequence),
    NTFS_RECORD_LINKS = offsetof(NtfsRecordHeader, links),
    NTFS_RECORD_FIRST_ATTRIBUTE = offsetof(NtfsRecordHeader, first_attribute),
    NTFS_RECORD_FLAGS = offsetof(NtfsRecordHeader, flags),
    NTFS_RECORD_BYTES_IN_USE = offsetof(NtfsRecordHeader, bytes_in_use),
    NTFS_RECORD_BYTES_ALLOCATED = offsetof(NtfsRecordHeader, bytes_allocated),
    NTFS_RECORD_BASE = offsetof(NtfsRecordHeader, base_record),
    NTFS_RECORD_NEXT_ATTRIBUTE_ID = offsetof(NtfsRecordHeader, next_attribute_id),
    NTFS_RECORD_NUMBER = offsetof(NtfsRecordHeader, number),
    NTFS_RECORD_IN_USE = 0x01,  // a flag
    // The last two bytes of every stride of this size hold the update
    // sequence number on disk; the array keeps what belongs there.
    NTFS_FIXUP_STRIDE = 512,
};

// ---- Attribute header ---------------------------------------------------------------
struct [[gnu::packed]] NtfsAttributeHeader {
    uint32_t type;         // NTFS_TYPE_...
    uint32_t length;       // to the next attribute
    uint8_t non_resident;
    uint8_t name_length;   // in UTF-16 units
    uint16_t name_offset;
    uint16_t flags;
    uint16_t id;
};
struct [[gnu::packed]] NtfsResidentHeader {
    NtfsAttributeHeader common;
    uint32_t value_length;
    uint16_t value_offset;  // from the attribute's start
    uint8_t indexed;
    uint8_t unused;
};
struct [[gnu::packed]] NtfsNonResidentHeader {
    NtfsAttributeHeader common;
    uint64_t first_vcn;        // of this piece of runs
    uint64_t last_vcn;
    uint16_t runs_offset;      // the mapping pairs, from the attribute's start
    uint16_t compression_unit;
    uint8_t unused[4];
    // Meaningful only in the piece whose first VCN is 0.
    uint64_t allocated_size;
    uint64_t data_size;
    uint64_t valid_size;       // bytes above it read as zeros
};
static_assert(sizeof(NtfsAttributeHeader) == 16);
static_assert(sizeof(NtfsResidentHeader) == 24);
static_assert(offsetof(NtfsResidentHeader, value_offset) == 0x14);
static_assert(sizeof(NtfsNonResidentHeader) == 64);
static_assert(offsetof(NtfsNonResidentHeader, runs_offset) == 0x20);
static_assert(offsetof(NtfsNonResidentHeader, data_size) == 0x30);

enum : uint32_t {
    NTFS_ATTRIBUTE_TYPE = offsetof(NtfsAttributeHeader, type),
    NTFS_ATTRIBUTE_LENGTH = offsetof(NtfsAttributeHeader, length),
    NTFS_ATTRIBUTE_NON_RESIDENT = offsetof(NtfsAttributeHeader, non_resident),
    NTFS_ATTRIBUTE_NAME_LENGTH = offsetof(NtfsAttributeHeader, name_length),
    NTFS_ATTRIBUTE_NAME_OFFSET = offsetof(NtfsAttributeHeader, name_offset),
    NTFS_ATTRIBUTE_ID = offsetof(NtfsAttributeHeader, id),
    NTFS_RESIDENT_HEADER_BYTES = sizeof(NtfsResidentHeader),
    NTFS_RESIDENT_VALUE_LENGTH = offsetof(NtfsResidentHeader, value_length),
    NTFS_RESIDENT_VALUE_OFFSET = offsetof(NtfsResidentHeader, value_offset),
    NTFS_NONRESIDENT_HEADER_BYTES = sizeof(NtfsNonResidentHeader),
    NTFS_NONRESIDENT_FIRST_VCN = offsetof(NtfsNonResidentHeader, first_vcn),
    NTFS_NONRESIDENT_LAST_VCN = offsetof(NtfsNonResidentHeader, last_vcn),
    NTFS_NONRESIDENT_RUNS_OFFSET = offsetof(NtfsNonResidentHeader, runs_offset),
    NTFS_NONRESIDENT_ALLOCATED_SIZE = offsetof(NtfsNonResidentHeader, allocated_size),
    NTFS_NONRESIDENT_DATA_SIZE = offsetof(NtfsNonResidentHeader, data_size),
    NTFS_NONRESIDENT_VALID_SIZE = offsetof(NtfsNonResidentHeader, valid_size),
};

// Attribute types.
enum : uint32_t {
    NTFS_TYPE_STANDARD_INFORMATION = 0x10,
    NTFS_TYPE_ATTRIBUTE_LIST = 0x20,
    NTFS_TYPE_FILE_NAME = 0x30,
    NTFS_TYPE_DATA = 0x80,
    NTFS_TYPE_BITMAP = 0xB0,
    NTFS_TYPE_END = 0xFFFFFFFF,  // ends the record's attributes
};

// Mapping pairs (data runs): a header byte whose low nibble counts the bytes
// of the run's length and whose high nibble those of its cluster offset
// from the previous run (signed; none for a hole); a header of 0 ends them.

// ---- File name value (type 0x30, always resident) ------------------------------------
struct [[gnu::packed]] NtfsFileName {
    uint64_t parent;        // file reference of the directory
    uint64_t times[4];
    uint64_t allocated_size;
    uint64_t data_size;
    uint32_t flags;
    uint32_t reparse;
    uint8_t name_length;    // in UTF-16 units
    uint8_t name_space;     // NTFS_NAME_SPACE_...
    // The name's UTF-16LE units follow, not terminated.
};
static_assert(sizeof(NtfsFileName) == 66);
static_assert(offsetof(NtfsFileName, name_length) == 0x40);

enum : uint32_t {
    NTFS_NAME_PARENT = offsetof(NtfsFileName, parent),
    NTFS_NAME_LENGTH = offsetof(NtfsFileName, name_length),
    NTFS_NAME_SPACE = offsetof(NtfsFileName, name_space),
    NTFS_NAME_UNITS = sizeof(NtfsFileName),
    NTFS_NAME_SPACE_POSIX = 0,
    NTFS_NAME_SPACE_WIN32 = 1,
    NTFS_NAME_SPACE_DOS = 2,  // the short 8.3 form, never searched
    NTFS_NAME_SPACE_WIN32_AND_DOS = 3,
};

// ---- Attribute list entry (type 0x20) ----------------------------------------------
struct [[gnu::packed]] NtfsListEntry {
    uint32_t type;
    uint16_t length;
    uint8_t name_length;
    uint8_t name_offset;
    uint64_t first_vcn;  // of the piece the entry names
    uint64_t holder;     // file reference of the record that holds it
    uint16_t id;
};
static_assert(sizeof(NtfsListEntry) == 26);
static_assert(offsetof(NtfsListEntry, holder) == 0x10);

enum : uint32_t {
    NTFS_LIST_ENTRY_MIN_BYTES = sizeof(NtfsListEntry),
    NTFS_LIST_TYPE = offsetof(NtfsListEntry, type),
    NTFS_LIST_LENGTH = offsetof(NtfsListEntry, length),
    NTFS_LIST_NAME_LENGTH = offsetof(NtfsListEntry, name_length),
    NTFS_LIST_NAME_OFFSET = offsetof(NtfsListEntry, name_offset),
    NTFS_LIST_FIRST_VCN = offsetof(NtfsListEntry, first_vcn),
    NTFS_LIST_HOLDER = offsetof(NtfsListEntry, holder),
    NTFS_LIST_ID = offsetof(NtfsListEntry, id),
};

// ---- File references: record number below, sequence number above -----------------
constexpr uint64_t NTFS_RECORD_NUMBER_MASK = 0xFFFFFFFFFFFF;
constexpr uint32_t NTFS_SEQUENCE_SHIFT = 48;
static_assert(NTFS_RECORD_NUMBER_MASK == (uint64_t(1) << NTFS_SEQUENCE_SHIFT) - 1);
constexpr uint64_t NTFS_ROOT_RECORD = 5;

// ---- Volume data reply (NTFS_VOLUME_DATA_BUFFER) -----------------------------------
struct NtfsVolumeData {
    uint64_t serial;
    uint64_t sectors;
    uint64_t total_clusters;
    uint64_t free_clusters;
    uint64_t reserved_clusters;
    uint32_t bytes_per_sector;
    uint32_t bytes_per_cluster;
    uint32_t record_size;            // BytesPerFileRecordSegment
    uint32_t clusters_per_record;
    uint64_t mft_valid_length;       // MftValidDataLength
    uint64_t mft_lcn;
    uint64_t mft_mirror_lcn;
    uint64_t mft_zone_start;
    uint64_t mft_zone_end;
};
static_assert(sizeof(NtfsVolumeData) == 96);
static_assert(offsetof(NtfsVolumeData, record_size) == 48);
static_assert(offsetof(NtfsVolumeData, mft_valid_length) == 56);

enum : uint32_t {
    NTFS_VOLUME_DATA_BYTES = sizeof(NtfsVolumeData),
    NTFS_VOLUME_DATA_SERIAL = offsetof(NtfsVolumeData, serial),
    NTFS_VOLUME_DATA_SECTORS = offsetof(NtfsVolumeData, sectors),
    NTFS_VOLUME_DATA_TOTAL_CLUSTERS = offsetof(NtfsVolumeData, total_clusters),
    NTFS_VOLUME_DATA_FREE_CLUSTERS = offsetof(NtfsVolumeData, free_clusters),
    NTFS_VOLUME_DATA_RESERVED_CLUSTERS = offsetof(NtfsVolumeData, reserved_clusters),
    NTFS_VOLUME_DATA_BYTES_PER_SECTOR = offsetof(NtfsVolumeData, bytes_per_sector),
    NTFS_VOLUME_DATA_BYTES_PER_CLUSTER = offsetof(NtfsVolumeData, bytes_per_cluster),
    NTFS_VOLUME_DATA_RECORD_SIZE = offsetof(NtfsVolumeData, record_size),
    NTFS_VOLUME_DATA_CLUSTERS_PER_RECORD = offsetof(NtfsVolumeData, clusters_per_record),
    NTFS_VOLUME_DATA_MFT_VALID_LENGTH = offsetof(NtfsVolumeData, mft_valid_length),
    NTFS_VOLUME_DATA_MFT_LCN = offsetof(NtfsVolumeData, mft_lcn),
    NTFS_VOLUME_DATA_MFT_MIRROR_LCN = offsetof(NtfsVolumeData, mft_mirror_lcn),
    NTFS_VOLUME_DATA_MFT_ZONE_START = offsetof(NtfsVolumeData, mft_zone_start),
    NTFS_VOLUME_DATA_MFT_ZONE_END = offsetof(NtfsVolumeData, mft_zone_end),
};

// ---- File record request and reply (NTFS_FILE_RECORD_INPUT/OUTPUT_BUFFER) ----------
// The request is the 8-byte number asked for; the reply is the bare number
// of the record returned, its length, then the record itself.
struct NtfsRecordReply {
    uint64_t number;
    uint32_t length;
    uint8_t record[4];  // the record's bytes start here
};
static_assert(offsetof(NtfsRecordReply, record) == 12);

enum : uint32_t {
    NTFS_REQUEST_BYTES = sizeof(uint64_t),
    NTFS_REPLY_NUMBER = offsetof(NtfsRecordReply, number),
    NTFS_REPLY_LENGTH = offsetof(NtfsRecordReply, length),
    NTFS_REPLY_RECORD = offsetof(NtfsRecordReply, record),
    NTFS_REPLY_HEADER_BYTES = NTFS_REPLY_RECORD,
};

// ---- Little-endian fields ------------------------------------------------------------
// Copied out, so any alignment is fine; one load on a little-endian host.
template <typename Value>
inline Value ntfs_le(const uint8_t* at) {
    Value value = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&value, at, sizeof value);
    } else {
        for (size_t i = sizeof value; i-- > 0;) value = Value(value << 8 | at[i]);
    }
    return value;
}
inline uint16_t ntfs_le16(const uint8_t* at) { return ntfs_le<uint16_t>(at); }
inline uint32_t ntfs_le32(const uint8_t* at) { return ntfs_le<uint32_t>(at); }
inline uint64_t ntfs_le64(const uint8_t* at) { return ntfs_le<uint64_t>(at); }

template <typename Value>
inline void ntfs_put_le(uint8_t* at, Value value) {
    if constexpr (std::endian::native == std::endian::big) {
        for (size_t i = 0; i < sizeof value; ++i) at[i] = uint8_t(value >> (8 * i));
    } else {
        std::memcpy(at, &value, sizeof value);
    }
}
inline void ntfs_put_le32(uint8_t* at, uint32_t value) { ntfs_put_le(at, value); }
inline void ntfs_put_le64(uint8_t* at, uint64_t value) { ntfs_put_le(at, value); }
