// engine_datagram_fuzz.cpp - any datagram of up to 20,480 bytes into the intra-board input of a
// process that is the location engine in all but its threads and sockets: the engine's own
// profile (its job table and the messages it takes from in-process sends only), its 28 control
// tasks built but not started, every job in the state it works in once the engine runs. Each
// datagram comes from the partner's port (the maintenance program's, as its sends do) and goes
// through Deliver; whatever it queues is dispatched on this thread to the job's real entry, and
// so is what the entries send in turn, for a bounded number of rounds.
//
// A datagram whose delivery job and id are on the engine's list never reaches a queue. Any
// other fault shows as a crash or a sanitizer report inside the entries.
//
// The engine context's anchor records (about 2 GiB of mapped storage, touched page by page as
// reports name new anchors and tags) make the resident size grow over a long run: give such a
// run -rss_limit_mb=4096.
#include <cstdint>
#include <cstring>

#include <ace/Reactor.h>

#include "CNCtrlTask.h"
#include "VorlenComm.h"
#include "engine_jobs.h"
#include "fuzz_support.h"
#include "pub_pqe_jobtype.h"
#include "startup/cn_scs_job.h"
#include "zub_context.h"
#include "zub_control_job.h"
#include "zub_display.h"
#include "zub_display_job.h"
#include "zub_manager.h"
#include "zub_recon_job.h"
#include "zub_selector_job.h"
#include "zub_socket.h"

namespace {

// Rounds of dispatch after one datagram: a report passes socket-side job, manager, selector and
// display in four; the rest is dropped so that the next input starts from empty queues.
constexpr int kRounds = 8;
// The running state of the clock-sync and reconnection jobs (their state names are their own).
constexpr WORD16 kEngineRunning = 1;

CN_PlatformProfile g_profile;
CNIntraMsgHandler* g_handler = nullptr;
ACE_INET_Addr g_partner;

// The state each job works in once the engine has started.
WORD16 working_state(WORD16 wJobType)
{
    switch (wJobType) {
    case 0x0000: return CN_SCS_POWERED_ON;
    case QE_JOBTYPE_ZUB_CONTROL: return ZUB_CONTROL_STATE_WORK;
    case QE_JOBTYPE_ZUB_SOCKET: return ZUB_SOCKET_STATE_RUN;
    case QE_JOBTYPE_ZUB_DISPLAY: return ZUB_JOB_STATE_RUNNING;
    case QE_JOBTYPE_ZUB_CLOCKSYNC:
    case QE_JOBTYPE_ZUB_RECON: return kEngineRunning;
    default:
        if (wJobType >= QE_JOBTYPE_ZUB_MANAGER_BEGIN && wJobType <= QE_JOBTYPE_ZUB_MANAGER_END) {
            return ZUB_MANAGER_STATE_RUNNING;
        }
        if (wJobType >= QE_JOBTYPE_ZUB_SELECTOR_BEGIN && wJobType <= QE_JOBTYPE_ZUB_SELECTOR_END) {
            return ZUB_SELECTOR_STATE_RUN;
        }
        return 1;  // notexist after its power-on
    }
}

// The engine jobs' addresses, as the control job's start fills them in.
void fill_engine_jids()
{
    context_t* ctx = zub_context();
    ctx->jid_control = CN_LocalJID(QE_JOBTYPE_ZUB_CONTROL);
    ctx->jid_clocksync = CN_LocalJID(QE_JOBTYPE_ZUB_CLOCKSYNC);
    ctx->jid_display = CN_LocalJID(QE_JOBTYPE_ZUB_DISPLAY);
    ctx->jid_reconnection = CN_LocalJID(QE_JOBTYPE_ZUB_RECON);
    for (unsigned i = 0; i < ZUB_MANAGER_NUM; ++i) {
        ctx->jid_manager[i] = CN_LocalJID(static_cast<WORD16>(QE_JOBTYPE_ZUB_MANAGER_BEGIN + i));
    }
    for (unsigned i = 0; i < ZUB_SELECTOR_NUM; ++i) {
        ctx->jid_selector[i] = CN_LocalJID(static_cast<WORD16>(QE_JOBTYPE_ZUB_SELECTOR_BEGIN + i));
    }
}

// Every job back in its working state with no timer: what one input did is not carried over.
void reset_jobs()
{
    ACE_Guard<ACE_Lock> guard(CN_GetProcessReactor()->lock());
    for (CN_Job_Base* job : CNCtrlTask::g_JobObj) {
        if (job != nullptr) {
            job->CancelAllTimers();
            job->SetNextState(working_state(static_cast<WORD16>(job->GetJobType())));
        }
    }
}

size_t queued_blocks()
{
    size_t n = 0;
    for (WORD16 i = 1; i <= g_profile.wTaskCount; ++i) n += CNCtrlTask::gaCNCtrlTask[i]->msg_queue()->message_count();
    return n;
}

void dispatch_rounds()
{
    for (int round = 0; round < kRounds; ++round) {
        size_t ran = 0;
        for (WORD16 i = 1; i <= g_profile.wTaskCount; ++i) ran += CNCtrlTask::gaCNCtrlTask[i]->RunQueuedHere();
        if (ran == 0) return;
    }
    for (WORD16 i = 1; i <= g_profile.wTaskCount; ++i) CNCtrlTask::gaCNCtrlTask[i]->msg_queue()->flush();
}

bool on_local_only_list(const T_CNMessageHead& head)
{
    // The engine does not divert route type 5: a datagram goes to the job its DestJID names.
    if (head.DestJID.wModule != _thisModuleNo || head.DestJID.wUnit != _thisUnit) return false;
    const CN_Job_Base* job = CN_Job_Base::GetJobHandlerByJid(&head.DestJID);
    if (job == nullptr) return false;
    for (WORD16 i = 0; i < g_profile.wLocalOnlyMsgCount; ++i) {
        const CN_LocalOnlyMsg& row = g_profile.ptLocalOnlyMsgs[i];
        if (row.wJobType == job->GetJobType() && row.dwMsgId == head.dwMsgID) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The statistics files of the display and reconnection jobs land in a folder of this run.
    zub_display_job_set_root(fuzz::temp_dir().c_str());
    zub_recon_job_set_root(fuzz::temp_dir().c_str());
    g_profile = vorlen_profile();
    if (CN_PlatformInit(&g_profile) != 0) fuzz::fail("platform start");
    for (WORD16 i = 1; i <= g_profile.wTaskCount; ++i) {
        CNCtrlTask::gaCNCtrlTask[i] = new CNCtrlTask(static_cast<WORD16>(g_profile.wTaskTypeBase | i));
    }
    g_handler = new CNIntraMsgHandler();  // never opened: no socket, and sends to other processes fail
    g_partner = ACE_INET_Addr(g_profile.wPartnerPort, "127.0.0.1");
    fill_engine_jids();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The receive buffer holds 20,480 bytes; a longer datagram arrives cut to that.
    const size_t len = size < CN_INTRA_RECV_BUF_LEN ? size : CN_INTRA_RECV_BUF_LEN;
    reset_jobs();
    g_handler->Deliver(data, static_cast<ssize_t>(len), g_partner);
    if (len >= sizeof(T_CNMessageHead)) {
        T_CNMessageHead head;
        std::memcpy(&head, data, sizeof head);
        if (on_local_only_list(head)) fuzz::expect(queued_blocks() == 0, "a listed message is never taken from a datagram");
    }
    dispatch_rounds();
    return 0;
}
