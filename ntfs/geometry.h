// The volume geometry an NTFS boot sector gives.
#pragma once

#include <cstdint>

#include "ntfs/layout.h"

struct NtfsGeometry {
    uint64_t serial;
    uint64_t sectors;         // in the volume, as the boot sector counts them
    uint64_t total_clusters;
    uint64_t mft_lcn;         // first cluster of $MFT
    uint64_t mft_mirror_lcn;  // first cluster of $MFTMirr
    uint32_t bytes_per_sector;
    uint32_t bytes_per_cluster;
    uint32_t record_size;     // bytes in one file record
};

// Reads the geometry from the volume's first NTFS_BOOT_SECTOR_BYTES. Returns 0 when they
// are not an NTFS boot sector or their numbers describe no usable volume.
int ntfs_parse_boot_sector(const uint8_t* sector, NtfsGeometry* geometry);
