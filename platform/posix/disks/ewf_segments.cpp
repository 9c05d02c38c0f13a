#include "platform/posix/disks/ewf_segments.h"

#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint64_t kFirstSection = 13;  // after the signature and the segment's fields
constexpr uint64_t kSectionHeader = 76;

uint64_t le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

enum Chain { CHAIN_NEXT, CHAIN_DONE, CHAIN_BROKEN, CHAIN_MISSING };

// Follows one segment's sections; each points at the next, further on.
Chain follow(const std::string& name) {
    const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return CHAIN_MISSING;
    struct stat st;
    Chain chain = CHAIN_BROKEN;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const uint64_t size = uint64_t(st.st_size);
        uint64_t at = kFirstSection;
        uint8_t header[kSectionHeader];
        while (at <= size && size - at >= kSectionHeader &&
               pread(fd, header, sizeof header, off_t(at)) == ssize_t(sizeof header)) {
            if (std::memcmp(header, "done", 5) == 0) { chain = CHAIN_DONE; break; }
            if (std::memcmp(header, "next", 5) == 0) { chain = CHAIN_NEXT; break; }
            const uint64_t next = le64(header + 16);
            if (next <= at || next > size) break;  // cut short, or pointing back
            at = next;
        }
    }
    close(fd);
    return chain;
}

// 'E01' -> 'E02' ... 'E99' -> 'EAA' ... 'EZZ' -> 'FAA' ...; false past 'ZZZ'.
bool next_extension(std::string* name) {
    char* e = &(*name)[name->size() - 3];
    const bool lower = e[0] >= 'a';
    const char a = lower ? 'a' : 'A', z = lower ? 'z' : 'Z';
    if (e[1] >= '0' && e[1] <= '9') {
        int n = (e[1] - '0') * 10 + (e[2] - '0') + 1;
        if (n <= 99) {
            e[1] = char('0' + n / 10), e[2] = char('0' + n % 10);
            return true;
        }
        e[1] = e[2] = a;
        return true;
    }
    for (int i = 2; i >= 0; --i) {
        if (e[i] < z) {
            ++e[i];
            return true;
        }
        e[i] = a;
    }
    return false;
}

}  // namespace

bool ewf_segments_whole(const std::string& first, const char16_t** cause) {
    const size_t n = first.size();
    if (n < 4 || first[n - 4] != '.' || (first[n - 3] != 'E' && first[n - 3] != 'e') ||
        first.compare(n - 2, 2, "01") != 0)
        return true;
    std::string name = first;
    // At most the 14,971 names the extensions run through.
    for (int segment = 0; segment < 15000; ++segment) {
        switch (follow(name)) {
        case CHAIN_DONE: return true;
        case CHAIN_BROKEN:
            *cause = u"an E01 segment is cut short or damaged";
            return false;
        case CHAIN_MISSING:
            *cause = u"an E01 segment is missing or unreadable";
            return false;
        case CHAIN_NEXT:
            if (!next_extension(&name)) return true;
            break;
        }
    }
    return true;
}
