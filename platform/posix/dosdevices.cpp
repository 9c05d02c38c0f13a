#include "platform/posix/dosdevices.h"

#include <cstdlib>

#include "platform/posix/utf8.h"

std::string posix_prefix_folder() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
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
    if (n == 6 && path[0] == u'\\' && path[1] == u'\\' && path[2] == u'.' && path[3] == u'\\' &&
        path[5] == u':') {
        wchar c = path[4];
        if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) return posix_drive_entry(char(c));
        return std::string();
    }
    // A volume name: '\\?\' + Linux path + '\'.
    if (n > 5 && path[0] == u'\\' && path[1] == u'\\' && path[2] == u'?' && path[3] == u'\\' &&
        path[n - 1] == u'\\') {
        std::string file(3 * (n - 5), '\0');
        file.resize(utf16_to_utf8(path + 4, n - 5, file.data()));
        return file;
    }
    return std::string();
}
