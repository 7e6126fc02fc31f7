// flood_source.cpp - see flood_source.h.
#include "roadflood/flood_source.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace roadflood {

namespace {

constexpr double kTagHeight = 1.2;

std::vector<std::string> split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, sep)) {
        parts.push_back(part);
    }
    return parts;
}

bool parse_count(const std::string& s, double most, double* out)
{
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0' || !std::isfinite(v) || v <= 0 || v > most) {
        return false;
    }
    *out = v;
    return true;
}

// Places spread over the anchors' footprint, clear of its edges (a low-discrepancy walk, so
// any count of tags covers the floor evenly).
std::vector<anchorsim::Vec3> tag_places(const anchorsim::SiteModel& site, size_t n)
{
    double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
    for (const auto& a : site.anchors) {
        x0 = std::min(x0, a.pos[0]);
        x1 = std::max(x1, a.pos[0]);
        y0 = std::min(y0, a.pos[1]);
        y1 = std::max(y1, a.pos[1]);
    }
    std::vector<anchorsim::Vec3> out;
    out.reserve(n);
    for (size_t k = 0; k < n; ++k) {
        const double u = std::fmod(0.5 + 0.6180339887 * static_cast<double>(k), 1.0);
        const double v = (static_cast<double>(k) + 0.5) / static_cast<double>(n);
        out.push_back({x0 + (x1 - x0) * (0.1 + 0.8 * u), y0 + (y1 - y0) * (0.1 + 0.8 * v), kTagHeight});
    }
    return out;
}

}  // namespace

bool parse_flood(const std::string& text, const anchorsim::SiteModel& site, FloodSpec* out, std::string* error)
{
    const std::vector<std::string> parts = split(text, ':');
    FloodSpec spec;
    if (parts.size() < 2 || parts.size() > 5) {
        *error = "flood " + text + ": expected KIND:RATE[:ANCHORS[:TAGS[:FIRST]]]";
        return false;
    }
    if (parts[0] == "arrivals") {
        spec.kind = FloodKind::Arrivals;
    } else if (parts[0] == "calibration") {
        spec.kind = FloodKind::Calibration;
    } else if (parts[0] == "new_tags") {
        spec.kind = FloodKind::NewTags;
        spec.tags = 20000;
        spec.first_tag = 0x300000;
    } else {
        *error = "flood " + text + ": unknown kind";
        return false;
    }
    double anchors = spec.kind == FloodKind::NewTags ? 1 : 4;
    double tags = static_cast<double>(spec.tags);
    const bool as_fast = parts[1] == "max" && spec.kind == FloodKind::Arrivals;
    char* end = nullptr;
    const unsigned long long first = parts.size() > 4 ? std::strtoull(parts[4].c_str(), &end, 16) : 0;
    if ((!as_fast && !parse_count(parts[1], 1e7, &spec.rate)) ||
        (parts.size() > 2 && !parse_count(parts[2], static_cast<double>(site.anchors.size()) - 1, &anchors)) ||
        (parts.size() > 3 && !parse_count(parts[3], 1e6, &tags)) ||
        (parts.size() > 4 && (parts[4].empty() || *end != '\0' || first == 0))) {
        *error = "flood " + text + ": bad number";
        return false;
    }
    spec.tags = static_cast<size_t>(tags);
    if (parts.size() > 4) spec.first_tag = first;
    // The first anchor stays out of the flood: on most sites it is the clock master.
    for (size_t i = 1; i <= static_cast<size_t>(anchors) && i < site.anchors.size(); ++i) {
        spec.anchors.push_back(i);
    }
    if (spec.kind == FloodKind::Calibration) {
        for (size_t i = site.anchors.size(); i-- > 0;) {
            const bool flooding = std::find(spec.anchors.begin(), spec.anchors.end(), i) != spec.anchors.end();
            if (!site.anchors[i].ccp_master && !flooding) {
                spec.master = site.anchors[i].hw_id;
                break;
            }
        }
        if (spec.master == 0) {
            *error = "flood " + text + ": no anchor left to be the silent master";
            return false;
        }
    }
    *out = spec;
    return true;
}

anchorsim::TagSpec quiet_tag(const anchorsim::SiteModel& site)
{
    anchorsim::TagSpec tag;
    tag.id = kQuietTag;
    tag.rate_hz = 1.0 / kQuietRoundS;
    anchorsim::Vec3 mid{0.0, 0.0, kTagHeight};
    size_t n = 0;
    for (size_t i = 1; i <= 4 && i < site.anchors.size(); ++i, ++n) {
        tag.heard_by.push_back(i);
        mid[0] += site.anchors[i].pos[0];
        mid[1] += site.anchors[i].pos[1];
    }
    if (n > 0) {
        mid[0] /= static_cast<double>(n);
        mid[1] /= static_cast<double>(n);
    }
    tag.path = {mid};
    return tag;
}

void prepare_site(const FloodSpec& spec, anchorsim::SiteModel* site)
{
    if (spec.kind != FloodKind::Calibration) {
        return;
    }
    for (size_t i : spec.anchors) {
        auto& follows = site->anchors[i].follows;
        if (std::find(follows.begin(), follows.end(), spec.master) == follows.end()) {
            follows.push_back(spec.master);
        }
    }
}

FloodSource::FloodSource(const FloodSpec& spec, const anchorsim::SiteModel& site, double start)
    : spec_(spec), start_(start), first_path_(site.first_path),
      tag_pos_(tag_places(site, spec.kind == FloodKind::Arrivals ? spec.tags : 1))
{
    for (size_t i : spec_.anchors) {
        anchor_pos_.push_back(site.anchors[i].pos);
    }
}

double FloodSource::time_of(uint64_t n) const
{
    // The prepared rounds of a flood as fast as the links take it are stamped as if sent at a
    // million frames a second.
    const double rate = spec_.rate > 0.0 ? spec_.rate : 1e6;
    return start_ + static_cast<double>(n) / rate;
}

FloodFrame FloodSource::frame(uint64_t n, const anchorsim::World& world) const
{
    const size_t count = spec_.anchors.size();
    const size_t k = n % count;
    FloodFrame f;
    f.anchor = spec_.anchors[k];
    const anchorsim::DeviceClock& clock = world.clock(f.anchor);
    const auto fp = static_cast<uint16_t>(first_path_);
    switch (spec_.kind) {
    case FloodKind::Arrivals: {
        const uint64_t blink = n / count;
        const size_t tag = blink % spec_.tags;
        const double t = time_of(blink * count) + anchorsim::distance(tag_pos_[tag], anchor_pos_[k]) / anchorsim::kSpeedOfLight;
        f.payload = anchorsim::toa_payload(static_cast<uint8_t>(blink / spec_.tags), spec_.first_tag + tag,
                                           clock.ticks(t), fp);
        break;
    }
    case FloodKind::Calibration:
        f.payload = anchorsim::ccp_rx_payload(static_cast<uint8_t>(n / count), spec_.master, clock.ticks(time_of(n)), fp);
        break;
    case FloodKind::NewTags: {
        const double t = time_of(n) + anchorsim::distance(tag_pos_[0], anchor_pos_[k]) / anchorsim::kSpeedOfLight;
        f.payload = anchorsim::toa_payload(static_cast<uint8_t>(n / spec_.tags), spec_.first_tag + n % spec_.tags,
                                           clock.ticks(t), fp);
        break;
    }
    }
    return f;
}

void FloodSource::prepare(const anchorsim::World& world)
{
    const size_t count = spec_.anchors.size();
    prepared_.assign(count, {});
    chunks_sent_.assign(count, 0);
    for (size_t k = 0; k < count; ++k) {
        for (size_t i = 0; i < kPreparedRounds + kChunkFrames; ++i) {
            const size_t round = i % kPreparedRounds;
            const anchorsim::Bytes bytes = anchorsim::encode_frame(frame(round * count + k, world).payload);
            frame_bytes_ = bytes.size();  // every arrival frame has one size
            prepared_[k].insert(prepared_[k].end(), bytes.begin(), bytes.end());
        }
    }
}

void FloodSource::emit_max(anchorsim::Simulator& sim)
{
    if (prepared_.empty()) {
        prepare(sim.world());
    }
    const size_t chunk_bytes = kChunkFrames * frame_bytes_;
    for (size_t k = 0; k < spec_.anchors.size(); ++k) {
        anchorsim::AnchorServer& server = sim.server(spec_.anchors[k]);
        if (server.backlog() >= chunk_bytes) {
            continue;  // the link has not taken the last chunk yet
        }
        const size_t first = (chunks_sent_[k]++ * kChunkFrames) % kPreparedRounds;
        if (server.send_frames(prepared_[k].data() + first * frame_bytes_, chunk_bytes, kChunkFrames)) {
            next_ += kChunkFrames;
        } else {
            refused_ += kChunkFrames;
        }
    }
}

void FloodSource::emit(double now, anchorsim::Simulator& sim)
{
    if (now < start_) {
        return;
    }
    if (spec_.rate <= 0.0) {
        emit_max(sim);
        return;
    }
    const auto due = static_cast<uint64_t>((now - start_) * spec_.rate);
    for (; next_ < due; ++next_) {
        anchorsim::AnchorServer& server = sim.server(spec_.anchors[next_ % spec_.anchors.size()]);
        if (server.backlog() >= kLinkBacklogBytes) {
            ++refused_;
            continue;
        }
        if (!server.send_report(frame(next_, sim.world()).payload)) {
            ++refused_;
        }
    }
}

void FloodDriver::run(const std::atomic<bool>& stop)
{
    const auto t0 = std::chrono::steady_clock::now();
    while (!stop.load()) {
        const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        bool flooding = false;
        {
            let_callers_in();
            std::lock_guard<std::mutex> guard(lock_);
            now_ = now;
            if (source_) {
                source_->emit(now, sim_);
                flooding = true;
            }
        }
        const double wait_s = flooding ? 0.0 : std::clamp(sim_.world().next_event_time() - now, 0.0, 0.001);
        sim_.step(now, static_cast<int>(std::ceil(wait_s * 1000.0)));
        LinkBytes links;
        for (size_t i = 0; i < sim_.world().site().anchors.size(); ++i) {
            links.written += sim_.server(i).stats().bytes_written;
        }
        let_callers_in();
        std::lock_guard<std::mutex> guard(lock_);
        links_ = links;
    }
}

void FloodDriver::let_callers_in() const
{
    while (callers_.load() != 0) {
        std::this_thread::yield();
    }
}

std::unique_lock<std::mutex> FloodDriver::caller_lock()
{
    callers_.fetch_add(1);
    std::unique_lock<std::mutex> guard(lock_);
    callers_.fetch_sub(1);
    return guard;
}

LinkBytes FloodDriver::link_bytes()
{
    const auto guard = caller_lock();
    return links_;
}

void FloodDriver::start(const FloodSpec& spec)
{
    const auto guard = caller_lock();
    source_.emplace(spec, sim_.world().site(), now_);
}

FloodCounts FloodDriver::stop()
{
    const auto guard = caller_lock();
    FloodCounts c;
    if (source_) {
        c.offered = source_->offered();
        c.refused = source_->refused();
    }
    source_.reset();
    return c;
}

}  // namespace roadflood
