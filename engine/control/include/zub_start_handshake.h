// zub_start_handshake.h - the control job's start handshake: the start event 0x30000 to every
// engine job of the directory that has not answered, the answers 0x30001 counted in the job
// directory g_tMPAllJobInitInfo, and the 5-s retry timer (type 120) until every job answered.
//
// Control job's thread only (the directory's handshake fields belong to it). Sends and timers
// go through zub_control_ports().
#pragma once

#include "VorlenTypes.h"

constexpr WORD32 QE_CTRL_INIT_RETRY_SECONDS = 5;

// Sends 0x30000 to every silent directory job and arms the retry timer; nothing once every
// job has answered. A timer that cannot be armed is logged and left to zub_control_heal_retry.
void zub_notifyJobsInit();
// 1 when every directory job has answered (a running retry timer is then killed), else 0.
int zub_isJobsInitOK();
// Records one start answer of the job `jid`: only the first positive answer of a directory
// row counts; a repeated answer and one from a type without a row are logged, not counted.
void zub_recordMPJobInitInfo(const JID* jid, int ok);
// Dispatches an engine timer expiry of the control job by its type (parameter >> 24).
void zub_control_timeout(WORD32 parameter);
// While jobs are still missing and no retry timer runs (its arming failed), arms it again.
void zub_control_heal_retry();
