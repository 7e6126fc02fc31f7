// sandbox_codes.h - the exit codes by which the sandbox tool reports its own trouble.
// Shared by the tool and by the test harness that turns a refusal into a skipped test.
#pragma once

namespace vorlen::sandbox {

// The system refused to create the namespaces; the command was not run.
inline constexpr int kSandboxRefused = 77;
// The namespaces exist but setting up /proc, lo or /qvx failed; the command was not run.
inline constexpr int kSandboxSetupFailed = 125;

}  // namespace vorlen::sandbox
