// A stand-in for the location engine with the engine's own job table, except that the control
// row is a small start-up stand-in: at power-on it takes the nine server ports (from
// "socket_ports.txt" in the working directory when present, else the defaults), builds the job
// directory and the engine JIDs, and sends the start event to the socket job, again every 5 s
// until the socket job has answered, which it logs. The socket job and the other rows are the
// program's own.
#include <cstdio>

#include "CNPlatLog.h"
#include "CNPlatform.h"
#include "XOS_Api.h"
#include "engine_jobs.h"
#include "pub_pqe_jobtype.h"
#include "startup/cn_scs_job.h"
#include "startup/program_main.h"
#include "trace/CNTrace.h"
#include "zub_comm.h"
#include "zub_context.h"
#include "zub_socket.h"

namespace {

constexpr BYTE kRetryTimer = 130;
constexpr WORD16 kDefaultPorts[ZUB_SOCKET_TYPE_COUNT] = {3334, 3335, 12345, 12346, 12347, 12301, 12302, 12303, 3336};

// The control task's own.
WORD32 g_retry = ZUB_INVALID_TIMER_ID;
bool g_answered = false;

void load_ports()
{
    int p[ZUB_SOCKET_TYPE_COUNT];
    for (unsigned i = 0; i < ZUB_SOCKET_TYPE_COUNT; ++i) {
        p[i] = kDefaultPorts[i];
    }
    if (FILE* f = std::fopen("socket_ports.txt", "r")) {
        for (unsigned i = 0; i < ZUB_SOCKET_TYPE_COUNT; ++i) {
            if (std::fscanf(f, "%d", &p[i]) != 1) {
                break;
            }
        }
        std::fclose(f);
    }
    context_t* ctx = zub_context();
    ctx->zubControlPort = p[0];
    ctx->zubDataPort = p[1];
    ctx->tag_loc.port = static_cast<WORD16>(p[2]);
    ctx->tag_ext.port = static_cast<WORD16>(p[3]);
    ctx->anc_stat.port = static_cast<WORD16>(p[4]);
    ctx->dac_interface.blink_port = static_cast<WORD16>(p[5]);
    ctx->dac_interface.pos_port = static_cast<WORD16>(p[6]);
    ctx->dac_interface.ccp_port = static_cast<WORD16>(p[7]);
    ctx->data_server_port = p[8];
}

void send_start()
{
    zub_asyn_msg_send(ZUB_EV_CTRL_XX_INIT_START, nullptr, 0, qeGetJobJIDByJobType(QE_JOBTYPE_ZUB_SOCKET));
}

void standin_control_entry(WORD16, WORD32 msg, void*, void*, BYTE)
{
    if (msg == EV_CN_POWER_ON) {
        CN_initCNLogFile(3, 25000);
        qeSetPrnFlag(3);
        load_ports();
        qeGetMPProcJIDs();
        qeGlobalJobsJIDInit();
        send_start();
        g_retry = zub_SetLoopTimer(kRetryTimer, 0, 5);
        XOS_PowerOnAck(EV_CN_POWER_ON_ACK, nullptr, 0, 0);
    } else if (msg == ZUB_EV_LOOP_TIMER && !g_answered) {
        send_start();
    } else if (msg == ZUB_EV_XX_CTRL_JOB_START_OK) {
        JID from{};
        if (XOS_Sender(&from) == 0 && (from.dwJno >> 16) == QE_JOBTYPE_ZUB_SOCKET && !g_answered) {
            g_answered = true;
            zub_DelTimer(g_retry);
            CN_PlatLog("socket job answered the start event\n");
        }
    }
}

T_JobCreatReg g_table[kEngineJobRows];

void no_console(void*) {}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 0; i < kEngineJobRows; ++i) {
        g_table[i] = g_atJobRegTbl[i];
        if (g_table[i].wJobType == QE_JOBTYPE_ZUB_CONTROL) {
            g_table[i].PEntry = standin_control_entry;
        }
    }
    CN_ProgramSpec spec{CN_EngineProfile(g_table), true, "ZUB begin to power on!\n", no_console};
    CN_ProgramMain(argc, argv, spec);
}
