// roadflood - floods of valid anchor reports against the running engine, and what its users
// see meanwhile. The example site's simulator feeds the good tags and the quiet tag (one blink
// every 0.3 s, heard only by the anchors the floods use by default; roadflood/flood_source.h);
// on top of it, the floods run one after another on some of the anchors' links. For each
// flood: the rate the engine read its links at, resident memory before, at its peak and some
// seconds after; the controller's slowest answer; the good tags' and the quiet tag's longest
// gap in positions during the flood; the bytes left unread in the links, when they were read
// through and how soon the quiet tag had a position after that; the drops by kind and cause
// and the tags the selectors refused.
//
//   roadflood --hall FILE --flood KIND:RATE[:ANCHORS[:TAGS[:FIRST]]][/DURING_S[/AFTER_S]] [--flood ...]
//             [--before S] [--during S] [--after S] [--series 1]
//
// --before is the wait before the first flood; each flood lasts its DURING_S (else --during)
// and is followed by its AFTER_S (else --after) before the next. Runs only inside
// tools/sandbox with the programs up (run_flood.sh). Four lines per flood:
//   flood SPEC offered/s N read/s N rss_before_MiB N peak_MiB N after_MiB N growth_MiB N
//     answer_max_s N gap_max_s N resume_s N records_during N quiet_gap_s N unread_end_KiB N
//     drained_s N quiet_back_s N dropped TAG/CLOCK/COPY causes REFUSED/BUSY/MARK refused_tags N
//   unread SPEC AT_S:KiB ...   (the links' unread bytes from the flood's start, every second)
//   gaps SPEC TAG:S ...        (each good tag's longest gap during the flood)
//   quiet SPEC rounds N positions N lost N
// read/s: frames of 24 bytes (one arrival) the engine read from all links a second during the
// flood; drained_s: seconds after the flood's end until under 64 KiB were unread; quiet_back_s:
// seconds after that until the quiet tag's next position (-1: none). The drop counts are the
// engine's since start as its trace log last told them. quiet: the quiet tag's rounds during
// the flood (its blinks, one each 0.3 s of the simulator's clock, so within one of the count),
// its positions in that time and the rounds without one; why they went the drop causes tell.
// --series 1 writes "at_s rss_MiB records answers" once a second to standard error.
// Exit status: 0 measured, 1 the road did not come up, 2 bad arguments.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "roadbench/tool_options.h"
#include "roadflood/flood_source.h"
#include "roadflood/road_watch.h"

namespace {

constexpr char kTrace[] = "/qvx/zub/log/zub/division1.log";
constexpr double kFrameBytes = 24.0;          // one arrival frame (18-byte payload)
constexpr uint64_t kDrainedBytes = 64 << 10;  // the links count as read through below this

struct Options {
    std::string hall;
    std::vector<std::string> floods;
    double before = 10.0;
    double during = 20.0;
    double after = 10.0;
    bool series = false;
};

struct Flood {
    std::string text;  // the spec as given, with its times
    roadflood::FloodSpec spec;
    double during = 0.0;
    double after = 0.0;
};

// "SPEC[/DURING[/AFTER]]".
bool parse_timed(const std::string& text, const anchorsim::SiteModel& site, const Options& o, Flood* out,
                 std::string* error)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, '/');) parts.push_back(part);
    if (parts.empty() || parts.size() > 3) {
        *error = "flood " + text + ": expected SPEC[/DURING[/AFTER]]";
        return false;
    }
    out->text = text;
    out->during = parts.size() > 1 ? std::atof(parts[1].c_str()) : o.during;
    out->after = parts.size() > 2 ? std::atof(parts[2].c_str()) : o.after;
    if (out->during <= 0 || out->after < 0) {
        *error = "flood " + text + ": bad time";
        return false;
    }
    return roadflood::parse_flood(parts[0], site, &out->spec, error);
}

std::string trace_text()
{
    std::ifstream in(kTrace);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The engine's drop counts and refused tags so far, as its trace log last told them.
std::string drops_logged()
{
    const std::string trace = trace_text();
    const roadbench::RoadDrops d = roadbench::parse_road_drops(trace);
    unsigned long long refused = 0;
    const size_t at = trace.rfind(" dropped so far)");
    if (at != std::string::npos) {
        const size_t open = trace.rfind('(', at);
        if (open != std::string::npos) refused = std::strtoull(trace.c_str() + open + 1, nullptr, 10);
    }
    char text[192];
    std::snprintf(text, sizeof text, "dropped %llu/%llu/%llu causes %llu/%llu/%llu refused_tags %llu", d.tag, d.clock,
                  d.display, d.refused_tag, d.busy_source, d.hard_mark, refused);
    return text;
}

int usage(const char* why)
{
    std::fprintf(stderr,
                 "roadflood: %s\nusage: roadflood --hall FILE --flood KIND:RATE[:ANCHORS[:TAGS[:FIRST]]][/DURING[/AFTER]] "
                 "[--flood ...] [--before S] [--during S] [--after S] [--series 1]\n",
                 why);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    roadbench::ToolOptions options;
    options.text("--hall", &o.hall);
    options.list("--flood", &o.floods);
    options.number("--before", &o.before);
    options.number("--during", &o.during);
    options.number("--after", &o.after);
    options.flag("--series", &o.series);
    std::string error;
    if (!options.parse(argc, argv, &error)) return usage(error.c_str());
    if (o.hall.empty() || o.floods.empty()) return usage("missing option");
    if (std::getenv("VORLEN_SANDBOX") == nullptr) return usage("run me inside tools/sandbox");

    anchorsim::SiteModel site;
    if (!anchorsim::load_site_file(o.hall, &site, &error)) return usage(error.c_str());
    std::vector<Flood> floods;
    for (const std::string& text : o.floods) {
        Flood f;
        if (!parse_timed(text, site, o, &f, &error)) return usage(error.c_str());
        floods.push_back(f);
    }
    for (const auto& f : floods) roadflood::prepare_site(f.spec, &site);
    site.tags.push_back(roadflood::quiet_tag(site));
    std::vector<uint64_t> good;
    for (const auto& t : site.tags) good.push_back(t.id);

    if (!roadbench::wait_for_text(kTrace, "Jobs init OK!", 60)) {
        std::fprintf(stderr, "roadflood: the engine jobs did not start\n");
        return 1;
    }
    const auto engine = static_cast<pid_t>(roadbench::daemon_pid("/qvx/zub/log/uwb_zub.log"));
    anchorsim::Simulator sim(site, site.seed, anchorsim::SimulatorOptions{});
    if (!sim.open(&error)) {
        std::fprintf(stderr, "roadflood: %s\n", error.c_str());
        return 1;
    }
    roadflood::FloodDriver driver(sim);
    std::atomic<bool> stop{false};
    std::thread sim_thread([&] { driver.run(stop); });
    int loc = -1, ctl = -1;
    const bool up = roadbench::connect_and_start(site, &loc, &ctl);
    if (!up) {
        stop = true;
        sim_thread.join();
        std::fprintf(stderr, "roadflood: the anchors were not configured\n");
        return 1;
    }
    roadflood::RoadWatch watch(loc, ctl, engine, good, o.series ? stderr : nullptr);
    watch.watch(15.0);  // the good tags' first records come after some rounds
    watch.watch(o.before);
    for (const Flood& f : floods) {
        const double t0 = roadbench::now_s();
        const uint64_t written0 = driver.link_bytes().written;
        const uint64_t unread0 = watch.unread_at(t0);
        driver.start(f.spec);
        watch.watch(f.during);
        const roadflood::FloodCounts counts = driver.stop();
        const double t1 = roadbench::now_s();
        const uint64_t written1 = driver.link_bytes().written;
        const uint64_t unread1 = watch.unread_at(t1);
        watch.watch(f.after);
        const double t2 = roadbench::now_s();
        const double read = (static_cast<double>(written1 - written0) - static_cast<double>(unread1) +
                             static_cast<double>(unread0)) / kFrameBytes / (t1 - t0);
        const double drained = watch.drained_after(t1, kDrainedBytes);
        const double quiet_back = drained < 0 ? -1.0 : watch.resumed_after_of(roadflood::kQuietTag, drained);
        std::printf("flood %s offered/s %.0f read/s %.0f rss_before_MiB %.1f peak_MiB %.1f after_MiB %.1f "
                    "growth_MiB %.1f answer_max_s %.2f gap_max_s %.2f resume_s %.2f records_during %zu "
                    "quiet_gap_s %.2f unread_end_KiB %llu drained_s %.2f quiet_back_s %.2f %s\n",
                    f.text.c_str(), static_cast<double>(counts.offered) / (t1 - t0), read, watch.rss_at(t0),
                    watch.rss_peak(t0, t2), watch.rss_at(t2), watch.rss_peak(t0, t2) - watch.rss_at(t0),
                    watch.slowest_answer(t0, t2), watch.longest_gap(t0, t1), watch.resumed_after(t1),
                    watch.records(t0, t1), watch.longest_gap_of(roadflood::kQuietTag, t0, t1),
                    static_cast<unsigned long long>(unread1 >> 10), drained < 0 ? -1.0 : drained - t1, quiet_back,
                    drops_logged().c_str());
        std::printf("unread %s %s\n", f.text.c_str(), watch.unread_series(t0, t2, 1.0).c_str());
        std::printf("gaps %s", f.text.c_str());
        for (uint64_t tag : good) std::printf(" %llx:%.2f", static_cast<unsigned long long>(tag), watch.longest_gap_of(tag, t0, t1));
        std::printf("\n");
        const auto rounds = static_cast<size_t>((t1 - t0) / roadflood::kQuietRoundS);
        const size_t positions = watch.records_of(roadflood::kQuietTag, t0, t1);
        std::printf("quiet %s rounds %zu positions %zu lost %zu\n", f.text.c_str(), rounds, positions,
                    rounds > positions ? rounds - positions : 0);
        std::fflush(stdout);
    }
    stop = true;
    sim_thread.join();
    return 0;
}
