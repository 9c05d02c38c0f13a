#include "platform/posix/disks/container_source.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/byte_source/fd_byte_source.h"
#include "platform/posix/disks/ewf_segments.h"
#include "platform/posix/rights/user_rights.h"

#if defined(MORLA_CONTAINERS)
#include <tsk/libtsk.h>
#if defined(MORLA_QCOW)
#include <libqcow.h>
#endif

namespace {

// The library opens files by name, at its open and maybe again at a read
// (segments it closed to keep few open): every call into it is made with the
// invoking user's rights in effect.
int read_library(ContainerSource* c, uint64_t offset, void* dest, size_t length) {
    PosixUserRights rights;
    if (!posix_take_user_rights(&rights)) return 0;
    char* to = static_cast<char*>(dest);
    int ok = 1;
    // In pieces the library's own bounds hold for; whatever it answers
    // other than the whole piece is a failed read.
    while (length && ok) {
        const size_t piece = length < (8u << 20) ? length : (8u << 20);
        ssize_t got = -1;
#if defined(MORLA_QCOW)
        if (c->kind == CONTAINER_QCOW) {
            libqcow_error_t* error = nullptr;
            got = libqcow_file_read_buffer_at_offset(static_cast<libqcow_file_t*>(c->image), to, piece,
                                                     off64_t(offset), &error);
            libqcow_error_free(&error);
        } else
#endif
            got = tsk_img_read(static_cast<TSK_IMG_INFO*>(c->image), TSK_OFF_T(offset), to, piece);
        ok = got >= 0 && size_t(got) == piece;
        to += piece;
        offset += piece;
        length -= piece;
    }
    posix_give_back_rights(&rights);
    if (!ok) {
        ++c->failed_reads;
        errno = EIO;
    }
    return ok;
}

// The kept block that starts at 'at', or null; 'set' is where it belongs
// (neighbouring blocks fall in different sets).
uint8_t* kept_block(ContainerBlocks* b, uint64_t at, size_t* set) {
    const uint64_t number = at / CONTAINER_BLOCK_BYTES;
    *set = size_t((number * 0x9E3779B97F4A7C15ull) >> (64 - CONTAINER_SET_BITS)) * CONTAINER_WAYS;
    for (size_t i = *set; i < *set + CONTAINER_WAYS; ++i)
        if (b->used[i] && b->at[i] == at) {
            b->used[i] = ++b->clock;
            return b->bytes + i * CONTAINER_BLOCK_BYTES;
        }
    return nullptr;
}

// The kept block holding offset, read in when missing (the least recently
// used one of its set makes room); null when the library fails it.
const uint8_t* block_of(ContainerSource* c, uint64_t offset) {
    ContainerBlocks* b = &c->blocks;
    const uint64_t at = offset - offset % CONTAINER_BLOCK_BYTES;
    size_t set = 0;
    if (uint8_t* kept = kept_block(b, at, &set)) return kept;
    size_t slot = set;
    for (size_t i = set; i < set + CONTAINER_WAYS; ++i)
        if (b->used[i] < b->used[slot]) slot = i;
    const uint64_t length = c->size - at < CONTAINER_BLOCK_BYTES ? c->size - at : uint64_t(CONTAINER_BLOCK_BYTES);
    uint8_t* block = b->bytes + slot * CONTAINER_BLOCK_BYTES;
    b->used[slot] = 0;
    if (!read_library(c, at, block, size_t(length))) return nullptr;
    b->at[slot] = at;
    b->used[slot] = ++b->clock;
    return block;
}

// A large read: the blocks kept that it covers are copied, the stretches
// between them read from the library in one piece each.
int read_through_kept(ContainerSource* c, uint64_t offset, uint8_t* to, size_t length) {
    uint64_t pending = offset;  // start of the stretch not yet read
    const uint64_t end = offset + length;
    for (uint64_t at = offset - offset % CONTAINER_BLOCK_BYTES; at < end; at += CONTAINER_BLOCK_BYTES) {
        size_t set = 0;
        const uint8_t* kept = c->blocks.bytes ? kept_block(&c->blocks, at, &set) : nullptr;
        if (!kept) continue;
        const uint64_t from = at > offset ? at : offset;
        const uint64_t until = at + CONTAINER_BLOCK_BYTES < end ? at + CONTAINER_BLOCK_BYTES : end;
        if (from > pending && !read_library(c, pending, to + (pending - offset), size_t(from - pending)))
            return 0;
        std::memcpy(to + (from - offset), kept + (from - at), size_t(until - from));
        pending = until;
    }
    return pending == end || read_library(c, pending, to + (pending - offset), size_t(end - pending));
}

int read_container(void* context, uint64_t offset, void* dest, size_t length) {
    ContainerSource* c = static_cast<ContainerSource*>(context);
    if (!c->image || offset > c->size || length > c->size - offset) {
        ++c->failed_reads;
        errno = EIO;
        return 0;
    }
    uint8_t* to = static_cast<uint8_t*>(dest);
    if (length > CONTAINER_BLOCK_BYTES) return read_through_kept(c, offset, to, length);
    if (!c->blocks.bytes) {
        c->blocks.bytes = static_cast<uint8_t*>(std::malloc(size_t(CONTAINER_BLOCK_BYTES) * CONTAINER_BLOCKS));
        if (!c->blocks.bytes) return read_library(c, offset, dest, length);
    }
    while (length) {
        const uint8_t* block = block_of(c, offset);
        if (!block) return 0;
        const size_t within = size_t(offset % CONTAINER_BLOCK_BYTES);
        const size_t take = length < CONTAINER_BLOCK_BYTES - within ? length : CONTAINER_BLOCK_BYTES - within;
        std::memcpy(to, block + within, take);
        to += take;
        offset += take;
        length -= take;
    }
    return 1;
}

}  // namespace

namespace {
TSK_IMG_TYPE_ENUM library_type(int kind) {
    switch (kind) {
    case CONTAINER_EWF: return TSK_IMG_TYPE_EWF_EWF;
    case CONTAINER_AFF: return TSK_IMG_TYPE_AFF_AFF;
    case CONTAINER_VMDK: return TSK_IMG_TYPE_VMDK_VMDK;
    case CONTAINER_VHD: return TSK_IMG_TYPE_VHD_VHD;
    default: return TSK_IMG_TYPE_RAW;
    }
}
}  // namespace

namespace {
#if defined(MORLA_QCOW)
void close_qcow(libqcow_file_t* file) {
    libqcow_error_t* error = nullptr;
    libqcow_file_close(file, &error);
    libqcow_error_free(&error);
    libqcow_file_free(&file, &error);
    libqcow_error_free(&error);
}

// A qcow2 image the library reads whole: one that needs a backing file
// (an overlay) or a key is refused, since its reads would not be the disk.
void* open_qcow(const std::string& path, uint64_t* size, const char16_t** cause) {
    libqcow_file_t* file = nullptr;
    libqcow_error_t* error = nullptr;
    if (libqcow_file_initialize(&file, &error) != 1) {
        libqcow_error_free(&error);
        *cause = u"the qcow2 image cannot be opened";
        return nullptr;
    }
    if (libqcow_file_open(file, path.c_str(), LIBQCOW_OPEN_READ, &error) != 1) {
        libqcow_error_free(&error);
        libqcow_file_free(&file, &error);
        libqcow_error_free(&error);
        *cause = u"the qcow2 image cannot be opened (damaged or of a version not read)";
        return nullptr;
    }
    size64_t media = 0;
    uint32_t method = LIBQCOW_ENCRYPTION_METHOD_NONE;
    size_t backing = 0;
    const int backing_known = libqcow_file_get_utf8_backing_filename_size(file, &backing, &error);
    libqcow_error_free(&error);
    if (libqcow_file_get_media_size(file, &media, &error) != 1 ||
        libqcow_file_get_encryption_method(file, &method, &error) != 1 || backing_known < 0) {
        *cause = u"the qcow2 image cannot be opened (damaged or of a version not read)";
    } else if (method != LIBQCOW_ENCRYPTION_METHOD_NONE) {
        *cause = u"the qcow2 image is encrypted";
    } else if (backing_known == 1 && backing > 1) {
        *cause = u"the qcow2 image needs its backing file, which is not read";
    }
    libqcow_error_free(&error);
    if (*cause) {
        close_qcow(file);
        return nullptr;
    }
    *size = uint64_t(media);
    return file;
}
#endif

// The container's library image and its size, opened with the user's
// rights in effect; null with *cause set when it cannot be read.
void* open_image(const std::string& path, int kind, uint64_t* size, const char16_t** cause) {
#if defined(MORLA_QCOW)
    if (kind == CONTAINER_QCOW) return open_qcow(path, size, cause);
#else
    if (kind == CONTAINER_QCOW) {
        *cause = u"this build reads no qcow2 images";
        return nullptr;
    }
#endif
    TSK_IMG_INFO* image = nullptr;
    if (ewf_segments_whole(path, cause))
        image = tsk_img_open_utf8_sing(path.c_str(), library_type(kind), 0);
    tsk_error_reset();
    if (!image) {
        if (!*cause) *cause = u"the container cannot be opened (a segment missing or damaged)";
        return nullptr;
    }
    *size = image->size > 0 ? uint64_t(image->size) : 0;
    return image;
}

void close_image(void* image, int kind) {
#if defined(MORLA_QCOW)
    if (kind == CONTAINER_QCOW) return close_qcow(static_cast<libqcow_file_t*>(image));
#endif
    (void)kind;
    tsk_img_close(static_cast<TSK_IMG_INFO*>(image));
}

// The reader ahead's reads, on its own handle and thread, with the user's
// rights in effect as every read of the library is made.
int read_ahead_handle(void* image, uint64_t offset, void* dest, size_t length) {
    PosixUserRights rights;
    if (!posix_take_user_rights(&rights)) return 0;
    const ssize_t got = tsk_img_read(static_cast<TSK_IMG_INFO*>(image), TSK_OFF_T(offset),
                                     static_cast<char*>(dest), length);
    posix_give_back_rights(&rights);
    return got >= 0 && size_t(got) == length;
}

void close_ahead_handle(void* image) { tsk_img_close(static_cast<TSK_IMG_INFO*>(image)); }

void prefetch_container(void* context, uint64_t offset, uint64_t length) {
    ahead_hint(static_cast<ContainerSource*>(context)->ahead, offset, length);
}

// Whether a reader ahead pays: for a container whose library reads the
// bytes as they lie in its files, when its file is not in the page cache
// already (where the thread would only copy). Not for a compressed one: an
// E01 read ahead so, decompressed twice, was no faster cold.
bool worth_reading_ahead(const std::string& path, int kind) {
    if (kind != CONTAINER_VHD && kind != CONTAINER_VMDK && kind != CONTAINER_SPLIT_RAW) return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status;
    const bool cached = fstat(fd, &status) != 0 || posix_range_cached(fd, 0, uint64_t(status.st_size));
    close(fd);
    return !cached;
}
}  // namespace

int container_open(const std::string& path, int kind, ContainerSource* container,
                   ByteSource* source, const char16_t** cause) {
    *container = ContainerSource{};
    PosixUserRights rights;
    if (!posix_take_user_rights(&rights)) {
        *cause = u"the container cannot be opened with the user's rights";
        return 0;
    }
    *cause = nullptr;
    uint64_t size = 0, again = 0;
    void* image = open_image(path, kind, &size, cause);
    void* second = image && worth_reading_ahead(path, kind) ? open_image(path, kind, &again, cause) : nullptr;
    posix_give_back_rights(&rights);
    if (!image) return 0;
    *cause = nullptr;  // the second handle is only for reading ahead
    if (second && (again != size || size == 0)) close_image(second, kind);
    else if (second) container->ahead = ahead_start(second, read_ahead_handle, close_ahead_handle);
    if (size == 0) {
        close_image(image, kind);
        *cause = u"the container holds no bytes";
        return 0;
    }
    container->image = image;
    container->kind = kind;
    container->size = size;
    source->context = container;
    source->length = container->size;
    source->read = read_container;
    source->prefetch = container->ahead ? prefetch_container : nullptr;
    return 1;
}

void container_close(ContainerSource* container) {
    if (container->ahead) ahead_stop(container->ahead);
    if (container->image) close_image(container->image, container->kind);
    std::free(container->blocks.bytes);
    *container = ContainerSource{};
}

#else

int container_open(const std::string&, int, ContainerSource* container, ByteSource*,
                   const char16_t** cause) {
    *container = ContainerSource{};
    *cause = u"this build reads no image containers";
    return 0;
}

void container_close(ContainerSource* container) { *container = ContainerSource{}; }

#endif
