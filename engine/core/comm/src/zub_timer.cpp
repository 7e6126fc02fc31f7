#include "zub_timer.h"

#include <climits>

#include "XOS_Api.h"
#include "zub_print.h"

namespace {

constexpr WORD32 kDefaultSeconds = 5;

enum class TimerKind { OneShot, Periodic };

// The platform takes a signed 32-bit length in ms: a longer one would wrap into a wrong
// (or negative) length, so it is refused here instead.
WORD32 start_timer(TimerKind kind, BYTE type, WORD32 value, WORD64 ms)
{
    WORD32 id = ZUB_INVALID_TIMER_ID;
    if (ms <= static_cast<WORD64>(INT32_MAX)) {
        const WORD32 para = zub_timer_para(type, value);
        const SWORD32 length = static_cast<SWORD32>(ms);
        id = kind == TimerKind::OneShot ? OSS_SetRelativeTimer(ZUB_EV_RELATIVE_TIMER, length, para)
                                        : OSS_SetLoopTimer(ZUB_EV_LOOP_TIMER, length, para);
    }
    if (id == ZUB_INVALID_TIMER_ID) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "Set Timer failed.TimerType=%u", static_cast<unsigned>(type));
    }
    return id;
}

}  // namespace

WORD32 zub_GetDefaultTime(BYTE /*type*/) { return kDefaultSeconds; }

WORD32 zub_SetRelativeTimer(BYTE type, WORD32 value, WORD32 seconds)
{
    if (seconds == 0 || seconds == 0xFFFFFFFFu) {
        seconds = zub_GetDefaultTime(type);
    }
    return start_timer(TimerKind::OneShot, type, value, static_cast<WORD64>(seconds) * 1000);
}

WORD32 zub_SetMSecTimer(BYTE type, WORD32 value, WORD32 ms)
{
    return start_timer(TimerKind::OneShot, type, value, ms);
}

WORD32 zub_SetLoopTimer(BYTE type, WORD32 value, WORD32 seconds)
{
    if (seconds == 0) {
        seconds = zub_GetDefaultTime(type);
    }
    return start_timer(TimerKind::Periodic, type, value, static_cast<WORD64>(seconds) * 1000);
}

WORD32 zub_SetLoopMSecTimer(BYTE type, WORD32 value, WORD32 ms)
{
    return start_timer(TimerKind::Periodic, type, value, ms);
}

bool zub_DelTimer(WORD32 timer_id)
{
    if (timer_id == ZUB_INVALID_TIMER_ID) {
        return true;
    }
    return XOS_KillTimerByTimerId(timer_id) == XOS_SUCCESS;
}

WORD32 zub_GetParaFromCurTimer() { return OSS_GetParaFromCurTimer(); }
