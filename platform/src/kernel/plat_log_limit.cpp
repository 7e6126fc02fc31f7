// plat_log_limit.cpp - the per-site rate limit of the platform log.
#include "CNPlatLogLimit.h"

#include <cstdarg>

#include "CNPlatform.h"

namespace {

void write_limited(CN_LogLimit* site, WORD64 now_ms, const char* fmt, va_list args)
{
    if (site == nullptr || fmt == nullptr) {
        return;
    }
    const CN_LogLimit::Verdict verdict = site->admit(now_ms);
    if (!verdict.write) {
        return;
    }
    if (verdict.held == 0) {
        CN_PlatLogV(fmt, args);
        return;
    }
    char line[CN_PLAT_LOG_LINE_MAX];
    if (vsnprintf(line, sizeof line, fmt, args) < 0) {
        return;
    }
    CN_PlatLog("(%u lines like this held back) %s", verdict.held, line);
}

} // namespace

std::atomic<WORD32> CN_LogLimit::restarts_{0};

void CN_LogLimit::restart_all()
{
    restarts_.fetch_add(1, std::memory_order_release);
}

CN_LogLimit::Verdict CN_LogLimit::admit(WORD64 now_ms)
{
    std::lock_guard<std::mutex> guard(lock_);
    const WORD32 restarts = restarts_.load(std::memory_order_acquire);
    if (restarts != restarts_seen_) {
        restarts_seen_ = restarts;
        started_ = false;
        flooding_ = false;
        in_window_ = 0;
        held_ = 0;
    }
    if (!started_) {
        started_ = true;
        window_start_ = now_ms;
        last_seen_ = now_ms;
    }
    const bool quiet = now_ms - last_seen_ >= kPeriodMs;
    last_seen_ = now_ms;
    return flooding_ ? admit_flooding(now_ms, quiet) : admit_normal(now_ms);
}

CN_LogLimit::Verdict CN_LogLimit::admit_normal(WORD64 now_ms)
{
    if (now_ms - window_start_ >= kPeriodMs) {
        window_start_ = now_ms;
        in_window_ = 0;
    }
    if (in_window_ < kBurst) {
        ++in_window_;
        return {true, 0};
    }
    // The first line over the burst is the first one held back; a line carrying the count
    // follows a second later at the earliest.
    flooding_ = true;
    held_ = 1;
    last_written_ = now_ms;
    return {false, 0};
}

CN_LogLimit::Verdict CN_LogLimit::admit_flooding(WORD64 now_ms, bool quiet)
{
    if (!quiet && now_ms - last_written_ < kPeriodMs) {
        ++held_;
        return {false, 0};
    }
    const WORD32 held = held_;
    held_ = 0;
    last_written_ = now_ms;
    if (quiet || held < kBurst) {
        flooding_ = false;
        window_start_ = now_ms;
        in_window_ = 1;
    }
    return {true, held};
}

void CN_PlatLogLimited(CN_LogLimit* site, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    write_limited(site, CN_MonotonicMs(), fmt, args);
    va_end(args);
}

void CN_PlatLogLimitedAt(CN_LogLimit* site, WORD64 now_ms, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    write_limited(site, now_ms, fmt, args);
    va_end(args);
}
