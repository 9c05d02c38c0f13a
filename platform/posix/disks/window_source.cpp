#include "platform/posix/disks/window_source.h"

#include <cerrno>

namespace {

int read_window(void* context, uint64_t offset, void* dest, size_t length) {
    const WindowSource* w = static_cast<const WindowSource*>(context);
    if (offset > w->length || length > w->length - offset) {
        errno = EIO;
        return 0;
    }
    return w->disk.read(w->disk.context, w->start + offset, dest, length);
}

void prefetch_window(void* context, uint64_t offset, uint64_t length) {
    const WindowSource* w = static_cast<const WindowSource*>(context);
    w->disk.prefetch(w->disk.context, w->start + offset, length);
}

}  // namespace

void window_source_start(WindowSource* window, const ByteSource* disk, uint64_t start,
                         uint64_t length, ByteSource* source) {
    window->disk = *disk;
    window->start = start;
    window->length = length;
    source->context = window;
    source->length = length;
    source->read = read_window;
    source->prefetch = disk->prefetch ? prefetch_window : nullptr;
}
