// omp_jobs.h - the maintenance program's job table (CN_SCS_JOB, notexist, BackComm, END).
//
// The table is read by the platform at start-up; BackComm (row 2, job type 0xC004, its entry in
// CNBackComm.h) runs on control task 2, and also receives every route-type-5 message that
// reaches this program.
#pragma once

#include "CNBackComm.h"
#include "VorlenTypes.h"

extern const T_JobCreatReg g_atJobRegTbl[];
inline constexpr int kOmpJobRows = 4;  // with the END row
