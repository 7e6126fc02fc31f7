// The selector job's state table over a fake port.
#include "selector_fixture.h"
#include "zub_selector_job.h"
#include "zub_timer.h"

using namespace selector_test;

namespace {

class FakePort : public SelectorJobPort {
public:
    void answer_start() override { ++answers; }
    WORD32 start_loop_timer(BYTE type, WORD32 value, WORD32 period_ms) override
    {
        EXPECT_EQ(type, 140);
        EXPECT_EQ(value, 0u);
        EXPECT_EQ(period_ms, 10u);
        ++timers;
        return next_timer;
    }
    int answers = 0;
    int timers = 0;
    WORD32 next_timer = 7;
};

}  // namespace

TEST(SelectorJob, StatesAndEvents)
{
    reset_context();
    set_anchor(2, 0xA2, 0, 0, 0);
    const std::vector<BYTE> report = toa_msg(0x32, 2, 1, 0x99, 100, 800 << 6);
    struct Step { WORD32 event; std::vector<BYTE> data; WORD16 next; int answers; int timers; };
    struct Row { const char* name; std::vector<Step> steps; };
    const Row rows[] = {
        {"start in state 0", {{0x30000, {}, 1, 1, 1}, {0x30000, {}, 1, 1, 1}}},
        {"power-on first, start later", {{6000, {}, 1, 0, 0}, {0x30000, {}, 1, 1, 1}, {0x30000, {}, 1, 1, 1}}},
        {"6002 in state 0", {{6002, {}, 1, 0, 0}}},
        {"other events wait", {{0x60000, report, 0, 0, 0}, {2030, {}, 0, 0, 0}}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Harness h;
        FakePort port;
        WORD16 state = 0;
        for (const Step& s : r.steps) {
            state = zub_selector_step(h.sel, port, state, s.event, s.data.empty() ? nullptr : s.data.data(),
                                      static_cast<WORD32>(s.data.size()), 0);
            EXPECT_EQ(state, s.next);
            EXPECT_EQ(port.answers, s.answers);
            EXPECT_EQ(port.timers, s.timers);
        }
        EXPECT_EQ(h.sel.tags.find_key(0x99), nullptr);
    }
    // A refused timer leaves the job answering a later start event again.
    Harness h;
    FakePort port;
    port.next_timer = 0xFFFFFFFFu;
    EXPECT_EQ(zub_selector_step(h.sel, port, 0, 0x30000, nullptr, 0, 0), 1);
    EXPECT_EQ(zub_selector_step(h.sel, port, 1, 0x30000, nullptr, 0, 0), 1);
    EXPECT_EQ(port.answers, 2);
}

TEST(SelectorJob, SolveTickRunsTheRoundOnlyForItsTimerType)
{
    reset_context();
    set_anchor(9, 0xB009, 30, 5, 3, ZUB_ANCHOR_WORKING_MODE_SINGLE);
    zub_context()->single_blink_count = 1;
    struct Row { WORD32 para; size_t records; };
    for (const Row r : {Row{0x8B000000u, 0}, Row{0x8C000000u, 1}, Row{0x8C000005u, 1}}) {
        Harness h;
        FakePort port;
        h.sel.process_toa_report(&zub_context()->anchors[9], 1, 0x44, 1.0);
        h.now += 20;
        EXPECT_EQ(zub_selector_step(h.sel, port, 1, 2030, nullptr, 0, r.para), 1);
        EXPECT_EQ(h.records.size(), r.records) << std::hex << r.para;
    }
}

TEST(SelectorJob, ReportsByFrameType)
{
    reset_context();
    set_anchor(2, 0xA2, 0, 0, 0);
    struct Row { std::vector<BYTE> msg; WORD64 tag; bool stored; };
    std::vector<BYTE> four = toa_msg(0x32, 2, 1, 0x91, 100, 800 << 6);
    four.resize(4);
    std::vector<BYTE> unknown = toa_msg(0x32, 2, 1, 0x92, 100, 800 << 6);
    unknown[4] = 0x34;
    const Row rows[] = {
        {toa_msg(0x32, 2, 1, 0x90, 100, 800 << 6), 0x90, true},
        {toa_msg(0x33, 2, 1, 0x93, 100, 800 << 6), 0x93, true},
        {tof_msg(2, 1, 0x94, 100), 0x94, true},
        {four, 0x91, false},
        {unknown, 0x92, false},
    };
    Harness h;
    FakePort port;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.tag);
        EXPECT_EQ(zub_selector_step(h.sel, port, 1, 0x60000, r.msg.data(), static_cast<WORD32>(r.msg.size()), 0), 1);
        EXPECT_EQ(h.sel.tags.find_key(r.tag) != nullptr, r.stored);
    }
    EXPECT_EQ(port.answers, 0);
}
