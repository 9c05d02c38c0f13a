#include "search/path.h"

#include <cstdint>
#include <cstring>

#include "base/heap.h"
#include "search/long_names.h"
#include "search/matcher.h"
#include "search/record_source.h"

namespace {

// The names climbed through, bottom up, each followed by one unit holding
// its length (at most 255): the path is written once from them when the
// climb ends, so a climb costs its depth, not its square. Real paths fit the
// inline units; a deeper chain moves to the heap, doubling.
struct Levels {
    wchar inline_units[512];
    wchar* units;
    uint64_t used;
    uint64_t capacity;
    uint64_t path_units;  // what the names and their backslashes add
};

void levels_start(Levels* levels) {
    levels->units = levels->inline_units;
    levels->used = levels->path_units = 0;
    levels->capacity = sizeof levels->inline_units / sizeof levels->inline_units[0];
}

// Appends a name; 0 when memory is short or the path would pass what a
// counted path can hold.
int levels_push(Levels* levels, const uint8_t* name, uint32_t name_count, uint32_t count) {
    if (count + levels->path_units + name_count + 2 > INT32_MAX) return 0;
    if (levels->used + name_count + 1 > levels->capacity) {
        const uint64_t grown = 2 * levels->capacity + name_count + 1;
        wchar* more = static_cast<wchar*>(heap_alloc(size_t(grown) * sizeof(wchar)));
        if (!more) return 0;
        std::memcpy(more, levels->units, size_t(levels->used) * sizeof(wchar));
        if (levels->units != levels->inline_units) heap_free(levels->units);
        levels->units = more;
        levels->capacity = grown;
    }
    if (name_count) std::memcpy(levels->units + levels->used, name, size_t(name_count) * sizeof(wchar));
    levels->used += name_count;
    levels->units[levels->used++] = wchar(name_count);
    levels->path_units += name_count + 1;
    return 1;
}

// Replaces the path with the levels' names from the top down, each followed
// by a backslash, then the old path; with a leading backslash when the climb
// reached the root. 0 (path unchanged) when memory is short.
int write_path(const Levels* levels, bool rooted, wchar** path, uint32_t* count) {
    const uint64_t grown = *count + levels->path_units + (rooted ? 1 : 0);
    wchar* joined = static_cast<wchar*>(heap_alloc(size_t(grown) * sizeof(wchar)));
    if (!joined) return 0;
    wchar* to = joined;
    if (rooted) *to++ = u'\\';
    for (uint64_t end = levels->used; end;) {
        const uint32_t name_count = levels->units[end - 1];
        end -= name_count + 1;
        if (name_count) std::memcpy(to, levels->units + end, size_t(name_count) * sizeof(wchar));
        to += name_count;
        *to++ = u'\\';
    }
    if (*count) std::memcpy(to, *path, size_t(*count) * sizeof(wchar));
    heap_free(*path);
    *path = joined;
    *count = uint32_t(grown);
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
    Levels levels;
    levels_start(&levels);

    // Each level's name is copied out of its record, so one record buffer
    // serves the whole climb, which needs no recursion however deep the
    // chain. Only a loop (a record met again) or a record that cannot be
    // followed ends it short of the root; its depth has no limit of its own.
    const uint32_t size = volume_record_size();
    uint8_t* buffer = size <= UINT32_MAX - RECORD_BUFFER_SPARE
                          ? static_cast<uint8_t*>(heap_alloc(size_t(size) + RECORD_BUFFER_SPARE))
                          : nullptr;
    bool rooted = false;
    while (buffer) {
        const uint64_t reference = name_parent(value);
        const uint64_t number = reference & NTFS_RECORD_NUMBER_MASK;
        if (number == NTFS_ROOT_RECORD) {
            rooted = true;
            break;
        }
        if (climbed_before(&climbed, number) != 0) break;
        const uint8_t* name = parent_name(volume, reference, buffer, size);
        // A directory's name ends at its first unit 0, as a matched name does.
        if (!name || !levels_push(&levels, name_units(name),
                                  name_end(name_units(name), name_length(name)), *count))
            break;
        value = name;
    }
    const int extended =
        (rooted || levels.used) && write_path(&levels, rooted, path, count) ? 1 : 0;
    heap_free(buffer);
    if (levels.units != levels.inline_units) heap_free(levels.units);
    if (climbed.slots != climbed.inline_slots) heap_free(climbed.slots);
    return extended;
}
