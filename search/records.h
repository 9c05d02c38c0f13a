// Where the fields Morla reads sit in the two volume request replies and in a
// file record. All fields are little-endian; offsets are in bytes.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "record fields are read as stored; both targets are little-endian");

// Volume data reply (NTFS_VOLUME_DATA_BUFFER).
constexpr uint32_t VOLUME_DATA_SIZE = 96;
constexpr uint32_t VOLUME_DATA_RECORD_SIZE = 48;   // BytesPerFileRecordSegment, u32
constexpr uint32_t VOLUME_DATA_VALID_LENGTH = 56;  // MftValidDataLength, i64

// File record reply (NTFS_FILE_RECORD_OUTPUT_BUFFER): the bare number of the
// record returned, its length, then the record itself.
constexpr uint32_t REPLY_RECORD_NUMBER = 0;  // FileReferenceNumber, i64
constexpr uint32_t REPLY_HEADER_SIZE = 12;   // FileRecordBuffer starts here
// A record buffer holds the reply header, the record and spare bytes.
constexpr uint32_t RECORD_BUFFER_SPARE = 15;

// File record header.
constexpr uint32_t RECORD_SEQUENCE = 16;         // u16
constexpr uint32_t RECORD_FIRST_ATTRIBUTE = 20;  // u16

// Attribute header (resident form).
constexpr uint32_t ATTRIBUTE_TYPE = 0;          // u32
constexpr uint32_t ATTRIBUTE_LENGTH = 4;        // u32, distance to the next attribute
constexpr uint32_t ATTRIBUTE_VALUE_LENGTH = 16; // u32, bytes in the value
constexpr uint32_t ATTRIBUTE_VALUE_OFFSET = 20; // u16, from the attribute's start
constexpr uint32_t ATTRIBUTE_RESIDENT_HEADER = 24;
constexpr uint32_t ATTRIBUTE_TYPE_FILE_NAME = 0x30;
constexpr uint32_t ATTRIBUTE_TYPE_END = 0xFFFFFFFF;

// File name value.
constexpr uint32_t NAME_PARENT = 0;       // u64 file reference
constexpr uint32_t NAME_LENGTH = 64;      // u8, in UTF-16 units
constexpr uint32_t NAME_SPACE = 65;       // u8
constexpr uint32_t NAME_UNITS = 66;       // UTF-16LE, not terminated
constexpr uint8_t NAME_SPACE_DOS = 2;     // the short 8.3 form, never searched

// File references: record number in the low 48 bits, sequence number above.
constexpr uint64_t REFERENCE_NUMBER_MASK = 0xFFFFFFFFFFFF;
constexpr uint32_t REFERENCE_SEQUENCE_SHIFT = 48;
constexpr uint64_t ROOT_RECORD = 5;

// Fields may sit at any byte offset in a damaged record, so they are copied
// out rather than read through a cast pointer.
inline uint8_t field_u8(const uint8_t* at) { return *at; }
inline uint16_t field_u16(const uint8_t* at) {
    uint16_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
}
inline uint32_t field_u32(const uint8_t* at) {
    uint32_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
}
inline uint64_t field_u64(const uint8_t* at) {
    uint64_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
}
