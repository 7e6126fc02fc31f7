// sandbox - runs one command in network, mount, IPC and PID namespaces of its own, so that
// programs with fixed ports (20010, 20110, 10005, ...) and fixed paths under /qvx can be
// started side by side by tests that run in parallel.
//
// Usage:
//   sandbox [--qvx TREE] [--] COMMAND [ARGS...]
//
// Inside the sandbox:
//   - the loopback interface is up, and there is no other interface;
//   - /qvx is an empty tmpfs (the directory is created on the host when it is missing), filled
//     with a copy of TREE when --qvx is given; nothing written there outlives the sandbox;
//   - /proc shows only the sandbox's processes;
//   - VORLEN_SANDBOX=1 is set in the environment of COMMAND.
// The sandbox's first process is the namespace's init and a child subreaper: daemons that
// double-fork end up as its children (or as children of a nearer subreaper, such as a test
// harness that set PR_SET_CHILD_SUBREAPER itself). When COMMAND ends, every process still
// left in the sandbox is killed.
//
// Exit status: that of COMMAND (128 + signal number when a signal ended it); 127 when COMMAND
// cannot be run; 125 when setting up the sandbox failed after the namespaces were made;
// 77 (kSandboxRefused) when the system refuses to create the namespaces (no privilege, a
// container without CAP_SYS_ADMIN): the command is then not run and a clear message says why.
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "sandbox/sandbox_codes.h"

namespace {

using vorlen::sandbox::kSandboxRefused;
using vorlen::sandbox::kSandboxSetupFailed;

constexpr int kCannotRun = 127;
volatile sig_atomic_t g_forward_to = 0;

struct Options {
    std::string qvx_tree;
    std::vector<char*> command;
};

void usage() {
    std::fprintf(stderr, "usage: sandbox [--qvx TREE] [--] COMMAND [ARGS...]\n");
}

bool parse(int argc, char** argv, Options* out) {
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--qvx" && i + 1 < argc) {
            out->qvx_tree = argv[++i];
            continue;
        }
        if (arg.rfind("--", 0) == 0) return false;
        break;
    }
    for (; i < argc; ++i) out->command.push_back(argv[i]);
    out->command.push_back(nullptr);
    return out->command.size() > 1;
}

void forward_signal(int sig) {
    if (g_forward_to > 0) kill(g_forward_to, sig);
}

void forward_signals_to(pid_t pid) {
    g_forward_to = pid;
    struct sigaction sa {};
    sa.sa_handler = forward_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(sig, &sa, nullptr);
}

int status_to_code(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return kSandboxSetupFailed;
}

bool bring_up_loopback() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    struct ifreq ifr {};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    if (ok) {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
        ok = ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    }
    close(fd);
    return ok;
}

bool fail(const char* what) {
    std::fprintf(stderr, "sandbox: %s: %s\n", what, std::strerror(errno));
    return false;
}

// Runs as the namespace's init, before the command: everything here is private to the sandbox.
bool prepare(const Options& opt) {
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return fail("making mounts private");
    if (mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        return fail("mounting /proc");
    if (!bring_up_loopback()) return fail("bringing up lo");
    if (mkdir("/qvx", 0755) != 0 && errno != EEXIST) return fail("creating /qvx");
    // The new /qvx is filled on a staging mount and then moved over /qvx, so that a tree that
    // lies under the old /qvx (a sandbox inside a sandbox) can still be copied.
    char staging[] = "/tmp/vorlen-sandbox-XXXXXX";
    if (mkdtemp(staging) == nullptr) return fail("creating the staging directory");
    bool ok = mount("tmpfs", staging, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") == 0;
    if (!ok) fail("mounting the staging tmpfs");
    if (ok && !opt.qvx_tree.empty()) {
        std::error_code ec;
        namespace fs = std::filesystem;
        fs::copy(opt.qvx_tree, staging,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks | fs::copy_options::overwrite_existing,
                 ec);
        if (ec) {
            std::fprintf(stderr, "sandbox: copying %s to /qvx: %s\n", opt.qvx_tree.c_str(), ec.message().c_str());
            ok = false;
        }
    }
    if (ok && mount(staging, "/qvx", nullptr, MS_MOVE, nullptr) != 0) ok = fail("mounting /qvx");
    if (!ok) umount2(staging, MNT_DETACH);
    rmdir(staging);
    if (!ok) return false;
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    return true;
}

[[noreturn]] void exec_command(const Options& opt) {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    signal(SIGQUIT, SIG_DFL);
    setenv("VORLEN_SANDBOX", "1", 1);
    execvp(opt.command[0], opt.command.data());
    std::fprintf(stderr, "sandbox: cannot run %s: %s\n", opt.command[0], std::strerror(errno));
    _exit(kCannotRun);
}

// The namespace's init: starts the command, reaps every orphan, and ends with the command's status.
// Ending it kills whatever is still running in the sandbox.
[[noreturn]] void run_init(const Options& opt) {
    if (!prepare(opt)) _exit(kSandboxSetupFailed);
    pid_t command = fork();
    if (command < 0) {
        fail("fork");
        _exit(kSandboxSetupFailed);
    }
    if (command == 0) exec_command(opt);
    forward_signals_to(command);
    for (;;) {
        int status = 0;
        pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            _exit(kSandboxSetupFailed);
        }
        if (pid == command) _exit(status_to_code(status));
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    if (!parse(argc, argv, &opt)) {
        usage();
        return 2;
    }
    if (unshare(CLONE_NEWNET | CLONE_NEWNS | CLONE_NEWIPC | CLONE_NEWPID) != 0) {
        std::fprintf(stderr,
                     "sandbox: the system refused new network/mount/IPC/PID namespaces (%s); "
                     "run as root or with CAP_SYS_ADMIN. The command was not run.\n",
                     std::strerror(errno));
        return kSandboxRefused;
    }
    std::fflush(nullptr);
    pid_t init = fork();
    if (init < 0) {
        fail("fork");
        return kSandboxSetupFailed;
    }
    if (init == 0) run_init(opt);
    forward_signals_to(init);
    int status = 0;
    while (waitpid(init, &status, 0) < 0) {
        if (errno != EINTR) return kSandboxSetupFailed;
    }
    return status_to_code(status);
}
