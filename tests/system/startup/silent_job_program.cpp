// A stand-in for the location engine whose flagged control row never acknowledges its power-on:
// the engine's profile and start-up with a table of CN_SCS_JOB, notexist, a silent flagged job
// and one row behind it that logs if it is ever powered on.
#include "CNPlatLog.h"
#include "CNPlatform.h"
#include "startup/cn_scs_job.h"
#include "startup/program_main.h"

void notexist_Job_Entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);

namespace {

void silent_entry(WORD16, WORD32, void*, void*, BYTE) {}

void behind_entry(WORD16, WORD32 msg, void*, void*, BYTE) {
    if (msg == EV_CN_POWER_ON) CN_PlatLog("row behind the silent job powered on\n");
}

void no_console(void*) {}

const T_JobCreatReg kTable[] = {
    {0x0000, 10, 1, 1, "CN_SCS_JOB", cn_p_scs_entry, 0, 1024, 0},
    {0x0001, 10, 1, 1, "notexist", notexist_Job_Entry, 0, 4096, CN_JOB_FLAG_WAIT_POWERON_ACK},
    {0x4000, 11, 2, 1, "SILENT_CONTROL", silent_entry, 0, 64, CN_JOB_FLAG_WAIT_POWERON_ACK},
    {0x4001, 11, 3, 1, "BEHIND", behind_entry, 0, 64, 0},
    {0x5FFF, 1, 1, 1, "END", nullptr, 0, 0, 0},
};

}  // namespace

int main(int argc, char** argv) {
    CN_ProgramSpec spec{CN_EngineProfile(kTable), true, "ZUB begin to power on!\n", no_console};
    CN_ProgramMain(argc, argv, spec);
}
