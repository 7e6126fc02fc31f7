// zub_manager.h - the three manager jobs (ZUB_MANAGER1..3): they spread the anchors' tag
// reports over the eighteen selector jobs so that every report of one tag reaches the same
// selector, send a raw-blink record of each report to the display job, and count each
// report per anchor and tag.
//
// zub_manager_job_entry runs on each manager's own control-task thread (three threads share
// it); it keeps no state of its own beyond the job state. zub_anchor_recv_tag_statistics may
// be called from any thread at once (the counting is atomic per anchor).
#pragma once

#include "VorlenTypes.h"

// Job states of a manager.
enum : WORD16 {
    ZUB_MANAGER_STATE_WAIT_START = 0,
    ZUB_MANAGER_STATE_RUNNING = 1,
};

// The job entry of ZUB_MANAGER1..3.
void zub_manager_job_entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);

// Counts one report of the tag at the anchor of local id anc_id (taken modulo the anchor
// table). An anchor slot not in use (hardware id 0) counts nothing.
void zub_anchor_recv_tag_statistics(WORD16 anc_id, WORD64 tag_id);
