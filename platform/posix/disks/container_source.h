// Image containers (E01 and its segments, AFF, VMDK, VHD, VHDX, split raw)
// as a byte source, read through The Sleuth Kit's image layer when the
// build has it (MORLA_CONTAINERS), and qcow2, which that layer does not
// read, through libqcow when the build has that too (MORLA_QCOW). Raw
// images and block devices keep Morla's own byte source.
#pragma once

#include <cstdint>
#include <string>

#include "ntfs/byte_source.h"
#include "platform/posix/disks/container_ahead.h"

// Small reads (the records path reconstruction asks for all over the table)
// are served from blocks kept decompressed, as the page cache serves them
// for a raw image: the library's own cache holds little, and a compressed
// container decompresses a whole chunk for every record otherwise. A block
// is what the library reads into its own cache for one small read (two E01
// chunks), so nothing it decompresses is thrown away. Up to 256 MiB, in sets
// of a few kept by least recent use, whose memory is taken only as blocks
// are filled: on the reference volume of a million files, '*.doc' fills
// about 2,500. The scan's large reads take the blocks kept that they cover,
// so a block the climbs read is not decompressed again when the scan gets
// there.
enum : uint32_t {
    CONTAINER_BLOCK_BYTES = 64u << 10,
    CONTAINER_SET_BITS = 9,
    CONTAINER_SETS = 1u << CONTAINER_SET_BITS,
    CONTAINER_WAYS = 8,
    CONTAINER_BLOCKS = CONTAINER_SETS * CONTAINER_WAYS,
};

struct ContainerBlocks {
    uint8_t* bytes;                        // CONTAINER_BLOCKS blocks, null until the first small read
    uint64_t at[CONTAINER_BLOCKS];         // each block's offset
    uint64_t used[CONTAINER_BLOCKS];       // when it was last read (0: empty)
    uint64_t clock;
};

struct ContainerSource {
    void* image;  // the library's, null when closed
    int kind;     // CONTAINER_*: which library image belongs to
    uint64_t size;
    uint32_t failed_reads;  // reads the library could not answer whole
    ContainerBlocks blocks;
    ContainerAhead* ahead;  // the reader ahead, null when none runs
};

enum : int {
    CONTAINER_NONE = 0,
    CONTAINER_EWF,
    CONTAINER_AFF,
    CONTAINER_VMDK,
    CONTAINER_VHD,  // VHD and VHDX
    CONTAINER_SPLIT_RAW,
    CONTAINER_QCOW,
};

// Which container the file's first bytes (and its name, for split raw) say
// it is: head holds its first bytes, tail its last 512 (a fixed VHD's
// footer). The library is then asked for that format alone: its detection
// tries every format, and some leave memory behind when they fail.
int container_looks(const std::string& path, const uint8_t* head, size_t head_length,
                     const uint8_t* tail, size_t tail_length);

// Opens the container at path (its further segments found by name), with
// the invoking user's rights as every open of the library is made; 1 with
// source filled, 0 with *cause set when it cannot be read (or the build
// reads no containers).
int container_open(const std::string& path, int kind, ContainerSource* container,
                   ByteSource* source, const char16_t** cause);
void container_close(ContainerSource* container);
