#include "ntfs/geometry.h"

#include <cstring>

namespace {
// Clusters above 2 MiB and records outside 512 bytes to 64 KiB are not made
// by any NTFS implementation; bounding them keeps every later product small.
constexpr uint32_t MAX_CLUSTER_BYTES = 2u << 20;
constexpr uint32_t MIN_RECORD_BYTES = 512;
constexpr uint32_t MAX_RECORD_BYTES = 64u << 10;

bool power_of_two(uint64_t value) { return value && !(value & (value - 1)); }
}  // namespace

int ntfs_parse_boot_sector(const uint8_t* sector, NtfsGeometry* geometry) {
    if (std::memcmp(sector + NTFS_BOOT_OEM_ID, "NTFS    ", 8) != 0) return 0;

    uint32_t bytes_per_sector = ntfs_le16(sector + NTFS_BOOT_BYTES_PER_SECTOR);
    if (!power_of_two(bytes_per_sector) || bytes_per_sector < 256 || bytes_per_sector > 4096)
        return 0;

    // Values above 0x80 encode 2^(256 - n) sectors per cluster.
    uint32_t spc_code = sector[NTFS_BOOT_SECTORS_PER_CLUSTER];
    uint64_t sectors_per_cluster;
    if (spc_code > 0x80) {
        uint32_t shift = 256 - spc_code;
        if (shift > 20) return 0;
        sectors_per_cluster = uint64_t(1) << shift;
    } else {
        if (!power_of_two(spc_code)) return 0;
        sectors_per_cluster = spc_code;
    }
    uint64_t cluster = sectors_per_cluster * bytes_per_sector;
    if (cluster > MAX_CLUSTER_BYTES) return 0;

    // Clusters per file record; a negative value n means 2^-n bytes.
    int8_t cpr = int8_t(sector[NTFS_BOOT_CLUSTERS_PER_RECORD]);
    uint64_t record;
    if (cpr < 0) {
        if (-cpr > 16) return 0;
        record = uint64_t(1) << -cpr;
    } else {
        record = uint64_t(uint8_t(cpr)) * cluster;
    }
    if (!power_of_two(record) || record < MIN_RECORD_BYTES || record > MAX_RECORD_BYTES) return 0;

    uint64_t sectors = ntfs_le64(sector + NTFS_BOOT_SECTORS);
    // Keeps every byte offset on the volume within a signed 64-bit value.
    if (sectors == 0 || sectors > (uint64_t(1) << 62) / bytes_per_sector) return 0;
    uint64_t total_clusters = sectors / sectors_per_cluster;
    uint64_t mft_lcn = ntfs_le64(sector + NTFS_BOOT_MFT_LCN);
    if (mft_lcn >= total_clusters || (total_clusters - mft_lcn) * cluster < record) return 0;

    geometry->serial = ntfs_le64(sector + NTFS_BOOT_SERIAL);
    geometry->sectors = sectors;
    geometry->total_clusters = total_clusters;
    geometry->mft_lcn = mft_lcn;
    geometry->mft_mirror_lcn = ntfs_le64(sector + NTFS_BOOT_MFT_MIRROR_LCN);
    geometry->bytes_per_sector = bytes_per_sector;
    geometry->bytes_per_cluster = uint32_t(cluster);
    geometry->record_size = uint32_t(record);
    return 1;
}
