// Fake volumes: open, close and the two NTFS requests, answered from
// in-memory records with the nearest-lower rule, plus record builders.
#include <algorithm>
#include <cstring>

#include "ntfs/layout.h"
#include "tests/fake_platform/fake_platform.h"

std::deque<FakeDisk> fake_disks;

namespace {

const uint32_t kErrorFileNotFound = 2;
const uint32_t kErrorInvalidHandle = 6;
const uint32_t kErrorHandleEof = 38;
const uint32_t kErrorInsufficientBuffer = 122;

// Disk handles carry a tag so that handles other fakes hand out are not
// taken for disks.
const uintptr_t kDiskHandleTag = 0xD15C0000;

FakeDisk* disk_of(Handle handle) {
    uintptr_t index = reinterpret_cast<uintptr_t>(handle) - kDiskHandleTag;
    if (index == 0 || index > fake_disks.size()) return nullptr;
    return &fake_disks[index - 1];
}

void put_u16(std::vector<uint8_t>& bytes, size_t at, uint16_t v) { std::memcpy(&bytes[at], &v, 2); }
void put_u32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); }
void put_u64(std::vector<uint8_t>& bytes, size_t at, uint64_t v) { std::memcpy(&bytes[at], &v, 8); }

int answer_volume_data(FakeDisk* disk, void* output, uint32_t output_size, uint32_t* returned) {
    if (!disk->ntfs) {
        platform_set_last_error(ERROR_CODE_INVALID_FUNCTION);
        return 0;
    }
    if (output_size < NTFS_VOLUME_DATA_BYTES) {
        platform_set_last_error(kErrorInsufficientBuffer);
        return 0;
    }
    // Fields Morla does not read hold noise.
    std::vector<uint8_t> data(NTFS_VOLUME_DATA_BYTES, 0xA5);
    put_u32(data, NTFS_VOLUME_DATA_RECORD_SIZE, disk->record_size);
    put_u64(data, NTFS_VOLUME_DATA_MFT_VALID_LENGTH, uint64_t(disk->valid_length));
    std::memcpy(output, data.data(), data.size());
    if (returned) *returned = NTFS_VOLUME_DATA_BYTES;
    return 1;
}

int answer_file_record(FakeDisk* disk, const void* input, uint32_t input_size, void* output,
                       uint32_t output_size, uint32_t* returned) {
    if (input_size != NTFS_REQUEST_BYTES) {
        platform_set_last_error(87);
        return 0;
    }
    uint64_t asked;
    std::memcpy(&asked, input, 8);
    disk->requests.push_back(asked);
    uint64_t number = asked & NTFS_RECORD_NUMBER_MASK;
    if (auto failing = disk->failing.find(asked); failing != disk->failing.end()) {
        platform_set_last_error(failing->second);
        return 0;
    }
    auto found = disk->records.upper_bound(number);
    if (found == disk->records.begin()) {
        platform_set_last_error(kErrorHandleEof);
        return 0;
    }
    --found;
    if (output_size < NTFS_REPLY_HEADER_BYTES + disk->record_size) {
        platform_set_last_error(kErrorInsufficientBuffer);
        return 0;
    }
    std::vector<uint8_t> reply(NTFS_REPLY_HEADER_BYTES + disk->record_size, 0);
    int64_t named = int64_t(found->first);
    if (auto renamed = disk->named_as.find(number); renamed != disk->named_as.end())
        named = renamed->second;
    put_u64(reply, NTFS_REPLY_NUMBER, uint64_t(named));
    put_u32(reply, NTFS_REPLY_LENGTH, disk->record_size);
    std::memcpy(&reply[NTFS_REPLY_RECORD], found->second.data(),
                std::min<size_t>(found->second.size(), disk->record_size));
    std::memcpy(output, reply.data(), reply.size());
    if (returned) *returned = uint32_t(reply.size());
    return 1;
}

}  // namespace

void fake_reset_volumes() {
    fake_disks.clear();
}

FakeDisk& fake_add_disk(const std::u16string& device_path, uint64_t slots, uint32_t record_size) {
    FakeDisk& disk = fake_disks.emplace_back();
    disk.device_path = device_path;
    disk.record_size = record_size;
    disk.valid_length = int64_t(slots * record_size);
    return disk;
}

Handle fake_disk_handle(const FakeDisk& disk) {
    for (size_t i = 0; i < fake_disks.size(); ++i)
        if (&fake_disks[i] == &disk) return reinterpret_cast<Handle>(kDiskHandleTag + i + 1);
    return INVALID_HANDLE;
}

uint64_t fake_reference(uint64_t number, uint16_t sequence) {
    return (uint64_t(sequence) << NTFS_SEQUENCE_SHIFT) | (number & NTFS_RECORD_NUMBER_MASK);
}

std::vector<uint8_t> fake_attribute(uint32_t type, const std::vector<uint8_t>& value) {
    size_t length = (NTFS_RESIDENT_HEADER_BYTES + value.size() + 7) / 8 * 8;
    std::vector<uint8_t> bytes(length, 0);
    put_u32(bytes, NTFS_ATTRIBUTE_TYPE, type);
    put_u32(bytes, NTFS_ATTRIBUTE_LENGTH, uint32_t(length));
    put_u32(bytes, NTFS_RESIDENT_VALUE_LENGTH, uint32_t(value.size()));
    put_u16(bytes, NTFS_RESIDENT_VALUE_OFFSET, NTFS_RESIDENT_HEADER_BYTES);
    std::memcpy(&bytes[NTFS_RESIDENT_HEADER_BYTES], value.data(), value.size());
    return bytes;
}

std::vector<uint8_t> fake_name_attribute(uint64_t parent, const std::u16string& name,
                                         uint8_t name_space) {
    std::vector<uint8_t> value(NTFS_NAME_UNITS + 2 * name.size(), 0);
    put_u64(value, NTFS_NAME_PARENT, parent);
    value[NTFS_NAME_LENGTH] = uint8_t(name.size());
    value[NTFS_NAME_SPACE] = name_space;
    std::memcpy(&value[NTFS_NAME_UNITS], name.data(), 2 * name.size());
    return fake_attribute(NTFS_TYPE_FILE_NAME, value);
}

std::vector<uint8_t> fake_record(uint16_t sequence,
                                 const std::vector<std::vector<uint8_t>>& attributes,
                                 uint32_t size) {
    std::vector<uint8_t> record(56, 0);
    std::memcpy(&record[NTFS_RECORD_SIGNATURE], "FILE", 4);
    put_u16(record, NTFS_RECORD_SEQUENCE, sequence);
    put_u16(record, NTFS_RECORD_FIRST_ATTRIBUTE, 56);
    put_u16(record, NTFS_RECORD_FLAGS, NTFS_RECORD_IN_USE);
    for (const std::vector<uint8_t>& a : attributes) record.insert(record.end(), a.begin(), a.end());
    record.insert(record.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});
    record.resize(size, 0);
    return record;
}

void fake_add_file(FakeDisk& disk, uint64_t number, uint16_t sequence,
                   const std::vector<FakeName>& names) {
    // A standard-information attribute first, as every real record has.
    std::vector<std::vector<uint8_t>> attributes{
        fake_attribute(NTFS_TYPE_STANDARD_INFORMATION, std::vector<uint8_t>(48, 0))};
    for (const FakeName& n : names)
        attributes.push_back(fake_name_attribute(n.parent, n.name, n.name_space));
    disk.records[number] = fake_record(sequence, attributes, disk.record_size);
}

Handle platform_open_volume(const wchar* device_path) {
    for (FakeDisk& disk : fake_disks) {
        if (disk.device_path == device_path) {
            ++disk.opens;
            return fake_disk_handle(disk);
        }
    }
    platform_set_last_error(kErrorFileNotFound);
    return INVALID_HANDLE;
}

// Closing any other fake's handle succeeds without effect.
int platform_close_handle(Handle handle) {
    fake_note_close(handle);
    if (FakeDisk* disk = disk_of(handle)) ++disk->closes;
    return 1;
}

int platform_device_io_control(Handle volume, uint32_t control_code, const void* input,
                               uint32_t input_size, void* output, uint32_t output_size,
                               uint32_t* bytes_returned) {
    FakeDisk* disk = disk_of(volume);
    if (!disk) {
        platform_set_last_error(kErrorInvalidHandle);
        return 0;
    }
    if (control_code == FSCTL_NTFS_VOLUME_DATA)
        return answer_volume_data(disk, output, output_size, bytes_returned);
    if (control_code == FSCTL_NTFS_FILE_RECORD)
        return answer_file_record(disk, input, input_size, output, output_size, bytes_returned);
    platform_set_last_error(ERROR_CODE_INVALID_FUNCTION);
    return 0;
}
