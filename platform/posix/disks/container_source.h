// Image containers (E01 and its segments, AFF, VMDK, VHD, VHDX, split raw)
// as a byte source, read through The Sleuth Kit's image layer when the
// build has it (MORLA_CONTAINERS). Raw images and block devices keep
// Morla's own byte source.
#pragma once

#include <string>

#include "ntfs/byte_source.h"

struct ContainerSource {
    void* image;  // the library's, null when closed
    uint64_t size;
    uint32_t failed_reads;  // reads the library could not answer whole
};

// Whether the file's first bytes (and its name, for split raw) say it is a
// container: head holds its first bytes, tail its last 512 (a fixed VHD's footer).
bool container_looks(const std::string& path, const uint8_t* head, size_t head_length,
                     const uint8_t* tail, size_t tail_length);

// Opens the container at path (its further segments found by name), with
// the invoking user's rights as every open of the library is made; 1 with
// source filled, 0 with *cause set when it cannot be read (or the build
// reads no containers).
int container_open(const std::string& path, ContainerSource* container, ByteSource* source,
                   const char16_t** cause);
void container_close(ContainerSource* container);
