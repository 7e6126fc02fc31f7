// road_watch.cpp - see road_watch.h.
#include "roadflood/road_watch.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace roadflood {

namespace {

// A series of samples (time, value) in time order: the value of the last sample at or before
// `t` (`before_first` when there is none), and the largest value sampled in [from, to).
template <typename V>
V sample_at(const std::vector<std::pair<double, V>>& series, double t, V before_first)
{
    V v = before_first;
    for (const auto& [at, value] : series) {
        if (at > t) break;
        v = value;
    }
    return v;
}

template <typename V>
V sample_peak(const std::vector<std::pair<double, V>>& series, double from, double to)
{
    V peak{};
    for (const auto& [at, value] : series) {
        if (at >= from && at < to) peak = std::max(peak, value);
    }
    return peak;
}

// Times in [from, to).
size_t count_within(const std::vector<double>& times, double from, double to)
{
    return static_cast<size_t>(std::count_if(times.begin(), times.end(), [&](double t) { return t >= from && t < to; }));
}

constexpr double kAskEvery = 0.5;
constexpr double kSampleEvery = 0.25;
const std::string kQuestion = "<req type=\"zub cfg\"/>\n";
const std::string kAnswer = "<ind type=\"zub cfg\">";
constexpr double kUnreadEvery = 0.1;
constexpr unsigned kAnchorPort = 3000;

// Bytes on their way through the anchor links of this network namespace: the receive queues
// of the engine's ends (remote port 3000) and the send queues of the anchors' (local port
// 3000), from /proc/net/tcp.
uint64_t anchor_links_unread()
{
    FILE* f = std::fopen("/proc/net/tcp", "r");
    if (f == nullptr) {
        return 0;
    }
    char line[512];
    uint64_t total = 0;
    bool header = true;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (header) {
            header = false;
            continue;
        }
        unsigned local_port = 0, remote_port = 0;
        unsigned long tx = 0, rx = 0;
        if (std::sscanf(line, " %*d: %*8x:%4x %*8x:%4x %*2x %lx:%lx", &local_port, &remote_port, &tx, &rx) != 4) {
            continue;
        }
        if (remote_port == kAnchorPort) total += rx;
        if (local_port == kAnchorPort) total += tx;
    }
    std::fclose(f);
    return total;
}

}  // namespace

RoadWatch::RoadWatch(int loc_fd, int ctl_fd, pid_t engine, std::vector<uint64_t> good_tags, FILE* series)
    : loc_(loc_fd), ctl_(ctl_fd), engine_(engine), series_(series)
{
    for (uint64_t tag : good_tags) {
        seen_[tag];
    }
}

void RoadWatch::ask(double now)
{
    if (now < next_ask_ || !asked_.empty()) {
        return;
    }
    if (roadbench::send_all(ctl_, kQuestion)) {
        asked_.push_back(now);
    }
    next_ask_ = now + kAskEvery;
}

void RoadWatch::read_answers(double now)
{
    uint8_t buf[4096];
    const long n = roadbench::read_some(ctl_, buf, sizeof buf, 0);
    if (n <= 0) {
        return;
    }
    ctl_text_.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
    for (size_t at = ctl_text_.find(kAnswer); at != std::string::npos; at = ctl_text_.find(kAnswer)) {
        ctl_text_.erase(0, at + kAnswer.size());
        if (!asked_.empty()) {
            answered_.emplace_back(asked_.front(), now);
            asked_.pop_front();
        }
    }
    // Only a possible start of the answer text needs keeping.
    if (ctl_text_.size() > kAnswer.size()) {
        ctl_text_.erase(0, ctl_text_.size() - kAnswer.size());
    }
}

void RoadWatch::watch(double seconds)
{
    const double end = roadbench::now_s() + seconds;
    uint8_t buf[1 << 16];
    for (double now = roadbench::now_s(); now < end; now = roadbench::now_s()) {
        if (now >= next_sample_) {
            rss_.emplace_back(now, static_cast<double>(roadbench::rss_kib(engine_)) / 1024.0);
            next_sample_ = now + kSampleEvery;
        }
        if (now >= next_unread_) {
            unread_.emplace_back(now, anchor_links_unread());
            next_unread_ = now + kUnreadEvery;
        }
        if (series_ != nullptr && now >= next_line_) {
            std::fprintf(series_, "%.2f %.1f %zu %zu\n", now, rss_.back().second, records_, answered_.size());
            std::fflush(series_);
            next_line_ = now + 1.0;
        }
        ask(now);
        pollfd fds[2] = {{loc_, POLLIN, 0}, {ctl_, POLLIN, 0}};
        if (::poll(fds, 2, 10) <= 0) {
            continue;
        }
        now = roadbench::now_s();
        last_time_ = now;
        if ((fds[0].revents & POLLIN) != 0) {
            const long n = roadbench::read_some(loc_, buf, sizeof buf, 0);
            batch_.clear();
            if (n > 0) {
                reader_.feed(buf, static_cast<size_t>(n), now, &batch_);
            }
            for (const auto& r : batch_) {
                auto it = seen_.find(r.tag);
                if (it != seen_.end()) {
                    it->second.push_back(r.at_s);
                    ++records_;
                }
            }
        }
        if ((fds[1].revents & POLLIN) != 0) {
            read_answers(now);
        }
    }
    last_time_ = roadbench::now_s();
}

double RoadWatch::watch_until_resumed(double t, double seconds)
{
    const double end = roadbench::now_s() + seconds;
    while (resumed_after(t) < 0 && roadbench::now_s() < end) {
        watch(0.1);
    }
    return resumed_after(t);
}

double RoadWatch::longest_gap(double from, double to) const
{
    double worst = 0.0;
    for (const auto& [tag, times] : seen_) {
        double prev = from;
        for (double t : times) {
            if (t < from) continue;
            if (t >= to) break;
            worst = std::max(worst, t - prev);
            prev = t;
        }
        worst = std::max(worst, to - prev);
    }
    return worst;
}

double RoadWatch::longest_gap_of(uint64_t tag, double from, double to) const
{
    const auto it = seen_.find(tag);
    double worst = 0.0, prev = from;
    if (it != seen_.end()) {
        for (double t : it->second) {
            if (t < from) continue;
            if (t >= to) break;
            worst = std::max(worst, t - prev);
            prev = t;
        }
    }
    return std::max(worst, to - prev);
}

double RoadWatch::resumed_after_of(uint64_t tag, double t) const
{
    const auto found = seen_.find(tag);
    if (found == seen_.end()) return -1.0;
    const auto it = std::upper_bound(found->second.begin(), found->second.end(), t);
    return it == found->second.end() ? -1.0 : *it - t;
}

uint64_t RoadWatch::unread_at(double t) const
{
    return sample_at(unread_, t, uint64_t{0});
}

uint64_t RoadWatch::unread_peak(double from, double to) const
{
    return sample_peak(unread_, from, to);
}

double RoadWatch::drained_after(double t, uint64_t bytes) const
{
    for (const auto& [at, unread] : unread_) {
        if (at >= t && unread < bytes) return at;
    }
    return -1.0;
}

std::string RoadWatch::unread_series(double from, double to, double every) const
{
    std::string out;
    double next = from;
    for (const auto& [at, bytes] : unread_) {
        if (at < next || at >= to) continue;
        char item[48];
        std::snprintf(item, sizeof item, "%s%.1f:%llu", out.empty() ? "" : " ", at - from,
                      static_cast<unsigned long long>(bytes >> 10));
        out += item;
        next = at + every;
    }
    return out;
}

double RoadWatch::resumed_after(double t) const
{
    double worst = 0.0;
    for (const auto& [tag, times] : seen_) {
        const auto it = std::upper_bound(times.begin(), times.end(), t);
        if (it == times.end()) {
            return -1.0;
        }
        worst = std::max(worst, *it - t);
    }
    return worst;
}

double RoadWatch::slowest_answer(double from, double to) const
{
    double worst = 0.0;
    for (const auto& [asked, answered] : answered_) {
        if (asked >= from && asked < to) worst = std::max(worst, answered - asked);
    }
    for (double asked : asked_) {
        if (asked >= from && asked < to) worst = std::max(worst, last_time_ - asked);
    }
    return worst;
}

double RoadWatch::rss_at(double t) const
{
    return sample_at(rss_, t, rss_.empty() ? 0.0 : rss_.front().second);
}

double RoadWatch::rss_peak(double from, double to) const
{
    return sample_peak(rss_, from, to);
}

size_t RoadWatch::records(double from, double to) const
{
    size_t n = 0;
    for (const auto& [tag, times] : seen_) {
        n += count_within(times, from, to);
    }
    return n;
}

size_t RoadWatch::records_of(uint64_t tag, double from, double to) const
{
    const auto it = seen_.find(tag);
    return it == seen_.end() ? 0 : count_within(it->second, from, to);
}

}  // namespace roadflood
