// manager_router.h - what a manager does with each message, as plain code: the power-on and
// start handshake, the choice of selector for a report, the raw-blink record for the display
// job and the count. The job entry (zub_manager_job.cpp) is a thin adapter that hands it the
// platform's message length and sends through the platform; tests hand it a recording output.
//
// A router holds no state; each manager thread uses its own, any number at once.
#pragma once

#include <array>

#include "VorlenTypes.h"
#include "zub_job_records.h"

// Message layout of a report from the frame router: u16 local anchor id, u16 payload length,
// then the payload (byte 0 the report code, byte 1 the sequence number).
constexpr WORD16 kReportHeadLen = ZUB_SOCK_DATA_HEAD_LEN;
// Shortest arrival report a manager forwards: the head and 18 bytes of report head.
constexpr WORD16 kMinArrivalMsgLen = 22;
// Shortest ranging report a manager forwards: the head and the payload up to the short id.
constexpr WORD16 kMinRangingMsgLen = 18;
// The raw-blink record for the display job.
constexpr WORD16 kRawBlinkLen = sizeof(msg_raw_blink_t);

using RawBlinkBytes = std::array<BYTE, kRawBlinkLen>;

// Where a manager's output goes. Every call is made on the manager's own thread.
class ManagerOutput {
public:
    virtual ~ManagerOutput() = default;
    virtual void power_on_ack() = 0;
    virtual void start_ok() = 0;
    // The report message unchanged, `len` bytes, to selector `index` (0..17).
    virtual void to_selector(unsigned index, const BYTE* msg, WORD16 len) = 0;
    virtual void to_display(const RawBlinkBytes& raw_blink) = 0;
};

// The raw-blink record in its wire bytes.
RawBlinkBytes encode_raw_blink(const msg_raw_blink_t& rec);

class ManagerRouter {
public:
    explicit ManagerRouter(ManagerOutput& out) : out_(out) {}

    // Handles one message of `len` bytes (the platform's length) in `state`; returns the
    // state the job moves to.
    WORD16 handle(WORD16 state, WORD32 msg_id, const BYTE* body, WORD16 len);

    // One arrival report (event 3); false when it is too short and nothing was done.
    bool on_arrival_report(const BYTE* msg, WORD16 len);
    // One ranging report (event 5); false when it is too short and nothing was done.
    bool on_ranging_report(const BYTE* msg, WORD16 len);

private:
    WORD16 on_wait_start(WORD32 msg_id);
    WORD16 on_running(WORD32 msg_id, const BYTE* body, WORD16 len);
    void route(WORD64 key, const BYTE* msg, WORD16 len);

    ManagerOutput& out_;
};
