// Stands in for FindFirstVolumeW, FindNextVolumeW, FindVolumeClose and
// GetVolumePathNamesForVolumeNameW. No volume manager knows drive letters on
// Linux, so the volumes are first the distinct targets of the drive
// entries 'x::' in the prefix folder's dosdevices, in the order of the first
// letter naming each, then every block device that no letter names (but a
// disk whose partitions the kernel shows as devices, and the partitions of
// a lettered disk: either is searched through the other). A
// volume's name is '\\?\' + the canonical path of its target (or the device's
// node) + '\', which opens that path. Its mount paths are its drive roots
// ('C:\'); a device without a letter has one, its node and a backslash
// ('/dev/sdb2\'), so its device path '\\.\/dev/sdb2' opens the node and its
// matches print under '/dev/sdb2\'.
#include "platform/posix/volumes/volume_list.h"

#include <climits>
#include <cstdlib>
#include <new>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/posix/failure.h"
#include "platform/posix/handles.h"
#include "platform/posix/rights/user_rights.h"
#include "platform/posix/utf8.h"
#include "platform/posix/volumes/block_devices.h"
#include "platform/posix/volumes/drive_map.h"

namespace {

// What a drive entry stands for. A block device is known by its number,
// whatever node names it; a file by its device and inode, so two links to
// one image are one volume. A dangling entry is a volume of its own, known by
// the entry's path: its name opens nothing, and its drive root still names it.
struct DriveTarget {
    bool resolved;  // its target exists
    bool block;
    dev_t device;
    ino_t inode;
    std::string path;  // canonical target path, or the entry's own path
};

// One volume of the list: its name, and its mount paths as the query returns
// them (each followed by a NUL, then the empty string that ends the list).
struct VolumeEntry {
    std::u16string name;
    std::u16string mount_paths;
};

struct PosixFindVolume {
    PosixHandle base;
    std::vector<std::u16string> names;
    size_t next;
};

// Every volume listed in this process, for the mount-path query. It answers
// from here and never looks at the target again, so a target that went away
// after the listing fails at its open like any other, instead of leaving a
// volume nobody can name.
std::vector<VolumeEntry> listed_volumes;

std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

DriveTarget drive_target(const std::string& entry) {
    DriveTarget target{false, false, 0, 0, std::string()};
    struct stat st;
    if (stat(entry.c_str(), &st) == 0) {
        target.resolved = true;
        target.block = S_ISBLK(st.st_mode);
        target.device = target.block ? st.st_rdev : st.st_dev;
        target.inode = target.block ? 0 : st.st_ino;
        target.path = canonical(entry);
    }
    if (target.path.empty()) target.path = entry;
    return target;
}

bool same_volume(const DriveTarget& a, const DriveTarget& b) {
    if (a.resolved != b.resolved) return false;
    if (a.resolved) return a.block == b.block && a.device == b.device && a.inode == b.inode;
    return a.path == b.path;
}

// The canonical dosdevices folder of the prefix folder, so that a dangling
// entry's name is stable; empty when there is none.
std::string dosdevices_folder(const std::string& prefix) {
    if (prefix.empty()) return std::string();
    return canonical(prefix + "/dosdevices");
}

std::u16string volume_name(const std::string& path) {
    return u"\\\\?\\" + utf16_text(path) + u'\\';
}

// The drive map's volumes in letter order, then the block devices it leaves.
std::vector<VolumeEntry> list_volumes() {
    std::vector<DriveTarget> targets;
    std::vector<VolumeEntry> volumes;
    std::string prefix = posix_prefix_folder();
    // The drive map is looked at with the rights its targets are opened
    // with, so that a user whose only root power is Morla learns nothing of
    // paths they could not see themselves. Without those rights, no drive.
    PosixUserRights rights;
    std::string dosdevices = posix_take_user_rights(&rights) ? dosdevices_folder(prefix) : "";
    for (char letter = 'a'; letter <= 'z' && !dosdevices.empty(); ++letter) {
        std::string entry = dosdevices + "/" + letter + "::";
        struct stat st;
        if (lstat(entry.c_str(), &st) != 0) continue;
        DriveTarget target = drive_target(entry);
        size_t i = 0;
        while (i < targets.size() && !same_volume(targets[i], target)) ++i;
        if (i == targets.size()) {
            targets.push_back(target);
            volumes.push_back(VolumeEntry{volume_name(target.path), std::u16string()});
        }
        volumes[i].mount_paths += {char16_t(letter - 32), u':', u'\\', u'\0'};
    }
    posix_give_back_rights(&rights);
    const std::vector<BlockDevice> devices = posix_block_devices();
    auto lettered = [&](const BlockDevice& device) {
        for (const DriveTarget& target : targets)
            if (target.block && target.device == device.number) return true;
        return false;
    };
    for (const BlockDevice& device : devices) {
        // A disk is searched through its table, or through the partition
        // devices the kernel shows for it, never both: an unlettered disk
        // whose partitions have devices is left to them, and the partitions
        // of a lettered disk are searched under its letter.
        bool shown_partitions = false, disk_lettered = false;
        for (const BlockDevice& other : devices) {
            shown_partitions = shown_partitions || other.disk == device.name;
            disk_lettered = disk_lettered || (!device.disk.empty() && other.name == device.disk &&
                                              lettered(other));
        }
        if (!lettered(device) && !shown_partitions && !disk_lettered)
            volumes.push_back(VolumeEntry{volume_name(device.node), utf16_text(device.node) + u"\\" + u'\0'});
    }
    for (VolumeEntry& volume : volumes) volume.mount_paths += u'\0';
    return volumes;
}

VolumeEntry* listed_volume(const wchar* name) {
    for (VolumeEntry& volume : listed_volumes)
        if (volume.name == name) return &volume;
    return nullptr;
}

void remember(const std::vector<VolumeEntry>& volumes) {
    for (const VolumeEntry& volume : volumes) {
        if (VolumeEntry* known = listed_volume(volume.name.c_str())) *known = volume;
        else listed_volumes.push_back(volume);
    }
}

// Copies the name with its NUL; a capacity too small fails as FindFirstVolumeW
// does, without moving on.
int store_name(const std::u16string& name, wchar* buffer, uint32_t capacity) {
    if (name.size() + 1 > capacity) return posix_fail(ENAMETOOLONG);
    name.copy(buffer, name.size());
    buffer[name.size()] = 0;
    return 1;
}

}  // namespace

Handle platform_find_first_volume(wchar* name, uint32_t capacity) {
    std::vector<VolumeEntry> volumes = list_volumes();
    if (volumes.empty()) return posix_fail<Handle>(ENOENT);
    remember(volumes);
    PosixFindVolume* find = new (std::nothrow) PosixFindVolume{{POSIX_FIND_VOLUME, -1}, {}, 1};
    if (!find) return posix_fail<Handle>(ENOMEM);
    for (const VolumeEntry& volume : volumes) find->names.push_back(volume.name);
    if (!store_name(find->names[0], name, capacity)) {
        delete find;
        return INVALID_HANDLE;
    }
    return find;
}

int platform_find_next_volume(Handle handle, wchar* name, uint32_t capacity) {
    PosixFindVolume* find = static_cast<PosixFindVolume*>(handle);
    if (!find || handle == INVALID_HANDLE || find->base.kind != POSIX_FIND_VOLUME)
        return posix_fail(EBADF);
    if (find->next >= find->names.size()) return posix_fail(ENOENT);
    if (!store_name(find->names[find->next], name, capacity)) return 0;
    ++find->next;
    return 1;
}

int platform_find_volume_close(Handle handle) {
    PosixFindVolume* find = static_cast<PosixFindVolume*>(handle);
    if (!find || handle == INVALID_HANDLE || find->base.kind != POSIX_FIND_VOLUME)
        return posix_fail(EBADF);
    delete find;
    return 1;
}

int PLATFORM_API posix_volume_path_names(const wchar* volume, wchar* names, uint32_t capacity,
                                         uint32_t* needed) {
    const VolumeEntry* found = volume ? listed_volume(volume) : nullptr;
    if (!found) {
        // Only a volume name ('\\?\' + path + '\') names a volume; one the
        // list never gave is unknown.
        bool volume_form = volume && volume[0] == u'\\' && volume[1] == u'\\' &&
                           volume[2] == u'?' && volume[3] == u'\\' &&
                           !posix_device_file(volume).empty();
        return posix_fail(volume_form ? ENOENT : EINVAL);
    }
    uint32_t length = uint32_t(found->mount_paths.size());
    if (needed) *needed = length;
    if (!names || capacity < length) {
        // The logic's own code for "call again with more room", not an errno.
        platform_set_last_error(ERROR_CODE_MORE_DATA);
        return 0;
    }
    found->mount_paths.copy(names, length);
    return 1;
}
