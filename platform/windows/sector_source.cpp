#include "platform/windows/sector_source.h"

#include <cerrno>
#include <cstring>
#include <winioctl.h>

namespace {

// Whatever the device's sector size, 4096 bytes at offset 0 are whole
// sectors; an image shorter than that gives what it has.
constexpr DWORD FIRST_READ_BYTES = 4096;
// A direct read at a time, well inside a DWORD.
constexpr size_t DIRECT_READ_BYTES = 1u << 30;

// Reads size bytes at offset into buffer, of which at least needed must
// come (the rest may lie past a device end inside its last sector).
bool read_at(SectorSource* s, uint64_t offset, void* buffer, DWORD size, DWORD needed) {
    OVERLAPPED at = {};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(s->handle, buffer, size, &got, &at)) {
        s->error = GetLastError();
    } else if (got < needed) {
        s->error = ERROR_HANDLE_EOF;
    } else {
        return true;
    }
    errno = EIO;
    return false;
}

int read_bytes(void* context, uint64_t offset, void* dest, size_t length) {
    SectorSource* s = static_cast<SectorSource*>(context);
    uint8_t* to = static_cast<uint8_t*>(dest);
    const uint64_t sector = s->sector;
    while (length) {
        const uint64_t skip = offset % sector;
        if (!skip && length >= sector && reinterpret_cast<uintptr_t>(to) % sector == 0) {
            // Whole sectors into aligned memory: straight in.
            size_t whole = length - length % sector;
            if (whole > DIRECT_READ_BYTES) whole = DIRECT_READ_BYTES;
            if (!read_at(s, offset, to, DWORD(whole), DWORD(whole))) return 0;
            to += whole;
            offset += whole;
            length -= whole;
            continue;
        }
        uint64_t span = (skip + length + sector - 1) / sector * sector;
        if (span > SECTOR_BOUNCE_BYTES) span = SECTOR_BOUNCE_BYTES;
        const size_t take = size_t(span - skip < length ? span - skip : length);
        if (!read_at(s, offset - skip, s->bounce, DWORD(span), DWORD(skip + take))) return 0;
        std::memcpy(to, s->bounce + skip, take);
        to += take;
        offset += take;
        length -= take;
    }
    return 1;
}

}  // namespace

int sector_source_start(SectorSource* sectors, HANDLE handle, uint32_t sector_bytes,
                        uint64_t length, ByteSource* source) {
    *sectors = SectorSource{handle, sector_bytes, nullptr, 0};
    // Pages are aligned for any sector size.
    sectors->bounce = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, SECTOR_BOUNCE_BYTES, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!sectors->bounce) return 0;
    *source = ByteSource{sectors, length, read_bytes, nullptr};
    return 1;
}

void sector_source_release(SectorSource* sectors) {
    if (sectors->bounce) VirtualFree(sectors->bounce, 0, MEM_RELEASE);
    sectors->bounce = nullptr;
}

int read_first_sectors(HANDLE handle, uint8_t* buffer) {
    SectorSource s = {handle, FIRST_READ_BYTES, buffer, 0};
    return read_at(&s, 0, buffer, FIRST_READ_BYTES, NTFS_BOOT_SECTOR_BYTES) ? 1 : 0;
}

uint64_t device_length(HANDLE handle, const NtfsGeometry* geometry) {
    GET_LENGTH_INFORMATION disk = {};
    DWORD returned = 0;
    if (DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &disk, sizeof disk,
                        &returned, nullptr) &&
        disk.Length.QuadPart > 0)
        return uint64_t(disk.Length.QuadPart);
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(handle, &size) && size.QuadPart > 0) return uint64_t(size.QuadPart);
    return geometry->sectors * geometry->bytes_per_sector;
}
