#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "search/long_names.h"
#include "tests/fake_platform/fake_platform.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// The names the walk yields, in order. The record lies in a buffer of exactly
// `size` bytes, so a read beyond it is caught by the sanitizers.
std::vector<std::u16string> walk(const Bytes& record, uint32_t size) {
    Bytes exact(record.begin(), record.begin() + size);
    NameWalk w = name_walk_start(exact.data(), size);
    std::vector<std::u16string> names;
    while (const uint8_t* value = next_long_name(&w)) {
        std::u16string name(name_length(value), u'\0');
        std::memcpy(name.data(), name_units(value), 2 * name.size());
        names.push_back(name);
        if (names.size() > 100) break;
    }
    EXPECT_EQ(next_long_name(&w), nullptr);  // an ended walk stays ended
    return names;
}

void put32(Bytes& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

const uint64_t kParent = 0x0003000000000005;
Bytes name(const std::u16string& text, uint8_t space) {
    return fake_name_attribute(kParent, text, space);
}
Bytes info() { return fake_attribute(0x10, Bytes(48, 0)); }
Bytes data() { return fake_attribute(0x80, Bytes(10, 7)); }

TEST(RecordWalk, YieldsLongNamesInAttributeOrder) {
    typedef std::vector<std::u16string> Names;
    struct Case {
        const char* what;
        std::vector<Bytes> attributes;
        Names expected;
    };
    const Case cases[] = {
        {"name space 3 once", {info(), name(u"REPORT.DOC", 3), data()}, {u"REPORT.DOC"}},
        {"1 then 2", {info(), name(u"Long name.txt", 1), name(u"LONGNA~1.TXT", 2)},
         {u"Long name.txt"}},
        {"2 then 1", {info(), name(u"LONGNA~1.TXT", 2), name(u"Long name.txt", 1)},
         {u"Long name.txt"}},
        {"hard links", {info(), name(u"one", 0), data(), name(u"two", 0)}, {u"one", u"two"}},
        {"no file name", {info(), data()}, {}},
        {"empty name", {name(u"", 0)}, {u""}},
        {"longest name", {name(std::u16string(255, u'n'), 1)}, {std::u16string(255, u'n')}},
        {"non-ASCII", {name(u"\u00e9\u0436\u4e2d\U0001F600\uffff", 0)},
         {u"\u00e9\u0436\u4e2d\U0001F600\uffff"}},
    };
    for (const Case& c : cases) EXPECT_EQ(walk(fake_record(1, c.attributes), 1024), c.expected) << c.what;
}

// Damaged records: the walk yields what lies before the damage and stops
// there, never reading outside the record.
TEST(RecordWalk, StopsAtDamageInsideTheRecord) {
    typedef std::vector<std::u16string> Names;
    // Record layout: header 56, info at 56 (72 bytes), "a" at 128 (96 bytes),
    // "b" at 224, end marker at 320.
    const Bytes good = fake_record(1, {info(), name(u"a", 1), name(u"b", 1)});
    const uint32_t kInfo = 56, kA = 128, kB = 224, kEnd = 320;
    struct Case {
        const char* what;
        uint32_t size;
        size_t at;       // where to patch (0: no patch)
        uint32_t value;  // 32-bit value written there
        Names expected;
    };
    const Case cases[] = {
        {"intact", 1024, 0, 0, {u"a", u"b"}},
        {"end marker first", 1024, kInfo, 0xFFFFFFFF, {}},
        {"zero length", 1024, kInfo + 4, 0, {}},
        {"zero length after a", 1024, kB + 4, 0, {u"a"}},
        {"length past the end", 1024, kA + 4, 1024 - kA + 1, {}},
        {"length to the very end", 1024, kA + 4, 1024 - kA, {u"a"}},
        {"huge length", 1024, kA + 4, 0xFFFFFFF8, {}},
        {"first attribute beyond the record", 1024, 20, 1024, {}},
        {"first attribute in the last 4 bytes", 1024, 20, 1020, {}},
        // 32 bits written at the 16-bit value offset: 0xFFFF, then the
        // resident flags byte and padding as they were (0).
        {"value offset past the end", 1024, kB + 20, 0xFFFF, {u"a"}},
        // b's attribute shortened to end with the record, which cuts into its
        // value or name.
        {"value cut by the record end", kB + 84, kB + 4, 84, {u"a"}},
        {"name cut by the record end", kB + 91, kB + 4, 91, {u"a"}},
        {"name ends at the record end", kB + 92, kB + 4, 92, {u"a", u"b"}},
        {"no end marker", kEnd, 0, 0, {u"a", u"b"}},
        {"attribute too short for a value offset", 1024, kB + 4, 16, {u"a"}},
        {"record too small for a header", 21, 0, 0, {}},
        {"empty record", 0, 0, 0, {}},
    };
    for (const Case& c : cases) {
        Bytes record = good;
        if (c.at) put32(record, c.at, c.value);
        EXPECT_EQ(walk(record, c.size), c.expected) << c.what;
    }
}

// A name whose length byte says more than its value holds would be read from
// the bytes after the value; a value sized past its attribute, from outside
// the attribute or the record.
TEST(RecordWalk, NameLengthCannotReachOutsideItsValue) {
    const size_t attribute = 56, value = attribute + 24;
    // "abc": a 72-byte value in a 96-byte attribute; "next" follows.
    const Bytes good = fake_record(1, {name(u"abc", 1), name(u"next", 1)}, 1024);
    struct Case {
        const char* what;
        uint8_t name_units;        // written at the name length
        uint32_t value_length;     // written at the attribute's offset 16
        uint32_t attribute_length;
        uint32_t size;             // the record's size
        std::vector<size_t> expected;  // lengths of the names yielded
    };
    const Case cases[] = {
        {"intact", 3, 72, 96, 1024, {3, 4}},
        {"name past its value, inside the record", 255, 72, 96, 1024, {}},
        {"name one unit past its value", 4, 72, 96, 1024, {}},
        {"value shorter than the fixed part", 0, 65, 96, 1024, {}},
        {"value past its attribute", 3, 73, 96, 1024, {}},
        // The value and the attribute grown over "next" to hold 255 units.
        {"value and attribute sized for the name", 255, 576, 600, 1024, {255}},
        {"the same, cut by the record's end", 255, 576, 600, uint32_t(value + 575), {}},
    };
    for (const Case& c : cases) {
        Bytes record = good;
        record[value + 64] = c.name_units;
        put32(record, attribute + 16, c.value_length);
        put32(record, attribute + 4, c.attribute_length);
        if (c.attribute_length != 96) put32(record, attribute + c.attribute_length, 0xFFFFFFFF);
        std::vector<size_t> lengths;
        for (const std::u16string& n : walk(record, c.size)) lengths.push_back(n.size());
        EXPECT_EQ(lengths, c.expected) << c.what;
    }
}

}  // namespace
