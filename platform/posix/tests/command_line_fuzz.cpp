// Fuzz target: the Linux command-line join and split that carry a worker's
// arguments through the relay's frame. Input: a mode byte, then units, in
// alphabet mode one byte each from a set rich in quotes, backslashes and
// blanks, in raw mode 16-bit little-endian; unit 0 separates arguments.
// Promises: split(join(args)) gives args back (a program name that cannot be
// written under the rules loses its '"', as documented); any line splits
// without fault, and its split survives a join and a second split; splitting
// arguments alone equals splitting them after a program name.
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/posix/relay/command_line.h"

namespace {

typedef std::vector<std::u16string> Words;

const char16_t ALPHABET[] = {u'"', u'\\', u' ', u'\t', u'a', u'b', u'*', u'.', u'\n',
                             0x00E9, 0x4E2D, 0xD83D, 0xDE00, 0};
constexpr size_t ALPHABET_SIZE = sizeof ALPHABET / sizeof ALPHABET[0];

bool blank(char16_t c) { return c == u' ' || c == u'\t'; }

// What the split gives back for a program name: the name itself when it can
// be written bare (not empty, no blank, not starting with '"'); otherwise it
// is quoted, and quotes cannot hold a '"'.
std::u16string program_name_back(const std::u16string& name) {
    bool quoted = name.empty() || name[0] == u'"';
    for (char16_t c : name) quoted = quoted || blank(c);
    if (!quoted) return name;
    std::u16string kept;
    for (char16_t c : name)
        if (c != u'"') kept += c;
    return kept;
}

std::u16string join(const Words& words) {
    std::vector<const wchar*> pointers;
    for (const std::u16string& w : words) pointers.push_back(w.c_str());
    return command_line_join(pointers.data(), pointers.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    const bool raw = data[0] & 1;
    std::u16string units;
    for (size_t i = 1; i < size;) {
        if (raw) {
            if (i + 1 >= size) break;
            units += char16_t(data[i] | data[i + 1] << 8);
            i += 2;
        } else {
            units += ALPHABET[data[i++] % ALPHABET_SIZE];
        }
    }

    // The units as an argument list, program name first.
    Words args(1);
    for (char16_t c : units) {
        if (c == 0) args.emplace_back();
        else args.back() += c;
    }
    const std::u16string line = join(args);
    FUZZ_CHECK(line.find(char16_t(0)) == std::u16string::npos, "a joined line holds a NUL");
    Words expected = args;
    expected[0] = program_name_back(args[0]);
    FUZZ_CHECK(command_line_split(line.c_str()) == expected, "split(join(args)) != args");

    // The units, up to their first 0, as a line typed by anyone.
    const std::u16string typed = units.substr(0, units.find(char16_t(0)));
    const Words words = command_line_split(typed.c_str());
    FUZZ_CHECK(!words.empty(), "a line without a program name");
    Words again = command_line_split(join(words).c_str());
    Words words_back = words;
    words_back[0] = program_name_back(words[0]);
    FUZZ_CHECK(again == words_back, "a split line does not survive a join");

    const Words alone = command_line_split_arguments(typed.c_str());
    const Words after_name = command_line_split((u"p " + typed).c_str());
    FUZZ_CHECK(after_name.size() == alone.size() + 1 &&
                   Words(after_name.begin() + 1, after_name.end()) == alone,
               "arguments split differently after a program name");
    return 0;
}
