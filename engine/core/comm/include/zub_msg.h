// zub_msg.h - sending one engine event to another engine job.
//
// The platform copies header and body, so the caller keeps its buffer. Only a job's own thread
// can send (the platform takes the sender from the current job); from any other thread the
// send fails and is printed. Event ids: zub_msg_id.h; job types: pub_pqe_jobtype.h.
#pragma once

#include <cstddef>

#include "VorlenTypes.h"

// Sends `len` bytes of `buf` as event `msg_id` to `dst` (version 0, priority 2). False for a
// null destination and when the platform refuses the message (printed at error level).
bool zub_asyn_msg_send(WORD32 msg_id, const BYTE* buf, WORD16 len, const JID* dst);

enum class zub_send_result { sent, shed, failed };

// zub_asyn_msg_send for a message its receiver may go without when it falls behind: a local
// receiver whose task queue already holds `mark` bytes gets nothing (shed: no copy made,
// nothing printed); below the mark the send is zub_asyn_msg_send's (failed: printed).
zub_send_result zub_asyn_msg_send_under_mark(WORD32 msg_id, const BYTE* buf, WORD16 len, const JID* dst,
                                             size_t mark);
