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
    };
    const Case cases[] = {
        {"a run stored before the one before it", 15, {{8, 40}, {8, 16}}, 1, {{8, 40}, {8, 16}}},
        {"three runs going down", 11, {{4, 60}, {4, 30}, {4, 1}}, 1, {{4, 60}, {4, 30}, {4, 1}}},
        {"runs ending exactly at the last VCN", 7, {{8, 40}}, 1, {{8, 40}}},
        {"runs stopping short of the last VCN", 15, {{8, 40}}, 0, {{8, 40}}},
        {"a run past the last VCN", 7, {{16, 40}}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string attribute = non_resident_attribute(
            NTFS_TYPE_DATA, c.last_vcn, c.runs, (c.last_vcn + 1) * CLUSTER, CLUSTER);
        NtfsStream stream{};
        EXPECT_EQ(stream_add_piece(&stream, reinterpret_cast<const uint8_t*>(attribute.data()),
                                   uint32_t(attribute.size()), TOTAL_CLUSTERS, CLUSTER),
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

// A record whose only attribute is this long: a non-resident one shorter
// than its own header ends the walk, a resident one of that length does not.
TEST(Runs, AnAttributeShorterThanItsHeaderEndsTheWalk) {
    for (int non_resident : {0, 1}) {
        SCOPED_TRACE(non_resident ? "non-resident" : "resident");
        std::string record(1024, '\0');
        const uint32_t at = 56, length = 40;
        put_le(record, NTFS_RECORD_FIRST_ATTRIBUTE, at, 2);
        put_le(record, at + NTFS_ATTRIBUTE_TYPE, NTFS_TYPE_DATA, 4);
        put_le(record, at + NTFS_ATTRIBUTE_LENGTH, length, 4);
        record[at + NTFS_ATTRIBUTE_NON_RESIDENT] = char(non_resident);
        put_le(record, at + length, NTFS_TYPE_END, 4);
        AttributeWalk walk;
        attribute_walk_start(&walk, reinterpret_cast<const uint8_t*>(record.data()), 1024);
        uint32_t got = 0;
        const uint8_t* attribute = attribute_walk_next(&walk, &got);
        EXPECT_EQ(attribute != nullptr, !non_resident);
    }
}

}  // namespace
#endif
