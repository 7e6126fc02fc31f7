// Cutting the engine's unframed commands out of a byte stream by their codes' lengths.
#include <gtest/gtest.h>

#include "anchorsim/commands.h"

using anchorsim::Bytes;
using anchorsim::CommandSplitter;

TEST(anchorsim_Commands, LengthOfEachCode)
{
    struct Row { uint8_t code; size_t len; };
    for (const Row& r : {Row{0x44, 26}, Row{0x57, 2}, Row{0x5A, 17}, Row{0x5B, 27}, Row{0x53, 4}, Row{0x54, 1},
                         Row{0x56, 1}, Row{0x58, 4}, Row{0x59, 18}, Row{0x88, 4}, Row{0x42, 0}, Row{0x00, 0}}) {
        EXPECT_EQ(anchorsim::command_length(r.code), r.len) << std::hex << int(r.code);
    }
}

TEST(anchorsim_Commands, SplitsAcrossReads)
{
    struct Row {
        const char* what;
        std::vector<Bytes> reads;
        std::vector<Bytes> commands;  // in order, over all reads
        std::vector<bool> known;
        size_t left;
    };
    Bytes cfg(26, 0);
    cfg[0] = 0x44;
    const Row rows[] = {
        {"start then stop in one read", {{0x57, 0x01, 0x57, 0x00}}, {{0x57, 0x01}, {0x57, 0x00}}, {true, true}, 0},
        {"stop split in two reads", {{0x57}, {0x00}}, {{0x57, 0x00}}, {true}, 0},
        {"configuration in three reads",
         {Bytes(cfg.begin(), cfg.begin() + 5), Bytes(cfg.begin() + 5, cfg.begin() + 20), Bytes(cfg.begin() + 20, cfg.end())},
         {cfg}, {true}, 0},
        {"half a command stays held", {{0x57, 0x01, 0x59, 'r', 'e'}}, {{0x57, 0x01}}, {true}, 3},
        {"unknown code takes the rest", {{0x57, 0x01, 0x99, 0x57, 0x01}, {0x54}},
         {{0x57, 0x01}, {0x99, 0x57, 0x01}, {0x54}}, {true, false, true}, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CommandSplitter s;
        std::vector<anchorsim::Command> got;
        for (const Bytes& read : r.reads) {
            for (auto& c : s.feed(read.data(), read.size())) {
                got.push_back(c);
            }
        }
        ASSERT_EQ(got.size(), r.commands.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].bytes, r.commands[i]) << i;
            EXPECT_EQ(got[i].known, r.known[i]) << i;
        }
        EXPECT_EQ(s.pending(), r.left);
    }
}
