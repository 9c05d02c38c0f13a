// The NTFS volumes the record source and oracle tests run on, and listings
// of what each holds made by tools independent of Morla: The Sleuth Kit's
// fls and ntfs-3g's ntfsls, put in the form morla prints. Linux only.
#pragma once

#include <ostream>
#include <set>
#include <string>

enum class VolumeOrigin { Fixture, BundledSample, SharedSample };

struct TestVolumeSpec {
    const char* file;  // the .gz under its origin's folder
    VolumeOrigin origin;
};

// How test listings show a volume.
inline void PrintTo(const TestVolumeSpec& volume, std::ostream* out) { *out << volume.file; }

// Every committed fixture, the bundled sample and the Windows-made samples.
extern const TestVolumeSpec TEST_VOLUMES[];
extern const size_t TEST_VOLUME_COUNT;

// A short name for test listings: the file name up to its first '.', with
// '_' for every character other than letters and digits.
std::string test_volume_name(const TestVolumeSpec& volume);

// The compressed image, or empty when it is absent (shared samples).
std::string test_volume_gz(const TestVolumeSpec& volume);

// An image unpacked to a temporary folder (the NTFS partition cut out of a
// shared sample's disk), removed again when the value goes.
struct UnpackedVolume {
    std::string path;  // empty when the image is absent or cannot be unpacked
    explicit UnpackedVolume(const TestVolumeSpec& volume);
    explicit UnpackedVolume(const std::string& gz_path, long skip_bytes = 0);
    ~UnpackedVolume();
    UnpackedVolume(const UnpackedVolume&) = delete;
    UnpackedVolume& operator=(const UnpackedVolume&) = delete;
};

// True when the program is found on PATH.
bool have_tool(const std::string& name);

// The lines morla '*' should print for the volume with this prefix ("C:"),
// from `fls -r -p`: in-use entries only (no deleted, virtual or orphan
// entries), 'name:stream' counted as 'name', each (record, path) once,
// control characters as '?', and the root directory's own line, added to
// lines (so a disk's partitions, each from its sector offset, make one
// set). Returns false when fls cannot read the volume.
bool fls_expected_lines(const std::string& image, const std::string& prefix,
                        std::multiset<std::string>* lines, long sector_offset = 0);

// The same from `ntfsls -R`, for volumes fls cannot read. Names holding a
// line feed would break its output; only volumes without them are listed.
bool ntfsls_expected_lines(const std::string& image, const std::string& prefix,
                           std::multiset<std::string>* lines);

// The lines of a text, without their line feeds.
std::multiset<std::string> split_lines(const std::string& text);
