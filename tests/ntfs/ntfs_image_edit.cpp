#ifndef _WIN32
#include "tests/ntfs/ntfs_image_edit.h"

#include <fstream>
#include <iterator>

#include "ntfs/layout.h"

std::string read_file(const std::string& path) {
    // One read: a byte at a time takes a minute for a 1 GiB sample.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return std::string();
    std::string bytes(size_t(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), std::streamsize(bytes.size()));
    return bytes;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

uint64_t get_le(const std::string& bytes, size_t at, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = v << 8 | (unsigned char)bytes.at(at + size_t(i));
    return v;
}

void put_le(std::string& bytes, size_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.at(at + size_t(i)) = char(value >> (8 * i));
}

// Two bytes of a record copied within it (string::replace of a string by
// itself makes an optimising GCC 12 warn of a bound it cannot have).
void copy_pair(std::string& record, size_t to, size_t from) {
    record.at(to) = record.at(from);
    record.at(to + 1) = record.at(from + 1);
}

bool apply_fixups(std::string& record) {
    if (record.compare(NTFS_RECORD_SIGNATURE, 4, "FILE") != 0) return false;
    size_t usa = get_le(record, NTFS_RECORD_USA_OFFSET, 2);
    size_t count = get_le(record, NTFS_RECORD_USA_COUNT, 2);
    for (size_t i = 1; i < count; ++i) {
        size_t tail = i * NTFS_FIXUP_STRIDE - 2;
        if (record.compare(tail, 2, record, usa, 2) != 0) return false;
        copy_pair(record, tail, usa + 2 * i);
    }
    return true;
}

void protect_record(std::string& record) {
    size_t usa = get_le(record, NTFS_RECORD_USA_OFFSET, 2);
    size_t count = get_le(record, NTFS_RECORD_USA_COUNT, 2);
    for (size_t i = 1; i < count; ++i) {
        size_t tail = i * NTFS_FIXUP_STRIDE - 2;
        copy_pair(record, usa + 2 * i, tail);
        copy_pair(record, tail, usa);
    }
}

BootFields boot_fields(const std::string& image) {
    BootFields f;
    uint64_t spc = (unsigned char)image[NTFS_BOOT_SECTORS_PER_CLUSTER];
    if (spc > 0x80) spc = uint64_t(1) << (256 - spc);
    f.cluster = uint32_t(get_le(image, NTFS_BOOT_BYTES_PER_SECTOR, 2) * spc);
    int8_t cpr = int8_t(image[NTFS_BOOT_CLUSTERS_PER_RECORD]);
    f.record_size = cpr < 0 ? 1u << -cpr : uint32_t(cpr) * f.cluster;
    f.mft_lcn = get_le(image, NTFS_BOOT_MFT_LCN, 8);
    f.mirror_lcn = get_le(image, NTFS_BOOT_MFT_MIRROR_LCN, 8);
    return f;
}

std::vector<size_t> attribute_offsets(const std::string& record) {
    std::vector<size_t> offsets;
    size_t at = get_le(record, NTFS_RECORD_FIRST_ATTRIBUTE, 2);
    while (at + 8 <= record.size() &&
           get_le(record, at + NTFS_ATTRIBUTE_TYPE, 4) != NTFS_TYPE_END) {
        offsets.push_back(at);
        size_t length = get_le(record, at + NTFS_ATTRIBUTE_LENGTH, 4);
        if (length == 0) break;
        at += length;
    }
    return offsets;
}

std::vector<Run> decode_runs(const std::string& attribute) {
    std::vector<Run> runs;
    size_t at = get_le(attribute, NTFS_NONRESIDENT_RUNS_OFFSET, 2);
    int64_t lcn = 0;
    while (at < attribute.size() && attribute[at] != 0) {
        int length_bytes = attribute[at] & 0x0F, delta_bytes = (attribute[at] >> 4) & 0x0F;
        uint64_t clusters = get_le(attribute, at + 1, length_bytes);
        uint64_t raw = get_le(attribute, at + 1 + size_t(length_bytes), delta_bytes);
        if (delta_bytes < 8 && (raw >> (8 * delta_bytes - 1)) & 1) raw |= ~uint64_t(0) << (8 * delta_bytes);
        lcn += int64_t(raw);
        runs.push_back({clusters, uint64_t(lcn)});
        at += 1 + size_t(length_bytes + delta_bytes);
    }
    return runs;
}

namespace {
// Bytes needed for a signed value.
int signed_width(int64_t v) {
    int n = 1;
    while (n < 8 && (v < -(int64_t(1) << (8 * n - 1)) || v >= (int64_t(1) << (8 * n - 1)))) ++n;
    return n;
}
}  // namespace

std::string encode_runs(const std::vector<Run>& runs) {
    std::string out;
    int64_t previous = 0;
    for (const Run& run : runs) {
        int length_bytes = signed_width(int64_t(run.clusters));
        int64_t delta = int64_t(run.lcn) - previous;
        int delta_bytes = signed_width(delta);
        out += char(length_bytes | delta_bytes << 4);
        for (int i = 0; i < length_bytes; ++i) out += char(run.clusters >> (8 * i));
        for (int i = 0; i < delta_bytes; ++i) out += char(uint64_t(delta) >> (8 * i));
        previous = int64_t(run.lcn);
    }
    out += '\0';
    return out;
}

std::string non_resident_attribute(uint32_t type, uint64_t last_vcn, const std::vector<Run>& runs,
                                   uint64_t data_bytes, uint32_t cluster) {
    std::string attribute(NTFS_NONRESIDENT_HEADER_BYTES, '\0');
    put_le(attribute, NTFS_ATTRIBUTE_TYPE, type, 4);
    attribute[NTFS_ATTRIBUTE_NON_RESIDENT] = 1;
    put_le(attribute, NTFS_NONRESIDENT_LAST_VCN, last_vcn, 8);
    put_le(attribute, NTFS_NONRESIDENT_RUNS_OFFSET, NTFS_NONRESIDENT_HEADER_BYTES, 2);
    put_le(attribute, NTFS_NONRESIDENT_ALLOCATED_SIZE, (last_vcn + 1) * cluster, 8);
    put_le(attribute, NTFS_NONRESIDENT_DATA_SIZE, data_bytes, 8);
    put_le(attribute, NTFS_NONRESIDENT_VALID_SIZE, data_bytes, 8);
    attribute += encode_runs(runs);
    attribute.resize((attribute.size() + 7) / 8 * 8, '\0');
    put_le(attribute, NTFS_ATTRIBUTE_LENGTH, attribute.size(), 4);
    return attribute;
}
#endif
