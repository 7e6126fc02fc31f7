// counter_files.h - small counter files: a 4-byte count in host byte order. The programs carry
// them but do not call them. Any thread, one caller per file at a time (no locking).
#pragma once

// Adds 1 to the count (a missing file starts at 0). 0, or -1 when the file cannot be created.
int FileAdd(const char* path);
// The same, but the count wraps to 0 when it reaches nModNum (logged "FileModSet3! nNum=%d.\n").
int FileModSet(const char* path, int nModNum);
// Writes g_upm_ModuleNum as the count. 0, or -1.
int FileInit_UpmNo(const char* path);
// The stored count ("FileRead! nNum=%d.\n"), or -1 ("FileRead(%s) failed!\n").
int FileRead(const char* path);
