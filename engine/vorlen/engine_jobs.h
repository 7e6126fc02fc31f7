// engine_jobs.h - the location engine's job table (29 rows: CN_SCS_JOB, notexist, the control
// job, three managers, socket, clock sync, display, reconnection, 18 selectors, END), its
// in-process-only messages and the profile that carries both.
//
// The table is read by the platform at start-up; each engine job runs on its own row's
// control-task thread.
#pragma once

#include "CNPlatform.h"
#include "VorlenTypes.h"

extern const T_JobCreatReg g_atJobRegTbl[];
inline constexpr int kEngineJobRows = 29;  // with the END row

// The engine's messages whose body holds an in-process address, which the intra-board input
// therefore never takes from a datagram.
extern const CN_LocalOnlyMsg g_atLocalOnlyMsgTbl[];
inline constexpr WORD16 kEngineLocalOnlyMsgs = 1;

// The engine's platform profile: CN_EngineProfile over the job table, with the list above.
CN_PlatformProfile vorlen_profile();
