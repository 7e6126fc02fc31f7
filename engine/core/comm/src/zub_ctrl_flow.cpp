#include "zub_ctrl_flow.h"

WORD64 CtrlFlow::in_flight() const
{
    const WORD64 sent = sent_.load();
    const WORD64 taken = taken_.load();
    return sent > taken ? sent - taken : 0;
}

bool CtrlFlow::may_hand_over(size_t unsent_reply_bytes) const
{
    return in_flight() < kLinesInFlight && unsent_reply_bytes < kReplyMark;
}

void CtrlFlow::accepted()
{
    live_from_.store(sent_.load() + 1);
    paused_.store(false);
}

bool CtrlFlow::take()
{
    const WORD64 number = taken_.fetch_add(1) + 1;
    const bool live = number >= live_from_.load();
    if (paused_.load()) {
        wake(0);
    }
    return live;
}

void CtrlFlow::wake(int delay_ms) const
{
    if (Waker w = waker_.load()) {
        w(delay_ms);
    }
}

void CtrlFlow::reset()
{
    sent_.store(0);
    taken_.store(0);
    live_from_.store(0);
    paused_.store(false);
}

void ReplyStall::wrote(size_t waiting, bool took, WORD64 now_ms)
{
    if (waiting == 0) {
        waiting_ = false;
        return;
    }
    if (!waiting_ || took) {
        waiting_ = true;
        since_ms_ = now_ms;
    }
}

bool ReplyStall::stalled(WORD64 now_ms) const
{
    return waiting_ && now_ms >= since_ms_ && now_ms - since_ms_ >= kStallMs;
}

CtrlFlow& zub_ctrl_flow()
{
    static CtrlFlow flow;
    return flow;
}
