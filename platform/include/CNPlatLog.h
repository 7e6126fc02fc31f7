// CNPlatLog.h - the platform log sink: the plain text file ("uwb_zub.log" in the location
// engine, "QES_OMP.log" in the maintenance program) that every platform log line goes to.
//
// The kernel never opens the file: start-up code opens it and hands the FILE* over with
// CN_SetPlatLogFile; while no file is set, every line is dropped silently.
//
// Threads: CN_PlatLog/CN_PlatLogV may be called from any thread (each call is one bounded
// formatted write followed by a flush; stdio locks the stream). CN_SetPlatLogFile may be called
// from any thread, but the previous FILE* must stay open while other threads may still write
// to it (start-up sets it once, before the first control task starts).
#pragma once

#include <cstdarg>
#include <cstdio>

// Longest formatted log line; longer text is cut, never overrun.
constexpr int CN_PLAT_LOG_LINE_MAX = 4096;

void CN_SetPlatLogFile(FILE* fp);
FILE* CN_GetPlatLogFile();

// Formats into a bounded buffer (CN_PLAT_LOG_LINE_MAX bytes, terminator included) and writes
// it exactly as formatted (no time stamp or newline added), then flushes.
void CN_PlatLog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void CN_PlatLogV(const char* fmt, va_list args);
