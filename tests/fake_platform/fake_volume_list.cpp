// Fake volume enumeration and mount-path query, with the two-call protocol
// of GetVolumePathNamesForVolumeNameW and injectable failures.
#include "tests/fake_platform/fake_platform.h"

std::vector<FakeVolume> fake_volume_list;
uint32_t fake_find_first_error = 0;
int fake_find_next_fails_after = -1;
std::vector<uint32_t> fake_find_capacities;
int fake_find_handles_open = 0;
std::vector<FakePathQuery> fake_path_queries;

namespace {
const uint32_t kNoMoreFiles = 18;
const uint32_t kAccessDenied = 5;
const uint32_t kFilenameTooLong = 206;
const uint32_t kInvalidName = 123;

// The search record: where the next name comes from.
struct FakeFind {
    size_t next;
};
FakeFind the_find;

int store_name(size_t index, wchar* buffer, uint32_t capacity) {
    const std::u16string& name = fake_volume_list[index].name;
    if (name.size() + 1 > capacity) {
        platform_set_last_error(kFilenameTooLong);
        return 0;
    }
    name.copy(buffer, name.size());
    buffer[name.size()] = 0;
    return 1;
}
}  // namespace

void fake_reset_volume_list() {
    fake_volume_list.clear();
    fake_find_first_error = 0;
    fake_find_next_fails_after = -1;
    fake_find_capacities.clear();
    fake_find_handles_open = 0;
    fake_path_queries.clear();
    the_find.next = 0;
}

std::u16string fake_mount_list(const std::vector<std::u16string>& paths) {
    std::u16string list;
    for (const std::u16string& path : paths) {
        list += path;
        list += u'\0';
    }
    list += u'\0';
    return list;
}

int PLATFORM_API fake_volume_path_names(const wchar* volume_name, wchar* names, uint32_t capacity,
                                        uint32_t* needed) {
    fake_path_queries.push_back({volume_name, names != nullptr, capacity});
    const FakeVolume* volume = nullptr;
    for (const FakeVolume& v : fake_volume_list)
        if (v.name == volume_name) volume = &v;
    if (!volume) {
        platform_set_last_error(kInvalidName);
        return 0;
    }
    uint32_t length = uint32_t(volume->mount_paths.size());
    if (!names || capacity == 0) {
        if (volume->length_error == ERROR_CODE_MORE_DATA) *needed = length;
        platform_set_last_error(volume->length_error);
        return 0;
    }
    if (volume->list_grows || volume->list_unterminated) {
        for (uint32_t i = 0; i < capacity; ++i) names[i] = u'X';
        if (volume->list_grows) {
            *needed = capacity + 4;
            platform_set_last_error(ERROR_CODE_MORE_DATA);
            return 0;
        }
        *needed = capacity;
        return 1;
    }
    *needed = length;
    if (capacity < length) {
        platform_set_last_error(ERROR_CODE_MORE_DATA);
        return 0;
    }
    volume->mount_paths.copy(names, length);
    return 1;
}

Handle platform_find_first_volume(wchar* name, uint32_t capacity) {
    fake_find_capacities.push_back(capacity);
    if (fake_find_first_error) {
        platform_set_last_error(fake_find_first_error);
        return INVALID_HANDLE;
    }
    if (fake_volume_list.empty()) {
        platform_set_last_error(kNoMoreFiles);
        return INVALID_HANDLE;
    }
    if (!store_name(0, name, capacity)) return INVALID_HANDLE;
    the_find.next = 1;
    ++fake_find_handles_open;
    return &the_find;
}

int platform_find_next_volume(Handle find, wchar* name, uint32_t capacity) {
    fake_find_capacities.push_back(capacity);
    if (find != &the_find) {
        platform_set_last_error(6);
        return 0;
    }
    if (fake_find_next_fails_after >= 0 && the_find.next >= size_t(fake_find_next_fails_after)) {
        platform_set_last_error(kAccessDenied);
        return 0;
    }
    if (the_find.next >= fake_volume_list.size()) {
        platform_set_last_error(kNoMoreFiles);
        return 0;
    }
    if (!store_name(the_find.next, name, capacity)) return 0;
    ++the_find.next;
    return 1;
}

int platform_find_volume_close(Handle find) {
    if (find != &the_find) {
        platform_set_last_error(6);
        return 0;
    }
    --fake_find_handles_open;
    return 1;
}
