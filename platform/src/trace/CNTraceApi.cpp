// CNTraceApi.cpp - the plain function interface of the trace log.
#include <cstring>

#include "trace/CNLogFile.h"
#include "trace/CNTrace.h"

void CN_initCNLogFile(int iLevel, int iSize) {
    CNLogFile::Instance().LogInit(iLevel, iSize);
    if (CNTrace::GetLevel() != 0) {
        CNTrace::Begin(1, __FILE__, __LINE__) << "div log file create succefully, iLevel=" << iLevel
                                              << ", iSize=" << iSize << '\n';
        CNTrace::End();
        CNLogFile::Instance().Flush();
    }
}

void CN_PrintToLog(int iLevel, const char* szChar) {
    CNLogFile::Instance();
    if (szChar == nullptr || static_cast<WORD32>(iLevel) > CNTrace::GetLevel()) {
        return;
    }
    CNTrace::WriteLine(static_cast<WORD32>(iLevel), __FILE__, __LINE__, szChar, std::strlen(szChar));
}

void CN_SetLogLevel(int iLevel) { CNTrace::SetLevel(static_cast<WORD32>(iLevel)); }

void CN_SetLogOptions(ACE_UINT32 options) { CNTrace::SetOptions(options); }

void CN_ClearLogOptions(ACE_UINT32 options) { CNTrace::ClearOptions(options); }
