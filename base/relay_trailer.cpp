#include "base/relay_trailer.h"

#include "platform/platform.h"

void make_relay_trailer(uint32_t status, uint8_t* trailer) {
    trailer[0] = 0;
    for (int i = 0; i < 4; ++i) trailer[1 + i] = uint8_t(status >> (8 * i));
}

int read_relay_trailer(const uint8_t* bytes, uint32_t count, uint32_t* status) {
    if (count != RELAY_TRAILER_BYTES || bytes[0] != 0) return 0;
    *status = 0;
    for (int i = 0; i < 4; ++i) *status |= uint32_t(bytes[1 + i]) << (8 * i);
    return 1;
}

void tell_requester(uint32_t status) {
    if (!platform_relay_worker()) return;
    uint8_t trailer[RELAY_TRAILER_BYTES];
    make_relay_trailer(status, trailer);
    // Nothing more can be done when it fails: the requester then sees a
    // worker that did not finish, which is what it was.
    uint32_t done = 0;
    platform_write_file(platform_get_std_output(), trailer, sizeof trailer, &done);
}
