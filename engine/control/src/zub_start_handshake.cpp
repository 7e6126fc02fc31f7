#include "zub_start_handshake.h"

#include "RTLSControlHandler.h"
#include "XOS_Api.h"
#include "zub_control_ports.h"
#include "zub_job_dir.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_timer.h"

namespace {

T_qeJobInfo& dir() { return g_tMPAllJobInitInfo; }

unsigned rows() { return qe_job_dir_count(); }

void arm_retry()
{
    ControlPorts& ports = zub_control_ports();
    const WORD32 id = ports.set_timer(QE_CTRL_TIMER_TYPE_INIT, 0xFFFFFF, QE_CTRL_INIT_RETRY_SECONDS);
    dir().init_timer = id;
    if (id == QE_NO_INIT_TIMER) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "start retry timer not set; tried again at the next event.");
    }
}

}  // namespace

int zub_isJobsInitOK()
{
    T_qeJobInfo& d = dir();
    if (d.wJobInitOKNum < d.wRealJOBNumber) {
        return 0;
    }
    if (d.init_timer != QE_NO_INIT_TIMER) {
        zub_control_ports().del_timer(d.init_timer);
        d.init_timer = QE_NO_INIT_TIMER;
    }
    return 1;
}

void zub_notifyJobsInit()
{
    if (zub_isJobsInitOK()) {
        return;
    }
    ControlPorts& ports = zub_control_ports();
    const unsigned n = rows();
    for (unsigned i = 0; i < n; ++i) {
        tagJobInitInfo& job = dir().tJobInfo[i];
        if (job.blInitStatus) {
            continue;
        }
        ports.send_event(ZUB_EV_CTRL_XX_INIT_START, &job.tJID);
        ZUB_PRINT(ZUB_PRINT_EVENT, "zub_asyn_msg_send(ZUB_EV_CTRL_XX_INIT_START) is called! szJobName=%s.",
                  job.szJobName);
    }
    arm_retry();
}

void zub_recordMPJobInitInfo(const JID* jid, int ok)
{
    const WORD32 type = XOS_GetJobType(jid);
    const unsigned n = rows();
    for (unsigned i = 0; i < n; ++i) {
        tagJobInitInfo& job = dir().tJobInfo[i];
        if (job.wJobType != type) {
            continue;
        }
        ZUB_PRINT(ZUB_PRINT_EVENT, "%s process record,wIndex = [%d]", job.szJobName, static_cast<int>(i));
        if (!ok) {
            job.dwInitFailNum += 1;
            ZUB_PRINT(ZUB_PRINT_EVENT, "%s process init failed, FailTimes=%d.", job.szJobName,
                      static_cast<int>(job.dwInitFailNum));
            return;
        }
        if (job.blInitStatus) {
            // Counting it again could complete the count while another job is still silent.
            ZUB_PRINT(ZUB_PRINT_EVENT, "%s process init OK again, not counted.", job.szJobName);
            return;
        }
        job.blInitStatus = 1;
        dir().wJobInitOKNum = static_cast<WORD16>(dir().wJobInitOKNum + 1);
        ZUB_PRINT(ZUB_PRINT_EVENT, "%s process init OK, FailTimes=%d.", job.szJobName,
                  static_cast<int>(job.dwInitFailNum));
        return;
    }
    ZUB_PRINT(ZUB_PRINT_EVENT, "start answer of job type 0x%X, which has no row, not counted.", type);
}

void zub_control_timeout(WORD32 parameter)
{
    switch (zub_timer_type(parameter)) {
    case QE_CTRL_TIMER_TYPE_INIT:
        dir().init_timer = QE_NO_INIT_TIMER;  // the one-shot timer is spent
        zub_notifyJobsInit();
        return;
    case QE_CTRL_TIMER_TYPE_WAIT_RESP:
        RTLSControlHandler::Instance()->WaitAnchorRspTimeout();
        return;
    default:
        return;
    }
}

void zub_control_heal_retry()
{
    if (dir().init_timer != QE_NO_INIT_TIMER || dir().wJobInitOKNum >= dir().wRealJOBNumber) {
        return;
    }
    arm_retry();
}
