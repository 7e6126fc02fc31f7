// The manager jobs' entry: the platform side of ManagerRouter.
#include "XOS_Api.h"
#include "manager_router.h"
#include "zub_road_shed.h"
#include "startup/cn_scs_job.h"
#include "zub_context.h"
#include "zub_manager.h"
#include "zub_msg.h"
#include "zub_msg_id.h"

namespace {

class PlatformOutput final : public ManagerOutput {
public:
    void power_on_ack() override { XOS_PowerOnAck(EV_CN_POWER_ON_ACK, nullptr, 0, 0); }
    void start_ok() override
    {
        zub_asyn_msg_send(ZUB_EV_XX_CTRL_JOB_START_OK, nullptr, 0, &zub_context()->jid_control);
    }
    // A selector or the display job that has fallen behind goes without (see zub_road_shed.h).
    void to_selector(unsigned index, const BYTE* msg, WORD16 len) override
    {
        zub_road_send(RoadLoad::tag_report, ZUB_EV_MANAGER_XX_ANCHOR_MSG, msg, len,
                      &zub_context()->jid_selector[index % ZUB_SELECTOR_NUM]);
    }
    void to_display(const RawBlinkBytes& raw_blink) override
    {
        zub_road_send(RoadLoad::display_copy, ZUB_EV_SELECTOR_DISPLAY_RAW_BLIBK, raw_blink.data(), kRawBlinkLen,
                      &zub_context()->jid_display);
    }
};

}  // namespace

void zub_manager_job_entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void*, BYTE)
{
    PlatformOutput out;
    // The platform's length of the message, not the payload length the body declares.
    const WORD16 len = pMsgBody != nullptr ? OSS_GetMsgDataLen() : 0;
    const WORD16 next = ManagerRouter(out).handle(wState, dwMsgId, static_cast<const BYTE*>(pMsgBody), len);
    if (next != wState) {
        XOS_SetNextState(next);
    }
}
