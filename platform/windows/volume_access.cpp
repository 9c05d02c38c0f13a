// Volumes through the system: CreateFileW on a device path, the two NTFS
// requests through DeviceIoControl, CloseHandle for every kind of handle.
//
// Where the system has no answer to the volume data request on a volume
// whose first sector is an NTFS boot sector (wine has no NTFS requests;
// Windows mounts an NTFS it refused as RAW), Morla's own NTFS reader
// answers both requests of that handle from the volume's bytes, until the
// handle is closed. Every other volume keeps the system's answers, so a
// FAT, optical or empty volume fails the request as before.
#include <cerrno>
#include <cstddef>
#include <new>
#include <windows.h>
#include <winioctl.h>

#include "ntfs/requests.h"
#include "platform/platform.h"
#include "platform/windows/sector_source.h"

// The replies the reader writes and the search reads (ntfs/layout.h) are the
// system's own structures, field by field.
#define MORLA_SAME_FIELD(system, field, ours) static_assert(offsetof(system, field) == ours)
static_assert(sizeof(NTFS_VOLUME_DATA_BUFFER) == NTFS_VOLUME_DATA_BYTES);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, VolumeSerialNumber, NTFS_VOLUME_DATA_SERIAL);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, NumberSectors, NTFS_VOLUME_DATA_SECTORS);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, TotalClusters, NTFS_VOLUME_DATA_TOTAL_CLUSTERS);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, FreeClusters, NTFS_VOLUME_DATA_FREE_CLUSTERS);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, TotalReserved, NTFS_VOLUME_DATA_RESERVED_CLUSTERS);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, BytesPerSector, NTFS_VOLUME_DATA_BYTES_PER_SECTOR);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, BytesPerCluster, NTFS_VOLUME_DATA_BYTES_PER_CLUSTER);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, BytesPerFileRecordSegment, NTFS_VOLUME_DATA_RECORD_SIZE);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, ClustersPerFileRecordSegment,
                 NTFS_VOLUME_DATA_CLUSTERS_PER_RECORD);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, MftValidDataLength, NTFS_VOLUME_DATA_MFT_VALID_LENGTH);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, MftStartLcn, NTFS_VOLUME_DATA_MFT_LCN);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, Mft2StartLcn, NTFS_VOLUME_DATA_MFT_MIRROR_LCN);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, MftZoneStart, NTFS_VOLUME_DATA_MFT_ZONE_START);
MORLA_SAME_FIELD(NTFS_VOLUME_DATA_BUFFER, MftZoneEnd, NTFS_VOLUME_DATA_MFT_ZONE_END);
static_assert(sizeof(NTFS_FILE_RECORD_INPUT_BUFFER) == NTFS_REQUEST_BYTES);
MORLA_SAME_FIELD(NTFS_FILE_RECORD_OUTPUT_BUFFER, FileReferenceNumber, NTFS_REPLY_NUMBER);
MORLA_SAME_FIELD(NTFS_FILE_RECORD_OUTPUT_BUFFER, FileRecordLength, NTFS_REPLY_LENGTH);
MORLA_SAME_FIELD(NTFS_FILE_RECORD_OUTPUT_BUFFER, FileRecordBuffer, NTFS_REPLY_RECORD);
#undef MORLA_SAME_FIELD
static_assert(FSCTL_NTFS_VOLUME_DATA == FSCTL_GET_NTFS_VOLUME_DATA);
static_assert(FSCTL_NTFS_FILE_RECORD == FSCTL_GET_NTFS_FILE_RECORD);
static_assert(sizeof(wchar_t) == sizeof(wchar));

namespace {

// A volume handle the reader answers for.
struct StandIn {
    HANDLE handle;
    SectorSource bytes;
    NtfsVolume* ntfs;
    StandIn* next;
};

// The process is single-threaded and opens one volume at a time; a list
// keeps any number.
StandIn* stand_ins = nullptr;

StandIn* stand_in_for(HANDLE handle) {
    for (StandIn* s = stand_ins; s; s = s->next)
        if (s->handle == handle) return s;
    return nullptr;
}

// The reader's failure in the system's numbering; a failed read keeps the
// system's own code.
DWORD system_code(int error, const SectorSource* bytes) {
    switch (error) {
    case EIO: return bytes->error ? bytes->error : ERROR_HANDLE_EOF;  // past the device's end
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOBUFS: return ERROR_INSUFFICIENT_BUFFER;
    case ENODATA: return ERROR_NOT_FOUND;
    default: return ERROR_FILE_CORRUPT;
    }
}

void release(StandIn* s) {
    ntfs_close(s->ntfs);
    sector_source_release(&s->bytes);
    delete s;
}

// Builds the reader over the handle when its first sector is an NTFS boot
// sector. Null otherwise, with the last error as before the attempt when
// the volume is not NTFS, the reader's failure when it is NTFS but unreadable.
StandIn* stand_in_start(HANDLE handle) {
    const DWORD system_failure = GetLastError();
    StandIn* s = new (std::nothrow) StandIn{handle, {}, nullptr, nullptr};
    ByteSource source;
    NtfsGeometry geometry;
    // The sector size and the device's length are known once the boot
    // sector has been read into the source's bounce buffer.
    if (!s || !sector_source_start(&s->bytes, handle, 4096, 0, &source) ||
        !read_first_sectors(handle, s->bytes.bounce) ||
        !ntfs_parse_boot_sector(s->bytes.bounce, &geometry)) {
        if (s) release(s);
        SetLastError(system_failure);
        return nullptr;
    }
    s->bytes.sector = geometry.bytes_per_sector;
    source.length = device_length(handle, &geometry);
    s->bytes.error = 0;
    s->ntfs = ntfs_open(&source);
    if (!s->ntfs) {
        SetLastError(system_code(errno, &s->bytes));
        release(s);
        return nullptr;
    }
    s->next = stand_ins;
    stand_ins = s;
    return s;
}

int answer(StandIn* s, uint32_t control_code, const void* input, uint32_t input_size,
           void* output, uint32_t output_size, uint32_t* bytes_returned) {
    s->bytes.error = 0;
    int ok = 0;
    if (control_code == FSCTL_NTFS_FILE_RECORD)
        ok = ntfs_file_record_request(s->ntfs, input, input_size, output, output_size,
                                      bytes_returned);
    else if (control_code == FSCTL_NTFS_VOLUME_DATA)
        ok = ntfs_volume_data_request(s->ntfs, output, output_size, bytes_returned);
    else
        errno = ENOTTY;
    if (!ok) SetLastError(errno == ENOTTY ? ERROR_INVALID_FUNCTION : system_code(errno, &s->bytes));
    return ok;
}

}  // namespace

Handle platform_open_volume(const wchar* device_path) {
    HANDLE volume = CreateFileW(reinterpret_cast<const wchar_t*>(device_path), FILE_READ_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    return volume == INVALID_HANDLE_VALUE ? INVALID_HANDLE : volume;
}

int platform_close_handle(Handle handle) {
    for (StandIn** link = &stand_ins; *link; link = &(*link)->next) {
        if ((*link)->handle != handle) continue;
        StandIn* s = *link;
        *link = s->next;
        release(s);
        break;
    }
    return CloseHandle(handle) ? 1 : 0;
}

int platform_device_io_control(Handle volume, uint32_t control_code, const void* input,
                               uint32_t input_size, void* output, uint32_t output_size,
                               uint32_t* bytes_returned) {
    if (bytes_returned) *bytes_returned = 0;
    if (StandIn* s = stand_in_for(volume))
        return answer(s, control_code, input, input_size, output, output_size, bytes_returned);
    // Synchronous: without an overlapped record the count must have a home.
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(volume, control_code, const_cast<void*>(input), input_size, output,
                              output_size, &returned, nullptr);
    if (bytes_returned) *bytes_returned = returned;
    if (ok) return 1;
    if (control_code != FSCTL_NTFS_VOLUME_DATA) return 0;
    StandIn* s = stand_in_start(volume);
    return s ? answer(s, control_code, input, input_size, output, output_size, bytes_returned)
             : 0;
}
