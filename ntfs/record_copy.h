// The copy of one record into a reply: with the fix-ups, most of the scan's
// own work per record, as every record of the table is copied once.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
// Whether the processor moves 32 bytes at a time (AVX2); asked once.
extern const bool ntfs_lanes_available;
// Copies size bytes, a multiple of 256, 32 at a time; only where
// ntfs_lanes_available.
void ntfs_copy_in_lanes(uint8_t* to, const uint8_t* from, uint32_t size);
#endif

// Copies size bytes (a record: a power of two of at least 512) from 'from'
// to 'to', which do not overlap. Inline, so that a scan's copy of each record
// costs a single call.
[[gnu::always_inline]] inline void ntfs_copy_record(uint8_t* to, const uint8_t* from,
                                                    uint32_t size) {
#if defined(__GNUC__) && defined(__x86_64__)
    if (ntfs_lanes_available && size % 256 == 0) {
        ntfs_copy_in_lanes(to, from, size);
        return;
    }
#endif
    std::memcpy(to, from, size);
}
