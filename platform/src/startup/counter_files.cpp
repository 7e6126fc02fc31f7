#include "startup/counter_files.h"

#include <cstdint>
#include <cstdio>

#include "CNPlatLog.h"
#include "startup/omp_cfg.h"

namespace {

// The stored count; 0 for a missing or short file.
int32_t read_count(const char* path) {
    int32_t n = 0;
    if (FILE* fp = std::fopen(path, "rb")) {
        if (std::fread(&n, sizeof n, 1, fp) != 1) n = 0;
        std::fclose(fp);
    }
    return n;
}

int write_count(const char* path, int32_t n) {
    FILE* fp = std::fopen(path, "wb");
    if (fp == nullptr) return -1;
    const bool ok = std::fwrite(&n, sizeof n, 1, fp) == 1;
    return std::fclose(fp) == 0 && ok ? 0 : -1;
}

}  // namespace

int FileAdd(const char* path) {
    if (path == nullptr) return -1;
    return write_count(path, read_count(path) + 1);
}

int FileModSet(const char* path, int nModNum) {
    if (path == nullptr) return -1;
    int32_t n = read_count(path) + 1;
    if (n >= nModNum) n = 0;
    CN_PlatLog("FileModSet3! nNum=%d.\n", n);
    return write_count(path, n);
}

int FileInit_UpmNo(const char* path) {
    if (path == nullptr) return -1;
    return write_count(path, g_upm_ModuleNum);
}

int FileRead(const char* path) {
    FILE* fp = path ? std::fopen(path, "rb") : nullptr;
    int32_t n = 0;
    const bool ok = fp != nullptr && std::fread(&n, sizeof n, 1, fp) == 1;
    if (fp != nullptr) std::fclose(fp);
    if (!ok) {
        CN_PlatLog("FileRead(%s) failed!\n", path ? path : "");
        return -1;
    }
    CN_PlatLog("FileRead! nNum=%d.\n", n);
    return n;
}
