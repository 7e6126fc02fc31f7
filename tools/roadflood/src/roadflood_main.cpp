// roadflood - floods of valid anchor reports against the running engine, and what its users
// see meanwhile. The example site's simulator feeds the good tags; on top of it, each flood
// runs for a while on some of the anchors' links (see roadflood/flood_source.h). For each
// flood: resident memory before, at its peak and some seconds after; the controller's slowest
// answer; the good tags' longest gap in positions during the flood and how soon they resumed
// after it.
//
//   roadflood --hall FILE --flood KIND:RATE[:ANCHORS[:TAGS]] [--flood ...]
//             [--before S] [--during S] [--after S] [--series 1]
//
// Runs only inside tools/sandbox with the programs up (run_flood.sh). One line per flood:
//   flood SPEC offered/s N refused N rss_before_MiB N peak_MiB N after_MiB N answer_max_s N
//   gap_max_s N resume_s N records_during N dropped TAG/CLOCK/COPY
// (the engine's drop counts so far, as its trace log last told them).
// --series 1 writes "at_s rss_MiB records answers" once a second to standard error.
// Exit status: 0 measured, 1 the road did not come up, 2 bad arguments.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "roadflood/flood_source.h"
#include "roadflood/road_watch.h"

namespace {

struct Options {
    std::string hall;
    std::vector<std::string> floods;
    double before = 10.0;
    double during = 20.0;
    double after = 10.0;
    bool series = false;
};

// The engine's drop counts so far, as its trace log last told them.
std::string drops_logged()
{
    const roadbench::RoadDrops d = roadbench::road_drops_logged("/qvx/zub/log/zub/division1.log");
    char text[96];
    std::snprintf(text, sizeof text, "dropped %llu/%llu/%llu", d.tag, d.clock, d.display);
    return text;
}

int usage(const char* why)
{
    std::fprintf(stderr,
                 "roadflood: %s\nusage: roadflood --hall FILE --flood KIND:RATE[:ANCHORS[:TAGS]] [--flood ...] "
                 "[--before S] [--during S] [--after S] [--series 1]\n",
                 why);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const std::string v = argv[i + 1];
        if (a == "--hall") o.hall = v;
        else if (a == "--flood") o.floods.push_back(v);
        else if (a == "--before") o.before = std::atof(v.c_str());
        else if (a == "--during") o.during = std::atof(v.c_str());
        else if (a == "--after") o.after = std::atof(v.c_str());
        else if (a == "--series") o.series = v == "1";
        else return usage(("unknown option " + a).c_str());
    }
    if (o.hall.empty() || o.floods.empty()) return usage("missing option");
    if (std::getenv("VORLEN_SANDBOX") == nullptr) return usage("run me inside tools/sandbox");

    anchorsim::SiteModel site;
    std::string error;
    if (!anchorsim::load_site_file(o.hall, &site, &error)) return usage(error.c_str());
    std::vector<roadflood::FloodSpec> specs;
    for (const std::string& text : o.floods) {
        roadflood::FloodSpec spec;
        if (!roadflood::parse_flood(text, site, &spec, &error)) return usage(error.c_str());
        specs.push_back(spec);
    }
    for (const auto& spec : specs) roadflood::prepare_site(spec, &site);
    std::vector<uint64_t> good;
    for (const auto& t : site.tags) good.push_back(t.id);

    if (!roadbench::wait_for_text("/qvx/zub/log/zub/division1.log", "Jobs init OK!", 60)) {
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
    for (size_t i = 0; i < specs.size(); ++i) {
        watch.watch(o.before);
        const double t0 = roadbench::now_s();
        driver.start(specs[i]);
        watch.watch(o.during);
        const roadflood::FloodCounts counts = driver.stop();
        const double t1 = roadbench::now_s();
        watch.watch(o.after);
        const double t2 = roadbench::now_s();
        std::printf("flood %s offered/s %.0f refused %llu rss_before_MiB %.1f peak_MiB %.1f after_MiB %.1f "
                    "answer_max_s %.2f gap_max_s %.2f resume_s %.2f records_during %zu %s\n",
                    o.floods[i].c_str(), static_cast<double>(counts.offered) / (t1 - t0),
                    static_cast<unsigned long long>(counts.refused), watch.rss_at(t0), watch.rss_peak(t0, t2),
                    watch.rss_at(t2), watch.slowest_answer(t0, t2), watch.longest_gap(t0, t1),
                    watch.resumed_after(t1), watch.records(t0, t1), drops_logged().c_str());
        std::fflush(stdout);
    }
    stop = true;
    sim_thread.join();
    return 0;
}
