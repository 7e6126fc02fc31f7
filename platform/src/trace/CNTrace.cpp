// CNTrace.cpp - line start and end: the trace mutex, rotation on the way in, and the prefix.
#include "trace/CNTrace.h"

#include <pthread.h>
#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "trace/CNLogFile.h"

ACE_Recursive_Thread_Mutex g_CNTraceMutex;

std::atomic<CNOstream*> CNTrace::CNTraceStream{nullptr};
std::atomic<WORD32> CNTrace::CNTraceOptions{CNTrace::FileAndLine};
std::atomic<WORD32> CNTrace::CNTraceLevelThreshold{0};
SWORD32 CNTrace::oldTraceLevel = 0;

namespace {

// Receives lines while no trace stream is set; never opened, so it drops them.
CNOstream& null_stream() {
    static CNOstream sink;
    return sink;
}

constexpr const char kSwitchLine[] = "switch log file when tracing";

} // namespace

int CN_FormatTraceTime(char* out, size_t size, long long seconds, long microseconds) {
    const time_t t = static_cast<time_t>(seconds);
    struct tm parts;
    if (localtime_r(&t, &parts) == nullptr) {
        return std::snprintf(out, size, "00/00 00:00:00.000");
    }
    return std::snprintf(out, size, "%02d/%02d %02d:%02d:%02d.%03d", parts.tm_mon + 1, parts.tm_mday,
                         parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(microseconds / 1000));
}

const char* CN_TraceBaseName(const char* path) {
    if (path == nullptr) {
        return "";
    }
    const char* slash = std::strrchr(path, '/');
    if (slash != nullptr) {
        return slash + 1;
    }
    const char* backslash = std::strrchr(path, '\\');
    return backslash != nullptr ? backslash + 1 : path;
}

bool CNTrace::CanTrace(WORD32 level) {
    CNLogFile::Instance();
    return GetLevel() >= level;
}

CNOstream& CNTrace::Begin(WORD32 level, const char* file, int line) {
    g_CNTraceMutex.acquire();
    CNOstream* stream = GetStream();
    if (stream == nullptr) {
        return null_stream();
    }
    CNLogFile& log = CNLogFile::Instance();
    if (!log.IsOpen()) {
        if (log.InitOpenFile() != 0) {
            return *stream;
        }
    }
    const bool full = log.Option() == e_separateFile && CNOstream::GetTotalBytes() >= kRotationSize;
    if (!log.Good() || full) {
        if (full && log.Good()) {
            log.Stream().Append(kSwitchLine, sizeof kSwitchLine - 1);
            log.Flush();
        }
        log.Stream().Close();
        if (log.InitOpenFile() != 0) {
            return *stream;
        }
    }
    WritePrefix(*stream, level, file, line);
    return *stream;
}

void CNTrace::End() { g_CNTraceMutex.release(); }

void CNTrace::WritePrefix(CNOstream& out, WORD32 level, const char* file, int line) {
    const WORD32 options = GetOptions();
    if (options & DateAndTime) {
        char stamp[32];
        struct timeval now;
        gettimeofday(&now, nullptr);
        const int n = CN_FormatTraceTime(stamp, sizeof stamp, now.tv_sec, now.tv_usec);
        out.Append(stamp, static_cast<size_t>(n));
        out << ' ';
    }
    if (options & Thread) {
        out << static_cast<unsigned long>(pthread_self()) << ' ';
    }
    if (options & TraceLevel) {
        out << level << '\t';
    }
    if ((options & FileAndLine) && file != nullptr) {
        out << CN_TraceBaseName(file) << '(' << line << ')' << '\t';
    }
}
