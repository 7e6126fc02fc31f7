// task_queue.cpp - the control-task queue's hand-off (see CNTaskQueue.h).
//
// Waking: a sender that finds the receiver asleep (sleepers_ > 0, read under the lock) signals
// once after unlocking; until that receiver runs again no other sender signals. Room: the
// receiver releases taken bytes with a plain store and then reads full_waiters_; a sender
// announces itself in full_waiters_ and then reads the taken bytes again. Both sides use
// sequentially consistent operations, so at least one of them sees the other: either the
// sender finds the room, or the receiver finds the waiter and broadcasts (after taking and
// releasing the lock, so the waiter is already inside its wait).
#include "CNTaskQueue.h"

#include <cerrno>
#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

inline void cpu_relax()
{
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

size_t block_bytes(const ACE_Message_Block* pBlock) { return pBlock->total_size(); }

// The wake-ups one thread holds (see hold_wakes).
struct HeldWakes {
    static constexpr int kMax = 32;  // more than a program's tasks
    bool on = false;
    int count = 0;
    CNTaskQueue* queue[kMax] = {};
};

thread_local HeldWakes t_held;

} // namespace

void CNTaskQueue::hold_wakes() { t_held.on = true; }

void CNTaskQueue::send_held_wakes()
{
    // Taken out first: a signal may not reach this thread's list again.
    const int n = t_held.count;
    t_held.count = 0;
    for (int i = 0; i < n; ++i) {
        t_held.queue[i]->wake_receiver();
    }
}

void CNTaskQueue::release_wakes()
{
    t_held.on = false;
    send_held_wakes();
}

bool CNTaskQueue::hold_wake()
{
    if (!t_held.on) {
        return false;
    }
    for (int i = 0; i < t_held.count; ++i) {
        if (t_held.queue[i] == this) {
            return true;
        }
    }
    if (t_held.count == HeldWakes::kMax) {
        return false;
    }
    t_held.queue[t_held.count++] = this;
    return true;
}

CNTaskQueue::CNTaskQueue(long lPollNs) : lPollNs_(lPollNs), lPollBudgetNs_(lPollNs) {}

int CNTaskQueue::enqueue_tail(ACE_Message_Block* pBlock, ACE_Time_Value* timeout)
{
    return put(pBlock, timeout, Where::kTail);
}

int CNTaskQueue::enqueue_head(ACE_Message_Block* pBlock, ACE_Time_Value* timeout)
{
    return put(pBlock, timeout, Where::kHead);
}

int CNTaskQueue::enqueue_prio(ACE_Message_Block* pBlock, ACE_Time_Value* timeout)
{
    return put(pBlock, timeout, Where::kPrio);
}

int CNTaskQueue::put(ACE_Message_Block* pBlock, ACE_Time_Value* timeout, Where where)
{
    int count = 0;
    bool wake = false;
    ACE_Notification_Strategy* notifier = nullptr;
    {
        ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, lock_, -1);
        if (state_ == ACE_Message_Queue_Base::DEACTIVATED) {
            errno = ESHUTDOWN;
            return -1;
        }
        if (wait_not_full_cond(timeout) == -1) {
            return -1;
        }
        deferring_ = true;
        signal_owed_ = false;
        switch (where) {
        case Where::kTail:
            count = enqueue_tail_i(pBlock);
            break;
        case Where::kHead:
            count = enqueue_head_i(pBlock);
            break;
        case Where::kPrio:
            count = enqueue_i(pBlock);
            break;
        }
        deferring_ = false;
        if (count == -1) {
            return -1;
        }
        queued_hint_.store(cur_count_, std::memory_order_release);
        queued_bytes_.store(cur_bytes_, std::memory_order_relaxed);
        wake = signal_owed_;
        notifier = notification_strategy_;
    }
    if (wake && !hold_wake()) {
        wake_receiver();
    }
    if (notifier != nullptr) {
        notifier->notify();
    }
    return count;
}

void CNTaskQueue::wake_receiver()
{
    wakes_.fetch_add(1, std::memory_order_relaxed);
    not_empty_cond_.signal();
}

int CNTaskQueue::signal_dequeue_waiters()
{
    if (sleepers_ == 0) {
        return 0;
    }
    if (deferring_) {
        if (!signal_sent_ || sleepers_ > 1) {
            signal_sent_ = true;
            signal_owed_ = true;
        }
        return 0;
    }
    signal_sent_ = true;
    return not_empty_cond_.signal() != 0 ? -1 : 0;
}

int CNTaskQueue::signal_enqueue_waiters()
{
    // The library's own dequeue paths (under the lock): every waiting sender re-checks for itself.
    queued_bytes_.store(cur_bytes_, std::memory_order_relaxed);
    if (full_waiters_.load(std::memory_order_seq_cst) == 0) {
        return 0;
    }
    return not_full_cond_.broadcast() != 0 ? -1 : 0;
}

bool CNTaskQueue::is_full_i()
{
    const size_t queued = cur_bytes_;
    if (queued >= high_water_mark_) {
        return true;
    }
    if (queued + taken_cap_ < high_water_mark_) {
        return false; // the common case: no look at the receiver's counter
    }
    return queued + taken_bytes_.load(std::memory_order_seq_cst) >= high_water_mark_;
}

int CNTaskQueue::woken(int rc) const
{
    if (rc == -1) {
        if (errno == ETIME) {
            errno = EWOULDBLOCK;
        }
        return -1;
    }
    if (state_ != ACE_Message_Queue_Base::ACTIVATED) {
        errno = ESHUTDOWN;
        return -1;
    }
    return 0;
}

int CNTaskQueue::wait_not_full_cond(ACE_Time_Value* timeout)
{
    while (is_full_i()) {
        if (timeout != nullptr && *timeout == ACE_Time_Value::zero) {
            errno = EWOULDBLOCK;
            return -1;
        }
        full_waiters_.fetch_add(1, std::memory_order_seq_cst);
        if (!is_full_i()) {
            full_waiters_.fetch_sub(1, std::memory_order_seq_cst);
            break;
        }
        // The receivers this thread still owes a wake-up may be the ones that make room.
        send_held_wakes();
        const int rc = woken(not_full_cond_.wait(timeout));
        full_waiters_.fetch_sub(1, std::memory_order_seq_cst);
        if (rc == -1) {
            return -1;
        }
    }
    return 0;
}

int CNTaskQueue::wait_not_empty_cond(ACE_Time_Value* timeout)
{
    while (is_empty_i()) {
        ++sleepers_;
        sleeps_.fetch_add(1, std::memory_order_relaxed);
        const int rc = woken(not_empty_cond_.wait(timeout));
        --sleepers_;
        signal_sent_ = false;
        if (rc == -1) {
            return -1;
        }
    }
    return 0;
}

void CNTaskQueue::poll_for_work()
{
    // The look pays only while work keeps coming within it: each look that ends empty halves
    // the next one (down to none), and work found without sleeping restores it.
    if (queued_hint_.load(std::memory_order_acquire) != 0) {
        lPollBudgetNs_ = lPollNs_;
        return;
    }
    if (lPollBudgetNs_ <= 0) {
        return;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::nanoseconds(lPollBudgetNs_);
    for (unsigned i = 1;; ++i) {
        if (queued_hint_.load(std::memory_order_acquire) != 0) {
            lPollBudgetNs_ = lPollNs_;
            return;
        }
        cpu_relax();
        if ((i & 31U) == 0 && Clock::now() >= until) {
            lPollBudgetNs_ = lPollBudgetNs_ / 2 < kMinPollNs ? 0 : lPollBudgetNs_ / 2;
            return;
        }
    }
}

int CNTaskQueue::dequeue_all(ACE_Message_Block*& pChain)
{
    pChain = nullptr;
    poll_for_work();
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, lock_, -1);
    if (state_ == ACE_Message_Queue_Base::DEACTIVATED) {
        errno = ESHUTDOWN;
        return -1;
    }
    if (wait_not_empty_cond(nullptr) == -1) {
        return -1;
    }
    const size_t count = cur_count_;
    // The batch leaves the queued count before it joins the taken one: backlog_bytes reads the
    // taken count first, so a reader may miss the batch for a moment but never counts it twice.
    queued_hint_.store(0, std::memory_order_relaxed);
    queued_bytes_.store(0, std::memory_order_relaxed);
    const size_t taken = taken_bytes_.load(std::memory_order_relaxed) + cur_bytes_;
    taken_bytes_.store(taken, std::memory_order_seq_cst);
    taken_cap_ = taken;
    pChain = head_;
    head_ = nullptr;
    tail_ = nullptr;
    cur_bytes_ = 0;
    cur_length_ = 0;
    cur_count_ = 0;
    return static_cast<int>(count);
}

void CNTaskQueue::done_with(ACE_Message_Block* pBlock)
{
    const size_t left = taken_bytes_.load(std::memory_order_relaxed) - block_bytes(pBlock);
    taken_bytes_.store(left, std::memory_order_seq_cst);
    if (full_waiters_.load(std::memory_order_seq_cst) != 0) {
        wake_full_waiters();
    }
}

void CNTaskQueue::wake_full_waiters()
{
    bool room = false;
    {
        ACE_GUARD(ACE_Thread_Mutex, guard, lock_);
        room = cur_bytes_ + taken_bytes_.load(std::memory_order_relaxed) <= low_water_mark_ || !is_full_i();
    }
    if (room) {
        not_full_cond_.broadcast();
    }
}

void CNTaskQueue::give_back(ACE_Message_Block* pChain)
{
    if (pChain == nullptr) {
        return;
    }
    ACE_Message_Block* last = pChain;
    size_t count = 1;
    size_t bytes = block_bytes(pChain);
    size_t length = pChain->total_length();
    while (last->next() != nullptr) {
        last = last->next();
        ++count;
        bytes += block_bytes(last);
        length += last->total_length();
    }
    bool wake = false;
    {
        ACE_GUARD(ACE_Thread_Mutex, guard, lock_);
        pChain->prev(nullptr);
        last->next(head_);
        if (head_ != nullptr) {
            head_->prev(last);
        } else {
            tail_ = last;
        }
        head_ = pChain;
        cur_count_ += count;
        cur_bytes_ += bytes;
        cur_length_ += length;
        taken_bytes_.store(taken_bytes_.load(std::memory_order_relaxed) - bytes, std::memory_order_seq_cst);
        queued_hint_.store(cur_count_, std::memory_order_release);
        queued_bytes_.store(cur_bytes_, std::memory_order_relaxed);
        wake = sleepers_ > 0;
    }
    if (wake) {
        not_empty_cond_.signal();
    }
}
