// zub_control_job.h - the ZUB_CONTROL job (type 0x4000, one instance, control task 2): loads
// the configuration at power-on, runs the start handshake with every engine job, then serves
// the controller's requests and the anchors' replies through RTLSControlHandler.
//
// The entry runs on control task 2 only.
#pragma once

#include "VorlenTypes.h"

enum : WORD16 {
    ZUB_CONTROL_STATE_POWER_ON = 0,
    ZUB_CONTROL_STATE_WORK = 1,
};

// The job entry of the job table row.
void zub_control_job_entry(WORD16 state, WORD32 event, void* body, void* priv, BYTE flag);

// Power-on: trace log, job directory and engine JIDs, CRC table and anchor-id map, the four
// configuration files of the working directory, the log level, the first start pass.
void zub_control_init();
