// zub_job_dispatch.h - the thin part of an engine job entry whose logic lives in a core class:
// the platform's length of the current message body and the current timer's parameter are
// read, the core handles the message and returns the job's next state, which is set when it
// changes, and no exception leaves the entry (it is printed at error level).
//
// Called from a job entry, on that job's own task thread.
#pragma once

#include <functional>

#include "VorlenTypes.h"

// `handle` gets the body (null when none), its length (0 when none or unknown) and the timer
// parameter (0 unless the message is a timer expiry).
using zub_job_handler_t = std::function<WORD16(const BYTE* body, WORD16 len, WORD32 timer_para)>;

// `job` names the job in the printed line: "<job> msgid(<id>) failed: <what>".
void zub_job_dispatch(const char* job, WORD16 state, WORD32 msg_id, void* body, const zub_job_handler_t& handle);
