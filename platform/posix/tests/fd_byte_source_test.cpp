// The Linux byte source over a file that shrinks while it is read: small
// reads come out of a map of the file, and a page of it that is gone must
// make the read fail, not end the process with SIGBUS; a read aside by the
// source's thread fails the same way. On one processor no thread reads
// aside.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <unistd.h>

#include "platform/posix/fd_byte_source.h"
#include "tests/system/ntfs_image_edit.h"
#include "tests/system/test_volumes.h"

namespace {

int processors_allowed() {
    cpu_set_t allowed;
    return sched_getaffinity(0, sizeof allowed, &allowed) == 0 ? CPU_COUNT(&allowed) : 0;
}

// A file of 1 MiB, each byte a function of its offset, and the source over it.
struct FileSource {
    std::string folder, file, bytes;
    int fd = -1;
    FdByteSource fd_source;
    ByteSource source;
};

void open_file_source(FileSource* f) {
    f->folder = make_temp_folder();
    f->file = f->folder + "/volume.img";
    f->bytes.assign(1 << 20, '\0');
    for (size_t i = 0; i < f->bytes.size(); ++i) f->bytes[i] = char(i * 7 + i / 4096);
    write_file(f->file, f->bytes);
    f->fd = open(f->file.c_str(), O_RDONLY | O_CLOEXEC);
    fd_source_start(&f->fd_source, f->fd, &f->source);
}

void close_file_source(FileSource* f) {
    fd_source_release(&f->fd_source);
    close(f->fd);
    remove_tree(f->folder);
}

TEST(FdByteSource, ReadsOfAFileCutShortFailInsteadOfFaulting) {
    FileSource f;
    open_file_source(&f);
    ASSERT_GE(f.fd, 0);
    const std::string& file = f.file;
    const std::string& bytes = f.bytes;
    ByteSource& source = f.source;
    ASSERT_EQ(source.length, bytes.size());

    // Small reads (from the map), large ones (pread) and reads aside (by
    // the source's thread), before and after the cut.
    const struct {
        uint64_t offset;
        size_t length;
        bool aside;
    } reads[] = {{0, 512, false},           {700 * 1024, 1024, false},
                 {900 * 1024, 4096, false}, {256 * 1024, 300 * 1024, false},
                 {0, 256 * 1024, true},     {400 * 1024, 256 * 1024, true}};
    // Where this runs on one processor only, there is no read aside to test.
    const bool asides = processors_allowed() != 1;
    auto read = [&](uint64_t offset, void* dest, size_t length, bool aside) {
        if (!aside || !asides) return source.read(source.context, offset, dest, length);
        // A read aside asked for long after the last one is declined (the
        // reader is the slower side); asked again at once, it is taken.
        if (!source.read_aside(source.context, offset, dest, length) &&
            !source.read_aside(source.context, offset, dest, length))
            return -1;
        return source.read_aside_wait(source.context);
    };
    for (const auto& r : reads) {
        std::string got(r.length, '\0');
        ASSERT_EQ(read(r.offset, got.data(), r.length, r.aside), 1);
        EXPECT_TRUE(got == bytes.substr(r.offset, r.length)) << r.offset;
    }
    ASSERT_EQ(truncate(file.c_str(), 512 * 1024), 0);
    for (const auto& r : reads) {
        std::string got(r.length, '\0');
        errno = 0;
        const int ok = read(r.offset, got.data(), r.length, r.aside);
        if (r.offset + r.length <= 512 * 1024) {
            EXPECT_EQ(ok, 1) << r.offset;
        } else {
            EXPECT_EQ(ok, 0) << r.offset;
            EXPECT_EQ(errno, EIO) << r.offset;
        }
    }
    close_file_source(&f);
}

// Reads aside asked for and waited for at once, or after the thread has had
// time to take them: whichever side reads, every byte is the file's, and
// the thread stops when the source is released.
TEST(FdByteSource, EveryReadAsideGivesTheFilesBytesWhoeverReadsIt) {
    if (processors_allowed() == 1) GTEST_SKIP() << "no read aside on one processor";
    FileSource f;
    open_file_source(&f);
    ASSERT_GE(f.fd, 0);
    ByteSource& source = f.source;
    std::string got(64 * 1024, '\0');
    int aside = 0;
    for (int i = 0; i < 400; ++i) {
        const uint64_t offset = uint64_t(i * 7919 % 960) * 1024;
        std::fill(got.begin(), got.end(), '\0');
        if (!source.read_aside(source.context, offset, got.data(), got.size())) continue;
        ++aside;
        if (i % 2) usleep(200);
        ASSERT_EQ(source.read_aside_wait(source.context), 1) << i;
        ASSERT_TRUE(got == f.bytes.substr(offset, got.size())) << i;
    }
    EXPECT_GT(aside, 100);
    // One left in hand (asked twice: see the first test): released all the
    // same, the thread stopped.
    ASSERT_TRUE(source.read_aside(source.context, 0, got.data(), got.size()) ||
                source.read_aside(source.context, 0, got.data(), got.size()));
    close_file_source(&f);
}

// Pinned to one processor, the reader is never handed a read aside (the
// thread and the reader would only wait for each other's turn), and its
// reads go on as usual.
TEST(FdByteSource, NoReadAsideOnOneProcessor) {
    cpu_set_t before, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    int first = 0;
    while (!CPU_ISSET(first, &before)) ++first;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);

    FileSource f;
    open_file_source(&f);
    ByteSource& source = f.source;
    std::string got(256 * 1024, '\0');
    // Asked twice at once, as a fast reader would (see the first test).
    EXPECT_EQ(source.read_aside(source.context, 0, got.data(), got.size()), 0);
    EXPECT_EQ(source.read_aside(source.context, 0, got.data(), got.size()), 0);
    EXPECT_EQ(source.read(source.context, 0, got.data(), got.size()), 1);
    EXPECT_TRUE(got == f.bytes.substr(0, got.size()));
    close_file_source(&f);
    ASSERT_EQ(sched_setaffinity(0, sizeof before, &before), 0);
}

}  // namespace
#endif
