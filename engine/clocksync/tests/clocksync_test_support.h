// clocksync_test_support.h - what the clock-sync tests and benchmarks share: report payloads
// built byte by byte from their wire layout, anchors prepared in the process's context, a fake
// clock and display sink for ClockSyncJob, and a capture of engine prints.
//
// Threads: build helpers are pure; the context helpers and PrintLines are for the test thread
// (PrintLines' sink is locked, so prints from other threads are captured too).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "zub_clocksync.h"
#include "zub_context.h"
#include "zub_print_capture.h"

namespace cst {

// Ticks of the 40-bit device clock nearest to a time in seconds, wrapped into the counter.
WORD64 ticks_of(double seconds);

// Payload of a transmit report ('0'): seq, the 40-bit time, extLen = ext.size(), ext.
std::vector<BYTE> tx_payload(BYTE seq, WORD64 ticks, const std::vector<BYTE>& ext = {});
// Payload of a receive report ('1'): seq, master id, the 40-bit time, first-path index << 6,
// extLen = ext.size(), ext.
std::vector<BYTE> rx_payload(BYTE seq, WORD64 master_id, WORD64 ticks, WORD16 first_path_index,
                             const std::vector<BYTE>& ext = {});
// An anchor-frame event body: local id, payload length, payload (exactly 4 + L bytes).
std::vector<BYTE> frame_body(WORD16 anc_id, const std::vector<BYTE>& payload);
inline const sock_data_t* as_sock_data(const std::vector<BYTE>& body)
{
    return reinterpret_cast<const sock_data_t*>(body.data());
}

// Brings context anchor `local` into use with this hardware id and position (m), with no
// masters, no pairs and fresh slots.
Anchor* prepare_anchor(WORD16 local, WORD64 hardware_id, double x = 0.0, double y = 0.0, double z = 0.0);
// Lets the slave follow the master, with a configured radio distance (0: none).
void follow(Anchor* slave, const Anchor* master, double rf_distance = 0.0);

// A ClockSyncJob's clock and display sink.
struct FakePorts {
    WORD64 now = 1000;
    std::vector<dac_ccp_rx_t> records;
    ClockSyncPorts ports();
};

// Engine prints captured while the object lives.
using PrintLines = zub_print_capture;

}  // namespace cst
