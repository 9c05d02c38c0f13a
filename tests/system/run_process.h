// Runs the real morla binary (or any program) as a child process and
// captures its standard output, standard error and exit status. Linux only.
#pragma once

#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

struct ProcessResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or 128 + signal number
};

// Runs program with the arguments (argv[0] is the program itself). env holds
// variables to set (an empty value removes the variable). A run still going
// after timeout_seconds is killed; its status is then 128 + SIGKILL.
// on_first_output, when given, runs once the first bytes of standard output
// have arrived; the output pipe then holds a single page, so a program with
// more to say is still held in its writes while it runs.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env = {},
                          int timeout_seconds = 60,
                          const std::function<void()>& on_first_output = nullptr);

// Waits for a child of the test to end, for timeout_seconds at most, then
// kills it: a test fails rather than hangs. The wait status, as waitpid
// gives it (that of SIGKILL for a child that was killed).
int wait_for_child(pid_t pid, int timeout_seconds = 60);

// The morla binary that was built beside the tests.
ProcessResult run_morla(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env = {},
                        int timeout_seconds = 60,
                        const std::function<void()>& on_first_output = nullptr);

// Skips a test whose tool or system service is missing, with why. Where CI
// installed them all (MORLA_TOOLS_INSTALLED set) a missing one is a fault of
// the machine, and the test fails instead of passing unseen.
#define SKIP_WITHOUT_TOOL(why)                                       \
    do {                                                             \
        if (std::getenv("MORLA_TOOLS_INSTALLED")) FAIL() << why;     \
        GTEST_SKIP() << why;                                         \
    } while (0)
