// Fuzz target: the long-name walk over one file record. The input is the
// record itself, of any size. The walk must stay inside it, end, and yield
// exactly the names a plain transcription of its rules yields.
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "search/long_names.h"

namespace {

uint32_t read_u16(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8); }
uint32_t read_u32(const uint8_t* p) { return read_u16(p) | read_u16(p + 2) << 16; }

// The rules, written out with 64-bit sums so that no test can wrap: from the
// first attribute offset, attribute by attribute until the end marker or an
// attribute of length 0 or past the record; a file name whose header, value
// or name would leave its attribute or value ends the walk; every file name
// not in the DOS name space is a long name. Returns the values' offsets.
size_t reference_walk(const uint8_t* record, uint64_t size, uint64_t* found, size_t room) {
    size_t count = 0;
    if (size < 22) return 0;
    uint64_t at = read_u16(record + 20);
    while (at + 8 <= size) {
        const uint8_t* attribute = record + at;
        uint64_t type = read_u32(attribute), length = read_u32(attribute + 4);
        if (type == 0xFFFFFFFF || length == 0 || at + length > size) break;
        if (type == 0x30) {
            if (length < 24) break;
            uint64_t value_offset = read_u16(attribute + 20);
            uint64_t value_length = read_u32(attribute + 16);
            if (value_offset + value_length > length || value_length < 66) break;
            const uint8_t* value = attribute + value_offset;
            if (66 + 2 * uint64_t(value[64]) > value_length) break;
            if (value[65] != 2) {
                if (count == room) break;
                found[count++] = at + value_offset;
            }
        }
        at += length;
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;  // no record is larger
    // At most one long name per 90 bytes (24-byte header, 66-byte value).
    uint64_t expected[1024];
    const size_t expected_count = reference_walk(data, size, expected, 1024);

    NameWalk walk = name_walk_start(data, uint32_t(size));
    size_t count = 0;
    while (const uint8_t* value = next_long_name(&walk)) {
        FUZZ_CHECK(count < expected_count, "the walk yields more names than its rules");
        FUZZ_CHECK(uint64_t(value - data) == expected[count], "the walk yields another value");
        const size_t end = size_t(value - data) + 66 + 2 * size_t(name_length(value));
        FUZZ_CHECK(end <= size, "a name reaches past the record");
        // Touch every unit, so that the sanitizers see any read outside.
        uint16_t units[255];
        std::memcpy(units, name_units(value), 2 * size_t(name_length(value)));
        ++count;
    }
    FUZZ_CHECK(count == expected_count, "the walk yields fewer names than its rules");
    FUZZ_CHECK(next_long_name(&walk) == nullptr, "an ended walk yields again");
    return 0;
}
