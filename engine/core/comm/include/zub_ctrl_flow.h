// zub_ctrl_flow.h - back-pressure on the controller link: how many of the controller's lines
// the socket job has handed to the control job and the control job has not yet taken, which
// of them still belong to the controller that is connected, and whether the socket job has
// stopped reading the controller; and whether the controller still takes its replies
// (ReplyStall, below).
//
// The socket job hands a line over only while fewer than kLinesInFlight are in flight and the
// controller's unsent replies stay under kReplyMark; otherwise it stops reading the controller
// (TCP then pushes back on the controller) until the control job has taken lines or the
// replies have drained. Lines are counted in the order both sides see them (one sender, one
// queue), so the n-th line the control job takes is the n-th the socket job handed over: a line
// handed over before the current controller was accepted, or after the controller went, is
// dropped instead of run.
//
// Threads: handed_over, accepted, set_paused run on the socket job's reactor thread; take on
// the control job's thread; gone on whichever thread removes the controller; wake on any
// thread. Counters are atomics: a pause and a take that cross each other always leave one side
// seeing the other (paused is stored before the gate is checked again, a take is counted before
// paused is read), so the link is never left stopped with nothing in flight.
#pragma once

#include <atomic>
#include <cstddef>

#include "VorlenTypes.h"

class CtrlFlow {
public:
    static constexpr WORD64 kLinesInFlight = 4;
    static constexpr size_t kReplyMark = 64 * 1024;
    // How soon the socket job looks again at replies a slow controller has left unsent.
    static constexpr int kRetryMs = 20;

    // Asks the socket job to look at the controller link again after delay_ms (0: at once).
    using Waker = void (*)(int delay_ms);

    // Whether one more line may be handed over with this many reply bytes unsent.
    bool may_hand_over(size_t unsent_reply_bytes) const;
    // Lines handed over and not yet taken.
    WORD64 in_flight() const;

    // Reactor thread.
    void handed_over() { sent_.fetch_add(1); }
    void accepted();
    void set_paused(bool on) { paused_.store(on); }
    bool paused() const { return paused_.load(); }

    // The controller went: its lines still in flight are dropped when taken.
    void gone() { live_from_.store(kNone); }
    // Control thread: one line taken; true to run it. Wakes the socket job when it had stopped
    // reading.
    bool take();

    void set_waker(Waker w) { waker_.store(w); }
    void wake(int delay_ms) const;

    // Back to the state of a fresh process (tests).
    void reset();

private:
    static constexpr WORD64 kNone = ~WORD64{0};

    std::atomic<WORD64> sent_{0};
    std::atomic<WORD64> taken_{0};
    // The first line number of the controller connected now; kNone while none is. Lines from
    // before any controller (0) run: only a controller that went leaves lines to drop.
    std::atomic<WORD64> live_from_{0};
    std::atomic<bool> paused_{false};
    std::atomic<Waker> waker_{nullptr};
};

// The engine's one controller flow.
CtrlFlow& zub_ctrl_flow();

// Whether the controller still takes its replies. Reading it stops while its replies wait, so a
// controller that stops reading them (a hung client, a peer gone without a FIN while replies were
// in flight) would hold the one controller slot for ever: once it has taken none of them for
// kStallMs while some waited in the engine (its socket would take no more), it has stalled and
// is closed. A controller with nothing waiting for it never stalls, however long it is idle.
//
// Threads: the owner's lock around every call (the controller's reply queue's).
class ReplyStall {
public:
    static constexpr WORD64 kStallMs = 30000;

    // After a write of the controller's replies at now_ms: `waiting` bytes are still queued, and
    // `took` says whether its socket took any of them (or of the reply written) just now.
    void wrote(size_t waiting, bool took, WORD64 now_ms);
    // True once replies have waited kStallMs at now_ms without the socket taking any of them.
    bool stalled(WORD64 now_ms) const;
    // The controller went (its replies with it).
    void reset() { waiting_ = false; }

private:
    bool waiting_ = false;
    WORD64 since_ms_ = 0;  // replies began to wait, or bytes of them were last taken
};
