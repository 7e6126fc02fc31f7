#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "link_input.h"

namespace {

std::vector<BYTE> frame(WORD32 id, const std::string& body) {
    T_OMCMsgHead h = omc_link_head(id);
    h.wMsgSize = static_cast<WORD16>(body.size());
    h.tSender.wModule = 7;
    h.tSender.ucRouteType = 5;
    std::vector<BYTE> out(kOmcHeadSize + body.size());
    omc_head_encode(h, out.data());
    std::memcpy(out.data() + kOmcHeadSize, body.data(), body.size());
    return out;
}

struct Taken {
    WORD32 id;
    std::string body;
};

// Feeds bytes in chunks of the given size and collects every message taken out.
std::vector<Taken> feed(LinkInput& in, const std::vector<BYTE>& bytes, std::size_t chunk,
                        std::vector<WORD32>* oversized = nullptr) {
    std::vector<Taken> taken;
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t n = std::min({chunk, bytes.size() - pos, in.write_space()});
        EXPECT_GT(n, 0u) << "the block must never fill up";
        if (n == 0) {
            break;
        }
        std::memcpy(in.write_area(), bytes.data() + pos, n);
        in.commit(n);
        pos += n;
        T_OMCMsgHead h;
        const BYTE* body = nullptr;
        for (;;) {
            const LinkInput::Result r = in.next(&h, &body);
            if (r == LinkInput::Result::kNeedMore) {
                break;
            }
            if (r == LinkInput::Result::kOversized) {
                if (oversized != nullptr) {
                    oversized->push_back(h.dwMsgId);
                }
                continue;
            }
            taken.push_back({h.dwMsgId, std::string(reinterpret_cast<const char*>(body), h.wMsgSize)});
        }
    }
    return taken;
}

std::vector<BYTE> concat(std::initializer_list<std::vector<BYTE>> parts) {
    std::vector<BYTE> out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

TEST(LinkInput, TwoMessagesInOneReadAreEachTakenOnce) {
    LinkInput in;
    const auto bytes = concat({frame(100, "first"), frame(101, "second body")});
    const auto taken = feed(in, bytes, bytes.size());
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].id, 100u);
    EXPECT_EQ(taken[0].body, "first");
    EXPECT_EQ(taken[1].id, 101u);
    EXPECT_EQ(taken[1].body, "second body");
    EXPECT_EQ(in.held(), 0u);
}

TEST(LinkInput, MessageSplitByteByByteIsTakenWhole) {
    LinkInput in;
    const auto taken = feed(in, concat({frame(17003, ""), frame(200, "split over many reads")}), 1);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].id, 17003u);
    EXPECT_EQ(taken[0].body, "");
    EXPECT_EQ(taken[1].id, 200u);
    EXPECT_EQ(taken[1].body, "split over many reads");
}

TEST(LinkInput, ManyLargeMessagesInOddChunksNeverFillTheBlock) {
    LinkInput in;
    std::vector<BYTE> bytes;
    std::vector<std::string> bodies;
    for (int i = 0; i < 12; ++i) {
        bodies.push_back(std::string(LinkInput::kMaxBody - static_cast<std::size_t>(i) * 977, static_cast<char>('a' + i)));
        const auto f = frame(300 + static_cast<WORD32>(i), bodies.back());
        bytes.insert(bytes.end(), f.begin(), f.end());
    }
    const auto taken = feed(in, bytes, 7919);
    ASSERT_EQ(taken.size(), bodies.size());
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        EXPECT_EQ(taken[i].id, 300 + i);
        EXPECT_EQ(taken[i].body, bodies[i]);
    }
}

TEST(LinkInput, OversizedBodyIsSkippedAndTheStreamStaysInStep) {
    LinkInput in;
    const std::string too_big(LinkInput::kMaxBody + 1, 'x');
    const std::string far_too_big(60000, 'y'); // above what the 40960-byte block could ever hold
    std::vector<WORD32> oversized;
    const auto bytes = concat({frame(1, "before"), frame(2, too_big), frame(3, far_too_big), frame(4, "after")});
    const auto taken = feed(in, bytes, 4096, &oversized);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].body, "before");
    EXPECT_EQ(taken[1].id, 4u);
    EXPECT_EQ(taken[1].body, "after");
    EXPECT_EQ(oversized, (std::vector<WORD32>{2, 3}));
}

TEST(LinkInput, LargestBodyAllowedIsTakenWhole) {
    LinkInput in;
    const std::string body(LinkInput::kMaxBody, 'z');
    EXPECT_EQ(kOmcHeadSize + body.size(), CN_MAX_MSG_DATA_LEN);
    const auto taken = feed(in, frame(9, body), 65536);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].body, body);
}

} // namespace
