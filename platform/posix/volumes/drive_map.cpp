// Stands in for the system's own mapping of drive letters and volume names
// to devices: on Linux, the prefix folder's dosdevices entries and paths
// written into the device path.
#include "platform/posix/volumes/drive_map.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/utf8.h"

namespace {

// Whether this is root run through sudo, which names the invoking user.
bool root_under_sudo() {
    const char* user = std::getenv("SUDO_USER");
    return geteuid() == 0 && user && *user;
}

// sudo gives root its own HOME, so root would look for drives in /root/.wine
// while the user who typed the command means their own: their prefix folder
// when they have one, and no drive map at all when they have none (nor when
// the user is unknown), never root's.
std::string invoking_users_prefix() {
    const passwd* entry = getpwnam(std::getenv("SUDO_USER"));
    if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/') return std::string();
    std::string prefix = std::string(entry->pw_dir) + "/.wine";
    struct stat st;
    return stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? prefix : std::string();
}

}  // namespace

std::string posix_prefix_folder() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
    if (root_under_sudo()) return invoking_users_prefix();
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.wine";
    return std::string();
}

std::string posix_drive_entry(char letter) {
    if (letter >= 'A' && letter <= 'Z') letter = char(letter + 32);
    std::string prefix = posix_prefix_folder();
    if (prefix.empty()) return std::string();
    return prefix + "/dosdevices/" + letter + "::";
}

std::string posix_device_file(const wchar* path) {
    size_t n = 0;
    while (path[n]) ++n;
    bool device_form = n > 4 && path[0] == u'\\' && path[1] == u'\\' && path[2] == u'.' &&
                       path[3] == u'\\';
    if (device_form && n == 6 && path[5] == u':') {
        wchar c = path[4];
        if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) return posix_drive_entry(char(c));
        return std::string();
    }
    // A device no letter names, '\\.\' + its node's absolute path, or a
    // path typed on the command line ('\\.\./pc17.E01'): one with a '/'.
    for (size_t i = 4; device_form && i < n; ++i)
        if (path[i] == u'/') return utf8_text(path + 4, n - 4);
    // A volume name, '\\?\' + Linux path + '\', or the same without its
    // trailing backslash, as a volume mounted in a folder is opened.
    if (n > 4 && path[0] == u'\\' && path[1] == u'\\' && path[2] == u'?' && path[3] == u'\\') {
        const size_t end = path[n - 1] == u'\\' ? n - 1 : n;
        return end > 4 ? utf8_text(path + 4, end - 4) : std::string();
    }
    return std::string();
}
