// CNPlatLogLimit.h - one rate limit per call site for the platform log lines that input from
// outside can trigger (rejected datagrams, refused or malformed link input), so that a peer that
// misbehaves cannot fill the disk, while a rare line still reads exactly as before.
//
// Per call site: the first kBurst lines of any second are written as they stand. Beyond that the
// site is flooding: its lines are held back and counted, and at most one a second is written,
// carrying the count of those held back since the last one written:
//     "(<n> lines like this held back) <the line as it stands>"
// The site is back to normal once a second passes without one of its lines, or once fewer than
// kBurst lines were held back in a second (that line still carries its count).
//
// Use the macro at the call site; it keeps the site's state in a static of its own:
//     CN_PLAT_LOG_LIMITED("CNIntraMsgHandler: datagram of %zd bytes ...\n", len);
//
// Tests start every site afresh with CN_LogLimit::restart_all() (in a fixture's SetUp), so a
// test's lines do not share the second's budget with the lines of the tests before it.
//
// Threads: any thread, like CN_PlatLog (each site's state has its own lock).
#pragma once

#include <atomic>
#include <mutex>

#include "CNPlatLog.h"
#include "VorlenTypes.h"

class CN_LogLimit {
public:
    static constexpr WORD32 kBurst = 10;         // lines a second written as they stand
    static constexpr WORD64 kPeriodMs = 1000;    // the second of the rule

    struct Verdict {
        bool write;   // write this line
        WORD32 held;  // lines held back before it (0: the line is written as it stands)
    };

    constexpr CN_LogLimit() = default;
    CN_LogLimit(const CN_LogLimit&) = delete;
    CN_LogLimit& operator=(const CN_LogLimit&) = delete;

    // Decides about one line of this site arriving at now_ms (any monotonic millisecond clock).
    Verdict admit(WORD64 now_ms);

    // For tests: every site of the process, at its next line, forgets the lines it has seen
    // and starts as a site that has seen none. Any thread.
    static void restart_all();

private:
    static std::atomic<WORD32> restarts_;  // bumped by restart_all; each site compares on admit

    Verdict admit_normal(WORD64 now_ms);
    Verdict admit_flooding(WORD64 now_ms, bool quiet);

    std::mutex lock_;
    WORD32 restarts_seen_ = 0;
    bool started_ = false;
    bool flooding_ = false;
    WORD64 window_start_ = 0;  // normal: the start of the current second
    WORD32 in_window_ = 0;     // normal: lines written in it
    WORD64 last_seen_ = 0;     // the last line of the site, written or not
    WORD64 last_written_ = 0;  // flooding: the last line written
    WORD32 held_ = 0;          // flooding: lines held back since then
};

// Formats one line as CN_PlatLog does and writes it when the site's limit allows, with the held
// count in front when lines were held back. The clock is the monotonic clock.
void CN_PlatLogLimited(CN_LogLimit* site, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// The same at a given time (tests drive the clock).
void CN_PlatLogLimitedAt(CN_LogLimit* site, WORD64 now_ms, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

#define CN_PLAT_LOG_LIMITED(...)                             \
    do {                                                     \
        static CN_LogLimit cn_log_limit_site_;               \
        CN_PlatLogLimited(&cn_log_limit_site_, __VA_ARGS__); \
    } while (0)
