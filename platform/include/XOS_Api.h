// XOS_Api.h - the flat job API (XOS_* and the older OSS_* set): current job state and message,
// sends, timers, and the services (time, calendar, identity, memory, strings, byte order, log).
//
// Threads: the job-bound calls (state, current message, sends that need a sender, timers) act on
// the job that the calling control-task thread is running; from any other thread (the main
// reactor thread, a library's thread) there is no current job and they return the "no job"
// values listed with each. XOS_SendAsynMsgNJ and OSS_SendFromTask take an explicit sender and,
// on their local path, work from any thread. The services need no job and may be called from
// any thread; only OSS_GetLogicAddress depends on the calling thread.
//
// No function throws; failures are the return codes given.
#pragma once

#include <cstdarg>

#include "CNXosTypes.h"

// ---- job state (current job) -------------------------------------------------------------
void XOS_SetNextState(WORD16 wState);
void OSS_SetNextState(WORD16 wState);
WORD16 XOS_GetCurState();                               // 0 without a job
WORD16 OSS_GetCurState();
WORD32 XOS_GetSelfJNO();                                // 0 without a job
WORD16 XOS_GetJobAppState(WORD32 dwJno);                // state of the local job of type dwJno >> 16; 0 none
XOS_STATUS XOS_GetJobState(WORD32 dwJno, BYTE* pucState); // stores 1, 0; null gives 1
void XOS_SetDefaultNextState();
void OSS_SetDefaultNextState();
void XOS_TestVarSpace(WORD32 n);

// ---- sends (Part of the intra-board transport; all copy the data) --------------------------
// 0 success, 1 failure; the UDP path gives 0xFFFFFFFF without a current job, for a null
// receiver or for wMsgLen > 21504. A message for another process whose 44-byte header and data
// exceed the 20480-byte receive buffer fails with 1.
WORD32 XOS_SendAsynMsg(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, BYTE ucVer, BYTE ucPriority,
                       const JID* pReceiver);
WORD32 OSS_SendAsynMsg(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, BYTE ucCommType, const JID* pReceiver);
WORD32 XOS_PowerOnAck(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, WORD16 ucVer);
// Local path: put without waiting; a full queue drops the message, logs, and returns 1.
WORD32 XOS_SendAsynMsgNJ(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, BYTE ucVer, BYTE ucPriority,
                         const JID* pSender, const JID* pReceiver);
WORD32 OSS_SendFromTask(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, const JID* ptSender,
                        const JID* ptReceiver);
WORD32 OSS_BroadcastMsg(WORD32 dwMsgId, WORD16 wMsgLen, BYTE* pucData, WORD32 dwCount);

// ---- current message (current job) ---------------------------------------------------------
XOS_STATUS XOS_GetMsgDataLen(WORD16* pwMsgLen);          // 1 without a job or for null
WORD16 OSS_GetMsgDataLen();                              // 0 without a job
XOS_STATUS XOS_GetMsgId(WORD32* pdwMsgId);               // 1 without a job or for null
WORD32 OSS_GetMsgId();                                   // 0xFFFFFFFF without a job
BYTE XOS_GetMsgType();                                   // 1 job message, 8 timer; 255 without a job
BYTE OSS_GetMsgType();
XOS_STATUS XOS_Sender(JID* ptSender);                    // 1 without a job (null: 1)
XOS_STATUS OSS_Sender(JID* ptSender);
XOS_STATUS XOS_Receiver(JID* ptReceiver);
XOS_STATUS XOS_GetSelfJID(JID* ptSelf);
XOS_STATUS OSS_GetSelfPID(PID* ptSelf);
XOS_STATUS XOS_GetJIDByJNO(WORD32 dwJno, JID* ptJid);   // own JID with dwJno in front; null gives 1
XOS_STATUS OSS_GetPIDByPNO(WORD32 dwPno, PID* ptPid);
WORD32 XOS_ConstructJNO(WORD16 wJobType, WORD32 dwInstance);
WORD32 OSS_ConstructPNO(WORD16 wJobType, WORD32 dwInstance);
WORD32 OSS_ConstructPID(WORD32 dwPno, WORD32 dwDevId, WORD16 wModule, WORD16 wUnit, BYTE ucSUnit,
                        BYTE ucSubSystem, BYTE ucRouteType, PID* ptPid); // 1542 for null
WORD32 XOS_GetJobType(const JID* ptJid);                // dwJno >> 16; 0 for null
BOOLEAN XOS_IsOmp();                                     // own module 1 and unit 0xFFFF
BOOLEAN OSS_IsOmp();
WORD32 SetInetAddrByJID(const JID* ptJid);

// ---- timers (current job; expiries arrive as messages of type 8 on the job's own queue) ----
XOS_TIMER_ID XOS_SetRelativeTimer(WORD32 dwTimerNo, SWORD32 sdwDuration, WORD32 dwParam);
XOS_TIMER_ID OSS_SetRelativeTimer(WORD32 dwTimerNo, SWORD32 sdwDuration, WORD32 dwParam);
XOS_TIMER_ID XOS_SetLoopTimer(WORD32 dwTimerNo, SWORD32 sdwDuration, WORD32 dwParam);
XOS_TIMER_ID OSS_SetLoopTimer(WORD32 dwTimerNo, SWORD32 sdwDuration, WORD32 dwParam);
XOS_TIMER_ID XOS_SetAbsTimer(WORD32 dwTimerNo, WORD32 dwParam, const T_SysSoftClock* ptAbsTime);
XOS_TIMER_ID OSS_SetAbsTimer(WORD32 dwTimerNo, WORD32 dwParam, const T_SysSoftClock* ptAbsTime);
WORD32 XOS_KillTimerByTimerId(XOS_TIMER_ID dwTimerId);  // 0 cancelled, 1 not
WORD32 OSS_KillTimerByTimerId(XOS_TIMER_ID dwTimerId);
WORD32 XOS_KillTimer(WORD32 dwTimerNo, WORD32 dwParam); // 0 cancelled, 0xFFFFFFFF no match
WORD32 OSS_KillTimer(WORD32 dwTimerNo, WORD32 dwParam);
WORD32 XOS_GetParaOfCurTimer();                         // 0 without a job
WORD32 OSS_GetParaFromCurTimer();
WORD32 XOS_GetConstParaOfCurTimer();
XOS_TIMER_ID XOS_GetTidOfCurTimer();                    // 1 without a job

// ---- time since power-on and ticks --------------------------------------------------------
WORD32 XOS_GetMilliSecFromPowerOn();
WORD32 OSS_GetMilliSecFromPowerOn();
WORD32 XOS_GetSecFromPowerOn();
WORD32 OSS_GetSecFromPowerOn();
XOS_STATUS XOS_GetTimeFromPowerOn(T_Time* ptTimeFromPowerOn); // seconds and ms from one reading
WORD32 XOS_GetTick();
WORD32 OSS_GetTick();
XOS_STATUS XOS_GetCurTick(T_Tick* ptTick);
XOS_STATUS OSS_GetCurTick(T_Tick* ptTick);
WORD16 XOS_GetClockRate(); // 22
WORD16 OSS_GetClockRate(); // 100

// ---- calendar -----------------------------------------------------------------------------
SWORD16 XOS_GetZone();
WORD32 XOS_GetCurStdSecs();
WORD32 OSS_GetCurStdSecs();
WORD32 _OS_GetCurStdSecs(BYTE bUseTimezone);
XOS_STATUS XOS_GetCurStdTime(T_Time* ptTime);
WORD32 XOS_GetCurrentSeconds();
WORD32 OSS_GetCurrentSeconds();
void XOS_GetCurrentTime(T_Time* ptTime);
void OSS_GetCurrentTime(T_Time* ptTime);
XOS_STATUS OSS_GetCurrentAndStdSecs(WORD32* pdwCurSec, WORD32* pdwCurStdSec);
XOS_STATUS XOS_GetSysClock(T_SysSoftClock* ptClock);
XOS_STATUS OSS_GetSysClock(T_SysSoftClock* ptClock);
XOS_STATUS XOS_ClockToTime(const T_SysSoftClock* ptClock, T_Time* ptSecMillisec);
XOS_STATUS OSS_ClockToTime(const T_SysSoftClock* ptClock, T_Time* ptSecMillisec);
void _Clock_To_TIme(const T_SysSoftClock* ptClock, T_Time* ptSecMillisec);
OSS_STATUS OSS_TimeToClock(const T_Time* ptSecMillisec, T_SysSoftClock* ptClock); // 2560 for null
void _CTime_To_SysSoftClock(int seconds, int secFrom2000, int usetimezone, T_SysSoftClock* ptSysClock);
int GetWeek(int year, int month, int day);
int days(int year, int month);
XOS_STATUS XOS_GetSummerTime(T_SummerTimeInfo* ptInfo);

// ---- delays ------------------------------------------------------------------------------
WORD32 XOS_Delay(WORD32 dwTimeout);        // ms
WORD32 OSS_Delay(WORD32 dwTimeout);
void delay_us(int us);
WORD32 OSS_DelayProcess(WORD32 dwTimeout); // s
WORD32 XOS_DelayJob(WORD32 dwTimeout);     // no delay

// ---- identity and board ------------------------------------------------------------------
WORD CUR_MODULE();
XOS_STATUS XOS_GetBureauId(BYTE* ucBureID);
BYTE OSS_GetBureauId();
XOS_STATUS OSS_GetLogicAddress(LPVOID pvLA);
XOS_STATUS XOS_GetPhysAddress(T_PhysAddress* ptAddr);
XOS_STATUS OSS_GetPhysAddress(T_PhysAddress* ptAddr); // 15 for null
XOS_STATUS XOS_GetMsgAppVer(BYTE* pucAppVer);
WORD32 XOS_GetCpuNum();
BYTE XOS_GetLogCpuNo();
BYTE XOS_GetBoardMSState();
BYTE OSS_GetBoardMSState();
BOOLEAN OSS_GetPowerState();
XOS_STATUS XOS_GetBoardPosition(BYTE* pucPos);
WORD32 XOS_GetCurProcessID();
BYTE XOS_GetSingleCpuRate(WORD16 wCpuNo);
BYTE XOS_GetCpuUseRate();
BYTE XOS_GetCpuUseRate2s();

// ---- memory, strings, byte order --------------------------------------------------------
void* XOS_Malloc(WORD32 dwSize);
void* OSS_Malloc(WORD32 dwSize);
WORD32 XOS_Free(BYTE* pucBuf);
WORD32 OSS_Free(BYTE* pucBuf);
int XOS_snprintf(CHAR* pcBuffer, WORD32 dwMaxCount, const char* pcFmt, ...) __attribute__((format(printf, 3, 4)));
int XOS_vsnprintf(CHAR* pcBuffer, WORD32 dwMaxCount, const char* pcParamFormat, va_list vaList);
int OSS_vsnprintf(CHAR* pcBuffer, WORD32 dwMaxCount, const char* pcParamFormat, va_list vaList);
WORD32 XOS_strncpy(CHAR* pcBuffer, const CHAR* pcSource, WORD32 dwMaxCount); // size 0: writes nothing, 0
WORD32 XOS_strncat(CHAR* pcBuffer, const CHAR* pcSource, WORD32 dwMaxCount);
WORD32 XOS_Inet_addr(const char* pMask);
WORD32 OSS_HtoNL(WORD32 v);
WORD32 OSS_NtoHL(WORD32 v);
WORD32 XOS_HtoN32(WORD32 v);
WORD32 XOS_NtoH32(WORD32 v);
WORD32 XOS_InvertWord32(WORD32 v);
WORD16 OSS_HtoNS(WORD16 v);
WORD16 OSS_NtoHS(WORD16 v);
WORD16 XOS_HtoN16(WORD16 v);
WORD16 XOS_NtoH16(WORD16 v);
WORD16 XOS_InvertWord16(WORD16 v);
WORD64 XOS_NtoH64(WORD64 v);

// ---- logging and restart -----------------------------------------------------------------
// Levels 0, 1, 2, 3, 5 and 7 are written to the platform log (text bounded to 4096 bytes);
// other levels give 1. A null format gives 0.
WORD32 XOS_SysLog(BYTE ucLevel, const CHAR* pcFmt, ...) __attribute__((format(printf, 2, 3)));
// Logs "%T|REASON=%u|%s" (text bounded to 512 bytes) through ACE's logger and the platform log,
// flushes, and ends the process with status 2. Never returns.
[[noreturn]] void OSS_SysRestart(WORD16 wRestartReason, const CHAR* pcFmt, ...) __attribute__((format(printf, 2, 3)));
WORD32 OSS_Printf(WORD16 wModuleName, WORD32 dwErrId, BYTE ucPrnLevel, const void* pFormat, ...);
WORD32 XOS_ExcPrintf(CHAR* pcExcBuf, WORD32 dwExcLen);

// ---- entry points kept so that jobs written for a richer platform link; they do nothing ----
WORD32 XOS_OpenFile(CHAR* pcFileName, SWORD32 sdwFlag, XOS_FD* ptFd);
WORD32 XOS_CreateFile(CHAR* pcFileName);
WORD32 XOS_GetFileLength(CHAR* pcFileName, SWORD32* psdwLen);
WORD32 XOS_SeekFile(XOS_FD sdwFd, SWORD32 sdwOrigin, SWORD32 sdwOffset);
WORD32 XOS_ReadFile(XOS_FD sdwFd, void* pBuffer, SWORD32 sdwCount, SWORD32* psdwCountBeRead);
WORD32 XOS_WriteFile(XOS_FD sdwFd, void* pBuffer, SWORD32 sdwCount, SWORD32* psdwCountBeWrite);
WORD32 XOS_CloseFile(XOS_FD sdwFd);
WORD32 XOS_DeleteFile(CHAR* pcFileName);
WORD32 XOS_CopyFileWP(CHAR* pcDstFileName, CHAR* pcSrcFileName, BYTE ucCopyMode, WORD32 dwOnceBytes);
WORD32 XOS_OpenDir(CHAR* pcDirName, XOS_DIR* ptDir);
WORD32 XOS_CloseDir(XOS_DIR sdwDirIndex);
WORD32 XOS_CreateDirectory(CHAR* pcDirName);
WORD32 XOS_CreateDirectoryEx(CHAR* pcDirName);
WORD32 XOS_DeleteDirectory(CHAR* pcDirName);
WORD32 XOS_RequestSubScr(void* ptDstJid, WORD32 dwTimeOut);
WORD32 XOS_RequestSubScrEx(void* ptDstJid, WORD32 dwTimeOut, BYTE ucSubScrType);
WORD32 XOS_CancelSubScr(void* ptDstJid, WORD32 dwTimeOut);
WORD32 XOS_AddToMultiGroup(WORD16 wGroupNo);
WORD32 XOS_MulticastMsgND(WORD32 dwJno, WORD16 wGroupNo, WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, BYTE ucVer,
                          BYTE ucPriority);
WORD32 XOS_Msend(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, BYTE ucVer, BYTE ucPriority, void* pReceiver);
WORD32 OSS_Msend(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, void* pReceiver);
WORD32 XOS_SynAck(BYTE* pucData, WORD16 wMsgLen);
WORD32 XOS_WaitJob(WORD32 dwJno, BYTE ucJobState, WORD32 dwTimeOut);
WORD32 XOS_StartTask(CHAR* pucName, WORD16 wPriority, WORD32 dwStacksize, SWORD32 sdwOptions,
                     TaskEntryProto tTaskEntry, WORDPTR ptTaskPara1);
WORD32 XOS_SetThreadAffinity(WORD32 iCpuId, XOS_TASK_T tTaskId);
WORD32 XOS_RegProcForModifyClkInform(WORD32 dwFlag);
WORD32 XOS_RegProcRestartHook(FUNCPTR pFuncRestartHook, WORDPTR a1, WORDPTR a2, WORDPTR a3, WORDPTR a4,
                              WORDPTR a5, WORDPTR a6);
WORD32 XOS_QueryProcInfoTbl(OSSPID dwProcessID, T_ProcInfoItem* ptResult);
WORD32 XOS_SetCriticalProcForLa();
T_PreDefTimer* XOS_GetTimerPtrByMacro(SWORD32 sdwMacro);
WORD32 XOS_GetTimerDurByMacro(SWORD32 sdwMacro, WORD32* pdwTimerDur);
