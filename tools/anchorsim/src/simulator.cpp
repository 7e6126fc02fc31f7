#include "anchorsim/simulator.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace anchorsim {

namespace {

double unix_now()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

bool fault_kind(const std::string& s, FaultKind* k)
{
    static const std::pair<const char*, FaultKind> names[] = {
        {"close", FaultKind::Close},   {"down", FaultKind::Down},       {"stop_reading", FaultKind::StopReading},
        {"resume_reading", FaultKind::ResumeReading}, {"garbage", FaultKind::Garbage},
        {"bad_crc", FaultKind::BadCrc}, {"silent", FaultKind::Silent},   {"talk", FaultKind::Talk},
        {"bad_etx", FaultKind::BadEtx}, {"cut_frame", FaultKind::CutFrame}, {"clock_off", FaultKind::ClockOff},
        {"clock_on", FaultKind::ClockOn}, {"clock_early", FaultKind::ClockEarly},
        {"clock_until_command", FaultKind::ClockUntilCommand},
    };
    for (const auto& [name, kind] : names) {
        if (s == name) {
            *k = kind;
            return true;
        }
    }
    return false;
}

}  // namespace

bool parse_fault(const std::string& text, Fault* out, std::string* error)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ':')) {
        parts.push_back(part);
    }
    Fault f;
    char* end = nullptr;
    if (parts.size() < 3 || parts.size() > 4) {
        *error = "fault " + text + ": expected T:ANCHOR:KIND[:ARG]";
        return false;
    }
    f.at_s = std::strtod(parts[0].c_str(), &end);
    if (parts[0].empty() || *end != '\0' || !std::isfinite(f.at_s) || f.at_s < 0) {
        *error = "fault " + text + ": bad time";
        return false;
    }
    f.anchor = std::strtoull(parts[1].c_str(), &end, 16);
    if (parts[1].empty() || *end != '\0') {
        *error = "fault " + text + ": bad anchor id";
        return false;
    }
    if (!fault_kind(parts[2], &f.kind)) {
        *error = "fault " + text + ": unknown kind";
        return false;
    }
    f.arg = f.kind == FaultKind::Down ? 10.0 : f.kind == FaultKind::Garbage ? 64.0 : 0.0;
    if (f.kind == FaultKind::ClockUntilCommand) {
        f.arg = 0x44;
    }
    if (parts.size() == 4) {
        f.arg = std::strtod(parts[3].c_str(), &end);
        const double most = f.kind == FaultKind::ClockUntilCommand ? 255 : 1e6;
        if (parts[3].empty() || *end != '\0' || !std::isfinite(f.arg) || f.arg < 0 || f.arg > most ||
            (f.kind == FaultKind::ClockUntilCommand && f.arg != std::floor(f.arg))) {
            *error = "fault " + text + ": bad argument";
            return false;
        }
    }
    *out = f;
    return true;
}

Simulator::Simulator(const SiteModel& site, uint64_t seed, SimulatorOptions options)
    : site_(site), options_(std::move(options)), world_(site, seed), fault_rng_(seed ^ 0x5eedfa17ull)
{
    std::stable_sort(options_.faults.begin(), options_.faults.end(),
                     [](const Fault& a, const Fault& b) { return a.at_s < b.at_s; });
    for (const AnchorSpec& a : site_.anchors) {
        const uint16_t port = options_.port_override >= 0 ? static_cast<uint16_t>(options_.port_override) : a.port;
        servers_.push_back(std::make_unique<AnchorServer>(a.hw_id, a.version, a.ip, port));
        servers_.back()->set_silent(a.silent);
        commands_logged_.push_back(0);
    }
}

Simulator::~Simulator()
{
    if (truth_ != nullptr) {
        std::fclose(truth_);
    }
    if (commands_ != nullptr) {
        std::fclose(commands_);
    }
    if (sent_ != nullptr) {
        std::fclose(sent_);
    }
}

bool Simulator::open(std::string* error)
{
    for (auto& s : servers_) {
        if (!s->listen(error)) {
            return false;
        }
    }
    if (!options_.truth_path.empty()) {
        truth_ = std::fopen(options_.truth_path.c_str(), "w");
        if (truth_ == nullptr) {
            *error = "cannot write " + options_.truth_path;
            return false;
        }
        std::fprintf(truth_, "# time tag seq x y z\n");
    }
    if (!options_.commands_path.empty()) {
        commands_ = std::fopen(options_.commands_path.c_str(), "w");
        if (commands_ == nullptr) {
            *error = "cannot write " + options_.commands_path;
            return false;
        }
        std::fprintf(commands_, "# time anchor bytes\n");
    }
    if (!options_.sent_path.empty()) {
        sent_ = std::fopen(options_.sent_path.c_str(), "w");
        if (sent_ == nullptr) {
            *error = "cannot write " + options_.sent_path;
            return false;
        }
        std::fprintf(sent_, "# time anchor payload\n");
    }
    wall_at_start_ = unix_now();
    return true;
}

void Simulator::run(double duration_s, const std::atomic<bool>& stop)
{
    const auto start = std::chrono::steady_clock::now();
    while (!stop.load()) {
        const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (duration_s > 0 && now >= duration_s) {
            break;
        }
        const double wait_s = std::clamp(world_.next_event_time() - now, 0.0, 0.001);
        step(now, static_cast<int>(std::ceil(wait_s * 1000.0)));
    }
    if (truth_ != nullptr) {
        std::fflush(truth_);
    }
    if (commands_ != nullptr) {
        std::fflush(commands_);
    }
    if (sent_ != nullptr) {
        std::fflush(sent_);
    }
}

void Simulator::step(double now, int max_wait_ms)
{
    std::vector<pollfd> fds;
    for (const auto& s : servers_) {
        s->poll_set(&fds);
    }
    if (::poll(fds.data(), fds.size(), std::max(0, max_wait_ms)) > 0) {
        for (size_t i = 0; i < servers_.size(); ++i) {
            servers_[i]->dispatch(&fds[2 * i], 2, now);
        }
    }
    apply_due_faults(now);
    reports_.clear();
    truth_batch_.clear();
    world_.advance(now, &reports_, &truth_batch_);
    deliver(now, reports_);
    for (auto& s : servers_) {
        s->flush();
    }
    write_truth(truth_batch_);
    log_commands(now);
}

void Simulator::apply_due_faults(double now)
{
    for (auto it = reopen_at_.begin(); it != reopen_at_.end();) {
        if (it->first <= now) {
            servers_[it->second]->set_listening(true);
            it = reopen_at_.erase(it);
        } else {
            ++it;
        }
    }
    while (next_fault_ < options_.faults.size() && options_.faults[next_fault_].at_s <= now) {
        const Fault& f = options_.faults[next_fault_++];
        const int i = anchor_index(site_, f.anchor);
        if (i < 0) {
            continue;
        }
        AnchorServer& s = *servers_[static_cast<size_t>(i)];
        switch (f.kind) {
        case FaultKind::Close:         s.drop_link(); break;
        case FaultKind::Down:
            s.set_listening(false);
            reopen_at_.emplace_back(now + f.arg, static_cast<size_t>(i));
            break;
        case FaultKind::StopReading:   s.set_reading(false); break;
        case FaultKind::ResumeReading: s.set_reading(true); break;
        case FaultKind::Garbage:       s.send_garbage(static_cast<size_t>(f.arg), fault_rng_); break;
        case FaultKind::BadCrc:        s.send_bad_crc(toa_payload(0, 0xBADC, 0, 750)); break;
        case FaultKind::Silent:        s.set_silent(true); break;
        case FaultKind::Talk:          s.set_silent(false); break;
        case FaultKind::BadEtx:        s.send_bad_etx(toa_payload(0, 0xBADC, 0, 750)); break;
        case FaultKind::CutFrame:      s.drop_link_mid_frame(toa_payload(0, 0xBADC, 0, 750)); break;
        case FaultKind::ClockOff:      s.set_clock_reports(false); break;
        case FaultKind::ClockOn:       s.set_clock_reports(true); break;
        case FaultKind::ClockEarly:    s.set_clock_before_start(true); break;
        case FaultKind::ClockUntilCommand: s.stop_clock_on_command(static_cast<int>(f.arg)); break;
        }
    }
}

void Simulator::deliver(double now, const std::vector<Report>& reports)
{
    for (const Report& r : reports) {
        AnchorServer& s = *servers_[r.anchor];
        if (!s.send_report(r.payload) || sent_ == nullptr) {
            continue;
        }
        std::fprintf(sent_, "%.6f %016llx ", wall_at_start_ + now, static_cast<unsigned long long>(s.hw_id()));
        for (uint8_t b : r.payload) {
            std::fprintf(sent_, "%02X", b);
        }
        std::fputc('\n', sent_);
    }
}

void Simulator::write_truth(const std::vector<Truth>& truth)
{
    if (truth_ == nullptr) {
        return;
    }
    for (const Truth& t : truth) {
        std::fprintf(truth_, "%.6f %016llx %u %.4f %.4f %.4f\n", wall_at_start_ + t.t,
                     static_cast<unsigned long long>(t.tag), static_cast<unsigned>(t.seq), t.pos[0], t.pos[1], t.pos[2]);
    }
    if (!truth.empty()) {
        std::fflush(truth_);  // readers follow the file while the run goes on
    }
}

void Simulator::log_commands(double now)
{
    (void)now;
    for (size_t i = 0; i < servers_.size(); ++i) {
        const auto& cmds = servers_[i]->commands();
        for (size_t k = commands_logged_[i]; k < cmds.size(); ++k) {
            if (commands_ == nullptr) {
                continue;
            }
            std::fprintf(commands_, "%.6f %016llx ", wall_at_start_ + cmds[k].t,
                         static_cast<unsigned long long>(servers_[i]->hw_id()));
            for (uint8_t b : cmds[k].command.bytes) {
                std::fprintf(commands_, "%02X", b);
            }
            std::fprintf(commands_, "%s\n", cmds[k].command.known ? "" : " unknown");
            std::fflush(commands_);
        }
        commands_logged_[i] = cmds.size();
    }
}

}  // namespace anchorsim
