// CNLogFile.h - the trace log's file owner: naming, the ring of numbered files, the control file
// that keeps the current number across restarts, and rotation at 50,000,000 bytes.
//
// One instance per process (Instance()), created on first use and never destroyed before exit.
// Every operation that touches the files takes the trace mutex, so any thread may call them.
//
// Files of this program: <program dir>log/zub/division<N>.log, N = 1 .. ring size, and
// log/zub/division.ctl holding N as decimal text.
#pragma once

#include <fstream>

#include "trace/CNOstream.h"
#include "trace/CNTrace.h"

class CNLogFile {
public:
    static constexpr int kNameSize = 292;
    static constexpr WORD32 kNoNumber = 0xFFFFFFFF;

    static CNLogFile& Instance();

    // Opens this program's trace log under "log/zub" of the program directory. Returns 0.
    int LogInit(int level, int size);
    // The general form for callers that name their own files; 1 on success, -1 for null names or
    // (with e_oneFile) a file that cannot be opened.
    int Init(int bufferSize, int level, const char* fileName, const char* controlFile, int size,
             CNTrace::FileOption option);

    // Ring size from a total size in megabytes (at least 2; a negative size counts as 100).
    void SetMaxLogSize(int size);
    // Length of the current file; -1 when it cannot be found.
    long long Size();
    // The number kept in the control file; kNoNumber when the file is missing or holds no
    // positive decimal number.
    WORD32 GetNumber();
    int SaveNumber(WORD32 n);
    // Opens the current numbered file for appending, moving on when it is full. 0 or -1.
    int InitOpenFile();
    // Closes the current file and opens the next one of the ring, emptied. 0 or -1.
    int RunningOpenFile();
    void Flush();
    void Close();
    bool Empty();

    bool IsOpen() const { return m_lgStrm.IsOpen(); }
    bool Good() const { return m_lgStrm.Good(); }
    CNTrace::FileOption Option() const { return m_option; }
    WORD32 CurrentNumber() const { return m_alterNumber; }
    WORD32 TotalLogFiles() const { return m_totalLogFile; }
    WORD32 MaxLogSize() const { return m_maxLogSize; }
    const char* CurrentFileName() const { return m_alterFileName; }
    CNOstream& Stream() { return m_lgStrm; }

    CNLogFile(const CNLogFile&) = delete;
    CNLogFile& operator=(const CNLogFile&) = delete;

private:
    CNLogFile();
    ~CNLogFile();

    // m_fileName with the number before its extension; false when the name has no dot.
    bool BuildNumberedName(WORD32 number);
    void ApplyStartSettings(int level);
    void WriteStartLines();

    CNOstream m_lgStrm;
    char m_alterFileName[kNameSize] = {};
    char m_fileName[kNameSize] = {};
    WORD32 m_alterNumber = 1;
    WORD32 m_maxLogSize = 0;
    WORD32 m_totalLogFile = 2;
    std::fstream m_controlStream;
    char m_controlFile[kNameSize] = {};
    CNTrace::FileOption m_option = CNTrace::e_separateFile;
};
