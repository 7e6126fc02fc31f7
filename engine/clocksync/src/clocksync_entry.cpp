// The clock-sync job on the platform: its entry over the engine's one ClockSyncJob, which
// reads the wall clock and sends its display records to the display job.
#include <cstring>

#include "XOS_Api.h"
#include "zub_road_shed.h"
#include "zub_clocksync.h"
#include "zub_clocksync_job.h"
#include "zub_context.h"
#include "zub_msg.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_time.h"

namespace {

enum : WORD16 { kStateInit = 0, kStateRunning = 1, kStatePoweredOn = 6 };

// The platform's power-on, and the power-on it repeats.
constexpr WORD32 kPowerOn = CN_MSG_POWER_ON;
constexpr WORD32 kPowerOnAgain = 6002;

void send_display(const dac_ccp_rx_t& rec)
{
    BYTE body[sizeof rec];
    std::memcpy(body, &rec, sizeof rec);
    // A display job that has fallen behind goes without (see zub_road_shed.h).
    zub_road_send(RoadLoad::display_copy, ZUB_EV_CLOCKSYNC_DISPLAY_DAC_CCP, body, sizeof body,
                  &zub_context()->jid_display);
}

// Each state change is made before the message that tells of it leaves.
void answer_start()
{
    OSS_SetNextState(kStateRunning);
    zub_asyn_msg_send(ZUB_EV_XX_CTRL_JOB_START_OK, nullptr, 0, &zub_context()->jid_control);
}

void zub_clocksync_init(WORD32 event)
{
    if (event == kPowerOn || event == kPowerOnAgain) {
        OSS_SetNextState(kStatePoweredOn);
        XOS_PowerOnAck(CN_MSG_POWER_ON_ACK, nullptr, 0, 0);
    } else if (event == ZUB_EV_CTRL_XX_INIT_START) {
        answer_start();
    }
}

void zub_clocksync_startup(WORD32 event)
{
    if (event == ZUB_EV_CTRL_XX_INIT_START) {
        answer_start();
    }
}

// An anchor-frame event whose body does not hold the payload it announces is dropped here,
// before anything reads it.
void on_anchor_frame(void* body)
{
    WORD16 len = 0;
    if (XOS_GetMsgDataLen(&len) != 0 || body == nullptr || len < ZUB_SOCK_DATA_HEAD_LEN) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "recv ccp msg,but message length(%u) is too short", static_cast<unsigned>(len));
        return;
    }
    auto* data = static_cast<sock_data_t*>(body);
    if (ZUB_SOCK_DATA_HEAD_LEN + data->data_len > len) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "recv ccp msg,but payload length(%u) exceeds message length(%u)",
                  static_cast<unsigned>(data->data_len), static_cast<unsigned>(len));
        return;
    }
    zub_clocksync_ccp_rcv(data);
}

void zub_clocksync_master(WORD32 event, void* body)
{
    if (event == ZUB_EV_SOCKET_XX_ANCHOR_MSG) {
        on_anchor_frame(body);
    } else {
        ZUB_PRINT(ZUB_PRINT_ERROR, "recv error unknown msgid(%d)", static_cast<int>(event));
    }
    OSS_SetNextState(kStateRunning);
}

}  // namespace

ClockSyncJob& zub_clocksync_job()
{
    static ClockSyncJob job(ClockSyncPorts{zub_cur_time_ms_get, send_display});
    return job;
}

void zub_clocksync_ccp_rcv(sock_data_t* data)
{
    zub_clocksync_job().ccp_rcv(data);
}

void clocksync_tx_update_to_anchor(Anchor* master, BYTE seq)
{
    zub_clocksync_job().tx_update_to_anchor(master, seq);
}

bool zub_ccp_rx_send_to_dac(report_ccp_rx_v4_t* report, Anchor* slave)
{
    return zub_clocksync_job().ccp_rx_send_to_dac(report, slave);
}

void zub_clocksync_entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* /*pPData*/, BYTE /*ucFlag*/)
{
    // The job reports through return codes and prints; nothing may leave the entry.
    try {
        switch (wState) {
        case kStateInit:
            return zub_clocksync_init(dwMsgId);
        case kStatePoweredOn:
            return zub_clocksync_startup(dwMsgId);
        case kStateRunning:
            return zub_clocksync_master(dwMsgId, pMsgBody);
        default:
            OSS_SetNextState(wState);
            return;
        }
    } catch (...) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "recv msgid(%d),but its handling failed", static_cast<int>(dwMsgId));
    }
}
