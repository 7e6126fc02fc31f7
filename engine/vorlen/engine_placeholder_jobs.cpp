// PLACEHOLDER engine jobs: just enough of each job's start for the power-on walk and the
// control job's start handshake to complete while the jobs themselves are not written yet.
#include "XOS_Api.h"
#include "engine_jobs.h"
#include "startup/cn_scs_job.h"
#include "zub_msg_id.h"

void engine_placeholder_job_entry(WORD16, WORD32 dwMsgId, void*, void*, BYTE) {
    if (dwMsgId == EV_CN_POWER_ON) {
        XOS_PowerOnAck(EV_CN_POWER_ON_ACK, nullptr, 0, 0);
    } else if (dwMsgId == ZUB_EV_CTRL_XX_INIT_START) {
        JID control{};
        if (XOS_Sender(&control) == 0) XOS_SendAsynMsg(ZUB_EV_XX_CTRL_JOB_START_OK, nullptr, 0, 0, 2, &control);
    }
}
