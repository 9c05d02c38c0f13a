#include "search/path.h"

#include <cstring>

#include "front/heap.h"
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

// The records climbed through so far. Real paths are a few levels deep and
// fit the inline space; a damaged chain spills to the heap.
struct Climbed {
    uint64_t inline_numbers[64];
    uint64_t* numbers;
    uint32_t used;
    uint32_t capacity;
};

int climbed_through(const Climbed* climbed, uint64_t number) {
    for (uint32_t i = 0; i < climbed->used; ++i)
        if (climbed->numbers[i] == number) return 1;
    return 0;
}

int remember_climbed(Climbed* climbed, uint64_t number) {
    if (climbed->used == climbed->capacity) {
        const uint32_t capacity = climbed->capacity * 2;
        uint64_t* numbers = static_cast<uint64_t*>(heap_alloc(size_t(capacity) * sizeof(uint64_t)));
        if (!numbers) return 0;
        std::memcpy(numbers, climbed->numbers, size_t(climbed->used) * sizeof(uint64_t));
        if (climbed->numbers != climbed->inline_numbers) heap_free(climbed->numbers);
        climbed->numbers = numbers;
        climbed->capacity = capacity;
    }
    climbed->numbers[climbed->used++] = number;
    return 1;
}

// Reads the record a parent reference names into buffer and returns its first
// long name, or null. A record that is not the one named (freed and reused,
// or a lower record answered in its place) counts as unreadable: its name
// would put the file under a directory it does not belong to.
const uint8_t* parent_name(Handle volume, uint64_t reference, uint8_t* buffer, uint32_t size) {
    if (!read_file_record(volume, reference, buffer, size + RECORD_BUFFER_SPARE)) return nullptr;
    if (uint64_t(reply_record_number(buffer)) != (reference & REFERENCE_NUMBER_MASK))
        return nullptr;
    const uint8_t* record = reply_record(buffer);
    if (size < RECORD_SEQUENCE + 2 ||
        field_u16(record + RECORD_SEQUENCE) != uint16_t(reference >> REFERENCE_SEQUENCE_SHIFT))
        return nullptr;
    NameWalk walk = name_walk_start(record, size);
    return next_long_name(&walk);
}

}  // namespace

int build_path(Handle volume, const uint8_t* value, wchar** path, uint32_t* count) {
    Climbed climbed;
    climbed.numbers = climbed.inline_numbers;
    climbed.used = 0;
    climbed.capacity = sizeof climbed.inline_numbers / sizeof climbed.inline_numbers[0];

    // The level above replaces the one below, so one record buffer is held at
    // a time and the climb needs no recursion however deep the chain.
    uint8_t* held = nullptr;
    int extended = 0;
    for (;;) {
        const uint64_t reference = name_parent(value);
        const uint64_t number = reference & REFERENCE_NUMBER_MASK;
        if (number == ROOT_RECORD) {
            if (prepend(nullptr, 0, path, count)) extended = 1;
            break;
        }
        // Each level adds at least one unit, so the length limit bounds the
        // levels too; the count is kept explicitly all the same.
        if (climbed.used >= PATH_MAX_UNITS || climbed_through(&climbed, number) ||
            !remember_climbed(&climbed, number))
            break;
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
    if (climbed.numbers != climbed.inline_numbers) heap_free(climbed.numbers);
    return extended;
}
