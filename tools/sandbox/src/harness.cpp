// The harness main(): one sandbox per test process; a refused sandbox turns into skips.
#include "sandbox/harness.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <string>
#include <vector>

#include "sandbox/sandbox_codes.h"

namespace vorlen::sandbox {
namespace {

constexpr const char* kRefusedEnv = "VORLEN_SANDBOX_REFUSED";

bool only_lists_tests(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) return true;
    }
    return false;
}

std::string self_exe() {
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
}

// Runs this executable again inside the sandbox; returns its exit code.
int rerun_in_sandbox(int argc, char** argv) {
    std::string exe = self_exe();
    std::vector<char*> args;
    args.push_back(const_cast<char*>(VORLEN_SANDBOX_TOOL));
    args.push_back(const_cast<char*>("--"));
    args.push_back(exe.data());
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return kSandboxRefused;
    if (pid == 0) {
        execv(args[0], args.data());
        std::fprintf(stderr, "harness: cannot run the sandbox %s: %s\n", args[0], std::strerror(errno));
        _exit(kSandboxRefused);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

}  // namespace

bool inside() {
    const char* v = std::getenv("VORLEN_SANDBOX");
    return v != nullptr && std::strcmp(v, "1") == 0;
}

bool refused() { return std::getenv(kRefusedEnv) != nullptr; }

void SandboxTest::SetUp() {
    if (refused() || !inside()) GTEST_SKIP() << "no sandbox: the system refused the namespaces this test needs";
    // Cases of one executable run in one sandbox when it is started by hand (ctest gives each
    // case its own): each case starts from an empty /qvx all the same.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/qvx", ec)) std::filesystem::remove_all(entry.path(), ec);
}

int harness_main(int argc, char** argv) {
    if (!inside() && !refused() && !only_lists_tests(argc, argv)) {
        int code = rerun_in_sandbox(argc, argv);
        if (code != kSandboxRefused) return code;
        setenv(kRefusedEnv, "1", 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    if (inside()) prctl(PR_SET_CHILD_SUBREAPER, 1);
    return RUN_ALL_TESTS();
}

}  // namespace vorlen::sandbox

int main(int argc, char** argv) { return vorlen::sandbox::harness_main(argc, argv); }
