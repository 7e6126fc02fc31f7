// The control-task queue under load: waiting and non-waiting senders into queues whose receivers
// take everything queued at once, go idle and sleep, and are woken; the high-water mark is
// reached and released again and again; every queue is deactivated in the middle and activated
// again. Each message is delivered exactly once and in its sender's order, except the
// non-waiting puts that found a queue full (or shut), which are counted by their senders and
// never delivered.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "CNTaskQueue.h"
#include "block_allocator.h"

using namespace std::chrono_literals;

namespace {

constexpr int kQueues = 3;
constexpr int kWaitingSenders = 4;
constexpr int kDroppingSenders = 4;
constexpr int kSenders = kWaitingSenders + kDroppingSenders;
constexpr uint32_t kPerSender = 12000; // round robin over the queues
constexpr size_t kBlockBytes = 64;
constexpr size_t kMark = 64 * kBlockBytes;

struct Payload {
    uint32_t sender;
    uint32_t seq;
};

struct Flags {
    std::atomic<bool> shut{false};   // queues deactivated by the test
    std::atomic<bool> finished{false};
    std::atomic<size_t> delivered{0};
};

// What a sender did with each of its messages.
struct SenderLog {
    std::vector<uint8_t> accepted = std::vector<uint8_t>(kPerSender, 0);
    uint32_t dropped = 0;
    uint32_t refused_while_shut = 0; // waiting puts turned back by deactivation, then re-sent
};

// What one receiver saw.
struct ReceiverLog {
    std::vector<std::vector<uint32_t>> seqs = std::vector<std::vector<uint32_t>>(kSenders);
    size_t most_taken = 0; // largest byte count taken in one go
    int bad_blocks = 0;
};

ACE_Message_Block* make(uint32_t sender, uint32_t seq)
{
    ACE_Message_Block* mb = cn_kernel::cached_block(kBlockBytes, ACE_Message_Block::MB_DATA, 0);
    if (mb != nullptr) {
        Payload p{sender, seq};
        std::memcpy(mb->wr_ptr(), &p, sizeof p);
        mb->wr_ptr(kBlockBytes);
    }
    return mb;
}

void wait_open(const Flags& f)
{
    while (f.shut.load()) std::this_thread::sleep_for(200us);
}

void send_all(int id, bool waiting, CNTaskQueue* queues, SenderLog& log, const Flags& f)
{
    for (uint32_t seq = 0; seq < kPerSender; ++seq) {
        CNTaskQueue& q = queues[seq % kQueues];
        ACE_Message_Block* mb = make(static_cast<uint32_t>(id), seq);
        ASSERT_NE(mb, nullptr);
        for (;;) {
            ACE_Time_Value none(ACE_Time_Value::zero);
            if (q.enqueue_tail(mb, waiting ? nullptr : &none) != -1) {
                log.accepted[seq] = 1;
                break;
            }
            if (!waiting) {
                ++log.dropped;
                mb->release();
                break;
            }
            ASSERT_EQ(errno, ESHUTDOWN);
            ++log.refused_while_shut;
            wait_open(f);
        }
        if (seq % 700 == 699) {
            std::this_thread::sleep_for(1ms); // lets the receivers run dry and sleep
        }
    }
}

void receive_all(CNTaskQueue& q, ReceiverLog& log, Flags& f)
{
    size_t handled = 0;
    for (;;) {
        ACE_Message_Block* chain = nullptr;
        if (q.dequeue_all(chain) == -1) {
            if (f.finished.load()) return;
            wait_open(f);
            continue;
        }
        log.most_taken = std::max(log.most_taken, q.taken_bytes());
        while (chain != nullptr) {
            ACE_Message_Block* mb = chain;
            chain = mb->next();
            mb->next(nullptr);
            mb->prev(nullptr);
            q.done_with(mb);
            Payload p{};
            if (mb->length() == kBlockBytes) {
                std::memcpy(&p, mb->rd_ptr(), sizeof p);
            }
            if (mb->length() != kBlockBytes || p.sender >= kSenders) {
                ++log.bad_blocks;
            } else {
                log.seqs[p.sender].push_back(p.seq);
            }
            f.delivered.fetch_add(1);
            mb->release(); // on another thread than the one that made it
            if (++handled % 97 == 0) {
                std::this_thread::sleep_for(100us); // a slow job: the senders hit the mark
            }
        }
    }
}

TEST(PlatformKernelQueueStress, EveryAcceptedMessageArrivesOnceInItsSendersOrder)
{
    std::unique_ptr<CNTaskQueue[]> queues(new CNTaskQueue[kQueues]);
    for (int i = 0; i < kQueues; ++i) {
        queues[i].high_water_mark(kMark);
        queues[i].low_water_mark(kMark);
    }
    Flags flags;
    std::vector<SenderLog> sent(kSenders);
    std::vector<ReceiverLog> got(kQueues);
    std::vector<std::thread> receivers;
    for (int i = 0; i < kQueues; ++i) {
        receivers.emplace_back([&, i] { receive_all(queues[i], got[i], flags); });
    }
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s) {
        senders.emplace_back([&, s] { send_all(s, s < kWaitingSenders, queues.get(), sent[s], flags); });
    }
    // Deactivate every queue in the middle of the run, then open them again.
    for (int i = 0; i < 6000 && flags.delivered.load() < kSenders * kPerSender / 3; ++i) {
        std::this_thread::sleep_for(1ms);
    }
    flags.shut = true;
    for (int i = 0; i < kQueues; ++i) queues[i].deactivate();
    std::this_thread::sleep_for(20ms);
    for (int i = 0; i < kQueues; ++i) queues[i].activate();
    flags.shut = false;
    for (auto& t : senders) t.join();

    size_t accepted = 0;
    for (const SenderLog& s : sent)
        for (uint8_t a : s.accepted) accepted += a;
    for (int i = 0; i < 6000 && flags.delivered.load() < accepted; ++i) std::this_thread::sleep_for(10ms);
    flags.finished = true;
    for (int i = 0; i < kQueues; ++i) queues[i].deactivate();
    for (auto& t : receivers) t.join();

    uint32_t dropped = 0;
    uint32_t refused = 0;
    for (int s = 0; s < kSenders; ++s) {
        SCOPED_TRACE(s);
        const bool waiting = s < kWaitingSenders;
        // What each sender's messages became: every waiting one accepted; a dropped one is
        // counted once and is the only kind missing.
        uint32_t ok = 0;
        for (uint8_t a : sent[s].accepted) ok += a;
        EXPECT_EQ(ok + sent[s].dropped, kPerSender);
        if (waiting) {
            EXPECT_EQ(sent[s].dropped, 0u);
        }
        dropped += sent[s].dropped;
        refused += sent[s].refused_while_shut;
        // Per queue: exactly the accepted sequence numbers of that queue, in increasing order.
        for (int q = 0; q < kQueues; ++q) {
            std::vector<uint32_t> expect;
            for (uint32_t seq = static_cast<uint32_t>(q); seq < kPerSender; seq += kQueues)
                if (sent[s].accepted[seq]) expect.push_back(seq);
            EXPECT_EQ(got[q].seqs[s], expect) << "queue " << q;
        }
    }
    EXPECT_GT(dropped, 0u);  // the mark was reached
    EXPECT_GT(refused, 0u);  // deactivation turned waiting senders back
    for (int q = 0; q < kQueues; ++q) {
        SCOPED_TRACE(q);
        EXPECT_EQ(got[q].bad_blocks, 0);
        // The mark holds: a put is taken only below it, so one block at most goes over.
        EXPECT_GE(got[q].most_taken, kMark - kBlockBytes);
        EXPECT_LT(got[q].most_taken, kMark + kBlockBytes);
        EXPECT_GT(queues[q].sleep_count(), 0u); // the receiver slept and was woken
        EXPECT_EQ(queues[q].message_count(), 0u);
        EXPECT_EQ(queues[q].taken_bytes(), 0u);
    }
}

} // namespace
