// Anchor replies, the reply wait and its timer.
#include <cstdio>
#include <mutex>
#include <vector>

#include "CNPlatLogLimit.h"
#include "handler_fixture.h"
#include "zub_anchor_id.h"
#include "zub_shared_field.h"

namespace {

using ctl::Bytes;
using ctl::range_reply;

class engine_control_Response : public ctl::HandlerTest {
protected:
    // The anchors of local ids 0..n-1, A, B and C first, the others prepared with a link. An id
    // that a test before mapped keeps that test's hardware id; a free one is given a hardware id
    // not mapped yet, which the map puts at the lowest free id.
    std::vector<Anchor*> first_anchors(unsigned n)
    {
        std::vector<WORD64> mapped(n, 0);
        {
            std::lock_guard<std::mutex> lock(c->anchor_id_manager.lock);
            for (auto it = c->anchor_id_manager.mappings.begin(); it; ++it) {
                if (it->local_id < n) {
                    mapped[it->local_id] = it->id;
                }
            }
        }
        std::vector<Anchor*> out = {a, b, cc};
        WORD64 next_hw = 0x10;
        for (unsigned i = static_cast<unsigned>(out.size()); i < n; ++i) {
            if (mapped[i] == 0) {
                while (zub_search_anchor_id(next_hw) != ZUB_INVALID_ANCHOR_ID) {
                    ++next_hw;
                }
                mapped[i] = next_hw;
            }
            out.push_back(prepare(mapped[i], true));
        }
        return out;
    }
};

// Result lines ride on the next reply, only while a test awaits them: a communication result
// from a receiver that still owes one, a range result while a range pair or twr test waits for
// it. A reply keeps 64 KiB of them and counts the rest in one line.
TEST_F(engine_control_Response, ResultsOnTheNextReply)
{
    const Bytes comm = {0x82, 0x07, 0x00, 0x00, 0x00};
    auto receiver = [](const Anchor* x) {
        char hw[24];
        std::snprintf(hw, sizeof hw, "%lx", x->hardware_id);
        return std::string("<receiver addr=\"") + hw + "\" rx_data=\"7\" rx_others=\"0\" />";
    };
    // Forty anchors, every one a transmitter: each owes 39 results, 1560 in all.
    const std::vector<Anchor*> forty = first_anchors(40);
    for (unsigned i = 0; i < forty.size(); ++i) {
        ASSERT_EQ(forty[i]->id, i);
    }
    struct Row {
        const char* name;
        const char* request;  // the test under way, if any
        unsigned anchors;
        Anchor* stray;              // sends one result first, if any
        std::vector<Anchor*> from;  // then one result each, in turn, `rounds` times
        int rounds;
        Bytes payload;
        int kept;  // the first results sent that the reply holds
        const char* logged;  // a line the row logs once, if any
    };
    const char* comm_from_a1 = "<r type=\"comm test\"><x addr=\"a1\"/></r>";
    const Row rows[] = {
        {"idle, one comm result", nullptr, 3, nullptr, {a}, 1, comm, 0,
         "comm test result from anchor(a1) that no test awaits, dropped."},
        {"idle, 200000 comm results", nullptr, 3, nullptr, {a}, 200000, comm, 0, nullptr},
        {"a1 transmits, b2 and c3 report", comm_from_a1, 3, nullptr, {b, cc}, 1, comm, 2, nullptr},
        {"a1 transmits, b2 and c3 report 5 times each", comm_from_a1, 3, nullptr, {b, cc}, 5, comm, 2, nullptr},
        {"a1 transmits and reports, then b2 and c3", comm_from_a1, 3, a, {b, cc}, 1, comm, 2, nullptr},
        {"each of 40 transmits, each receiver reports", "<r type=\"comm test\"/>", 40, nullptr, forty, 39, comm,
         1560, nullptr},
        {"idle, one range result", nullptr, 3, nullptr, {a}, 1, range_reply(0x84), 0,
         "range result 0x84 from anchor(a1) that no test awaits, dropped."},
        {"idle, 200000 range results", nullptr, 3, nullptr, {a}, 200000, range_reply(0x84), 0, nullptr},
    };
    request("<r type=\"zub cfg\"/>");
    ASSERT_EQ(ports.replies.size(), 1u);
    const std::string zub_cfg = ports.replies[0];
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        c->anchor_count = r.anchors;
        if (r.request != nullptr) {
            request(r.request);
        }
        ports.replies.clear();
        ports.frames.clear();
        prints.clear();
        CN_LogLimit::restart_all();
        if (r.stray != nullptr) {
            reply(r.stray, r.payload);
        }
        std::vector<const Anchor*> sent;
        for (int i = 0; i < r.rounds; ++i) {
            for (Anchor* x : r.from) {
                reply(x, r.payload);
                sent.push_back(x);
            }
        }
        EXPECT_EQ(h->expectedRxResponseNum, 0);
        EXPECT_TRUE(ports.frames.empty());
        EXPECT_TRUE(ports.replies.empty());
        request("<r type=\"zub cfg\"/>");
        // The bound: lines are kept while the text stays within 65536 bytes.
        std::string head;
        int dropped = 0;
        for (int i = 0; i < r.kept; ++i) {
            const std::string line = receiver(sent[static_cast<size_t>(i)]);
            if (head.size() + line.size() <= 65536) {
                head += line;
            } else {
                ++dropped;
            }
        }
        ASSERT_EQ(ports.replies.size(), 1u);
        EXPECT_EQ(ports.replies[0], head + zub_cfg);
        size_t bound_lines = 0;
        for (const std::string& line : prints.lines()) {
            bound_lines += line.find("result lines past") != std::string::npos ? 1 : 0;
        }
        EXPECT_EQ(bound_lines, dropped != 0 ? 1u : 0u);
        EXPECT_EQ(prints.count_of("SendXMLResponse: " + std::to_string(dropped) +
                                  " result lines past 65536 bytes of the reply dropped."),
                  dropped != 0 ? 1u : 0u);
        if (r.logged != nullptr) {
            EXPECT_EQ(prints.count_of(r.logged), 1u);
        }
    }
}

TEST_F(engine_control_Response, ShortRepliesAreNotHandled)
{
    struct Row { Bytes payload; const char* line; };
    const Row rows[] = {
        {{0x82, 0x01, 0x00, 0x02}, "reply 0x82 of 4 bytes is shorter than 5, not handled."},
        {{0x83, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}, "reply 0x83 of 11 bytes is shorter than 12, not handled."},
        {{0x84}, "reply 0x84 of 1 bytes is shorter than 12, not handled."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        h->SetupResponse(r.payload[0], 2);
        h->comm_results_due.assign(3, 0);
        h->comm_results_due[a->id] = 2;  // a1 is awaited as a receiver and as a ranging anchor
        h->ranging_anchors[0] = a;
        prints.clear();
        EXPECT_EQ(reply(a, r.payload), 0);
        EXPECT_EQ(h->expectedRxResponseNum, 2);
        EXPECT_EQ(h->xmlResponse, "");
        EXPECT_EQ(prints.count_of(r.line), 1u);
    }
}

TEST_F(engine_control_Response, DispatchByExpectation)
{
    struct Row { BYTE code; BYTE code2; int count; BYTE reply; int count_after; bool timer_killed; };
    const Row rows[] = {
        {0x81, 0, 1, 0x81, 0, true},      // the awaited reply ends the wait
        {0x82, 0, 2, 0x81, 2, false},     // a done frame lowers no count of results
        {0x84, 0, 1, 0x81, 1, false},     // nor ends a range pair's wait
        {0x85, 0, 1, 0x10, 1, false},     // nor does a code nobody knows end a power test
        {0x83, 0x84, -1, 0x81, -1, false},// a stray during an unlimited wait: ignored, deadline kept
        {0x83, 0x84, -1, 0x83, -1, false},
        {0x83, 0x84, -1, 0x84, 0, true},  // the final reply
        {0x85, 0, 1, 0x85, 0, true},      // power test done ("unkown code")
        {0x85, 0, 1, 0x82, 1, false},     // a comm result no test awaits: the power test still waits
        {0x85, 0, 1, 0x84, 1, false},     // so does a range result
        {0x82, 0, 2, 0x82, 1, false},     // an awaited comm result
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << int(r.code) << "/" << int(r.reply));
        h->SetupResponse(r.code, r.count);
        h->expectedResponseCode2 = r.code2;
        // a1 is the receiver of a communication test and an anchor of a range pair.
        h->comm_results_due.assign(3, 0);
        h->comm_results_due[a->id] = 2;
        h->ranging_anchors[0] = a;
        h->WaitForResponse(30);
        const WORD32 timer = h->tmWatiRspTimer;
        ports.timers_deleted.clear();
        Bytes payload = range_reply(r.reply);
        payload[1] = 5;  // a 0x82 reads rx_data 5
        reply(a, payload);
        EXPECT_EQ(h->expectedRxResponseNum, r.count_after);
        EXPECT_EQ(ports.timers_deleted, r.timer_killed ? std::vector<WORD32>{timer} : std::vector<WORD32>{});
        EXPECT_EQ(h->tmWatiRspTimer, r.timer_killed ? 0xFFFFFFFFu : timer);
        h->tmWatiRspTimer = 0xFFFFFFFF;
        h->expectedRxResponseNum = 0;
        h->xmlResponse.clear();
    }
    EXPECT_EQ(prints.count_of("unkown code 133."), 1u);
}

TEST_F(engine_control_Response, WaitEndsOnItsTimerAndTheTextLeadsTheNextAppendingReply)
{
    h->SetupResponse(0x85, 1);
    h->WaitForResponse(35);
    ASSERT_EQ(ports.timers_set, (std::vector<std::pair<BYTE, WORD32>>{{121, 35}}));
    // Busy: requests are dropped without reply.
    request("<r type=\"zub cfg\"/>");
    EXPECT_TRUE(ports.replies.empty());
    EXPECT_EQ(prints.count_of("expectedRxResponseNum  = 1, expectedResponseCode = 133, push this (<r type=\"zub cfg\"/>) xml Req to queue."), 1u);

    h->WaitAnchorRspTimeout();
    EXPECT_EQ(prints.count_of("Response timed out : outstanding expectedRxResponseNum 1"), 1u);
    EXPECT_EQ(h->expectedRxResponseNum, 0);
    EXPECT_EQ(h->tmWatiRspTimer, 0xFFFFFFFFu);
    request("<r type=\"anchor init all\"/>");
    EXPECT_EQ(ports.replies, std::vector<std::string>{" error=\"No response from anchor\" /><ind type=\"anchor init\"/>\n"});

    // A reply that starts by assigning drops the text.
    h->SetupResponse(0x85, 1);
    h->WaitAnchorRspTimeout();
    ports.replies.clear();
    request("<r type=\"tag training\"/>");
    EXPECT_EQ(ports.replies, std::vector<std::string>{"<ind type=\"tag training\"></ind>\n"});
}

TEST_F(engine_control_Response, WaitEndsAtOnceOnTheAwaitedReply)
{
    h->SetupResponse(0x85, 1);
    h->WaitForResponse(35);
    reply(a, {0x85});
    EXPECT_EQ(h->expectedRxResponseNum, 0);
    EXPECT_EQ(ports.timers_deleted, std::vector<WORD32>{100});
    request("<r type=\"anchor init all\"/>");
    EXPECT_EQ(ports.replies, std::vector<std::string>{"<ind type=\"anchor init\"/>\n"});
}

TEST_F(engine_control_Response, ANewWaitCancelsTheRunningTimer)
{
    h->SetupResponse(0x85, 2);
    h->WaitForResponse(35);
    h->WaitForResponse(10);
    EXPECT_EQ(ports.timers_deleted, std::vector<WORD32>{100});
    EXPECT_EQ(h->tmWatiRspTimer, 101u);
    h->WaitForResponse(0);  // arms nothing
    EXPECT_EQ(ports.timers_set.size(), 2u);

    ports.refuse_timers = true;
    h->WaitForResponse(5);
    EXPECT_EQ(prints.count_of("WaitForResponse: set timer failed."), 1u);
    EXPECT_EQ(h->expectedRxResponseNum, 0);
    EXPECT_EQ(h->xmlResponse, " error=\"No response from anchor\" />");
}

TEST_F(engine_control_Response, ConfigurationRequest)
{
    // Before "anchor cfg": only marked.
    Bytes b_req = {0x42, 1, 2, 3, 4, 5, 6, 7, 8, 'v', '1', '.', '2', 0, 'x'};
    reply(a, b_req);
    EXPECT_TRUE(zub_load(a->is_req_cfg));
    EXPECT_EQ(a->configured, 0);
    EXPECT_STREQ(a->version, "");
    EXPECT_EQ(prints.count_of("ZUB not receive config info from controller, discard anchor(0.0.0.0) config req."), 1u);

    // After it, with RTLS stopped: version and configured, no start frame.
    c->anchor_cfg_finish = true;
    reply(a, b_req);
    EXPECT_STREQ(a->version, "v1.2");
    EXPECT_EQ(a->configured, 1);
    EXPECT_TRUE(ports.frames.empty());
    EXPECT_EQ(prints.count_of("HandleConfigRequest: Anc(0.0.0.0) 0 : " + std::to_string(a->id) +
                              " : connected as ( Slave). Antenna Delay 0 0."), 1u);

    // With RTLS running, a second later: the start frame; a 64-character version is cut to 63.
    c->zubRTLSStarted = 1;
    ports.now_ms += ZUB_CFG_REQUEST_PERIOD_MS;
    Bytes long_req(9, 0x42);
    long_req.insert(long_req.end(), 64, 'v');
    reply(a, long_req);
    EXPECT_EQ(std::string(a->version), std::string(63, 'v'));
    EXPECT_EQ(ports.frames_to(a->id), (std::vector<Bytes>{{0x57, 0x01}}));
    // A version without NUL at the end of the payload stays within it.
    reply(b, {0x42, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 'b'});
    EXPECT_STREQ(b->version, "ab");
}

// Configuration requests are answered once a second per anchor: the start frame and the
// "connected as" line of each anchor that comes up, however many come up together; the requests
// an anchor repeats within its second are counted and dropped under a rate-limited line.
TEST_F(engine_control_Response, ConfigurationRequestsAnsweredOnceASecondPerAnchor)
{
    struct Row {
        const char* name;
        unsigned anchors;
        unsigned each;      // requests of every anchor, one after another
        WORD64 step_ms;     // the clock moves this much after each request
        unsigned answered;  // per anchor
    } rows[] = {
        {"200 anchors come up within one second", 200, 1, 4, 1},
        {"an anchor repeating its request for a second", 1, 1000, 1, 1},
        {"an anchor repeating its request for three seconds", 1, 3000, 1, 3},
        {"an anchor asking once a second", 1, 5, 1000, 5},
        {"an anchor asking a little sooner", 1, 4, 999, 2},
    };
    c->anchor_cfg_finish = true;
    c->zubRTLSStarted = 1;
    WORD64 next_hw = 0x5000;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        h->cfg_answer_from_ms.clear();
        h->cfg_requests_dropped = 0;
        ports.frames.clear();
        prints.clear();
        CN_LogLimit::restart_all();
        std::vector<Anchor*> anchors;
        for (unsigned i = 0; i < r.anchors; ++i) {
            anchors.push_back(prepare(next_hw++, true));
        }
        for (Anchor* x : anchors) {
            for (unsigned i = 0; i < r.each; ++i) {
                reply(x, {0x42});
                ports.now_ms += r.step_ms;
            }
        }
        size_t connected = 0, drop_lines = 0;
        for (const std::string& line : prints.lines()) {
            connected +=
                line.find(" : connected as ( Slave). Antenna Delay 0 0.") != std::string::npos ? 1 : 0;
            drop_lines +=
                line.find("HandleConfigRequest: Anc(0.0.0.0) asks again within a second, dropped (") !=
                        std::string::npos
                    ? 1
                    : 0;
        }
        EXPECT_EQ(connected, r.anchors * r.answered);
        for (Anchor* x : anchors) {
            EXPECT_EQ(ports.frames_to(x->id), std::vector<Bytes>(r.answered, Bytes{0x57, 0x01})) << x->id;
        }
        EXPECT_EQ(h->cfg_requests_dropped, r.anchors * (r.each - r.answered));
        // As they stand up to the burst, and at most one carrying a count should the row straddle a second.
        EXPECT_GE(drop_lines, std::min<size_t>(h->cfg_requests_dropped, CN_LogLimit::kBurst));
        EXPECT_LE(drop_lines, std::min<size_t>(h->cfg_requests_dropped, CN_LogLimit::kBurst + 1));
    }
}

// A peer repeating input that is logged (an anchor's reply, a controller's request) gets its
// first lines of a second into the log and then one a second carrying the count held back,
// however fast it sends.
TEST_F(engine_control_Response, LinesAPeerCausesAreRateLimited)
{
    struct Row { Bytes payload; const char* request; const char* line; };
    const Row rows[] = {
        {{0x10}, nullptr, "unkown code 16."},
        {{0x82, 0x07, 0x00, 0x00, 0x00}, nullptr, "comm test result from anchor(a1) that no test awaits, dropped."},
        {range_reply(0x84), nullptr, "range result 0x84 from anchor(a1) that no test awaits, dropped."},
        {{0x42, 0, 0, 0, 0, 0, 0, 0, 0}, nullptr,
         "ZUB not receive config info from controller, discard anchor(0.0.0.0) config req."},
        {{}, "<r type=\"zub cfg\"", "XML(<r type=\"zub cfg\") Error, 17. "},
        {{}, "<r kind=\"zub cfg\"/>", " XML Error, can not find type element.(<r kind=\"zub cfg\"/>)."},
        {{}, "<r type=\"zub config\"/>", "unkown type:zub config."},
    };
    c->anchor_cfg_finish = false;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        prints.clear();
        for (int i = 0; i < 1000; ++i) {
            if (r.request != nullptr) {
                request(r.request);
            } else {
                reply(a, r.payload);
            }
        }
        size_t written = 0;
        for (const std::string& line : prints.lines()) {
            written += line.find(r.line) != std::string::npos ? 1 : 0;
        }
        // 10 as they stand, and at most one carrying a count should the loop straddle a second.
        EXPECT_GE(written, CN_LogLimit::kBurst);
        EXPECT_LE(written, CN_LogLimit::kBurst + 1);
        h->xmlResponse.clear();
    }
}

TEST_F(engine_control_Response, MalformedMessagesAreDropped)
{
    const Bytes bad_id = {0x10, 0x27, 0x01, 0x00, 0x81};  // local id 10000
    EXPECT_EQ(h->HandleResponse(bad_id.data(), 5), -1);
    EXPECT_EQ(prints.count_of("invalid anc id 10000."), 1u);
    const Bytes head_only = {0x00, 0x00};
    EXPECT_EQ(h->HandleResponse(head_only.data(), 2), -1);
    const Bytes claims_more = {0x00, 0x00, 0x09, 0x00, 0x81};
    EXPECT_EQ(h->HandleResponse(claims_more.data(), 5), -1);
    EXPECT_EQ(reply(a, {}), -1);
}

}  // namespace
