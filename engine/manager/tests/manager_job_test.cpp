// The manager job entry on the platform running the engine's job table: a report sent to a
// manager reaches the selector of its tag with the platform's whole message length, and its
// raw blink reaches the display job.
#include <gtest/gtest.h>

#include <cstring>

#include "comm_test_support.h"
#include "manager_test_support.h"
#include "zub_manager.h"
#include "zub_msg.h"
#include "zub_public.h"

using namespace std::chrono_literals;
using ct::Recorder;

namespace {

constexpr WORD16 kAnc = 17;
constexpr WORD64 kAncHw = 0x0822614400000117ull;

// The manager row runs the probe entry; its reaction hands each message to the real entry,
// inside the job, so the platform's accessors see the message being handled.
void run_manager_entry(const ct::Call& c)
{
    zub_manager_job_entry(ZUB_MANAGER_STATE_RUNNING, c.msgId, const_cast<BYTE*>(c.body.data()), nullptr, 0);
}

}  // namespace

TEST(engine_manager_Job, ReportsReachTheirSelectorAndTheDisplayJob)
{
    Recorder::instance().clear();
    zub_context()->anchors[kAnc].init(kAncHw, kAnc);
    Recorder::instance().set_reaction(QE_JOBTYPE_ZUB_MANAGER_1, run_manager_entry);

    struct Row {
        const char* what;
        WORD32 event;
        std::vector<BYTE> msg;
        WORD16 selector_type;
        RawBlinkBytes raw;
    };
    std::vector<BYTE> arrival = mt::arrival_msg(kAnc, 0x21, 37, 30);
    arrival[2] = 0;  // declared payload length 0: the platform's length still rules
    const Row rows[] = {
        {"arrival, tag 37", ZUB_EV_SOCKET_XX_ANCHOR_MSG, arrival, QE_JOBTYPE_ZUB_SELECTOR_1,
         {37, 0, 0, 0, 0, 0, 0, 0, 0x17, 0x01, 0x00, 0x00, 0x44, 0x61, 0x22, 0x08, 0x21}},
        {"ranging, short id 0x0105", ZUB_EV_SOCKET_TOF_ANCHOR_MSG, mt::ranging_msg(kAnc, 0x22, 0, 0x0105, 18),
         QE_JOBTYPE_ZUB_SELECTOR_9,
         {0x05, 0x01, 0, 0, 0, 0, 0, 0, 0x17, 0x01, 0x00, 0x00, 0x44, 0x61, 0x22, 0x08, 0x22}},
    };
    size_t n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ++n;
        ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_SOCKET, [&] {
            zub_asyn_msg_send(r.event, r.msg.data(), static_cast<WORD16>(r.msg.size()),
                              &zub_context()->jid_manager[1]);
        }));
        ASSERT_TRUE(Recorder::instance().wait_for(r.selector_type, ZUB_EV_MANAGER_XX_ANCHOR_MSG, 1, 5s));
        ASSERT_TRUE(Recorder::instance().wait_for(QE_JOBTYPE_ZUB_DISPLAY, ZUB_EV_SELECTOR_DISPLAY_RAW_BLIBK, n, 5s));
        const auto to_selector = Recorder::instance().calls(r.selector_type, ZUB_EV_MANAGER_XX_ANCHOR_MSG);
        ASSERT_EQ(to_selector.size(), 1u);
        EXPECT_EQ(to_selector[0].body, r.msg);
        EXPECT_EQ(to_selector[0].len, r.msg.size());
        const auto to_display = Recorder::instance().calls(QE_JOBTYPE_ZUB_DISPLAY, ZUB_EV_SELECTOR_DISPLAY_RAW_BLIBK);
        ASSERT_EQ(to_display.size(), n);
        EXPECT_EQ(to_display.back().body, std::vector<BYTE>(r.raw.begin(), r.raw.end()));
    }
    Recorder::instance().clear();
}
