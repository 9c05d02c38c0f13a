// How the relay's worker tells its requester that it finished, and with
// what status: its last bytes on the relay's stream, a NUL and the status in
// 4 bytes, little-endian. No output holds a NUL (names and messages pass the
// terminal filter, which makes U+0000 a '?'), so the first one starts the
// trailer; a stream that ends without a whole trailer came from a worker
// that died (a crash, the memory killer) or never ran.
#pragma once

#include <cstdint>

enum : uint32_t { RELAY_TRAILER_BYTES = 5 };

void make_relay_trailer(uint32_t status, uint8_t* trailer);
// The status of the bytes that followed the first NUL, the NUL included; 1
// when they are exactly one trailer.
int read_relay_trailer(const uint8_t* bytes, uint32_t count, uint32_t* status);

// In the relay's worker, after all its output: sends the trailer with the
// status the process is about to end with. Nothing in any other process.
void tell_requester(uint32_t status);
