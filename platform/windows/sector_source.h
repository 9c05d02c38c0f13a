// The NTFS reader's byte source over a Windows volume handle (or an image
// that wine shows as one). A volume handle reads whole sectors only, at
// sector-aligned offsets into sector-aligned memory, so every other read
// goes through an aligned bounce buffer. No thread: the reads are the
// scan's own.
#pragma once

#include <cstdint>
#include <windows.h>

#include "ntfs/byte_source.h"
#include "ntfs/geometry.h"

struct SectorSource {
    HANDLE handle;
    uint32_t sector;   // bytes per sector, a power of two
    uint8_t* bounce;   // SECTOR_BOUNCE_BYTES, page-aligned
    DWORD error;       // the system's code for the last read that failed; 0 when none did
};

enum : uint32_t { SECTOR_BOUNCE_BYTES = 64u << 10 };

// Fills source (whose context is sectors) for the handle. 0 when the bounce
// buffer cannot be had (the system's code in the last error).
int sector_source_start(SectorSource* sectors, HANDLE handle, uint32_t sector_bytes,
                        uint64_t length, ByteSource* source);
// Releases the bounce buffer; the handle is left to its owner.
void sector_source_release(SectorSource* sectors);

// Reads the volume's first bytes (at least NTFS_BOOT_SECTOR_BYTES) into the
// page-aligned buffer of SECTOR_BOUNCE_BYTES; 1 when they could be read.
int read_first_sectors(HANDLE handle, uint8_t* buffer);

// The device's length in bytes: what the disk says, else the file size when
// it is not 0 (an image), else what the boot sector counts.
uint64_t device_length(HANDLE handle, const NtfsGeometry* geometry);
