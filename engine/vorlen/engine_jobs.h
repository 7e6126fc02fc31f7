// engine_jobs.h - the location engine's job table (29 rows: CN_SCS_JOB, notexist, the control
// job, three managers, socket, clock sync, display, reconnection, 18 selectors, END) and the
// placeholder entries that stand in for engine jobs whose code has not landed yet.
//
// The table is read by the platform at start-up; placeholder entries run on their own rows'
// control-task threads.
#pragma once

#include "VorlenTypes.h"

extern const T_JobCreatReg g_atJobRegTbl[];
inline constexpr int kEngineJobRows = 29;  // with the END row

// PLACEHOLDER for an engine job not yet written: acknowledges its power-on (6000 -> 6003) and
// answers the control job's start event (0x30000) with 0x30001, in any state. Replaced row by
// row as each job lands.
void engine_placeholder_job_entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);
