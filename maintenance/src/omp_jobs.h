// omp_jobs.h - the maintenance program's job table (CN_SCS_JOB, notexist, BackComm, END) and
// the entry of its back-communication job.
//
// The table is read by the platform at start-up; BackComm runs on control task 2, and also
// receives every route-type-5 message that reaches this program.
#pragma once

#include "VorlenTypes.h"

extern const T_JobCreatReg g_atJobRegTbl[];
inline constexpr int kOmpJobRows = 4;  // with the END row

// The back-communication job (row 2, job type 0xC004). Until its own code lands in
// maintenance/backcomm, a PLACEHOLDER stands in (omp_backcomm_placeholder.cpp).
void backComm_Job_Entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);
