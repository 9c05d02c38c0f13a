// What every fuzz target shares: the libFuzzer entry points, and the check
// that turns a broken promise into a crash libFuzzer records (with the input
// that caused it) and the replay reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

#define FUZZ_CHECK(condition, what)                                                     \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "%s:%d: broken: %s (%s)\n", __FILE__, __LINE__, what, \
                         #condition);                                                   \
            std::abort();                                                               \
        }                                                                               \
    } while (0)
