#include "anchorsim/world.h"

#include <algorithm>
#include <cmath>

namespace anchorsim {

namespace {

// Slow drift of a drawn clock: a rate that wanders by up to 0.001 ppm per second.
constexpr double kDrawnDriftPpmPerS = 0.001;
// Spread of the reported first-path index around the site's value.
constexpr int kFirstPathSpread = 20;

}  // namespace

World::World(const SiteModel& site, uint64_t seed)
    : site_(site), rng_(seed), noise_(0.0, site.noise_ns * 1e-9)
{
    std::uniform_real_distribution<double> offset(0.0, 17.2);
    std::uniform_real_distribution<double> rate(-kMaxRatePpm, kMaxRatePpm);
    std::uniform_real_distribution<double> drift(-kDrawnDriftPpmPerS, kDrawnDriftPpmPerS);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const AnchorSpec& a : site_.anchors) {
        // Every draw is made, given or not, so that one anchor's setting leaves the others'
        // clocks as they were.
        const double o = offset(rng_);
        const double r = rate(rng_);
        const double d = drift(rng_);
        clocks_.emplace_back(a.offset_s.value_or(o), a.rate_ppm.value_or(r), a.drift_ppm_per_s.value_or(d));
        ccp_seq_.push_back(static_cast<uint8_t>(byte(rng_)));
        if (a.ccp_master) {
            events_.push(Event{unit(rng_) * site_.ccp_interval_s, EventKind::Ccp, clocks_.size() - 1});
        }
    }
    for (size_t i = 0; i < site_.tags.size(); ++i) {
        const TagSpec& t = site_.tags[i];
        tag_seq_.push_back(static_cast<uint8_t>(byte(rng_)));
        double length = 0.0;
        for (size_t k = 0; k + 1 < t.path.size(); ++k) {
            length += distance(t.path[k], t.path[k + 1]);
        }
        if (t.path.size() > 1) {
            length += distance(t.path.back(), t.path.front());
        }
        path_length_.push_back(length);
        events_.push(Event{t.start_s + unit(rng_) / t.rate_hz, EventKind::Blink, i});
    }
}

double World::next_event_time() const
{
    return events_.empty() ? INFINITY : events_.top().t;
}

Vec3 World::tag_position(size_t tag, double t) const
{
    const TagSpec& spec = site_.tags[tag];
    const double length = path_length_[tag];
    if (spec.path.size() < 2 || spec.speed <= 0.0 || length <= 0.0) {
        return spec.path.front();
    }
    double s = std::fmod(spec.speed * t, length);
    for (size_t k = 0; k < spec.path.size(); ++k) {
        const Vec3& a = spec.path[k];
        const Vec3& b = spec.path[(k + 1) % spec.path.size()];
        const double seg = distance(a, b);
        if (s <= seg && seg > 0.0) {
            const double f = s / seg;
            return Vec3{a[0] + f * (b[0] - a[0]), a[1] + f * (b[1] - a[1]), a[2] + f * (b[2] - a[2])};
        }
        s -= seg;
    }
    return spec.path.front();
}

double World::noise_s()
{
    return site_.noise_ns > 0.0 ? noise_(rng_) : 0.0;
}

uint16_t World::first_path()
{
    std::uniform_int_distribution<int> spread(-kFirstPathSpread, kFirstPathSpread);
    return static_cast<uint16_t>(std::clamp(site_.first_path + spread(rng_), 0, 1023));
}

void World::advance(double until, std::vector<Report>* reports, std::vector<Truth>* truth)
{
    while (!events_.empty() && events_.top().t < until) {
        const Event e = events_.top();
        events_.pop();
        if (e.kind == EventKind::Blink) {
            blink(e, reports, truth);
            events_.push(Event{e.t + 1.0 / site_.tags[e.index].rate_hz, e.kind, e.index});
        } else {
            ccp(e, reports);
            events_.push(Event{e.t + site_.ccp_interval_s, e.kind, e.index});
        }
    }
}

void World::blink(const Event& e, std::vector<Report>* reports, std::vector<Truth>* truth)
{
    const TagSpec& tag = site_.tags[e.index];
    const Vec3 pos = tag_position(e.index, e.t);
    const uint8_t seq = tag_seq_[e.index]++;
    truth->push_back(Truth{e.t, tag.id, seq, pos});
    for (size_t a = 0; a < site_.anchors.size(); ++a) {
        if (!tag.heard_by.empty() && std::find(tag.heard_by.begin(), tag.heard_by.end(), a) == tag.heard_by.end()) {
            continue;
        }
        const double d = distance(pos, site_.anchors[a].pos);
        const double noise = noise_s();
        Report r;
        r.anchor = a;
        r.t = e.t + d / kSpeedOfLight + noise;
        if (tag.ranging) {
            r.kind = ReportKind::Range;
            const auto mm = static_cast<int32_t>(std::lround((d + noise * kSpeedOfLight) * 1000.0));
            r.payload = tof_payload(seq, static_cast<uint16_t>(site_.anchors[a].hw_id), tag.short_id, mm);
        } else {
            r.kind = ReportKind::Arrival;
            const uint64_t ticks = clocks_[a].ticks(r.t);
            r.payload = tag.imu ? toa_imu_payload(seq, tag.id, ticks, first_path(), ImuData{})
                                : toa_payload(seq, tag.id, ticks, first_path());
        }
        reports->push_back(std::move(r));
    }
}

void World::ccp(const Event& e, std::vector<Report>* reports)
{
    const size_t m = e.index;
    const uint8_t seq = ccp_seq_[m]++;
    const AnchorSpec& master = site_.anchors[m];
    reports->push_back(Report{e.t, m, ReportKind::Clock, ccp_tx_payload(seq, clocks_[m].ticks(e.t))});
    for (size_t s = 0; s < site_.anchors.size(); ++s) {
        const auto& follows = site_.anchors[s].follows;
        if (std::find(follows.begin(), follows.end(), master.hw_id) == follows.end()) {
            continue;
        }
        const double t_rx = e.t + distance(master.pos, site_.anchors[s].pos) / kSpeedOfLight + noise_s();
        reports->push_back(Report{t_rx, s, ReportKind::Clock,
                                  ccp_rx_payload(seq, master.hw_id, clocks_[s].ticks(t_rx), first_path())});
    }
}

}  // namespace anchorsim
