// process_dir.h - the program's own directory (the working base of both programs) and the
// turning of the started process into a daemon.
//
// Main thread only, before any other thread exists (unix_daemon_init forks).
#pragma once

#include "VorlenTypes.h"

inline constexpr int CN_CUR_PATH_MAX = 260;

// The program's directory, ending in "/" (at most 259 characters); "" until CN_GetCurrPath ran.
extern char g_strCurPath[CN_CUR_PATH_MAX];

// Directory part of AppExeName including its final "/", or "./" when it holds no "/".
// 0 on success; 1 for a null argument or a directory part of 260 characters or more.
int CN_GetCurrPath(const char* AppExeName, char* cExePath);
const char* CN_GetBinPath();

// Closes descriptors 0..255, leads standard input, output and error to "/dev/null", forks twice
// with setsid between (the starting process and the first child exit with 255, as does any
// failed fork or setsid) and changes to `path`. Returns only in the daemon.
void unix_daemon_init(const char* path);
