// vorlen - the location engine program: the shared platform start-up with the engine's profile
// and job table. Started without arguments; it daemonises at once.
#include "CNPlatform.h"
#include "engine_jobs.h"
#include "startup/program_main.h"

namespace {
// The telnet console is present in the platform but this program does not start it.
void StartTelnetSer(void*) {}
}  // namespace

int main(int argc, char** argv) {
    CN_ProgramSpec spec{vorlen_profile(), true, "ZUB begin to power on!\n", StartTelnetSer};
    CN_ProgramMain(argc, argv, spec);
}
