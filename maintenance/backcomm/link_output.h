// link_output.h - the output queue of one back-communication link.
//
// Any thread may queue (the job's thread for forwarded messages, the reactor thread for the
// hello and heartbeats); only the reactor thread drains. Queueing never waits. Whoever queues
// asks claim_wakeup() whether it must wake the reactor for output: at most one wake-up per link
// is outstanding, so the reactor's notification pipe cannot fill up with them, and no lock is
// held while waking.
#pragma once

#include <ace/Message_Block.h>
#include <ace/Message_Queue_T.h>
#include <ace/Synch.h>
#include <ace/Synch_Traits.h>

#include <atomic>
#include <cstddef>
#include <functional>

#include <sys/types.h>

class LinkOutput {
public:
    // Bytes a link may hold unsent before further messages are refused.
    static constexpr std::size_t kHighWater = 0x2800000;

    // Sends up to len bytes; returns how many went out, or -1 with errno set.
    using SendFn = std::function<ssize_t(const void* data, std::size_t len)>;

    enum class Drain {
        kEmpty,   // everything queued went out
        kBlocked, // the socket took less than offered; the rest waits at the head of the queue
        kFailed,  // the socket reported an error other than "try again"
    };

    LinkOutput();
    ~LinkOutput();
    LinkOutput(const LinkOutput&) = delete;
    LinkOutput& operator=(const LinkOutput&) = delete;

    // Queues a whole message at the tail without waiting; takes the block on success. False when
    // the queue refuses it (full or closed): the caller still owns the block.
    bool queue(ACE_Message_Block* block);

    // True once after queueing while no wake-up is outstanding: the caller then wakes the reactor.
    bool claim_wakeup();
    // The claimed wake-up could not be sent: let the next queueing try again.
    void wakeup_failed() { wakeup_pending_.store(false); }

    // Reactor thread: sends from the head of the queue until it is empty or the socket stops
    // taking bytes. A partly sent block stays first, its read position past what went out; it is
    // held aside rather than put back, so a queue filled meanwhile cannot push it out.
    Drain drain(const SendFn& send);

    // Reactor thread: nothing left to send.
    bool empty();
    std::size_t queued_bytes();

    // Reactor thread: releases every queued block and refuses further ones (the link is closing).
    void close();

private:
    ACE_Message_Queue<ACE_MT_SYNCH> queue_;
    ACE_Message_Block* in_flight_ = nullptr; // reactor thread only: the block being sent
    std::atomic<bool> wakeup_pending_{false};
};
