// The print layer: prefixes, source position, level filter, the flag, bounded lines and
// per-thread buffers, with lines written through the real trace log.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "comm_test_support.h"
#include "trace/CNTrace.h"
#include "zub_comm.h"
#include "zub_print_limited.h"
#include "zub_context.h"
#include "zub_shared_field.h"
#include "zub_trace_list.h"

namespace {

constexpr const char* kTraceFile = "log/zub/division1.log";

// The texts of the trace log lines written since `from` (bytes), without their time stamps.
std::vector<std::string> trace_texts_since(std::streamoff from)
{
    std::ifstream in(kTraceFile);
    in.seekg(from);
    std::vector<std::string> out;
    std::string line;
    static const std::regex stamped(R"(^\d\d/\d\d \d\d:\d\d:\d\d\.\d\d\d (.*)$)");
    while (std::getline(in, line)) {
        std::smatch m;
        out.push_back(std::regex_match(line, m, stamped) ? m[1].str() : "<unstamped> " + line);
    }
    return out;
}

std::streamoff trace_size()
{
    std::ifstream in(kTraceFile, std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

class engine_comm_PrintLayer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // As the control job opens the log at start: level 3, 25000 MB, no thread column.
        CN_initCNLogFile(3, 25000);
        CN_ClearLogOptions(CNTrace::Thread);
    }

    void SetUp() override
    {
        testing::internal::CaptureStdout();
        qeSetPrnFlag(3);
        testing::internal::GetCapturedStdout();
        from_ = trace_size();
    }

    void TearDown() override
    {
        testing::internal::CaptureStdout();
        qeSetPrnFlag(3);
        testing::internal::GetCapturedStdout();
        zub_store(zub_context()->log_ctrl.tag_print_flag, 0);
        zub_trace_replace(zub_context()->tag_trace_cfg, nullptr, 0);
    }

    std::vector<std::string> new_lines() const { return trace_texts_since(from_); }

    std::streamoff from_ = 0;
};

TEST_F(engine_comm_PrintLayer, LineCarriesTheJobNameTheSourcePositionAndTheText)
{
    int line = 0;
    ASSERT_TRUE(ct::run_on_job(QE_JOBTYPE_ZUB_CONTROL, [&] {
        line = __LINE__ + 1;
        ZUB_PRINT(ZUB_PRINT_ERROR, "anchor %d lost, errno %d", 7, 104);
    }));
    const auto lines = new_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "[CONTROL] [print_test.cpp " + std::to_string(line) + " line]. anchor 7 lost, errno 104");
}

TEST_F(engine_comm_PrintLayer, CallerOutsideAnyJobIsSh)
{
    const int line = __LINE__ + 1;
    ZUB_PRINT(ZUB_PRINT_EVENT, "from %s", "main");
    const auto lines = new_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "[Sh] [print_test.cpp " + std::to_string(line) + " line]. from main");
}

TEST_F(engine_comm_PrintLayer, SourceWithoutADirectoryHasNoPosition)
{
    zub_print(ZUB_PRINT_MSG, "plain.cpp", 12, "no position %u", 1u);
    const auto lines = new_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "[Sh] no position 1");
}

TEST_F(engine_comm_PrintLayer, FlagSetsTheLevelThatPasses)
{
    auto print_all_three = [] {
        zub_print(ZUB_PRINT_ERROR, "x", 0, "error line");
        zub_print(ZUB_PRINT_EVENT, "x", 0, "event line");
        zub_print(ZUB_PRINT_MSG, "x", 0, "message line");
        zub_print(70, "x", 0, "other level line");  // any other level counts as a message
    };
    const std::map<BYTE, std::vector<std::string>> expected = {
        {1, {"[Sh] error line"}},
        {2, {"[Sh] error line", "[Sh] event line"}},
        {3, {"[Sh] error line", "[Sh] event line", "[Sh] message line", "[Sh] other level line"}},
        {9, {"[Sh] error line", "[Sh] event line", "[Sh] message line", "[Sh] other level line"}},
    };
    for (const auto& [flag, lines] : expected) {
        SCOPED_TRACE(static_cast<int>(flag));
        testing::internal::CaptureStdout();
        qeSetPrnFlag(flag);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(CNTrace::GetLevel(), std::min<WORD32>(flag, 3));
        const std::streamoff from = trace_size();
        print_all_three();
        EXPECT_EQ(trace_texts_since(from), lines);
    }
}

TEST_F(engine_comm_PrintLayer, FlagZeroPrintsNothingAndFormatsNothing)
{
    testing::internal::CaptureStdout();
    qeSetPrnFlag(0);
    const std::string banner = testing::internal::GetCapturedStdout();
    EXPECT_EQ(banner,
              "=============================================================\r\n"
              "Func Prototype    : void qeSetPrnFlag(BYTE bFlag)\r\n"
              "qeSetPrnFlag( 0 ):   Forbid All App Jobs' Prints Except ERROR \r\n"
              "qeSetPrnFlag( 1 ):   All App Jobs' Prints set to ERROR  \r\n"
              "qeSetPrnFlag( 2 ):   All App Jobs' Prints set to EVENT  \r\n"
              "qeSetPrnFlag( 3 ):   All App Jobs' Prints set to MSG  \r\n"
              "qeSetPrnFlag( x ):   All App Jobs' Prints set to MSG(X>=3)  \r\n"
              "=============================================================\r\n\r\n"
              "Print Flag has been closed \r\n");
    EXPECT_EQ(zub_load(g_bMQESPrnFlag), 0);
    EXPECT_EQ(CNTrace::GetLevel(), 0u);
    // No sink is installed, so zub_print formats nothing.
    EXPECT_EQ(zub_print_set_sink(nullptr), nullptr);
    ZUB_PRINT(ZUB_PRINT_ERROR, "never written");
    EXPECT_EQ(qePrintStr(ZUB_PRINT_ERROR, "never written either"), 0);
    EXPECT_TRUE(new_lines().empty());

    testing::internal::CaptureStdout();
    qeSetPrnFlag(2);
    const std::string opened = testing::internal::GetCapturedStdout();
    EXPECT_NE(opened.find("=============================================================\r\n\r\nPrint Flag has been opened \r\n"),
              std::string::npos);
    EXPECT_EQ(qePrintStr(ZUB_PRINT_ERROR, nullptr), 0);
    EXPECT_EQ(qePrintStr(ZUB_PRINT_ERROR, "direct"), 1);
    EXPECT_EQ(new_lines(), std::vector<std::string>{"direct"});
}

TEST_F(engine_comm_PrintLayer, SourcePositionReadsTheLineInDecimal)
{
    struct Row {
        int line;
        const char* expected;
    };
    const Row rows[] = {
        {0, "[Sh] [b.cpp 0 line]. t"},
        {9, "[Sh] [b.cpp 9 line]. t"},
        {10, "[Sh] [b.cpp 10 line]. t"},
        {123456, "[Sh] [b.cpp 123456 line]. t"},
        {-5, "[Sh] [b.cpp -5 line]. t"},
        {2147483647, "[Sh] [b.cpp 2147483647 line]. t"},
        {-2147483647 - 1, "[Sh] [b.cpp -2147483648 line]. t"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const std::streamoff from = trace_size();
        zub_print(ZUB_PRINT_ERROR, "/src/b.cpp", row.line, "t");
        EXPECT_EQ(trace_texts_since(from), std::vector<std::string>{row.expected});
    }
}

TEST_F(engine_comm_PrintLayer, LongTextIsCutAtTheEndOfTheBuffer)
{
    const std::string text(5000, 'q');
    zub_print(ZUB_PRINT_ERROR, "/src/a.cpp", 3, "%s", text.c_str());
    const auto lines = new_lines();
    ASSERT_EQ(lines.size(), 1u);
    const std::string prefix = "[Sh] [a.cpp 3 line]. ";
    EXPECT_EQ(lines[0].size(), QE_PRINT_BUF_LEN - 1);
    EXPECT_EQ(lines[0], prefix + std::string(QE_PRINT_BUF_LEN - 1 - prefix.size(), 'q'));
}

TEST_F(engine_comm_PrintLayer, LinesFromManyJobsAndThreadsAtOnceStayWhole)
{
    constexpr int kJobs = 8;
    constexpr int kThreads = 4;
    constexpr int kLines = 150;
    const std::string payload(300, '#');
    std::vector<std::thread> threads;
    std::atomic<int> go{0};
    for (int j = 0; j < kJobs; ++j) {
        threads.emplace_back([&, j] {
            ct::run_on_job(static_cast<WORD16>(QE_JOBTYPE_ZUB_SELECTOR_BEGIN + j), [&] {
                while (go.load() == 0) {
                }
                for (int i = 0; i < kLines; ++i) {
                    zub_print(ZUB_PRINT_EVENT, "x", 0, "job %d line %d %s", j, i, payload.c_str());
                }
            });
        });
    }
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (go.load() == 0) {
            }
            for (int i = 0; i < kLines; ++i) {
                zub_print(ZUB_PRINT_MSG, "x", 0, "thread %d line %d %s", t, i, payload.c_str());
            }
        });
    }
    go = 1;
    for (auto& th : threads) {
        th.join();
    }
    std::set<std::string> expected;
    for (int j = 0; j < kJobs; ++j) {
        for (int i = 0; i < kLines; ++i) {
            expected.insert("[SELECT" + std::to_string(j + 1) + "] job " + std::to_string(j) + " line " +
                            std::to_string(i) + " " + payload);
        }
    }
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kLines; ++i) {
            expected.insert("[Sh] thread " + std::to_string(t) + " line " + std::to_string(i) + " " + payload);
        }
    }
    const auto lines = new_lines();
    ASSERT_EQ(lines.size(), expected.size());
    std::set<std::string> seen;
    for (const std::string& l : lines) {
        EXPECT_EQ(expected.count(l), 1u) << "garbled: " << l.substr(0, 80);
        seen.insert(l);
    }
    EXPECT_EQ(seen.size(), expected.size());
}

TEST_F(engine_comm_PrintLayer, EachThreadHasItsOwnBuffers)
{
    char* mine25 = qePrintBuffGet(25);
    ASSERT_NE(mine25, nullptr);
    std::strcpy(mine25, "kept");
    char* theirs25 = nullptr;
    std::thread([&] { theirs25 = qePrintBuffGet(25); }).join();
    EXPECT_NE(theirs25, mine25);
    EXPECT_STREQ(mine25, "kept");  // another thread's print does not touch this one's buffer
    EXPECT_EQ(qePrintBuffGet(25), mine25);
    EXPECT_EQ(mine25[0], '\0');  // taking a buffer clears it
    EXPECT_EQ(qePrintBuffGet(31), qePrintBuffGet(40));
    EXPECT_NE(qePrintBuffGet(30), qePrintBuffGet(31));
    EXPECT_EQ(qeJobPrintBuffGet(0x40000001), qePrintBuffGet(0));   // the control job: entry 0
    EXPECT_EQ(qeJobPrintBuffGet(0x40190001), qePrintBuffGet(25));  // selector 18: entry 25
    EXPECT_EQ(qeJobPrintBuffGet(0x12340001), qePrintBuffGet(25));  // unknown
}

TEST_F(engine_comm_PrintLayer, TagPrintsFollowTheTraceListWhenLimited)
{
    context_t* ctx = zub_context();
    zub_select_tag_print(0xA1, ZUB_PRINT_EVENT, "tag a1 unlimited");
    zub_store(ctx->log_ctrl.tag_print_flag, 1);
    zub_select_tag_print(0xA1, ZUB_PRINT_EVENT, "tag a1 with an empty list");
    ZUB_TAG_PRINT(0xA1, ZUB_PRINT_EVENT, "macro for tag %x", 0xA1);
    const WORD64 traced[] = {0xB2};
    zub_trace_replace(ctx->tag_trace_cfg, traced, 1);
    zub_select_tag_print(0xA1, ZUB_PRINT_EVENT, "tag a1 not traced");
    zub_select_tag_print(0xB2, ZUB_PRINT_EVENT, "tag b2 traced");
    zub_print_set_sink(nullptr);  // ZUB_TAG_PRINT goes through the sink; check its filter alone
    EXPECT_FALSE(zub_tag_print_allowed(0xA1));
    EXPECT_TRUE(zub_tag_print_allowed(0xB2));
    EXPECT_EQ(new_lines(), (std::vector<std::string>{"tag a1 unlimited", "tag b2 traced"}));
}

}  // namespace

namespace {

// Every kind of engine print at every threshold: a line reaches the trace log exactly when its
// trace level (1 error, 2 event, 3 anything else) is at most the threshold, min(flag, 3) or what
// CN_SetLogLevel set later, and the flag is on; and zub_print_wanted says so beforehand, so a
// print that would be dropped is never formatted.
TEST_F(engine_comm_PrintLayer, EveryPrintKindAtEveryThresholdWritesExactlyTheLinesThatPass)
{
    struct Kind {
        BYTE level;   // the engine level printed with
        WORD32 trace; // its trace level
        std::string line;
    };
    const std::string here = "print_test.cpp";
    int tag_line = 0;
    auto print_every_kind = [&tag_line] {
        zub_print(ZUB_PRINT_ERROR, "x", 0, "error %d", 1);
        zub_print(ZUB_PRINT_EVENT, "x", 0, "event %d", 2);
        zub_print(ZUB_PRINT_MSG, "x", 0, "message %d", 3);
        zub_print(70, "x", 0, "other %d", 4);
        tag_line = __LINE__ + 1;
        ZUB_TAG_PRINT(0xC3, ZUB_PRINT_MSG, "tag %x message", 0xC3);
        ZUB_TAG_PRINT(0xC3, ZUB_PRINT_ERROR, "tag %x error", 0xC3);
        zub_select_tag_print(0xC3, ZUB_PRINT_EVENT, "selected tag event");
        qePrintStr(ZUB_PRINT_MSG, "direct message");
    };
    // In the order print_every_kind prints them.
    auto kinds = [&] {
        auto at = [&](int offset) {
            return "[Sh] [" + here + " " + std::to_string(tag_line + offset) + " line]. ";
        };
        return std::vector<Kind>{
            {ZUB_PRINT_ERROR, 1, "[Sh] error 1"},
            {ZUB_PRINT_EVENT, 2, "[Sh] event 2"},
            {ZUB_PRINT_MSG, 3, "[Sh] message 3"},
            {70, 3, "[Sh] other 4"},
            {ZUB_PRINT_MSG, 3, at(0) + "tag c3 message"},
            {ZUB_PRINT_ERROR, 1, at(1) + "tag c3 error"},
            {ZUB_PRINT_EVENT, 2, "selected tag event"},
            {ZUB_PRINT_MSG, 3, "direct message"},
        };
    };
    struct Row {
        BYTE flag;
        int set_level;  // CN_SetLogLevel after the flag, or -1
        WORD32 threshold;
    };
    const Row rows[] = {
        {0, -1, 0}, {1, -1, 1}, {2, -1, 2}, {3, -1, 3}, {9, -1, 3},
        {3, 1, 1},  // the control job lowers the level below the flag's
        {3, 2, 2}, {1, 3, 3}, {3, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("flag " + std::to_string(row.flag) + " level " + std::to_string(row.set_level));
        testing::internal::CaptureStdout();
        qeSetPrnFlag(row.flag);
        testing::internal::GetCapturedStdout();
        if (row.set_level >= 0) {
            CN_SetLogLevel(row.set_level);
        }
        const bool on = row.flag != 0;
        for (BYTE level : {ZUB_PRINT_ERROR, ZUB_PRINT_EVENT, ZUB_PRINT_MSG, BYTE{70}}) {
            const WORD32 trace = level == ZUB_PRINT_ERROR ? 1 : level == ZUB_PRINT_EVENT ? 2 : 3;
            EXPECT_EQ(zub_print_wanted(level), on && trace <= row.threshold) << static_cast<int>(level);
        }
        const std::streamoff from = trace_size();
        print_every_kind();
        std::vector<std::string> expected;
        for (const Kind& k : kinds()) {
            if (on && k.trace <= row.threshold) {
                expected.push_back(k.line);
            }
        }
        EXPECT_EQ(trace_texts_since(from), expected);
    }
}

// A sink's gate is asked before anything is formatted: a refused level never reaches the sink,
// and a sink installed without a gate gets every level.
TEST(engine_comm_PrintGate, RefusedLevelsNeverReachTheSink)
{
    static std::vector<std::string> got;
    static std::vector<int> asked;
    got.clear();
    asked.clear();
    const zub_print_sink_t sink = [](BYTE level, const char*, int, const char* text) {
        got.push_back(std::to_string(level) + ":" + text);
    };
    const zub_print_gate_t only_errors = [](BYTE level) {
        asked.push_back(level);
        return level == ZUB_PRINT_ERROR;
    };
    struct Row {
        zub_print_gate_t gate;
        std::vector<std::string> lines;
        std::vector<int> asked;
    };
    const Row rows[] = {
        {only_errors, {"23:e 1"}, {23, 39, 55}},
        {nullptr, {"23:e 1", "39:v 2", "55:m 3"}, {}},
    };
    const zub_print_sink_t before = zub_print_set_sink(nullptr);
    for (const Row& row : rows) {
        got.clear();
        asked.clear();
        zub_print_set_gated_sink(sink, row.gate);
        zub_print(ZUB_PRINT_ERROR, "x", 0, "e %d", 1);
        zub_print(ZUB_PRINT_EVENT, "x", 0, "v %d", 2);
        zub_print(ZUB_PRINT_MSG, "x", 0, "m %d", 3);
        EXPECT_EQ(got, row.lines);
        EXPECT_EQ(asked, row.asked);
    }
    zub_print_set_sink(nullptr);
    EXPECT_FALSE(zub_print_wanted(ZUB_PRINT_ERROR));
    zub_print_set_sink(before);
}


// Lines that input can trigger: each call site writes the first ten of a second as they
// stand, then one a second carrying the count held back; a level the gate refuses is neither
// written nor counted.
TEST(engine_comm_PrintLimited, EachSiteWritesTenASecondThenOneWithTheCountHeldBack)
{
    static std::vector<std::string> got;
    const zub_print_sink_t sink = [](BYTE, const char*, int, const char* text) { got.emplace_back(text); };
    const zub_print_gate_t no_messages = [](BYTE level) { return level != ZUB_PRINT_MSG; };
    struct Row {
        const char* name;
        BYTE level;
        std::vector<WORD64> at_ms;  // one line of the site at each time
        std::vector<std::string> lines;
    };
    const std::vector<std::string> ten(10, "fist byte is not 0x02.reset buff");
    std::vector<std::string> ten_then_count = ten;
    ten_then_count.push_back("(15 lines like this held back) fist byte is not 0x02.reset buff");
    std::vector<WORD64> burst_of_25;
    for (WORD64 t = 0; t < 25; ++t) {
        burst_of_25.push_back(t);
    }
    std::vector<WORD64> burst_then_a_second = burst_of_25;
    burst_then_a_second.push_back(1010);  // a second after the first line held back
    std::vector<WORD64> ten_a_second_for_3_s;
    for (WORD64 t = 0; t < 3000; t += 100) {
        ten_a_second_for_3_s.push_back(t);
    }
    const Row rows[] = {
        {"one line as it stands", ZUB_PRINT_ERROR, {5}, {"fist byte is not 0x02.reset buff"}},
        {"ten a second as they stand", ZUB_PRINT_ERROR, ten_a_second_for_3_s,
         std::vector<std::string>(30, "fist byte is not 0x02.reset buff")},
        {"a burst: ten, then the rest held", ZUB_PRINT_ERROR, burst_of_25, ten},
        {"a second later one line with the count", ZUB_PRINT_EVENT, burst_then_a_second, ten_then_count},
        {"a level the gate refuses: nothing", ZUB_PRINT_MSG, burst_then_a_second, {}},
    };
    const zub_print_sink_t before = zub_print_set_gated_sink(sink, no_messages);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        got.clear();
        CN_LogLimit site;
        for (WORD64 t : row.at_ms) {
            ZUB_PRINT_LIMITED_AT(&site, t, row.level, "fist byte is not 0x%02x.reset buff", 2u);
        }
        EXPECT_EQ(got, row.lines);
    }
    zub_print_set_sink(before);
}

}  // namespace
