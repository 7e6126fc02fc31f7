// kernel_internal.h - helpers shared by the kernel's own sources (not part of the platform API).
//
// Threads: as noted per function.
#pragma once

#include <ace/Message_Block.h>
#include <ace/Reactor.h>

#include "VorlenComm.h"

namespace cn_kernel {

// The profile in force (all zero before CN_PlatformInit). Read-only while tasks run.
const CN_PlatformProfile& profile();

// The job table of the profile, or null.
const T_JobCreatReg* job_table();

// True when the JID's module and unit are this process's own.
bool is_own_module_unit(const JID& jid);
bool same_module_unit(const JID& a, const JID& b);

// The job that must handle a job-message block with this header, the same answer for every
// path a block takes (local send, UDP input, dispatch): route type 5 goes to the diversion
// job where the profile asks for it, anything else to GetJobHandlerByJid. bQuiet: no log line
// for a foreign JID.
CN_Job_Base* delivery_job(const T_CNMessageHead& head, bool bQuiet);
CN_Job_Base* lookup_job(const JID& jid, bool bQuiet);

// A block of `size` bytes of the given kind and priority, write pointer at the start; null
// when it cannot be had.
ACE_Message_Block* make_block(size_t size, ACE_Message_Block::ACE_Message_Type type, unsigned long priority);

// Copies header and data into a new job-message block (kind 514) with `extra` spare bytes.
ACE_Message_Block* make_job_block(const T_CNMessageHead& head, const void* pData, size_t len, size_t extra,
                                  unsigned long priority);

// Next platform timer id: unique for the life of the process (never 0xFFFFFFFF). Any thread.
XOS_TIMER_ID next_timer_id();

// The calling thread's schedule index, 0 off a control-task thread.
WORD16 current_task_index();
void set_current_task_index(WORD16 wIndex);

// The process-wide intra-board handler (null before task 1 opens).
CNIntraMsgHandler* intra_handler();
void set_intra_handler(CNIntraMsgHandler* pHandler);

} // namespace cn_kernel
