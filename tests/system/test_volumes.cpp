#ifndef _WIN32
#include "tests/system/test_volumes.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

std::string make_temp_folder() {
    std::string pattern = (fs::temp_directory_path() / "morla-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    return made ? std::string(made) : std::string();
}

std::string unpack_image(const std::string& gz_path, long skip_bytes) {
    if (!fs::exists(gz_path)) return std::string();
    std::string folder = make_temp_folder();
    std::string out = folder + "/volume.img";
    std::string command = "gzip -dc '" + gz_path + "'";
    if (skip_bytes > 0) command += " | tail -c +" + std::to_string(skip_bytes + 1);
    command += " > '" + out + "'";
    if (std::system(command.c_str()) != 0) return std::string();
    return out;
}

void link_drive(const std::string& prefix, char letter, const std::string& target) {
    fs::create_directories(prefix + "/dosdevices");
    std::string entry = prefix + "/dosdevices/" + std::string(1, letter) + "::";
    std::error_code ignored;
    fs::remove(entry, ignored);
    fs::create_symlink(target, entry);
}

std::string fixture_path(const std::string& name) {
    return std::string(MORLA_SOURCE_DIR) + "/tests/fixtures/" + name;
}

std::string shared_sample_path(const std::string& name) {
    std::string path = std::string(MORLA_SOURCE_DIR) + "/../shared/ntfs-samples/" + name;
    return fs::exists(path) ? path : std::string();
}

void remove_tree(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
}
#endif
