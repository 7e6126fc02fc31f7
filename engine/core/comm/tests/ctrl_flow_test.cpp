// The controller flow as plain code: which lines the control job runs, when the socket job
// may hand over another line, and when a take wakes the socket job.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zub_ctrl_flow.h"

namespace {

std::vector<int> g_wakes;

void record_wake(int delay_ms) { g_wakes.push_back(delay_ms); }

// Runs a script over a fresh flow: 'h' a line handed over, 'a' a controller accepted, 'g' the
// controller gone, 'p' reading stopped, 'r' reading resumed, 't' a line taken (its verdict
// appended: 'R' run, 'D' dropped).
std::string run_script(CtrlFlow& flow, const std::string& script)
{
    std::string verdicts;
    for (char op : script) {
        switch (op) {
        case 'h': flow.handed_over(); break;
        case 'a': flow.accepted(); break;
        case 'g': flow.gone(); break;
        case 'p': flow.set_paused(true); break;
        case 'r': flow.set_paused(false); break;
        case 't': verdicts += flow.take() ? 'R' : 'D'; break;
        default: ADD_FAILURE() << "bad op " << op;
        }
    }
    return verdicts;
}

TEST(CtrlFlow, LinesRunOnlyForTheControllerThatSentThem)
{
    struct Row {
        const char* name;
        const char* script;
        const char* verdicts;
        WORD64 in_flight;
        std::vector<int> wakes;
    };
    const Row rows[] = {
        {"lines before any controller run", "hhtt", "RR", 0, {}},
        {"lines of the connected controller run", "ahhthtt", "RRR", 0, {}},
        {"lines in flight when the controller went are dropped", "ahhgtt", "DD", 0, {}},
        {"a new controller's lines run after the old ones are dropped", "ahhgahttt", "DDR", 0, {}},
        {"a new controller without a close seen: older lines dropped", "ahhahttt", "DDR", 0, {}},
        {"a controller gone with nothing in flight drops nothing later", "ahtgaht", "RR", 0, {}},
        {"lines after the controller went and none came are dropped", "ahtght", "RD", 0, {}},
        {"handed over, not taken: in flight", "hhhht", "R", 3, {}},
        {"a take while reading is stopped wakes the socket job at once", "ahhhhpt", "R", 3, {0}},
        {"each take while stopped wakes it", "ahhhhptt", "RR", 2, {0, 0}},
        {"no wake once reading resumed", "ahhprtt", "RR", 0, {}},
        {"more takes than lines handed over count nothing in flight", "ttth", "RRR", 0, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CtrlFlow flow;
        g_wakes.clear();
        flow.set_waker(record_wake);
        EXPECT_EQ(run_script(flow, row.script), row.verdicts);
        EXPECT_EQ(flow.in_flight(), row.in_flight);
        EXPECT_EQ(g_wakes, row.wakes);
    }
}

TEST(CtrlFlow, AnotherLineOnlyWhileFewAreInFlightAndRepliesAreTaken)
{
    struct Row {
        const char* name;
        int handed;
        int taken;
        size_t unsent;
        bool may;
    };
    const Row rows[] = {
        {"idle", 0, 0, 0, true},
        {"one short of the bound", static_cast<int>(CtrlFlow::kLinesInFlight) - 1, 0, 0, true},
        {"at the bound", static_cast<int>(CtrlFlow::kLinesInFlight), 0, 0, false},
        {"at the bound, one taken", static_cast<int>(CtrlFlow::kLinesInFlight), 1, 0, true},
        {"replies just under the mark", 0, 0, CtrlFlow::kReplyMark - 1, true},
        {"replies at the mark", 0, 0, CtrlFlow::kReplyMark, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CtrlFlow flow;
        run_script(flow, std::string(static_cast<size_t>(row.handed), 'h') + std::string(static_cast<size_t>(row.taken), 't'));
        EXPECT_EQ(flow.may_hand_over(row.unsent), row.may);
    }
}

}  // namespace

namespace {

// The stall rule on a clock the test drives: a write leaves `waiting` bytes queued and the
// socket took some (`took`) or none.
TEST(CtrlFlow, AControllerStallsAfter30sOfRepliesWaitingUntaken)
{
    struct Write {
        WORD64 at_ms;
        size_t waiting;
        bool took;
    };
    struct Row {
        const char* name;
        std::vector<Write> writes;
        WORD64 asked_at_ms;
        bool stalled;
    };
    const Row rows[] = {
        {"nothing ever waited", {}, 100000, false},
        {"replies waiting, none taken for 30 s", {{1000, 100, false}}, 31000, true},
        {"a millisecond short of it", {{1000, 100, false}}, 30999, false},
        {"writes that take nothing keep the start", {{1000, 100, false}, {20000, 200, false}}, 31000, true},
        {"bytes taken at 11 s start it again", {{1000, 100, false}, {11000, 50, true}}, 31000, false},
        {"and 30 s after those", {{1000, 100, false}, {11000, 50, true}}, 41000, true},
        {"all taken: idle however long", {{1000, 100, false}, {2000, 0, true}}, 1000000000, false},
        {"waiting again after all went starts afresh", {{1000, 100, false}, {2000, 0, true}, {50000, 10, false}},
         79999, false},
        {"and stalls 30 s after that", {{1000, 100, false}, {2000, 0, true}, {50000, 10, false}}, 80000, true},
        {"a clock read before the start", {{1000, 100, false}}, 999, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ReplyStall stall;
        for (const Write& w : row.writes) {
            stall.wrote(w.waiting, w.took, w.at_ms);
        }
        EXPECT_EQ(stall.stalled(row.asked_at_ms), row.stalled);
        stall.reset();  // the controller went
        EXPECT_FALSE(stall.stalled(row.asked_at_ms));
    }
}

}  // namespace
