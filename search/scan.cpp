#include "search/scan.h"

#include <cstring>

#include "base/heap.h"
#include "base/reports.h"
#include "search/long_names.h"
#include "search/matcher.h"
#include "search/output_line.h"
#include "search/path.h"
#include "search/record_source.h"

namespace {

// The heap and a reply's contradiction set no error of their own: each report
// carries the code that says what happened, whatever code was current.
[[noreturn]] void fail_with(uint32_t code, const wchar* step) {
    platform_set_last_error(code);
    fatal_report(step);
}

// Tests every long name of one record and prints each match with its path.
// Names whose ends the pattern turns away are not copied: most of them.
void search_record(Handle volume, const uint8_t* record, uint32_t size, const wchar* pattern,
                   PatternEnds ends, const wchar* prefix) {
    NameWalk walk = name_walk_start(record, size);
    while (const uint8_t* value = next_long_name(&walk)) {
        uint32_t count = name_length(value);
        if (!ends_agree(name_units(value), count, ends)) continue;
        // This copy becomes the path; an empty name is a valid zero-byte request.
        wchar* path = static_cast<wchar*>(heap_alloc(size_t(count) * sizeof(wchar)));
        if (!path) fail_with(platform_error_out_of_memory, u"OOM");
        std::memcpy(path, name_units(value), size_t(count) * sizeof(wchar));
        if (match_name(path, count, pattern)) {
            count = name_end(path, count);  // what was matched is what is printed
            build_path(volume, value, &path, &count);
            print_match(prefix, path, count);
        }
        heap_free(path);
    }
}

}  // namespace

int scan_volume(Handle volume, const wchar* pattern, const wchar* device_path) {
    if (!read_volume_data(volume)) return 1;
    const uint32_t size = volume_record_size();
    // A record size of 0 (or one too large to address with its spare bytes)
    // cannot describe a volume to read: nothing to search.
    if (size == 0 || size > UINT32_MAX - RECORD_BUFFER_SPARE) return 1;
    const uint32_t capacity = size + RECORD_BUFFER_SPARE;
    uint8_t* buffer = static_cast<uint8_t*>(heap_alloc(capacity));
    if (!buffer) fail_with(platform_error_out_of_memory, u"Allocate file buffer");
    const wchar* prefix = volume_prefix(device_path);
    const PatternEnds ends = pattern_ends(pattern);

    // Downward from the highest slot; a request for a free record lands on the
    // nearest lower in-use one, and the next request starts below that.
    int64_t k = volume_valid_length() / int64_t(size);
    int complete = 1;
    while (k > 0) {
        if (!read_file_record(volume, uint64_t(k - 1), buffer, capacity)) {
            console_report(u"Reading MFT record");
            complete = 0;
            break;
        }
        const int64_t returned = reply_record_number(buffer);
        if (returned > k - 1) fail_with(platform_error_corrupt_data, u"Semantic error");
        search_record(volume, reply_record(buffer), size, pattern, ends, prefix);
        k = returned;
    }
    heap_free(buffer);
    return complete;
}
