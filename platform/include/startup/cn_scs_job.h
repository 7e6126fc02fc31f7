// cn_scs_job.h - CN_SCS_JOB, the power-on sequencer (job-table row 0, job type 0, task 1).
//
// Outside the maintenance process it first registers with the maintenance process's
// CN_SCS_JOB (message 1 every 3 s until message 2 arrives); then it sends the power-on message
// 6000 to every row of the job table in order, waiting up to 36 s for the acknowledgement 6003 of
// each row flagged CN_JOB_FLAG_WAIT_POWERON_ACK; at the end it answers registrations of other
// processes and repeats its own registration as a heartbeat.
//
// The entry runs on control task 1's thread. The state machine itself (CN_ScsHandle) talks to
// the platform through CN_ScsPlatform, so that it can be driven without threads or real time.
#pragma once

#include <string>

#include "CNXosTypes.h"
#include "VorlenTypes.h"

// Message and timer numbers of the sequencer (no message carries data).
inline constexpr WORD32 EV_CN_SCS_REGISTER = 1;
inline constexpr WORD32 EV_CN_SCS_REGISTER_ACK = 2;
inline constexpr WORD32 EV_CN_POWER_ON = 6000;
inline constexpr WORD32 EV_CN_POWER_ON_ACK = 6003;
inline constexpr WORD32 EV_CN_SCS_TIMER_ID1 = 2001;  // one-shot: a flagged row's acknowledgement
inline constexpr WORD32 EV_CN_SCS_TIMER_ID2 = 2002;  // periodic: the registration
inline constexpr SWORD32 CN_SCS_ACK_WAIT_MS = 36000;
inline constexpr SWORD32 CN_SCS_REGISTER_PERIOD_MS = 3000;
inline constexpr WORD32 CN_SCS_REGISTER_TIMER_PARA = 0xFFFF;

// States of the sequencer.
enum E_CN_SCS_State : WORD16 {
    CN_SCS_CREATED = 0,
    CN_SCS_WALKING = 1,
    CN_SCS_WAIT_ACK = 2,
    CN_SCS_POWERED_ON = 3,
    CN_SCS_REGISTERING = 4,
};

// At the start of the job's private data (zeroed at creation).
struct T_CN_SCS_PriData {
    JID tJid;           // scratch destination of the next send
    WORD16 i;           // table row reached by the walk
    WORD16 wJobType;    // job type of the row being addressed
    WORD32 dwTimerID1;  // running acknowledgement timer, XOS_INVALID_TIMER_ID when none
    WORD32 dwTimerID2;  // registration loop timer, XOS_INVALID_TIMER_ID when none
};

// Registration acknowledgements received in the final state; written only by CN_SCS_JOB.
extern WORD32 dwOMPAck;

// What the sequencer needs of the platform: the job API for the job's entry, a fake in tests.
class CN_ScsPlatform {
public:
    virtual ~CN_ScsPlatform() = default;
    virtual const T_JobCreatReg* Table() = 0;
    virtual bool IsOmp() = 0;
    virtual JID SelfJid() = 0;
    virtual JID SenderJid() = 0;
    virtual WORD16 MsgLen() = 0;
    virtual WORD32 TimerPara() = 0;
    virtual WORD32 Send(WORD32 dwMsgId, const JID& to) = 0;
    virtual XOS_TIMER_ID SetTimer(WORD32 dwTimerNo, SWORD32 sdwMs, WORD32 dwPara, bool bLoop) = 0;
    virtual WORD32 KillTimer(XOS_TIMER_ID dwTimerId) = 0;  // 0 cancelled
    virtual void SetNextState(WORD16 wState) = 0;
    virtual void Log(const std::string& line) = 0;
};

// One message in the given state.
void CN_ScsHandle(CN_ScsPlatform& platform, T_CN_SCS_PriData* ptPriData, WORD16 wState, WORD32 dwMsgId);

// The job entry of row 0 of both programs' tables.
void cn_p_scs_entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);

// Logs the registration acknowledgement counter.
void showscs();
