// road_watch.cpp - see road_watch.h.
#include "roadflood/road_watch.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace roadflood {

namespace {

constexpr double kAskEvery = 0.5;
constexpr double kSampleEvery = 0.25;
const std::string kQuestion = "<req type=\"zub cfg\"/>\n";
const std::string kAnswer = "<ind type=\"zub cfg\">";

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
    double v = rss_.empty() ? 0.0 : rss_.front().second;
    for (const auto& [at, mib] : rss_) {
        if (at > t) break;
        v = mib;
    }
    return v;
}

double RoadWatch::rss_peak(double from, double to) const
{
    double peak = 0.0;
    for (const auto& [at, mib] : rss_) {
        if (at >= from && at < to) peak = std::max(peak, mib);
    }
    return peak;
}

size_t RoadWatch::records(double from, double to) const
{
    size_t n = 0;
    for (const auto& [tag, times] : seen_) {
        n += static_cast<size_t>(std::count_if(times.begin(), times.end(), [&](double t) { return t >= from && t < to; }));
    }
    return n;
}

}  // namespace roadflood
