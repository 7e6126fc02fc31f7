// What a manager does with each message: its start handshake, the selector each report goes
// to, the raw-blink record it sends the display job, and the counts it keeps.
#include <gtest/gtest.h>

#include "manager_router.h"
#include "manager_test_support.h"
#include "startup/cn_scs_job.h"
#include "zub_manager.h"
#include "zub_msg_id.h"
#include "zub_public.h"

namespace {

constexpr WORD16 kAnc = 12;
constexpr WORD64 kAncHw = 0x0822614400000A0Bull;

Anchor& fresh_anchor(WORD16 id, WORD64 hw)
{
    Anchor& a = zub_context()->anchors[id];
    a.init(hw, id);
    return a;
}

}  // namespace

TEST(engine_manager_Router, HandshakeAndStates)
{
    struct Row {
        WORD16 state;
        WORD32 msg;
        WORD16 next;
        int acks;
        int start_oks;
        size_t routed;
    };
    const std::vector<BYTE> report = mt::arrival_msg(kAnc, 1, 36, 22);
    for (const Row& r : {
             Row{0, EV_CN_POWER_ON, 0, 1, 0, 0},
             Row{0, 6002, 0, 1, 0, 0},
             Row{0, ZUB_EV_CTRL_XX_INIT_START, 1, 0, 1, 0},
             Row{0, ZUB_EV_SOCKET_XX_ANCHOR_MSG, 0, 0, 0, 0},  // no report before the start
             Row{1, ZUB_EV_SOCKET_XX_ANCHOR_MSG, 1, 0, 0, 1},
             Row{1, ZUB_EV_SOCKET_TOF_ANCHOR_MSG, 1, 0, 0, 1},
             Row{1, EV_CN_POWER_ON, 1, 0, 0, 0},
             Row{1, ZUB_EV_CTRL_XX_INIT_START, 1, 0, 0, 0},
             Row{1, ZUB_EV_MANAGER_XX_ANCHOR_MSG, 1, 0, 0, 0},
         }) {
        SCOPED_TRACE(testing::Message() << "state " << r.state << " msg " << r.msg);
        fresh_anchor(kAnc, kAncHw);
        mt::RecordingOutput out;
        ManagerRouter router(out);
        EXPECT_EQ(router.handle(r.state, r.msg, report.data(), static_cast<WORD16>(report.size())), r.next);
        EXPECT_EQ(out.acks(), r.acks);
        EXPECT_EQ(out.start_oks(), r.start_oks);
        EXPECT_EQ(out.selector_sends().size(), r.routed);
        EXPECT_EQ(out.raw_blinks().size(), r.routed);
    }
}

// Every report of one tag goes to the same selector, tag id mod 18 (the short id for ranging
// reports), unchanged and with the whole length the platform gave.
TEST(engine_manager_Router, ChoosesTheSelectorByTagAndForwardsTheWholeMessage)
{
    struct Row {
        const char* what;
        WORD32 event;
        std::vector<BYTE> msg;
        bool routed;
        unsigned selector;
        WORD64 raw_tag;
    };
    const Row rows[] = {
        {"arrival of 21 bytes", ZUB_EV_SOCKET_XX_ANCHOR_MSG, mt::arrival_msg(kAnc, 7, 36, 21), false, 0, 0},
        {"arrival of 22 bytes, tag 36", ZUB_EV_SOCKET_XX_ANCHOR_MSG, mt::arrival_msg(kAnc, 7, 36, 22), true, 0, 36},
        {"arrival, tag 37", ZUB_EV_SOCKET_XX_ANCHOR_MSG, mt::arrival_msg(kAnc, 7, 37, 22), true, 1, 37},
        {"arrival, tag 0x0822614400001000", ZUB_EV_SOCKET_XX_ANCHOR_MSG,
         mt::arrival_msg(kAnc, 7, 0x0822614400001000ull, 92), true, 10, 0x0822614400001000ull},
        {"inertial arrival, tag 2^64-1", ZUB_EV_SOCKET_XX_ANCHOR_MSG,
         mt::arrival_msg(kAnc, 7, ~0ull, 122, 0x33), true, 15, ~0ull},
        {"ranging of 17 bytes", ZUB_EV_SOCKET_TOF_ANCHOR_MSG, mt::ranging_msg(kAnc, 7, 0, 0x0105, 17), false, 0, 0},
        {"ranging of 18 bytes, short id 0x0105", ZUB_EV_SOCKET_TOF_ANCHOR_MSG,
         mt::ranging_msg(kAnc, 7, 0, 0x0105, 18), true, 9, 0x105},
        {"ranging: the anchor field is not the key", ZUB_EV_SOCKET_TOF_ANCHOR_MSG,
         mt::ranging_msg(kAnc, 7, 0x0105, 36, 18), true, 0, 36},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        fresh_anchor(kAnc, kAncHw);
        mt::RecordingOutput out;
        ManagerRouter(out).handle(ZUB_MANAGER_STATE_RUNNING, r.event, r.msg.data(),
                                  static_cast<WORD16>(r.msg.size()));
        const auto sends = out.selector_sends();
        const auto raws = out.raw_blinks();
        if (!r.routed) {
            EXPECT_TRUE(sends.empty());
            EXPECT_TRUE(raws.empty());
            EXPECT_EQ(zub_context()->anchors[kAnc].blink_table_size(), 0);
            continue;
        }
        ASSERT_EQ(sends.size(), 1u);
        EXPECT_EQ(sends[0].index, r.selector);
        EXPECT_EQ(sends[0].msg, r.msg);
        ASSERT_EQ(raws.size(), 1u);
        WORD64 raw_tag = 0;
        for (int i = 7; i >= 0; --i) {
            raw_tag = (raw_tag << 8) | raws[0][static_cast<size_t>(i)];
        }
        EXPECT_EQ(raw_tag, r.raw_tag);
        EXPECT_EQ(zub_context()->anchors[kAnc].blink_entry(0).tag_id, r.raw_tag);
    }
}

// The declared payload length does not decide what is forwarded: the platform's length does.
TEST(engine_manager_Router, ForwardsByThePlatformLengthNotTheDeclaredOne)
{
    fresh_anchor(kAnc, kAncHw);
    std::vector<BYTE> msg = mt::arrival_msg(kAnc, 3, 36, 40);
    msg[2] = 0;  // declared payload length 0
    msg[3] = 0;
    mt::RecordingOutput out;
    ManagerRouter(out).handle(1, ZUB_EV_SOCKET_XX_ANCHOR_MSG, msg.data(), static_cast<WORD16>(msg.size()));
    ASSERT_EQ(out.selector_sends().size(), 1u);
    EXPECT_EQ(out.selector_sends()[0].msg.size(), 40u);
}

TEST(engine_manager_Router, RawBlinkRecordBytes)
{
    fresh_anchor(kAnc, kAncHw);
    mt::RecordingOutput out;
    const std::vector<BYTE> msg = mt::arrival_msg(kAnc, 0x5A, 0x1122334455667788ull, 22);
    ManagerRouter(out).on_arrival_report(msg.data(), static_cast<WORD16>(msg.size()));
    const RawBlinkBytes expected = {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,   // tag id
                                    0x0B, 0x0A, 0x00, 0x00, 0x44, 0x61, 0x22, 0x08,   // anchor hw id
                                    0x5A};                                           // sequence
    ASSERT_EQ(out.raw_blinks().size(), 1u);
    EXPECT_EQ(out.raw_blinks()[0], expected);

    // A ranging report: the short id zero-extended.
    mt::RecordingOutput out2;
    const std::vector<BYTE> tof = mt::ranging_msg(kAnc, 0xC3, 0xBEEF, 0x0105, 18);
    ManagerRouter(out2).on_ranging_report(tof.data(), static_cast<WORD16>(tof.size()));
    const RawBlinkBytes expected_tof = {0x05, 0x01, 0, 0, 0, 0, 0, 0,
                                        0x0B, 0x0A, 0x00, 0x00, 0x44, 0x61, 0x22, 0x08,
                                        0xC3};
    ASSERT_EQ(out2.raw_blinks().size(), 1u);
    EXPECT_EQ(out2.raw_blinks()[0], expected_tof);
}

// A tag's first report at an anchor lists it with count 0, the second makes it 1; an anchor
// slot not in use is routed to but never counted.
TEST(engine_manager_Router, CountsReportsPerAnchorAndTag)
{
    struct Row {
        const char* what;
        WORD64 hw;
        WORD16 record_id;  // the id the record holds
        int reports;
        WORD16 table_size;
        WORD64 count;
    };
    for (const Row& r : {Row{"one report", kAncHw, kAnc, 1, 1, 0}, Row{"two reports", kAncHw, kAnc, 2, 1, 1},
                         Row{"five reports", kAncHw, kAnc, 5, 1, 4}, Row{"slot not in use", 0, kAnc, 2, 0, 0},
                         Row{"record id beyond the table", kAncHw, ZUB_MAX_ANCHOR_NUM, 2, 0, 0}}) {
        SCOPED_TRACE(r.what);
        Anchor& a = zub_context()->anchors[kAnc];
        a.init(r.hw, r.record_id);
        mt::RecordingOutput out;
        const std::vector<BYTE> msg = mt::arrival_msg(kAnc, 1, 0xABCD, 22);
        for (int i = 0; i < r.reports; ++i) {
            ManagerRouter(out).on_arrival_report(msg.data(), static_cast<WORD16>(msg.size()));
        }
        EXPECT_EQ(out.selector_sends().size(), static_cast<size_t>(r.reports));
        ASSERT_EQ(a.blink_table_size(), r.table_size);
        if (r.table_size > 0) {
            EXPECT_EQ(a.blink_entry(0).tag_id, 0xABCDu);
            EXPECT_EQ(a.blink_entry(0).blink_cnt, r.count);
        }
    }
}

// The anchor id of a report is taken modulo the anchor table.
TEST(engine_manager_Router, AnchorIdBeyondTheTableWrapsAround)
{
    fresh_anchor(kAnc, kAncHw);
    mt::RecordingOutput out;
    const std::vector<BYTE> msg = mt::arrival_msg(static_cast<WORD16>(kAnc + ZUB_MAX_ANCHOR_NUM), 9, 0x77, 22);
    ManagerRouter(out).on_arrival_report(msg.data(), static_cast<WORD16>(msg.size()));
    ASSERT_EQ(out.raw_blinks().size(), 1u);
    EXPECT_EQ(out.raw_blinks()[0][8], 0x0B);
    EXPECT_EQ(zub_context()->anchors[kAnc].blink_table_size(), 1);
}
