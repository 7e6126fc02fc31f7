// zub_control_ports.h - the platform calls the control job makes, gathered in one record so
// that its logic runs as plain code: the job uses the real sends, timers and print switch; a
// test replaces entries with fakes and drives the handshake, the loaders and the controller
// protocol without a platform.
//
// Threads: the record is read and written only on the control job's thread (and, in tests,
// on the test thread that stands in for it).
#pragma once

#include <functional>
#include <string>

#include "VorlenTypes.h"

class Anchor;

struct ControlPorts {
    // Raw command bytes to one anchor's link (false: not sent).
    std::function<bool(const BYTE* buf, WORD16 len, Anchor* anchor)> send_to_anchor;
    // One reply text to the controller client (false: no client or failed).
    std::function<bool(const std::string* text)> send_to_controller;
    // An engine event without body to another engine job.
    std::function<bool(WORD32 msg_id, const JID* dst)> send_event;
    // One-shot engine timer: its id, or 0xFFFFFFFF when refused.
    std::function<WORD32(BYTE type, WORD32 value, WORD32 seconds)> set_timer;
    std::function<bool(WORD32 timer_id)> del_timer;
    // The engine print flag (qeSetPrnFlag).
    std::function<void(BYTE flag)> set_print_flag;
    // Holds the control job (the anchors' reset).
    std::function<void(unsigned seconds)> sleep_seconds;
    // Ends the process in order with this status.
    std::function<void(int status)> exit_process;
    // Rebuilds and publishes the anchors' distance matrix after "anchor cfg".
    std::function<void(bool)> compute_distance_matrix;
    // A monotonic clock in milliseconds (the pace of the anchors' configuration requests).
    std::function<WORD64()> now_ms;
};

// The record the control job uses; built with the real calls on first use.
ControlPorts& zub_control_ports();
// The real calls (a test restores them with zub_control_ports() = zub_control_real_ports()).
ControlPorts zub_control_real_ports();
