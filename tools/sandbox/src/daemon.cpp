// Starting a double-forking program and reading its daemon's exit status as its subreaper.
#include "sandbox/daemon.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

namespace vorlen::sandbox {
namespace {

using Clock = std::chrono::steady_clock;

// Exit statuses of every child reaped so far, and the pids some Daemon already owns.
std::map<pid_t, int>& reaped() {
    static std::map<pid_t, int> statuses;
    return statuses;
}
std::set<pid_t>& claimed() {
    static std::set<pid_t> pids;
    return pids;
}

int to_code(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

void reap_all() {
    for (;;) {
        int status = 0;
        pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid <= 0) return;
        reaped()[pid] = to_code(status);
    }
}

// Living (not yet zombie) children of this process, found in /proc.
std::vector<pid_t> live_children() {
    std::vector<pid_t> out;
    DIR* dir = opendir("/proc");
    if (dir == nullptr) return out;
    const pid_t self = getpid();
    while (dirent* e = readdir(dir)) {
        char* end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0') continue;
        std::ifstream in("/proc/" + std::string(e->d_name) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t paren = stat.rfind(')');
        if (paren == std::string::npos) continue;
        std::istringstream fields(stat.substr(paren + 1));
        char state = 0;
        long ppid = 0;
        fields >> state >> ppid;
        if (ppid == self && state != 'Z') out.push_back(static_cast<pid_t>(pid));
    }
    closedir(dir);
    return out;
}

std::optional<int> wait_pid(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        reap_all();
        auto it = reaped().find(pid);
        if (it != reaped().end()) return it->second;
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
}

pid_t spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

std::string install_program(const std::string& program, const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    std::string target = dir + "/" + std::filesystem::path(program).filename().string();
    std::filesystem::remove(target, ec);
    std::filesystem::create_symlink(program, target, ec);
    return target;
}

Daemon Daemon::start(const std::string& path, const std::vector<std::string>& args,
                     std::chrono::milliseconds timeout) {
    Daemon d;
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), args.begin(), args.end());
    reap_all();
    std::set<pid_t> before(claimed());
    for (const auto& [pid, code] : reaped()) before.insert(pid);
    for (pid_t pid : live_children()) before.insert(pid);

    pid_t starter = spawn(argv);
    if (starter < 0) return d;
    claimed().insert(starter);
    d.starter_status_ = wait_pid(starter, timeout).value_or(-1);

    // The intermediate child and the daemon both become our children; the daemon is born last.
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        reap_all();
        std::set<pid_t> born;
        for (const auto& [pid, code] : reaped())
            if (!before.count(pid) && pid != starter) born.insert(pid);
        for (pid_t pid : live_children())
            if (!before.count(pid) && pid != starter) born.insert(pid);
        if (born.size() >= 2) {
            for (pid_t pid : born) claimed().insert(pid);
            d.pid_ = *born.rbegin();
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    return d;
}

Daemon::Daemon(Daemon&& other) noexcept
    : starter_status_(other.starter_status_), pid_(other.pid_), exit_(other.exit_) {
    other.pid_ = -1;
}

Daemon::~Daemon() {
    if (pid_ > 0 && running()) {
        kill(pid_, SIGKILL);
        wait_pid(pid_, 5s);
    }
}

bool Daemon::running() {
    if (pid_ <= 0 || exit_) return false;
    reap_all();
    auto it = reaped().find(pid_);
    if (it != reaped().end()) {
        exit_ = it->second;
        return false;
    }
    return true;
}

bool Daemon::signal(int sig) const { return pid_ > 0 && kill(pid_, sig) == 0; }

std::optional<int> Daemon::wait_exit(std::chrono::milliseconds timeout) {
    if (exit_) return exit_;
    if (pid_ <= 0) return std::nullopt;
    exit_ = wait_pid(pid_, timeout);
    return exit_;
}

std::optional<int> run_command(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    pid_t pid = spawn(argv);
    if (pid < 0) return std::nullopt;
    claimed().insert(pid);
    auto code = wait_pid(pid, timeout);
    if (!code) {
        kill(pid, SIGKILL);
        wait_pid(pid, 5s);
    }
    return code;
}

}  // namespace vorlen::sandbox
