// The boot sector's bounds from both sides: the largest sector, cluster and
// record sizes NTFS makes must be accepted (a volume refused here prints
// nothing and exits 0), the next ones refused.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>

#include "ntfs/geometry.h"
#include "tests/ntfs/ntfs_image_edit.h"

namespace {

TEST(BootSector, LargestSizesAreAcceptedAndTheNextRefused) {
    struct Case {
        const char* what;
        uint64_t bytes_per_sector;
        uint8_t sectors_per_cluster;
        uint8_t clusters_per_record;
        uint32_t cluster, record;  // 0: refused
        uint64_t sectors = 1 << 20, mft_lcn = 4;
    };
    const Case cases[] = {
        {"512-byte sectors, 4 KiB clusters", 512, 8, 0xF6, 4096, 1024},
        {"4096-byte sectors", 4096, 1, 0xF6, 4096, 1024},
        {"8192-byte sectors", 8192, 1, 0xF6, 0, 0},
        {"64 KiB clusters, the largest counted plainly", 512, 0x80, 0xF6, 65536, 1024},
        {"128 KiB clusters, counted as a power", 512, 0xF8, 0xF6, 128 << 10, 1024},
        {"2 MiB clusters", 512, 0xF4, 0xF6, 2 << 20, 1024},
        {"2 MiB clusters of 4096-byte sectors", 4096, 0xF7, 0xF6, 2 << 20, 1024},
        {"4 MiB clusters", 512, 0xF3, 0xF6, 0, 0},
        {"64 KiB records", 512, 8, 0xF0, 4096, 64 << 10},
        {"128 KiB records", 512, 8, 0xEF, 0, 0},
        {"records of one 4 KiB cluster", 512, 8, 1, 4096, 4096},
        {"512-byte records", 512, 8, 0xF7, 4096, 512},
        {"256-byte records", 512, 8, 0xF8, 0, 0},
        {"0 sectors per cluster", 512, 0, 0xF6, 0, 0},
        {"3 sectors per cluster", 512, 3, 0xF6, 0, 0},
        // 512-byte clusters: the table's first record fills the last two.
        {"room for one record before the volume's end", 512, 1, 0xF6, 512, 1024, 10, 8},
        {"room for half a record", 512, 1, 0xF6, 0, 0, 10, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string sector(NTFS_BOOT_SECTOR_BYTES, '\0');
        sector.replace(NTFS_BOOT_OEM_ID, 8, "NTFS    ");
        put_le(sector, NTFS_BOOT_BYTES_PER_SECTOR, c.bytes_per_sector, 2);
        sector[NTFS_BOOT_SECTORS_PER_CLUSTER] = char(c.sectors_per_cluster);
        sector[NTFS_BOOT_CLUSTERS_PER_RECORD] = char(c.clusters_per_record);
        put_le(sector, NTFS_BOOT_SECTORS, c.sectors, 8);
        put_le(sector, NTFS_BOOT_MFT_LCN, c.mft_lcn, 8);
        NtfsGeometry geometry{};
        const int parsed =
            ntfs_parse_boot_sector(reinterpret_cast<const uint8_t*>(sector.data()), &geometry);
        EXPECT_EQ(parsed, c.cluster ? 1 : 0);
        if (!parsed || !c.cluster) continue;
        EXPECT_EQ(geometry.bytes_per_sector, c.bytes_per_sector);
        EXPECT_EQ(geometry.bytes_per_cluster, c.cluster);
        EXPECT_EQ(geometry.record_size, c.record);
    }
}

}  // namespace
#endif
