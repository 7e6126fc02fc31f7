// The control-task queue as plain code: what the receiver takes, how taken bytes count toward the
// mark, giving blocks back, non-waiting and timed puts, and deactivation waking both sides.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include <ace/OS_NS_sys_time.h>

#include "CNTaskQueue.h"

using namespace std::chrono_literals;

namespace {

ACE_Message_Block* block(size_t size, char tag)
{
    auto* mb = new ACE_Message_Block(size);
    mb->wr_ptr()[0] = tag;
    mb->wr_ptr(size);
    return mb;
}

std::string tags(ACE_Message_Block* chain)
{
    std::string s;
    for (; chain != nullptr; chain = chain->next()) s += chain->rd_ptr()[0];
    return s;
}

// Takes what is queued, hands each block back to the queue as started, and releases it.
std::string take_and_finish(CNTaskQueue& q)
{
    ACE_Message_Block* chain = nullptr;
    if (q.dequeue_all(chain) < 0) return "!";
    std::string s = tags(chain);
    while (chain != nullptr) {
        ACE_Message_Block* mb = chain;
        chain = chain->next();
        mb->next(nullptr);
        q.done_with(mb);
        mb->release();
    }
    return s;
}

TEST(PlatformKernelTaskQueue, TakenBytesCountUntilStartedAndNonWaitingPutsFailOnAFullQueue)
{
    // Mark 300 bytes, blocks of 100: a put is taken while fewer than 300 bytes are queued or
    // taken-but-not-started (the backlog a sender reads). Each row: an action and the expected
    // outcome.
    CNTaskQueue q(0);
    q.high_water_mark(300);
    q.low_water_mark(300);
    ACE_Time_Value none(ACE_Time_Value::zero);
    auto put = [&](char tag) {
        ACE_Message_Block* mb = block(100, tag);
        int rc = q.enqueue_tail(mb, &none);
        if (rc == -1) {
            EXPECT_EQ(errno, EWOULDBLOCK);
            mb->release();
        }
        return rc;
    };
    EXPECT_EQ(put('a'), 1);
    EXPECT_EQ(put('b'), 2);
    EXPECT_EQ(put('c'), 3);
    EXPECT_EQ(put('d'), -1); // 300 queued
    EXPECT_EQ(q.backlog_bytes(), 300u);
    ACE_Message_Block* chain = nullptr;
    ASSERT_EQ(q.dequeue_all(chain), 3);
    EXPECT_EQ(tags(chain), "abc");
    EXPECT_EQ(q.message_count(), 0u);
    EXPECT_EQ(q.message_bytes(), 0u);
    EXPECT_EQ(q.taken_bytes(), 300u);
    EXPECT_EQ(q.backlog_bytes(), 300u);
    EXPECT_EQ(put('e'), -1); // still 300 taken and not started
    ACE_Message_Block* first = chain;
    chain = chain->next();
    first->next(nullptr);
    chain->prev(nullptr);
    q.done_with(first);
    first->release();
    EXPECT_EQ(q.taken_bytes(), 200u);
    EXPECT_EQ(q.backlog_bytes(), 200u);
    EXPECT_EQ(put('f'), 1);  // 200 taken + 0 queued
    EXPECT_EQ(q.backlog_bytes(), 300u);
    EXPECT_EQ(put('g'), -1); // 200 + 100
    // The untaken rest goes back in front of what came since, in its order.
    q.give_back(chain);
    EXPECT_EQ(q.taken_bytes(), 0u);
    EXPECT_EQ(q.message_count(), 3u);
    EXPECT_EQ(q.message_bytes(), 300u);
    EXPECT_EQ(q.backlog_bytes(), 300u);
    EXPECT_EQ(take_and_finish(q), "bcf");
    EXPECT_EQ(q.taken_bytes(), 0u);
    EXPECT_EQ(q.backlog_bytes(), 0u);
    EXPECT_EQ(put('h'), 1);
    EXPECT_EQ(take_and_finish(q), "h");
}

TEST(PlatformKernelTaskQueue, WaitingPutsWaitForRoomTimedPutsGiveUp)
{
    CNTaskQueue q(0);
    q.high_water_mark(100);
    q.low_water_mark(100);
    ASSERT_EQ(q.enqueue_tail(block(100, 'a')), 1);
    // A timed put gives up at its (absolute) time.
    ACE_Time_Value soon = ACE_OS::gettimeofday() + ACE_Time_Value(0, 20000);
    ACE_Message_Block* late = block(10, 'x');
    EXPECT_EQ(q.enqueue_tail(late, &soon), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    late->release();
    // A waiting put goes in once the receiver has started the block that filled the queue.
    std::atomic<int> rc{-2};
    std::thread sender([&] { rc = q.enqueue_tail(block(10, 'b')); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(rc.load(), -2);
    EXPECT_EQ(take_and_finish(q), "a");
    sender.join();
    EXPECT_EQ(rc.load(), 1);
    EXPECT_EQ(take_and_finish(q), "b");
}

TEST(PlatformKernelTaskQueue, ATimedWaitOnEitherSideGivesUpAtItsTimeAndLeavesTheQueueAsItWas)
{
    // A put into a full queue and a take from an empty one each sleep until their (absolute)
    // time, then fail with EWOULDBLOCK; what was queued stays queued.
    struct Row {
        const char* name;
        bool fill;  // the queue is full (the put waits) or empty (the take waits)
    };
    const Row rows[] = {{"put into a full queue", true}, {"take from an empty queue", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CNTaskQueue q(0);
        q.high_water_mark(100);
        q.low_water_mark(100);
        if (row.fill) {
            ASSERT_EQ(q.enqueue_tail(block(100, 'a')), 1);
        }
        ACE_Time_Value soon = ACE_OS::gettimeofday() + ACE_Time_Value(0, 20000);
        errno = 0;
        if (row.fill) {
            ACE_Message_Block* late = block(10, 'x');
            EXPECT_EQ(q.enqueue_tail(late, &soon), -1);
            late->release();
        } else {
            ACE_Message_Block* got = nullptr;
            EXPECT_EQ(q.dequeue_head(got, &soon), -1);
            EXPECT_EQ(got, nullptr);
        }
        EXPECT_EQ(errno, EWOULDBLOCK);
        EXPECT_EQ(q.message_count(), row.fill ? 1u : 0u);
        EXPECT_EQ(q.sleep_count(), row.fill ? 0u : 1u);
        if (row.fill) {
            EXPECT_EQ(take_and_finish(q), "a");
        }
    }
}

// A receiver thread that takes chains from `q` and records each as its tags, until "!" .
struct Taker {
    explicit Taker(CNTaskQueue& q) : q_(q), thread_([this] { run(); }) {}
    ~Taker() { thread_.join(); }
    void run()
    {
        for (;;) {
            const std::string got = take_and_finish(q_);
            std::lock_guard<std::mutex> lock(m_);
            chains_.push_back(got);
            cv_.notify_all();
            if (got.find('!') != std::string::npos) return;
        }
    }
    // The next chain taken (waits for it).
    std::string next()
    {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this] { return !chains_.empty(); });
        std::string s = chains_.front();
        chains_.erase(chains_.begin());
        return s;
    }
    CNTaskQueue& q_;
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<std::string> chains_;
    std::thread thread_;
};

void wait_asleep(const CNTaskQueue& q, size_t sleeps)
{
    for (int i = 0; i < 5000 && q.sleep_count() < sleeps; ++i) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(q.sleep_count(), sleeps);
}

TEST(PlatformKernelTaskQueue, AHeldWakeUpReachesTheSleepingReceiverWhenSentAndAReleasedHoldWakesAtOnce)
{
    // Puts that find the receiver asleep while the sender holds its wake-ups leave it asleep,
    // so it takes them all as one chain once they are sent. After release_wakes a put wakes it
    // again by itself; while the hold goes on it needs another send_held_wakes.
    struct Row {
        const char* name;
        void (*send)();
        bool hold_after;
    };
    const Row rows[] = {{"sent, the hold goes on", CNTaskQueue::send_held_wakes, true},
                        {"released", CNTaskQueue::release_wakes, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CNTaskQueue q(0);
        Taker taker(q);
        wait_asleep(q, 1);
        CNTaskQueue::hold_wakes();
        for (char c : std::string("abc")) ASSERT_EQ(q.enqueue_tail(block(1, c)), static_cast<int>(c - 'a' + 1));
        EXPECT_EQ(q.wake_count(), 0u);
        row.send();
        EXPECT_EQ(q.wake_count(), 1u);
        EXPECT_EQ(taker.next(), "abc");
        wait_asleep(q, 2);
        ASSERT_EQ(q.enqueue_tail(block(1, 'd')), 1);
        EXPECT_EQ(q.wake_count(), row.hold_after ? 1u : 2u);
        if (row.hold_after) CNTaskQueue::send_held_wakes();
        EXPECT_EQ(q.wake_count(), 2u);
        EXPECT_EQ(taker.next(), "d");
        CNTaskQueue::release_wakes();
        q.deactivate();
        EXPECT_EQ(taker.next(), "!");
    }
}

TEST(PlatformKernelTaskQueue, APutThatWaitsForRoomFirstSendsTheWakeUpsItHolds)
{
    // The receiver of `a` frees the room `b` waits for only after it is woken for `a`: a held
    // wake-up kept through the wait would leave both asleep for ever.
    CNTaskQueue a(0);
    CNTaskQueue b(0);
    b.high_water_mark(100);
    b.low_water_mark(100);
    ASSERT_EQ(b.enqueue_tail(block(100, 'x')), 1);
    std::thread receiver([&] {
        const std::string got = take_and_finish(a);
        EXPECT_EQ(got, "m");
        EXPECT_EQ(take_and_finish(b), "x");  // makes room in b
    });
    wait_asleep(a, 1);
    CNTaskQueue::hold_wakes();
    ASSERT_EQ(a.enqueue_tail(block(1, 'm')), 1);
    EXPECT_EQ(b.enqueue_tail(block(10, 'y')), 1);  // waits for room
    CNTaskQueue::release_wakes();
    receiver.join();
    EXPECT_EQ(take_and_finish(b), "y");
}

TEST(PlatformKernelTaskQueue, DeactivationWakesTheSleepingReceiverAndEveryWaitingSender)
{
    CNTaskQueue q;
    q.high_water_mark(100);
    q.low_water_mark(100);
    std::atomic<int> taken{-2};
    std::atomic<int> takenErrno{0};
    std::thread receiver([&] {
        ACE_Message_Block* chain = nullptr;
        taken = q.dequeue_all(chain);
        takenErrno = errno;
    });
    for (int i = 0; i < 500 && q.sleep_count() == 0; ++i) std::this_thread::sleep_for(2ms);
    ASSERT_EQ(q.sleep_count(), 1u);
    q.deactivate();
    receiver.join();
    EXPECT_EQ(taken.load(), -1);
    EXPECT_EQ(takenErrno.load(), ESHUTDOWN);

    q.activate();
    ASSERT_EQ(q.enqueue_tail(block(100, 'a')), 1);
    constexpr int kSenders = 4;
    std::vector<std::thread> senders;
    std::atomic<int> shut{0};
    for (int i = 0; i < kSenders; ++i) {
        senders.emplace_back([&] {
            ACE_Message_Block* mb = block(10, 's');
            if (q.enqueue_tail(mb) == -1 && errno == ESHUTDOWN) {
                ++shut;
                mb->release();
            }
        });
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(shut.load(), 0);
    q.deactivate();
    for (auto& t : senders) t.join();
    EXPECT_EQ(shut.load(), kSenders);
    EXPECT_EQ(q.message_count(), 1u); // deactivation flushes nothing
    q.flush();
}

} // namespace
