#include "search/output_line.h"

#include "base/format.h"

const wchar* volume_prefix(const wchar* device_path) {
    for (int i = 0; i < 4; ++i)
        if (!device_path[i]) return device_path + i;
    return device_path + 4;
}

void print_match(const wchar* prefix, const wchar* path, uint32_t count) {
    print_stream_safe(STREAM_OUT, u"%s%.*s\n", prefix, int(count), path);
}
