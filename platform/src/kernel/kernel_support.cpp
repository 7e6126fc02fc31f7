// kernel_support.cpp - JID helpers, delivery resolution, block construction and the timer-id
// source shared by the kernel's sources.
#include "kernel_internal.h"
#include "block_allocator.h"
#include "CNPlatLogLimit.h"

#include <atomic>
#include <cstring>
#include <new>

namespace cn_kernel {

namespace {
std::atomic<WORD32> g_next_timer_id{1};
thread_local WORD16 t_task_index = 0;
std::atomic<CNIntraMsgHandler*> g_intra_handler{nullptr};
}

const T_JobCreatReg* job_table() { return profile().ptJobTable; }

bool is_own_module_unit(const JID& jid) { return jid.wModule == _thisModuleNo && jid.wUnit == _thisUnit; }

bool same_module_unit(const JID& a, const JID& b) { return a.wModule == b.wModule && a.wUnit == b.wUnit; }

CN_Job_Base* lookup_job(const JID& jid, bool bQuiet)
{
    if (!is_own_module_unit(jid)) {
        if (!bQuiet) {
            CN_PLAT_LOG_LIMITED("GetJobHandlerByJid: JID not local, wModule=%u(own %u), wUnit=%u(own %u)\n", jid.wModule,
                       _thisModuleNo, jid.wUnit, _thisUnit);
        }
        return nullptr;
    }
    return CN_Job_Base::GetJobHandlerByJid(&jid);
}

CN_Job_Base* delivery_job(const T_CNMessageHead& head, bool bQuiet)
{
    const CN_PlatformProfile& prof = profile();
    if (head.DestJID.ucRouteType == CN_ROUTE_TYPE_BACKCOMM && prof.bDivertRouteType5) {
        return CN_Job_Base::GetJobByType(prof.wRouteType5JobType);
    }
    return lookup_job(head.DestJID, bQuiet);
}

ACE_Message_Block* make_block(size_t size, ACE_Message_Block::ACE_Message_Type type, unsigned long priority)
{
    return cached_block(size, type, priority);
}

ACE_Message_Block* make_job_block(const T_CNMessageHead& head, const void* pData, size_t len, size_t extra,
                                  unsigned long priority)
{
    size_t total = sizeof(T_CNMessageHead) + len + extra;
    ACE_Message_Block* mb = make_block(total, MB_USER_JOB_MESSAGE, priority);
    if (mb == nullptr) {
        return nullptr;
    }
    std::memcpy(mb->wr_ptr(), &head, sizeof head);
    if (len != 0) {
        std::memcpy(mb->wr_ptr() + sizeof head, pData, len);
    }
    if (extra != 0) {
        std::memset(mb->wr_ptr() + sizeof head + len, 0, extra);
    }
    mb->wr_ptr(total);
    return mb;
}

XOS_TIMER_ID next_timer_id()
{
    for (;;) {
        WORD32 id = g_next_timer_id.fetch_add(1, std::memory_order_relaxed);
        if (id != XOS_INVALID_TIMER_ID && id != 0) {
            return id;
        }
    }
}

WORD16 current_task_index() { return t_task_index; }
void set_current_task_index(WORD16 wIndex) { t_task_index = wIndex; }

CNIntraMsgHandler* intra_handler() { return g_intra_handler.load(std::memory_order_acquire); }
void set_intra_handler(CNIntraMsgHandler* pHandler) { g_intra_handler.store(pHandler, std::memory_order_release); }

} // namespace cn_kernel

JID CN_LocalJID(WORD16 wJobType)
{
    JID jid{};
    jid.dwJno = (static_cast<WORD32>(wJobType) << 16) + 1;
    jid.dwDevId = (static_cast<WORD32>(_thisBureauID) << 24) + 1;
    jid.wModule = _thisModuleNo;
    jid.wUnit = _thisUnit;
    return jid;
}
