// The command line of the real binary: usage, drive letters, modes.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <thread>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/system/run_process.h"
#include "tests/system/test_volumes.h"

namespace {

const char kUsageTail[] =
    " <pattern> [<drive letter>*]\n"
    "\tpattern\t\tfilename to search for, e.g. *.doc\n"
    "\tdrive letter\te.g. C\n\n"
    "Note: Multiple drive letters may be given, separated by spaces;\n"
    "if only a pattern is given, Morla will search all local NTFS\n"
    "file systems.\n";

// The program name is whatever started the process chose (exec -a): it
// reaches the terminal through the same filter as names do.
TEST(CommandLine, NoArgumentPrintsTheUsageTextOnly) {
    struct Case {
        std::string name, shown;
    };
    const Case cases[] = {
        {MORLA_BINARY, MORLA_BINARY},
        {"\x1b[2J\x1b]0;title\x07morla", "?[2J?]0;title?morla"},
        {"a\nb\rc\x7f\xc2\x9b\xc2\x85", "a?b?c???"},  // C0, DEL, CSI, NEL
        {"\xe2\x80\xae" "evil\xe2\x81\xa6\xd8\x9c\xe2\x80\xa8", "?evil???"},  // bidi, LS
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},
    };
    for (const Case& c : cases) {
        ProcessResult r = run_process("/bin/bash", {"-c", "exec -a \"$1\" \"$0\"", MORLA_BINARY, c.name});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Usage:\t" + c.shown + kUsageTail);
    }
}

std::string repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// Each case's messages and status: a drive asked for that could not be
// searched is status 3, after every other one was searched; a drive that is
// not NTFS is silent, and finding nothing is a success; help and version
// are asked by the first argument alone, as a whole.
TEST(CommandLine, DriveLetterMessagesAndStatuses) {
    // Only an administrator gets as far as the drives.
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    // q has no entry in the prefix and c's target is missing, so those fail
    // to open and say so with the letter as typed. E is an NTFS image cut
    // before its table (an acquisition that stopped early), Z no NTFS.
    std::string prefix = make_temp_folder();
    std::string image = unpack_image(fixture_path("names.img.gz"));
    ASSERT_FALSE(image.empty());
    ASSERT_EQ(system(("truncate -s 1M '" + prefix + "/zeros.img' && head -c 8192 '" + image +
                      "' >'" + prefix + "/cut.img'")
                         .c_str()),
              0);
    link_drive(prefix, 'c', prefix + "/no-such-image");
    link_drive(prefix, 'n', image);
    link_drive(prefix, 'e', prefix + "/cut.img");
    link_drive(prefix, 'z', prefix + "/zeros.img");
    struct Case {
        std::vector<std::string> args;
        std::string err;
        int status = 3;
        std::string out = "";
    };
    const std::string pipe_text = "x\\\\.\\pipe\\morla-uac-pipe-12345678";
    const std::string usage = std::string("Usage:\t") + MORLA_BINARY + kUsageTail;
    const std::string version = "morla " MORLA_VERSION "\n";
    const Case cases[] = {
        {{"x.txt", "1", "q"}, "Invalid drive letter '1'\nUnable to access drive q\n"},
        {{"x.txt", "cdrive"}, "Unable to access drive c\n"},
        {{"x.txt", "c", "c"}, "Unable to access drive c\nUnable to access drive c\n"},
        {{"x.txt", "Q", "*", ""}, "Unable to access drive Q\nInvalid drive letter '*'\nInvalid drive letter ''\n"},
        {{"x.txt", "\xc3\xa9"}, "Invalid drive letter '\xc3\xa9'\n"},
        // Controls and bidirectional marks typed as letters are shown as '?'.
        {{"x.txt", "\x1b]0;title\x07", "\n", "\x7f", "\xc2\x9b", "\xe2\x80\xae", "\xe2\x81\xa9"},
         repeat("Invalid drive letter '?'\n", 6)},
        // The relay prefix counts only at the very start: this is a pattern.
        {{pipe_text, "q"}, "Unable to access drive q\n"},
        {{"*", "z", "Z"}, "", 0},
        {{"no such name", "n"}, "", 0},
        {{"no such name", "z", "e", "n"}, "Reading MFT record failed with error 5: Input/output error\n"},
        {{"-h"}, usage, 1},
        {{"--help", "C"}, usage, 1},
        {{"/?"}, usage, 1},
        {{"--version"}, "", 0, version},
        {{"-V", "C"}, "", 0, version},
        {{"--helpx", "q"}, "Unable to access drive q\n"},
        {{"-v", "q"}, "Unable to access drive q\n"},
        {{"x", "--help"}, "Invalid drive letter '-'\n"},
    };
    for (const Case& c : cases) {
        ProcessResult r = run_morla(c.args, {{"WINEPREFIX", prefix}});
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_EQ(r.out, c.out) << c.args[0];
        EXPECT_EQ(r.err, c.err) << c.args[0];
    }
    remove_tree(prefix);
    remove_tree(image.substr(0, image.rfind('/')));
}

// The completion offers the letters after the pattern whose target exists.
TEST(CommandLine, CompletionOffersTheDrivesThatExist) {
    std::string prefix = make_temp_folder();
    link_drive(prefix, 'c', prefix);
    link_drive(prefix, 'd', prefix + "/gone.img");
    link_drive(prefix, 'e', "/dev/null");
    const std::string script = std::string(MORLA_SOURCE_DIR) + "/completion/morla.bash";
    struct Case {
        std::string words, offered;
    };
    const Case cases[] = {{"morla x ''", "C E "}, {"morla x c ''", "E "}, {"morla x d", ""},
                          {"morla x e", "e "}};
    for (const Case& c : cases) {
        ProcessResult r = run_process(
            "/bin/bash",
            {"-c", ". '" + script + "'; COMP_WORDS=(" + c.words +
                       "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _morla; printf '%s ' "
                       "\"${COMPREPLY[@]}\""},
            {{"WINEPREFIX", prefix}}, 20);
        EXPECT_EQ(r.out, c.offered.empty() ? " " : c.offered) << c.words;
    }
    remove_tree(prefix);
}

// Opens of the file an inotify watch (IN_OPEN alone, on the file itself)
// has seen since the last call: each event is one bare record.
int opens_seen(int watch) {
    inotify_event events[64];
    ssize_t n = read(watch, events, sizeof events);
    return n > 0 ? int(size_t(n) / sizeof(inotify_event)) : 0;
}

// Only a block device or a regular file can hold a volume; anything else is
// refused at once, never waited on (a FIFO's open waits for a writer) and
// never opened (a device's open may act by itself): not even when the link
// is swapped between an image and a character device while Morla looks.
TEST(CommandLine, ADriveThatCannotServeIsUnableToAccess) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    std::string prefix = make_temp_folder();
    ASSERT_EQ(mkfifo((prefix + "/fifo").c_str(), 0600), 0);
    // A node of its own for the null device, so that only Morla could open it.
    const std::string device = prefix + "/null";
    ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);
    int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, device.c_str(), IN_OPEN), 0);
    for (const std::string& target : {prefix + "/fifo", prefix, std::string("/dev/null"), device}) {
        link_drive(prefix, 'c', target);
        ProcessResult r = run_morla({"*", "c"}, {{"WINEPREFIX", prefix}}, 20);
        EXPECT_EQ(r.status, 3) << target;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Unable to access drive c\n");
    }
    EXPECT_EQ(opens_seen(watch), 0);

    std::string image = unpack_image(fixture_path("names.img.gz"));
    ASSERT_FALSE(image.empty());
    const std::string entry = prefix + "/dosdevices/c::", to_image = entry + ".image",
                      to_device = entry + ".device", next = entry + ".next";
    ASSERT_EQ(symlink(image.c_str(), to_image.c_str()), 0);
    ASSERT_EQ(symlink(device.c_str(), to_device.c_str()), 0);
    // Swapped by hard links and renames alone: no allocation beside the forks.
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        for (bool on_device = false; !done; on_device = !on_device) {
            if (link((on_device ? to_device : to_image).c_str(), next.c_str()) == 0)
                rename(next.c_str(), entry.c_str());
        }
    });
    int searched = 0;
    for (int run = 0; run < 300; ++run) {
        ProcessResult r = run_morla({"*", "c"}, {{"WINEPREFIX", prefix}}, 20);
        searched += !r.out.empty();
    }
    done = true;
    swapper.join();
    EXPECT_GT(searched, 0);  // the swap was seen from both sides
    EXPECT_EQ(opens_seen(watch), 0);
    close(watch);
    remove_tree(prefix);
    remove_tree(image.substr(0, image.rfind('/')));
}

// sudo gives root its own HOME; with no WINEPREFIX the invoking user's
// prefix folder names the drives, and no other when that user has none.
TEST(CommandLine, UnderSudoTheInvokingUsersDrivesAreSearched) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    std::string image = unpack_image(fixture_path("names.img.gz"));
    ASSERT_FALSE(image.empty());
    std::string home = make_temp_folder();
    chmod(home.c_str(), 0755);
    link_drive(home + "/.wine", 'c', image);
    std::string user = "mtvol" + std::to_string(getpid());
    if (std::system(("useradd -M -d '" + home + "' -s /usr/sbin/nologin " + user + " 2>/dev/null").c_str()) != 0) {
        remove_tree(home);
        remove_tree(std::filesystem::path(image).parent_path());
        GTEST_SKIP() << "cannot make a temporary user";
    }
    ProcessResult expected = run_morla({"*", "C"}, {{"WINEPREFIX", home + "/.wine"}});
    std::string empty_prefix = make_temp_folder();
    struct Case {
        std::map<std::string, std::string> env;
        bool finds;
    };
    const Case cases[] = {
        {{{"SUDO_USER", user}, {"HOME", "/root"}, {"WINEPREFIX", ""}}, true},
        // WINEPREFIX still comes first.
        {{{"SUDO_USER", user}, {"HOME", "/root"}, {"WINEPREFIX", empty_prefix}}, false},
        // A user unknown, or without a prefix folder: not root's HOME either.
        {{{"SUDO_USER", "mtvol-nobody"}, {"HOME", home}, {"WINEPREFIX", ""}}, false},
        {{{"SUDO_USER", "nobody"}, {"HOME", home}, {"WINEPREFIX", ""}}, false},
        {{{"SUDO_USER", ""}, {"HOME", home}, {"WINEPREFIX", ""}}, true},
    };
    for (const Case& c : cases) {
        ProcessResult r = run_morla({"*", "C"}, c.env);
        EXPECT_EQ(r.status, c.finds ? 0 : 3) << c.env.at("SUDO_USER");
        EXPECT_EQ(r.out, c.finds ? expected.out : "");
        EXPECT_EQ(r.err, c.finds ? "" : "Unable to access drive C\n");
    }
    EXPECT_NE(expected.out, "");
    std::system(("userdel " + user).c_str());
    remove_tree(empty_prefix);
    remove_tree(home);
    remove_tree(std::filesystem::path(image).parent_path());
}

// The first write that fails ends the run with its code: a full disk with
// the report (when standard error can take it), a reader that went away
// quietly, never by a signal and never with status 0.
TEST(Streams, AFailedWriteEndsTheRunWithItsCode) {
    struct Case {
        int fd;              // the stream that cannot be written
        const char* target;  // "/dev/full", or "closed": a pipe whose reader has gone
        int status;
        std::string other;   // what the other stream shows
    };
    const Case cases[] = {
        {1, "/dev/full", 28, "Write output failed with error 28: No space left on device\n"},
        {1, "closed", 32, ""},
        {2, "/dev/full", 28, ""},
        {2, "closed", 32, ""},
    };
    std::string image = unpack_image(fixture_path("names.img.gz"));
    std::string prefix = make_temp_folder();
    link_drive(prefix, 'c', image);
    setenv("WINEPREFIX", prefix.c_str(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.fd) + " " + c.target);
        // Results need a search, which needs an administrator; the usage text does not.
        const bool search = c.fd == 1;
        if (search && (geteuid() != 0 || image.empty())) continue;
        int gone[2], captured[2];
        ASSERT_EQ(pipe2(gone, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(captured, O_CLOEXEC), 0);
        close(gone[0]);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(std::string(c.target) == "closed" ? gone[1] : open(c.target, O_WRONLY), c.fd);
            dup2(captured[1], 3 - c.fd);
            if (search) execl(MORLA_BINARY, MORLA_BINARY, "*", "C", static_cast<char*>(nullptr));
            else execl(MORLA_BINARY, MORLA_BINARY, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(gone[1]);
        close(captured[1]);
        std::string other;
        char buffer[4096];
        for (ssize_t n; (n = read(captured[0], buffer, sizeof buffer)) > 0;)
            other.append(buffer, size_t(n));
        close(captured[0]);
        const int status = wait_for_child(pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status) << status;
        EXPECT_EQ(other, c.other);
    }
    unsetenv("WINEPREFIX");
    remove_tree(prefix);
    if (!image.empty()) remove_tree(image.substr(0, image.rfind('/')));
}

// Memory that runs out at any point of a run ends it with a report and a
// status, never by a signal (the library's containers abort by default).
// The sanitizers reserve more address space than any limit here leaves.
#if !defined(__SANITIZE_ADDRESS__)
TEST(Streams, MemoryThatRunsOutEndsTheRunWithAStatusNotASignal) {
    std::string image = unpack_image(fixture_path("names.img.gz"));
    if (geteuid() != 0 || image.empty()) GTEST_SKIP() << "needs root and the fixture";
    std::string prefix = make_temp_folder();
    link_drive(prefix, 'c', image);
    for (int limit = 4000; limit <= 24000; limit += 400) {
        SCOPED_TRACE(limit);
        ProcessResult r = run_process("/bin/sh", {"-c", "ulimit -v $1; exec \"$0\" '*' c x",
                                                  MORLA_BINARY, std::to_string(limit)},
                                      {{"WINEPREFIX", prefix}}, 30);
        EXPECT_LT(r.status, 128) << r.err;
        if (r.status != 0) {
            EXPECT_NE(r.err, "");
        }
    }
    remove_tree(prefix);
    remove_tree(image.substr(0, image.rfind('/')));
}
#endif

}  // namespace
#endif
