#include "platform/posix/volumes/part_names.h"

bool posix_part_device_path(const wchar* device_path, bool block_device, uint32_t number,
                            wchar* out, size_t capacity) {
    size_t n = 0;
    while (device_path[n]) ++n;
    wchar digits[10];
    size_t count = 0;
    do {
        digits[count++] = wchar(u'0' + number % 10);
        number /= 10;
    } while (number);
    // A drive: the letter, the number, the colon.
    const bool drive = n == 6 && device_path[5] == u':';
    const size_t stem = drive ? 5 : n;
    const bool after_digit = stem && device_path[stem - 1] >= u'0' && device_path[stem - 1] <= u'9';
    // The kernel puts a 'p' between a disk's name ending in a digit and the number.
    const bool p = !drive && (!block_device || after_digit);
    const size_t total = stem + (p ? 1 : 0) + count + (drive ? 1 : 0);
    if (total + 1 > capacity) return false;
    size_t at = 0;
    for (; at < stem; ++at) out[at] = device_path[at];
    if (p) out[at++] = u'p';
    while (count) out[at++] = digits[--count];
    if (drive) out[at++] = u':';
    out[at] = 0;
    return true;
}
