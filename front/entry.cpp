#include "front/entry.h"

#include "elevation/admin_check.h"
#include "elevation/relay.h"
#include "base/entry_points.h"
#include "base/format.h"
#include "base/text.h"
#include "volumes/volumes.h"

const wchar kRelayPipePrefix[] = u"\\\\.\\pipe\\morla-uac-pipe-";
wchar drive_device_path[7] = u"\\\\.\\A:";

namespace {

const wchar kUsage[] =
    u"Usage:\t%s <pattern> [<drive letter>*]\n"
    u"\tpattern\t\tfilename to search for, e.g. *.doc\n"
    u"\tdrive letter\te.g. C\n"
    u"\n"
    u"Note: Multiple drive letters may be given, separated by spaces;\n"
    u"if only a pattern is given, Morla will search all local NTFS\n"
    u"file systems.\n";

// What every tool answers before anything else; a pattern cannot be any of
// them ('/' is in no NTFS name; a file named '-h' is found with '?h').
bool is_word(const wchar* argument, const wchar* word) {
    return text_equal_prefix(argument, word, text_length(word) + 1);
}
bool asks_for_help(const wchar* first) {
    return is_word(first, u"-h") || is_word(first, u"--help") || is_word(first, u"/?");
}
bool asks_for_version(const wchar* first) {
    return is_word(first, u"--version") || is_word(first, u"-V");
}

// One argument after the pattern: a drive letter, or on Linux a path. 1
// when what it names was searched whole.
int search_argument(const wchar* argument, const wchar* pattern) {
    if (platform_path_targets && text_has_slash(argument)) return search_path(argument, pattern);
    const wchar typed = argument[0];
    wchar letter;
    if (typed >= u'A' && typed <= u'Z') {
        letter = typed;
    } else if (typed >= u'a' && typed <= u'z') {
        letter = wchar(typed - 32);
    } else {
        print_err_safe(u"Invalid drive letter '%c'\n", typed);
        return 0;
    }
    drive_device_path[4] = letter;
    Handle disk = platform_open_disk(drive_device_path);
    if (disk == INVALID_HANDLE) {
        print_err_safe(u"Unable to access drive %c\n", typed);
        return 0;
    }
    return search_disk(disk, pattern, drive_device_path, typed, nullptr);
}

// The status of a search: every part of it went on whatever another part
// met, and complete says whether all of them searched what they were given.
int search_status(int complete) { return complete ? 0 : EXIT_SEARCH_INCOMPLETE; }

}  // namespace

int morla_entry(int argc, wchar** argv) {
    look_up_entry_points();
    if (argc < 2 || asks_for_help(argv[1])) {
        // The program name is whatever started the process chose.
        print_err_safe(kUsage, argv[0]);
        return 1;
    }
    if (asks_for_version(argv[1])) {
        print_out(u"morla " MORLA_VERSION "\n");
        return 0;
    }
    if (text_equal_prefix(argv[1], kRelayPipePrefix, RELAY_PREFIX_UNITS)) relay_entry(argv[1]);
    if (administrator_check()) return 2;
    if (argc <= 2) return search_status(search_all_volumes(argv[1]));
    int complete = 1;
    for (int i = 2; i < argc; ++i) complete &= search_argument(argv[i], argv[1]);
    return search_status(complete);
}
