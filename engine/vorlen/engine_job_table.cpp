// The location engine's job table, in the order the power-on walk follows.
//
// Rows 2 to 9 still run PLACEHOLDER entries; each row takes its job's real entry when that
// job lands (zub_control_job_entry, zub_manager_job_entry, zub_socket_entry,
// zub_clocksync_entry, zub_display_entry, zub_recon_entry). The selector rows run
// zub_selector_entry.
#include "engine_jobs.h"

#include "pub_pqe_jobtype.h"
#include "startup/cn_scs_job.h"
#include "zub_selector_job.h"

// notexist_Job_Entry comes from the platform kernel.
void notexist_Job_Entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);

namespace {

constexpr WORD32 kEngineData = 81920;
constexpr WORD16 kEnginePri = 11;

}  // namespace

#define ENGINE_JOB(type, sch, name, entry) {type, kEnginePri, sch, 1, name, entry, 0, kEngineData, 0}
#define PH engine_placeholder_job_entry

const T_JobCreatReg g_atJobRegTbl[] = {
    {0x0000, 10, 1, 1, "CN_SCS_JOB", cn_p_scs_entry, 0, 1024, 0},
    {0x0001, 10, 1, 1, "notexist", notexist_Job_Entry, 0, 4096, CN_JOB_FLAG_WAIT_POWERON_ACK},
    {QE_JOBTYPE_ZUB_CONTROL, kEnginePri, 2, 1, "ZUB_CONTROL", engine_placeholder_control_entry, 0, kEngineData,
     CN_JOB_FLAG_WAIT_POWERON_ACK},
    ENGINE_JOB(QE_JOBTYPE_ZUB_MANAGER_BEGIN, 3, "ZUB_MANAGER1", PH),
    ENGINE_JOB(QE_JOBTYPE_ZUB_MANAGER_1, 4, "ZUB_MANAGER2", PH),
    ENGINE_JOB(QE_JOBTYPE_ZUB_MANAGER_END, 5, "ZUB_MANAGER3", PH),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SOCKET, 6, "ZUB_SOCKET", PH),
    ENGINE_JOB(QE_JOBTYPE_ZUB_CLOCKSYNC, 7, "ZUB_CLOCKSYNC", PH),
    ENGINE_JOB(QE_JOBTYPE_ZUB_DISPLAY, 8, "ZUB_DISPLAY", PH),
    ENGINE_JOB(QE_JOBTYPE_ZUB_RECON, 9, "ZUB_RECON", PH),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_BEGIN, 10, "ZUB_SELECT1", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_1, 11, "ZUB_SELECT2", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_2, 12, "ZUB_SELECT3", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_3, 13, "ZUB_SELECT4", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_4, 14, "ZUB_SELECT5", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_5, 15, "ZUB_SELECT6", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_6, 16, "ZUB_SELECT7", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_7, 17, "ZUB_SELECT8", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_8, 18, "ZUB_SELECT9", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_9, 19, "ZUB_SELECT10", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_10, 20, "ZUB_SELECT11", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_11, 21, "ZUB_SELECT12", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_12, 22, "ZUB_SELECT13", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_13, 23, "ZUB_SELECT14", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_14, 24, "ZUB_SELECT15", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_15, 25, "ZUB_SELECT16", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_16, 26, "ZUB_SELECT17", zub_selector_entry),
    ENGINE_JOB(QE_JOBTYPE_ZUB_SELECTOR_END, 27, "ZUB_SELECT18", zub_selector_entry),
    {0x5FFF, 1, 1, 1, "END", nullptr, 0, 0, 0},
};

#undef PH
#undef ENGINE_JOB

static_assert(sizeof(g_atJobRegTbl) / sizeof(g_atJobRegTbl[0]) == kEngineJobRows, "29 rows with END");
