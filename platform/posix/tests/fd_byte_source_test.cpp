// The Linux byte source over a file that shrinks while it is read: small
// reads come out of a map of the file, and a page of it that is gone must
// make the read fail, not end the process with SIGBUS; a large read by pread
// fails the same way. And the read-ahead hints reach the system whole, and
// a container's reader ahead reads what it is hinted.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <sched.h>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/posix/byte_source/fd_byte_source.h"
#include "platform/posix/disks/container_ahead.h"
#include "tests/ntfs/ntfs_image_edit.h"
#include "tests/system/test_volumes.h"

namespace {

// A 1 MiB file whose every page differs from its neighbours; its bytes.
std::string write_patterned(const std::string& file) {
    std::string bytes(1 << 20, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7 + i / 4096);
    write_file(file, bytes);
    return bytes;
}

TEST(FdByteSource, ReadsOfAFileCutShortFailInsteadOfFaulting) {
    const std::string folder = make_temp_folder();
    const std::string file = folder + "/volume.img";
    const std::string bytes = write_patterned(file);
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    FdByteSource fd_source;
    ByteSource source;
    fd_source_start(&fd_source, fd, &source);
    ASSERT_EQ(source.length, bytes.size());

    // Small reads (from the map) and large ones (pread), before and after
    // the cut.
    const struct {
        uint64_t offset;
        size_t length;
    } reads[] = {{0, 512},       {700 * 1024, 1024},       {900 * 1024, 4096},
                 {0, 256 * 1024}, {256 * 1024, 300 * 1024}, {400 * 1024, 256 * 1024}};
    auto read = [&](uint64_t offset, void* dest, size_t length) {
        return source.read(source.context, offset, dest, length);
    };
    for (const auto& r : reads) {
        std::string got(r.length, '\0');
        ASSERT_EQ(read(r.offset, got.data(), r.length), 1);
        EXPECT_TRUE(got == bytes.substr(r.offset, r.length)) << r.offset;
    }
    ASSERT_EQ(truncate(file.c_str(), 512 * 1024), 0);
    for (const auto& r : reads) {
        std::string got(r.length, '\0');
        errno = 0;
        const int ok = read(r.offset, got.data(), r.length);
        if (r.offset + r.length <= 512 * 1024) {
            EXPECT_EQ(ok, 1) << r.offset;
        } else {
            EXPECT_EQ(ok, 0) << r.offset;
            EXPECT_EQ(errno, EIO) << r.offset;
        }
    }
    fd_source_release(&fd_source);
    close(fd);
    remove_tree(folder);
}

// Without a map (a device that cannot be mapped), a small read whose first
// pages the system's cache holds takes them at once and reads the rest from
// where they end.
TEST(FdByteSource, AnUnmappedReadPartlyCachedIsReadWhole) {
    const std::string folder = make_temp_folder();
    const std::string file = folder + "/volume.img";
    const std::string bytes = write_patterned(file);
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    FdByteSource fd_source;
    ByteSource source;
    fd_source_start(&fd_source, fd, &source);
    fd_source.map_state = FD_MAP_NONE;
    const struct {
        uint64_t offset, cached;  // the read's first `cached` bytes are in the cache
        size_t length;
    } reads[] = {{64 * 1024, 4096, 8192}, {300 * 1024, 12288, 60 * 1024}, {600 * 1024, 0, 4096}};
    for (const auto& r : reads) {
        SCOPED_TRACE(r.offset);
        fdatasync(fd);
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);  // no read-ahead past the cached part
        std::string got(r.length, '\0');
        if (r.cached) {
            ASSERT_EQ(pread(fd, got.data(), r.cached, off_t(r.offset)), ssize_t(r.cached));
        }
        ASSERT_EQ(source.read(source.context, r.offset, got.data(), r.length), 1);
        EXPECT_TRUE(got == bytes.substr(r.offset, r.length));
    }
    fd_source_release(&fd_source);
    close(fd);
    remove_tree(folder);
}

// The system reads one read-ahead window of a hint and drops the rest: a
// hint for a whole table must still bring all of it in.
TEST(FdByteSource, AHintLargerThanTheReadAheadWindowIsReadWhole) {
    const std::string folder = make_temp_folder();
    const std::string file = folder + "/volume.img";
    const size_t length = 96u << 20;
    write_file(file, std::string(length, 'N'));
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fdatasync(fd), 0);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    const size_t pages = cached_pages(fd, length);
    if (pages > 0) {
        close(fd);
        remove_tree(folder);
        GTEST_SKIP() << "the system's cache keeps this folder's pages (" << pages << ")";
    }
    FdByteSource fd_source;
    ByteSource source;
    fd_source_start(&fd_source, fd, &source);
    source.prefetch(source.context, 0, length);
    // Read-ahead runs in the background: wait for it, for a while.
    // A busy system may leave a few pages of it unread or drop them again;
    // a hint cut to one window reads a tenth of it.
    const size_t all = length / size_t(sysconf(_SC_PAGESIZE)), nearly_all = all - all / 10;
    size_t now = 0;
    for (int tries = 0; tries < 200 && (now = cached_pages(fd, length)) < nearly_all; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GE(now, nearly_all) << "of " << all;
    fd_source_release(&fd_source);
    close(fd);
    remove_tree(folder);
}

// What the reader ahead's fake library was asked, and whether it was closed.
struct AheadLog {
    std::mutex lock;
    std::vector<std::pair<uint64_t, size_t>> reads;
    int closed = 0;
};
AheadLog ahead_log;

int logged_read(void*, uint64_t offset, void*, size_t length) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::lock_guard<std::mutex> hold(ahead_log.lock);
    ahead_log.reads.emplace_back(offset, length);
    return 1;
}
void logged_close(void*) { ++ahead_log.closed; }

// Each hint is read forward in pieces of 1 MiB; hints past the 64 waiting
// are dropped, not queued without bound; a stop waits for the read at hand
// and closes the handle; on one processor no thread starts.
TEST(ContainerAhead, ReadsEachHintForwardAndStopsWithinBounds) {
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    if (CPU_COUNT(&all) < 2) GTEST_SKIP() << "needs two processors";
    ContainerAhead* ahead = ahead_start(nullptr, logged_read, logged_close);
    ASSERT_NE(ahead, nullptr);
    ahead_hint(ahead, 5u << 20, (2u << 20) + 100);
    for (int i = 0; i < 200; ++i) ahead_hint(ahead, uint64_t(100 + i) << 20, 4096);
    auto reads = [] {
        std::lock_guard<std::mutex> hold(ahead_log.lock);
        return ahead_log.reads.size();
    };
    // 63 or 64 of the 200 wait, as the thread took the first before or after.
    for (int i = 0; i < 500 && reads() < 3u + 63u; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const size_t flooded = reads();
    EXPECT_GE(flooded, 3u + 63u);
    EXPECT_LE(flooded, 3u + 64u);
    ahead_hint(ahead, 0, 1u << 30);
    for (int i = 0; i < 500 && reads() < flooded + 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ahead_stop(ahead);
    const size_t at_stop = reads();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(reads(), at_stop);
    EXPECT_EQ(ahead_log.closed, 1);
    EXPECT_LT(at_stop, flooded + 10) << "a stop ends the hint at hand";
    ASSERT_GE(at_stop, 3u);
    EXPECT_EQ(ahead_log.reads[0], std::make_pair(uint64_t(5u << 20), size_t(1u << 20)));
    EXPECT_EQ(ahead_log.reads[1], std::make_pair(uint64_t(6u << 20), size_t(1u << 20)));
    EXPECT_EQ(ahead_log.reads[2], std::make_pair(uint64_t(7u << 20), size_t(100)));

    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(ahead_start(nullptr, logged_read, logged_close), nullptr);
    sched_setaffinity(0, sizeof all, &all);
    EXPECT_EQ(ahead_log.closed, 2);
}

}  // namespace
#endif
