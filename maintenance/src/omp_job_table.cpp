// The maintenance program's job table: the sequencer waits for notexist only; BackComm is
// powered on without being waited for.
#include "CNPlatform.h"
#include "omp_jobs.h"
#include "startup/cn_scs_job.h"

void notexist_Job_Entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);

// No message of this program carries an in-process address (power-on and registration have no
// body; BackComm's bodies are a peer's head and body, copied), so its profile names no message
// that the intra-board input must refuse.
const T_JobCreatReg g_atJobRegTbl[] = {
    {0x0000, 0x0A, 1, 1, "CN_SCS_JOB", cn_p_scs_entry, 0, 0x400, 0},
    {0x0001, 0x0A, 1, 1, "notexist", notexist_Job_Entry, 0, 0x1000, CN_JOB_FLAG_WAIT_POWERON_ACK},
    {CN_BACKCOMM_JOB_TYPE, 0x0B, 2, 1, "BackComm", backComm_Job_Entry, 0, 0x1000, 0},
    {0x5FFF, 0x01, 1, 1, "END", nullptr, 0, 0, 0},
};

static_assert(sizeof(g_atJobRegTbl) / sizeof(g_atJobRegTbl[0]) == kOmpJobRows, "4 rows with END");
