// road_watch.h - the road as its users see it during an overload run: the records of the good
// tags on the tag-location link, the controller's answers to a "zub cfg" asked every half
// second (a new question only once the last is answered), the engine's resident memory,
// sampled every quarter second, and the bytes on their way through the anchor links, sent and
// not yet read by the engine (every tenth of a second, from the namespace's /proc/net/tcp: the
// connections to and from port 3000).
// Times are wall-clock seconds (roadbench::now_s). One thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "roadbench/road_client.h"

namespace roadflood {

class RoadWatch {
public:
    // `series`: when not null, one line a second "at_s rss_MiB records answers" is written to it.
    RoadWatch(int loc_fd, int ctl_fd, pid_t engine, std::vector<uint64_t> good_tags, FILE* series = nullptr);

    // Reads, asks and samples for `seconds`.
    void watch(double seconds);
    // Watches until every good tag has had a record after `t`, for `seconds` at most; then
    // resumed_after(t).
    double watch_until_resumed(double t, double seconds);

    // The longest stretch within [from, to) in which some good tag had no record.
    double longest_gap(double from, double to) const;
    // The same for one good tag.
    double longest_gap_of(uint64_t tag, double from, double to) const;
    // Seconds from `t` until every good tag had a record after it; -1 when some has none yet.
    double resumed_after(double t) const;
    // The same for one good tag.
    double resumed_after_of(uint64_t tag, double t) const;
    // Bytes unread in the anchor links at the last sample at or before `t`, and the most in
    // [from, to).
    uint64_t unread_at(double t) const;
    uint64_t unread_peak(double from, double to) const;
    // The first sample time at or after `t` with fewer than `bytes` unread; -1 when none yet.
    double drained_after(double t, uint64_t bytes) const;
    // The unread samples in [from, to), one per `every` seconds: "at_s:KiB ...".
    std::string unread_series(double from, double to, double every) const;
    // The longest wait for an answer of the questions asked in [from, to); a question still
    // unanswered counts the time it has waited so far.
    double slowest_answer(double from, double to) const;
    size_t answers() const { return answered_.size(); }
    // The last memory sample at or before `t` (the first sample when none is).
    double rss_at(double t) const;
    double rss_peak(double from, double to) const;
    // Records of the good tags in [from, to).
    size_t records(double from, double to) const;
    // The same for one good tag.
    size_t records_of(uint64_t tag, double from, double to) const;

private:
    void ask(double now);
    void read_answers(double now);

    int loc_;
    int ctl_;
    pid_t engine_;
    FILE* series_;
    double next_line_ = 0.0;
    size_t records_ = 0;
    std::map<uint64_t, std::vector<double>> seen_;  // good tag -> record times
    roadbench::ReportFrameReader reader_;
    std::vector<roadbench::PositionRecord> batch_;
    std::string ctl_text_;
    std::deque<double> asked_;                        // questions waiting, oldest first
    std::vector<std::pair<double, double>> answered_;  // (asked, answered)
    std::vector<std::pair<double, double>> rss_;       // (time, MiB)
    std::vector<std::pair<double, uint64_t>> unread_;  // (time, bytes)
    double next_unread_ = 0.0;
    double next_ask_ = 0.0;
    double next_sample_ = 0.0;
    double last_time_ = 0.0;
};

}  // namespace roadflood
