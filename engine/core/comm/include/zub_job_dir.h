// zub_job_dir.h - the engine job directory: the engine rows of the platform job table with
// their JIDs and names, and the engine JIDs copied into the context.
//
// Built once by the control job at power-on (qeGetMPProcJIDs, on its own thread, because the
// JIDs take the caller's module and unit), before the other engine jobs send; from then on
// read by every job thread (print prefixes, JID lookups). The entry count is published last
// (release), so a reader never looks at an entry that is still being filled. The start
// handshake fields (wProcIns, wJobInitOKNum, init_timer, blInitStatus, dwInitFailNum) belong
// to the control job alone.
//
// The record keeps the field order of the directory, at natural alignment: entries are handed
// out as JID pointers, which must be aligned.
#pragma once

#include "VorlenTypes.h"

constexpr unsigned QE_MAX_JOB_INFO = 32;
constexpr unsigned QE_JOB_NAME_LEN = 12;  // 11 characters and the terminator
constexpr WORD32 QE_NO_INIT_TIMER = 0xFFFFFFFFu;

struct tagJobInitInfo {
    JID tJID;
    WORD16 wJobType;
    char szJobName[QE_JOB_NAME_LEN];
    SWORD32 blInitStatus;  // BOOL: the job has answered the start event
    WORD32 dwInitFailNum;
    WORD32 dwModuleType;
};

struct T_qeJobInfo {
    WORD16 wRealJOBNumber;  // entries in use (the rows' instance counts added up)
    WORD16 wProcIns;
    WORD16 wJobInitOKNum;
    WORD32 init_timer;      // QE_NO_INIT_TIMER: none
    tagJobInitInfo tJobInfo[QE_MAX_JOB_INFO];
};

extern T_qeJobInfo g_tMPAllJobInitInfo;

// Rebuilds the directory from the platform job table: every row (at most 32, up to the end
// row) whose type lies in 0x4000..0x4019. 1 when every JID was found, 0 otherwise ("Get %s JID
// failed." printed; the directory then holds the rows before it). Control job.
int qeGetMPProcJIDs();

// The JID of the first entry of that job type, or null. Any thread.
JID* qeGetJobJIDByJobType(WORD16 job_type);

// Copies the JIDs of the display, control, clock-sync, reconnection, manager and selector jobs
// from the directory into the context; a type without an entry leaves its slot as it was.
// Control job, at power-on.
void qeGlobalJobsJIDInit();

// Instance number of the engine's jobs: 1.
WORD32 qeGetProcInstNo();

// Number of directory entries a reader may look at now (wRealJOBNumber, at most 32). Any thread.
unsigned qe_job_dir_count();
