// zub_timer.h - the engine's timers over the platform's job timers.
//
// A timer carries one parameter word, (type << 24) | (value & 0xFFFFFF); one-shot timers expire
// as the platform message ZUB_EV_RELATIVE_TIMER (2029), periodic ones as ZUB_EV_LOOP_TIMER
// (2030). The job reads the word of the timer that fired with zub_GetParaFromCurTimer and
// dispatches on its top byte (zub_timer_type). Every function acts on the calling job and
// works only on that job's own thread; elsewhere a start fails with 0xFFFFFFFF.
#pragma once

#include "CNXosTypes.h"
#include "zub_msg_id.h"

constexpr WORD32 ZUB_INVALID_TIMER_ID = 0xFFFFFFFFu;

constexpr WORD32 zub_timer_para(BYTE type, WORD32 value)
{
    return (static_cast<WORD32>(type) << 24) | (value & 0xFFFFFFu);
}
constexpr BYTE zub_timer_type(WORD32 para) { return static_cast<BYTE>(para >> 24); }
constexpr WORD32 zub_timer_value(WORD32 para) { return para & 0xFFFFFFu; }

// One-shot timers. The seconds form takes 0 and 0xFFFFFFFF as zub_GetDefaultTime(type).
WORD32 zub_SetRelativeTimer(BYTE type, WORD32 value, WORD32 seconds);
WORD32 zub_SetMSecTimer(BYTE type, WORD32 value, WORD32 ms);
// Periodic timers (first expiry after one period). The seconds form takes 0 as the default.
WORD32 zub_SetLoopTimer(BYTE type, WORD32 value, WORD32 seconds);
WORD32 zub_SetLoopMSecTimer(BYTE type, WORD32 value, WORD32 ms);
// Each returns the platform timer id, or 0xFFFFFFFF (printed "Set Timer failed.TimerType=%u")
// when the platform refuses the timer or its length does not fit the platform's signed 32-bit
// milliseconds.

// Cancels a timer of the calling job. True for ZUB_INVALID_TIMER_ID (no timer: nothing done)
// and when the platform cancelled it.
bool zub_DelTimer(WORD32 timer_id);

// Parameter word of the timer whose expiry the calling job is handling; 0 outside a job.
WORD32 zub_GetParaFromCurTimer();

// Default length in seconds of a timer set with 0 seconds: 5 for every type.
WORD32 zub_GetDefaultTime(BYTE type);
