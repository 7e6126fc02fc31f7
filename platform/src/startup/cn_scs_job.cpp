// The power-on sequencer's state machine, one handler per state.
#include "startup/cn_scs_job.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

WORD32 dwOMPAck = 0;

namespace {

constexpr WORD16 kOmpModule = 1;
constexpr WORD16 kWholeModule = 0xFFFF;

class Sequencer {
public:
    Sequencer(CN_ScsPlatform& platform, T_CN_SCS_PriData* data, WORD16 state, WORD32 msg)
        : p_(platform), d_(data), state_(state), msg_(msg) {}

    void Run() {
        switch (state_) {
        case CN_SCS_CREATED: return OnCreated();
        case CN_SCS_REGISTERING: return OnRegistering();
        case CN_SCS_WALKING: return OnWalking();
        case CN_SCS_WAIT_ACK: return OnWaitingForAck();
        case CN_SCS_POWERED_ON: return OnPoweredOn();
        default: Log("SCS starting at state=%d, MsgId=%d line=%d\n", state_, msg_, __LINE__);
        }
    }

private:
    void Log(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        char line[512];
        va_list args;
        va_start(args, fmt);
        std::vsnprintf(line, sizeof line, fmt, args);
        va_end(args);
        p_.Log(line);
    }

    bool RowEnds(unsigned row) const { return row >= 128 || p_.Table()[row].PEntry == nullptr; }
    WORD32 JobNumberOf(unsigned row) const { return (static_cast<WORD32>(p_.Table()[row].wJobType) << 16) | 1; }

    // The maintenance process's CN_SCS_JOB, addressed from `base`.
    JID MaintenanceScs(JID base) const {
        base.dwJno = JobNumberOf(0);
        base.wModule = kOmpModule;
        base.wUnit = kWholeModule;
        return base;
    }

    void Send(WORD32 msg) { p_.Send(msg, d_->tJid); }

    // The next 6000 to itself moves the walk on by one row.
    void Step() {
        d_->tJid = p_.SelfJid();
        Send(EV_CN_POWER_ON);
        p_.SetNextState(CN_SCS_WALKING);
    }

    // Cancels the running acknowledgement timer and forgets its id; false when the cancel fails.
    bool CancelAckTimer() {
        if (d_->dwTimerID1 == XOS_INVALID_TIMER_ID) return true;
        if (p_.KillTimer(d_->dwTimerID1) != 0) return false;
        d_->dwTimerID1 = XOS_INVALID_TIMER_ID;
        return true;
    }

    void LogAck() {
        Log("SCS got power on success message from JOB at state=%d, MsgId=%d line=%d\n", state_, msg_, __LINE__);
    }

    void OnCreated() {
        Log("SCS starting at state=%d, MsgId=%d line=%d\n", state_, msg_, __LINE__);
        std::memset(&d_->tJid, 0, sizeof d_->tJid);
        d_->i = 0;
        d_->wJobType = 0;
        d_->dwTimerID1 = XOS_INVALID_TIMER_ID;
        d_->dwTimerID2 = XOS_INVALID_TIMER_ID;
        dwOMPAck = 0;
        if (p_.IsOmp()) {
            if (RowEnds(0)) return;
            d_->tJid = MaintenanceScs(d_->tJid);
            Send(EV_CN_POWER_ON);
            p_.SetNextState(CN_SCS_WALKING);
            return;
        }
        d_->tJid = MaintenanceScs(d_->tJid);
        Send(EV_CN_SCS_REGISTER);
        d_->dwTimerID2 =
            p_.SetTimer(EV_CN_SCS_TIMER_ID2, CN_SCS_REGISTER_PERIOD_MS, CN_SCS_REGISTER_TIMER_PARA, true);
        if (d_->dwTimerID2 == XOS_INVALID_TIMER_ID) return;
        p_.SetNextState(CN_SCS_REGISTERING);
    }

    void OnRegistering() {
        if (msg_ == EV_CN_SCS_REGISTER_ACK) {
            Log("Receive msg EV_CN_SCS_REGISTER_ACK LINE=%d\n", __LINE__);
            Step();
        } else if (msg_ == EV_CN_SCS_TIMER_ID2) {
            Log("Receive msg EV_CN_SCS_TIMER_ID2 timerout wait for OMP LINE=%d\n", __LINE__);
            Log("No OMP found line=%d\n", __LINE__);
            d_->tJid = MaintenanceScs(p_.SelfJid());
            Send(EV_CN_SCS_REGISTER);
        }
    }

    void OnWalking() {
        if (msg_ == EV_CN_POWER_ON_ACK) return LogAck();
        if (msg_ != EV_CN_POWER_ON) return;
        Log("SCS starting at state=%d, MsgId=%d ptPriData->i=%d, line=%d\n", state_, msg_, d_->i, __LINE__);
        const unsigned row = ++d_->i;
        if (RowEnds(row)) {
            Log("Power on success %d!\n", row);
            p_.SetNextState(CN_SCS_POWERED_ON);
            return;
        }
        const T_JobCreatReg& reg = p_.Table()[row];
        d_->wJobType = reg.wJobType;
        d_->tJid.dwJno = JobNumberOf(row);
        Send(EV_CN_POWER_ON);
        Log("send power on to JOB[%s].\n", reg.acName);
        if (reg.dwFlags & CN_JOB_FLAG_WAIT_POWERON_ACK) {
            if (!CancelAckTimer()) return;
            d_->dwTimerID1 = p_.SetTimer(EV_CN_SCS_TIMER_ID1, CN_SCS_ACK_WAIT_MS, row, false);
            p_.SetNextState(CN_SCS_WAIT_ACK);
        } else if (RowEnds(row + 1)) {
            Log("Power on success line=%d!\n", __LINE__);
            p_.SetNextState(CN_SCS_POWERED_ON);
        } else {
            Step();
        }
    }

    void OnWaitingForAck() {
        if (msg_ == EV_CN_POWER_ON_ACK) {
            LogAck();
            if (!CancelAckTimer()) return;
            Step();
        } else if (msg_ == EV_CN_SCS_TIMER_ID1) {
            // An expiry that crossed the cancel of an earlier row's timer is not this row's time-out.
            if (p_.TimerPara() != d_->i) {
                Log("SCS ignores a stale EV_CN_SCS_TIMER_ID1 for JOB row %u at row %u line=%d\n", p_.TimerPara(),
                    static_cast<unsigned>(d_->i), __LINE__);
                return;
            }
            Log(" SCS starting EV_CN_SCS_TIMER_ID1 at state=%d, MsgId=%d line=%d\n", state_, msg_, __LINE__);
            d_->dwTimerID1 = XOS_INVALID_TIMER_ID;
            if (p_.MsgLen() == sizeof(WORD32)) {
                Log("Power on failure for JOB Index=%d\n", static_cast<int>(d_->tJid.dwJno));
                p_.SetNextState(CN_SCS_POWERED_ON);
            }
        }
    }

    void OnPoweredOn() {
        switch (msg_) {
        case EV_CN_SCS_REGISTER:
            d_->tJid = p_.SenderJid();
            Send(EV_CN_SCS_REGISTER_ACK);
            break;
        case EV_CN_SCS_REGISTER_ACK: ++dwOMPAck; break;
        case EV_CN_SCS_TIMER_ID2:
            d_->tJid = MaintenanceScs(p_.SelfJid());
            Send(EV_CN_SCS_REGISTER);
            break;
        case EV_CN_POWER_ON_ACK: LogAck(); break;
        default: break;
        }
        p_.SetNextState(CN_SCS_POWERED_ON);
    }

    CN_ScsPlatform& p_;
    T_CN_SCS_PriData* d_;
    const WORD16 state_;
    const WORD32 msg_;
};

}  // namespace

void CN_ScsHandle(CN_ScsPlatform& platform, T_CN_SCS_PriData* ptPriData, WORD16 wState, WORD32 dwMsgId) {
    if (ptPriData == nullptr) return;
    Sequencer(platform, ptPriData, wState, dwMsgId).Run();
}
