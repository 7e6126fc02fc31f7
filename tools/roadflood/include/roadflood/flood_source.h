// flood_source.h - valid anchor reports in bulk, for overload runs: the frames of a flood at a
// set rate, sent on a running Simulator's anchor links beside the site's own traffic.
//
// Kinds of flood:
// - arrivals: a fixed set of tags at fixed places, each blink heard by every flood anchor at
//   the time its device clock gives (so the rounds solve), the blinks spread evenly;
// - calibration: clock-calibration receive reports ('1') from the flood anchors naming one
//   master, which the site lets transmit nothing;
// - new_tags: single arrivals from the flood anchors, each frame a tag id not heard before
//   (cycling through `tags` ids).
// An arrivals flood of rate "max" goes as fast as the links take it: 256 rounds made at its
// start (round r: tag r mod `tags`, one frame per flood anchor) are sent over and over in
// chunks of 680 frames, a chunk to each flood anchor whose link has taken the one before.
//
// The quiet tag (quiet_tag()) blinks every 0.3 s, heard only by the default flood anchors:
// what a flood must leave its positions.
//
// FloodSource makes the frames (plain code, one thread). FloodDriver runs the simulator's
// loop with a flood on top on the thread that calls run(); start() and stop() may come from
// any other thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "anchorsim/simulator.h"

namespace roadflood {

enum class FloodKind { Arrivals, Calibration, NewTags };

struct FloodSpec {
    FloodKind kind = FloodKind::Arrivals;
    std::vector<size_t> anchors;  // site indexes of the anchors that send
    size_t tags = 200;            // tag ids used (Arrivals, NewTags)
    uint64_t first_tag = 0x20000;
    uint64_t master = 0;          // Calibration: the hardware id the reports name
    double rate = 0.0;            // frames per second, all flood anchors together; 0: as fast
                                  // as the links take them (arrivals only)
};

// "KIND:RATE[:ANCHORS[:TAGS[:FIRST]]]": KIND arrivals, calibration or new_tags; RATE frames/s,
// or "max" for arrivals; ANCHORS how many of the site's anchors send, from its second (default
// 4; new_tags 1); TAGS the ids used (default 200; new_tags 20000); FIRST the first id, hex
// (default 20000; new_tags 300000). The calibration master is the site's last anchor that is
// neither a clock master nor a flood anchor. False with a message otherwise.
bool parse_flood(const std::string& text, const anchorsim::SiteModel& site, FloodSpec* out, std::string* error);

// The quiet tag: its own record, one blink every 0.3 s, heard only by the site's second to
// fifth anchors (the default flood anchors), in the middle of them.
constexpr uint64_t kQuietTag = 0x9001;
constexpr double kQuietRoundS = 0.3;
anchorsim::TagSpec quiet_tag(const anchorsim::SiteModel& site);

// Makes the site fit the flood before the anchors are configured: a calibration flood's
// anchors are told to follow its master, so the engine takes their reports for that pair.
void prepare_site(const FloodSpec& spec, anchorsim::SiteModel* site);

struct FloodFrame {
    size_t anchor = 0;  // site index
    anchorsim::Bytes payload;
};

class FloodSource {
public:
    // A flood that begins at run time `start`.
    FloodSource(const FloodSpec& spec, const anchorsim::SiteModel& site, double start);

    // Frame n of the flood (n = 0, 1, ...): its anchor and payload, the times read from the
    // anchors' clocks at the frame's own moment (a blink's: the frames of one blink are one
    // event heard by each flood anchor).
    FloodFrame frame(uint64_t n, const anchorsim::World& world) const;
    // Run time of frame n.
    double time_of(uint64_t n) const;

    // Sends the frames due by run time `now`; frames the links do not take (not started, or
    // kLinkBacklogBytes already waiting) are counted, not retried.
    void emit(double now, anchorsim::Simulator& sim);

    uint64_t offered() const { return next_; }
    uint64_t refused() const { return refused_; }

    static constexpr size_t kPreparedRounds = 256;
    static constexpr size_t kChunkFrames = 680;
    // What a rated flood leaves waiting in an anchor's own queue, beyond what its link's socket
    // holds: a real anchor whose link does not take its reports loses them, it does not keep
    // seconds of them to send after the flood.
    static constexpr size_t kLinkBacklogBytes = size_t{64} << 10;

private:
    // The "max" flood: the prepared rounds' frames per flood anchor, encoded, repeated so that
    // any chunk is one slice.
    void prepare(const anchorsim::World& world);
    void emit_max(anchorsim::Simulator& sim);

    FloodSpec spec_;
    double start_;
    int first_path_;
    std::vector<anchorsim::Vec3> anchor_pos_;
    std::vector<anchorsim::Vec3> tag_pos_;
    uint64_t next_ = 0;
    uint64_t refused_ = 0;
    std::vector<anchorsim::Bytes> prepared_;  // per flood anchor
    size_t frame_bytes_ = 0;
    std::vector<uint64_t> chunks_sent_;       // per flood anchor
};

struct FloodCounts {
    uint64_t offered = 0;  // frames made
    uint64_t refused = 0;  // of those, not taken by a link
};

// What the anchor links have carried so far, all anchors together.
struct LinkBytes {
    uint64_t written = 0;  // bytes the links took
};

class FloodDriver {
public:
    explicit FloodDriver(anchorsim::Simulator& sim) : sim_(sim) {}

    // The simulator's loop and the flood, until `stop` is set.
    void run(const std::atomic<bool>& stop);
    // Starts a flood now (ending one that runs); any thread.
    void start(const FloodSpec& spec);
    // Ends the flood; its counts. Any thread.
    FloodCounts stop();
    // Bytes the anchors' links have taken so far. Any thread.
    LinkBytes link_bytes();

private:
    // The loop takes lock_ again at once after each turn and a mutex is not fair: a call from
    // another thread says it waits, and the loop lets it have the lock first.
    std::unique_lock<std::mutex> caller_lock();
    void let_callers_in() const;

    anchorsim::Simulator& sim_;
    std::atomic<unsigned> callers_{0};  // calls waiting for lock_
    std::mutex lock_;
    std::optional<FloodSource> source_;  // under lock_
    double now_ = 0.0;                   // the loop's run time, under lock_
    LinkBytes links_;                    // under lock_, after each step
};

}  // namespace roadflood
