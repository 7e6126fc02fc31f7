// plat_log.cpp - the platform log sink.
#include "CNPlatLog.h"

#include <atomic>

namespace {
std::atomic<FILE*> g_fplog{nullptr};
}

void CN_SetPlatLogFile(FILE* fp) { g_fplog.store(fp, std::memory_order_release); }

FILE* CN_GetPlatLogFile() { return g_fplog.load(std::memory_order_acquire); }

void CN_PlatLogV(const char* fmt, va_list args)
{
    FILE* fp = CN_GetPlatLogFile();
    if (fp == nullptr || fmt == nullptr) {
        return;
    }
    char line[CN_PLAT_LOG_LINE_MAX];
    int n = vsnprintf(line, sizeof line, fmt, args);
    if (n < 0) {
        return;
    }
    fputs(line, fp);
    fflush(fp);
}

void CN_PlatLog(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    CN_PlatLogV(fmt, args);
    va_end(args);
}
