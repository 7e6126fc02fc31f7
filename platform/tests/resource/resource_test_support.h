// resource_test_support.h - what the resource tests share: a private IPC namespace for the
// process, names that parallel test processes do not share, and probes run in a fresh process.
//
// Everything here is for the test's main thread.
#pragma once

#include <functional>
#include <string>

namespace rt {

// Called once from main before any thread exists: moves the process into IPC and mount
// namespaces of its own with an empty tmpfs on /dev/shm (as root, or through a user namespace
// of its own). Each flag tells what was achieved; tests whose objects cannot be removed by the
// test itself skip without a private System V namespace.
void enter_private_namespaces();
bool private_sysv_ipc();
bool private_dev_shm();

// A semaphore or shared-memory index that no other test process running at the same time uses:
// a base taken from the process id plus `k` (k below 100).
unsigned unique_index(unsigned k);

// Removes the named POSIX semaphore that ACE made for `name` (harmless when it does not exist).
void unlink_sem(const std::string& name);

struct ProbeResult {
    int exit_code = -1;  // -1 when the probe did not exit normally
    std::string output;  // what the probe wrote to standard output and error
};

// Runs this test executable again as `--resource-probe=<name> args...` in a fresh process (so
// no slot table or pool of this process is inherited), optionally in a new IPC namespace.
// Returns exit code 77 without running it when `new_ipc` is asked for and refused.
ProbeResult run_probe(const std::string& name, const std::string& arg = "", bool new_ipc = false);

// Runs fn in a forked child; the child's exit code (fn's result), or -1 when it did not exit.
int run_in_child(const std::function<int()>& fn);

// The probe entry: main calls it for a `--resource-probe=` argument and exits with its result.
int run_resource_probe(const std::string& name, const std::string& arg);

}  // namespace rt
