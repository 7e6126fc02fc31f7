#include "zub_probe_table.h"

#include <string>
#include <utility>

#include "CN_Job_Base.h"
#include "job_probe.h"
#include "pub_pqe_jobtype.h"
#include "zub_job_dir.h"

using probe::job_row;

std::array<T_JobCreatReg, 29> zub_engine_probe_rows()
{
    std::array<T_JobCreatReg, 29> t{};
    t[0] = job_row(0x0000, 10, 1, "CN_SCS_JOB", probe::entry, 1024, 0);
    t[1] = job_row(0x0001, 10, 1, "notexist", notexist_Job_Entry, 4096, CN_JOB_FLAG_WAIT_POWERON_ACK);
    t[2] = job_row(QE_JOBTYPE_ZUB_CONTROL, 11, 2, "ZUB_CONTROL", probe::entry, 81920, CN_JOB_FLAG_WAIT_POWERON_ACK);
    for (WORD16 m = 0; m < 3; ++m) {
        t[3 + m] = job_row(static_cast<WORD16>(QE_JOBTYPE_ZUB_MANAGER_BEGIN + m), 11, static_cast<WORD16>(3 + m),
                       "ZUB_MANAGER" + std::to_string(m + 1), probe::entry, 81920, 0);
    }
    t[6] = job_row(QE_JOBTYPE_ZUB_SOCKET, 11, 6, "ZUB_SOCKET", probe::entry, 81920, 0);
    t[7] = job_row(QE_JOBTYPE_ZUB_CLOCKSYNC, 11, 7, "ZUB_CLOCKSYNC", probe::entry, 81920, 0);
    t[8] = job_row(QE_JOBTYPE_ZUB_DISPLAY, 11, 8, "ZUB_DISPLAY", probe::entry, 81920, 0);
    t[9] = job_row(QE_JOBTYPE_ZUB_RECON, 11, 9, "ZUB_RECON", probe::entry, 81920, 0);
    for (WORD16 r = 10; r <= 27; ++r) {
        t[r] = job_row(static_cast<WORD16>(0x4000 + (r - 2)), 11, r, "ZUB_SELECT" + std::to_string(r - 9), probe::entry,
                   81920, 0);
    }
    t[28] = job_row(0x5FFF, 1, 1, "END", nullptr, 0, 0);
    return t;
}

zub_probe_platform::zub_probe_platform(const std::array<T_JobCreatReg, 29>& rows, std::function<void()> before,
                                       std::function<void()> after)
    : rows_(rows), before_(std::move(before)), after_(std::move(after))
{
}

void zub_probe_platform::SetUp()
{
    if (before_) {
        before_();
    }
    CN_PlatformProfile prof = CN_EngineProfile(rows_.data());
    prof.wTaskCount = 28;
    probe::keep_off_real_ports(prof);
    log_ = std::fopen("platform.log", "a");
    ASSERT_TRUE(probe::start_platform(prof, log_));
    int built = 0;
    ASSERT_TRUE(probe::run_on_job(QE_JOBTYPE_ZUB_CONTROL, [&] {
        built = qeGetMPProcJIDs();
        qeGlobalJobsJIDInit();
    }, std::chrono::seconds(30)));
    ASSERT_EQ(built, 1);
    if (after_) {
        after_();
    }
}

void zub_probe_platform::TearDown()
{
    CN_PlatformShutdown();
    CN_SetPlatLogFile(nullptr);
    if (log_ != nullptr) {
        std::fclose(log_);
        log_ = nullptr;
    }
}
