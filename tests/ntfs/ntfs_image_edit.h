// Raw bytes of NTFS images, for tests that damage or rearrange a volume no
// real tool would make: little-endian fields, record fix-ups both ways,
// attribute headers and run lists. Linux only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

uint64_t get_le(const std::string& bytes, size_t at, int width);
void put_le(std::string& bytes, size_t at, uint64_t value, int width);

// Checks the signature and the update sequence and restores the sector
// tails; false for a torn or foreign record.
bool apply_fixups(std::string& record);
// The reverse, before writing a record back: tails saved into the array,
// the update sequence number written over them.
void protect_record(std::string& record);

struct BootFields {
    uint32_t cluster;
    uint32_t record_size;
    uint64_t mft_lcn;
    uint64_t mirror_lcn;
};
BootFields boot_fields(const std::string& image);

// Offsets of the attribute headers of a fixed record, up to the end marker.
std::vector<size_t> attribute_offsets(const std::string& record);

struct Run {
    uint64_t clusters;
    uint64_t lcn;
};
// The runs of a non-resident attribute (no sparse runs expected).
std::vector<Run> decode_runs(const std::string& attribute);
// Mapping pairs for these runs, the terminating 0 included.
std::string encode_runs(const std::vector<Run>& runs);
// An unnamed non-resident attribute of this type: one piece, VCN 0 to
// last_vcn, holding these runs; allocated as far as last_vcn, data and
// valid size data_bytes.
std::string non_resident_attribute(uint32_t type, uint64_t last_vcn, const std::vector<Run>& runs,
                                   uint64_t data_bytes, uint32_t cluster);
