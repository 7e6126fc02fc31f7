// The clock-sync job's entry on the platform: its states and the start handshake, anchor-frame
// events turned into display records, and bodies that do not hold what they announce. The
// engine's job table runs probe jobs everywhere but on the clock-sync row; a second row (the
// last selector's) runs the same entry so that both ways out of state 0 can be walked, and a
// third (the selector's before it) serves the tests that need a started job, so that the first
// two rows are still in state 0 whichever test runs first.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "clocksync_test_support.h"
#include "job_probe.h"
#include "pub_pqe_jobtype.h"
#include "zub_clocksync_job.h"
#include "zub_comm.h"
#include "zub_context.h"
#include "zub_probe_table.h"

using namespace std::chrono_literals;
using probe::Recorder;

namespace {

constexpr WORD16 kSecondRow = QE_JOBTYPE_ZUB_SELECTOR_END;
constexpr WORD16 kStartedRow = QE_JOBTYPE_ZUB_SELECTOR_END - 1;

// The engine's rows with the clock-sync entry on its own row and on the last two selectors'.
std::array<T_JobCreatReg, 29> table()
{
    std::array<T_JobCreatReg, 29> t = zub_engine_probe_rows();
    t[7].PEntry = zub_clocksync_entry;
    t[26].PEntry = zub_clocksync_entry;
    t[27].PEntry = zub_clocksync_entry;
    return t;
}

// Sends one event from the probe job `from` to a job; false when the send failed.
bool send(WORD16 from, WORD32 event, const std::vector<BYTE>& body, const JID& to)
{
    bool ok = false;
    const bool ran = probe::run_on_job(from, [&] {
        ok = zub_asyn_msg_send(event, body.empty() ? nullptr : body.data(), static_cast<WORD16>(body.size()), &to);
    }, 30s);
    return ran && ok;
}

WORD16 state_of(WORD16 type)
{
    return XOS_GetJobAppState(static_cast<WORD32>(type) << 16 | 1);
}

// An event-3 body whose payload is a receive report of slave 400 from master 401.
std::vector<BYTE> rx_body(BYTE seq)
{
    return cst::frame_body(400, cst::rx_payload(seq, 0xE401, 1000, 777));
}

// Waits until the control job holds a start answer sent by `row`: an answer another row gave
// (or a test before gave) does not count. false on time-out.
bool wait_start_answer_from(const JID& row, std::chrono::milliseconds timeout)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (size_t n = 1;; ++n) {
        if (!Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_XX_CTRL_JOB_START_OK, n,
                                           std::chrono::duration_cast<std::chrono::milliseconds>(
                                               until - std::chrono::steady_clock::now()))) {
            return false;
        }
        const auto acks = Recorder::instance().calls(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_XX_CTRL_JOB_START_OK);
        if (acks.size() >= n && acks[n - 1].sender.dwJno == row.dwJno) {
            return true;
        }
    }
}

}  // namespace

TEST(engine_clocksync_Job, WalksItsStatesAndAnswersTheStartEvent)
{
    context_t* ctx = zub_context();
    const JID second = probe::local_jid(kSecondRow);
    cst::PrintLines prints;
    Recorder::instance().clear();

    // State 0: an anchor frame is ignored; the power-on is acknowledged to its sender -> 6.
    ASSERT_TRUE(send(QE_JOBTYPE_ZUB_SOCKET, ZUB_EV_SOCKET_XX_ANCHOR_MSG, rx_body(1), ctx->jid_clocksync));
    ASSERT_TRUE(send(QE_JOBTYPE_ZUB_CONTROL, CN_MSG_POWER_ON, {}, ctx->jid_clocksync));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, CN_MSG_POWER_ON_ACK, 1, 10s));
    EXPECT_EQ(state_of(QE_JOBTYPE_ZUB_CLOCKSYNC), 6);
    // State 6: still no anchor frames; the start event is answered -> 1.
    ASSERT_TRUE(send(QE_JOBTYPE_ZUB_SOCKET, ZUB_EV_SOCKET_XX_ANCHOR_MSG, rx_body(2), ctx->jid_clocksync));
    ASSERT_TRUE(send(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_CTRL_XX_INIT_START, {}, ctx->jid_clocksync));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_XX_CTRL_JOB_START_OK, 1, 10s));
    EXPECT_EQ(state_of(QE_JOBTYPE_ZUB_CLOCKSYNC), 1);

    // The second row starts without a power-on: the start event alone takes it from 0 to 1.
    EXPECT_EQ(state_of(kSecondRow), 0);
    ASSERT_TRUE(send(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_CTRL_XX_INIT_START, {}, second));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_XX_CTRL_JOB_START_OK, 2, 10s));
    EXPECT_EQ(state_of(kSecondRow), 1);

    const auto acks = Recorder::instance().calls(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_XX_CTRL_JOB_START_OK);
    ASSERT_EQ(acks.size(), 2u);
    EXPECT_TRUE(acks[0].body.empty());
    EXPECT_EQ(acks[0].sender.dwJno, ctx->jid_clocksync.dwJno);
    EXPECT_EQ(acks[1].sender.dwJno, second.dwJno);
    // Nothing reached the display job from the states before 1.
    EXPECT_TRUE(Recorder::instance().calls(QE_JOBTYPE_ZUB_DISPLAY).empty());

    // State 1: an unknown event is printed; an anchor frame gives its display record.
    ASSERT_TRUE(send(QE_JOBTYPE_ZUB_CONTROL, 0x12345, {}, ctx->jid_clocksync));
    ASSERT_TRUE(send(QE_JOBTYPE_ZUB_SOCKET, ZUB_EV_SOCKET_XX_ANCHOR_MSG, rx_body(3), ctx->jid_clocksync));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_DISPLAY, ZUB_EV_CLOCKSYNC_DISPLAY_DAC_CCP, 1, 10s));
    const auto records = Recorder::instance().calls(QE_JOBTYPE_ZUB_DISPLAY, ZUB_EV_CLOCKSYNC_DISPLAY_DAC_CCP);
    ASSERT_EQ(records.size(), 1u);
    const std::vector<BYTE> expected = {0x00, 0xE4, 0, 0, 0, 0, 0, 0,  // slave 0xE400
                                        0x01, 0xE4, 0, 0, 0, 0, 0, 0,  // master 0xE401
                                        0x03,                          // sequence
                                        0x09, 0x03};                   // first path 777
    EXPECT_EQ(records[0].body, expected);
    EXPECT_EQ(state_of(QE_JOBTYPE_ZUB_CLOCKSYNC), 1);
    EXPECT_EQ(prints.count_of("recv error unknown msgid(74565)"), 1u);
}

TEST(engine_clocksync_Job, BodiesShorterThanTheyAnnounceAreDroppedWithALine)
{
    // A row of its own taken to state 1 once (there, a start event is only printed); its answer
    // is in before the recorder is cleared, so that no later test counts it.
    const JID started = probe::local_jid(kStartedRow);
    if (state_of(kStartedRow) == 0) {
        Recorder::instance().clear();
        ASSERT_TRUE(send(QE_JOBTYPE_ZUB_CONTROL, ZUB_EV_CTRL_XX_INIT_START, {}, started));
        ASSERT_TRUE(wait_start_answer_from(started, 10s));
    }
    ASSERT_EQ(state_of(kStartedRow), 1);
    cst::PrintLines prints;
    Recorder::instance().clear();

    struct Row {
        const char* name;
        std::vector<BYTE> body;
        std::string line;
    };
    std::vector<BYTE> cut = rx_body(4);
    cut.resize(cut.size() - 1);  // announces 18 payload bytes, holds 17
    const Row rows[] = {
        {"three bytes", {0x90, 0x01, 0x12}, "recv ccp msg,but message length(3) is too short"},
        {"no body", {}, "recv ccp msg,but message length(0) is too short"},
        {"payload cut short", cut, "recv ccp msg,but payload length(18) exceeds message length(21)"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ASSERT_TRUE(send(QE_JOBTYPE_ZUB_SOCKET, ZUB_EV_SOCKET_XX_ANCHOR_MSG, r.body, started));
    }
    // A whole body after them is handled: the queue is in order, so the lines are in by then.
    ASSERT_TRUE(send(QE_JOBTYPE_ZUB_SOCKET, ZUB_EV_SOCKET_XX_ANCHOR_MSG, rx_body(5), started));
    ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_DISPLAY, ZUB_EV_CLOCKSYNC_DISPLAY_DAC_CCP, 1, 10s));
    EXPECT_EQ(Recorder::instance().calls(QE_JOBTYPE_ZUB_DISPLAY).size(), 1u);
    EXPECT_EQ(Recorder::instance().calls(QE_JOBTYPE_ZUB_DISPLAY)[0].body[16], 5);
    for (const Row& r : rows) {
        EXPECT_EQ(prints.count_of(r.line), 1u) << r.name;
    }
}

int main(int argc, char** argv)
{
    probe::enter_private_netns();
    char dir[] = "/tmp/engine_clocksync_test_XXXXXX";
    const bool have_dir = mkdtemp(dir) != nullptr && chdir(dir) == 0;
    testing::InitGoogleTest(&argc, argv);
    // The anchor is prepared before any job thread may read it.
    testing::AddGlobalTestEnvironment(new zub_probe_platform(table(), [] { cst::prepare_anchor(400, 0xE400); }));
    const int rc = RUN_ALL_TESTS();
    if (have_dir) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    return rc;
}
