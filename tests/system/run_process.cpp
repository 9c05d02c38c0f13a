#ifndef _WIN32
#include "tests/system/run_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env, int timeout_seconds,
                          const std::function<void()>& on_first_output) {
    ProcessResult result;
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) return result;
    if (on_first_output) fcntl(out_pipe[0], F_SETPIPE_SZ, 4096);
    bool first_output_seen = false;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        for (const auto& [name, value] : env) {
            if (value.empty()) unsetenv(name.c_str());
            else setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    time_t deadline = time(nullptr) + timeout_seconds;
    int open_count = 2;
    bool killed = false;
    while (open_count > 0) {
        int ready = poll(fds, 2, 200);
        if (ready < 0 && errno != EINTR) break;
        if (!killed && time(nullptr) > deadline) {
            kill(pid, SIGKILL);
            killed = true;
        }
        // A process it started may still hold the pipes: not waited for.
        if (killed && time(nullptr) > deadline + 5) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[65536];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, size_t(n));
                if (i == 0 && on_first_output && !first_output_seen) {
                    first_output_seen = true;
                    on_first_output();
                }
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    for (int fd : {fds[0].fd, fds[1].fd})
        if (fd >= 0) close(fd);
    const int wstatus = wait_for_child(pid, 5);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return result;
}

int wait_for_child(pid_t pid, int timeout_seconds) {
    const time_t deadline = time(nullptr) + timeout_seconds;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return status;
        if (done < 0 && errno != EINTR) return -1;
        if (time(nullptr) > deadline) {
            kill(pid, SIGKILL);
            return waitpid(pid, &status, 0) == pid ? status : -1;
        }
        const timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

ProcessResult run_morla(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env, int timeout_seconds,
                        const std::function<void()>& on_first_output) {
    return run_process(MORLA_BINARY, args, env, timeout_seconds, on_first_output);
}
#endif
