#include "search/output_line.h"

#include "base/format.h"

const wchar* volume_prefix(const wchar* device_path) {
    for (int i = 0; i < 4; ++i)
        if (!device_path[i]) return device_path + i;
    return device_path + 4;
}

void print_match(const wchar* prefix, wchar* path, uint32_t count) {
    // Written without a branch, so that the compiler checks many units at once.
    for (uint32_t i = 0; i < count; ++i) {
        const wchar c = path[i];
        path[i] = c < 0x20 || c == 0x7F ? u'?' : c;
    }
    print_out(u"%s%.*s\n", prefix, int(count), path);
}
