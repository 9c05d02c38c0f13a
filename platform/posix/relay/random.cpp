// Stands in for CryptAcquireContextW, CryptGenRandom and
// CryptReleaseContext: on Linux, getrandom, which needs no context.
#include <sys/random.h>

#include "platform/posix/failure.h"

// The context steps always succeed.
int platform_crypt_acquire_context(uintptr_t* context) {
    *context = 1;
    return 1;
}

int platform_crypt_gen_random(uintptr_t, uint32_t length, uint8_t* buffer) {
    while (length) {
        ssize_t got = getrandom(buffer, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return posix_fail(errno);
        }
        buffer += got;
        length -= uint32_t(got);
    }
    return 1;
}

int platform_crypt_release_context(uintptr_t) { return 1; }
