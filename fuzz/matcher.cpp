// Fuzz target: the matcher against a direct transcription of its four rules.
// Input: a mode byte, then the name and the pattern. In alphabet mode each
// byte picks a unit from a small set rich in wildcards, case pairs and
// non-ASCII letters, and the first '|' byte separates name from pattern; in
// raw mode units are 16-bit little-endian and the first 0xFFFF separates.
// Names are at most 255 units (the record's length field); patterns at most
// 64 units, which keeps the transcription's table small.
#include <cstring>
#include <string>
#include <vector>

#include "base/heap.h"
#include "fuzz/fuzz_check.h"
#include "search/matcher.h"
#include "tests/fake_platform/fake_platform.h"

namespace {

const char16_t ALPHABET[] = {u'*', u'?', u'a', u'A', u'b', u'B', u'z', u'Z', u'.', u'[',
                             u'\\', u'`', u'{', u'@', 0x00E9, 0x00C9, 0xD83D, 0xDE00, 0};
constexpr size_t ALPHABET_SIZE = sizeof ALPHABET / sizeof ALPHABET[0];

// The four rules, as written, over terminated strings; memoised on the two
// positions (the rules are a function of them), which bounds the time.
struct Rules {
    const char16_t* name;
    const char16_t* pattern;
    size_t pattern_units;  // + 1 per name position in the table
    std::vector<signed char> memo;
};

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

int rules(Rules* r, size_t n, size_t p) {
    signed char& known = r->memo[n * (r->pattern_units + 1) + p];
    if (known >= 0) return known;
    int result;
    if (r->pattern[p] == 0) {  // 1
        result = r->name[n] == 0;
    } else if (r->pattern[p] == u'*') {  // 2
        if (rules(r, n, p + 1)) result = 1;
        else if (r->name[n] != 0) result = rules(r, n + 1, p);
        else result = r->pattern[p + 1] == 0;
    } else if (r->pattern[p] == u'?') {  // 3
        result = r->name[n] == 0 ? 0 : rules(r, n + 1, p + 1);
    } else {  // 4: a name at its end compares as 0
        result = upper(r->name[n]) != upper(r->pattern[p]) ? 0 : rules(r, n + 1, p + 1);
    }
    known = static_cast<signed char>(result);
    return result;
}

int by_the_rules(const std::u16string& name, const std::u16string& pattern) {
    Rules r{name.c_str(), pattern.c_str(), pattern.size(), {}};
    r.memo.assign((name.size() + 1) * (pattern.size() + 1), -1);
    return rules(&r, 0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool raw = data[0] & 1, short_of_memory = data[0] & 2;
    std::u16string name, pattern;
    bool in_pattern = false;
    for (size_t i = 1; i < size;) {
        char16_t unit;
        if (raw) {
            if (i + 1 >= size) break;
            unit = char16_t(data[i] | data[i + 1] << 8);
            i += 2;
            if (unit == 0xFFFF && !in_pattern) {
                in_pattern = true;
                continue;
            }
        } else {
            if (data[i] == '|' && !in_pattern) {
                in_pattern = true;
                ++i;
                continue;
            }
            unit = ALPHABET[data[i++] % ALPHABET_SIZE];
        }
        std::u16string& to = in_pattern ? pattern : name;
        if (to.size() < (in_pattern ? 64u : 255u)) to += unit;
    }
    // The pattern is a terminated argument: it ends at its first 0.
    pattern.resize(std::char_traits<char16_t>::length(pattern.c_str()));

    fake_reset();
    heap_keep_freed = false;  // every release reaches the sanitizers
    if (short_of_memory) heap_failure_countdown = 1;
    // The name as a record holds it: counted, unaligned, exactly its size.
    std::vector<uint8_t> stored(1 + 2 * name.size());
    std::memcpy(stored.data() + 1, name.data(), 2 * name.size());
    const int got = match_name(stored.data() + 1, uint32_t(name.size()), pattern.c_str());
    heap_failure_countdown = -1;

    // The terminated copy ends at the name's first unit 0.
    const std::u16string copied = name.substr(0, std::char_traits<char16_t>::length(name.c_str()));
    const int expected = by_the_rules(copied, pattern);
    if (short_of_memory) {
        FUZZ_CHECK(got == 0, "a name that could not be copied matched");
        // A name that cannot match may be turned away before any copy.
        FUZZ_CHECK(fake_err == u"Out of memory!\n" || (!expected && fake_err.empty()),
                   "no warning for the failed copy");
        return 0;
    }
    FUZZ_CHECK(fake_err.empty(), "a warning without cause");
    FUZZ_CHECK(got == expected, "match_name differs from the four rules");
    FUZZ_CHECK(matcher(copied.c_str(), pattern.c_str()) == expected,
               "matcher differs from the four rules");
    return 0;
}
