// Stands in for GetCommandLineW: on Linux, the process's arguments joined by
// the quoting rules the relay splits them by (for the worker's
// CreateProcessW stand-in), since the system keeps no command-line string.
#include "platform/posix/relay/command_line.h"

namespace {

// The arguments start-up kept.
int kept_count = 0;
wchar** kept_arguments = nullptr;

bool is_blank(wchar c) { return c == u' ' || c == u'\t'; }

void append_program_name(std::u16string& line, const std::u16string& name) {
    bool quote = name.empty() || name[0] == u'"';
    for (wchar c : name) quote = quote || is_blank(c);
    if (!quote) {
        line += name;
        return;
    }
    // Quoted, the name ends at its next '"': quotes cannot be kept.
    line += u'"';
    for (wchar c : name)
        if (c != u'"') line += c;
    line += u'"';
}

void append_argument(std::u16string& line, const std::u16string& argument) {
    bool quote = argument.empty();
    for (wchar c : argument) quote = quote || is_blank(c) || c == u'"';
    if (!quote) {
        line += argument;  // backslashes not before a '"' are literal
        return;
    }
    line += u'"';
    size_t backslashes = 0;
    for (wchar c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a '"' are doubled, and the '"' escaped.
        if (c == u'"') line.append(2 * backslashes + 1, u'\\');
        else line.append(backslashes, u'\\');
        line += c;
        backslashes = 0;
    }
    // Backslashes before the closing '"' are doubled so it stays a quote.
    line.append(2 * backslashes, u'\\');
    line += u'"';
}

// Splits arguments from text on; text points past the program name.
void split_arguments(const wchar* s, std::vector<std::u16string>& words) {
    for (;;) {
        while (is_blank(*s)) ++s;
        if (!*s) return;
        std::u16string word;
        bool quoted = false;
        while (*s && (quoted || !is_blank(*s))) {
            if (*s == u'\\') {
                size_t backslashes = 0;
                while (*s == u'\\') ++backslashes, ++s;
                if (*s == u'"') {
                    word.append(backslashes / 2, u'\\');
                    if (backslashes % 2) word += u'"', ++s;
                } else {
                    word.append(backslashes, u'\\');
                }
            } else if (*s == u'"') {
                if (quoted && s[1] == u'"') {
                    word += u'"';
                    s += 2;
                } else {
                    quoted = !quoted;
                    ++s;
                }
            } else {
                word += *s++;
            }
        }
        words.push_back(word);
    }
}

}  // namespace

std::u16string command_line_join(const wchar* const* args, size_t count) {
    std::u16string line;
    for (size_t i = 0; i < count; ++i) {
        if (i) line += u' ';
        if (i == 0) append_program_name(line, args[i]);
        else append_argument(line, args[i]);
    }
    return line;
}

std::vector<std::u16string> command_line_split(const wchar* s) {
    std::vector<std::u16string> words(1);
    if (*s == u'"') {
        ++s;
        while (*s && *s != u'"') words[0] += *s++;
        if (*s) ++s;
    } else {
        while (*s && !is_blank(*s)) words[0] += *s++;
    }
    split_arguments(s, words);
    return words;
}

std::vector<std::u16string> command_line_split_arguments(const wchar* text) {
    std::vector<std::u16string> words;
    split_arguments(text, words);
    return words;
}

void posix_keep_arguments(int count, wchar** arguments) {
    kept_count = count;
    kept_arguments = arguments;
}

// The arguments joined once.
const wchar* platform_get_command_line() {
    static const std::u16string line = command_line_join(kept_arguments, size_t(kept_count));
    return line.c_str();
}
