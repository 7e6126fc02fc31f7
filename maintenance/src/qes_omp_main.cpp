// qes_omp - the maintenance program: the shared platform start-up with the maintenance
// profile (module 1, unit 0xFFFF, two control tasks, "QES_OMP.log", route-type-5 diversion to
// BackComm). It does not read the sections of omp.cfg.
#include "CNPlatform.h"
#include "omp_jobs.h"
#include "startup/program_main.h"

namespace {
// This program has no telnet console.
void StartTelnetSer(void*) {}
}  // namespace

int main(int argc, char** argv) {
    CN_ProgramSpec spec{CN_OmpProfile(g_atJobRegTbl), false, "OMP begin to power on!\n", StartTelnetSer};
    CN_ProgramMain(argc, argv, spec);
}
