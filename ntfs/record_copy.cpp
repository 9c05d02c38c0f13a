#include "ntfs/record_copy.h"

#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
namespace {
// 32 bytes a move where the processor has them (AVX2, almost every x86-64
// processor since 2013): half the instructions of the library's copy of a
// 1 KiB record, whose length it has to look at on each call. The rest of the
// build keeps to the baseline instruction set.
using Lane = uint8_t __attribute__((vector_size(32)));

// 256 bytes, eight lanes in and eight out. Tuned as for the first AVX2
// processors: the generic tuning splits each unaligned 32-byte move in two.
[[gnu::target("avx2,tune=haswell"), gnu::always_inline]] inline void copy_eight_lanes(
    uint8_t* to, const uint8_t* from) {
    Lane a, b, c, d, e, f, g, h;
    std::memcpy(&a, from, 32);
    std::memcpy(&b, from + 32, 32);
    std::memcpy(&c, from + 64, 32);
    std::memcpy(&d, from + 96, 32);
    std::memcpy(&e, from + 128, 32);
    std::memcpy(&f, from + 160, 32);
    std::memcpy(&g, from + 192, 32);
    std::memcpy(&h, from + 224, 32);
    std::memcpy(to, &a, 32);
    std::memcpy(to + 32, &b, 32);
    std::memcpy(to + 64, &c, 32);
    std::memcpy(to + 96, &d, 32);
    std::memcpy(to + 128, &e, 32);
    std::memcpy(to + 160, &f, 32);
    std::memcpy(to + 192, &g, 32);
    std::memcpy(to + 224, &h, 32);
}
}  // namespace

[[gnu::target("avx2,tune=haswell")]] void ntfs_copy_in_lanes(uint8_t* to, const uint8_t* from,
                                                             uint32_t size) {
    if (size == 1024) {  // by far the most common size: no loop
        copy_eight_lanes(to, from);
        copy_eight_lanes(to + 256, from + 256);
        copy_eight_lanes(to + 512, from + 512);
        copy_eight_lanes(to + 768, from + 768);
        return;
    }
    for (uint32_t at = 0; at < size; at += 256) copy_eight_lanes(to + at, from + at);
}

// Asked once, before main; cpu_init first makes the answer independent of
// the order in which the program's initialisers run.
const bool ntfs_lanes_available = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
#endif
