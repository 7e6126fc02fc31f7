// CNTaskQueue.h - the message queue of one control task: the reactor library's multi-threaded
// queue with a hand-off built for a busy task. The receiving thread takes every queued block in
// one lock round, looks for new work for a bounded few tens of microseconds before it sleeps
// (less after looks that found nothing, so a task that is fed slowly just sleeps),
// and a sender signals it only when it sleeps, after the queue lock is released (or later, once,
// while the sending thread holds its wake-ups: see hold_wakes). What the queue
// promises stays that of the library's queue: first in, first out; a high-water mark in bytes
// (blocks the receiver has taken but not yet started still count, so a waiting sender waits for
// exactly what it waited for before); timed and non-waiting puts; deactivation wakes every waiter.
//
// Threads: any thread may put (enqueue_*) and use the library queue's own operations. The
// hand-off operations dequeue_all, done_with and give_back belong to one receiving thread.
#pragma once

#include <atomic>
#include <cstddef>

#include <ace/Condition_Thread_Mutex.h>
#include <ace/Guard_T.h>
#include <ace/Message_Queue_T.h>
#include <ace/Synch_Traits.h>

class CNTaskQueue : public ACE_Message_Queue<ACE_MT_SYNCH> {
public:
    using Base = ACE_Message_Queue<ACE_MT_SYNCH>;
    // How long the receiver keeps looking for new work before it sleeps.
    static constexpr long kDefaultPollNs = 20000;

    explicit CNTaskQueue(long lPollNs = kDefaultPollNs);

    // Receiver: waits for work and takes every queued block as one chain linked by next(),
    // oldest first. The blocks count toward the mark until done_with. Returns how many blocks
    // were taken, or -1 with errno ESHUTDOWN once the queue is deactivated (or pulsed).
    int dequeue_all(ACE_Message_Block*& pChain);
    // Receiver: a taken block is started (or dropped); its bytes no longer count.
    void done_with(ACE_Message_Block* pBlock);
    // Receiver: taken blocks not started go back to the head of the queue, in their order.
    void give_back(ACE_Message_Block* pChain);

    // Puts with the library queue's meaning of `timeout` (null: wait while full; an absolute
    // time, ACE_Time_Value::zero for none: give up then with errno EWOULDBLOCK).
    int enqueue_tail(ACE_Message_Block* pBlock, ACE_Time_Value* timeout = nullptr) override;
    int enqueue_head(ACE_Message_Block* pBlock, ACE_Time_Value* timeout = nullptr) override;
    int enqueue_prio(ACE_Message_Block* pBlock, ACE_Time_Value* timeout = nullptr) override;

    // The calling thread's wake-ups. While it holds them, a put of this thread that finds its
    // receiver asleep leaves the signal for later (each queue once, a few queues at most; more
    // are signalled at once), so a task that runs a chain of messages wakes each receiver once
    // per few messages, not once per message. A put that has to wait for room first sends what
    // is held. Control tasks hold them while they run a chain of blocks.
    static void hold_wakes();
    // Sends the wake-ups held so far; the hold goes on.
    static void send_held_wakes();
    // Sends the wake-ups held so far and ends the hold: what the thread puts from now on wakes
    // its receiver at once. A job entry that runs a loop of its own calls it first.
    static void release_wakes();

    // Bytes taken by the receiver and not yet started (they count toward the mark).
    size_t taken_bytes() const { return taken_bytes_.load(std::memory_order_relaxed); }
    // Bytes waiting for the receiver, queued or taken and not yet started: what the mark counts,
    // read without the lock (a value of a moment, as any sender's view of a busy queue). Any
    // thread; senders that may give up a message under load read it.
    size_t backlog_bytes() const
    {
        // Taken first: dequeue_all empties the queued count before it raises the taken one, so
        // a batch on its way from one to the other is never counted twice.
        const size_t taken = taken_bytes_.load(std::memory_order_acquire);
        return taken + queued_bytes_.load(std::memory_order_relaxed);
    }
    // How often a receiver went to sleep for want of work (dumps, tests).
    size_t sleep_count() const { return sleeps_.load(std::memory_order_relaxed); }
    // How often a sender woke the sleeping receiver after its put (dumps, tests).
    size_t wake_count() const { return wakes_.load(std::memory_order_relaxed); }

protected:
    bool is_full_i() override;
    int wait_not_full_cond(ACE_Time_Value* timeout) override;
    int wait_not_empty_cond(ACE_Time_Value* timeout) override;
    int signal_enqueue_waiters() override;
    int signal_dequeue_waiters() override;

private:
    enum class Where { kTail, kHead, kPrio };
    int put(ACE_Message_Block* pBlock, ACE_Time_Value* timeout, Where where);
    void poll_for_work();
    void wake_full_waiters();
    // Whether the calling thread takes on the wake-up of this queue's receiver for later.
    bool hold_wake();
    void wake_receiver();
    // What a sleeper on either condition makes of its wait's result (rc): 0 to look again, or
    // -1 with errno EWOULDBLOCK after its time-out and ESHUTDOWN once the queue is deactivated
    // or pulsed. Under the queue lock.
    int woken(int rc) const;

    static constexpr long kMinPollNs = 2000;
    const long lPollNs_;
    long lPollBudgetNs_;            // the receiver's next look (receiver only)
    // Under the queue lock.
    int sleepers_ = 0;              // receivers waiting for work
    bool signal_owed_ = false;      // a sender took on to wake them after unlocking
    bool signal_sent_ = false;      // woken and not yet running again: no further signal needed
    bool deferring_ = false;        // inside put: the wake waits for the unlock
    size_t taken_cap_ = 0;          // taken bytes at the last dequeue_all: an upper bound
    // Outside the lock. Each on a cache line of its own, so the receiver's per-block store and
    // the senders' per-put store do not pass one line back and forth.
    alignas(64) std::atomic<size_t> taken_bytes_{0};  // written by the receiver only
    alignas(64) std::atomic<int> full_waiters_{0};    // senders waiting for room (read per block)
    alignas(64) std::atomic<size_t> queued_hint_{0};  // blocks queued, for the receiver's look
    std::atomic<size_t> queued_bytes_{0};             // bytes queued, for backlog_bytes
    std::atomic<size_t> sleeps_{0};
    std::atomic<size_t> wakes_{0};
};
