// Stands in for the system's disk management on Linux: a target (block
// device, image file or container) that is a disk gives each of its NTFS
// partitions as a volume of its own, named beside the drive map; a target
// that is a volume is given whole, as it is opened today.
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/disks/container_source.h"
#include "platform/posix/disks/partition_table.h"
#include "platform/posix/failure.h"
#include "platform/posix/volumes/drive_map.h"
#include "platform/posix/volumes/part_names.h"
#include "platform/posix/volumes/volume_open.h"

namespace {

struct PosixDisk {
    PosixHandle base;      // kind POSIX_DISK, no descriptor of its own
    PosixVolume* target;   // the target as opened; null once given away whole
    bool block;
    bool whole;            // the target is given as one volume under its own name
    bool named_alone;      // one NTFS partition: under the target's name
    ContainerSource container;
    ByteSource container_bytes;
    uint32_t faults;       // TABLE_ bits not yet told
    const char16_t* cause; // the container's fault, not yet told
    uint32_t told_failures; // the container's failed reads already told
    std::vector<DiskPartition> ntfs;
    size_t next;
};

constexpr size_t kHead = 4096;

bool ntfs_at(const ByteSource* bytes, uint64_t offset) {
    uint8_t oem[8];
    return offset <= bytes->length && source_read(bytes, offset + 3, oem, 8) &&
           std::memcmp(oem, "NTFS    ", 8) == 0;
}

// The file the descriptor holds, as the system resolved it at the open.
std::string opened_path(int fd) {
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = readlink(link.c_str(), path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string();
}

// Which container a regular file is (its first and last bytes), if any.
int looks_container(const ByteSource* raw, const std::string& path) {
    uint8_t head[kHead] = {}, tail[512] = {};
    const size_t head_length = raw->length < kHead ? size_t(raw->length) : kHead;
    const size_t tail_length = raw->length < 512 ? 0 : 512;
    if (!source_read(raw, 0, head, head_length)) return CONTAINER_NONE;
    if (tail_length && !source_read(raw, raw->length - 512, tail, 512)) return CONTAINER_NONE;
    return container_looks(path, head, head_length, tail, tail_length);
}

// Reads what the bytes hold: a volume, or a table and its NTFS partitions.
void read_layout(PosixDisk* disk, const ByteSource* bytes) {
    disk->whole = true;
    if (ntfs_at(bytes, 0)) return;
    PartitionTable table;
    read_partition_table(bytes, &table);
    if (table.kind == TABLE_NONE) return;
    disk->whole = false;
    disk->faults = table.faults;
    for (const DiskPartition& partition : table.partitions)
        if (ntfs_at(bytes, partition.start)) disk->ntfs.push_back(partition);
    // A partition left out for a fault may have been another NTFS volume:
    // the names stay numbered then, as they would be on the whole disk.
    disk->named_alone = disk->ntfs.size() == 1 && !table.faults;
}

PosixVolume* new_volume(int fd, const ByteSource* container, uint64_t start, uint64_t length) {
    PosixVolume* volume = new (std::nothrow)
        PosixVolume{{POSIX_VOLUME, fd}, FdByteSource{}, nullptr, container, start, length, WindowSource{}};
    if (!volume && fd >= 0) close(fd);
    return volume;
}

int copy_path(const wchar* from, DiskPart* part) {
    size_t n = 0;
    while (from[n] && n + 1 < DISK_PART_PATH_UNITS) ++n;
    if (from[n]) return 0;
    for (size_t i = 0; i <= n; ++i) part->device_path[i] = from[i];
    return 1;
}

int refuse(DiskPart* part, const char16_t* cause) {
    part->volume = INVALID_HANDLE;
    part->cause = cause;
    return -1;
}

int tell_fault(PosixDisk* disk, DiskPart* part) {
    if (disk->cause) {
        part->cause = disk->cause;
        disk->cause = nullptr;
        return -1;
    }
    const uint32_t fault = disk->faults & (0u - disk->faults);  // the lowest bit
    disk->faults &= ~fault;
    part->cause = partition_fault_words(fault);
    return -1;
}

}  // namespace

Handle platform_open_disk(const wchar* open_path) {
    Handle opened = platform_open_volume(open_path);
    if (opened == INVALID_HANDLE) return INVALID_HANDLE;
    PosixVolume* target = static_cast<PosixVolume*>(opened);
    PosixDisk* disk = new (std::nothrow) PosixDisk{};
    if (!disk) {
        posix_close_volume(target);
        return posix_fail<Handle>(ENOMEM);
    }
    disk->base = PosixHandle{POSIX_DISK, -1};
    disk->target = target;
    struct stat st;
    disk->block = fstat(target->base.fd, &st) == 0 && S_ISBLK(st.st_mode);
    FdByteSource raw_bytes;
    ByteSource raw;
    fd_source_start(&raw_bytes, target->base.fd, &raw);
    const std::string path = disk->block ? std::string() : opened_path(target->base.fd);
    const int kind = disk->block ? CONTAINER_NONE : looks_container(&raw, path);
    if (kind != CONTAINER_NONE) {
        if (container_open(path, kind, &disk->container, &disk->container_bytes, &disk->cause))
            read_layout(disk, &disk->container_bytes);
        else
            disk->whole = false;  // nothing to search but the fault
    } else {
        read_layout(disk, &raw);
    }
    fd_source_release(&raw_bytes);
    return disk;
}

int platform_next_disk_part(Handle handle, const wchar* device_path, DiskPart* part) {
    PosixDisk* disk = static_cast<PosixDisk*>(handle);
    if (!disk || handle == INVALID_HANDLE || disk->base.kind != POSIX_DISK) return posix_fail(EBADF);
    part->volume = INVALID_HANDLE;
    part->cause = nullptr;
    // A container that failed a read (a segment cut short or damaged) is
    // told once, whatever its reader made of it.
    if (disk->container.failed_reads > disk->told_failures) {
        disk->told_failures = disk->container.failed_reads;
        return refuse(part, u"the container failed a read (a segment cut short or damaged)");
    }
    if (disk->cause || disk->faults) return tell_fault(disk, part);
    if (disk->whole) {
        disk->whole = false;
        if (!copy_path(device_path, part)) return refuse(part, u"its name is too long");
        if (disk->container.image) {
            part->volume = new_volume(-1, &disk->container_bytes, 0, 0);
        } else {
            part->volume = disk->target;  // as a volume is opened, unchanged
            disk->target = nullptr;
        }
        return part->volume ? 1 : refuse(part, u"out of memory");
    }
    if (disk->next >= disk->ntfs.size()) return 0;
    const DiskPartition& partition = disk->ntfs[disk->next++];
    const bool named = disk->named_alone ? copy_path(device_path, part)
                                         : posix_part_device_path(device_path, disk->block,
                                                                  partition.number, part->device_path,
                                                                  DISK_PART_PATH_UNITS);
    if (!named) return refuse(part, u"a partition's name is too long");
    const ByteSource* container = disk->container.image ? &disk->container_bytes : nullptr;
    const int fd = container ? -1 : dup(disk->target->base.fd);
    if (!container && fd < 0) return refuse(part, u"a partition cannot be opened");
    part->volume = new_volume(fd, container, partition.start, partition.length);
    return part->volume ? 1 : refuse(part, u"out of memory");
}

int platform_close_disk(Handle handle) {
    PosixDisk* disk = static_cast<PosixDisk*>(handle);
    if (!disk || handle == INVALID_HANDLE || disk->base.kind != POSIX_DISK) return posix_fail(EBADF);
    if (disk->target) posix_close_volume(disk->target);
    container_close(&disk->container);
    delete disk;
    return 1;
}

const int platform_path_targets = 1;
