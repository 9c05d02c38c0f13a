#include "search/path.h"

#include <cstring>

#include "base/heap.h"
#include "search/long_names.h"
#include "search/record_source.h"

namespace {

// Replaces the path with the name, a backslash and the old path. 0 (path
// unchanged) when the result would pass the length limit or memory is short.
int prepend(const uint8_t* name, uint32_t name_count, wchar** path, uint32_t* count) {
    const uint32_t grown = *count + name_count + 1;
    if (grown > PATH_MAX_UNITS) return 0;
    wchar* joined = static_cast<wchar*>(heap_alloc(size_t(grown) * sizeof(wchar)));
    if (!joined) return 0;
    if (name_count) std::memcpy(joined, name, size_t(name_count) * sizeof(wchar));
    joined[name_count] = u'\\';
    if (*count) std::memcpy(joined + name_count + 1, *path, size_t(*count) * sizeof(wchar));
    heap_free(*path);
    *path = joined;
    *count = grown;
    return 1;
}

// The records climbed through so far, as a hash set (open addressing): a
// damaged chain can be thousands of levels deep, and a list searched at each
// level would make every such climb quadratic. Real paths are a few levels
// deep and fit the inline slots; a deeper chain moves to the heap.
constexpr uint64_t FREE_SLOT = ~uint64_t(0);  // above every 48-bit record number

struct Climbed {
    uint64_t inline_slots[32];
    uint64_t* slots;
    uint32_t used;
    uint32_t capacity;  // a power of two, at least twice used
};

void climbed_start(Climbed* climbed) {
    climbed->slots = climbed->inline_slots;
    climbed->used = 0;
    climbed->capacity = sizeof climbed->inline_slots / sizeof climbed->inline_slots[0];
    for (uint64_t& slot : climbed->inline_slots) slot = FREE_SLOT;
}

// Where number is, or the free slot where it belongs.
uint64_t* climbed_slot(const Climbed* climbed, uint64_t number) {
    const uint32_t mask = climbed->capacity - 1;
    uint32_t i = uint32_t((number * 0x9E3779B97F4A7C15ull) >> 40) & mask;
    while (climbed->slots[i] != FREE_SLOT && climbed->slots[i] != number) i = (i + 1) & mask;
    return &climbed->slots[i];
}

// 1 when number was climbed through before; otherwise remembers it and
// returns 0. -1 when memory is short.
int climbed_before(Climbed* climbed, uint64_t number) {
    if (*climbed_slot(climbed, number) == number) return 1;
    if (2 * (climbed->used + 1) > climbed->capacity) {
        Climbed grown = *climbed;
        grown.capacity = climbed->capacity * 2;
        grown.slots = static_cast<uint64_t*>(heap_alloc(size_t(grown.capacity) * sizeof(uint64_t)));
        if (!grown.slots) return -1;
        for (uint32_t i = 0; i < grown.capacity; ++i) grown.slots[i] = FREE_SLOT;
        for (uint32_t i = 0; i < climbed->capacity; ++i) {
            const uint64_t kept = climbed->slots[i];
            if (kept != FREE_SLOT) *climbed_slot(&grown, kept) = kept;
        }
        if (climbed->slots != climbed->inline_slots) heap_free(climbed->slots);
        climbed->slots = grown.slots;
        climbed->capacity = grown.capacity;
    }
    *climbed_slot(climbed, number) = number;
    ++climbed->used;
    return 0;
}

// Reads the record a parent reference names into buffer and returns its first
// long name, or null. A record that is not the one named (freed and reused,
// or a lower record answered in its place) counts as unreadable: its name
// would put the file under a directory it does not belong to.
const uint8_t* parent_name(Handle volume, uint64_t reference, uint8_t* buffer, uint32_t size) {
    if (!read_file_record(volume, reference, buffer, size + RECORD_BUFFER_SPARE)) return nullptr;
    if (uint64_t(reply_record_number(buffer)) != (reference & NTFS_RECORD_NUMBER_MASK))
        return nullptr;
    const uint8_t* record = reply_record(buffer);
    if (size < NTFS_RECORD_SEQUENCE + 2 ||
        ntfs_le16(record + NTFS_RECORD_SEQUENCE) != uint16_t(reference >> NTFS_SEQUENCE_SHIFT))
        return nullptr;
    NameWalk walk = name_walk_start(record, size);
    return next_long_name(&walk);
}

}  // namespace

int build_path(Handle volume, const uint8_t* value, wchar** path, uint32_t* count) {
    Climbed climbed;
    climbed_start(&climbed);

    // The level above replaces the one below, so one record buffer is held at
    // a time and the climb needs no recursion however deep the chain.
    uint8_t* held = nullptr;
    int extended = 0;
    for (;;) {
        const uint64_t reference = name_parent(value);
        const uint64_t number = reference & NTFS_RECORD_NUMBER_MASK;
        if (number == NTFS_ROOT_RECORD) {
            if (prepend(nullptr, 0, path, count)) extended = 1;
            break;
        }
        // Each level adds at least one unit, so the length limit bounds the
        // levels too; the count is kept explicitly all the same.
        if (climbed.used >= PATH_MAX_UNITS || climbed_before(&climbed, number) != 0) break;
        const uint32_t size = volume_record_size();
        if (size > UINT32_MAX - RECORD_BUFFER_SPARE) break;
        uint8_t* buffer = static_cast<uint8_t*>(heap_alloc(size_t(size) + RECORD_BUFFER_SPARE));
        if (!buffer) break;
        const uint8_t* name = parent_name(volume, reference, buffer, size);
        if (!name || !prepend(name_units(name), name_length(name), path, count)) {
            heap_free(buffer);
            break;
        }
        extended = 1;
        heap_free(held);
        held = buffer;
        value = name;
    }
    heap_free(held);
    if (climbed.slots != climbed.inline_slots) heap_free(climbed.slots);
    return extended;
}
