// world.h - what happens on the site, in true time: tags blink (static or walking, with
// sequence numbers), masters send clock-calibration packets, and each anchor measures what it
// hears with its own device clock and Gaussian arrival noise. World turns the site into the
// reports each anchor makes, in time order, and the ground truth of every blink. Seeded:
// the same site and seed give the same reports. One thread.
#pragma once

#include <cstdint>
#include <queue>
#include <random>
#include <vector>

#include "anchorsim/device_clock.h"
#include "anchorsim/frames.h"
#include "anchorsim/site.h"

namespace anchorsim {

enum class ReportKind { Clock, Arrival, Range };

struct Report {
    double t = 0.0;       // true time of the measurement
    size_t anchor = 0;    // index in the site
    ReportKind kind = ReportKind::Arrival;
    Bytes payload;
};

struct Truth {
    double t = 0.0;  // true time of the blink
    uint64_t tag = 0;
    uint8_t seq = 0;
    Vec3 pos{};
};

class World {
public:
    World(const SiteModel& site, uint64_t seed);

    // Every event with true time below `until`, in time order: the anchors' reports are
    // appended to `reports`, each blink's truth to `truth`.
    void advance(double until, std::vector<Report>* reports, std::vector<Truth>* truth);
    // True time of the next event.
    double next_event_time() const;

    const DeviceClock& clock(size_t anchor) const { return clocks_[anchor]; }
    Vec3 tag_position(size_t tag, double t) const;
    const SiteModel& site() const { return site_; }

private:
    enum class EventKind { Blink, Ccp };
    struct Event {
        double t;
        EventKind kind;
        size_t index;
        bool operator>(const Event& o) const { return t > o.t || (t == o.t && index > o.index); }
    };

    void blink(const Event& e, std::vector<Report>* reports, std::vector<Truth>* truth);
    void ccp(const Event& e, std::vector<Report>* reports);
    double noise_s();
    uint16_t first_path();

    SiteModel site_;
    std::mt19937_64 rng_;
    std::normal_distribution<double> noise_;
    std::vector<DeviceClock> clocks_;
    std::vector<uint8_t> tag_seq_;
    std::vector<uint8_t> ccp_seq_;
    std::vector<double> path_length_;
    std::priority_queue<Event, std::vector<Event>, std::greater<Event>> events_;
};

}  // namespace anchorsim
