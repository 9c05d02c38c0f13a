// The elevation relay on Linux with real sockets, real processes and real
// sudo: the pipe's two ends, the relay run by hand
// against a socket the test holds, and the whole elevated search as a
// temporary administrator and a temporary plain user.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <string>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "base/relay_trailer.h"
#include "platform/platform.h"
#include "platform/posix/relay/command_line.h"
#include "platform/posix/relay/launch.h"
#include "platform/posix/handles.h"
#include "platform/posix/utf8.h"
#include "tests/ntfs/ntfs_image_edit.h"
#include "tests/system/run_process.h"
#include "tests/system/test_volumes.h"

namespace fs = std::filesystem;

namespace {

const char kRefusal[] = "Sorry, this utility can only be run by Administrators.\n";
// What a relay started with no proof on its standard input sends first.
const std::string kNoProof(RELAY_PROOF_BYTES, '\0');

std::u16string wide(const std::string& bytes) {
    std::u16string units(bytes.size(), u'\0');
    units.resize(utf8_to_utf16(bytes.data(), bytes.size(), units.data()));
    return units;
}

std::u16string join(const std::vector<std::u16string>& words) {
    std::vector<const wchar*> pointers;
    for (const std::u16string& word : words) pointers.push_back(word.c_str());
    return command_line_join(pointers.data(), pointers.size());
}

std::u16string join_bytes(const std::vector<std::string>& words) {
    std::vector<std::u16string> units;
    for (const std::string& word : words) units.push_back(wide(word));
    return join(units);
}

std::string frame(const std::u16string& line) {
    uint32_t n = uint32_t(line.size());
    std::string bytes = {char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF),
                         char(n >> 24)};
    for (char16_t c : line) bytes += {char(c & 0xFF), char(c >> 8)};
    return bytes;
}

// What a worker that finished sends last.
std::string trailer(uint32_t status) {
    uint8_t bytes[RELAY_TRAILER_BYTES];
    make_relay_trailer(status, bytes);
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

// ---- A socket standing for the requester's end of the pipe ------------------

std::string unique_pipe_name() {
    uint32_t value = 0;
    if (getrandom(&value, sizeof value, 0) != sizeof value) value = uint32_t(getpid());
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", value);
    return std::string("\\\\.\\pipe\\morla-uac-pipe-") + digits;
}

sockaddr_un abstract_address(const std::string& name, socklen_t* length) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return address;
}

int listen_on(const std::string& name) {
    socklen_t length;
    sockaddr_un address = abstract_address(name, &length);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(fd, 4) != 0)
        return -1;
    return fd;
}

int connect_to(const std::string& name) {
    socklen_t length;
    sockaddr_un address = abstract_address(name, &length);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool wait_readable(int fd, int milliseconds) {
    pollfd ready = {fd, POLLIN, 0};
    return poll(&ready, 1, milliseconds) > 0;
}

std::string read_to_end(int fd) {
    std::string received;
    char buffer[4096];
    while (wait_readable(fd, 30000)) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        received.append(buffer, size_t(n));
    }
    return received;
}

// Accepts one client, runs `connected`, sends it `send` (then ends its own
// writing when asked) and keeps everything that comes back until the stream
// ends.
std::thread serve(int listener, std::string send, bool end_writing, std::string* received,
                  std::function<void()> connected = {}) {
    return std::thread([=] {
        if (!wait_readable(listener, 30000)) return;
        int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        if (connected) connected();
        if (!send.empty() && ::send(client, send.data(), send.size(), MSG_NOSIGNAL) < 0) {
            close(client);
            return;
        }
        if (end_writing) shutdown(client, SHUT_WR);
        *received = read_to_end(client);
        close(client);
    });
}

// ---- The relay, run by hand ----------------------------------------------------

TEST(RelayProcess, StartsTheWorkerOnTheFrameOrReports) {
    std::string prefix = make_temp_folder();  // no drives at all
    std::string self = std::to_string(getuid()), other = std::to_string(getuid() + 1);
    std::vector<std::string> many = {"morla", "x.txt"};
    for (int i = 0; i < 300; ++i) many.push_back("1");
    struct Case {
        const char* what;
        std::string frame;
        bool end_writing;
        std::string sudo_uid;  // empty: unset
        std::string stream, err;
        int status;
    };
    const Case cases[] = {
        {"worker messages travel", frame(join_bytes({"morla", "x.txt", "1", "q"})), false, self,
         kNoProof + "Invalid drive letter '1'\nUnable to access drive q\n" + trailer(3), "", 0},
        {"output far above 1024 bytes", frame(join_bytes(many)), false, self,
         kNoProof + repeat("Invalid drive letter '1'\n", 300) + trailer(3), "", 0},
        {"text cut short", frame(u"morla x.txt q").substr(0, 12), true, self, kNoProof,
         "Error: Read command line failed with error 32: Broken pipe\n", 32},
        {"count cut short", std::string("\x05\x00", 2), true, self, kNoProof,
         "Error: Read buffer size failed with error 32: Broken pipe\n", 32},
        {"count above 32767", frame(std::u16string(32768, u'x')), false, self, kNoProof,
         "Error: Read buffer size failed with error 7: Argument list too long\n", 7},
        {"server is not the requesting user", frame(u"morla x.txt q"), false, other, "",
         "Error: Connect to pipe failed with error 13: Permission denied\n", 13},
        {"nobody asked for elevation", frame(u"morla x.txt q"), false, "", "",
         "Error: Connect to pipe failed with error 13: Permission denied\n", 13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string name = unique_pipe_name();
        int listener = listen_on(name);
        ASSERT_GE(listener, 0);
        std::string stream;
        std::thread server = serve(listener, c.frame, c.end_writing, &stream);
        ProcessResult relay =
            run_morla({name, "ignored"}, {{"SUDO_UID", c.sudo_uid}, {"WINEPREFIX", prefix}}, 30);
        server.join();
        close(listener);
        EXPECT_EQ(relay.status, c.status);
        EXPECT_EQ(relay.out, "");
        EXPECT_EQ(relay.err, c.err);
        EXPECT_EQ(stream, c.stream);
    }
    remove_tree(prefix);
}

// Runs `work` in a child process as the unprivileged user 65534 (as this
// user when the test is not root); true when it returned true. The child of
// a process with threads may only make system calls: no allocation.
bool as_unprivileged_user(const std::function<bool()>& work) {
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        _exit(work() ? 0 : 1);
    }
    const int status = wait_for_child(pid, 30);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The program's folder belongs to another user, who swaps the file while the
// relay waits for the frame: the worker is still the program the relay runs.
TEST(RelayProcess, WorkerIsTheFileTheRelayRunsWhateverItsPathHoldsLater) {
    const std::string folder = make_temp_folder();
    const std::string program = folder + "/morla", shown = program + " (deleted)",
                      planted = folder + "/planted", marker = folder + "/planted-ran",
                      script = "#!/bin/sh\ntouch '" + marker + "'\necho planted\n";
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    }
    struct Case {
        const char* what;
        std::function<bool()> swap;
    };
    auto plant = [&](const char* path) {
        int fd = open(planted.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0755);
        bool written = fd >= 0 && write(fd, script.data(), script.size()) == ssize_t(script.size());
        if (fd >= 0) close(fd);
        return written && rename(planted.c_str(), path) == 0;
    };
    const Case cases[] = {
        {"a planted file renamed over it", [&] { return plant(program.c_str()); }},
        // /proc/self/exe of the relay now reads "<program> (deleted)".
        {"deleted, and a file planted under the name the kernel shows for it",
         [&] { return unlink(program.c_str()) == 0 && plant(shown.c_str()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::error_code ignored;
        fs::remove(program, ignored);
        fs::remove(shown, ignored);
        fs::remove(marker, ignored);
        fs::copy_file(MORLA_BINARY, program);
        chmod(program.c_str(), 0755);
        if (root) {
            ASSERT_EQ(chown(program.c_str(), 65534, 65534), 0);
        }
        std::string name = unique_pipe_name();
        int listener = listen_on(name);
        ASSERT_GE(listener, 0);
        std::string stream;
        bool swapped = false;
        std::thread server = serve(listener, frame(u"morla x.txt 1"), false, &stream,
                                   [&] { swapped = as_unprivileged_user(c.swap); });
        ProcessResult relay =
            run_process(program, {name}, {{"SUDO_UID", std::to_string(getuid())}}, 30);
        server.join();
        close(listener);
        EXPECT_TRUE(swapped);
        EXPECT_EQ(relay.status, 0) << relay.err;
        EXPECT_EQ(stream, kNoProof + "Invalid drive letter '1'\n" + trailer(3));
        EXPECT_FALSE(fs::exists(marker));
    }
    remove_tree(folder);
}

TEST(RelayProcess, NobodyServesThePipe) {
    ProcessResult relay = run_morla({unique_pipe_name()}, {{"SUDO_UID", "0"}}, 30);
    EXPECT_EQ(relay.status, 111);
    EXPECT_EQ(relay.out, "");
    EXPECT_EQ(relay.err, "Error: Connect to pipe failed with error 111: Connection refused\n");
}

// ---- The pipe's ends and the worker's start, in this process -----------------

// The relay's end of a pipe the test serves, as platform_open_pipe_client
// opens it (it accepts this process as the requesting user).
Handle open_relay_end(const std::string& name) {
    setenv("SUDO_UID", std::to_string(getuid()).c_str(), 1);
    Handle pipe = platform_open_pipe_client(wide(name).c_str());
    unsetenv("SUDO_UID");
    return pipe;
}

std::string run_worker(const std::u16string& program, const std::vector<std::string>& words) {
    std::string name = unique_pipe_name();
    int listener = listen_on(name);
    Handle pipe = open_relay_end(name);
    if (listener < 0 || pipe == INVALID_HANDLE) return "(no pipe)";
    std::u16string line = join_bytes(words);
    Handle process = nullptr, thread = nullptr;
    int started = platform_create_worker(program.c_str(), line.data(), pipe, &process, &thread);
    platform_close_handle(pipe);
    if (!started) return "(not started)";
    platform_close_handle(process);
    platform_close_handle(thread);
    int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    std::string output = read_to_end(client);
    close(client);
    close(listener);
    if (output.compare(0, kNoProof.size(), kNoProof) != 0) return "(no proof first)";
    return output.substr(kNoProof.size());
}

TEST(Worker, GetsTheArgumentsUnchanged) {
    const std::vector<std::string> arguments = {
        "a b", "\"q", " r", "\\s\\\\", "\t", "\xff\xfe", "\xc3\xa9", "", "a\\\\\"", "x\"y\\\"z",
        "\"\"", "\\", "C:\\Users\\ann\\*.doc", "tail "};
    std::vector<std::string> words = {"printf", "[%s]"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::string expected;
    for (const std::string& argument : arguments) expected += "[" + argument + "]";
    EXPECT_EQ(run_worker(u"/usr/bin/printf", words), expected);
}

TEST(Worker, HoldsOnlyThePipeInASessionOfItsOwn) {
    int stray = open("/dev/null", O_RDONLY);  // inheritable, and must not be inherited
    // ls lists the shell's descriptors from a process of its own.
    std::string script = "ls /proc/$$/fd; set -- $(cat /proc/$$/stat); echo \"$6 $$\"";
    std::string output = run_worker(u"/bin/sh", {"sh", "-c", script});
    close(stray);
    ASSERT_EQ(output.substr(0, 6), "0\n1\n2\n") << output;
    std::string ids = output.substr(6);
    size_t space = ids.find(' ');
    ASSERT_NE(space, std::string::npos);
    EXPECT_EQ(ids.substr(0, space) + "\n", ids.substr(space + 1));  // session id = its pid
}

TEST(PipeServer, NameInUseIsRefused) {
    std::u16string name = wide(unique_pipe_name());
    Handle first = platform_create_named_pipe(name.c_str());
    ASSERT_NE(first, INVALID_HANDLE);
    EXPECT_EQ(platform_create_named_pipe(name.c_str()), INVALID_HANDLE);
    EXPECT_EQ(platform_last_error(), uint32_t(EADDRINUSE));
    platform_close_handle(first);
}

pid_t start(const char* program, const char* argument) {
    pid_t pid = fork();
    if (pid == 0) {
        execl(program, program, argument, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

TEST(PipeServer, LaunchThatEndsFirstEndsTheWait) {
    Handle pipe = platform_create_named_pipe(wide(unique_pipe_name()).c_str());
    ASSERT_NE(pipe, INVALID_HANDLE);
    Handle launched = posix_new_process(start("/bin/true", nullptr));
    auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(platform_connect_named_pipe(pipe, launched), -1);
    EXPECT_EQ(platform_last_error(), uint32_t(ECANCELED));
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    platform_close_handle(launched);
    platform_close_handle(pipe);
}

// Connections queue up before the launched relay's: another user's, and
// another root process's that neither descends from the launch nor has its
// proof. Both are closed unheard, and the wait goes on to the launched one.
TEST(PipeServer, OnlyTheLaunchedRelayIsHeard) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    std::string name = unique_pipe_name();
    Handle pipe = platform_create_named_pipe(wide(name).c_str());
    ASSERT_NE(pipe, INVALID_HANDLE);
    int connected[2], go[2];
    ASSERT_EQ(::pipe(connected), 0);
    ASSERT_EQ(::pipe(go), 0);
    pid_t stranger = fork();
    if (stranger == 0) {
        // Nobody, not root: connects, says so, and waits to be closed unheard.
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        int fd = connect_to(name);
        if (fd < 0 || write(fd, "N", 1) != 1) _exit(4);
        if (write(connected[1], "c", 1) != 1) _exit(5);
        char c;
        _exit(wait_readable(fd, 30000) && read(fd, &c, 1) <= 0 ? 0 : 6);  // ended, or reset with "N" unread
    }
    // The launch: root, and it connects only once told to; it has no proof,
    // but /proc shows where it came from.
    const std::string said = kNoProof + "R";
    pid_t launched_pid = fork();
    if (launched_pid == 0) {
        char c;
        if (read(go[0], &c, 1) != 1) _exit(3);
        int fd = connect_to(name);
        if (fd < 0 || write(fd, said.data(), said.size()) != ssize_t(said.size())) _exit(4);
        // Held until the test closes its end.
        _exit(wait_readable(fd, 30000) && read(fd, &c, 1) == 0 ? 0 : 5);
    }
    char c;
    ASSERT_EQ(read(connected[0], &c, 1), 1);
    int root_stranger = connect_to(name);
    ASSERT_GE(root_stranger, 0);
    const std::string wrong_proof(RELAY_PROOF_BYTES, 'S');
    ASSERT_EQ(write(root_stranger, wrong_proof.data(), wrong_proof.size()),
              ssize_t(wrong_proof.size()));
    ASSERT_EQ(write(go[1], "g", 1), 1);
    Handle launched = posix_new_process(launched_pid);
    EXPECT_EQ(platform_connect_named_pipe(pipe, launched), 1);
    char heard = 0;
    uint32_t got = 0;
    // The stranger, heard by mistake, would say nothing more.
    EXPECT_TRUE(wait_readable(static_cast<PosixHandle*>(pipe)->fd, 10000) &&
                platform_read_file(pipe, &heard, 1, &got));
    EXPECT_EQ(heard, 'R');
    // Closed unheard.
    EXPECT_TRUE(wait_readable(root_stranger, 10000) && read(root_stranger, &c, 1) <= 0);
    int status = wait_for_child(stranger, 30);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    platform_close_handle(pipe);
    status = wait_for_child(launched_pid, 30);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    close(root_stranger);
    for (int fd : {connected[0], connected[1], go[0], go[1]}) close(fd);
    platform_close_handle(launched);
}

// ---- The whole elevated search, through sudo ---------------------------------

std::string find_tool(const std::string& name) {
    for (const char* folder : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
        std::string path = std::string(folder) + "/" + name;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return std::string();
}

int run_tool(const std::vector<std::string>& words) {
    std::string program = find_tool(words[0]);
    if (program.empty()) return -1;
    ProcessResult result =
        run_process(program, std::vector<std::string>(words.begin() + 1, words.end()), {}, 60);
    return result.status;
}

std::string an_ntfs_image() {
    std::error_code ignored;
    std::vector<std::string> fixtures;
    for (const auto& entry : fs::directory_iterator(fixture_path(""), ignored)) {
        std::string path = entry.path().string();
        // Volumes only: the disk fixtures hold few names.
        if (path.size() > 7 && path.compare(path.size() - 7, 7, ".img.gz") == 0 &&
            path.find("-disk.") == std::string::npos)
            fixtures.push_back(path);
    }
    std::sort(fixtures.begin(), fixtures.end());
    if (!fixtures.empty()) return unpack_image(fixtures[0]);
    std::string sample = shared_sample_path("ntfs-2m.raw.gz");
    return sample.empty() ? std::string() : unpack_image(sample, 65536);
}

// Users and rules left behind by a run that died: named after its process.
void remove_stale_leftovers() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/etc/sudoers.d", ignored)) {
        std::string file = entry.path().filename().string();
        if (file.rfind("morla-test-", 0) != 0) continue;
        long pid = std::atol(file.c_str() + 11);
        if (pid <= 0 || kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        fs::remove(entry.path(), ignored);
        run_tool({"userdel", "mtadm" + std::to_string(pid)});
        run_tool({"userdel", "mtusr" + std::to_string(pid)});
    }
}

class RealSudo : public ::testing::Test {
  protected:
    static inline std::string skip_reason, folder, binary, prefix, image, admin, plain,
        rule_file;
    static inline bool admin_made = false, plain_made = false;

    static void SetUpTestSuite() {
        skip_reason.clear();
        if (geteuid() != 0) {
            skip_reason = "needs root to make temporary users";
            return;
        }
        for (const char* tool : {"useradd", "userdel", "runuser", "setsid", "sudo", "visudo"})
            if (find_tool(tool).empty()) skip_reason = std::string("needs ") + tool;
        if (!getgrnam("sudo")) skip_reason = "needs the group sudo";
        if (!skip_reason.empty()) return;
        remove_stale_leftovers();

        std::string pid = std::to_string(getpid());
        folder = make_temp_folder();
        fs::create_directories(folder + "/bin");
        fs::create_directories(folder + "/home");
        binary = folder + "/bin/morla";
        fs::copy_file(MORLA_BINARY, binary);
        for (const std::string& path : {folder, folder + "/bin", folder + "/home", binary})
            chmod(path.c_str(), 0755);
        prefix = folder + "/prefix";
        fs::create_directories(prefix + "/dosdevices");
        image = an_ntfs_image();
        if (!image.empty()) link_drive(prefix, 'c', image);
        // The users' default prefix folder, for a requester without WINEPREFIX.
        fs::create_directory_symlink(prefix, folder + "/home/.wine");

        admin = "mtadm" + pid;
        plain = "mtusr" + pid;
        admin_made = run_tool({"useradd", "-M", "-d", folder + "/home", "-s", "/bin/sh", "-G",
                               "sudo", admin}) == 0;
        plain_made =
            run_tool({"useradd", "-M", "-d", folder + "/home", "-s", "/bin/sh", plain}) == 0;
        // Checked before it goes live: a broken rule file would break sudo.
        // Morla alone, without SETENV, which would let the user hand root an
        // environment of their choosing.
        std::string draft = folder + "/sudoers";
        // The plain user's rule makes them no administrator: it grants them
        // Morla alone.
        std::ofstream(draft) << admin << " ALL=(root) NOPASSWD: " << binary << "\n"
                             << plain << " ALL=(root) NOPASSWD: " << binary << "\n";
        rule_file = "/etc/sudoers.d/morla-test-" + pid;
        if (run_tool({"visudo", "-c", "-q", "-f", draft}) == 0) {
            fs::copy_file(draft, rule_file);
            chmod(rule_file.c_str(), 0440);
        } else {
            rule_file.clear();
        }
        if (!admin_made || !plain_made || rule_file.empty())
            skip_reason = "could not make the temporary users and rule";
    }

    static void TearDownTestSuite() {
        std::error_code ignored;
        if (!rule_file.empty()) fs::remove(rule_file, ignored);
        if (admin_made) run_tool({"userdel", admin});
        if (plain_made) run_tool({"userdel", plain});
        admin_made = plain_made = false;
        rule_file.clear();
        if (!image.empty()) remove_tree(fs::path(image).parent_path().string());
        remove_tree(folder);
    }

    void SetUp() override {
        if (!skip_reason.empty()) GTEST_SKIP() << skip_reason;
    }

    // How the user names the test prefix: WINEPREFIX, WINEPREFIX relative to
    // the working directory, or no WINEPREFIX (~/.wine links to it).
    enum Prefix { ABSOLUTE, RELATIVE, HOME };

    // The words that run a morla binary as a user, without a terminal.
    static std::vector<std::string> as_user(const std::string& user, const std::string& program,
                                            const std::vector<std::string>& args,
                                            Prefix named = ABSOLUTE,
                                            bool without_standard_output = false) {
        std::vector<std::string> words = {find_tool("runuser"), "-u", user, "--", "/usr/bin/env"};
        if (named == ABSOLUTE) words.push_back("WINEPREFIX=" + prefix);
        if (named == RELATIVE) words.insert(words.end(), {"-C", folder, "WINEPREFIX=prefix"});
        if (named == HOME) words.insert(words.end(), {"-u", "WINEPREFIX"});
        if (without_standard_output)
            words.insert(words.end(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" >&-"});
        words.push_back(program);
        words.insert(words.end(), args.begin(), args.end());
        return words;
    }

    static ProcessResult run_as(const std::string& user, const std::string& program,
                                const std::vector<std::string>& args, Prefix named = ABSOLUTE,
                                bool without_standard_output = false) {
        return run_process(find_tool("setsid"),
                           as_user(user, program, args, named, without_standard_output), {}, 60);
    }

    // Root's own search, standard output and error together as one stream.
    static ProcessResult run_as_root(const std::vector<std::string>& args) {
        std::vector<std::string> words = {"-c", "exec \"$0\" \"$@\" 2>&1", binary};
        words.insert(words.end(), args.begin(), args.end());
        return run_process("/bin/sh", words, {{"WINEPREFIX", prefix}}, 60);
    }
};

// The worker searches the drives the requester sees, from its WINEPREFIX or
// its ~/.wine, though sudo lets the user pass no environment.
TEST_F(RealSudo, AdministratorSeesWhatRootsSearchPrints) {
    if (image.empty()) GTEST_SKIP() << "no NTFS image to search";
    ProcessResult direct = run_as_root({"*", "C"});
    EXPECT_EQ(direct.status, 0);
    EXPECT_NE(direct.out, "");
    for (Prefix named : {ABSOLUTE, RELATIVE, HOME}) {
        SCOPED_TRACE(named);
        ProcessResult relayed = run_as(admin, binary, {"*", "C"}, named);
        EXPECT_EQ(relayed.status, 0);
        EXPECT_EQ(relayed.err, "");
        EXPECT_EQ(relayed.out, direct.out);
    }
}

// Standard output and standard error are one stream in the worker, as in
// root's own search with 2>&1: each message comes whole, between whole
// result lines, where it was printed, though results go out in 64 KiB blocks.
TEST_F(RealSudo, MessagesKeepTheirPlaceBetweenWholeResultLines) {
    if (image.empty()) GTEST_SKIP() << "no NTFS image to search";
    const std::string results = run_as_root({"*", "C"}).out;
    std::vector<std::string> args = {"*"};
    std::string expected;
    while (expected.size() < (size_t(3) << 16)) {
        args.insert(args.end(), {"C", "X"});
        expected += results + "Unable to access drive X\n";
    }
    ProcessResult direct = run_as_root(args), relayed = run_as(admin, binary, args);
    EXPECT_EQ(direct.status, 3);
    EXPECT_TRUE(direct.out == expected) << "root's own search";
    EXPECT_EQ(relayed.status, 3);
    EXPECT_EQ(relayed.err, "");
    EXPECT_TRUE(relayed.out == expected) << "the relayed search";
}

// The requester ends after the sudo it started, which may restore the
// terminal as it ends: here a stand-in that runs the real sudo and lingers.
TEST_F(RealSudo, RequesterEndsAfterTheSudoItStarted) {
    const std::string launcher = folder + "/launcher", lingered = launcher + "/lingered";
    fs::create_directories(launcher);
    std::ofstream(launcher + "/sudo")
        << "#!/bin/sh\n" << find_tool("sudo") << " \"$@\"\nsleep 1\ntouch " << lingered << "\n";
    chmod(launcher.c_str(), 0777);
    chmod((launcher + "/sudo").c_str(), 0755);
    std::vector<std::string> words = as_user(admin, "/bin/sh", {});
    words.insert(words.end(), {"-c", "PATH=" + launcher + ":$PATH \"$0\" x.txt q; s=$?; test -e " +
                                         lingered + " && echo after; exit $s",
                               binary});
    ProcessResult result = run_process(find_tool("setsid"), words, {}, 60);
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "Unable to access drive q\nafter\n");
}

// A process of the administrator whose working folder and root are a folder
// inside the administrator's 0700 folder: /proc/PID/cwd and /proc/PID/root
// lead there.
pid_t process_inside(const std::string& inside, const passwd* owner) {
    pid_t pid = fork();
    if (pid == 0) {
        gid_t group = owner->pw_gid;
        if (chroot(inside.c_str()) != 0 || chdir("/") != 0 || setgroups(1, &group) != 0 ||
            setresgid(group, group, group) != 0 || setresuid(owner->pw_uid, owner->pw_uid, owner->pw_uid) != 0)
            _exit(1);
        alarm(120);
        for (;;) pause();
    }
    return pid;
}

// What a rule for Morla grants a user outside the administrators' groups:
// root's rights for block devices, and the images they could read anyway;
// nothing of root's takes their paths further, not even through /proc. An
// administrator keeps root's rights, under sudo and relayed.
TEST_F(RealSudo, ARuleForMorlaGrantsBlockDevicesAndTheImagesTheUserMayRead) {
    if (image.empty()) GTEST_SKIP() << "no NTFS image to search";
    const std::string root_only = folder + "/root-only", own = folder + "/own",
                      open_folder = folder + "/open", theirs = folder + "/theirs";
    for (const std::string& made : {root_only, own, open_folder, theirs}) {
        fs::create_directories(made);
        fs::copy_file(image, made + "/volume.img");
        chmod((made + "/volume.img").c_str(), 0600);
    }
    chmod(root_only.c_str(), 0700);
    chmod(open_folder.c_str(), 0755);
    const passwd* other = getpwnam(admin.c_str());
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(chown(theirs.c_str(), other->pw_uid, other->pw_gid), 0);
    chmod(theirs.c_str(), 0700);
    // Only the 0700 folder above stands in the way.
    const std::string inner = theirs + "/inner";
    fs::create_directories(inner);
    fs::rename(theirs + "/volume.img", inner + "/volume.img");
    chmod((inner + "/volume.img").c_str(), 0644);
    const pid_t inside = process_inside(inner, other);
    const passwd* user = getpwnam(plain.c_str());
    ASSERT_NE(user, nullptr);
    const std::string through = "/proc/" + std::to_string(inside);
    ASSERT_EQ(chown(own.c_str(), user->pw_uid, user->pw_gid), 0);
    ASSERT_EQ(chown((own + "/volume.img").c_str(), user->pw_uid, user->pw_gid), 0);
    chmod((own + "/volume.img").c_str(), 0600);
    // The user's own E01 in 1 MiB segments (random bytes after the volume
    // make several), and a copy whose second segment only root may read:
    // the library's opens are the user's too.
    const std::string e01 = own + "/e01", hidden = own + "/hidden";
    const bool have_ewf = std::system(("mkdir '" + e01 + "' '" + hidden + "' && cp '" + image + "' '" + e01 +
                                       "/v.raw' && head -c 3145728 /dev/urandom >> '" + e01 +
                                       "/v.raw' && cd '" + e01 +
                                       "' && ewfacquire -u -q -t v -f encase6 -c deflate:fast -S 1048576 "
                                       "v.raw >/dev/null 2>&1 && rm v.raw && cp v.E0* '" + hidden +
                                       "' && chown -R " + plain + " '" + e01 + "' '" + hidden +
                                       "' && chown root '" + hidden + "/v.E02' && chmod 0600 '" + hidden +
                                       "/v.E02'")
                                          .c_str()) == 0;
    LoopDisk disk = attach_loop_disk(root_only + "/volume.img", 0);
    // A character device anyone may open: refused for what it is.
    const std::string device = own + "/null";
    ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    const std::string names = run_as_root({"*", "C"}).out, sudo = find_tool("sudo");
    ASSERT_NE(names, "");
    struct Case {
        const char* what;
        std::string target, user;
        bool through_sudo, finds;
        std::string cause;  // of a disk or container that opened, after the usual line
    };
    const Case cases[] = {
        {"root-only image, rule for Morla", root_only + "/volume.img", plain, true, false, ""},
        {"root-only image in an open folder, rule for Morla", open_folder + "/volume.img", plain,
         true, false, ""},
        {"another user's folder as a process's working folder, rule for Morla",
         through + "/cwd/volume.img", plain, true, false, ""},
        {"another user's folder as a process's root, rule for Morla",
         through + "/root/volume.img", plain, true, false, ""},
        {"the user's own image, rule for Morla", own + "/volume.img", plain, true, true, ""},
        {"block device, rule for Morla", disk.device, plain, true, true, ""},
        {"character device, rule for Morla", device, plain, true, false, ""},
        {"root-only image, administrator under sudo", root_only + "/volume.img", admin, true, true, ""},
        {"root-only image, administrator relayed", root_only + "/volume.img", admin, false, true, ""},
        {"the user's own E01, rule for Morla", have_ewf ? e01 + "/v.E01" : "", plain, true, true, ""},
        {"the user's E01 with a root-only segment, rule for Morla", have_ewf ? hidden + "/v.E01" : "", plain,
         true, false, "an E01 segment is missing or unreadable"},
        {"the same, administrator under sudo", have_ewf ? hidden + "/v.E01" : "", admin, true, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.target.empty()) {
            ADD_FAILURE() << "no loop device, or no E01 could be made";
            continue;
        }
        link_drive(prefix, 'c', c.target);
        // sudo passes no WINEPREFIX: the user's ~/.wine names the same drives.
        ProcessResult r = c.through_sudo ? run_as(c.user, sudo, {"-n", binary, "*", "C"})
                                         : run_as(c.user, binary, {"*", "C"});
        EXPECT_EQ(r.status, c.finds ? 0 : 3);
        EXPECT_EQ(r.out, c.finds ? names : "");
        EXPECT_EQ(r.err, c.finds ? "" : "Unable to access drive C\n" +
                                             (c.cause.empty() ? "" : "Damaged disk or image 'C:': " + c.cause + "\n"));
    }
    // Every volume: these images are no volume the user can open.
    for (const std::string& target : {root_only + "/volume.img", through + "/cwd/volume.img"}) {
        SCOPED_TRACE(target);
        link_drive(prefix, 'c', target);
        ProcessResult every = run_as(plain, sudo, {"-n", binary, "*"});
        EXPECT_EQ(every.status, 0);
        EXPECT_EQ(every.out.find("C:"), std::string::npos);
        EXPECT_NE(every.err.find("Unable to access volume '\\\\.\\C:'\n"), std::string::npos)
            << every.err;
    }
    kill(inside, SIGKILL);
    wait_for_child(inside, 10);
    detach_loop_disk(&disk);
    link_drive(prefix, 'c', image);
    for (const std::string& made : {root_only, own, open_folder, theirs}) remove_tree(made);
}

TEST_F(RealSudo, OutputFarAbove1024BytesArrivesWhole) {
    std::vector<std::string> args = {"x.txt"};
    for (int i = 0; i < 400; ++i) args.push_back(i % 2 ? "1" : "q");
    ProcessResult relayed = run_as(admin, binary, args);
    EXPECT_EQ(relayed.status, 3);  // the worker's own
    EXPECT_EQ(relayed.err, "");
    EXPECT_EQ(relayed.out, repeat("Unable to access drive q\nInvalid drive letter '1'\n", 200));
}

TEST_F(RealSudo, ArgumentsReachTheWorkerUnchanged) {
    const std::vector<std::string> args = {"a b\"c\\\\\"d", "\"q", " r", "\\s", "\t", "\xff\xfe",
                                           "\xc3\xa9",     "",    "a\\\\\"", "Cfoo", "q r"};
    ProcessResult relayed = run_as(admin, binary, args);
    ProcessResult direct = run_as_root(args);
    EXPECT_EQ(relayed.status, 3);
    EXPECT_EQ(relayed.err, "");
    // More than the relay takes: refused there, and no success here.
    ProcessResult too_long = run_as(admin, binary, {"x", std::string(32768, 'q')});
    EXPECT_EQ(too_long.status, 3);
    EXPECT_EQ(too_long.out, "");
    EXPECT_EQ(too_long.err,
              "Error: Read buffer size failed with error 7: Argument list too long\n"
              "The elevated search ended before it finished\n");
    EXPECT_NE(direct.out, "");
    EXPECT_EQ(relayed.out, direct.out);
}

TEST_F(RealSudo, RequesterWithoutStandardOutputReportsTheFirstChunk) {
    ProcessResult result = run_as(admin, binary, {"x.txt", "q"}, ABSOLUTE, true);
    EXPECT_EQ(result.status, 9);
    EXPECT_EQ(result.err, "WriteFile failed with error 9: Bad file descriptor\n");
}

TEST_F(RealSudo, WorksFromATerminal) {
    // sudo then runs the relay on a terminal of its own, which goes away with
    // the relay; the worker must run on. It is held in its writes, having far
    // more to say than the pipes and the terminal between hold, while nothing
    // is read until the relay has surely ended.
    if (image.empty()) GTEST_SKIP() << "no NTFS image to search";
    std::string script = find_tool("script");
    if (script.empty()) SKIP_WITHOUT_TOOL("needs script for a terminal");
    const int searches = 100;
    std::string command = find_tool("runuser") + " -u " + admin +
                          " -- /usr/bin/env WINEPREFIX=" + prefix + " " + binary + " '*'";
    for (int i = 0; i < searches; ++i) command += " C";
    ProcessResult result =
        run_process(find_tool("setsid"), {script, "-qec", command, "/dev/null"}, {}, 120,
                    [] { std::this_thread::sleep_for(std::chrono::milliseconds(1500)); });
    ProcessResult one = run_as_root({"*", "C"});
    EXPECT_EQ(result.status, 0);
    EXPECT_GT(one.out.size() * searches, size_t(1) << 20);
    // The terminal ends each line with CR LF.
    auto lines = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
    EXPECT_EQ(lines(result.out), lines(one.out) * searches);
}

// The listening relay pipes the kernel shows to everyone, by name.
std::vector<std::string> listening_pipes() {
    std::vector<std::string> names;
    std::ifstream table("/proc/net/unix");
    std::string line;
    const std::string prefix = "@\\\\.\\pipe\\morla-uac-pipe-";
    while (std::getline(table, line)) {
        size_t at = line.find(prefix);
        // The flags column says __SO_ACCEPTCON (a listening socket).
        if (at != std::string::npos && line.find(" 00010000 ") != std::string::npos)
            names.push_back(line.substr(at + 1));
    }
    return names;
}

// Another root process (any user with a rule for Morla could start one)
// connects to the requester's pipe before the relay does, while sudo is
// slow to start it: refused, and the requester's own relay still searches.
TEST_F(RealSudo, AnotherRootProcessFirstOnThePipeIsRefused) {
    if (image.empty()) GTEST_SKIP() << "no NTFS image to search";
    const std::string slow = folder + "/slow";
    fs::create_directories(slow);
    std::ofstream(slow + "/sudo") << "#!/bin/sh\nsleep 1\nexec " << find_tool("sudo") << " \"$@\"\n";
    chmod(slow.c_str(), 0755);
    chmod((slow + "/sudo").c_str(), 0755);
    const std::vector<std::string> before = listening_pipes();
    ProcessResult relayed;
    std::thread requester([&] {
        relayed = run_process(find_tool("setsid"),
                              {find_tool("runuser"), "-u", admin, "--", "/usr/bin/env",
                               "PATH=" + slow + ":/usr/bin:/bin", "WINEPREFIX=" + prefix, binary,
                               "*", "C"},
                              {}, 60);
    });
    std::string name;
    for (int i = 0; i < 500 && name.empty(); ++i) {
        for (const std::string& seen : listening_pipes())
            if (std::find(before.begin(), before.end(), seen) == before.end()) name = seen;
        if (name.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    int intruder = name.empty() ? -1 : connect_to(name);
    EXPECT_GE(intruder, 0) << "no pipe seen";
    std::string heard = "(not closed)";
    if (intruder >= 0 && wait_readable(intruder, 10000)) {
        char buffer[64];
        ssize_t n = read(intruder, buffer, sizeof buffer);
        heard = n > 0 ? std::string(buffer, size_t(n)) : "";
    }
    // Closed before the wait for the requester, which would otherwise wait
    // for the intruder's output.
    if (intruder >= 0) close(intruder);
    requester.join();
    EXPECT_EQ(heard, "");  // closed without a frame
    EXPECT_EQ(relayed.status, 0);
    EXPECT_EQ(relayed.err, "");
    EXPECT_EQ(relayed.out, run_as_root({"*", "C"}).out);
    remove_tree(slow);
}

// With /proc mounted hidepid=2 (in a mount namespace of the run's own) the
// requester sees none of root's processes: the relay proves its launch with
// what sudo passed on as its standard input. A launcher that passes nothing
// on leaves a relay only /proc could vouch for; there it is refused, and the
// requester says what failed, not that the launch was declined.
TEST_F(RealSudo, TheRelayIsHeardWhereProcIsPrivate) {
    if (image.empty()) GTEST_SKIP() << "no NTFS image to search";
    const std::string hidepid = "mount -t proc -o hidepid=2 proc /proc && exec \"$0\" \"$@\"";
    const std::vector<std::string> private_proc = {"-m", "--propagation", "private", "/bin/sh",
                                                   "-c", hidepid};
    if (run_process(find_tool("unshare"), {"-m", "/bin/sh", "-c", hidepid, "/bin/true"}).status)
        SKIP_WITHOUT_TOOL("needs a mount namespace and a proc mount");
    const std::string bare = folder + "/bare";  // sudo, its standard input taken away
    fs::create_directories(bare);
    std::ofstream(bare + "/sudo") << "#!/bin/sh\nexec " << find_tool("sudo") << " \"$@\" </dev/null\n";
    chmod(bare.c_str(), 0755);
    chmod((bare + "/sudo").c_str(), 0755);
    const std::string found = run_as_root({"*", "C"}).out;
    struct Case {
        const char* what;
        bool proc_private, proof_passed;
        int status;
        std::string out, err;
    };
    const Case cases[] = {
        {"private /proc", true, true, 0, found, ""},
        {"no proof, /proc shows the relay", false, false, 0, found, ""},
        {"no proof, private /proc", true, false, 13, "",
         "Error: Read buffer size failed with error 32: Broken pipe\n"
         "ConnectNamedPipe failed with error 13: Permission denied\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string program = find_tool("setsid");
        std::vector<std::string> words = as_user(admin, binary, {"*", "C"});
        // After /usr/bin/env: the stand-in comes first on the user's PATH.
        if (!c.proof_passed) words.insert(words.begin() + 5, "PATH=" + bare + ":/usr/bin:/bin");
        if (c.proc_private) {
            words.insert(words.begin(), program);
            words.insert(words.begin(), private_proc.begin(), private_proc.end());
            program = find_tool("unshare");
        }
        ProcessResult relayed = run_process(program, words, {}, 60);
        EXPECT_EQ(relayed.status, c.status);
        EXPECT_EQ(relayed.err, c.err);
        EXPECT_TRUE(relayed.out == c.out) << relayed.out.size() << " bytes";
    }
    remove_tree(bare);
}

TEST_F(RealSudo, PlainUserIsRefused) {
    ProcessResult result = run_as(plain, binary, {"*", "C"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, kRefusal);
}

TEST_F(RealSudo, DeclinedLaunchEndsWithItsReport) {
    // A copy sudo has no rule for: it wants a password, and there is no terminal.
    std::string other = folder + "/other";
    fs::create_directories(other);
    fs::copy_file(binary, other + "/morla");
    chmod(other.c_str(), 0755);
    auto began = std::chrono::steady_clock::now();
    ProcessResult result = run_as(admin, other + "/morla", {"*", "C"});
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
    const std::string report = "ShellExecuteEx failed with error 125: Operation canceled\n";
    EXPECT_EQ(result.status, 125);
    EXPECT_EQ(result.out, "");
    ASSERT_GE(result.err.size(), report.size());
    EXPECT_EQ(result.err.substr(result.err.size() - report.size()), report);
}

TEST_F(RealSudo, ProgramPathCutShortIsCaughtBeforeTheLaunch) {
    std::string deep = folder;
    while (deep.size() <= 256) deep += "/" + std::string(40, 'd');
    fs::create_directories(deep);
    for (std::string path = deep; path.size() > folder.size(); path = fs::path(path).parent_path())
        chmod(path.c_str(), 0755);
    fs::copy_file(binary, deep + "/morla");
    ProcessResult result = run_as(admin, deep + "/morla", {"*", "C"});
    EXPECT_EQ(result.status, 36);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "GetModuleFileName failed with error 36: File name too long\n");
}

// The requester's file is replaced, by the user who owns its folder, after
// the requester started from it: the requester launches nothing.
TEST_F(RealSudo, RequesterRefusesToLaunchAFileReplacedSinceItStarted) {
    const std::string swap = folder + "/swap", program = swap + "/morla",
                      marker = swap + "/planted-ran";
    fs::create_directories(swap);
    fs::copy_file(binary, program);
    ASSERT_EQ(chown(swap.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chown(program.c_str(), 65534, 65534), 0);
    chmod(swap.c_str(), 0755);
    // The requester runs the file opened here, started through this very
    // descriptor after the swap; /proc/self/exe then reads "<program> (deleted)".
    int running = open(program.c_str(), O_RDONLY);
    ASSERT_GE(running, 0);
    ASSERT_TRUE(as_unprivileged_user([&] {
        std::ofstream(program + ".new") << "#!/bin/sh\ntouch " << marker << "\n";
        return chmod((program + ".new").c_str(), 0755) == 0 &&
               rename((program + ".new").c_str(), program.c_str()) == 0;
    }));
    ProcessResult result = run_as(admin, "/proc/self/fd/" + std::to_string(running), {"*", "C"});
    close(running);
    EXPECT_EQ(result.status, ESTALE);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "ShellExecuteEx failed with error 116: Stale file handle\n");
    EXPECT_FALSE(fs::exists(marker));
}

// The pids of the processes of uid started as program with this first
// argument (the requester's arguments reach the worker unchanged).
std::vector<pid_t> processes_running(const std::string& program, uid_t uid,
                                     const std::string& first_argument) {
    std::vector<pid_t> pids;
    const std::string start = program + '\0' + first_argument + '\0';
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
        std::string name = entry.path().filename().string();
        struct stat owner;
        if (name.find_first_not_of("0123456789") != std::string::npos ||
            stat(entry.path().c_str(), &owner) != 0 || owner.st_uid != uid)
            continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string command((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (command.compare(0, start.size(), start) == 0) pids.push_back(pid_t(std::stoi(name)));
    }
    return pids;
}

// The requester dies while the worker scans, writing all the time or never:
// within a second no Morla process of root is left, and the worker ended by
// itself, not by a signal. The worker is found by its command line, which
// starts with the program file it runs.
TEST_F(RealSudo, KilledRequesterLeavesNoRootProcessBehind) {
    if (image.empty()) GTEST_SKIP() << "no NTFS image to search";
    // Orphans come to this process: the worker, once the relay has ended.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const uid_t admin_uid = getpwnam(admin.c_str())->pw_uid;
    for (const std::string pattern : {"no-such-name", "*"}) {
      // The worker dying instead (a crash on a hostile volume, the memory
      // killer) is no success of the requester's: it ends its last line,
      // says so, and ends with a failure status.
      for (const int worker_signal : {0, SIGKILL, SIGSEGV}) {
        SCOPED_TRACE(pattern + " " + std::to_string(worker_signal));
        std::vector<std::string> args = {pattern};
        args.insert(args.end(), 10000, "C");  // a scan of many seconds
        std::vector<std::string> words = as_user(admin, binary, args);
        const std::string out_file = folder + "/out", err_file = folder + "/err";
        pid_t runner = fork();
        if (runner == 0) {
            int null = open("/dev/null", O_RDWR);
            for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
            if (worker_signal) {
                dup2(open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
                dup2(open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            }
            std::vector<char*> argv;
            for (std::string& word : words) argv.push_back(word.data());
            argv.push_back(nullptr);
            setsid();
            execv(argv[0], argv.data());
            _exit(127);
        }
        std::vector<pid_t> workers, requesters;
        for (int i = 0; i < 200 && workers.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            workers = processes_running(binary, 0, pattern);
        }
        requesters = processes_running(binary, admin_uid, pattern);
        EXPECT_EQ(workers.size(), 1u);
        EXPECT_EQ(requesters.size(), 1u);
        // Named as what it is in ps, top and pgrep, though started through
        // /proc/self/exe. Found as soon as it runs, it may not have named
        // itself yet.
        for (pid_t worker : workers) {
            std::string name;
            for (int i = 0; i < 40 && name != "morla"; ++i) {
                if (i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
                std::ifstream comm("/proc/" + std::to_string(worker) + "/comm");
                std::getline(comm, name);
            }
            EXPECT_EQ(name, "morla");
        }
        if (worker_signal) {
            for (pid_t worker : workers) kill(worker, worker_signal);
            for (pid_t worker : workers) waitpid(worker, nullptr, 0);
            const int status = wait_for_child(runner, 30);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
            const std::string out = read_file(out_file);
            EXPECT_TRUE(out.empty() || out.back() == '\n');
            EXPECT_EQ(read_file(err_file), "The elevated search ended before it finished\n");
            continue;
        }
        for (pid_t requester : requesters) kill(requester, SIGKILL);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        EXPECT_TRUE(processes_running(binary, 0, pattern).empty());
        for (pid_t worker : workers) {
            int status = -1;
            if (waitpid(worker, &status, WNOHANG) != worker) {
                ADD_FAILURE() << "the worker is still running";
                kill(worker, SIGKILL);
                waitpid(worker, nullptr, 0);
            } else {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EPIPE) << status;
            }
        }
        kill(runner, SIGKILL);
        waitpid(runner, nullptr, 0);
      }
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// A terminal of its own, whose foreground process is words[0] run as user,
// as from a shell: reads what it shows and types into it.
struct Terminal {
    pid_t pid = -1;
    int master = -1;
    std::string shown;
};

Terminal start_in_terminal(const std::string& user, const std::vector<std::string>& words,
                           const std::vector<std::string>& variables) {
    const passwd* entry = getpwnam(user.c_str());
    std::vector<gid_t> groups(64);
    int count = int(groups.size());
    Terminal t;
    if (!entry || getgrouplist(entry->pw_name, entry->pw_gid, groups.data(), &count) < 0) return t;
    const uid_t uid = entry->pw_uid;
    const gid_t gid = entry->pw_gid;
    std::vector<std::string> strings = words, environment = variables;
    std::vector<char*> argv, envp;
    for (std::string& word : strings) argv.push_back(word.data());
    for (std::string& variable : environment) envp.push_back(variable.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    t.pid = forkpty(&t.master, nullptr, nullptr, nullptr);
    if (t.pid == 0) {
        if (setgroups(size_t(count), groups.data()) == 0 && setresgid(gid, gid, gid) == 0 &&
            setresuid(uid, uid, uid) == 0)
            execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return t;
}

// Waits until the terminal has shown text since the last wait.
bool wait_shown(Terminal* t, const std::string& text, int seconds = 20) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        size_t at = t->shown.find(text);
        if (at != std::string::npos) {
            t->shown.erase(0, at + text.size());
            return true;
        }
        if (std::chrono::steady_clock::now() > end || !wait_readable(t->master, 100)) {
            if (std::chrono::steady_clock::now() > end) return false;
            continue;
        }
        char buffer[4096];
        ssize_t got = read(t->master, buffer, sizeof buffer);
        if (got <= 0) return false;
        t->shown.append(buffer, size_t(got));
    }
}

// Ctrl-C stops the search at once wherever it comes, at sudo's prompt or at
// the first result, in either order; a requester ended at the prompt, or a
// sudo killed there, leaves no sudo behind and the terminal's echo on.
TEST_F(RealSudo, FromATerminalCtrlCAndSignalsEndTheSearchAndGiveTheTerminalBack) {
    if (image.empty()) GTEST_SKIP() << "no NTFS image to search";
    // A copy sudo has no rule for asks the administrator's password.
    const std::string other = folder + "/asks";
    fs::create_directories(other);
    fs::copy_file(binary, other + "/morla", fs::copy_options::overwrite_existing);
    chmod(other.c_str(), 0755);
    const std::string asks = other + "/morla", sudo = find_tool("sudo");
    std::string searches = "'" + binary + "' '*'";
    for (int i = 0; i < 3000; ++i) searches += " C";  // seconds of output
    const std::string at_prompt = "'" + asks + "' x.txt q";
    const std::vector<std::string> variables = {"WINEPREFIX=" + prefix, "PATH=/usr/bin:/bin",
                                                "HOME=" + folder + "/home"};
    struct Case {
        const char* what;
        std::vector<std::string> commands;  // run one after the other, each stopped by Ctrl-C
    };
    const Case cases[] = {
        {"Ctrl-C at the first result, then at the prompt",
         {searches, searches, searches, at_prompt, searches}},
        {"Ctrl-C at the prompt, then at the first result",
         {at_prompt, searches, searches, searches, searches}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Caught, not ignored, so that each command gets Ctrl-C as from a shell.
        std::string script = "trap : INT";
        for (const std::string& command : c.commands) script += "; " + command + "; echo \"[$?]\"";
        Terminal t = start_in_terminal(admin, {"/bin/sh", "-c", script}, variables);
        ASSERT_GT(t.pid, 0);
        for (const std::string& command : c.commands) {
            EXPECT_TRUE(wait_shown(&t, command == at_prompt ? "password for" : "C:\\"))
                << command.substr(0, 40);
            EXPECT_EQ(write(t.master, "\x03", 1), 1);
            EXPECT_TRUE(wait_shown(&t, "[130]", 10)) << t.shown.substr(0, 200);
        }
        EXPECT_TRUE(WIFEXITED(wait_for_child(t.pid, 20)));
        close(t.master);
    }
    // The requester ended by a signal at the prompt, or sudo killed there.
    for (const bool sudo_killed : {false, true}) {
        SCOPED_TRACE(sudo_killed ? "sudo killed at the prompt" : "requester ended at the prompt");
        // The shell stays, and the terminal with it, as after a job that ended.
        Terminal t = start_in_terminal(
            admin, {"/bin/sh", "-c", at_prompt + "; echo \"[$?]\"; sleep 20"}, variables);
        ASSERT_GT(t.pid, 0);
        EXPECT_TRUE(wait_shown(&t, "password for"));
        std::vector<pid_t> prompting = processes_running(sudo, 0, asks);
        EXPECT_EQ(prompting.size(), 1u);
        // Its input a terminal, sudo holds the terminal raw while the relay
        // runs, and a Ctrl-C then misses the requester (the race above).
        for (pid_t pid : prompting) {
            char input[256];
            ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/fd/0").c_str(), input, 255);
            EXPECT_TRUE(n > 0 && std::string(input, size_t(n)).rfind("/dev/pts/", 0) != 0);
        }
        if (sudo_killed)
            for (pid_t pid : prompting) kill(pid, SIGKILL);
        else
            for (pid_t pid : processes_running(asks, getpwnam(admin.c_str())->pw_uid, "x.txt"))
                kill(pid, SIGTERM);
        EXPECT_TRUE(wait_shown(&t, sudo_killed ? "[125]" : "[143]", 10)) << t.shown;
        for (int i = 0; i < 50 && !processes_running(sudo, 0, asks).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(processes_running(sudo, 0, asks).empty());
        termios modes;
        ASSERT_EQ(tcgetattr(t.master, &modes), 0);
        EXPECT_TRUE(modes.c_lflag & ECHO);
        for (pid_t pid : processes_running(sudo, 0, asks)) kill(pid, SIGKILL);
        kill(t.pid, SIGKILL);
        wait_for_child(t.pid, 10);
        close(t.master);
    }
    remove_tree(other);
}

TEST_F(RealSudo, RelayModeMakesNoAdministratorCheck) {
    ProcessResult result = run_as(plain, binary, {unique_pipe_name()});
    EXPECT_EQ(result.status, 111);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error: Connect to pipe failed with error 111: Connection refused\n");
}

}  // namespace

#endif
