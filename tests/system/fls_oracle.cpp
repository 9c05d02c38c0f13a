#ifndef _WIN32
#include "tests/system/fls_oracle.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <utility>

#include "tests/system/run_process.h"
#include "tests/system/test_volumes.h"

const TestVolumeSpec TEST_VOLUMES[] = {
    {"names.img.gz", VolumeOrigin::Fixture},
    {"fragmented.img.gz", VolumeOrigin::Fixture},
    {"sample-volume.img.gz", VolumeOrigin::BundledSample},
    {"ntfs-lastaccess.raw.gz", VolumeOrigin::SharedSample},
    {"ntfs-2m.raw.gz", VolumeOrigin::SharedSample},
};
const size_t TEST_VOLUME_COUNT = sizeof TEST_VOLUMES / sizeof TEST_VOLUMES[0];

std::string test_volume_name(const TestVolumeSpec& volume) {
    std::string name = volume.file;
    name = name.substr(0, name.find('.'));
    for (char& c : name)
        if (!std::isalnum((unsigned char)c)) c = '_';
    return name;
}

std::string test_volume_gz(const TestVolumeSpec& volume) {
    switch (volume.origin) {
    case VolumeOrigin::Fixture: return fixture_path(volume.file);
    case VolumeOrigin::BundledSample:
        return std::string(MORLA_SOURCE_DIR) + "/samples/" + volume.file;
    case VolumeOrigin::SharedSample: return shared_sample_path(volume.file);
    }
    return std::string();
}

UnpackedVolume::UnpackedVolume(const std::string& gz_path, long skip_bytes)
    : path(gz_path.empty() ? std::string() : unpack_image(gz_path, skip_bytes)) {}

UnpackedVolume::UnpackedVolume(const TestVolumeSpec& volume)
    // The shared samples are whole disks whose NTFS partition starts at 64 KiB.
    : UnpackedVolume(test_volume_gz(volume), volume.origin == VolumeOrigin::SharedSample ? 65536 : 0) {}

UnpackedVolume::~UnpackedVolume() {
    if (!path.empty()) remove_tree(std::filesystem::path(path).parent_path().string());
}

bool have_tool(const std::string& name) {
    std::string command = "command -v '" + name + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::multiset<std::string> split_lines(const std::string& text) {
    std::multiset<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.insert(line);
    return lines;
}

namespace {
std::string tool_path(const std::string& name) {
    ProcessResult r = run_process("/bin/sh", {"-c", "command -v '" + name + "'"});
    std::string path = r.out;
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
    return path;
}

// '/' to '\', and what morla writes for control characters.
std::string as_morla_path(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
        else if ((unsigned char)c < 0x20 || c == 0x7F) c = '?';
    }
    return path;
}
}  // namespace

bool fls_expected_lines(const std::string& image, const std::string& prefix,
                        std::multiset<std::string>* lines, long sector_offset) {
    ProcessResult r = run_process(
        tool_path("fls"), {"-r", "-p", "-o", std::to_string(sector_offset), image}, {}, 120);
    if (r.status != 0) return false;
    std::set<std::pair<std::string, std::string>> seen;  // (record, path)
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        // "r/r 64-128-2:\treadme.txt", "-/r * 93-128-2:\tkeep/d01.txt"
        size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        std::istringstream fields(line.substr(0, tab));
        std::string type, token;
        fields >> type >> token;
        if (type.empty() || type[0] == 'V' || token == "*") continue;
        std::string record = token.substr(0, token.find_first_of("-(:"));
        std::string path = line.substr(tab + 1);
        if (path.rfind("$OrphanFiles", 0) == 0) continue;
        // fls lists a file once per data stream, as 'name:stream'.
        size_t last = path.rfind('/');
        size_t colon = path.find(':', last == std::string::npos ? 0 : last);
        if (colon != std::string::npos) path.erase(colon);
        // fls shows control characters as '^'; the fixtures have no real '^'.
        for (char& c : path)
            if (c == '^') c = '?';
        seen.insert({record, path});
    }
    for (const auto& [record, path] : seen) lines->insert(prefix + "\\" + as_morla_path(path));
    lines->insert(prefix + "\\.");
    return true;
}

bool ntfsls_expected_lines(const std::string& image, const std::string& prefix,
                           std::multiset<std::string>* lines) {
    ProcessResult r =
        run_process(tool_path("ntfsls"), {"-a", "-s", "-i", "-R", "-p", "/", image}, {}, 120);
    if (r.status != 0) return false;
    // "/dir:" starts a folder; "   36 name" is an entry of it.
    lines->clear();
    std::string folder;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        if (line[0] == '/' && line.back() == ':') {
            folder = line.substr(0, line.size() - 1);
            if (folder == "/") folder.clear();
            continue;
        }
        std::istringstream fields(line);
        std::string record;
        fields >> record;
        std::string name = line.substr(line.find(record) + record.size() + 1);
        if (name == "." || name == "..") continue;
        lines->insert(prefix + as_morla_path(folder + "/" + name));
    }
    lines->insert(prefix + "\\.");
    return true;
}
#endif
