#include <cstring>

#include "platform/posix/disks/container_source.h"

namespace {
bool starts(const uint8_t* bytes, size_t length, const char* magic, size_t magic_length) {
    return length >= magic_length && std::memcmp(bytes, magic, magic_length) == 0;
}
}  // namespace

int container_looks(const std::string& path, const uint8_t* head, size_t head_length,
                     const uint8_t* tail, size_t tail_length) {
    static const char kEwf[] = "EVF\x09\x0d\x0a\xff";
    static const char kEwf2[] = "EVF2\x0d\x0a\x81";
    if (starts(head, head_length, kEwf, 8) || starts(head, head_length, kEwf2, 8)) return CONTAINER_EWF;
    if (starts(head, head_length, "AFF10\r\n", 8)) return CONTAINER_AFF;
    if (starts(head, head_length, "KDMV", 4) || starts(head, head_length, "# Disk DescriptorFile", 21))
        return CONTAINER_VMDK;
    if (starts(head, head_length, "vhdxfile", 8) || starts(head, head_length, "conectix", 8) ||
        starts(tail, tail_length, "conectix", 8))
        return CONTAINER_VHD;
    if (starts(head, head_length, "QFI\xfb", 4)) return CONTAINER_QCOW;
    // Split raw: the first piece, 'disk.001'.
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".001") == 0) return CONTAINER_SPLIT_RAW;
    return CONTAINER_NONE;
}
