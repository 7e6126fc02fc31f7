// CN_SCS_JOB's entry: the sequencer bound to the job API of the current job.
#include <ace/Log_Msg.h>

#include "CNPlatLog.h"
#include "CNPlatform.h"
#include "XOS_Api.h"
#include "startup/cn_scs_job.h"

namespace {

class JobApiPlatform final : public CN_ScsPlatform {
public:
    const T_JobCreatReg* Table() override { return CN_GetPlatformProfile()->ptJobTable; }
    bool IsOmp() override { return XOS_IsOmp() != 0; }
    JID SelfJid() override {
        JID j{};
        XOS_GetSelfJID(&j);
        return j;
    }
    JID SenderJid() override {
        JID j{};
        XOS_Sender(&j);
        return j;
    }
    WORD16 MsgLen() override {
        WORD16 len = 0;
        XOS_GetMsgDataLen(&len);
        return len;
    }
    WORD32 TimerPara() override { return XOS_GetParaOfCurTimer(); }
    WORD32 Send(WORD32 dwMsgId, const JID& to) override { return XOS_SendAsynMsg(dwMsgId, nullptr, 0, 0, 0, &to); }
    XOS_TIMER_ID SetTimer(WORD32 no, SWORD32 ms, WORD32 para, bool loop) override {
        return loop ? XOS_SetLoopTimer(no, ms, para) : XOS_SetRelativeTimer(no, ms, para);
    }
    WORD32 KillTimer(XOS_TIMER_ID id) override { return XOS_KillTimerByTimerId(id); }
    void SetNextState(WORD16 state) override { XOS_SetNextState(state); }
    void Log(const std::string& line) override { CN_PlatLog("%s", line.c_str()); }
};

}  // namespace

void cn_p_scs_entry(WORD16 wState, WORD32 dwMsgId, void*, void* pPData, BYTE) {
    JobApiPlatform platform;
    CN_ScsHandle(platform, static_cast<T_CN_SCS_PriData*>(pPData), wState, dwMsgId);
}

void showscs() { CN_PlatLog("Receive ACK message from OMP.dwOMPAck=%d \n", static_cast<int>(dwOMPAck)); }
