// The bound on tag records: a new tag under the bound, at the bound with the longest-silent
// tag silent long enough or not, a forgotten tag coming back, another selector freeing its
// silent tag, the refused tag marked for the frame router's gate, and the rate limit of the
// lines that count refusals.
#include <set>
#include <string>

#include "selector_fixture.h"

using namespace selector_test;

namespace {

constexpr unsigned kLimit = 3;
constexpr WORD64 kSilence = 60000;

// One arrival (or, ranging, one range) of `tag` from anchor `anchor`, `after_ms` after the
// previous one.
struct Report {
    WORD64 after_ms;
    WORD64 tag;
    BYTE seq;
    WORD16 anchor = 1;
    bool ranging = false;
};

void report(Harness& h, const Report& r)
{
    h.now += r.after_ms;
    if (r.ranging) {
        const std::vector<BYTE> m =
            tof_msg(r.anchor, r.seq, static_cast<WORD16>(r.tag), static_cast<int32_t>(1000 + r.tag));
        ASSERT_EQ(h.sel.recv_tof_report(m.data(), static_cast<WORD32>(m.size())), 0);
        return;
    }
    const std::vector<BYTE> m = toa_msg(0x32, r.anchor, r.seq, r.tag, 1000 + r.tag, 800 << 6);
    ASSERT_EQ(h.sel.recv_toa_report(m.data(), static_cast<WORD32>(m.size())), 0);
}

std::set<WORD64> held_tags(const Selector& sel)
{
    std::set<WORD64> ids;
    for (auto it = sel.tags.begin(); it; ++it) {
        ids.insert(it->id);
    }
    return ids;
}

// The captured lines about tag records, in order.
std::vector<std::string> record_lines()
{
    std::vector<std::string> out;
    for (const std::string& l : LogCapture::lines()) {
        if (l.find("record") != std::string::npos || l.find("dropped") != std::string::npos) {
            out.push_back(l);
        }
    }
    return out;
}

class SelectorTagBound : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_context();
        set_anchor(1, 0xA001, 0, 0, 0);
        set_anchor(2, 0xA002, 10, 0, 0);
    }
};

}  // namespace

TEST_F(SelectorTagBound, NewTagUnderAndAtTheBound)
{
    struct Row {
        const char* name;
        std::vector<Report> reports;
        std::set<WORD64> held;
        WORD64 refused;
        WORD64 taken_over;
        std::vector<std::string> lines;
        WORD64 fresh_tag;  // its round holds only the last report's arrival (0: none checked)
        BYTE fresh_seq;
        // One entry per held tag whose round holds arrivals (TDoA) or ranges (ranging): none
        // of a forgotten tag.
        Selector::OpenRoundCounts open;
        std::set<WORD64> marked{};  // marked refused for the frame router's gate at the end
    };
    const Row rows[] = {
        {"under the bound: a new record",
         {{0, 1, 1}, {0, 2, 1}, {1000, 3, 1}},
         {1, 2, 3},
         0,
         0,
         {},
         3,
         1,
         {3, 0}},
        {"at the bound, the oldest silent 60 s: its record taken over",
         {{0, 1, 1}, {0, 1, 1, 2}, {0, 2, 1}, {0, 3, 1}, {59000, 2, 2}, {0, 3, 2}, {1000, 4, 7}},
         {2, 3, 4},
         0,
         1,
         {"new tag 4 takes the record of tag 1, silent 60 s (1 taken over so far)"},
         4,
         7,
         {3, 0}},
        {"at the bound, the oldest heard 59.999 s ago: dropped and counted",
         {{0, 1, 1}, {0, 2, 1}, {0, 3, 1}, {59999, 4, 1}, {0, 4, 1, 2}},
         {1, 2, 3},
         2,
         0,
         {"new tag 4 dropped: 3 tag records held (1 dropped so far)",
          "new tag 4 dropped: 3 tag records held (2 dropped so far)"},
         0,
         0,
         {3, 0},
         {4}},
        {"a forgotten tag comes back as a new tag",
         {{0, 1, 5}, {0, 1, 5, 2}, {0, 2, 1}, {0, 3, 1}, {60000, 4, 1}, {0, 1, 6}},
         {1, 3, 4},
         0,
         2,
         {"new tag 4 takes the record of tag 1, silent 60 s (1 taken over so far)",
          "new tag 1 takes the record of tag 2, silent 60 s (2 taken over so far)"},
         1,
         6,
         {3, 0}},
        {"a forgotten tag's open TDoA round goes with it (the new tag ranges)",
         {{0, 1, 1}, {0, 2, 1}, {0, 3, 1}, {60000, 4, 1, 1, true}},
         {2, 3, 4},
         0,
         1,
         {"new tag 4 takes the record of tag 1, silent 60 s (1 taken over so far)"},
         0,
         0,
         {2, 1}},
        {"a forgotten tag's open ranging round goes with it",
         {{0, 1, 1, 1, true}, {0, 2, 1}, {0, 3, 1}, {60000, 4, 1}},
         {2, 3, 4},
         0,
         1,
         {"new tag 4 takes the record of tag 1, silent 60 s (1 taken over so far)"},
         4,
         1,
         {3, 0}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TagBudget budget(kLimit, kSilence);
        RefusedTags marks;
        Harness h(&budget, 0, &marks);
        LogCapture log;
        for (const Report& rep : r.reports) {
            report(h, rep);
        }
        for (WORD64 id = 1; id <= 4; ++id) {
            EXPECT_EQ(marks.refused(id, h.now), r.marked.count(id) == 1) << "tag " << id;
        }
        EXPECT_EQ(held_tags(h.sel), r.held);
        EXPECT_EQ(h.sel.tags.count, r.held.size());
        EXPECT_EQ(budget.held(), r.held.size());
        EXPECT_EQ(budget.refused(), r.refused);
        EXPECT_EQ(budget.taken_over(), r.taken_over);
        EXPECT_EQ(record_lines(), r.lines);
        const Selector::OpenRoundCounts open = h.sel.open_round_counts();
        EXPECT_EQ(open.tdoa, r.open.tdoa);
        EXPECT_EQ(open.ranging, r.open.ranging);
        if (r.fresh_tag != 0) {
            const Tag* t = h.sel.tags.find_key(r.fresh_tag);
            ASSERT_NE(t, nullptr);
            EXPECT_EQ(t->blinkReports.nBlinks, 1);
            EXPECT_EQ(t->blinkReports.seqNum, r.fresh_seq);
            EXPECT_EQ(t->blinkReports.timeFirstBlink, h.now);
        }
        h.now += 1000;
        h.sel.recv_timer_periodic_calculate();  // the open rounds of forgotten tags are gone too
        h.sel.recv_timer_periodic_calculate_tof();
    }
}

// At the bound with its own tags all heard lately, a selector asks the one whose tag has been
// silent longest; that one frees the record at its tick, and the new tag gets it next time.
TEST_F(SelectorTagBound, AnotherSelectorFreesItsSilentTag)
{
    struct Row {
        const char* name;
        WORD64 silent_ms;  // how long A's tag has not been heard when B's new tag arrives
        bool freed;
    };
    const Row rows[] = {{"silent 60 s: freed", 60000, true}, {"silent 59.999 s: kept", 59999, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TagBudget budget(2, kSilence);
        {
            Harness a(&budget, 0);
            Harness b(&budget, 1);
            LogCapture log;
            report(a, {0, 0xA1, 1});
            b.now = a.now + r.silent_ms - 1000;
            report(b, {0, 0xB1, 1});
            a.now = b.now += 1000;
            report(b, {0, 0xB2, 1});
            EXPECT_EQ(held_tags(b.sel), (std::set<WORD64>{0xB1}));
            EXPECT_EQ(budget.refused(), 1u);
            a.sel.recv_timer_periodic_calculate();
            EXPECT_EQ(held_tags(a.sel), r.freed ? std::set<WORD64>{} : std::set<WORD64>{0xA1});
            report(b, {10, 0xB2, 2});
            EXPECT_EQ(held_tags(b.sel), r.freed ? (std::set<WORD64>{0xB1, 0xB2}) : (std::set<WORD64>{0xB1}));
            EXPECT_EQ(budget.held(), 2u);
            const std::string freed_line = "tag a1 forgotten, silent 60 s: its record freed for a new tag (1 taken over so far)";
            EXPECT_EQ(log.count(freed_line), r.freed ? 1u : 0u);
        }
        EXPECT_EQ(budget.held(), 0u);  // the selectors gave their records back
    }
}

// Refusals log through the call site's limit: ten lines in a second as they stand, then at
// most one a second carrying the count of the lines held back, and the running total.
TEST_F(SelectorTagBound, RefusalLinesAreRateLimitedAndKeepTheCount)
{
    TagBudget budget(1, kSilence);
    Harness h(&budget);
    LogCapture log;
    report(h, {0, 1, 1});
    for (WORD64 tag = 100; tag < 113; ++tag) {
        report(h, {0, tag, 1});
    }
    report(h, {1000, 200, 1});
    const std::vector<std::string> lines = record_lines();
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "new tag 64 dropped: 1 tag records held (1 dropped so far)");
    EXPECT_EQ(lines[9], "new tag 6d dropped: 1 tag records held (10 dropped so far)");
    EXPECT_EQ(lines[10], "(3 lines like this held back) new tag c8 dropped: 1 tag records held (14 dropped so far)");
    EXPECT_EQ(budget.refused(), 14u);
}
