// plat_log_file.h - opening the platform log ("uwb_zub.log" or "QES_OMP.log" in "log" under the
// program directory) and handing it to the platform log sink (CNPlatLog.h).
//
// Main thread, at start-up; the file stays open for the life of the process.
#pragma once

#include <cstdio>

// Creates "<program dir>log" (0755), opens szLogName there for appending, makes it the platform
// log and writes "%d ---------  begin to power on --------\n" with the process id. 0, or -1 when
// the file cannot be opened (the process then runs on without platform log lines).
int CreatLogFile(const char* szLogName);

// Flushes every open stream (the platform log included); called on every way out of the process.
void CN_FlushLogs();

// Flushes the logs and ends the process at once with nCode. Static destructors do not run:
// the control-task threads are still alive and use the platform's objects.
[[noreturn]] void CN_ExitProcess(int nCode);
