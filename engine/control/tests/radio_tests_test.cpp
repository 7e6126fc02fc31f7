// The anchors' radio tests through the handler: status lines, command bytes, expectations,
// deadlines and replies.
#include "handler_fixture.h"
#include "zub_anchor.h"
#include "zub_radio_tests.h"

namespace {

using ctl::Bytes;
using ctl::range_reply;
using Sent = std::vector<std::pair<WORD16, Bytes>>;
using Timers = std::vector<std::pair<BYTE, WORD32>>;

const std::string kNoResponse = " error=\"No response from anchor\" />";
const std::string kZubCfg =
    "<ind type=\"zub cfg\"><zub ver=\"4.0.200617\" loglevel=\"3\" motionfilter=\"0\" state=\"0\" sync=\"0\"/></ind>\n";
const Bytes kStop = {0x57, 0x00};

std::string ranging(int i, int r)
{
    return "<ind type=\"system status\" msg=\"ranging\" initiator=\"" + std::to_string(i) + "\" responder=\"" +
           std::to_string(r) + "\"> < / ind >\n";
}

// A range pair's own reply: its distance line, or the no-response text.
std::string pair_reply(const char* initiator, const char* responder, const std::string& result)
{
    return std::string("<ind type=\"range test\"><initiator addr=\"") + initiator + "\"><responder addr=\"" +
           responder + "\" " + result + "</initiator></ind>\n";
}

class engine_control_RadioTests : public ctl::HandlerTest {
protected:
    void SetUp() override
    {
        HandlerTest::SetUp();
        configure(a, 1, 0x1111, 0x2222);
        configure(b, 2, 0x3333, 0x4444);
        configure(cc, 3, 0x5555, 0x6666);
        c->zubWirelessSync = 0;
        c->enable_motion_filter = 0;
        c->zubRTLSStarted = 0;
        h->range_run = RangeTestRun{};
    }

    void TearDown() override { h->range_run = RangeTestRun{}; }

    static void configure(Anchor* x, int idx, WORD16 rx, WORD16 tx)
    {
        std::lock_guard<GuardMutex> lock(x->cfg_lock);
        AnchorConfig cfg = x->config_snapshot();
        cfg.idx = idx;
        cfg.ant_delay_rx = rx;
        cfg.ant_delay_tx = tx;
        x->config_publish(cfg);
    }

    Sent sent() const
    {
        Sent out;
        for (const ctl::SentFrame& f : ports.frames) {
            out.emplace_back(f.anchor_id, f.bytes);
        }
        return out;
    }

    void clear_ports()
    {
        ports.frames.clear();
        ports.replies.clear();
        ports.timers_set.clear();
        ports.timers_deleted.clear();
    }

    // One row of a table: the anchors and the handler as each test starts, no port traffic
    // yet, then the request.
    void fresh_request(const std::string& text)
    {
        SetUp();
        clear_ports();
        request(text);
    }

    // The busy rule as the controller sees it: "zub cfg" dropped (false) or answered (true).
    bool answers_zub_cfg(std::string* reply = nullptr)
    {
        const size_t before = ports.replies.size();
        request("<r type=\"zub cfg\"/>");
        if (ports.replies.size() == before) {
            return false;
        }
        if (reply != nullptr) {
            *reply = ports.replies.back();
        }
        return true;
    }
};

TEST_F(engine_control_RadioTests, PowerTestPerListedAnchor)
{
    request("<r type=\"power test\"><x addr=\"a1\"/><x/><x addr=\"ff\"/><x addr=\"c3\"/><x addr=\"b2\"/></r>");
    const std::string done = "<ind type=\"power test\"> msg=\"done\"</ind>\n";
    auto status = [](int idx) {
        return "<ind type=\"system status\" msg=\"power test\" addr=\"" + std::to_string(idx) + "\"> < / ind >\n";
    };
    EXPECT_EQ(ports.replies, (std::vector<std::string>{status(1), done, status(3), done, status(2), done}));
    // c3 has no link: its frame is dropped.
    EXPECT_EQ(sent(), (Sent{{a->id, {0x58, 0x01, 0x1E, 0x00}}, {b->id, {0x58, 0x01, 0x1E, 0x00}}}));
    EXPECT_EQ(ports.timers_set, (Timers{{121, 35}, {121, 35}, {121, 35}}));
    EXPECT_EQ(h->expectedResponseCode, 0x85);
    EXPECT_EQ(h->expectedRxResponseNum, 1);
}

TEST_F(engine_control_RadioTests, CommTestFramesAndOrder)
{
    const Bytes rx = {0x53, 0x00, 0xE8, 0x03};
    const Bytes tx = {0x53, 0x01, 0xE8, 0x03};
    const Bytes t = {0x54};
    auto status = [](int idx) {
        return "<ind type=\"system status\" msg=\"comm tx\" addr=\"" + std::to_string(idx) + "\"> < / ind >\n";
    };
    auto reply_of = [](const char* hw) {
        return std::string("<ind type=\"comm test\"><transmitter addr=\"") + hw + "\"></transmitter></ind>\n";
    };
    struct Row { const char* request; Sent frames; std::vector<std::string> replies; int awaited; };
    const Row rows[] = {
        {"<r type=\"comm test\"><x addr=\"b2\"/><x addr=\"ff\"/></r>",
         {{a->id, rx}, {b->id, tx}, {a->id, t}},
         {status(2), reply_of("b2")}, 2},
        // No children: every anchor transmits in turn (c3's own frames are dropped: no link).
        {"<r type=\"comm test\"/>",
         {{b->id, rx}, {a->id, tx}, {b->id, t},
          {a->id, rx}, {b->id, tx}, {a->id, t},
          {a->id, rx}, {b->id, rx}, {a->id, t}, {b->id, t}},
         {status(1), reply_of("a1"), status(2), reply_of("b2"), status(3), reply_of("c3")}, 6},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.request);
        fresh_request(r.request);
        EXPECT_EQ(sent(), r.frames);
        EXPECT_EQ(ports.replies, r.replies);
        EXPECT_EQ(h->expectedResponseCode, 0x82);
        EXPECT_EQ(h->expectedRxResponseNum, r.awaited);  // every transmitter's receivers answer
        EXPECT_EQ(ports.timers_set, (Timers{{121, 35}}));
    }
}

TEST_F(engine_control_RadioTests, RangeFramesOfOnePair)
{
    request("<r type=\"range test\" num_ranges=\"100\" rtime=\"10000\" lna=\"0\" power=\"1f\">"
            "<x addr=\"a1\"/><x addr=\"b2\"/></r>");
    const Bytes responder = {0x5B, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x27, 0x88, 0x13,
                             0x05, 0x0D, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00};
    Bytes initiator = responder;
    initiator[2] = 0x01;
    EXPECT_EQ(sent(), (Sent{{b->id, responder}, {a->id, initiator}}));
    EXPECT_EQ(ports.replies, std::vector<std::string>{ranging(1, 2)});
    EXPECT_EQ(ports.timers_set, (Timers{{121, 10}}));
    EXPECT_EQ(h->expectedResponseCode, 0x84);
    EXPECT_EQ(h->expectedResponseCode2, 0);
    EXPECT_EQ(h->expectedRxResponseNum, 1);

    clear_ports();
    reply(a, range_reply(0x84));
    EXPECT_EQ(sent(), (Sent{{b->id, kStop}, {a->id, kStop}}));
    EXPECT_EQ(ports.replies, std::vector<std::string>{"<ind type=\"range test\"><initiator addr=\"a1\"><responder "
                                                      "addr=\"b2\"  distance=\"1.234500\" timeouts=\"7\" />"
                                                      "</initiator></ind>\n"});
    EXPECT_EQ(ports.timers_deleted, std::vector<WORD32>{100});
    EXPECT_EQ(prints.count_of("HandleRangeTest_continue:."), 1u);
    EXPECT_EQ(h->expectedRxResponseNum, 0);
}

TEST_F(engine_control_RadioTests, CalibrationFramesCarryEachSidesDelays)
{
    request("<r type=\"range test\" calibration=\"1\" num_ranges=\"2\" rtime=\"600\" log=\"1\">"
            "<x addr=\"a1\"/><x addr=\"b2\"/></r>");
    // Responder b2: its delays tx 0x4444, rx 0x3333; rtime 600, final 300, report 200.
    const Bytes responder = {0x5B, 0x01, 0x00, 0x02, 0x00, 0x01, 0x44, 0x44, 0x33, 0x33, 0x58, 0x02, 0x2C, 0x01,
                             0xC8, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    const Bytes initiator = {0x5B, 0x01, 0x01, 0x02, 0x00, 0x01, 0x22, 0x22, 0x11, 0x11, 0x58, 0x02, 0x2C, 0x01,
                             0xC8, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(sent(), (Sent{{b->id, responder}, {a->id, initiator}}));
    // log != 0: unlimited intermediate reports until the final one; the intermediate ones add nothing.
    EXPECT_EQ(h->expectedResponseCode, 0x83);
    EXPECT_EQ(h->expectedResponseCode2, 0x84);
    EXPECT_EQ(h->expectedRxResponseNum, -1);
    EXPECT_EQ(h->twrWithDiagnostics, 0);
    EXPECT_EQ(ports.timers_set, (Timers{{121, 5}}));
    reply(a, range_reply(0x83));
    EXPECT_EQ(h->expectedRxResponseNum, -1);
    EXPECT_EQ(ports.replies.size(), 1u);
    reply(a, range_reply(0x84));
    // The calibration goes on with the reversed pair.
    EXPECT_EQ(ports.replies.size(), 3u);
    EXPECT_EQ(ports.replies.back(), ranging(2, 1));
}

TEST_F(engine_control_RadioTests, WaitAndRangesPerPair)
{
    struct Row { const char* attrs; WORD32 wait; WORD16 ranges; };
    const Row rows[] = {
        {"num_ranges=\"100\" rtime=\"10000\"", 10, 100},
        {"rtime=\"10000\"", 5, 100},
        {"calibration=\"1\" rtime=\"10000\"", 5, 1000},
        {"num_ranges=\"1000\" rtime=\"20000\"", 105, 1000},
        {"num_ranges=\"3\" rtime=\"10000\"", 5, 3},
        {"num_ranges=\"-5\" rtime=\"10000\"", 5, 0xFFFB},
        {"num_ranges=\"199999\" rtime=\"1\"", 5, 0x0D3F},  // 0.999995 s
        {"num_ranges=\"2147483647\" rtime=\"2147483647\"", 2147483647, 0xFFFF},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.attrs);
        fresh_request(std::string("<r type=\"range test\" ") + r.attrs + "><x addr=\"a1\"/><x addr=\"b2\"/></r>");
        ASSERT_EQ(ports.frames.size(), 2u);
        EXPECT_EQ(ports.timers_set, (Timers{{121, r.wait}}));
        const Bytes& f = ports.frames[0].bytes;
        EXPECT_EQ(f[3] | (f[4] << 8), r.ranges);
    }
}

TEST_F(engine_control_RadioTests, ResponseDelayByPreambleLength)
{
    struct Row { int plen; Bytes delays; };  // response, final, report delay, little-endian
    const Row rows[] = {
        {0x08, {0x20, 0x4E, 0x10, 0x27, 0x0A, 0x1A}},  // 1024: 20000, 10000, 6666
        {0x18, {0x20, 0x4E, 0x10, 0x27, 0x0A, 0x1A}},
        {0x28, {0x20, 0x4E, 0x10, 0x27, 0x0A, 0x1A}},
        {0x0C, {0x30, 0x75, 0x98, 0x3A, 0x10, 0x27}},  // 4096: 30000, 15000, 10000
        {0x14, {0x10, 0x27, 0x88, 0x13, 0x05, 0x0D}},  // 128: 10000, 5000, 3333
        {0x34, {0x10, 0x27, 0x88, 0x13, 0x05, 0x0D}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.plen);
        SetUp();
        clear_ports();
        rfConfig.plen = r.plen;
        request("<r type=\"range test\"><x addr=\"a1\"/><x addr=\"b2\"/></r>");
        ASSERT_EQ(ports.frames.size(), 2u);
        EXPECT_EQ(Bytes(ports.frames[0].bytes.begin() + 10, ports.frames[0].bytes.begin() + 16), r.delays);
    }
}

TEST_F(engine_control_RadioTests, PairsRunOneAfterAnother)
{
    cc->link_record(900, nullptr);
    struct Row { const char* calibration; std::vector<std::pair<int, int>> pairs; };
    const Row rows[] = {
        {"0", {{1, 2}, {1, 3}, {2, 3}}},
        {"1", {{1, 2}, {1, 3}, {2, 1}, {2, 3}, {3, 1}, {3, 2}}},
    };
    Anchor* by_idx[] = {nullptr, a, b, cc};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.calibration);
        clear_ports();
        request(std::string("<r type=\"range test\" calibration=\"") + r.calibration +
                "\"><x addr=\"a1\"/><x addr=\"b2\"/><x addr=\"c3\"/></r>");
        for (size_t k = 0; k < r.pairs.size(); ++k) {
            const auto [i, j] = r.pairs[k];
            SCOPED_TRACE(k);
            // One pair at a time: its status line and frames only (responder, then initiator).
            ASSERT_EQ(ports.replies, std::vector<std::string>{ranging(i, j)});
            ASSERT_EQ(ports.frames.size(), 2u);
            EXPECT_EQ(ports.frames[0].anchor_id, by_idx[j]->id);
            EXPECT_EQ(ports.frames[0].bytes[2], 0);
            EXPECT_EQ(ports.frames[1].anchor_id, by_idx[i]->id);
            EXPECT_EQ(ports.frames[1].bytes[2], 1);
            clear_ports();
            reply(by_idx[i], range_reply(0x84));
            ASSERT_GE(ports.frames.size(), 2u);
            const Sent stops = sent();
            EXPECT_EQ(Sent(stops.begin(), stops.begin() + 2), (Sent{{by_idx[j]->id, kStop}, {by_idx[i]->id, kStop}}));
            ASSERT_GE(ports.replies.size(), 1u);
            EXPECT_NE(ports.replies[0].find("distance=\"1.234500\""), std::string::npos);
            ports.frames.erase(ports.frames.begin(), ports.frames.begin() + 2);
            ports.replies.erase(ports.replies.begin());
        }
        EXPECT_TRUE(ports.replies.empty());
        EXPECT_TRUE(ports.frames.empty());
        EXPECT_TRUE(answers_zub_cfg());
    }
}

TEST_F(engine_control_RadioTests, ThreeAnchorsWhoseMiddlePairStaysSilent)
{
    cc->link_record(900, nullptr);
    request("<r type=\"range test\" num_ranges=\"100\" rtime=\"10000\"><x addr=\"a1\"/><x addr=\"b2\"/>"
            "<x addr=\"c3\"/></r>");
    reply(a, range_reply(0x84));
    EXPECT_FALSE(answers_zub_cfg());
    // (a1, c3) never answers: its deadline stops it, responder first, its reply goes out with
    // the no-response text, and (b2, c3) starts.
    ports.frames.clear();
    h->WaitAnchorRspTimeout();
    ASSERT_EQ(ports.frames.size(), 4u);
    const Sent after = sent();
    EXPECT_EQ(Sent(after.begin(), after.begin() + 2), (Sent{{cc->id, kStop}, {a->id, kStop}}));
    EXPECT_EQ(ports.frames[2].anchor_id, cc->id);
    EXPECT_EQ(ports.frames[3].anchor_id, b->id);
    reply(b, range_reply(0x84));
    const std::string ranged = " distance=\"1.234500\" timeouts=\"7\" />";
    EXPECT_EQ(ports.replies, (std::vector<std::string>{ranging(1, 2), pair_reply("a1", "b2", ranged), ranging(1, 3),
                                                       pair_reply("a1", "c3", kNoResponse), ranging(2, 3),
                                                       pair_reply("b2", "c3", ranged)}));
    EXPECT_EQ(ports.timers_set, (Timers{{121, 10}, {121, 10}, {121, 10}}));
    std::string next;
    ASSERT_TRUE(answers_zub_cfg(&next));
    EXPECT_EQ(next, kZubCfg);
}

TEST_F(engine_control_RadioTests, RangeExpectationByLog)
{
    struct Row { const char* log; BYTE code; BYTE code2; int count; BYTE diagnostics; };
    const Row rows[] = {
        {"0", 0x84, 0, 1, 0}, {"1", 0x83, 0x84, -1, 0}, {"2", 0x83, 0x84, -1, 2}, {"7", 0x83, 0x84, -1, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.log);
        fresh_request(std::string("<r type=\"range test\" log=\"") + r.log + "\"><x addr=\"a1\"/><x addr=\"b2\"/></r>");
        ASSERT_EQ(ports.frames.size(), 2u);
        EXPECT_EQ(ports.frames[0].bytes[1], std::stoi(r.log));  // log_all
        EXPECT_EQ(h->expectedResponseCode, r.code);
        EXPECT_EQ(h->expectedResponseCode2, r.code2);
        EXPECT_EQ(h->expectedRxResponseNum, r.count);
        EXPECT_EQ(h->twrWithDiagnostics, r.diagnostics);
    }
}

// A pair whose deadline cannot be armed is given up at once: stopped, and the next pair runs.
TEST_F(engine_control_RadioTests, PairsWithoutADeadlineAreStoppedAtOnce)
{
    cc->link_record(900, nullptr);
    ports.refuse_timers = true;
    request("<r type=\"range test\"><x addr=\"a1\"/><x addr=\"b2\"/><x addr=\"c3\"/></r>");
    EXPECT_EQ(ports.replies, (std::vector<std::string>{ranging(1, 2), pair_reply("a1", "b2", kNoResponse),
                                                       ranging(1, 3), pair_reply("a1", "c3", kNoResponse),
                                                       ranging(2, 3), pair_reply("b2", "c3", kNoResponse)}));
    ASSERT_EQ(ports.frames.size(), 12u);
    const Sent all = sent();
    EXPECT_EQ(Sent(all.begin() + 2, all.begin() + 4), (Sent{{b->id, kStop}, {a->id, kStop}}));
    EXPECT_EQ(Sent(all.begin() + 6, all.begin() + 8), (Sent{{cc->id, kStop}, {a->id, kStop}}));
    EXPECT_EQ(Sent(all.begin() + 10, all.begin() + 12), (Sent{{cc->id, kStop}, {b->id, kStop}}));
    EXPECT_EQ(prints.count_of("WaitForResponse: set timer failed."), 3u);
    EXPECT_EQ(h->expectedRxResponseNum, 0);
    EXPECT_EQ(h->xmlResponse, "");
}

TEST_F(engine_control_RadioTests, TwrTest)
{
    struct Row { const char* request; Bytes frame; BYTE code; BYTE code2; int count; const char* line; };
    const Row rows[] = {
        {"<r type=\"twr test\"><x addr=\"a1\"/></r>",
         {0x5A, 0, 0, 0, 0, 0, 0, 0x88, 0x13, 0x00, 0x80, 0x01, 0, 0, 0, 0, 0x03}, 0x83, 0x84, -1, nullptr},
        {"<r type=\"twr test\" rtime=\"1000\" log=\"0\" power=\"ab\" lna=\"0\"><x addr=\"a1\"/><x addr=\"b2\"/></r>",
         {0x5A, 0, 0, 0, 0, 0, 0, 0xE8, 0x03, 0x00, 0x80, 0x01, 0xAB, 0, 0, 0, 0x00}, 0x84, 0, 1, nullptr},
        {"<r type=\"twr test\" mode=\"1\"><x addr=\"a1\"/></r>", {}, 0, 0, 0,
         "Single Ranging: Initiator mode not supported"},
        {"<r type=\"twr test\"/>", {}, 0, 0, 0, "Single Ranging: error: unknown Anchor"},
        {"<r type=\"twr test\"><x id=\"a1\"/></r>", {}, 0, 0, 0, "Single Ranging: error: unknown Anchor"},
        {"<r type=\"twr test\"><x addr=\"ff\"/></r>", {}, 0, 0, 0, "Single Ranging: error: Anchor not connected"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.request);
        fresh_request(r.request);
        EXPECT_TRUE(ports.replies.empty());
        EXPECT_EQ(h->expectedRxResponseNum, r.count);
        if (r.frame.empty()) {
            EXPECT_TRUE(ports.frames.empty());
            EXPECT_TRUE(ports.timers_set.empty());
            EXPECT_EQ(prints.count_of(r.line), 1u);
            continue;
        }
        EXPECT_EQ(sent(), (Sent{{a->id, r.frame}}));
        EXPECT_EQ(h->expectedResponseCode, r.code);
        EXPECT_EQ(h->expectedResponseCode2, r.code2);
        EXPECT_EQ(ports.timers_set, (Timers{{121, 35}}));
    }
}

TEST_F(engine_control_RadioTests, RangeTestWithoutPairs)
{
    struct Row { const char* request; size_t printed; };
    const Row rows[] = {
        {"<r type=\"range test\"/>", 1},
        {"<r type=\"range test\"><x addr=\"a1\"/><x addr=\"ff\"/></r>", 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.request);
        fresh_request(r.request);
        EXPECT_TRUE(ports.frames.empty());
        EXPECT_TRUE(ports.replies.empty());
        EXPECT_EQ(prints.count_of("no child in xml!."), r.printed);
        EXPECT_EQ(h->expectedRxResponseNum, 0);
    }
}

TEST_F(engine_control_RadioTests, ARunWhoseAnchorListWasReplacedStops)
{
    request("<r type=\"range test\"><x addr=\"a1\"/><x addr=\"b2\"/><x addr=\"c3\"/></r>");
    h->twr_anchors.clear();
    clear_ports();
    h->WaitAnchorRspTimeout();
    EXPECT_TRUE(ports.frames.empty());
    EXPECT_TRUE(ports.replies.empty());
    EXPECT_FALSE(h->range_run.running);
    EXPECT_EQ(h->expectedRxResponseNum, 0);
}

// Every waiting test ends, by its replies or by its deadline; what is left of its text leads
// the next reply. Results that come after it ended change nothing.
TEST_F(engine_control_RadioTests, EveryWaitEndsByReplyOrDeadline)
{
    const Bytes result_b = {0x82, 0xDE, 0x03, 0x03, 0x00};  // rx_data 990, rx_others 3
    const Bytes result_c = {0x82, 0x05, 0x00, 0x00, 0x00};
    const std::string receiver_b = "<receiver addr=\"b2\" rx_data=\"990\" rx_others=\"3\" />";
    const std::string receiver_c = "<receiver addr=\"c3\" rx_data=\"5\" rx_others=\"0\" />";
    const Bytes result_a = {0x82, 0x01, 0x01, 0x00, 0x00};  // rx_data 257
    const std::string receiver_a = "<receiver addr=\"a1\" rx_data=\"257\" rx_others=\"0\" />";
    const Bytes comm_done = {0x81};
    const std::string done = "<ind type=\"power test\"> msg=\"done\"</ind>\n";
    const std::string comm = "<ind type=\"comm test\"><transmitter addr=\"a1\"></transmitter></ind>\n";
    const std::string comm_c3 = "<ind type=\"comm test\"><transmitter addr=\"c3\"></transmitter></ind>\n";
    const char* comm_a1 = "<r type=\"comm test\"><x addr=\"a1\"/></r>";
    const char* comm_all = "<r type=\"comm test\"/>";
    const char* range = "<r type=\"range test\"><x addr=\"a1\"/><x addr=\"b2\"/></r>";
    const char* twr = "<r type=\"twr test\" log=\"0\"><x addr=\"b2\"/></r>";
    const std::string twr_line = " distance=\"1.234500\" timeouts=\"7\" />";
    // The distance: the tenths of millimetres in single precision, divided in double.
    auto ranged = [](const char* metres) {
        return pair_reply("a1", "b2", std::string(" distance=\"") + metres + "\" timeouts=\"7\" />");
    };
    struct Late {
        Anchor** from = nullptr;
        Bytes payload;
        int count = 0;
    };
    struct Row {
        const char* name;
        const char* request;
        std::vector<std::pair<Anchor**, Bytes>> replies;  // the deadline ends the wait if they do not
        WORD32 wait;
        std::string last;  // the test's last reply of its own ("": none)
        std::string head;  // of the next "zub cfg" reply
        Late late{};       // sent once the test has ended
    };
    const Row rows[] = {
        {"power by reply", "<r type=\"power test\"><x addr=\"a1\"/></r>", {{&a, {0x85}}}, 35, done, ""},
        {"power by deadline", "<r type=\"power test\"><x addr=\"a1\"/></r>", {}, 35, done, kNoResponse},
        {"power by deadline, results no test awaits", "<r type=\"power test\"><x addr=\"a1\"/></r>", {}, 35, done,
         kNoResponse, {&b, result_b, 200000}},
        {"comm by replies", comm_a1, {{&b, result_b}, {&cc, result_c}}, 35, comm, receiver_b + receiver_c},
        {"comm by replies, then 200000 more", comm_a1, {{&b, result_b}, {&cc, result_c}}, 35, comm,
         receiver_b + receiver_c, {&b, result_b, 200000}},
        {"comm, the done frame first", comm_a1, {{&a, comm_done}, {&b, result_b}, {&cc, result_c}}, 35, comm,
         receiver_b + receiver_c},
        {"comm, the done frame between", comm_a1, {{&b, result_b}, {&a, comm_done}, {&cc, result_c}}, 35, comm,
         receiver_b + receiver_c},
        {"comm, the done frame last", comm_a1, {{&b, result_b}, {&cc, result_c}, {&a, comm_done}}, 35, comm,
         receiver_b + receiver_c},
        {"comm, the transmitter's result and b2's second dropped", comm_a1,
         {{&a, result_a}, {&b, result_b}, {&b, result_b}, {&cc, result_c}}, 35, comm, receiver_b + receiver_c},
        {"comm by deadline, c3's result after it", comm_a1, {{&b, result_b}}, 35, comm, receiver_b + kNoResponse,
         {&cc, result_c, 1}},
        {"comm over every anchor by replies", comm_all,
         {{&b, result_b}, {&cc, result_c}, {&a, result_a}, {&cc, result_c}, {&a, result_a}, {&b, result_b}}, 35,
         comm_c3, receiver_b + receiver_c + receiver_a + receiver_c + receiver_a + receiver_b},
        {"comm over every anchor, done frames among the results", comm_all,
         {{&a, comm_done}, {&b, result_b}, {&cc, result_c}, {&b, comm_done}, {&a, result_a}, {&cc, result_c},
          {&a, result_a}, {&cc, comm_done}, {&b, result_b}}, 35, comm_c3,
         receiver_b + receiver_c + receiver_a + receiver_c + receiver_a + receiver_b},
        {"range by deadline", range, {}, 5, pair_reply("a1", "b2", kNoResponse), ""},
        {"range by deadline, then 10000 finals", range, {}, 5, pair_reply("a1", "b2", kNoResponse), "",
         {&a, range_reply(0x84), 10000}},
        {"range 1.2345 m", range, {{&a, range_reply(0x84, 12345)}}, 5, ranged("1.234500"), ""},
        {"range 16.3847 m", range, {{&a, range_reply(0x84, 163847)}}, 5, ranged("16.384700"), ""},
        {"range 25.0001 m", range, {{&a, range_reply(0x84, 250001)}}, 5, ranged("25.000100"), ""},
        {"range 400 m", range, {{&a, range_reply(0x84, 4000000)}}, 5, ranged("400.000000"), ""},
        {"range, a final from outside the pair first", range,
         {{&cc, range_reply(0x84, 99)}, {&b, range_reply(0x84, 12345)}}, 5, ranged("1.234500"), ""},
        {"range by reply, then 10000 finals", range, {{&a, range_reply(0x84)}}, 5, ranged("1.234500"), "",
         {&a, range_reply(0x84), 10000}},
        {"twr by reply", twr, {{&b, range_reply(0x84)}}, 35, "", twr_line},
        {"twr by reply, a1's first", twr, {{&a, range_reply(0x84, 99)}, {&b, range_reply(0x84)}}, 35, "", twr_line},
        {"twr by reply, then 10000 finals", twr, {{&b, range_reply(0x84)}}, 35, "", twr_line,
         {&b, range_reply(0x84), 10000}},
        {"twr by deadline", "<r type=\"twr test\"><x addr=\"b2\"/></r>", {{&b, range_reply(0x83)}}, 35, "",
         kNoResponse},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        fresh_request(r.request);
        EXPECT_EQ(ports.timers_set, (Timers{{121, r.wait}}));
        EXPECT_FALSE(answers_zub_cfg());
        bool ended_by_reply = true;
        for (const auto& [who, payload] : r.replies) {
            reply(*who, payload);
        }
        if (h->expectedRxResponseNum != 0) {
            ended_by_reply = false;
            EXPECT_FALSE(answers_zub_cfg());
            ports.frames.clear();
            h->WaitAnchorRspTimeout();
        }
        EXPECT_EQ(ended_by_reply, (r.last + r.head).find(kNoResponse) == std::string::npos);
        EXPECT_EQ(ports.replies.empty() ? "" : ports.replies.back(), r.last);
        if (std::string(r.name).starts_with("range by deadline")) {
            EXPECT_EQ(sent(), (Sent{{b->id, kStop}, {a->id, kStop}}));
        }
        const size_t frames = ports.frames.size();
        const size_t replies = ports.replies.size();
        for (int i = 0; i < r.late.count; ++i) {
            reply(*r.late.from, r.late.payload);
        }
        EXPECT_EQ(ports.frames.size(), frames);
        EXPECT_EQ(ports.replies.size(), replies);
        std::string next;
        ASSERT_TRUE(answers_zub_cfg(&next));
        EXPECT_EQ(next, r.head + kZubCfg);
    }
}

// A twr test started after a range test: its final reply adds its distance line, and neither
// stops the range test's last pair nor answers the controller.
TEST_F(engine_control_RadioTests, ATwrTestAfterARangeTestStopsNoPair)
{
    cc->link_record(900, nullptr);
    request("<r type=\"range test\"><x addr=\"a1\"/><x addr=\"b2\"/></r>");
    reply(a, range_reply(0x84));
    ASSERT_EQ(ports.replies.size(), 2u);
    clear_ports();
    request("<r type=\"twr test\" log=\"0\"><x addr=\"c3\"/></r>");
    reply(cc, range_reply(0x84, 20000));
    ASSERT_EQ(ports.frames.size(), 1u);
    EXPECT_EQ(ports.frames[0].bytes[0], 0x5A);
    EXPECT_TRUE(ports.replies.empty());
    std::string next;
    ASSERT_TRUE(answers_zub_cfg(&next));
    EXPECT_EQ(next, " distance=\"2.000000\" timeouts=\"7\" />" + kZubCfg);
}

TEST_F(engine_control_RadioTests, CalibrationPairHasADeadline)
{
    request("<r type=\"range test\" calibration=\"1\" num_ranges=\"200\" rtime=\"10000\"><x addr=\"a1\"/>"
            "<x addr=\"b2\"/></r>");
    EXPECT_EQ(ports.timers_set, (Timers{{121, 15}}));
    h->WaitAnchorRspTimeout();  // (a1, b2) silent: its reply, then (b2, a1) follows
    EXPECT_EQ(ports.replies.back(), ranging(2, 1));
    EXPECT_EQ(ports.timers_set.size(), 2u);
    h->WaitAnchorRspTimeout();
    EXPECT_EQ(ports.replies, (std::vector<std::string>{ranging(1, 2), pair_reply("a1", "b2", kNoResponse),
                                                       ranging(2, 1), pair_reply("b2", "a1", kNoResponse)}));
    std::string next;
    ASSERT_TRUE(answers_zub_cfg(&next));
    EXPECT_EQ(next, kZubCfg);
}

}  // namespace
