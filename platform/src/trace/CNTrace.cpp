// CNTrace.cpp - line start and end: the trace mutex, rotation on the way in, and the prefix.
#include "trace/CNTrace.h"

#include <pthread.h>
#include <sys/time.h>
#include <sys/uio.h>

#include <algorithm>
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

// "MM/DD hh:mm:ss.mmm"; every field has its fixed width, also in the "00/00 ..." form.
constexpr size_t kStampLength = 18;
constexpr size_t kSecondsLength = 14;  // up to the seconds, without ".mmm"
// Stamp, thread id, level, source base name and line, with their separators.
constexpr size_t kPrefixRoom = 512;

// The calendar part of the last second stamped. Broken down once a second instead of once a
// line: localtime_r takes glibc's process-wide time-zone lock on every call. Only read and
// written under the trace mutex.
struct StampCache {
    long long second = -1;
    bool broken = false;  // the time could not be broken down
    char text[kSecondsLength] = {};
};
StampCache g_stamp_cache;

// Writes the wall-clock time as "MM/DD hh:mm:ss.mmm" (kStampLength bytes, no terminator).
// Under the trace mutex.
void stamp_now(char* out) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    if (now.tv_sec != g_stamp_cache.second) {
        char text[32];
        const int n = CN_FormatTraceTime(text, sizeof text, now.tv_sec, 0);
        g_stamp_cache.broken = n != static_cast<int>(kStampLength) || std::strncmp(text, "00/00", 5) == 0;
        std::memcpy(g_stamp_cache.text, text, kSecondsLength);
        g_stamp_cache.second = now.tv_sec;
    }
    std::memcpy(out, g_stamp_cache.text, kSecondsLength);
    const int ms = g_stamp_cache.broken ? 0 : static_cast<int>(now.tv_usec / 1000);
    out[14] = '.';
    out[15] = static_cast<char>('0' + ms / 100);
    out[16] = static_cast<char>('0' + ms / 10 % 10);
    out[17] = static_cast<char>('0' + ms % 10);
}

// Writes v in decimal (no terminator) and returns the digits written (at most 20).
size_t decimal(char* out, unsigned long long v) {
    char digits[20];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    for (size_t i = 0; i < n; ++i) {
        out[i] = digits[n - 1 - i];
    }
    return n;
}

// Puts a line's prefix together as the options ask and returns its length. The date and time
// are left as room at the head (kStampLength bytes and a blank), filled by stamp_now under the
// trace mutex so that the file's lines keep time order.
size_t put_prefix(char* prefix, WORD32 options, WORD32 level, const char* file, int line) {
    size_t used = 0;
    if (options & CNTrace::DateAndTime) {
        used = kStampLength + 1;
        prefix[kStampLength] = ' ';
    }
    if (options & CNTrace::Thread) {
        used += decimal(prefix + used, static_cast<unsigned long long>(pthread_self()));
        prefix[used++] = ' ';
    }
    if (options & CNTrace::TraceLevel) {
        used += decimal(prefix + used, level);
        prefix[used++] = '\t';
    }
    if ((options & CNTrace::FileAndLine) && file != nullptr) {
        const char* base = CN_TraceBaseName(file);
        // A base name is at most one path component; the room keeps the rest of the prefix.
        const size_t base_len = std::min(std::strlen(base), kPrefixRoom - used - 24);
        std::memcpy(prefix + used, base, base_len);
        used += base_len;
        prefix[used++] = '(';
        used += CN_TraceDecimal(prefix + used, line);
        prefix[used++] = ')';
        prefix[used++] = '\t';
    }
    return used;
}

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

size_t CN_TraceDecimal(char* out, long long v) {
    if (v >= 0) {
        return decimal(out, static_cast<unsigned long long>(v));
    }
    out[0] = '-';
    return 1 + decimal(out + 1, 0ULL - static_cast<unsigned long long>(v));
}

bool CNTrace::CanTrace(WORD32 level) {
    CNLogFile::Instance();
    return GetLevel() >= level;
}

bool CNTrace::ReadyFile() {
    CNLogFile& log = CNLogFile::Instance();
    if (!log.IsOpen()) {
        if (log.InitOpenFile() != 0) {
            return false;
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
            return false;
        }
    }
    return true;
}

CNOstream& CNTrace::Begin(WORD32 level, const char* file, int line) {
    g_CNTraceMutex.acquire();
    CNOstream* stream = GetStream();
    if (stream == nullptr) {
        return null_stream();
    }
    if (ReadyFile()) {
        WritePrefix(*stream, level, file, line);
    }
    return *stream;
}

void CNTrace::WriteLine(WORD32 level, const char* file, int line, const char* text, size_t len) {
    char prefix[kPrefixRoom];
    const WORD32 options = GetOptions();
    const size_t used = put_prefix(prefix, options, level, file, line);
    char newline = '\n';
    struct iovec pieces[3] = {{prefix, used}, {const_cast<char*>(text), len}, {&newline, 1}};

    CCNTraceMutexGuard guard;
    CNOstream* stream = GetStream();
    if (stream == nullptr || !ReadyFile()) {
        return;
    }
    if (options & DateAndTime) {
        stamp_now(prefix);
    }
    stream->WriteLine(pieces, 3);
}

void CNTrace::End() { g_CNTraceMutex.release(); }

void CNTrace::WritePrefix(CNOstream& out, WORD32 level, const char* file, int line) {
    char prefix[kPrefixRoom];
    const WORD32 options = GetOptions();
    const size_t used = put_prefix(prefix, options, level, file, line);
    if (options & DateAndTime) {
        stamp_now(prefix);
    }
    out.Append(prefix, used);
}
