// daemon.h - starting and watching a program that daemonises by forking twice, from a test
// harness that is a child subreaper inside its sandbox (harness.h).
//
// The started command and the intermediate child are reaped here; the daemon is the newest
// descendant (pids in a fresh PID namespace only grow), and its real exit status is read when
// it ends. A `Daemon` still running when destroyed is killed with SIGKILL.
//
// For the test's main thread only: it reaps every child of the process (waitpid(-1)).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vorlen::sandbox {

using namespace std::chrono_literals;

// Links `program` (an absolute path) into `dir` under its own name and returns the new path,
// so that a program that takes its directory from argv[0] works, writes logs and reads its
// files there.
std::string install_program(const std::string& program, const std::string& dir);

class Daemon {
public:
    // Runs `path` with `args` (argv[0] is `path`), waits for the started command to end, then
    // for the daemon to appear (up to `timeout`).
    static Daemon start(const std::string& path, const std::vector<std::string>& args = {},
                        std::chrono::milliseconds timeout = 10s);

    Daemon(Daemon&& other) noexcept;
    Daemon& operator=(Daemon&&) = delete;
    ~Daemon();

    // Exit code of the started command (128 + signal when a signal ended it); -1 when unknown.
    int starter_status() const { return starter_status_; }
    // The daemon's pid, or -1 when none appeared.
    pid_t pid() const { return pid_; }
    bool running();
    bool signal(int sig) const;
    // The daemon's exit code (128 + signal when a signal ended it), or nothing after `timeout`.
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);

private:
    Daemon() = default;
    int starter_status_ = -1;
    pid_t pid_ = -1;
    std::optional<int> exit_;
};

// Runs a command to its end (up to `timeout`) and returns its exit code; nothing on time-out
// (the command is then killed).
std::optional<int> run_command(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

}  // namespace vorlen::sandbox
