// resource_test_support.cpp - private namespaces, fresh-process probes and forked children for
// the resource tests.
#include "resource_test_support.h"

#include <fcntl.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace rt {
namespace {

bool g_sysv = false;
bool g_dev_shm = false;

bool write_proc_file(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY);
    if (fd < 0) {
        return false;
    }
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// Root gets the namespaces directly; anyone else through a user namespace mapped to itself.
bool unshare_ipc_and_mounts() {
    if (unshare(CLONE_NEWIPC | CLONE_NEWNS) == 0) {
        return true;
    }
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWIPC | CLONE_NEWNS) != 0) {
        return false;
    }
    write_proc_file("/proc/self/setgroups", "deny");
    return write_proc_file("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
           write_proc_file("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
}

}  // namespace

void enter_private_namespaces() {
    if (!unshare_ipc_and_mounts()) {
        return;
    }
    g_sysv = true;
    g_dev_shm = mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0;
}

bool private_sysv_ipc() { return g_sysv; }
bool private_dev_shm() { return g_dev_shm; }

unsigned unique_index(unsigned k) { return 1000u + (static_cast<unsigned>(getpid()) % 20000u) * 100u + k; }

void unlink_sem(const std::string& name) { sem_unlink(name.c_str()); }

ProbeResult run_probe(const std::string& name, const std::string& arg, bool new_ipc) {
    ProbeResult result;
    int out[2];
    if (pipe(out) != 0) {
        result.output = "pipe failed";
        return result;
    }
    const std::string option = "--resource-probe=" + name;
    const pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        if (new_ipc && unshare(CLONE_NEWIPC) != 0) {
            _exit(77);
        }
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[1]);
        const char* argv[] = {"resource_probe", option.c_str(), arg.c_str(), nullptr};
        execv("/proc/self/exe", const_cast<char* const*>(argv));
        _exit(127);
    }
    close(out[1]);
    char buf[4096];
    ssize_t got = 0;
    while ((got = read(out[0], buf, sizeof buf)) > 0) {
        result.output.append(buf, static_cast<size_t>(got));
    }
    close(out[0]);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    }
    return result;
}

int run_in_child(const std::function<int()>& fn) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(fn());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace rt
