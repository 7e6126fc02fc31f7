// The location engine's job table, in the order the power-on walk follows: the platform's two
// rows, the control job (its power-on acknowledgement is awaited), the three managers, the
// socket job, clock sync, display, reconnection and the eighteen selectors, each on a control
// task of its own; and the messages of these jobs that only an in-process send may deliver.
#include "engine_jobs.h"

#include "pub_pqe_jobtype.h"
#include "startup/cn_scs_job.h"
#include "zub_clocksync_job.h"
#include "zub_control_job.h"
#include "zub_display_job.h"
#include "zub_manager.h"
#include "zub_msg_id.h"
#include "zub_recon_job.h"
#include "zub_selector_job.h"
#include "zub_socket.h"

// notexist_Job_Entry comes from the platform kernel.
void notexist_Job_Entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);

namespace {

constexpr WORD32 kEngineData = 81920;
constexpr WORD16 kEnginePri = 11;

}  // namespace

#define ENGINE_JOB(type, sch, name, entry) {type, kEnginePri, sch, 1, name, entry, 0, kEngineData, 0}
#define SELECTOR(type, sch, name) ENGINE_JOB(type, sch, name, zub_selector_entry)

const T_JobCreatReg g_atJobRegTbl[] = {
    {0x0000, 10, 1, 1, "CN_SCS_JOB", cn_p_scs_entry, 0, 1024, 0},
    {0x0001, 10, 1, 1, "notexist", notexist_Job_Entry, 0, 4096, CN_JOB_FLAG_WAIT_POWERON_ACK},
    {QE_JOBTYPE_ZUB_CONTROL, kEnginePri, 2, 1, "ZUB_CONTROL", zub_control_job_entry, 0, kEngineData,
     CN_JOB_FLAG_WAIT_POWERON_ACK},
    ENGINE_JOB(QE_JOBTYPE_ZUB_MANAGER_BEGIN, 3, "ZUB_MANAGER1", zub_manager_job_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_MANAGER_1, 4, "ZUB_MANAGER2", zub_manager_job_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_MANAGER_END, 5, "ZUB_MANAGER3", zub_manager_job_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SOCKET, 6, "ZUB_SOCKET", zub_socket_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_CLOCKSYNC, 7, "ZUB_CLOCKSYNC", zub_clocksync_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_DISPLAY, 8, "ZUB_DISPLAY", zub_display_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_RECON, 9, "ZUB_RECON", zub_recon_entry),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_BEGIN, 10, "ZUB_SELECT1"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_1, 11, "ZUB_SELECT2"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_2, 12, "ZUB_SELECT3"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_3, 13, "ZUB_SELECT4"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_4, 14, "ZUB_SELECT5"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_5, 15, "ZUB_SELECT6"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_6, 16, "ZUB_SELECT7"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_7, 17, "ZUB_SELECT8"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_8, 18, "ZUB_SELECT9"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_9, 19, "ZUB_SELECT10"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_10, 20, "ZUB_SELECT11"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_11, 21, "ZUB_SELECT12"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_12, 22, "ZUB_SELECT13"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_13, 23, "ZUB_SELECT14"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_14, 24, "ZUB_SELECT15"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_15, 25, "ZUB_SELECT16"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_16, 26, "ZUB_SELECT17"),
    SELECTOR(QE_JOBTYPE_ZUB_SELECTOR_END, 27, "ZUB_SELECT18"),
    {0x5FFF, 1, 1, 1, "END", nullptr, 0, 0, 0},
};

#undef SELECTOR
#undef ENGINE_JOB

static_assert(sizeof(g_atJobRegTbl) / sizeof(g_atJobRegTbl[0]) == kEngineJobRows, "29 rows with END");

// Every other body an engine job receives is a record copied by value (anchor payloads, positions,
// link states, anchor ids); the platform's own messages carry none or plain numbers.
const CN_LocalOnlyMsg g_atLocalOnlyMsgTbl[] = {
    // 8 bytes: the address of the heap copy of one controller line, which the control job parses
    // and frees.
    {QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_SOCKET_CONTROL_MSG},
};

static_assert(sizeof(g_atLocalOnlyMsgTbl) / sizeof(g_atLocalOnlyMsgTbl[0]) == kEngineLocalOnlyMsgs);

CN_PlatformProfile vorlen_profile()
{
    CN_PlatformProfile prof = CN_EngineProfile(g_atJobRegTbl);
    prof.ptLocalOnlyMsgs = g_atLocalOnlyMsgTbl;
    prof.wLocalOnlyMsgCount = kEngineLocalOnlyMsgs;
    return prof;
}
