// FindFirstVolumeW, FindNextVolumeW, FindVolumeClose and
// GetVolumePathNamesForVolumeNameW on Linux. There is no volume manager that
// knows drive letters, so the volumes are the distinct targets of the drive
// entries 'x::' in the prefix folder's dosdevices, in the order of the first
// letter naming each. A volume's name is '\\?\' + the canonical path of its
// target + '\', which opens that path.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>
#include <string>
#include <sys/stat.h>

#include "platform/posix/dosdevices.h"
#include "platform/posix/entry_points_table.h"
#include "platform/posix/handles.h"
#include "platform/posix/utf8.h"

namespace {

const int kLetters = 26;

// What one drive entry stands for. A target that exists is known by its
// device and inode, so two links to one image are one volume. A dangling
// entry is a volume of its own, known by the entry's path: its name opens
// nothing, and its drive root still names it.
struct DriveTarget {
    bool present;   // the entry exists, dangling or not
    bool resolved;  // its target exists
    dev_t device;
    ino_t inode;
    std::string path;  // canonical target path, or the entry's own path
};

struct PosixFindVolume {
    PosixHandle base;
    int count;
    int next;
    std::u16string names[kLetters];
};

std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

DriveTarget drive_target(const std::string& dosdevices, char letter) {
    DriveTarget target{false, false, 0, 0, std::string()};
    std::string entry = dosdevices + "/" + letter + "::";
    struct stat st;
    if (lstat(entry.c_str(), &st) != 0) return target;
    target.present = true;
    if (stat(entry.c_str(), &st) == 0) {
        target.resolved = true;
        target.device = st.st_dev;
        target.inode = st.st_ino;
        target.path = canonical(entry);
    }
    if (target.path.empty()) target.path = entry;
    return target;
}

bool same_volume(const DriveTarget& a, const DriveTarget& b) {
    if (a.resolved != b.resolved) return false;
    if (a.resolved) return a.device == b.device && a.inode == b.inode;
    return a.path == b.path;
}

// The canonical dosdevices folder, so that a dangling entry's name is stable;
// empty when there is no prefix folder or no such folder in it.
std::string dosdevices_folder() {
    std::string prefix = posix_prefix_folder();
    if (prefix.empty()) return std::string();
    return canonical(prefix + "/dosdevices");
}

std::u16string volume_name(const std::string& path) {
    std::u16string name(path.size() + 5, u'\0');
    name[0] = name[1] = name[3] = u'\\';
    name[2] = u'?';
    size_t n = utf8_to_utf16(path.data(), path.size(), &name[4]);
    name.resize(4 + n);
    name += u'\\';
    return name;
}

// Copies the name with its NUL; a capacity too small fails as FindFirstVolumeW
// does, without moving on.
int store_name(const std::u16string& name, wchar* buffer, uint32_t capacity) {
    if (name.size() + 1 > capacity) {
        platform_set_last_error(ENAMETOOLONG);
        return 0;
    }
    name.copy(buffer, name.size());
    buffer[name.size()] = 0;
    return 1;
}

}  // namespace

Handle platform_find_first_volume(wchar* name, uint32_t capacity) {
    std::string dosdevices = dosdevices_folder();
    if (dosdevices.empty()) {
        platform_set_last_error(ENOENT);
        return INVALID_HANDLE;
    }
    DriveTarget volumes[kLetters];
    int count = 0;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        DriveTarget target = drive_target(dosdevices, letter);
        if (!target.present) continue;
        bool known = false;
        for (int i = 0; i < count && !known; ++i) known = same_volume(volumes[i], target);
        if (!known) volumes[count++] = target;
    }
    if (count == 0) {
        platform_set_last_error(ENOENT);
        return INVALID_HANDLE;
    }
    PosixFindVolume* find = new (std::nothrow) PosixFindVolume{{POSIX_FIND_VOLUME, -1}, count, 1, {}};
    if (!find) {
        platform_set_last_error(ENOMEM);
        return INVALID_HANDLE;
    }
    for (int i = 0; i < count; ++i) find->names[i] = volume_name(volumes[i].path);
    if (!store_name(find->names[0], name, capacity)) {
        delete find;
        return INVALID_HANDLE;
    }
    return find;
}

int platform_find_next_volume(Handle handle, wchar* name, uint32_t capacity) {
    PosixFindVolume* find = static_cast<PosixFindVolume*>(handle);
    if (!find || handle == INVALID_HANDLE || find->base.kind != POSIX_FIND_VOLUME) {
        platform_set_last_error(EBADF);
        return 0;
    }
    if (find->next >= find->count) {
        platform_set_last_error(ENOENT);
        return 0;
    }
    if (!store_name(find->names[find->next], name, capacity)) return 0;
    ++find->next;
    return 1;
}

int platform_find_volume_close(Handle handle) {
    PosixFindVolume* find = static_cast<PosixFindVolume*>(handle);
    if (!find || handle == INVALID_HANDLE || find->base.kind != POSIX_FIND_VOLUME) {
        platform_set_last_error(EBADF);
        return 0;
    }
    delete find;
    return 1;
}

int PLATFORM_API posix_volume_path_names(const wchar* volume, wchar* names, uint32_t capacity,
                                         uint32_t* needed) {
    // Only a volume name ('\\?\' + path + '\') names a volume.
    bool volume_form = volume && volume[0] == u'\\' && volume[1] == u'\\' && volume[2] == u'?' &&
                       volume[3] == u'\\';
    std::string path = volume_form ? posix_device_file(volume) : std::string();
    if (path.empty()) {
        platform_set_last_error(EINVAL);
        return 0;
    }
    DriveTarget wanted{true, false, 0, 0, path};
    struct stat st;
    int missing = ENOENT;
    if (stat(path.c_str(), &st) == 0) {
        wanted.resolved = true;
        wanted.device = st.st_dev;
        wanted.inode = st.st_ino;
    } else {
        missing = errno;
    }
    std::string dosdevices = dosdevices_folder();
    char letters[kLetters];
    int count = 0;
    for (char letter = 'a'; letter <= 'z' && !dosdevices.empty(); ++letter) {
        DriveTarget target = drive_target(dosdevices, letter);
        if (target.present && same_volume(target, wanted)) letters[count++] = letter;
    }
    // No entry names it any more: the volume is gone.
    if (count == 0) {
        platform_set_last_error(uint32_t(missing));
        return 0;
    }
    // 'C:\', NUL for each root, then the empty string that ends the list.
    uint32_t length = uint32_t(4 * count + 1);
    if (needed) *needed = length;
    if (!names || capacity < length) {
        platform_set_last_error(ERROR_CODE_MORE_DATA);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        names[4 * i] = wchar(letters[i] - 32);
        names[4 * i + 1] = u':';
        names[4 * i + 2] = u'\\';
        names[4 * i + 3] = 0;
    }
    names[4 * count] = 0;
    return 1;
}
