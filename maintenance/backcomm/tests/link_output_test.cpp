#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "link_output.h"

namespace {

ACE_Message_Block* block_of(const std::string& text) {
    auto* mb = new ACE_Message_Block(text.size());
    mb->copy(text.data(), text.size());
    return mb;
}

// A socket stand-in: takes at most `room` bytes per call, then reports "try again".
struct Sink {
    std::string taken;
    std::size_t room = 0;
    int fail_errno = 0;
    ssize_t operator()(const void* data, std::size_t len) {
        if (fail_errno != 0) {
            errno = fail_errno;
            return -1;
        }
        if (room == 0) {
            errno = EAGAIN;
            return -1;
        }
        const std::size_t n = std::min(room, len);
        taken.append(static_cast<const char*>(data), n);
        room -= n;
        return static_cast<ssize_t>(n);
    }
};

LinkOutput::SendFn to(Sink& sink) {
    return [&sink](const void* d, std::size_t n) { return sink(d, n); };
}

TEST(LinkOutput, PartlySentMessageStaysAheadOfLaterOnes) {
    LinkOutput out;
    ASSERT_TRUE(out.queue(block_of("AAAAAAAAAA")));
    Sink sink;
    sink.room = 4;
    EXPECT_EQ(out.drain(to(sink)), LinkOutput::Drain::kBlocked);
    ASSERT_TRUE(out.queue(block_of("HB"))); // a heartbeat queued while the message is half out
    sink.room = 3;
    EXPECT_EQ(out.drain(to(sink)), LinkOutput::Drain::kBlocked);
    sink.room = 100;
    EXPECT_EQ(out.drain(to(sink)), LinkOutput::Drain::kEmpty);
    EXPECT_EQ(sink.taken, "AAAAAAAAAAHB");
    EXPECT_TRUE(out.empty());
}

TEST(LinkOutput, TryAgainKeepsEverythingAndHardErrorIsReported) {
    LinkOutput out;
    ASSERT_TRUE(out.queue(block_of("one")));
    ASSERT_TRUE(out.queue(block_of("two")));
    Sink sink;
    EXPECT_EQ(out.drain(to(sink)), LinkOutput::Drain::kBlocked);
    EXPECT_EQ(out.queued_bytes(), 6u);
    sink.fail_errno = EPIPE;
    EXPECT_EQ(out.drain(to(sink)), LinkOutput::Drain::kFailed);
    sink.fail_errno = 0;
    sink.room = 100;
    EXPECT_EQ(out.drain(to(sink)), LinkOutput::Drain::kEmpty);
    EXPECT_EQ(sink.taken, "onetwo");
}

TEST(LinkOutput, OneWakeUpIsClaimedUntilTheQueueIsDrained) {
    LinkOutput out;
    EXPECT_TRUE(out.claim_wakeup());
    EXPECT_FALSE(out.claim_wakeup());
    Sink sink;
    sink.room = 100;
    out.drain(to(sink));
    EXPECT_TRUE(out.claim_wakeup());
    out.wakeup_failed();
    EXPECT_TRUE(out.claim_wakeup());
}

TEST(LinkOutput, RefusesBeyondHighWaterAndAfterClose) {
    LinkOutput out;
    const std::size_t chunk = 1 << 20;
    std::size_t queued = 0;
    for (;;) {
        auto* mb = new ACE_Message_Block(chunk);
        mb->wr_ptr(chunk);
        if (!out.queue(mb)) {
            mb->release();
            break;
        }
        queued += chunk;
        ASSERT_LE(queued, LinkOutput::kHighWater + chunk);
    }
    EXPECT_GE(queued, LinkOutput::kHighWater);
    out.close();
    ACE_Message_Block* late = block_of("late");
    EXPECT_FALSE(out.queue(late));
    late->release();
    EXPECT_TRUE(out.empty());
}

} // namespace
