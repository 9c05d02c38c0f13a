// The NTFS reader, through the Linux volume requests, on real volumes checked
// against what ntfs-3g's own tools read from the same images, and on copies
// damaged by hand.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/platform.h"
#include "tests/system/fls_oracle.h"
#include "tests/ntfs/ntfs_image_edit.h"
#include "tests/system/run_process.h"

namespace {

constexpr uint64_t RECORD_MASK = 0xFFFFFFFFFFFFull;

std::u16string device_path(const std::string& file) {
    std::u16string path = u"\\\\?\\";
    for (char c : file) path += char16_t((unsigned char)c);
    return path + u"\\";
}

// An image opened as a volume for the length of a test.
struct OpenVolume {
    Handle handle;
    explicit OpenVolume(const std::string& file)
        : handle(platform_open_volume(device_path(file).c_str())) {}
    ~OpenVolume() {
        if (handle != INVALID_HANDLE) platform_close_handle(handle);
    }
};

bool volume_data(Handle volume, std::string* data) {
    data->assign(96, '\0');
    uint32_t returned = 0;
    int ok = platform_device_io_control(volume, FSCTL_NTFS_VOLUME_DATA, nullptr, 0, data->data(),
                                        96, &returned);
    return ok && returned == 96;
}

// The number of the record answered for n, or -1 when the request fails.
int64_t request_record(Handle volume, uint64_t n, uint32_t record_size,
                       std::string* record = nullptr) {
    std::string reply(12 + record_size + 15, '\0');
    std::string in(8, '\0');
    put_le(in, 0, n, 8);
    uint32_t returned = 0;
    if (!platform_device_io_control(volume, FSCTL_NTFS_FILE_RECORD, in.data(), 8, reply.data(),
                                    uint32_t(reply.size()), &returned))
        return -1;
    EXPECT_EQ(returned, 12 + record_size);
    EXPECT_EQ(get_le(reply, 8, 4), record_size);
    if (record) *record = reply.substr(12, record_size);
    return int64_t(get_le(reply, 0, 8));
}

std::string tool_output(const std::string& tool, const std::vector<std::string>& args) {
    ProcessResult r = run_process("/bin/sh", {"-c", "command -v " + tool});
    std::string program = r.out.substr(0, r.out.find('\n'));
    return run_process(program, args, {}, 120).out;
}

// The number after "label" in a tool's text; 0 when absent.
uint64_t number_after(const std::string& text, const std::string& label, size_t from = 0) {
    size_t at = text.find(label, from);
    if (at == std::string::npos) return 0;
    at += label.size();
    while (at < text.size() && !std::isdigit((unsigned char)text[at])) ++at;
    return std::strtoull(text.c_str() + at, nullptr, 10);
}

// The volume as ntfs-3g's tools read it, without any of Morla's code.
struct IndependentView {
    uint64_t sector, cluster, record_size, total_clusters, mft_lcn, mirror_lcn, valid_length;
    std::string bitmap;  // $MFT's $BITMAP
    std::string table;   // $MFT's $DATA
};

IndependentView independent_view(const std::string& image) {
    IndependentView v;
    std::string info = tool_output("ntfsinfo", {"-m", image});
    v.sector = number_after(info, "Sector Size:");
    v.cluster = number_after(info, "Cluster Size:");
    v.total_clusters = number_after(info, "Volume Size in Clusters:");
    v.record_size = number_after(info, "MFT Record Size:");
    v.mft_lcn = number_after(info, "LCN of Data Attribute for FILE_MFT:");
    v.mirror_lcn = number_after(info, "LCN of Data Attribute for File_MFTMirr:");
    std::string mft = tool_output("ntfsinfo", {"-v", "-i", "0", image});
    v.valid_length =
        number_after(mft, "Initialized size:", mft.find("Dumping attribute $DATA"));
    v.bitmap = tool_output("ntfscat", {"-a", "0xb0", "-i", "0", image});
    v.table = tool_output("ntfscat", {"-i", "0", image});
    return v;
}

// Records in use: marked in the bitmap and signed "FILE" (ntfscat gives the
// table with the fix-ups already applied).
std::vector<uint64_t> in_use_records(const IndependentView& v) {
    std::vector<uint64_t> in_use;
    uint64_t slots = v.valid_length / v.record_size;
    for (uint64_t r = 0; r < slots && r / 8 < v.bitmap.size(); ++r) {
        if (!((unsigned char)v.bitmap[r / 8] >> (r % 8) & 1)) continue;
        if ((r + 1) * v.record_size > v.table.size()) break;
        if (v.table.compare(r * v.record_size, 4, "FILE") == 0) in_use.push_back(r);
    }
    return in_use;
}

// The answer the nearest-lower rule gives for n: -1 when nothing is in use
// at or below it.
int64_t nearest_at_or_below(const std::vector<uint64_t>& in_use, uint64_t n) {
    auto above = std::upper_bound(in_use.begin(), in_use.end(), n);
    return above == in_use.begin() ? -1 : int64_t(*(above - 1));
}

std::string first_bytes(const std::string& path, size_t count) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(count, '\0');
    in.read(bytes.data(), std::streamsize(count));
    return bytes;
}

// Asks for every record of the table and beyond it, as the scan and path
// reconstruction do, and compares each answer with the nearest-lower rule
// over the expected in-use set. Returns the number of wrong answers.
// Records from readable on cannot be read: every request for one fails.
int check_answers(Handle volume, const IndependentView& v, const std::vector<uint64_t>& in_use,
                  uint64_t slots, bool compare_bytes, uint64_t readable = ~uint64_t(0)) {
    std::vector<uint64_t> asks;
    for (uint64_t n = 0; n < slots; ++n) asks.push_back(n);
    for (uint64_t n : {slots, slots + 12345, RECORD_MASK, ~uint64_t(0), uint64_t(0xABCD000000000005)})
        asks.push_back(n);
    int wrong = 0;
    for (uint64_t n : asks) {
        uint64_t wanted = std::min(n & RECORD_MASK, slots - 1);
        std::string record;
        int64_t got = request_record(volume, n, uint32_t(v.record_size), &record);
        const int64_t expected = wanted >= readable ? -1 : nearest_at_or_below(in_use, wanted);
        if (got != expected) {
            if (++wrong <= 5)
                ADD_FAILURE() << "record " << n << ": got " << got << ", expected " << expected;
            continue;
        }
        if (got < 0 || !compare_bytes) continue;
        if (record != v.table.substr(uint64_t(got) * v.record_size, v.record_size) && ++wrong <= 5)
            ADD_FAILURE() << "record " << got << " differs";
    }
    return wrong;
}

bool have_ntfs_tools() { return have_tool("ntfsinfo") && have_tool("ntfscat"); }

class ReaderVolumes : public testing::TestWithParam<TestVolumeSpec> {};

TEST_P(ReaderVolumes, AnswersAsNtfs3gReadsTheVolume) {
    if (!have_ntfs_tools()) SKIP_WITHOUT_TOOL("ntfsinfo and ntfscat (package ntfs-3g) are needed");
    UnpackedVolume volume(GetParam());
    if (volume.path.empty()) GTEST_SKIP() << GetParam().file << " is absent";
    IndependentView v = independent_view(volume.path);
    ASSERT_GT(v.record_size, 0u);
    ASSERT_GT(v.valid_length, 0u);
    std::string boot = first_bytes(volume.path, 512);

    OpenVolume open(volume.path);
    ASSERT_NE(open.handle, INVALID_HANDLE);
    std::string data;
    ASSERT_TRUE(volume_data(open.handle, &data));
    EXPECT_EQ(get_le(data, 0, 8), get_le(boot, 72, 8));  // serial number
    EXPECT_EQ(get_le(data, 8, 8), get_le(boot, 40, 8));  // sectors
    EXPECT_EQ(get_le(data, 16, 8), v.total_clusters);
    EXPECT_EQ(get_le(data, 40, 4), v.sector);
    EXPECT_EQ(get_le(data, 44, 4), v.cluster);
    EXPECT_EQ(get_le(data, 48, 4), v.record_size);
    EXPECT_EQ(get_le(data, 52, 4), v.record_size / v.cluster);
    EXPECT_EQ(get_le(data, 56, 8), v.valid_length);
    EXPECT_EQ(get_le(data, 64, 8), v.mft_lcn);
    EXPECT_EQ(get_le(data, 72, 8), v.mirror_lcn);

    std::vector<uint64_t> in_use = in_use_records(v);
    ASSERT_GT(in_use.size(), 16u);
    EXPECT_EQ(check_answers(open.handle, v, in_use, v.valid_length / v.record_size, true), 0);
}

INSTANTIATE_TEST_SUITE_P(All, ReaderVolumes,
                         testing::ValuesIn(TEST_VOLUMES, TEST_VOLUMES + TEST_VOLUME_COUNT),
                         [](const testing::TestParamInfo<TestVolumeSpec>& param) {
                             return test_volume_name(param.param);
                         });

// ---- Damaged copies ----------------------------------------------------------

const TestVolumeSpec NAMES = {"names.img.gz", VolumeOrigin::Fixture};
const TestVolumeSpec FRAGMENTED = {"fragmented.img.gz", VolumeOrigin::Fixture};

// Where record r of the table lies in the image: found by its first bytes,
// which no fix-up touches and which hold the record's own number.
size_t record_offset(const std::string& image, const IndependentView& v, uint64_t r) {
    size_t at = image.find(v.table.substr(r * v.record_size, 256));
    EXPECT_NE(at, std::string::npos) << "record " << r;
    return at == std::string::npos ? 0 : at;
}

// Where record 0 lies: the table's first cluster.
size_t record_zero_offset(const std::string& image) {
    BootFields b = boot_fields(image);
    return size_t(b.mft_lcn * b.cluster);
}

TEST(ReaderDamage, TornAndForeignRecordsCountAsNotInUse) {
    if (!have_ntfs_tools()) SKIP_WITHOUT_TOOL("ntfsinfo and ntfscat are needed");
    UnpackedVolume volume(NAMES);
    ASSERT_FALSE(volume.path.empty());
    IndependentView v = independent_view(volume.path);
    std::vector<uint64_t> in_use = in_use_records(v);
    ASSERT_GT(in_use.size(), 40u);
    struct Damage {
        size_t pick;  // index into the in-use records
        size_t at;
        std::string bytes;
    };
    const size_t last = in_use.size() - 1;
    const Damage damages[] = {
        {last, 0, "BAAD"},                       // the driver's mark of a torn record
        {last - 1, 1022, "\x12\x34"},            // second sector's tail torn
        {last / 2, 510, std::string(2, '\0')},     // first sector's tail torn
        {last / 2 + 1, 6, std::string("\x05\x00", 2)},  // update sequence count wrong
        {last / 2 + 2, 4, std::string("\xFF\x03", 2)},  // update sequence array off the end
        {1, 0, std::string(4, '\0')},            // a zeroed record among the system files
    };
    std::string image = read_file(volume.path);
    std::vector<uint64_t> damaged;
    for (const Damage& d : damages) {
        uint64_t r = in_use[d.pick];
        image.replace(record_offset(image, v, r) + d.at, d.bytes.size(), d.bytes);
        damaged.push_back(r);
    }
    write_file(volume.path, image);
    std::vector<uint64_t> sound;
    for (uint64_t r : in_use)
        if (std::find(damaged.begin(), damaged.end(), r) == damaged.end()) sound.push_back(r);

    OpenVolume open(volume.path);
    EXPECT_EQ(check_answers(open.handle, v, sound, v.valid_length / v.record_size, false), 0);
}

TEST(ReaderDamage, BootSectorsDescribingNoUsableVolumeFail) {
    UnpackedVolume volume(NAMES);
    ASSERT_FALSE(volume.path.empty());
    const std::string good = read_file(volume.path);
    struct Patch {
        const char* what;
        size_t at;
        std::string bytes;
    };
    const Patch patches[] = {
        {"not NTFS", 3, "MSDOS5.0"},
        {"no bytes per sector", 11, std::string(2, '\0')},
        {"100 bytes per sector", 11, std::string("\x64\x00", 2)},
        {"3 sectors per cluster", 13, "\x03"},
        {"2^16 sectors per cluster", 13, "\xF0"},
        {"no clusters per record", 64, std::string(1, '\0')},
        {"2^32-byte records", 64, "\xE0"},
        {"256-byte records", 64, "\xF8"},
        {"127-cluster records", 64, "\x7F"},
        {"no sectors", 40, std::string(8, '\0')},
        {"table beyond the volume", 48, std::string(8, '\x7F')},
        {"table starting at the last cluster", 48, std::string("\xFF\x03\0\0\0\0\0\0", 8)},
    };
    for (const Patch& p : patches) {
        SCOPED_TRACE(p.what);
        std::string image = good;
        image.replace(p.at, p.bytes.size(), p.bytes);
        write_file(volume.path, image);
        OpenVolume open(volume.path);
        std::string data;
        platform_set_last_error(0);
        EXPECT_FALSE(volume_data(open.handle, &data));
        EXPECT_NE(platform_last_error(), 0u);
        EXPECT_EQ(request_record(open.handle, 5, 1024), -1);
    }
}

// Edits record 0 of the table: fixed, changed, protected, written back.
void edit_record_zero(std::string& image, void (*edit)(std::string& record)) {
    size_t at = record_zero_offset(image);
    std::string record = image.substr(at, boot_fields(image).record_size);
    ASSERT_TRUE(apply_fixups(record));
    edit(record);
    protect_record(record);
    image.replace(at, record.size(), record);
}

size_t attribute_of_type(const std::string& record, uint64_t type) {
    for (size_t at : attribute_offsets(record))
        if (get_le(record, at, 4) == type) return at;
    return 0;
}

TEST(ReaderDamage, DamagedTableRecordFailsOrStaysInBounds) {
    if (!have_ntfs_tools()) SKIP_WITHOUT_TOOL("ntfsinfo and ntfscat are needed");
    UnpackedVolume volume(NAMES);
    ASSERT_FALSE(volume.path.empty());
    IndependentView v = independent_view(volume.path);
    std::vector<uint64_t> in_use = in_use_records(v);
    const std::string good = read_file(volume.path);
    struct Edit {
        const char* what;
        void (*edit)(std::string& record);
        bool answers;  // still answers as the undamaged volume does
    };
    const Edit edits[] = {
        {"first run beyond the volume",
         [](std::string& r) {
             size_t data = attribute_of_type(r, 0x80);
             size_t runs = data + get_le(r, data + 32, 2);
             r[runs] = char(0x81);  // a one-byte length, an eight-byte LCN
             r.replace(runs + 2, 8, std::string("\0\0\0\0\0\0\0\x40", 8));
             r[runs + 10] = 0;
         },
         false},
        {"run of no clusters",
         [](std::string& r) {
             size_t data = attribute_of_type(r, 0x80);
             r[data + get_le(r, data + 32, 2) + 1] = 0;
         },
         false},
        {"data attribute of length 0",
         [](std::string& r) { put_le(r, attribute_of_type(r, 0x80) + 4, 0, 4); }, false},
        {"first attribute beyond the record", [](std::string& r) { put_le(r, 20, 0xFFF8, 2); },
         false},
        {"mapping pairs beyond the attribute",
         [](std::string& r) { put_le(r, attribute_of_type(r, 0x80) + 32, 0x7000, 2); }, false},
        {"no bitmap", [](std::string& r) { put_le(r, attribute_of_type(r, 0xB0), 0xB8, 4); },
         false},
        {"data size far beyond the runs",
         [](std::string& r) {
             size_t data = attribute_of_type(r, 0x80);
             put_le(r, data + 48, uint64_t(1) << 60, 8);
         },
         true},
        {"runs claiming more clusters than the piece",
         [](std::string& r) { put_le(r, attribute_of_type(r, 0x80) + 24, 0, 8); }, false},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.what);
        std::string image = good;
        edit_record_zero(image, e.edit);
        write_file(volume.path, image);
        OpenVolume open(volume.path);
        std::string data;
        bool ok = volume_data(open.handle, &data);
        EXPECT_EQ(ok, e.answers);
        if (e.answers) {
            // Record 0 itself was changed, so only the numbers are compared.
            EXPECT_EQ(check_answers(open.handle, v, in_use, v.valid_length / v.record_size, false),
                      0);
        } else {
            EXPECT_EQ(request_record(open.handle, 5, 1024), -1);
        }
    }
}

TEST(ReaderDamage, TruncatedImagesAnswerOrFailWithoutCrashing) {
    if (!have_ntfs_tools()) SKIP_WITHOUT_TOOL("ntfsinfo and ntfscat are needed");
    UnpackedVolume volume(NAMES);
    ASSERT_FALSE(volume.path.empty());
    IndependentView v = independent_view(volume.path);
    std::vector<uint64_t> in_use = in_use_records(v);
    const std::string good = read_file(volume.path);
    const size_t table = record_zero_offset(good);
    uint64_t slots = v.valid_length / v.record_size;
    for (size_t length : {size_t(0), size_t(300), size_t(512), table + 100, table + 40 * 1024,
                          table + slots * 1024, good.size() / 2, good.size() - 512}) {
        SCOPED_TRACE(length);
        write_file(volume.path, good.substr(0, length));
        OpenVolume open(volume.path);
        std::string data;
        volume_data(open.handle, &data);
        // The table is cut where the image ends: the records past it are
        // not there, and the rest answer as before.
        std::vector<uint64_t> on_device;
        for (uint64_t r : in_use)
            if (table + (r + 1) * v.record_size <= length) on_device.push_back(r);
        for (uint64_t n = slots + 2; n-- > 0;) {
            int64_t got = request_record(open.handle, n, uint32_t(v.record_size));
            if (got >= 0) {
                EXPECT_EQ(got, nearest_at_or_below(on_device, std::min(n, slots - 1)));
            }
        }
        if (length >= table + slots * 1024) {
            EXPECT_EQ(request_record(open.handle, 5, 1024), 5);
        }
    }
}

TEST(ReaderRequests, ShortBuffersAndUnknownRequestsFail) {
    UnpackedVolume volume(NAMES);
    ASSERT_FALSE(volume.path.empty());
    OpenVolume open(volume.path);
    Handle h = open.handle;
    std::string out(12 + 1024 + 15, '\0');
    std::string in(8, '\0');
    put_le(in, 0, 5, 8);
    uint32_t returned = 7;
    struct Call {
        const char* what;
        Handle handle;
        uint32_t code;
        const void* input;
        uint32_t input_size;
        uint32_t output_size;
        uint32_t error;  // what callers are told (on Windows, its own code for each)
    };
    const Call calls[] = {
        {"volume data into 95 bytes", h, FSCTL_NTFS_VOLUME_DATA, nullptr, 0, 95, ENOBUFS},
        {"record into one byte too few", h, FSCTL_NTFS_FILE_RECORD, in.data(), 8, 12 + 1023,
         ENOBUFS},
        {"record number of 4 bytes", h, FSCTL_NTFS_FILE_RECORD, in.data(), 4, 12 + 1024, EINVAL},
        {"no record number", h, FSCTL_NTFS_FILE_RECORD, nullptr, 8, 12 + 1024, EINVAL},
        {"unknown request", h, 0x00090073, in.data(), 8, 12 + 1024, ENOTTY},
        {"invalid handle", INVALID_HANDLE, FSCTL_NTFS_VOLUME_DATA, nullptr, 0, 96, EBADF},
    };
    for (const Call& c : calls) {
        SCOPED_TRACE(c.what);
        platform_set_last_error(0);
        EXPECT_EQ(platform_device_io_control(c.handle, c.code, c.input, c.input_size, out.data(),
                                             c.output_size, &returned),
                  0);
        EXPECT_EQ(platform_last_error(), c.error);
        EXPECT_EQ(returned, 0u);
    }
    // A failed request leaves the handle usable.
    EXPECT_EQ(request_record(h, 5, 1024), 5);
}

// ---- A table whose runs continue in an extension record ------------------------

enum class ListVariant { Sound, ForeignBase, HolderWithoutPiece, ZeroLengthEntry, TornExtension };

std::string pad8(std::string bytes) {
    bytes.resize((bytes.size() + 7) / 8 * 8, '\0');
    return bytes;
}

std::string list_entry(uint32_t type, uint64_t vcn, uint64_t reference, uint64_t id) {
    std::string e(32, '\0');
    put_le(e, 0, type, 4);
    put_le(e, 4, 32, 2);
    e[7] = 0x1A;
    put_le(e, 8, vcn, 8);
    put_le(e, 16, reference, 8);
    put_le(e, 24, id, 2);
    return e;
}

// Moves every run of the table's $DATA but the first into extension record
// 16 and gives record 0 an attribute list naming both pieces, as the driver
// does when record 0 fills up. Returns the records the first run holds.
uint64_t split_table_runs(std::string& image, ListVariant variant) {
    const BootFields b = boot_fields(image);
    const size_t rs = b.record_size, at0 = record_zero_offset(image);
    std::string rec0 = image.substr(at0, rs);
    EXPECT_TRUE(apply_fixups(rec0));
    const uint64_t seq0 = get_le(rec0, 16, 2);
    const size_t first_attribute = get_le(rec0, 20, 2);

    std::vector<std::string> attributes;
    size_t data_index = 0;
    for (size_t at : attribute_offsets(rec0)) {
        if (get_le(rec0, at, 4) == 0x80 && rec0[at + 9] == 0) data_index = attributes.size();
        attributes.push_back(rec0.substr(at, get_le(rec0, at + 4, 4)));
    }
    const std::string data = attributes[data_index];
    std::vector<Run> runs = decode_runs(data);
    EXPECT_GT(runs.size(), 2u);
    const uint64_t data_id = get_le(data, 14, 2), next_id = get_le(rec0, 40, 2);
    const uint64_t split_vcn = runs[0].clusters;

    std::string piece0 = data.substr(0, 64);
    put_le(piece0, 24, split_vcn - 1, 8);
    piece0 = pad8(piece0 + encode_runs({runs[0]}));
    put_le(piece0, 4, piece0.size(), 4);
    std::string piece1 = data.substr(0, 64);
    put_le(piece1, 16, split_vcn, 8);
    for (size_t size_field : {40, 48, 56}) put_le(piece1, size_field, 0, 8);
    piece1 = pad8(piece1 + encode_runs(std::vector<Run>(runs.begin() + 1, runs.end())));
    put_le(piece1, 4, piece1.size(), 4);
    attributes[data_index] = piece0;

    const uint64_t ext = 16;
    EXPECT_LT(ext * rs, split_vcn * b.cluster);
    std::string extension = rec0.substr(0, first_attribute) + piece1 +
                            std::string("\xFF\xFF\xFF\xFF\0\0\0\0", 8);
    put_le(extension, 18, 0, 2);  // no links
    put_le(extension, 22, 1, 2);  // in use
    put_le(extension, 24, extension.size(), 4);
    put_le(extension, 32, variant == ListVariant::ForeignBase ? 5 : seq0 << 48, 8);
    put_le(extension, 40, data_id + 1, 2);
    put_le(extension, 44, ext, 4);
    extension.resize(rs, '\0');

    std::string list;
    for (size_t i = 0; i < attributes.size(); ++i) {
        const std::string& a = attributes[i];
        list += list_entry(uint32_t(get_le(a, 0, 4)), 0, seq0 << 48, get_le(a, 14, 2));
        if (i == data_index) {
            uint64_t holder = variant == ListVariant::HolderWithoutPiece ? 24 : ext;
            list += list_entry(0x80, split_vcn, holder | seq0 << 48, data_id);
        }
    }
    if (variant == ListVariant::ZeroLengthEntry) put_le(list, 4, 0, 2);
    std::string list_attribute(24, '\0');
    put_le(list_attribute, 0, 0x20, 4);
    put_le(list_attribute, 10, 24, 2);
    put_le(list_attribute, 14, next_id, 2);
    put_le(list_attribute, 16, list.size(), 4);
    put_le(list_attribute, 20, 24, 2);
    list_attribute = pad8(list_attribute + list);
    put_le(list_attribute, 4, list_attribute.size(), 4);

    std::string rebuilt = rec0.substr(0, first_attribute);
    for (const std::string& a : attributes) {
        if (get_le(a, 0, 4) > 0x20 && !list_attribute.empty()) {
            rebuilt += list_attribute;
            list_attribute.clear();
        }
        rebuilt += a;
    }
    rebuilt += std::string("\xFF\xFF\xFF\xFF\0\0\0\0", 8);
    EXPECT_LE(rebuilt.size(), rs);
    put_le(rebuilt, 24, rebuilt.size(), 4);
    put_le(rebuilt, 40, next_id + 1, 2);
    rebuilt.resize(rs, '\0');

    protect_record(rebuilt);
    protect_record(extension);
    image.replace(at0, rs, rebuilt);
    image.replace(size_t(b.mirror_lcn * b.cluster), rs, rebuilt);  // ntfs-3g checks the mirror
    // A bad sector or a torn write: the record no longer matches its tails.
    if (variant == ListVariant::TornExtension) extension[510] = char(extension[510] ^ 1);
    image.replace(at0 + ext * rs, rs, extension);
    // Extension records are in use like any other.
    for (size_t at : attribute_offsets(rec0)) {
        if (get_le(rec0, at, 4) != 0xB0) continue;
        size_t bitmap_at = size_t(decode_runs(rec0.substr(at, get_le(rec0, at + 4, 4)))[0].lcn *
                                  b.cluster);
        image[bitmap_at + ext / 8] = char(image[bitmap_at + ext / 8] | 1 << (ext % 8));
    }
    return split_vcn * b.cluster / rs;
}

TEST(ReaderAttributeList, TableRunsContinuedInAnExtensionRecord) {
    if (!have_ntfs_tools()) SKIP_WITHOUT_TOOL("ntfsinfo and ntfscat are needed");
    UnpackedVolume volume(FRAGMENTED);
    ASSERT_FALSE(volume.path.empty());
    IndependentView v = independent_view(volume.path);
    std::vector<uint64_t> in_use = in_use_records(v);
    in_use.insert(std::lower_bound(in_use.begin(), in_use.end(), 16), 16);
    const std::string good = read_file(volume.path);
    const uint64_t slots = v.valid_length / v.record_size;

    struct Case {
        const char* what;
        ListVariant variant;
        bool whole;  // the pieces join up; otherwise the records past the first run fail
    };
    const Case cases[] = {
        {"sound", ListVariant::Sound, true},
        {"extension record of another base", ListVariant::ForeignBase, false},
        {"entry naming a record without the piece", ListVariant::HolderWithoutPiece, false},
        {"entry of length 0", ListVariant::ZeroLengthEntry, false},
        {"extension record torn", ListVariant::TornExtension, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string image = good;
        uint64_t first_run_records = split_table_runs(image, c.variant);
        ASSERT_LT(first_run_records, slots);
        write_file(volume.path, image);
        std::vector<uint64_t> expected = in_use;
        if (c.variant == ListVariant::TornExtension)  // counts as not in use
            expected.erase(std::find(expected.begin(), expected.end(), 16));
        // ntfs-3g reads the rearranged table as the original plus record 16.
        IndependentView patched = v;
        if (c.whole) {
            patched = independent_view(volume.path);
            EXPECT_EQ(in_use_records(patched), in_use);
        }
        OpenVolume open(volume.path);
        std::string data;
        ASSERT_TRUE(volume_data(open.handle, &data));
        EXPECT_EQ(get_le(data, 56, 8), v.valid_length);
        EXPECT_EQ(check_answers(open.handle, patched, expected, slots, c.whole,
                                c.whole ? ~uint64_t(0) : first_run_records),
                  0);
    }
}

}  // namespace
#endif
