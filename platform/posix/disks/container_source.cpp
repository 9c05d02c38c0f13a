#include "platform/posix/disks/container_source.h"

#include <cerrno>

#include "platform/posix/disks/ewf_segments.h"
#include "platform/posix/rights/user_rights.h"

#if defined(MORLA_CONTAINERS)
#include <tsk/libtsk.h>

namespace {

// The library opens files by name, at its open and maybe again at a read
// (segments it closed to keep few open): every call into it is made with the
// invoking user's rights in effect.
int read_container(void* context, uint64_t offset, void* dest, size_t length) {
    ContainerSource* c = static_cast<ContainerSource*>(context);
    if (!c->image || offset > c->size || length > c->size - offset) {
        ++c->failed_reads;
        errno = EIO;
        return 0;
    }
    PosixUserRights rights;
    if (!posix_take_user_rights(&rights)) return 0;
    char* to = static_cast<char*>(dest);
    int ok = 1;
    // In pieces the library's own bounds hold for; whatever it answers
    // other than the whole piece is a failed read.
    while (length && ok) {
        const size_t piece = length < (8u << 20) ? length : (8u << 20);
        ssize_t got = tsk_img_read(static_cast<TSK_IMG_INFO*>(c->image), TSK_OFF_T(offset), to, piece);
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

}  // namespace

int container_open(const std::string& path, ContainerSource* container, ByteSource* source,
                   const char16_t** cause) {
    *container = ContainerSource{nullptr, 0, 0};
    PosixUserRights rights;
    if (!posix_take_user_rights(&rights)) {
        *cause = u"the container cannot be opened with the user's rights";
        return 0;
    }
    TSK_IMG_INFO* image = nullptr;
    *cause = nullptr;
    if (ewf_segments_whole(path, cause))
        image = tsk_img_open_utf8_sing(path.c_str(), TSK_IMG_TYPE_DETECT, 0);
    posix_give_back_rights(&rights);
    tsk_error_reset();
    if (!image) {
        if (!*cause) *cause = u"the container cannot be opened (a segment missing or damaged)";
        return 0;
    }
    if (image->size <= 0) {
        tsk_img_close(image);
        *cause = u"the container holds no bytes";
        return 0;
    }
    container->image = image;
    container->size = uint64_t(image->size);
    source->context = container;
    source->length = container->size;
    source->read = read_container;
    source->prefetch = nullptr;
    return 1;
}

void container_close(ContainerSource* container) {
    if (container->image) tsk_img_close(static_cast<TSK_IMG_INFO*>(container->image));
    *container = ContainerSource{nullptr, 0, 0};
}

#else

int container_open(const std::string&, ContainerSource* container, ByteSource*,
                   const char16_t** cause) {
    *container = ContainerSource{nullptr, 0, 0};
    *cause = u"this build reads no image containers";
    return 0;
}

void container_close(ContainerSource* container) { *container = ContainerSource{nullptr, 0, 0}; }

#endif
