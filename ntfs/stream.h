// An attribute's value as a byte stream: where its clusters lie on the
// volume (the decoded data runs), or the value itself when it is resident.
#pragma once

#include <cstdint>

#include "ntfs/byte_source.h"

struct NtfsExtent {
    uint64_t vcn;       // first cluster of the run within the stream
    uint64_t lcn;       // first cluster on the volume; NTFS_SPARSE for a hole
    uint64_t clusters;  // never 0
};

enum : uint64_t { NTFS_SPARSE = ~uint64_t(0) };

struct NtfsStream {
    NtfsExtent* extents;  // in ascending, gapless VCN order
    uint32_t count;
    uint32_t capacity;
    uint64_t next_vcn;    // the VCN the next piece of runs must start at
    uint64_t size;        // bytes readable: the data size, cut to what the runs map
    uint64_t valid_size;  // bytes below it hold data, bytes above read as zeros
    uint8_t* resident;    // the value of a resident attribute (no extents then)
};

// A damaged run list could otherwise grow the table of runs without end.
enum : uint32_t { NTFS_MAX_EXTENTS = 1u << 16 };

// The bytes that hold data: the stream's size, or its valid size when lower.
inline uint64_t stream_valid_bytes(const NtfsStream* stream) {
    return stream->valid_size < stream->size ? stream->valid_size : stream->size;
}

// Appends a run; 0 when it would break the gapless order, exceed the limit
// or cannot be allocated.
int stream_add_extent(NtfsStream* stream, uint64_t lcn, uint64_t clusters);

// Appends a non-resident attribute's piece of runs when it starts where the
// stream ends: its runs, checked against the volume's clusters, and, for the
// first piece, its sizes. Runs are taken up to the first bad one. Returns 0
// when the piece did not fit or ended early, so later pieces can be refused.
int stream_add_piece(NtfsStream* stream, const uint8_t* attribute, uint32_t length,
                     uint64_t total_clusters, uint32_t cluster_bytes);

// Drops the runs from the first hole, or the first run that uses a cluster of
// an earlier run, on: a table and its bitmap have neither, and a damaged run
// list that repeats clusters (or maps zeros) would make a table larger than
// the volume. The size is then cut by the caller. 0 when memory is short.
int stream_keep_disjoint_runs(NtfsStream* stream);

// Drops the runs, and the part of a run, that lie at or beyond byte
// volume_bytes of the volume, and cuts the size to what the runs still map:
// a damaged or hostile run list can claim far more than the device holds,
// and reading it would cost what it claims instead of what the device has.
void stream_cut_at(NtfsStream* stream, uint32_t cluster_bytes, uint64_t volume_bytes);

// Reads length bytes from offset within [0, size): zeros above the valid
// size and in holes, the volume's bytes elsewhere. Returns 0 with errno set
// when the range is out of bounds or the volume cannot be read.
int stream_read(const ByteSource* source, const NtfsStream* stream, uint32_t cluster_bytes,
                uint64_t offset, uint32_t length, uint8_t* dest);

// Where the stream's byte at offset lies on the volume, when an allocated run
// holds it below the valid size: 1, *volume_offset, and in *run_left the
// bytes from there to the end of the run or of the valid size. 0 for a hole,
// bytes above the valid size (both read as zeros) and a resident stream.
int stream_run_at(const NtfsStream* stream, uint32_t cluster_bytes, uint64_t offset,
                  uint64_t* volume_offset, uint64_t* run_left);

// Tells the source that the stream's bytes in [offset, offset + length) will
// be read soon, one hint per run they lie in, up to the first hole or the
// valid size (neither is read from the source). Does nothing when the source
// takes no hints.
void stream_prefetch(const ByteSource* source, const NtfsStream* stream, uint32_t cluster_bytes,
                     uint64_t offset, uint64_t length);

void stream_free(NtfsStream* stream);
