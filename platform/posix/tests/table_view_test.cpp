// The table read in place through a map of the volume, against the copying
// path it stands in for: both must give every answer byte for byte, on every
// test volume and on copies cut short, whose missing blocks the map must
// leave to the copying path.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/fd_byte_source.h"
#include "tests/system/fls_oracle.h"
#include "tests/system/ntfs_image_edit.h"

namespace {

std::u16string device_path(const std::string& file) {
    std::u16string path = u"\\\\?\\";
    for (char c : file) path += char16_t((unsigned char)c);
    return path + u"\\";
}

// Whether this process maps the file now.
bool mapped(const std::string& file) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.size() >= file.size() && line.compare(line.size() - file.size(), file.size(), file) == 0)
            return true;
    return false;
}

struct Answers {
    std::string text;  // every reply, or the failure and its code
    bool was_mapped = false;
};

// Asks for every record from two above the top slot down to 0, as the scan
// does, then for every record again by file reference in a scattered order,
// as path reconstruction does.
Answers all_answers(const std::string& image, bool in_place) {
    Answers answers;
    table_view_enabled = in_place;
    Handle volume = platform_open_volume(device_path(image).c_str());
    if (volume == INVALID_HANDLE) {
        table_view_enabled = true;
        answers.text = "no volume";
        return answers;
    }
    std::string data(96, '\0');
    uint32_t returned = 0;
    if (platform_device_io_control(volume, FSCTL_NTFS_VOLUME_DATA, nullptr, 0, data.data(), 96,
                                   &returned)) {
        answers.text = data;
        const uint64_t size = get_le(data, 48, 4);
        const uint64_t slots = size ? get_le(data, 56, 8) / size : 0;
        std::string reply(12 + size + 15, '\0');
        std::vector<uint64_t> asks;
        for (uint64_t n = slots + 2; n-- > 0;) asks.push_back(n);
        for (uint64_t i = 0; i < slots; ++i)
            asks.push_back((i * 7919 % slots) | (uint64_t(i % 0xFFFF + 1) << 48));
        for (uint64_t n : asks) {
            if (platform_device_io_control(volume, FSCTL_NTFS_FILE_RECORD, &n, 8, reply.data(),
                                           uint32_t(reply.size()), &returned))
                answers.text += reply.substr(0, returned);
            else
                answers.text += "failed " + std::to_string(platform_last_error()) + "\n";
        }
    } else {
        answers.text = "no volume data " + std::to_string(platform_last_error());
    }
    answers.was_mapped = mapped(image);
    platform_close_handle(volume);
    table_view_enabled = true;
    return answers;
}

TEST(TableView, AnswersAsTheCopyingPathOnEveryVolume) {
    for (size_t i = 0; i < TEST_VOLUME_COUNT; ++i) {
        UnpackedVolume volume(TEST_VOLUMES[i]);
        if (volume.path.empty()) continue;  // a shared sample that is absent
        SCOPED_TRACE(TEST_VOLUMES[i].file);
        Answers copied = all_answers(volume.path, false);
        Answers in_place = all_answers(volume.path, true);
        EXPECT_FALSE(copied.was_mapped);
        EXPECT_TRUE(in_place.was_mapped);
        EXPECT_GT(in_place.text.size(), 96u * 1024);
        EXPECT_TRUE(copied.text == in_place.text);
        EXPECT_FALSE(mapped(volume.path));  // released with the handle
    }
}

// Cut short anywhere in or after the table (512-byte clusters, about twenty
// runs), the map must answer, or fail, exactly as the copies do.
TEST(TableView, VolumesCutShortAnswerAsTheCopyingPath) {
    UnpackedVolume volume(TestVolumeSpec{"fragmented.img.gz", VolumeOrigin::Fixture});
    ASSERT_FALSE(volume.path.empty());
    const std::string whole = read_file(volume.path);
    const Answers reference = all_answers(volume.path, false);
    size_t differing = 0;
    for (size_t length : {whole.size() / 8, whole.size() / 4, whole.size() / 3, whole.size() / 2,
                          whole.size() - 4096, whole.size() - 1}) {
        SCOPED_TRACE(length);
        write_file(volume.path, whole.substr(0, length));
        Answers copied = all_answers(volume.path, false);
        Answers in_place = all_answers(volume.path, true);
        EXPECT_TRUE(copied.text == in_place.text);
        if (copied.text != reference.text) ++differing;
    }
    EXPECT_GT(differing, 0u);  // some cuts do take records away
}

}  // namespace
#endif
