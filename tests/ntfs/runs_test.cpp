// The edges of a run list no fixture has: a run stored before the previous
// one (a negative cluster offset), runs that touch without sharing a
// cluster, a piece whose runs stop short of its last VCN, and a
// non-resident attribute too short for its own header.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntfs/record.h"
#include "ntfs/stream.h"
#include "tests/ntfs/ntfs_image_edit.h"

namespace {

// Inside a test's body, Run names the test's own member.
typedef ::Run DataRun;

constexpr uint64_t TOTAL_CLUSTERS = 64;
constexpr uint32_t CLUSTER = 4096;

std::vector<Run> extents_of(const NtfsStream& stream) {
    std::vector<Run> runs;
    for (uint32_t i = 0; i < stream.count; ++i)
        runs.push_back({stream.extents[i].clusters, stream.extents[i].lcn});
    return runs;
}

bool same_runs(const std::vector<Run>& got, const std::vector<Run>& wanted) {
    if (got.size() != wanted.size()) return false;
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i].clusters != wanted[i].clusters || got[i].lcn != wanted[i].lcn) return false;
    return true;
}

TEST(Runs, PiecesAreTakenWhereTheirRunsLieAndOnlyWhole) {
    struct Case {
        const char* what;
        uint64_t last_vcn;
        std::vector<DataRun> runs;
        int whole;  // stream_add_piece's answer
        std::vector<DataRun> taken;
        uint32_t length = 0;   // of the attribute, when shorter than its runs (a byte follows)
        uint32_t runs_at = 0;  // where the runs are moved to, when not after the header
    };
    const Case cases[] = {
        {"a run stored before the one before it", 15, {{8, 40}, {8, 16}}, 1, {{8, 40}, {8, 16}}},
        {"three runs going down", 11, {{4, 60}, {4, 30}, {4, 1}}, 1, {{4, 60}, {4, 30}, {4, 1}}},
        {"runs ending exactly at the last VCN", 7, {{8, 40}}, 1, {{8, 40}}},
        {"runs stopping short of the last VCN", 15, {{8, 40}}, 0, {{8, 40}}},
        {"a run past the last VCN", 7, {{16, 40}}, 0, {}},
        // Runs 11 08 28: the attribute ends before the run's last byte.
        {"a run ending one byte past the attribute", 7, {{8, 40}}, 0, {}, 66},
        {"a run list inside the attribute's header", 7, {{8, 40}}, 0, {}, 0, 56},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string attribute = non_resident_attribute(
            NTFS_TYPE_DATA, c.last_vcn, c.runs, (c.last_vcn + 1) * CLUSTER, CLUSTER);
        if (c.length) attribute[c.length] = 0x30;  // what follows, not the run's byte
        if (c.runs_at) {
            attribute.replace(c.runs_at, 4, attribute.substr(NTFS_NONRESIDENT_HEADER_BYTES, 4));
            put_le(attribute, NTFS_NONRESIDENT_RUNS_OFFSET, c.runs_at, 2);
        }
        NtfsStream stream{};
        EXPECT_EQ(stream_add_piece(&stream, reinterpret_cast<const uint8_t*>(attribute.data()),
                                   c.length ? c.length : uint32_t(attribute.size()),
                                   TOTAL_CLUSTERS, CLUSTER),
                  c.whole);
        EXPECT_TRUE(same_runs(extents_of(stream), c.taken));
        stream_free(&stream);
    }
}

TEST(Runs, RunsThatTouchAreKeptAndRunsThatShareAClusterCut) {
    struct Case {
        const char* what;
        std::vector<DataRun> runs;
        uint32_t kept;
    };
    const Case cases[] = {
        {"touching, going up", {{8, 16}, {8, 24}, {8, 32}}, 3},
        {"touching, going down", {{8, 24}, {8, 16}}, 2},
        {"sharing one cluster", {{8, 16}, {8, 23}}, 1},
        {"the third inside the first", {{8, 16}, {8, 40}, {2, 20}}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NtfsStream stream{};
        for (const DataRun& run : c.runs) ASSERT_EQ(stream_add_extent(&stream, run.lcn, run.clusters), 1);
        ASSERT_EQ(stream_keep_disjoint_runs(&stream), 1);
        EXPECT_EQ(stream.count, c.kept);
        stream_free(&stream);
    }
}

// A record (in a buffer of exactly its size, so that a read past it is seen
// by the sanitizer) whose only attribute starts at `at` and is `length`
// long: whether the walk takes it. A non-resident one shorter than its own
// header ends the walk, a resident one of that length does not.
TEST(Runs, TheWalkTakesOnlyAttributesInsideTheRecord) {
    struct Case {
        const char* what;
        uint32_t at, length;
        int non_resident;
        uint8_t name_units;  // at name offset 24
        bool taken;
        uint32_t value_bytes = 0;  // a resident value at offset 24 this long
        bool value_taken = true;
    };
    const Case cases[] = {
        {"resident, 40 bytes", 56, 40, 0, 0, true},
        {"non-resident, 40 bytes", 56, 40, 1, 0, false},
        {"header 8 bytes before the record's end", 1016, 8, 0, 0, false},
        {"name ending with the attribute", 56, 40, 0, 8, true},
        {"name one unit past the attribute", 56, 40, 0, 9, false},
        {"first attribute at the record's start", 0, 40, 0, 0, false},
        {"first attribute just past the record's header", 24, 40, 0, 0, true},
        {"value ending with the attribute", 56, 40, 0, 0, true, 16, true},
        {"value one byte past the attribute", 56, 40, 0, 0, true, 17, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> record(1024, 0);
        auto put = [&](size_t at, uint64_t value, int bytes) {
            for (int i = 0; i < bytes && at + i < record.size(); ++i)
                record[at + i] = uint8_t(value >> (8 * i));
        };
        put(NTFS_RECORD_FIRST_ATTRIBUTE, c.at, 2);
        put(c.at + NTFS_ATTRIBUTE_TYPE, NTFS_TYPE_DATA, 4);
        put(c.at + NTFS_ATTRIBUTE_LENGTH, c.length, 4);
        put(c.at + NTFS_ATTRIBUTE_NON_RESIDENT, uint64_t(c.non_resident), 1);
        put(c.at + NTFS_ATTRIBUTE_NAME_LENGTH, c.name_units, 1);
        put(c.at + NTFS_ATTRIBUTE_NAME_OFFSET, 24, 2);
        put(c.at + NTFS_RESIDENT_VALUE_LENGTH, c.value_bytes, 4);
        put(c.at + NTFS_RESIDENT_VALUE_OFFSET, 24, 2);
        put(c.at + c.length, NTFS_TYPE_END, 4);
        AttributeWalk walk;
        attribute_walk_start(&walk, record.data(), uint32_t(record.size()));
        uint32_t got = 0;
        const uint8_t* attribute = attribute_walk_next(&walk, &got);
        EXPECT_EQ(attribute != nullptr, c.taken);
        const uint8_t* value;
        uint32_t value_length;
        if (attribute && c.value_bytes) {
            EXPECT_EQ(attribute_value(attribute, got, &value, &value_length) != 0, c.value_taken);
        }
    }
}

}  // namespace
#endif
