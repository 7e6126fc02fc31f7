// zub_clocksync_job.h - the clock-sync job's entry, for the engine job table.
//
// Runs only on the job's own control task (7). States: 0 initial, 6 powered on, 1 running.
#pragma once

#include "VorlenTypes.h"

void zub_clocksync_entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);
