#include "zub_job_dir.h"

#include <algorithm>
#include <cstring>

#include "CNPlatform.h"
#include "XOS_Api.h"
#include "pub_pqe_jobtype.h"
#include "zub_context.h"
#include "zub_print.h"
#include "zub_shared_field.h"

// Aligned so that the entry count can be read atomically.
alignas(8) T_qeJobInfo g_tMPAllJobInitInfo;

namespace {

constexpr unsigned kNamePrefixLen = 4;  // "ZUB_"
constexpr unsigned kMaxRowsRead = 32;

bool is_engine_type(WORD16 type)
{
    return type >= QE_JOBTYPE_ZUB_CONTROL && type <= QE_JOBTYPE_ZUB_SELECTOR_END;
}

void copy_job_name(char (&out)[QE_JOB_NAME_LEN], const char* row_name)
{
    std::memset(out, 0, sizeof out);
    const size_t len = strnlen(row_name, sizeof(T_JobCreatReg::acName));
    if (len > kNamePrefixLen) {
        std::memcpy(out, row_name + kNamePrefixLen, std::min<size_t>(len - kNamePrefixLen, QE_JOB_NAME_LEN - 1));
    }
}

void publish_count(WORD16 count)
{
    zub_store(g_tMPAllJobInitInfo.wRealJOBNumber, count, std::memory_order_release);
}

}  // namespace

WORD32 qeGetProcInstNo() { return 1; }

unsigned qe_job_dir_count()
{
    const WORD16 n = zub_load(g_tMPAllJobInitInfo.wRealJOBNumber, std::memory_order_acquire);
    return std::min<unsigned>(n, QE_MAX_JOB_INFO);
}

int qeGetMPProcJIDs()
{
    publish_count(0);
    T_qeJobInfo& dir = g_tMPAllJobInitInfo;
    dir.wProcIns = 0;
    dir.wJobInitOKNum = 0;
    dir.init_timer = 0;
    std::memset(dir.tJobInfo, 0, sizeof dir.tJobInfo);

    const CN_PlatformProfile* profile = CN_GetPlatformProfile();
    const T_JobCreatReg* table = profile != nullptr ? profile->ptJobTable : nullptr;
    if (table == nullptr) {
        return 1;
    }
    WORD16 count = 0;
    unsigned filled = 0;
    for (unsigned row = 0; row < kMaxRowsRead && table[row].PEntry != nullptr; ++row) {
        const T_JobCreatReg& reg = table[row];
        if (!is_engine_type(reg.wJobType)) {
            continue;
        }
        tagJobInitInfo& entry = dir.tJobInfo[filled++];
        entry.wJobType = reg.wJobType;
        copy_job_name(entry.szJobName, reg.acName);
        entry.blInitStatus = 0;
        entry.dwInitFailNum = 0;
        entry.dwModuleType = 0;
        const WORD32 jno = (static_cast<WORD32>(reg.wJobType) << 16) | qeGetProcInstNo();
        if (XOS_GetJIDByJNO(jno, &entry.tJID) != XOS_SUCCESS) {
            ZUB_PRINT(ZUB_PRINT_ERROR, "Get %s JID failed.", entry.szJobName);
            return 0;
        }
        count = static_cast<WORD16>(count + reg.wInstance);
        publish_count(count);
    }
    return 1;
}

JID* qeGetJobJIDByJobType(WORD16 job_type)
{
    const unsigned n = qe_job_dir_count();
    for (unsigned i = 0; i < n; ++i) {
        if (g_tMPAllJobInitInfo.tJobInfo[i].wJobType == job_type) {
            return &g_tMPAllJobInitInfo.tJobInfo[i].tJID;
        }
    }
    return nullptr;
}

namespace {

void copy_jid(WORD16 job_type, JID& slot)
{
    if (const JID* jid = qeGetJobJIDByJobType(job_type)) {
        slot = *jid;
    }
}

}  // namespace

void qeGlobalJobsJIDInit()
{
    context_t* ctx = zub_context();
    copy_jid(QE_JOBTYPE_ZUB_DISPLAY, ctx->jid_display);
    copy_jid(QE_JOBTYPE_ZUB_CONTROL, ctx->jid_control);
    copy_jid(QE_JOBTYPE_ZUB_CLOCKSYNC, ctx->jid_clocksync);
    copy_jid(QE_JOBTYPE_ZUB_RECON, ctx->jid_reconnection);
    for (unsigned i = 0; i < ZUB_MANAGER_NUM; ++i) {
        copy_jid(static_cast<WORD16>(QE_JOBTYPE_ZUB_MANAGER_BEGIN + i), ctx->jid_manager[i]);
    }
    for (unsigned i = 0; i < ZUB_SELECTOR_NUM; ++i) {
        copy_jid(static_cast<WORD16>(QE_JOBTYPE_ZUB_SELECTOR_BEGIN + i), ctx->jid_selector[i]);
    }
}
