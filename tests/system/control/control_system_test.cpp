// vorlen with qes_omp on the example site: the configuration is loaded and every engine job
// answers the start handshake.
#include <signal.h>

#include "sandbox/daemon.h"
#include "sandbox/files.h"
#include "sandbox/harness.h"

namespace {

using namespace vorlen::sandbox;
using namespace std::chrono_literals;

constexpr const char* kTrace = "/qvx/zub/log/zub/division1.log";

class SystemControl : public SandboxTest {
protected:
    void TearDown() override
    {
        if (HasFailure()) {
            std::printf("---- trace ----\n%s\n", read_file(kTrace).c_str());
        }
    }
};

TEST_F(SystemControl, ExampleSiteLoadsAndEveryEngineJobAnswers)
{
    ASSERT_TRUE(write_file("/qvx/omp/omp.cfg", read_file(SITE_DIR "/omp/omp.cfg")));
    for (const char* name : {"vm_zub.xml", "dns_zub.cfg", "anchor_attribute.cfg", "area_config.xml"}) {
        ASSERT_TRUE(write_file(std::string("/qvx/zub/") + name, read_file(std::string(SITE_DIR "/zub/") + name)));
    }
    Daemon omp = Daemon::start(install_program(QES_OMP_BIN, "/qvx/omp"));
    ASSERT_TRUE(wait_for_text("/qvx/omp/log/QES_OMP.log", "Power on success", 10s));
    Daemon engine = Daemon::start(install_program(VORLEN_BIN, "/qvx/zub"));
    ASSERT_TRUE(wait_for_text(kTrace, "All 26 Jobs init OK!", 20s));

    const std::string trace = read_file(kTrace);
    std::vector<std::string> expected = {
        "new mapping:a0b1000000000001->0", "new mapping:a0b1000000000008->7",
        "AreaID = A0B1000000000001", "|-- SubArea type = 0.", "|-- Point(0.000000, 0.000000, 0.000000).",
        "|-- Point(30.000000, 20.000000, 0.000000).", "|-------",
        "AreaID = A0B1000000000008", "|-- SubArea type = 2.", "|-------",
        "zub_asyn_msg_send(ZUB_EV_CTRL_XX_INIT_START) is called! szJobName=CONTROL.",
        "zub_asyn_msg_send(ZUB_EV_CTRL_XX_INIT_START) is called! szJobName=SELECT18.",
        "CONTROL process init OK, FailTimes=0.",
    };
    std::string missing;
    EXPECT_TRUE(in_order(trace, expected, &missing)) << missing;
    for (const char* job : {"MANAGER1", "MANAGER2", "MANAGER3", "SOCKET", "CLOCKSYNC", "DISPLAY", "RECON",
                            "SELECT1", "SELECT9", "SELECT18"}) {
        EXPECT_EQ(count_of(trace, std::string(job) + " process init OK, FailTimes=0."), 1u) << job;
    }
    EXPECT_EQ(count_of(trace, "process init OK, FailTimes=0."), 26u);
    // The first pass reaches every job; the socket, display and reconnection jobs take the start
    // only after their own power-on, which the sequencer sends after the control job's, so they
    // answer the second pass, 5 s later, and are the only ones asked again.
    EXPECT_EQ(count_of(trace, "zub_asyn_msg_send(ZUB_EV_CTRL_XX_INIT_START) is called!"), 29u);
    for (const char* job : {"SOCKET", "DISPLAY", "RECON"}) {
        const std::string sent = std::string("ZUB_EV_CTRL_XX_INIT_START) is called! szJobName=") + job + ".";
        EXPECT_EQ(count_of(trace, sent), 2u) << job;
    }
    EXPECT_TRUE(wait_for_text("/qvx/zub/log/uwb_zub.log", "Power on success", 15s));
    ASSERT_TRUE(engine.signal(SIGTERM));
    EXPECT_EQ(engine.wait_exit(10s), 0);
}

}  // namespace
