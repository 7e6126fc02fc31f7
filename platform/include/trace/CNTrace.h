// CNTrace.h - the trace log's front: options, level threshold, the start and end of a line, and
// the plain CN_ function interface that the engine uses.
//
// Everything is process-wide. A line is CNTrace::Begin (takes the trace mutex and writes the
// prefix), insertions into the returned stream, CNTrace::End (releases the mutex); lines from
// different threads therefore never interleave. Any thread may write lines. The option, level and
// buffer-limit setters take no lock (they are single words).
//
//   CN_initCNLogFile(3, 25000);            // opens log/zub/division<N>.log under the program directory
//   CN_PrintToLog(1, "anchor link lost");  // one line, flushed at once
#pragma once

#include <atomic>
#include <cstddef>

#include <ace/Basic_Types.h>
#include <ace/Recursive_Thread_Mutex.h>

#include "trace/CNOstream.h"

// The one lock of the trace log, held from Begin to End and around every flush, opening,
// rotation, size query and close.
extern ACE_Recursive_Thread_Mutex g_CNTraceMutex;

class CCNTraceMutexGuard {
public:
    CCNTraceMutexGuard() { g_CNTraceMutex.acquire(); }
    virtual ~CCNTraceMutexGuard() { g_CNTraceMutex.release(); }
    CCNTraceMutexGuard(const CCNTraceMutexGuard&) = delete;
    CCNTraceMutexGuard& operator=(const CCNTraceMutexGuard&) = delete;
};

class CNTrace {
public:
    enum Options : WORD32 {
        Blocks = 1,      // stored, no effect
        DateAndTime = 2,
        Timestamp = 4,   // stored, no effect
        Thread = 8,
        TraceLevel = 16,
        FileAndLine = 32,
    };
    enum FileOption { e_oneFile = 0, e_separateFile = 1 };

    static constexpr WORD32 kRotationSize = 50000000;

    static void SetStream(CNOstream* stream) { CNTraceStream.store(stream); }
    static CNOstream* GetStream() { return CNTraceStream.load(); }
    static void SetOptions(WORD32 options) { CNTraceOptions.fetch_or(options); }
    static void ClearOptions(WORD32 options) { CNTraceOptions.fetch_and(~options); }
    static WORD32 GetOptions() { return CNTraceOptions.load(); }
    static void SetLevel(WORD32 level) { CNTraceLevelThreshold.store(level); }
    static WORD32 GetLevel() { return CNTraceLevelThreshold.load(); }

    // True when the threshold is at least the level; creates the log file object when there is none.
    static bool CanTrace(WORD32 level);
    // Takes the trace mutex (held until End), makes sure a file is open and below the rotation
    // size, writes the line prefix and returns the stream to insert into. When no file can be
    // opened the returned stream drops what is inserted.
    static CNOstream& Begin(WORD32 level, const char* file = nullptr, int line = 0);
    static void End();
    // One whole line (prefix, text, newline) as CN_PrintToLog writes it: the prefix is put
    // together before the trace mutex is taken; under it only the date and time are filled in,
    // the file is checked as Begin checks it, and the line goes to the file in one writev(2).
    // Returns once the line is handed to the kernel (or dropped: no file can be had).
    static void WriteLine(WORD32 level, const char* file, int line, const char* text, size_t len);

    static std::atomic<CNOstream*> CNTraceStream;
    static std::atomic<WORD32> CNTraceOptions;
    static std::atomic<WORD32> CNTraceLevelThreshold;
    static SWORD32 oldTraceLevel;

private:
    // Under the trace mutex: a file is open and below the rotation size (a full one is closed
    // with the switch line and the ring moves on). False when no file can be had.
    static bool ReadyFile();
    static void WritePrefix(CNOstream& out, WORD32 level, const char* file, int line);
};

// Formats the wall-clock time as local "MM/DD hh:mm:ss.mmm" (18 characters and a terminator;
// "00/00 00:00:00.000" when the time cannot be broken down). Returns the length written.
int CN_FormatTraceTime(char* out, size_t size, long long seconds, long microseconds);
// The part of a source path after its last "/" (or else after its last "\").
const char* CN_TraceBaseName(const char* path);
// Writes v in decimal, a minus first when negative (no terminator; at most 20 bytes) and
// returns the length. Written by hand: in the engine every printf-family call takes glibc's slow
// positional path, because a linked library registers printf extensions.
size_t CN_TraceDecimal(char* out, long long v);

// Opens the trace log of this program with level threshold iLevel and total size iSize (MB).
void CN_initCNLogFile(int iLevel, int iSize);
// Writes one line when iLevel is at most the threshold, and flushes it to the file at once.
void CN_PrintToLog(int iLevel, const char* szChar);
void CN_SetLogLevel(int iLevel);
void CN_SetLogOptions(ACE_UINT32 options);
void CN_ClearLogOptions(ACE_UINT32 options);
