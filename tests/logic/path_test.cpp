#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/heap.h"
#include "search/path.h"
#include "search/record_source.h"
#include "tests/logic/search_helpers.h"

namespace {

uint64_t ref(uint64_t number, uint16_t sequence) { return fake_reference(number, sequence); }

std::string repeat(const std::string& text, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += text;
    return out;
}

// Users (40) and ann (41) under the root; report.doc (50) in ann.
void users_ann_report(FakeDisk& d) {
    fake_add_file(d, 40, 2, {{kRoot, u"Users"}});
    fake_add_file(d, 41, 3, {{ref(40, 2), u"ann"}});
    fake_add_file(d, 50, 1, {{ref(41, 3), u"report.doc"}});
}

TEST(Path, ClimbsParentReferencesToTheRoot) {
    struct Case {
        const char* what;
        std::function<void(FakeDisk&)> setup;
        std::u16string pattern;
        std::string expected;
    };
    const Case cases[] = {
        {"file in the root", [](FakeDisk& d) { fake_add_file(d, 30, 1, {{kRoot, u"name"}}); },
         u"name", "C:\\name\n"},
        {"the root itself", [](FakeDisk&) {}, u".", "C:\\.\n"},
        {"nested", users_ann_report, u"*.doc", "C:\\Users\\ann\\report.doc\n"},
        {"directories match as paths of their own", users_ann_report, u"*r*",
         "C:\\Users\\ann\\report.doc\nC:\\Users\n"},
        {"unreadable parent",
         [](FakeDisk& d) {
             users_ann_report(d);
             d.failing[ref(41, 3)] = 5;
         },
         u"*.doc", "C:report.doc\n"},
        {"unreadable grandparent",
         [](FakeDisk& d) {
             users_ann_report(d);
             d.failing[ref(40, 2)] = 5;
         },
         u"*.doc", "C:ann\\report.doc\n"},
        // Record 41 is free: the request is answered with record 40, 'Users',
        // which is not the parent.
        {"freed parent",
         [](FakeDisk& d) {
             users_ann_report(d);
             d.records.erase(41);
         },
         u"*.doc", "C:report.doc\n"},
        {"reused parent (sequence differs)",
         [](FakeDisk& d) {
             users_ann_report(d);
             fake_add_file(d, 41, 4, {{kRoot, u"other"}});
         },
         u"*.doc", "C:report.doc\n"},
        {"reused grandparent",
         [](FakeDisk& d) {
             users_ann_report(d);
             fake_add_file(d, 40, 9, {{kRoot, u"Users"}});
         },
         u"*.doc", "C:ann\\report.doc\n"},
        {"reply names another record",
         [](FakeDisk& d) {
             users_ann_report(d);
             d.named_as[41] = 42;
         },
         u"*.doc", "C:report.doc\n"},
        {"parent with only a short name",
         [](FakeDisk& d) {
             users_ann_report(d);
             fake_add_file(d, 41, 3, {{ref(40, 2), u"ANN~1", 2}});
         },
         u"*.doc", "C:report.doc\n"},
        {"parent's first long name leads on",
         [](FakeDisk& d) {
             users_ann_report(d);
             fake_add_file(d, 41, 3, {{ref(40, 2), u"FIRST~1", 2}, {ref(40, 2), u"first"},
                                      {kRoot, u"second"}});
         },
         u"*.doc", "C:\\Users\\first\\report.doc\n"},
        {"loop through two directories",
         [](FakeDisk& d) {
             fake_add_file(d, 60, 1, {{ref(61, 1), u"A"}});
             fake_add_file(d, 61, 1, {{ref(60, 1), u"B"}});
             fake_add_file(d, 70, 1, {{ref(60, 1), u"f"}});
         },
         u"f", "C:B\\A\\f\n"},
        {"directory that is its own parent",
         [](FakeDisk& d) {
             fake_add_file(d, 62, 1, {{ref(62, 1), u"S"}});
             fake_add_file(d, 71, 1, {{ref(62, 1), u"g"}});
         },
         u"g", "C:S\\g\n"},
        // 20 folders whose numbers the climb's loop check keeps in the even
        // slots of its first table (its hash, restated to choose them): every
        // slot must be probed, not every other one.
        {"a chain of folders crowding the loop check's slots",
         [](FakeDisk& d) {
             std::vector<uint64_t> chain;
             for (uint64_t n = 10; chain.size() < 20; ++n)
                 if ((((n * 0x9E3779B97F4A7C15ull) >> 40) & 31) % 2 == 0) chain.push_back(n);
             for (size_t i = 0; i < chain.size(); ++i)
                 fake_add_file(d, chain[i], 1,
                               {{i + 1 < chain.size() ? ref(chain[i + 1], 1) : kRoot, u"d"}});
             fake_add_file(d, 9, 1, {{ref(chain[0], 1), u"f"}});
         },
         u"f", "C:\\" + repeat("d\\", 20) + "f\n"},
        {"control characters",
         [](FakeDisk& d) {
             fake_add_file(d, 40, 1, {{kRoot, u"d\tx"}});
             fake_add_file(d, 41, 1, {{ref(40, 1), std::u16string(u"a\nb\x7f\x01\0z", 7)}});
         },
         u"a*", "C:\\d?x\\a?b??\n"},
        // A name ends at its first unit 0: matched, climbed through and
        // printed up to it.
        {"unit 0 inside names",
         [](FakeDisk& d) {
             fake_add_file(d, 40, 1, {{kRoot, std::u16string(u"dir\0x", 5)}});
             fake_add_file(d, 41, 1, {{ref(40, 1), std::u16string(u"a.doc\0evil", 10)}});
             fake_add_file(d, 42, 1, {{kRoot, std::u16string(u"\0a", 2)}});
         },
         u"*.doc", "C:\\dir\\a.doc\n"},
        {"a name that is a unit 0 first",
         [](FakeDisk& d) { fake_add_file(d, 42, 1, {{kRoot, std::u16string(u"\0a", 2)}}); },
         u"", "C:\\\n"},
        {"empty directory name",
         [](FakeDisk& d) {
             fake_add_file(d, 40, 1, {{kRoot, u""}});
             fake_add_file(d, 41, 1, {{ref(40, 1), u"f"}});
         },
         u"f", "C:\\\\f\n"},
        {"non-ASCII", [](FakeDisk& d) { fake_add_file(d, 40, 1, {{kRoot, u"\u0436\U0001F600"}}); },
         u"\u0436*", "C:\\\xd0\xb6\xf0\x9f\x98\x80\n"},
    };
    for (const Case& c : cases) {
        fake_reset();
        FakeDisk& disk = disk_with_root();
        c.setup(disk);
        EXPECT_EQ(scan(disk, c.pattern), c.expected) << c.what;
        EXPECT_EQ(fake_err, u"") << c.what;
    }
}

// The parent reference goes to the record source whole, sequence included.
TEST(Path, RequestsCarryTheReferenceAsStored) {
    fake_reset();
    FakeDisk& disk = disk_with_root(51);
    users_ann_report(disk);
    scan(disk, u"report.doc");
    // 49 lands on 41, 39 on the root, 4 on record 0.
    const std::vector<uint64_t> expected = {50, ref(41, 3), ref(40, 2), 49, 40, 39, 4};
    EXPECT_EQ(disk.requests, expected);
}

// A chain of `levels` directories named 'd' above `file`; the top one in the
// root when `rooted`, else under a directory that is never read.
FakeDisk& chain(uint64_t levels, const std::u16string& dir, const std::u16string& file,
                bool rooted) {
    FakeDisk& disk = disk_with_root(levels + 20, dir.size() > 64 ? 1024 : 256);
    const uint64_t first = 10;
    for (uint64_t i = 0; i < levels; ++i) {
        uint64_t parent = i + 1 < levels ? ref(first + i + 1, 1) : rooted ? kRoot : ref(9, 1);
        fake_add_file(disk, first + i, 1, {{parent, dir}});
    }
    fake_add_file(disk, first + levels, 1, {{ref(first, 1), file}});
    return disk;
}

// Paths are whole however deep, built once from the end: the bytes asked of
// the heap (which bound those copied) grow with the depth, not its square.
// A chain that never reaches the root stops only where it cannot be followed.
TEST(Path, DeepPathsAreWholeInLinearWork) {
    struct Case {
        const char* what;
        uint64_t levels;
        std::u16string dir;
        bool rooted;
        std::string expected;
        uint64_t most_bytes;  // requested while scanning; 0: not checked
    };
    const std::string long_dir(250, 'x');
    const Case cases[] = {
        {"32,768 units", 16383, u"d", true, "C:\\" + repeat("d\\", 16383) + "FF\n", 0},
        {"140 levels of 250 units", 140, std::u16string(250, u'x'), true,
         "C:\\" + repeat(long_dir + "\\", 140) + "FF\n", 0},
        {"8,000 levels", 8000, u"d", true, "C:\\" + repeat("d\\", 8000) + "FF\n", 1u << 20},
        {"40,000 empty names under an unreadable folder", 40000, u"", false,
         "C:" + repeat("\\", 40000) + "FF\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fake_reset();
        FakeDisk& disk = chain(c.levels, c.dir, u"FF", c.rooted);
        const uint64_t before = heap_requested_bytes;
        EXPECT_EQ(scan(disk, u"FF"), c.expected);
        if (c.most_bytes) {
            EXPECT_LE(heap_requested_bytes - before, c.most_bytes);
        }
        EXPECT_EQ(fake_err, u"");
    }
}

// A failed allocation leaves the path as it was.
TEST(Path, AllocationFailureLeavesThePath) {
    struct Case {
        int64_t countdown;
        std::u16string path;
        int result;
    };
    // Allocations: the record buffer, the whole path.
    const Case cases[] = {
        {1, u"report.doc", 0},
        {2, u"report.doc", 0},
        {-1, u"\\Users\\ann\\report.doc", 1},
    };
    for (const Case& c : cases) {
        fake_reset();
        FakeDisk& disk = disk_with_root(51);
        users_ann_report(disk);
        ASSERT_TRUE(read_volume_data(fake_disk_handle(disk)));
        const std::vector<uint8_t> value = fake_name_attribute(ref(41, 3), u"report.doc");
        const std::u16string name = u"report.doc";
        uint32_t count = uint32_t(name.size());
        wchar* path = static_cast<wchar*>(heap_alloc(2 * count));
        std::copy(name.begin(), name.end(), path);
        heap_failure_countdown = c.countdown;
        EXPECT_EQ(build_path(fake_disk_handle(disk), value.data() + 24, &path, &count), c.result);
        heap_failure_countdown = -1;
        EXPECT_EQ(std::u16string(path, count), c.path) << c.countdown;
        heap_free(path);
        EXPECT_EQ(fake_err, u"");
    }
}

}  // namespace
