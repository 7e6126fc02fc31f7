// program_main.h - the main body that both programs share: daemonise, read the platform
// configuration, open the platform log, fix the identity from the argument count, start the
// watchdog heartbeat, the control tasks and the power-on sequencer, then run the process reactor
// on the main thread until SIGINT, SIGTERM or SIGABRT.
//
// Exit statuses: 255 for the started command and the intermediate child (and when the program
// directory cannot be found or the wake-up message cannot be built); in the daemon 0 after
// SIGINT/SIGTERM, with exactly one argument, or (location engine) when omp.cfg has no section;
// 1 when the intra-board port is taken; 2 after SIGABRT. The process ends through
// CN_ExitProcess: logs flushed, `_exit`, no static destructors under the live task threads.
//
// Main thread only; never returns.
#pragma once

#include "CNPlatform.h"

struct CN_ProgramSpec {
    // Job table, tasks, queue limits, log name and the identity taken without arguments.
    CN_PlatformProfile tProfile;
    // The location engine reads the sections of omp.cfg and exits with 0 when none is found;
    // the maintenance program does not read them.
    bool bLoadOmpCfg;
    // Logged when the identity is taken: "ZUB begin to power on!\n" or "OMP begin to power on!\n".
    const char* pcPowerOnLine;
    // Run once on a CNCommTask of its own (the telnet console's starter, empty in both programs).
    void (*pfnConsoleStarter)(void*);
};

[[noreturn]] void CN_ProgramMain(int argc, char** argv, const CN_ProgramSpec& spec);

// The identity rule: without arguments the profile's own identity; with two or more arguments
// module 0, unit 0, bureau 0 and module type 0. (Exactly one argument ends the program.)
void CN_ApplyArgumentIdentity(int argc, CN_PlatformProfile* ptProfile);
