// Fuzz target: the Linux record source and the whole scan, path
// reconstruction included, over a real NTFS volume (the names fixture, cut to
// the part a search reads) whose bytes the input changes. The input is a
// list of patches, each aimed at a part of the volume the search reads:
//
//   0 raw      anywhere in the image          offset(3) length(1) bytes
//   1 boot     the boot sector                offset(2) length(1) bytes
//   2 record   a file record, fix-ups kept    record(2) offset(2) length(1) bytes
//   3 field    a header or attribute field    record(2) field(1) attribute(1) value
//   4 runs     $MFT's own $DATA run list      offset(1) length(1) bytes
//   5 bitmap   $MFT's $BITMAP                 offset(2) length(1) bytes
//   6 parent   a file name's parent reference name(2) record(2) sequence(1 or 3)
//   7 truncate the image's end                length(3)
//     (a length with its top bit set cuts the image at the rest of it only
//     once the volume is open and its table found, so that the search's
//     reads, copies out of the map included, meet a device that shrank)
//
// (the first byte of each patch picks its kind; missing bytes read as 0).
// Patches inside a record are made to the record with its update-sequence
// fix-ups applied, which are then put back, so that they reach the walk and
// the attribute parsing instead of only tearing the record. The patched image
// is searched for '*' through a memory file; the search must end, stay inside
// its buffers, keep no memory or descriptor, and print only whole lines made
// of the volume prefix and a path without control characters.
#include <algorithm>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "base/heap.h"
#include "fuzz/fuzz_check.h"
#include "ntfs/layout.h"
#include "platform/platform.h"
#include "search/scan.h"
#include "tests/ntfs/ntfs_image_edit.h"

namespace {

struct NamePlace {
    uint32_t record;
    uint32_t value;  // offset of the file name value within the record
};

struct Volume {
    std::string image;  // as committed, cut after the last byte a search reads
    uint32_t record_size;
    std::vector<uint64_t> record_at;  // image offset of each record of the table
    std::vector<uint16_t> sequence;   // each record's sequence number
    size_t runs_at;                   // record 0's $DATA run list, within record 0
    size_t runs_room;
    uint64_t bitmap_at;  // the table's bitmap in the image
    uint64_t bitmap_bytes;
    std::vector<NamePlace> names;
    int volume_fd;     // the patched image, as a memory file
    int output_fd;     // standard output while the search runs
    int saved_stdout;
    std::u16string device_path;
    std::string prefix;  // what begins every line, as UTF-8
    std::string pristine_output;
    int64_t cut_after_open = -1;  // -1: none
};

Volume volume;

// The update-sequence array, when the record is sound: its offset and count.
bool fixups(const std::string& record, size_t* usa, size_t* count) {
    if (record.size() < 8 || record.compare(0, 4, "FILE") != 0) return false;
    *usa = get_le(record, NTFS_RECORD_USA_OFFSET, 2);
    *count = get_le(record, NTFS_RECORD_USA_COUNT, 2);
    if (*count < 1 || *count - 1 > record.size() / 512 || *usa + 2 * *count > record.size())
        return false;
    for (size_t i = 1; i < *count; ++i)
        if (record.compare(i * 512 - 2, 2, record, *usa, 2) != 0) return false;
    return true;
}

// Changes bytes of record r as they read with the fix-ups applied; a torn
// record is changed as it lies.
// Two bytes of a record copied within it (string::replace of a string by
// itself makes an optimising GCC 12 warn of a bound it cannot have).
void copy_pair(std::string& record, size_t to, size_t from) {
    record[to] = record[from];
    record[to + 1] = record[from + 1];
}

void patch_record(std::string& image, uint32_t r, size_t offset, const std::string& bytes) {
    const uint64_t at = volume.record_at[r];
    const size_t size = volume.record_size;
    if (at + size > image.size() || offset >= size) return;
    std::string record = image.substr(at, size);
    size_t usa = 0, count = 0;
    const bool sound = fixups(record, &usa, &count);
    if (sound)
        for (size_t i = 1; i < count; ++i) copy_pair(record, i * 512 - 2, usa + 2 * i);
    record.replace(offset, std::min(bytes.size(), size - offset), bytes, 0, size - offset);
    if (sound) {  // the tails back into the array, the sequence number over them
        for (size_t i = 1; i < count; ++i) {
            copy_pair(record, usa + 2 * i, i * 512 - 2);
            copy_pair(record, i * 512 - 2, usa);
        }
    }
    image.replace(at, size, record);
}

// Offsets of record r's attributes as it lies in the pristine image.
std::vector<size_t> attributes_of(uint32_t r) {
    std::string record = volume.image.substr(volume.record_at[r], volume.record_size);
    size_t usa, count;
    if (!fixups(record, &usa, &count)) return {};
    return attribute_offsets(record);
}

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at;
};

uint64_t take(Input* in, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i, ++in->at)
        if (in->at < in->size) v |= uint64_t(in->data[in->at]) << (8 * i);
    return v;
}

std::string take_bytes(Input* in, size_t count) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) bytes += char(take(in, 1));
    return bytes;
}

std::string little_endian(uint64_t value, int width) {
    std::string bytes(size_t(width), '\0');
    put_le(bytes, 0, value, width);
    return bytes;
}

// A value for a field: mostly the edges that matter, sometimes raw bytes.
uint64_t field_value(Input* in, int width) {
    static const uint64_t EDGES[] = {0,      1,      2,      8,          0x18,       0x30,
                                     0x42,   0x48,   0x7F,   0x80,       0xFF,       0x100,
                                     0x1FE,  0x200,  0x3F8,  0x3FF,      0x400,      0xFFF8,
                                     0xFFFF, 0x10000, 0x7FFFFFFF, 0xFFFFFFFF, ~uint64_t(0)};
    const uint64_t choice = take(in, 1);
    if (choice < 0xC0) return EDGES[choice % (sizeof EDGES / sizeof EDGES[0])];
    return take(in, width);
}

void apply_field(std::string& image, Input* in) {
    const uint32_t r = uint32_t(take(in, 2) % volume.record_at.size());
    const uint64_t field = take(in, 1), pick = take(in, 1);
    struct Field {
        bool in_attribute;
        size_t offset;
        int width;
        bool in_value;  // from the attribute's resident value
    };
    static const Field FIELDS[] = {
        {false, NTFS_RECORD_USA_OFFSET, 2, false},
        {false, NTFS_RECORD_USA_COUNT, 2, false},
        {false, NTFS_RECORD_SEQUENCE, 2, false},
        {false, NTFS_RECORD_FIRST_ATTRIBUTE, 2, false},
        {false, NTFS_RECORD_FLAGS, 2, false},
        {true, NTFS_ATTRIBUTE_TYPE, 4, false},
        {true, NTFS_ATTRIBUTE_LENGTH, 4, false},
        {true, NTFS_ATTRIBUTE_NON_RESIDENT, 1, false},
        {true, NTFS_ATTRIBUTE_NAME_LENGTH, 1, false},
        {true, NTFS_RESIDENT_VALUE_LENGTH, 4, false},
        {true, NTFS_RESIDENT_VALUE_OFFSET, 2, false},
        {true, NTFS_NONRESIDENT_LAST_VCN, 8, false},
        {true, NTFS_NONRESIDENT_RUNS_OFFSET, 2, false},
        {true, NTFS_NONRESIDENT_ALLOCATED_SIZE, 8, false},
        {true, NTFS_NONRESIDENT_DATA_SIZE, 8, false},
        {true, NTFS_NONRESIDENT_VALID_SIZE, 8, false},
        {true, NTFS_NAME_LENGTH, 1, true},
        {true, NTFS_NAME_SPACE, 1, true},
        {true, NTFS_NAME_PARENT, 8, true},
    };
    const Field& f = FIELDS[field % (sizeof FIELDS / sizeof FIELDS[0])];
    const uint64_t value = field_value(in, f.width);
    size_t offset = f.offset;
    if (f.in_attribute) {
        std::vector<size_t> attributes = attributes_of(r);
        if (attributes.empty()) return;
        const size_t a = attributes[pick % attributes.size()];
        offset += a;
        if (f.in_value) {
            const std::string record = volume.image.substr(volume.record_at[r], volume.record_size);
            offset += get_le(record, a + NTFS_RESIDENT_VALUE_OFFSET, 2);
        }
    }
    if (offset + size_t(f.width) > volume.record_size) return;
    patch_record(image, r, offset, little_endian(value, f.width));
}

std::string patched_image(const uint8_t* data, size_t size) {
    std::string image = volume.image;
    volume.cut_after_open = -1;
    Input in{data, size, 0};
    while (in.at < in.size) {
        switch (take(&in, 1) % 8) {
        case 0: {
            const uint64_t at = take(&in, 3);
            const std::string bytes = take_bytes(&in, 1 + take(&in, 1) % 16);
            if (!image.empty()) image.replace(at % image.size(), bytes.size(), bytes);
            break;
        }
        case 1: {
            const uint64_t at = take(&in, 2) % 512;
            const std::string bytes = take_bytes(&in, 1 + take(&in, 1) % 8);
            if (image.size() >= 512)
                image.replace(at, std::min<size_t>(bytes.size(), 512 - at), bytes);
            break;
        }
        case 2: {
            const uint32_t r = uint32_t(take(&in, 2) % volume.record_at.size());
            const size_t at = take(&in, 2) % volume.record_size;
            patch_record(image, r, at, take_bytes(&in, 1 + take(&in, 1) % 16));
            break;
        }
        case 3: apply_field(image, &in); break;
        case 4: {
            const size_t at = take(&in, 1) % volume.runs_room;
            patch_record(image, 0, volume.runs_at + at,
                         take_bytes(&in, std::min<size_t>(1 + take(&in, 1) % 16,
                                                          volume.runs_room - at)));
            break;
        }
        case 5: {
            const uint64_t at = volume.bitmap_at + take(&in, 2) % volume.bitmap_bytes;
            const std::string bytes = take_bytes(&in, 1 + take(&in, 1) % 8);
            if (at < image.size())
                image.replace(at, std::min<size_t>(bytes.size(), image.size() - at), bytes);
            break;
        }
        case 6: {
            const NamePlace& name = volume.names[take(&in, 2) % volume.names.size()];
            const uint64_t target = take(&in, 2) % volume.record_at.size();
            const uint64_t how = take(&in, 1);
            // The target's own sequence number (a sound link, maybe a loop),
            // the next one (a reused record), or any.
            const uint64_t sequence = how < 0x80   ? volume.sequence[target]
                                      : how < 0xC0 ? uint16_t(volume.sequence[target] + 1)
                                                   : take(&in, 2);
            patch_record(image, name.record, name.value,
                         little_endian(target | sequence << 48, 8));
            break;
        }
        case 7: {
            const uint64_t length = take(&in, 3);
            if (length & 0x800000) volume.cut_after_open = int64_t(length & 0x7FFFFF);
            else if (length < image.size()) image.resize(length);
            break;
        }
        }
    }
    return image;
}

std::string read_all(int fd) {
    std::string bytes;
    char buffer[65536];
    for (off_t at = 0;;) {
        ssize_t got = pread(fd, buffer, sizeof buffer, at);
        if (got <= 0) return bytes;
        bytes.append(buffer, size_t(got));
        at += got;
    }
}

void write_all(int fd, const std::string& bytes) {
    FUZZ_CHECK(ftruncate(fd, 0) == 0, "memory file not emptied");
    for (size_t at = 0; at < bytes.size();) {
        ssize_t put = pwrite(fd, bytes.data() + at, bytes.size() - at, off_t(at));
        FUZZ_CHECK(put > 0, "memory file not written");
        at += size_t(put);
    }
}

// Searches the memory file for '*' and returns what went to standard output.
std::string search() {
    std::fflush(stdout);
    FUZZ_CHECK(ftruncate(volume.output_fd, 0) == 0 && lseek(volume.output_fd, 0, SEEK_SET) == 0,
               "output file not emptied");
    FUZZ_CHECK(dup2(volume.output_fd, STDOUT_FILENO) == STDOUT_FILENO, "output not redirected");
    Handle handle = platform_open_volume(volume.device_path.c_str());
    if (handle != INVALID_HANDLE) {
        if (volume.cut_after_open >= 0) {
            uint8_t data[96];
            uint32_t returned;
            platform_device_io_control(handle, FSCTL_NTFS_VOLUME_DATA, nullptr, 0, data,
                                       sizeof data, &returned);
            FUZZ_CHECK(ftruncate(volume.volume_fd, volume.cut_after_open) == 0, "image not cut");
        }
        scan_volume(handle, u"*", volume.device_path.c_str());
        platform_close_handle(handle);
    }
    std::fflush(stdout);
    FUZZ_CHECK(dup2(volume.saved_stdout, STDOUT_FILENO) == STDOUT_FILENO, "output not restored");
    return read_all(volume.output_fd);
}

int lowest_free_fd() {
    int fd = dup(0);
    close(fd);
    return fd;
}

void load_volume() {
    std::string command = "gzip -dc '" MORLA_SOURCE_DIR "/tests/fixtures/names.img.gz'";
    FILE* gzip = popen(command.c_str(), "r");
    FUZZ_CHECK(gzip, "gzip not started");
    char buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, gzip)) > 0;)
        volume.image.append(buffer, got);
    FUZZ_CHECK(pclose(gzip) == 0 && volume.image.size() > 65536, "fixture not unpacked");

    const BootFields boot = boot_fields(volume.image);
    volume.record_size = boot.record_size;
    std::string record0 = volume.image.substr(boot.mft_lcn * boot.cluster, boot.record_size);
    FUZZ_CHECK(apply_fixups(record0), "record 0 unsound");
    uint64_t end = 512;
    for (size_t a : attribute_offsets(record0)) {
        const uint64_t type = get_le(record0, a + NTFS_ATTRIBUTE_TYPE, 4);
        if ((type != NTFS_TYPE_DATA && type != NTFS_TYPE_BITMAP) ||
            record0[a + NTFS_ATTRIBUTE_NAME_LENGTH] != 0)
            continue;
        const std::string attribute =
            record0.substr(a, get_le(record0, a + NTFS_ATTRIBUTE_LENGTH, 4));
        const std::vector<Run> runs = decode_runs(attribute);
        for (const Run& run : runs) end = std::max(end, (run.lcn + run.clusters) * boot.cluster);
        if (type == NTFS_TYPE_BITMAP) {
            volume.bitmap_at = runs.at(0).lcn * boot.cluster;
            volume.bitmap_bytes = runs.at(0).clusters * boot.cluster;
            continue;
        }
        const size_t runs_offset = get_le(attribute, NTFS_NONRESIDENT_RUNS_OFFSET, 2);
        volume.runs_at = a + runs_offset;
        volume.runs_room = attribute.size() - runs_offset;
        const uint64_t table_bytes = get_le(attribute, NTFS_NONRESIDENT_DATA_SIZE, 8);
        uint64_t vcn = 0;
        for (const Run& run : runs) {
            for (uint64_t byte = 0; byte < run.clusters * boot.cluster; byte += boot.record_size) {
                if (vcn * boot.cluster + byte + boot.record_size > table_bytes) break;
                volume.record_at.push_back(run.lcn * boot.cluster + byte);
            }
            vcn += run.clusters;
        }
    }
    FUZZ_CHECK(!volume.record_at.empty() && volume.bitmap_bytes && volume.runs_room,
               "table not found");
    volume.image.resize(end);

    for (uint32_t r = 0; r < volume.record_at.size(); ++r) {
        std::string record = volume.image.substr(volume.record_at[r], volume.record_size);
        const bool sound = apply_fixups(record);
        volume.sequence.push_back(uint16_t(sound ? get_le(record, NTFS_RECORD_SEQUENCE, 2) : 0));
        if (!sound) continue;
        for (size_t a : attribute_offsets(record))
            if (get_le(record, a + NTFS_ATTRIBUTE_TYPE, 4) == NTFS_TYPE_FILE_NAME)
                volume.names.push_back(
                    {r, uint32_t(a + get_le(record, a + NTFS_RESIDENT_VALUE_OFFSET, 2))});
    }
    FUZZ_CHECK(volume.names.size() > 40, "too few names");

    volume.volume_fd = memfd_create("morla-fuzz-volume", 0);
    volume.output_fd = memfd_create("morla-fuzz-output", 0);
    volume.saved_stdout = dup(STDOUT_FILENO);
    FUZZ_CHECK(volume.volume_fd >= 0 && volume.output_fd >= 0 && volume.saved_stdout >= 0,
               "memory files not made");
    const std::string file = "/proc/self/fd/" + std::to_string(volume.volume_fd);
    volume.device_path = u"\\\\?\\";
    for (char c : file) volume.device_path += char16_t(c);
    volume.device_path += u"\\";
    volume.prefix = file + "\\";

    write_all(volume.volume_fd, volume.image);
    volume.pristine_output = search();
    FUZZ_CHECK(volume.pristine_output.find(volume.prefix + "\\readme.txt\n") != std::string::npos,
               "the intact volume is not searched");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    heap_keep_freed = false;  // every release reaches the sanitizers
    if (volume.image.empty()) load_volume();
    write_all(volume.volume_fd, patched_image(data, size));
    const int free_fd = lowest_free_fd();
    const std::string output = search();
    FUZZ_CHECK(lowest_free_fd() == free_fd, "a descriptor kept open");

    if (size == 0) FUZZ_CHECK(output == volume.pristine_output, "the intact volume differs");
    FUZZ_CHECK(output.empty() || output.back() == '\n', "a line without its end");
    size_t lines = 0;
    for (size_t at = 0; at < output.size(); ++lines) {
        const size_t end = output.find('\n', at);
        FUZZ_CHECK(output.compare(at, volume.prefix.size(), volume.prefix) == 0,
                   "a line without the volume prefix");
        for (size_t i = at + volume.prefix.size(); i < end; ++i) {
            const unsigned char c = static_cast<unsigned char>(output[i]);
            FUZZ_CHECK(c >= 0x20 && c != 0x7F, "a control character in a path");
        }
        // A name and a backslash per record climbed through, each record
        // once: 256 units at most per record, 3 bytes each at most.
        FUZZ_CHECK(end - at - volume.prefix.size() <= 3 * 256 * (volume.record_at.size() + 1),
                   "a path too long");
        at = end + 1;
    }
    // Each name takes 90 bytes of a record at least (attribute header and
    // value), and no two records share bytes of the image.
    FUZZ_CHECK(lines <= (volume.image.size() + 16) / 90, "more lines than names could fit");
    return 0;
}
