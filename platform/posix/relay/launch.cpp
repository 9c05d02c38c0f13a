// Stands in for ShellExecuteExW with the verb "runas", CreateProcessW and
// FreeConsole. On Linux the elevated launch runs sudo on the program's own
// file (the requester then waits for sudo, which holds the terminal), the
// relay's worker is started with posix_spawn in a session of its own with
// the relay's socket as its descriptors 0, 1 and 2, and the relay lets go
// of its terminal by closing its own descriptors 0 to 2.
#include "platform/posix/relay/launch.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "platform/posix/failure.h"
#include "platform/posix/handles.h"
#include "platform/posix/relay/command_line.h"
#include "platform/posix/relay/program_path.h"
#include "platform/posix/relay/requester_prefix.h"
#include "platform/posix/utf8.h"

extern char** environ;

namespace {

std::string to_bytes(const std::u16string& units) { return utf8_text(units.data(), units.size()); }

// Keeps the strings alive while spawn reads the vector.
std::vector<char*> argv_of(std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return argv;
}

// Whether path still names the file this process runs: not when the file
// was deleted (the kernel then shows " (deleted)" after its old path) or
// another file was put in its place.
bool names_running_file(const std::string& path) {
    const std::string deleted = " (deleted)";
    if (path.size() >= deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        return false;
    struct stat running, named;
    return stat("/proc/self/exe", &running) == 0 && stat(path.c_str(), &named) == 0 &&
           running.st_dev == named.st_dev && running.st_ino == named.st_ino;
}

// The relay's environment for the worker, with the requester's prefix folder
// as WINEPREFIX (none when the requester has none), so that the worker
// searches the drives the requester sees.
int worker_environment(int pipe, std::vector<std::string>* words) {
    std::string prefix;
    if (!posix_requester_prefix(pipe, &prefix)) return 0;
    for (char** variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, "WINEPREFIX=", 11) != 0) words->push_back(*variable);
    if (!prefix.empty()) words->push_back("WINEPREFIX=" + prefix);
    return 1;
}

// The sudo this process launched, until it has been waited for: sudo turns
// the terminal's echo off for its password prompt and back on as it ends,
// so the requester must not hand the terminal back to the shell before it.
// Read by the signal handler below, hence volatile and of an atomic type.
volatile sig_atomic_t launcher_pid = 0;

// What the relay of this process's launch is to send back; made afresh at
// each launch.
uint8_t launch_proof[RELAY_PROOF_BYTES];
bool launch_proof_made = false;

// A pipe whose read end (*read_end) holds the proof and then its end, for
// sudo's standard input.
int proof_pipe(int* read_end) {
    int ends[2];
    if (!platform_crypt_gen_random(0, RELAY_PROOF_BYTES, launch_proof)) return 0;
    if (pipe2(ends, O_CLOEXEC) != 0) return posix_fail(errno);
    // A fresh pipe holds far more than the proof: the write is whole.
    bool written = write(ends[1], launch_proof, RELAY_PROOF_BYTES) == RELAY_PROOF_BYTES;
    int error = errno;
    close(ends[1]);
    if (!written) {
        close(ends[0]);
        return posix_fail(error);
    }
    // On a standard descriptor (one was closed), the dup2 onto 0 would keep
    // its close-on-exec flag, or take standard output's place.
    *read_end = ends[0] > 2 ? ends[0] : fcntl(ends[0], F_DUPFD_CLOEXEC, 3);
    error = errno;
    if (*read_end != ends[0]) close(ends[0]);
    if (*read_end < 0) return posix_fail(error);
    launch_proof_made = true;
    return 1;
}

// The terminal and its modes as they were before sudo started: sudo turns
// echo off for its prompt, and sudo killed meanwhile (by root, or the memory
// killer) would leave it so for the shell. -1 without a terminal.
int terminal = -1;
termios terminal_modes;

void note_terminal_modes() {
    if (terminal >= 0) return;
    terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal >= 0 && tcgetattr(terminal, &terminal_modes) != 0) {
        close(terminal);
        terminal = -1;
    }
}

// Puts the modes back, unless another job holds the terminal by now. Safe in
// a signal handler.
void restore_terminal_modes() {
    if (terminal >= 0 && tcgetpgrp(terminal) == getpgrp())
        tcsetattr(terminal, TCSANOW, &terminal_modes);
}

// A signal that ends the requester (Ctrl-C, a closed terminal, kill) while
// sudo may still run is passed on to sudo first (the terminal's own signals
// reach it anyway, kill's do not, and a sudo left at its prompt would eat
// the shell's next line); the requester ends after it. A sudo that lets the
// signal pass (caught in a step of its own) is killed after a second: its
// prompt's modes are put back here.
void end_after_launcher(int signal_number) {
    const pid_t pid = pid_t(launcher_pid);
    if (pid > 0) kill(pid, signal_number);
    for (int tries = 0; pid > 0 && tries < 200; ++tries) {
        if (waitpid(pid, nullptr, WNOHANG) != 0) break;
        if (tries == 100) kill(pid, SIGKILL);
        const timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    restore_terminal_modes();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void end_signals_after_launcher() {
    struct sigaction action = {};
    action.sa_handler = end_after_launcher;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction before;
        // A signal the caller ignores (nohup, a background job) stays ignored.
        if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            sigaction(signal_number, &action, nullptr);
    }
}

}  // namespace

bool posix_is_launch_proof(const uint8_t* bytes) {
    uint8_t differ = 0;
    for (uint32_t i = 0; i < RELAY_PROOF_BYTES; ++i) differ |= uint8_t(bytes[i] ^ launch_proof[i]);
    return launch_proof_made && differ == 0;
}

void posix_wait_for_launcher() {
    const pid_t pid = pid_t(launcher_pid);
    if (pid <= 0) return;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    launcher_pid = 0;
    if (WIFSIGNALED(status)) restore_terminal_modes();
}

void posix_launcher_waited_for() {
    launcher_pid = 0;
    restore_terminal_modes();
}

std::string posix_find_launcher() {
    const char* path = std::getenv("PATH");
    std::string folders = path && *path ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = folders.find(':', start);
        std::string folder = folders.substr(start, end == std::string::npos ? end : end - start);
        if (!folder.empty()) {
            std::string candidate = folder + "/sudo";
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        if (end == std::string::npos) return std::string();
        start = end + 1;
    }
}

// sudo keeps the terminal for its password prompt and ends when it is
// refused, or when the relay it started has ended; the requester ends after
// it (posix_wait_for_launcher).
int platform_shell_execute_runas(const wchar* file, const wchar* parameters, Handle* process) {
    std::string launcher = posix_find_launcher();
    if (launcher.empty()) return posix_fail(ENOENT);
    std::u16string program(file);
    if (program.empty() || program[0] != u'/') return posix_fail(EINVAL);
    std::string path = to_bytes(program);
    // The user approves the program they started, not what its path holds now.
    if (!names_running_file(path)) return posix_fail(ESTALE);
    std::vector<std::string> words = {launcher, path};
    for (const std::u16string& parameter : command_line_split_arguments(parameters))
        words.push_back(to_bytes(parameter));
    std::vector<char*> argv = argv_of(words);
    pid_t pid = 0;
    // sudo asks for the password on the terminal itself; with the terminal
    // as its standard input, sudo (use_pty) would also hold it raw while
    // the relay runs, and a Ctrl-C typed then would reach the relay's
    // pseudo-terminal alone, never the requester: the search would go on.
    // A pipe is no terminal: sudo passes it on to the relay as it is. It
    // carries the relay's proof only where /proc hides root's processes
    // (hidepid), since sudo at its prompt is slow to end on a signal with a
    // pipe as its input; elsewhere /proc shows the relay's descent.
    int proof = -1;
    if (access("/proc/1/stat", R_OK) != 0 && !proof_pipe(&proof)) return 0;
    note_terminal_modes();
    end_signals_after_launcher();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (proof >= 0) posix_spawn_file_actions_adddup2(&actions, proof, 0);
    else posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int error = posix_spawn(&pid, launcher.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (proof >= 0) close(proof);
    if (error) return posix_fail(error);
    launcher_pid = pid;
    PosixProcess* record = posix_new_process(pid);
    *process = record;
    return record ? 1 : 0;
}

// The worker gets the pipe as descriptors 0, 1 and 2 and nothing else, in a
// session of its own, without a terminal like a process started with no
// console window: whatever becomes of the terminal sudo gave the relay
// cannot reach it. The relay's own program is started from the very file the
// relay runs, and with the requester's drives.
int platform_create_worker(const wchar* program, wchar* command_line, Handle pipe,
                           Handle* process, Handle* thread) {
    int fd = pipe && pipe != INVALID_HANDLE ? static_cast<PosixHandle*>(pipe)->fd : -1;
    if (fd < 0) return posix_fail(EBADF);
    std::vector<std::string> words;
    for (const std::u16string& word : command_line_split(command_line)) words.push_back(to_bytes(word));
    std::string path = posix_names_own_program(program) ? "/proc/self/exe" : to_bytes(program);
    // ps shows the program the worker runs, not what the requester was called.
    if (!words.empty() && path == "/proc/self/exe") words[0] = to_bytes(program);
    std::vector<char*> argv = argv_of(words);
    std::vector<std::string> variables;
    if (!worker_environment(fd, &variables)) return posix_fail(errno);
    std::vector<char*> environment = argv_of(variables);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (int standard = 0; standard < 3; ++standard)
        posix_spawn_file_actions_adddup2(&actions, fd, standard);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    int error = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(),
                            environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error) return posix_fail(error);
    // Nobody waits for the worker: it outlives the relay.
    PosixProcess* worker = posix_new_process(pid);
    PosixProcess* first_thread = posix_new_process(pid);
    *process = worker;
    *thread = first_thread;
    return 1;
}

// The relay lets go of its terminal before it ends, so the session it came
// with holds nothing of the search.
int platform_free_console() {
    for (int standard = 0; standard < 3; ++standard) close(standard);
    return 1;
}
