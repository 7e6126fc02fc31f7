// harness.h - GoogleTest support for system tests that start the real programs in a sandbox.
//
// A test executable that links `vorlen_sandbox_harness` gets this library's main(): when run
// outside the sandbox it runs itself again inside `sandbox` (tools/sandbox), so every ctest
// case (one process per case) has its own network, mount, IPC and PID namespace and its own
// empty tmpfs on /qvx. Listing the tests (--gtest_list_tests) runs without the sandbox. When
// the system refuses the namespaces, the cases run outside it and every `SandboxTest` skips
// with the sandbox's reason.
//
// Inside the sandbox the test process is a child subreaper, so a program that daemonises by
// forking twice becomes its child and `Daemon` (daemon.h) can read the daemon's own exit status.
//
// Usage:
//   class MyTest : public vorlen::sandbox::SandboxTest {};
//   TEST_F(MyTest, ...) { auto d = Daemon::start(install_program(VORLEN_BIN, "/qvx/zub")); ... }
// and in CMake:
//   vorlen_add_tests(system_x_tests SOURCES ... LIBS vorlen_sandbox_harness LABELS system)
//   add_dependencies(system_x_tests vorlen_sandbox <programs>)
//
// All functions are for the test's main thread.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace vorlen::sandbox {

// True inside a sandbox made by the tool.
bool inside();
// True when the sandbox could not be made: the cases must skip.
bool refused();

// Base fixture: skips when the sandbox was refused; otherwise the case runs in its own sandbox.
class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override;
};

// main() of a harness executable (the library supplies main() itself, which calls this).
int harness_main(int argc, char** argv);

}  // namespace vorlen::sandbox
