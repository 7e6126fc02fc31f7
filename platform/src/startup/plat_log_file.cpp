// The platform log file and the one way out of the process.
#include "startup/plat_log_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "CNPlatLog.h"
#include "startup/process_dir.h"

int CreatLogFile(const char* szLogName) {
    std::string dir = std::string(g_strCurPath) + "log";
    mkdir(dir.c_str(), 0755);
    std::string path = dir + "/" + szLogName;
    FILE* fp = std::fopen(path.c_str(), "a");
    if (fp == nullptr) return -1;
    CN_SetPlatLogFile(fp);
    CN_PlatLog("%d ---------  begin to power on --------\n", static_cast<int>(getpid()));
    return 0;
}

void CN_FlushLogs() { std::fflush(nullptr); }

void CN_ExitProcess(int nCode) {
    CN_FlushLogs();
    _exit(nCode);
}
