// Little-endian fields of on-disk NTFS structures, assembled byte by byte so
// that any alignment and any host byte order are fine.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// One load on a little-endian host, where the compiler does not always see
// through the bytes' assembly (once per record request).
template <typename T>
inline T ntfs_le(const uint8_t* p) {
    T v;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&v, p, sizeof v);
    } else {
        v = 0;
        for (size_t i = 0; i < sizeof v; ++i) v = T(v | T(p[i]) << (8 * i));
    }
    return v;
}

inline uint16_t ntfs_le16(const uint8_t* p) { return ntfs_le<uint16_t>(p); }
inline uint32_t ntfs_le32(const uint8_t* p) { return ntfs_le<uint32_t>(p); }
inline uint64_t ntfs_le64(const uint8_t* p) { return ntfs_le<uint64_t>(p); }

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
