#include "platform/posix/record_source.h"

#include <cerrno>

// Not built yet: every request fails as unsupported.
int platform_device_io_control(Handle, uint32_t, const void*, uint32_t, void*, uint32_t,
                               uint32_t*) {
    platform_set_last_error(EOPNOTSUPP);
    return 0;
}

void record_source_release(RecordSource*) {}
