#include "zub_job_dispatch.h"

#include <exception>

#include "XOS_Api.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_timer.h"

void zub_job_dispatch(const char* job, WORD16 state, WORD32 msg_id, void* body, const zub_job_handler_t& handle)
{
    WORD16 len = 0;
    if (body != nullptr && XOS_GetMsgDataLen(&len) != 0) {
        len = 0;
    }
    const WORD32 para = (msg_id == ZUB_EV_RELATIVE_TIMER || msg_id == ZUB_EV_LOOP_TIMER) ? zub_GetParaFromCurTimer() : 0;
    try {
        const WORD16 next = handle(static_cast<const BYTE*>(body), len, para);
        if (next != state) {
            XOS_SetNextState(next);
        }
    } catch (const std::exception& e) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "%s msgid(%d) failed: %s", job, static_cast<int>(msg_id), e.what());
    }
}
