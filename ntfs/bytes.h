// Little-endian fields of on-disk NTFS structures, assembled byte by byte so
// that any alignment and any host byte order are fine.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

inline uint16_t ntfs_le16(const uint8_t* p) { return uint16_t(p[0] | unsigned(p[1]) << 8); }

inline uint32_t ntfs_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint64_t ntfs_le64(const uint8_t* p) {
    return uint64_t(ntfs_le32(p)) | uint64_t(ntfs_le32(p + 4)) << 32;
}

// One store on a little-endian host (byte by byte, the compiler leaves as
// many stores: once per record request).
inline void ntfs_put_le32(uint8_t* p, uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, sizeof v);
    } else {
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        p[3] = uint8_t(v >> 24);
    }
}

inline void ntfs_put_le64(uint8_t* p, uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, sizeof v);
    } else {
        ntfs_put_le32(p, uint32_t(v));
        ntfs_put_le32(p + 4, uint32_t(v >> 32));
    }
}
