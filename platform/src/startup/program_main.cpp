// The shared main body, in the order the two programs rely on.
#include "startup/program_main.h"

#include <ace/Log_Msg.h>
#include <ace/Reactor.h>

#include <csignal>
#include <cstdint>
#include <ctime>

#include "CNCtrlTask.h"
#include "CNPlatLog.h"
#include "startup/dog_client.h"
#include "startup/monitor_handler.h"
#include "startup/omp_cfg.h"
#include "startup/plat_log_file.h"
#include "startup/process_dir.h"
#include "startup/time_source.h"

namespace {

void log_power_on_time() {
    time_t now = time(nullptr);
    struct tm t {};
    localtime_r(&now, &t);
    CN_PlatLog("Power On Time:%d:%d:%d:%d:%d:%d\n", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
               t.tm_sec);
}

// The location engine stops here when omp.cfg gives no section at all.
void load_omp_sections() {
    switch (LoadOmpCfg()) {
    case 0:
        CN_PlatLog("load omp cfg fail \n");
        CN_ExitProcess(0);
    case 1: CN_PlatLog("load nav or qes omp cfg ok \n"); break;
    case 2: CN_PlatLog("load nav and qes omp cfg ok \n"); break;
    default: break;
    }
}

void start_watchdog() {
    DogClient* dog = DogClient::Instance();
    dog->Init();
    dog->SendMsg(e_status, "application module start");
    const ACE_Time_Value period(CN_WATCHDOG_PERIOD_S);
    if (CN_GetProcessReactor()->schedule_timer(dog, nullptr, period, period) >= 0) {
        CN_PlatLog("succeed to tvWatchdog check timer");
    } else {
        CN_PlatLog("fail to tvWatchdog check timer");
    }
    CN_PlatLog("Verify configuration module=%d, unit=%d\n", _thisModuleNo, _thisUnit);
    CN_PlatLog("Line%d\n", 1001);
}

void start_console(void (*starter)(void*)) {
    if (starter != nullptr) {
        auto* comm = new CNCommTask();  // lives until the process ends
        comm->open(reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(starter)));
    }
    CN_PlatLog("----------------telnet service opened -------------------\r\n");
}

void register_signals() {
    // Writes to peers that went away must fail with EPIPE, not end the process.
    signal(SIGPIPE, SIG_IGN);
    static CNMonitor_Handler monitor;
    ACE_Reactor* reactor = CN_GetProcessReactor();
    for (int sig : {SIGINT, SIGTERM, SIGABRT}) reactor->register_handler(sig, &monitor);
    CN_PlatLog("Timer signal not detect at ACE_TMAIN,line=%d!\n", 1295);
    CN_FlushLogs();
}

}  // namespace

void CN_ApplyArgumentIdentity(int argc, CN_PlatformProfile* ptProfile) {
    if (argc == 1) {
        ptProfile->dwModuleType |= 1;
        return;
    }
    ptProfile->wModule = 0;
    ptProfile->wUnit = 0;
    ptProfile->wBureau = 0;
    ptProfile->dwModuleType = 0;
}

void CN_ProgramMain(int argc, char** argv, const CN_ProgramSpec& spec) {
    if (CN_GetCurrPath(argc > 0 ? argv[0] : nullptr, g_strCurPath) != 0) {
        ACE_DEBUG((LM_ERROR, "CN_GetCurrPath error\n"));
        CN_ExitProcess(255);
    }
    ACE_DEBUG((LM_DEBUG, "CN_GetCurrPath ok\n"));
    unix_daemon_init(g_strCurPath);

    CN_PlatformProfile profile = spec.tProfile;
    GetModuleCfg();
    CreatLogFile(profile.pcLogName);
    log_power_on_time();
    if (spec.bLoadOmpCfg) load_omp_sections();

    profile.dwModuleType = 0;
    if (argc == 1) CN_PlatLog("%s", spec.pcPowerOnLine);
    if (argc == 2) {
        CN_PlatLog("Argument error.USAGE:vorlen OR vorlen smp %d\n", argc - 1);
        CN_ExitProcess(0);
    }
    CN_ApplyArgumentIdentity(argc, &profile);
    if (CN_PlatformInit(&profile) != 0) {
        CN_PlatLog("platform init failed, exit.\n");
        CN_ExitProcess(255);
    }
    CN_SetTimerQueueClock(gettimeofday_relative);

    DogClientGuard dog_guard;
    start_watchdog();
    CN_StampPowerOnTime();

    const int started = CN_StartControlTasks();
    if (started != CN_START_OK) {
        if (started != CN_START_PORT_TAKEN) CN_PlatLog("control tasks failed to start, exit.\n");
        CN_ExitProcess(1);
    }
    start_console(spec.pfnConsoleStarter);
    if (CN_WakeSequencer() != 0) {
        CN_PlatLog("Copy failure at ACE_TMAIN line=%d!\n", 1250);
        CN_ExitProcess(255);
    }
    register_signals();

    const int code = CN_RunReactorLoop();
    CN_PlatLog("Program exit with exception, g_nExitCode=%d, line=%d!\n", code, 1310);
    dog_guard.Release();
    CN_ExitProcess(code);
}
