// engine_jobs.h - the location engine's job table (29 rows: CN_SCS_JOB, notexist, the control
// job, three managers, socket, clock sync, display, reconnection, 18 selectors, END).
//
// The table is read by the platform at start-up; each engine job runs on its own row's
// control-task thread.
#pragma once

#include "VorlenTypes.h"

extern const T_JobCreatReg g_atJobRegTbl[];
inline constexpr int kEngineJobRows = 29;  // with the END row
