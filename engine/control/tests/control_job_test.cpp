// The real control job on a small job table: power-on, the start passes and the answers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "VorlenComm.h"
#include "job_probe.h"
#include "pub_pqe_jobtype.h"
#include "startup/cn_scs_job.h"
#include "zub_control_job.h"
#include "zub_control_ports.h"
#include "zub_timer.h"
#include "zub_msg_id.h"

using namespace std::chrono_literals;
using probe::Recorder;

namespace {

constexpr WORD16 kSender = probe::kSenderType;
constexpr WORD16 kManager = QE_JOBTYPE_ZUB_MANAGER_BEGIN;  // answers the first pass
constexpr WORD16 kSocket = QE_JOBTYPE_ZUB_SOCKET;          // silent until the second pass
constexpr WORD16 kClock = QE_JOBTYPE_ZUB_CLOCKSYNC;        // answers every start twice

T_JobCreatReg row(WORD16 type, WORD16 task, const char* name, PTFUNCJOBENTRY entry, WORD32 flags)
{
    return probe::job_row(type, 11, task, name, entry, 4096, flags);
}

// The manager shares task 1 with the sender, so what each receives is recorded in queue order.
const std::array<T_JobCreatReg, 6>& table()
{
    static const std::array<T_JobCreatReg, 6> t = {
        row(kSender, 1, "SENDER", probe::entry, 0),
        row(QE_JOBTYPE_ZUB_CONTROL, 2, "ZUB_CONTROL", zub_control_job_entry, CN_JOB_FLAG_WAIT_POWERON_ACK),
        row(kManager, 1, "ZUB_MANAGER1", probe::entry, 0),
        row(kSocket, 3, "ZUB_SOCKET", probe::entry, 0),
        row(kClock, 4, "ZUB_CLOCKSYNC", probe::entry, 0),
        row(0x5FFF, 1, "END", nullptr, 0),
    };
    return t;
}

void answer_start(const probe::Call& c, int times)
{
    if (c.msgId != ZUB_EV_CTRL_XX_INIT_START) {
        return;
    }
    JID control = c.sender;
    for (int i = 0; i < times; ++i) {
        XOS_SendAsynMsg(ZUB_EV_XX_CTRL_JOB_START_OK, nullptr, 0, 0, 2, &control);
    }
}

std::string trace_text()
{
    std::string all;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator("log", ec)) {
        if (e.path().extension() == ".log") {
            std::ifstream in(e.path());
            std::stringstream s;
            s << in.rdbuf();
            all += s.str();
        }
    }
    return all;
}

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

bool wait_trace(const std::string& what, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (trace_text().find(what) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

void write(const char* name, const char* text)
{
    std::ofstream(name) << text;
}

TEST(engine_control_Job, PowerOnLoadsTheSiteAndRunsTheHandshakeToTheEnd)
{
    write("vm_zub.xml", "<c><zub logLevel=\"3\"/></c>");
    write("dns_zub.cfg", "e7000001 127.0.0.2\n");
    write("anchor_attribute.cfg", "e7000001 1\n");
    write("area_config.xml", "<A><Area AreaId=\"e7000001\"><S><Type value=\"single\"/></S></Area></A>");
    std::atomic<int> socket_starts{0};
    Recorder::instance().set_reaction(kManager, [](const probe::Call& c) { answer_start(c, 1); });
    Recorder::instance().set_reaction(kClock, [](const probe::Call& c) { answer_start(c, 2); });
    Recorder::instance().set_reaction(kSocket, [&](const probe::Call& c) {
        if (c.msgId == ZUB_EV_CTRL_XX_INIT_START && ++socket_starts == 2) {
            answer_start(c, 1);
        }
    });

    // The first arming of the retry timer is refused; the job arms it at its next event.
    std::atomic<int> timer_calls{0};
    zub_control_ports().set_timer = [&](BYTE type, WORD32 value, WORD32 seconds) {
        return ++timer_calls == 1 ? WORD32{0xFFFFFFFF} : zub_SetRelativeTimer(type, value, seconds);
    };

    const JID sender = probe::local_jid(kSender);
    const JID control = probe::local_jid(QE_JOBTYPE_ZUB_CONTROL);
    ASSERT_EQ(XOS_SendAsynMsgNJ(EV_CN_POWER_ON, nullptr, 0, 0, 0, &sender, &control), 0u);
    ASSERT_TRUE(Recorder::instance().wait_for(kSender, EV_CN_POWER_ON_ACK, 1, 10s));

    // The first pass went out before the acknowledgement (both queued on task 1 in send order).
    const auto manager_starts = Recorder::instance().calls(kManager, ZUB_EV_CTRL_XX_INIT_START);
    ASSERT_EQ(manager_starts.size(), 1u);
    EXPECT_LT(manager_starts[0].at, Recorder::instance().calls(kSender, EV_CN_POWER_ON_ACK)[0].at);

    // The silent socket job is asked again by the retry; then every job has answered.
    ASSERT_TRUE(wait_trace("All 4 Jobs init OK!", 15s));
    const std::string trace = trace_text();
    EXPECT_EQ(socket_starts.load(), 2);
    EXPECT_EQ(count(trace, "start retry timer not set; tried again at the next event."), 1u);
    EXPECT_EQ(timer_calls.load(), 3);  // refused, healed, re-armed by the retry
    EXPECT_EQ(Recorder::instance().calls(kManager, ZUB_EV_CTRL_XX_INIT_START).size(), 1u);
    EXPECT_EQ(Recorder::instance().calls(kClock, ZUB_EV_CTRL_XX_INIT_START).size(), 1u);
    EXPECT_EQ(count(trace, "CLOCKSYNC process init OK again, not counted."), 1u);
    EXPECT_LT(trace.find("SOCKET process init OK, FailTimes=0."), trace.find("All 4 Jobs init OK!"));
    EXPECT_EQ(count(trace, "All 4 Jobs init OK!"), 1u);
    EXPECT_EQ(count(trace, "zub_asyn_msg_send(ZUB_EV_CTRL_XX_INIT_START) is called! szJobName=SOCKET."), 2u);
    EXPECT_EQ(count(trace, "zub_asyn_msg_send(ZUB_EV_CTRL_XX_INIT_START) is called! szJobName=CONTROL."), 1u);
    EXPECT_EQ(count(trace, "CONTROL process init OK, FailTimes=0."), 1u);
    EXPECT_EQ(count(trace, "AreaID = E7000001"), 1u);
    EXPECT_EQ(count(trace, "|-- SubArea type = 1."), 1u);
    EXPECT_EQ(CN_Job_Base::GetJobByType(QE_JOBTYPE_ZUB_CONTROL)->TimerCount(), 0u);

    // A power-on in the working state loads nothing again and acknowledges nothing.
    ASSERT_EQ(XOS_SendAsynMsgNJ(EV_CN_POWER_ON, nullptr, 0, 0, 0, &sender, &control), 0u);
    ASSERT_EQ(XOS_SendAsynMsgNJ(ZUB_EV_CTRL_XX_INIT_START, nullptr, 0, 0, 0, &sender, &control), 0u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(count(trace_text(), "AreaID = E7000001"), 1u);
    EXPECT_EQ(Recorder::instance().calls(kSender, EV_CN_POWER_ON_ACK).size(), 1u);
    EXPECT_EQ(CN_Job_Base::GetJobByType(QE_JOBTYPE_ZUB_CONTROL)->TimerCount(), 0u);

    // In the working state a controller line (the address of a heap text the job takes over)
    // reaches the request handler, and an anchor message the reply dispatch.
    const char line[] = "<r type=\"no such request\"/>";
    char* text = static_cast<char*>(std::malloc(sizeof line));
    std::memcpy(text, line, sizeof line);
    ASSERT_EQ(XOS_SendAsynMsgNJ(ZUB_EV_SOCKET_CONTROL_MSG, reinterpret_cast<BYTE*>(&text), sizeof text, 0, 0, &sender,
                                &control), 0u);
    BYTE config_request[] = {0x00, 0x00, 0x01, 0x00, 0x42};  // anchor 0 (e7000001) asks for its configuration
    ASSERT_EQ(XOS_SendAsynMsgNJ(ZUB_EV_SOCKET_XX_ANCHOR_MSG, config_request, sizeof config_request, 0, 0, &sender,
                                &control), 0u);
    BYTE too_short = 0;
    ASSERT_EQ(XOS_SendAsynMsgNJ(ZUB_EV_SOCKET_CONTROL_MSG, &too_short, 1, 0, 0, &sender, &control), 0u);
    ASSERT_TRUE(wait_trace("controller line without its text (1 bytes).", 5s));
    const std::string later = trace_text();
    EXPECT_EQ(count(later, "unkown type:no such request."), 1u);
    EXPECT_EQ(count(later, "ZUB not receive config info from controller, discard anchor(127.0.0.2) config req."), 1u);
    // The job is idle now (every event above has been handled): the real timer call comes back.
    zub_control_ports().set_timer = zub_control_real_ports().set_timer;
}

}  // namespace

int main(int argc, char** argv)
{
    probe::enter_private_netns();
    char dir[] = "/tmp/zub_control_job_test_XXXXXX";
    const bool have_dir = mkdtemp(dir) != nullptr && chdir(dir) == 0;
    testing::InitGoogleTest(&argc, argv);
    CN_PlatformProfile prof = CN_EngineProfile(table().data());
    prof.wTaskCount = 4;
    probe::keep_off_real_ports(prof);
    FILE* log = std::fopen("platform.log", "a");
    if (!probe::start_platform(prof, log)) {
        std::fprintf(stderr, "platform did not start\n");
        return 1;
    }
    const int rc = RUN_ALL_TESTS();
    CN_PlatformShutdown();
    CN_SetPlatLogFile(nullptr);
    if (log != nullptr) {
        std::fclose(log);
    }
    if (have_dir) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    return rc;
}
