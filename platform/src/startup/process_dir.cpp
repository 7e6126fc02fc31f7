// The program directory and the double fork.
#include "startup/process_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CNPlatLog.h"

char g_strCurPath[CN_CUR_PATH_MAX] = "";

int CN_GetCurrPath(const char* AppExeName, char* cExePath) {
    if (AppExeName == nullptr || cExePath == nullptr) return 1;
    const char* slash = std::strrchr(AppExeName, '/');
    if (slash == nullptr) {
        std::strcpy(cExePath, "./");
        return 0;
    }
    size_t len = static_cast<size_t>(slash - AppExeName) + 1;
    if (len >= CN_CUR_PATH_MAX) {
        CN_PlatLog("error, AppExeName is too long. \n");
        return 1;
    }
    std::memcpy(cExePath, AppExeName, len);
    cExePath[len] = '\0';
    return 0;
}

const char* CN_GetBinPath() { return g_strCurPath; }

void unix_daemon_init(const char* path) {
    for (int fd = 0; fd < 256; ++fd) close(fd);
    int null_fd = open("/dev/null", O_RDWR);
    // Descriptor 0 is free, so /dev/null lands there; its copies become 1 and 2.
    if (null_fd >= 0 && (dup(null_fd) < 0 || dup(null_fd) < 0)) {
        // Without standard output and error the daemon still runs; its lines are lost.
    }
    pid_t pid = fork();
    if (pid < 0) {
        std::printf("Failed to fork child process, exit.\n");
        std::fflush(stdout);
        _exit(255);
    }
    if (pid > 0) {
        std::printf("Main process exit.\n");
        std::fflush(stdout);
        _exit(255);
    }
    if (setsid() < 0) _exit(255);
    pid = fork();
    if (pid < 0) _exit(255);
    if (pid > 0) {
        std::printf("The first child process exit.\n");
        std::fflush(stdout);
        _exit(255);
    }
    if (path != nullptr && chdir(path) != 0) {
        // Runs on in the old directory; paths under the program directory stay absolute.
    }
}
