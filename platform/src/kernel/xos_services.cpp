// xos_services.cpp - identity and board queries, memory, strings, byte order, the platform log
// line, the fatal restart and the entry points that only keep richer-platform jobs linking.
// Any thread; only OSS_GetLogicAddress depends on the calling thread's current job.
#include "kernel_internal.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include <ace/Log_Msg.h>

namespace {
constexpr size_t kLogicAddressBytes = 12;
constexpr size_t kRestartTextBytes = 512;

bool is_written_level(BYTE ucLevel)
{
    return ucLevel == 0 || ucLevel == 1 || ucLevel == 2 || ucLevel == 3 || ucLevel == 5 || ucLevel == 7;
}
} // namespace

// ---- identity and board ---------------------------------------------------------------------

WORD CUR_MODULE() { return _thisModuleNo; }

XOS_STATUS XOS_GetBureauId(BYTE* ucBureID)
{
    if (ucBureID == nullptr) {
        return 1;
    }
    *ucBureID = static_cast<BYTE>(_thisBureauID & 0xFF);
    return 0;
}

BYTE OSS_GetBureauId() { return static_cast<BYTE>(_thisBureauID & 0xFF); }

XOS_STATUS OSS_GetLogicAddress(LPVOID pvLA)
{
    if (pvLA == nullptr) {
        return 1;
    }
    BYTE* bytes = static_cast<BYTE*>(pvLA);
    std::memset(bytes, 0xFF, kLogicAddressBytes);
    if (CN_Job_Base* job = CN_Job_Base::GetPCB()) {
        WORD16 module = job->SelfJID().wModule;
        WORD16 unit = job->SelfJID().wUnit;
        std::memcpy(bytes + 2, &module, sizeof module);
        std::memcpy(bytes + 4, &unit, sizeof unit);
    }
    return 0;
}

XOS_STATUS XOS_GetPhysAddress(T_PhysAddress* ptAddr)
{
    // A null record is refused rather than written through.
    if (ptAddr == nullptr) {
        return 1;
    }
    ptAddr->ucRackId = 1;
    ptAddr->ucShelfId = 1;
    ptAddr->ucSlotId = 1;
    ptAddr->ucCpuId = 1;
    return 0;
}

XOS_STATUS OSS_GetPhysAddress(T_PhysAddress* ptAddr)
{
    if (ptAddr == nullptr) {
        return 15;
    }
    return XOS_GetPhysAddress(ptAddr);
}

XOS_STATUS XOS_GetMsgAppVer(BYTE* pucAppVer)
{
    if (pucAppVer == nullptr) {
        return 1;
    }
    *pucAppVer = 0;
    return 0;
}

WORD32 XOS_GetCpuNum() { return 8; }
BYTE XOS_GetLogCpuNo() { return 1; }
BYTE XOS_GetBoardMSState() { return 1; }
BYTE OSS_GetBoardMSState() { return 1; }
BOOLEAN OSS_GetPowerState() { return TRUE; }
XOS_STATUS XOS_GetBoardPosition(BYTE* pucPos) { return 0; }
WORD32 XOS_GetCurProcessID() { return 0; }
BYTE XOS_GetSingleCpuRate(WORD16 wCpuNo) { return static_cast<BYTE>(wCpuNo * 10); }
BYTE XOS_GetCpuUseRate() { return 0; }
BYTE XOS_GetCpuUseRate2s() { return 0; }

// ---- memory, strings, byte order ------------------------------------------------------------

void* XOS_Malloc(WORD32 dwSize) { return std::malloc(dwSize); }
void* OSS_Malloc(WORD32 dwSize) { return std::malloc(dwSize); }

WORD32 XOS_Free(BYTE* pucBuf)
{
    if (pucBuf == nullptr) {
        return 1;
    }
    std::free(pucBuf);
    return 0;
}

WORD32 OSS_Free(BYTE* pucBuf) { return XOS_Free(pucBuf); }

int XOS_vsnprintf(CHAR* pcBuffer, WORD32 dwMaxCount, const char* pcParamFormat, va_list vaList)
{
    if (pcBuffer == nullptr || pcParamFormat == nullptr) {
        return 0;
    }
    return vsnprintf(pcBuffer, dwMaxCount, pcParamFormat, vaList);
}

int XOS_snprintf(CHAR* pcBuffer, WORD32 dwMaxCount, const char* pcFmt, ...)
{
    if (pcBuffer == nullptr || pcFmt == nullptr) {
        return 0;
    }
    va_list args;
    va_start(args, pcFmt);
    int n = vsnprintf(pcBuffer, dwMaxCount, pcFmt, args);
    va_end(args);
    return n;
}

int OSS_vsnprintf(CHAR* pcBuffer, WORD32 dwMaxCount, const char* pcParamFormat, va_list vaList) { return 0; }

WORD32 XOS_strncpy(CHAR* pcBuffer, const CHAR* pcSource, WORD32 dwMaxCount)
{
    if (pcBuffer == nullptr || pcSource == nullptr || dwMaxCount == 0) {
        return 0;
    }
    std::strncpy(pcBuffer, pcSource, dwMaxCount);
    pcBuffer[dwMaxCount - 1] = '\0';
    return static_cast<WORD32>(std::strlen(pcBuffer) + 1);
}

WORD32 XOS_strncat(CHAR* pcBuffer, const CHAR* pcSource, WORD32 dwMaxCount)
{
    if (pcBuffer == nullptr || pcSource == nullptr) {
        return 0;
    }
    size_t present = strnlen(pcBuffer, dwMaxCount);
    if (present >= dwMaxCount) {
        return 0;
    }
    size_t room = dwMaxCount - 1 - present;
    size_t take = strnlen(pcSource, room);
    std::memcpy(pcBuffer + present, pcSource, take);
    pcBuffer[present + take] = '\0';
    return static_cast<WORD32>(take);
}

WORD32 XOS_Inet_addr(const char* pMask)
{
    if (pMask == nullptr) {
        return 0xFFFFFFFF;
    }
    return inet_addr(pMask);
}

WORD32 XOS_InvertWord32(WORD32 v) { return __builtin_bswap32(v); }
WORD32 OSS_HtoNL(WORD32 v) { return __builtin_bswap32(v); }
WORD32 OSS_NtoHL(WORD32 v) { return __builtin_bswap32(v); }
WORD32 XOS_HtoN32(WORD32 v) { return __builtin_bswap32(v); }
WORD32 XOS_NtoH32(WORD32 v) { return __builtin_bswap32(v); }
WORD16 XOS_InvertWord16(WORD16 v) { return __builtin_bswap16(v); }
WORD16 OSS_HtoNS(WORD16 v) { return __builtin_bswap16(v); }
WORD16 OSS_NtoHS(WORD16 v) { return __builtin_bswap16(v); }
WORD16 XOS_HtoN16(WORD16 v) { return __builtin_bswap16(v); }
WORD16 XOS_NtoH16(WORD16 v) { return __builtin_bswap16(v); }
WORD64 XOS_NtoH64(WORD64 v) { return __builtin_bswap64(v); }

// ---- logging and restart ----------------------------------------------------------------------

WORD32 XOS_SysLog(BYTE ucLevel, const CHAR* pcFmt, ...)
{
    if (pcFmt == nullptr) {
        return 0;
    }
    if (!is_written_level(ucLevel)) {
        return 1;
    }
    va_list args;
    va_start(args, pcFmt);
    CN_PlatLogV(pcFmt, args);
    va_end(args);
    return 0;
}

void OSS_SysRestart(WORD16 wRestartReason, const CHAR* pcFmt, ...)
{
    char text[kRestartTextBytes] = "";
    if (pcFmt != nullptr) {
        va_list args;
        va_start(args, pcFmt);
        vsnprintf(text, sizeof text, pcFmt, args);
        va_end(args);
    }
    ACE_DEBUG((LM_EMERGENCY, ACE_TEXT("%T|REASON=%u|%s\n"), static_cast<unsigned>(wRestartReason), text));
    CN_PlatLog("OSS_SysRestart|REASON=%u|%s\n", static_cast<unsigned>(wRestartReason), text);
    if (FILE* fp = CN_GetPlatLogFile()) {
        fflush(fp);
    }
    fflush(stdout);
    fflush(stderr);
    // Ends here with the status the platform promises; no handler or destructor runs on the way.
    _exit(2);
}

WORD32 OSS_Printf(WORD16 wModuleName, WORD32 dwErrId, BYTE ucPrnLevel, const void* pFormat, ...) { return 0; }
WORD32 XOS_ExcPrintf(CHAR* pcExcBuf, WORD32 dwExcLen) { return 0; }

// ---- entry points that do nothing ----------------------------------------------------------

WORD32 XOS_OpenFile(CHAR* pcFileName, SWORD32 sdwFlag, XOS_FD* ptFd) { return 0; }
WORD32 XOS_CreateFile(CHAR* pcFileName) { return 0; }
WORD32 XOS_GetFileLength(CHAR* pcFileName, SWORD32* psdwLen) { return 0; }
WORD32 XOS_SeekFile(XOS_FD sdwFd, SWORD32 sdwOrigin, SWORD32 sdwOffset) { return 0; }
WORD32 XOS_ReadFile(XOS_FD sdwFd, void* pBuffer, SWORD32 sdwCount, SWORD32* psdwCountBeRead) { return 0; }
WORD32 XOS_WriteFile(XOS_FD sdwFd, void* pBuffer, SWORD32 sdwCount, SWORD32* psdwCountBeWrite) { return 0; }
WORD32 XOS_CloseFile(XOS_FD sdwFd) { return 0; }
WORD32 XOS_DeleteFile(CHAR* pcFileName) { return 0; }
WORD32 XOS_CopyFileWP(CHAR* pcDstFileName, CHAR* pcSrcFileName, BYTE ucCopyMode, WORD32 dwOnceBytes) { return 0; }
WORD32 XOS_OpenDir(CHAR* pcDirName, XOS_DIR* ptDir) { return 0; }
WORD32 XOS_CloseDir(XOS_DIR sdwDirIndex) { return 0; }
WORD32 XOS_CreateDirectory(CHAR* pcDirName) { return 0; }
WORD32 XOS_CreateDirectoryEx(CHAR* pcDirName) { return 0; }
WORD32 XOS_DeleteDirectory(CHAR* pcDirName) { return 0; }
WORD32 XOS_RequestSubScr(void* ptDstJid, WORD32 dwTimeOut) { return 0; }
WORD32 XOS_RequestSubScrEx(void* ptDstJid, WORD32 dwTimeOut, BYTE ucSubScrType) { return 0; }
WORD32 XOS_CancelSubScr(void* ptDstJid, WORD32 dwTimeOut) { return 0; }
WORD32 XOS_AddToMultiGroup(WORD16 wGroupNo) { return 0; }
WORD32 XOS_MulticastMsgND(WORD32 dwJno, WORD16 wGroupNo, WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, BYTE ucVer,
                          BYTE ucPriority)
{
    return 0;
}
WORD32 XOS_Msend(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, BYTE ucVer, BYTE ucPriority, void* pReceiver)
{
    return 0;
}
WORD32 OSS_Msend(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, void* pReceiver) { return 0; }
WORD32 XOS_SynAck(BYTE* pucData, WORD16 wMsgLen) { return 0; }
WORD32 XOS_WaitJob(WORD32 dwJno, BYTE ucJobState, WORD32 dwTimeOut) { return 0; }
WORD32 XOS_StartTask(CHAR* pucName, WORD16 wPriority, WORD32 dwStacksize, SWORD32 sdwOptions,
                     TaskEntryProto tTaskEntry, WORDPTR ptTaskPara1)
{
    return 0;
}
WORD32 XOS_SetThreadAffinity(WORD32 iCpuId, XOS_TASK_T tTaskId) { return 0; }
WORD32 XOS_RegProcForModifyClkInform(WORD32 dwFlag) { return 0; }
WORD32 XOS_RegProcRestartHook(FUNCPTR pFuncRestartHook, WORDPTR a1, WORDPTR a2, WORDPTR a3, WORDPTR a4,
                              WORDPTR a5, WORDPTR a6)
{
    return 0;
}
WORD32 XOS_QueryProcInfoTbl(OSSPID dwProcessID, T_ProcInfoItem* ptResult) { return 0; }
WORD32 XOS_SetCriticalProcForLa() { return 0; }
T_PreDefTimer* XOS_GetTimerPtrByMacro(SWORD32 sdwMacro) { return nullptr; }
WORD32 XOS_GetTimerDurByMacro(SWORD32 sdwMacro, WORD32* pdwTimerDur) { return 1; }
