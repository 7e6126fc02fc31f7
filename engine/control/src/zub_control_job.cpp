#include "zub_control_job.h"

#include <cstdlib>
#include <cstring>
#include <exception>

#include "CNPlatform.h"
#include "RTLSControlHandler.h"
#include "XOS_Api.h"
#include "startup/cn_scs_job.h"
#include "trace/CNTrace.h"
#include "zub_area_config.h"
#include "zub_config.h"
#include "zub_context.h"
#include "zub_crc16.h"
#include "zub_ctrl_flow.h"
#include "zub_job_dir.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_start_handshake.h"
#include "zub_timer.h"

namespace {

constexpr WORD32 kPowerOnAgain = 6002;
constexpr int kTraceLevel = 3;
constexpr int kTraceSizeMb = 25000;
constexpr WORD32 kTraceThreadOption = 8;

// The body of a controller line is the address of a heap text that this job now owns. A line
// of a controller that has gone meanwhile is freed unread: nobody waits for its reply.
void on_controller_line(void* body)
{
    WORD16 len = 0;
    XOS_GetMsgDataLen(&len);
    if (body == nullptr || len < sizeof(char*)) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "controller line without its text (%u bytes).", len);
        return;
    }
    char* text = nullptr;
    std::memcpy(&text, body, sizeof text);
    if (!zub_ctrl_flow().take()) {
        std::free(text);
        return;
    }
    RTLSControlHandler::Instance()->HandleRequests(text);
}

void on_anchor_message(void* body)
{
    WORD16 len = 0;
    XOS_GetMsgDataLen(&len);
    RTLSControlHandler::Instance()->HandleResponse(static_cast<const BYTE*>(body), len);
}

void on_start_answer()
{
    JID sender{};
    OSS_Sender(&sender);
    zub_recordMPJobInitInfo(&sender, 1);
    if (zub_isJobsInitOK()) {
        ZUB_PRINT(ZUB_PRINT_EVENT, "All %u Jobs init OK!", static_cast<unsigned>(g_tMPAllJobInitInfo.wRealJOBNumber));
    }
}

void on_power_on(WORD32 event)
{
    if (event != EV_CN_POWER_ON && event != kPowerOnAgain) {
        return;
    }
    zub_control_init();
    XOS_PowerOnAck(EV_CN_POWER_ON_ACK, nullptr, 0, 0);
    XOS_SetNextState(ZUB_CONTROL_STATE_WORK);
}

void on_work(WORD32 event, void* body)
{
    switch (event) {
    case ZUB_EV_SOCKET_CONTROL_MSG:
        on_controller_line(body);
        break;
    case ZUB_EV_SOCKET_XX_ANCHOR_MSG:
    case ZUB_EV_SOCKET_TOF_ANCHOR_MSG:
        on_anchor_message(body);
        break;
    case ZUB_EV_RELATIVE_TIMER:
    case ZUB_EV_LOOP_TIMER:
        zub_control_timeout(zub_GetParaFromCurTimer());
        break;
    case ZUB_EV_XX_CTRL_JOB_START_OK:
        on_start_answer();
        break;
    default:
        break;  // power-on again, the self-sent start event and the rest: nothing to do
    }
    zub_control_heal_retry();
}

}  // namespace

void zub_control_init()
{
    CN_initCNLogFile(kTraceLevel, kTraceSizeMb);
    CN_ClearLogOptions(kTraceThreadOption);
    qeGetMPProcJIDs();
    g_tMPAllJobInitInfo.init_timer = QE_NO_INIT_TIMER;
    qeGlobalJobsJIDInit();
    init_crc16();
    zub_common_init();
    ReadConfiguration();
    RTLSControlHandler::Instance()->load_anchor_cfg();
    ReadAreaConfig();
    const BYTE level = zub_context()->log_ctrl.log_level;
    if (level < 3) {
        CN_SetLogLevel(level);
    }
    zub_notifyJobsInit();
    zub_recordMPJobInitInfo(&zub_context()->jid_control, 1);
}

void zub_control_job_entry(WORD16 state, WORD32 event, void* body, void* /*priv*/, BYTE /*flag*/)
{
    try {
        switch (state) {
        case ZUB_CONTROL_STATE_POWER_ON:
            return on_power_on(event);
        case ZUB_CONTROL_STATE_WORK:
            return on_work(event, body);
        default:
            return;
        }
    } catch (const std::exception& e) {
        // Only allocation can throw here; the event is lost, the job goes on.
        ZUB_PRINT(ZUB_PRINT_ERROR, "control job: event 0x%X dropped: %s.", event, e.what());
    }
}
