// simulator.h - a whole simulated site on loopback: one AnchorServer per anchor of the site,
// the World that makes their reports, faults scheduled in run time, the ground truth and the
// commands received written to files. Runs in real time on the calling thread (one poll loop
// for every link).
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "anchorsim/anchor_server.h"
#include "anchorsim/site.h"
#include "anchorsim/world.h"

namespace anchorsim {

enum class FaultKind {
    Close,
    Down,
    StopReading,
    ResumeReading,
    Garbage,
    BadCrc,
    Silent,
    Talk,
    BadEtx,        // one frame, checksum right, with a wrong end byte
    CutFrame,      // the link closed after half a frame
    ClockOff,      // clock-calibration reports stop
    ClockOn,       // and resume
    ClockEarly,    // clock-calibration reports also before the start command
    ClockUntilCommand,  // clock-calibration reports stop at the command with code ARG
};

struct Fault {
    double at_s = 0.0;
    uint64_t anchor = 0;  // hardware id
    FaultKind kind = FaultKind::Close;
    double arg = 0.0;     // Down: seconds until the listener reopens; Garbage: bytes;
                          // ClockUntilCommand: the command code (0..255)
};

// "T:ANCHOR:KIND[:ARG]" with KIND close, down, stop_reading, resume_reading, garbage, bad_crc,
// silent, talk, bad_etx, cut_frame, clock_off, clock_on, clock_early, clock_until_command
// (ARG the code, 68 'D' the configuration command by default); ANCHOR a hexadecimal hardware
// id. False with a message otherwise.
bool parse_fault(const std::string& text, Fault* out, std::string* error);

struct SimulatorOptions {
    std::string truth_path;     // empty: no truth file
    std::string commands_path;  // empty: no command log
    std::string sent_path;      // empty: no log of the reports queued on the links
    int port_override = -1;     // >= 0: every anchor listens on this port (0: ephemeral)
    std::vector<Fault> faults;
};

class Simulator {
public:
    Simulator(const SiteModel& site, uint64_t seed, SimulatorOptions options);
    ~Simulator();

    // Opens every anchor's listener and the output files; false with a message.
    bool open(std::string* error);
    // Runs until `duration_s` of run time have passed (<= 0: until stop is set).
    void run(double duration_s, const std::atomic<bool>& stop);
    // One loop turn: waits at most `max_wait_ms` for the links, then sends what is due at
    // run time `now` (seconds since open).
    void step(double now, int max_wait_ms);

    AnchorServer& server(size_t i) { return *servers_[i]; }
    size_t anchor_count() const { return servers_.size(); }
    World& world() { return world_; }

private:
    void apply_due_faults(double now);
    void deliver(double now, const std::vector<Report>& reports);
    void write_truth(const std::vector<Truth>& truth);
    void log_commands(double now);

    SiteModel site_;
    SimulatorOptions options_;
    World world_;
    std::mt19937_64 fault_rng_;
    std::vector<std::unique_ptr<AnchorServer>> servers_;
    std::vector<size_t> commands_logged_;
    std::vector<std::pair<double, size_t>> reopen_at_;  // (run time, anchor)
    size_t next_fault_ = 0;
    FILE* truth_ = nullptr;
    FILE* commands_ = nullptr;
    FILE* sent_ = nullptr;
    double wall_at_start_ = 0.0;  // Unix seconds at run time 0
    std::vector<Report> reports_;
    std::vector<Truth> truth_batch_;
};

}  // namespace anchorsim
