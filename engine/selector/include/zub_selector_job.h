// zub_selector_job.h - the eighteen selector jobs: their entry, their Selector objects
// and the state table the entry runs.
//
// selectors[i] belongs to the job ZUB_SELECT(i+1) and is used only on that job's thread.
// The state table is plain code over a port, so it runs in tests without the platform;
// the job entry is the adapter that gives it the platform's message, state and timers.
#pragma once

#include "VorlenTypes.h"
#include "zub_selector.h"

extern Selector selectors[ZUB_SELECTOR_NUM];

enum : WORD16 { ZUB_SELECTOR_STATE_WAIT = 0, ZUB_SELECTOR_STATE_RUN = 1 };

// What the state table asks of the platform.
class SelectorJobPort {
public:
    virtual ~SelectorJobPort() = default;
    // ZUB_EV_XX_CTRL_JOB_START_OK, no data, to the control job.
    virtual void answer_start() = 0;
    // A periodic timer of the job (the solve timer: type 140, value 0, every 10 ms); its id
    // or 0xFFFFFFFF.
    virtual WORD32 start_loop_timer(BYTE type, WORD32 value, WORD32 period_ms) = 0;
};

// One event in one state; returns the next state. `timer_para` is the parameter word of
// the timer whose expiry this is (timer events only).
WORD16 zub_selector_step(Selector& sel, SelectorJobPort& port, WORD16 state, WORD32 event, const BYTE* data,
                         WORD32 length, WORD32 timer_para);

// The solve tick: type 140 runs the TDoA round, then the ranging round; other types do nothing.
void zub_selector_timeout(WORD32 para, Selector& sel);

// Empty start hook.
void init();

// The environment of a selector run by its job: the wall clock, the display job.
SelectorEnv zub_selector_platform_env();

void zub_selector_entry(WORD16 state, WORD32 event, void* data, void* priv, BYTE flag);
