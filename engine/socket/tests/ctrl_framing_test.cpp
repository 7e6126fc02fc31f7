// The controller's line framing as plain code: reads go into the framer's buffer, every line
// handed over is captured (and freed) by the test's sink.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "zub_ctrl_framing.h"

namespace {

struct Rig {
    std::unique_ptr<ctrl_rcv_data_t> data = std::make_unique<ctrl_rcv_data_t>();
    std::unique_ptr<char[]> send_buff = std::make_unique<char[]>(ZUB_CTRL_RCV_BUFF_LEN + 1);
    std::vector<std::string> lines;
    size_t allocs = 0;
    size_t frees = 0;
    bool fail_alloc = false;
    bool fail_send = false;
    int room = 1 << 30;  // lines the gate still lets through
    CtrlLineFramer framer{*data, send_buff.get(),
                          [this](size_t n) -> char* {
                              if (fail_alloc) {
                                  return nullptr;
                              }
                              ++allocs;
                              return static_cast<char*>(std::malloc(n));
                          },
                          [this](char* line) {
                              if (fail_send) {
                                  ++frees;  // the framer frees a refused copy
                                  return false;
                              }
                              lines.emplace_back(line);
                              std::free(line);
                              ++frees;
                              --room;
                              return true;
                          },
                          [this] { return room > 0; }};

    Rig() { std::memset(data.get(), 0, sizeof *data); }

    // One read event delivering `bytes` (the framer never takes more than one read's worth).
    void read(const std::string& bytes)
    {
        size_t room = 0;
        BYTE* at = framer.read_area(&room);
        ASSERT_LE(bytes.size(), room);
        std::memcpy(at, bytes.data(), bytes.size());
        framer.received(bytes.size());
    }
    // Bytes of any length, cut into reads of at most one read's size.
    void stream(const std::string& bytes, size_t chunk = ZUB_CTRL_READ_MAX)
    {
        for (size_t at = 0; at < bytes.size(); at += chunk) {
            read(bytes.substr(at, chunk));
        }
    }
    std::string held() const { return std::string(reinterpret_cast<const char*>(data->rcv_buff), data->rcv_len); }
    // Every byte behind the held text is zero.
    bool tail_zero() const
    {
        for (size_t i = data->rcv_len; i < 70000 + ZUB_CTRL_READ_MAX; ++i) {
            if (data->rcv_buff[i] != 0) {
                return false;
            }
        }
        return true;
    }
};

using Lines = std::vector<std::string>;

TEST(CtrlFraming, SplitsReadsIntoLines)
{
    struct Row {
        const char* name;
        std::vector<std::string> reads;
        Lines lines;
        std::string held;
    };
    const Row rows[] = {
        {"two lines in one read", {"a\nb\n"}, {"a", "b"}, ""},
        {"unfinished tail completed later", {"a\nb", "c\n"}, {"a", "bc"}, ""},
        {"newlines alone", {"\n\n\n"}, {}, ""},
        {"carriage return kept", {"a\r\n"}, {"a\r"}, ""},
        {"line over many reads", {"<req ", "type=", "\"x\"/>", "\n"}, {"<req type=\"x\"/>"}, ""},
        {"runs of newlines collapse", {"\n\na\n\n\nb\n"}, {"a", "b"}, ""},
        {"tail kept at the start", {"x\nyz"}, {"x"}, "yz"},
        {"NUL ends the text, tail lost", {std::string("a\nb\0c\n", 6)}, {"a", "b"}, ""},
        {"NUL inside an unfinished line", {std::string("ab\0cd", 5)}, {}, "ab"},
        {"NUL first: nothing kept", {std::string("\0a\n", 3)}, {}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        for (const std::string& r : row.reads) {
            rig.read(r);
        }
        EXPECT_EQ(rig.lines, row.lines);
        EXPECT_EQ(rig.held(), row.held);
        EXPECT_TRUE(rig.tail_zero());
        EXPECT_EQ(rig.allocs, rig.frees);
    }
}

TEST(CtrlFraming, LinesWaitAtAClosedGateAndGoWhenItOpens)
{
    // Each step grants the gate room for more lines, optionally reads, then frames again.
    struct Step {
        int grant;
        std::string read;
        Lines lines;  // every line handed over so far
        std::string held;
        bool stalled;
    };
    struct Row {
        const char* name;
        int room;
        std::string first_read;
        std::vector<Step> steps;  // the first: after first_read
    };
    const Row rows[] = {
        {"closed gate: every line waits",
         0,
         "a\nb\n",
         {{0, "", {}, "a\nb\n", true}, {1, "", {"a"}, "b\n", true}, {5, "", {"a", "b"}, "", false}}},
        {"stops mid-read, the unfinished tail stays behind",
         1,
         "a\nb\nc",
         {{0, "", {"a"}, "b\nc", true}, {1, "", {"a", "b"}, "c", false}, {0, "d\n", {"a", "b"}, "cd\n", true},
          {1, "", {"a", "b", "cd"}, "", false}}},
        {"collapsed newlines before the waiting line",
         1,
         "a\n\n\nb\n\n",
         {{0, "", {"a"}, "b\n\n", true}, {1, "", {"a", "b"}, "", false}}},
        {"an unfinished line needs no room", 0, "abc", {{0, "", {}, "abc", false}}},
        {"carriage return kept while waiting",
         0,
         "x\r\n",
         {{0, "", {}, "x\r\n", true}, {1, "", {"x\r"}, "", false}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig;
        rig.room = row.room;
        rig.read(row.first_read);
        for (size_t i = 0; i < row.steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step& step = row.steps[i];
            if (i > 0) {
                rig.room += step.grant;
                if (!step.read.empty()) {
                    rig.read(step.read);
                } else {
                    rig.framer.analyse();
                }
            }
            EXPECT_EQ(rig.lines, step.lines);
            EXPECT_EQ(rig.held(), step.held);
            EXPECT_EQ(rig.framer.stalled(), step.stalled);
            EXPECT_TRUE(rig.tail_zero());
        }
        EXPECT_EQ(rig.allocs, rig.frees);
    }
}

TEST(CtrlFraming, LongLinesAreKeptUpToTheBoundAndDroppedPastIt)
{
    // 70,000 bytes: past what a 16-bit count could hold.
    Rig rig;
    const std::string long_line(70000, 'x');
    rig.stream(long_line);
    EXPECT_EQ(rig.held().size(), 70000u);
    rig.read("\nnext\n");
    ASSERT_EQ(rig.lines.size(), 2u);
    EXPECT_EQ(rig.lines[0], long_line);
    EXPECT_EQ(rig.lines[1], "next");

    // The longest line kept, then one byte more.
    Rig edge;
    edge.stream(std::string(ZUB_CTRL_PENDING_MAX, 'y'));
    EXPECT_FALSE(edge.framer.dropping());
    edge.read("\n");
    ASSERT_EQ(edge.lines.size(), 1u);
    EXPECT_EQ(edge.lines[0].size(), ZUB_CTRL_PENDING_MAX);

    Rig over;
    over.stream(std::string(ZUB_CTRL_PENDING_MAX + 1, 'z'));
    EXPECT_TRUE(over.framer.dropping());
    EXPECT_EQ(over.held(), "");
    over.stream(std::string(3 * ZUB_CTRL_READ_MAX, 'z'));  // still the same line
    over.read("zz\nafter\npart");
    EXPECT_EQ(over.lines, Lines{"after"});
    EXPECT_EQ(over.held(), "part");
    EXPECT_FALSE(over.framer.dropping());
    EXPECT_TRUE(over.tail_zero());
}

TEST(CtrlFraming, FailedAllocationAndFailedSendLeakNothing)
{
    Rig no_memory;
    no_memory.fail_alloc = true;
    no_memory.read("a\nb\nc");
    EXPECT_TRUE(no_memory.lines.empty());
    EXPECT_EQ(no_memory.held(), "");  // the rest of the read is lost with the buffer
    no_memory.fail_alloc = false;
    no_memory.read("d\n");
    EXPECT_EQ(no_memory.lines, Lines{"d"});

    Rig refused;
    refused.fail_send = true;
    refused.read("a\nb\n");
    EXPECT_EQ(refused.allocs, 2u);
    EXPECT_EQ(refused.frees, 2u);  // both copies freed by the framer
    EXPECT_EQ(refused.held(), "");
}

TEST(CtrlFraming, ResetForgetsHeldTextAndALineBeingDropped)
{
    Rig rig;
    rig.stream(std::string(ZUB_CTRL_PENDING_MAX + 10, 'q'));
    ASSERT_TRUE(rig.framer.dropping());
    rig.framer.reset();
    rig.read("half");
    rig.framer.reset();  // a new controller
    rig.read("whole\n");
    EXPECT_EQ(rig.lines, Lines{"whole"});
}

TEST(CtrlFraming, AnySplitOfAStreamGivesTheSameLines)
{
    std::mt19937 rng(20261209);
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        // Lines of printable bytes, carriage returns and runs of newlines; no NUL.
        std::string stream;
        Lines expected;
        const int n = static_cast<int>(rng() % 20);
        for (int i = 0; i < n; ++i) {
            std::string line;
            const size_t len = 1 + rng() % 300;
            for (size_t k = 0; k < len; ++k) {
                const unsigned c = rng() % 97;
                line.push_back(c == 96 ? '\r' : static_cast<char>(' ' + c % 95));
            }
            expected.push_back(line);
            stream += line;
            stream.append(1 + rng() % 3, '\n');
        }
        Rig rig;
        size_t at = 0;
        while (at < stream.size()) {
            const size_t cut = std::min<size_t>(stream.size() - at, 1 + rng() % 700);
            rig.read(stream.substr(at, cut));
            at += cut;
        }
        EXPECT_EQ(rig.lines, expected);
        EXPECT_EQ(rig.held(), "");
    }
}

TEST(CtrlFraming, TenThousandLinesEachHandedOverOnceAndFreed)
{
    Rig rig;
    std::string stream;
    for (int i = 0; i < 10000; ++i) {
        stream += "<req id=\"" + std::to_string(i) + "\"/>\n";
    }
    rig.stream(stream, 1000);
    ASSERT_EQ(rig.lines.size(), 10000u);
    EXPECT_EQ(rig.lines.front(), "<req id=\"0\"/>");
    EXPECT_EQ(rig.lines[4321], "<req id=\"4321\"/>");
    EXPECT_EQ(rig.lines.back(), "<req id=\"9999\"/>");
    EXPECT_EQ(rig.allocs, 10000u);
    EXPECT_EQ(rig.frees, 10000u);
}

}  // namespace
