// roadbench - the whole road under load: qes_omp and vorlen on the example site, the anchor
// simulator's eight anchors with N static tags blinking at R Hz, and a tag-location client.
// The programs run already (run_steps.sh starts them in the sandbox on the example site).
// Measures the sustained positions per second, the blinks left without a record, the latency
// from a blink (its arrival frames leave the simulator in the same loop turn) to its record
// less the configured solve wait, and the engine's resident memory idle and per tag.
//
//   roadbench --hall FILE --tags N --rate R [--measure S] [--solve-wait-ms 100]
//
// Runs only inside tools/sandbox (fixed ports and /qvx). Prints one result line:
//   tags rate offered/s sustained/s blinks records lost p50_ms p99_ms idle_MiB per_tag_KiB
//   dropped TAG/CLOCK/DISPLAY (what the engine dropped for want of room on the road)
// Exit status: 0 measured, 1 the road did not come up, 2 bad arguments.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "anchorsim/simulator.h"
#include "roadbench/road_client.h"
#include "roadbench/tool_options.h"

namespace {

struct Options {
    std::string hall;
    int tags = 100;
    double rate = 1.0;
    double measure = 10.0;
    double solve_wait_ms = 100.0;
};

int usage(const char* why)
{
    std::fprintf(stderr,
                 "roadbench: %s\nusage: roadbench --hall FILE --tags N --rate R [--measure S] [--solve-wait-ms MS]\n",
                 why);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    roadbench::ToolOptions options;
    options.text("--hall", &o.hall);
    options.integer("--tags", &o.tags);
    options.number("--rate", &o.rate);
    options.number("--measure", &o.measure);
    options.number("--solve-wait-ms", &o.solve_wait_ms);
    std::string why;
    if (!options.parse(argc, argv, &why)) return usage(why.c_str());
    if (o.hall.empty() || o.tags <= 0 || o.rate <= 0) {
        return usage("missing option");
    }
    if (std::getenv("VORLEN_SANDBOX") == nullptr) return usage("run me inside tools/sandbox");

    anchorsim::SiteModel site;
    std::string error;
    if (!anchorsim::load_site_file(o.hall, &site, &error)) return usage(error.c_str());
    // N static tags on a grid inside the hall, clear of the walls.
    site.tags.clear();
    const int cols = static_cast<int>(std::ceil(std::sqrt(o.tags * 1.5)));
    for (int i = 0; i < o.tags; ++i) {
        anchorsim::TagSpec t;
        t.id = 0x10000 + static_cast<uint64_t>(i);
        t.rate_hz = o.rate;
        const int rows = (o.tags + cols - 1) / cols;
        t.path = {{2.0 + 26.0 * (i % cols + 0.5) / cols, 2.0 + 14.0 * (i / cols + 0.5) / rows, 1.2}};
        site.tags.push_back(t);
    }

    ::mkdir("/qvx/road", 0755);
    const std::string zub_log = "/qvx/zub/log/uwb_zub.log";
    if (!roadbench::wait_for_text("/qvx/zub/log/zub/division1.log", "Jobs init OK!", 60)) {
        std::fprintf(stderr, "roadbench: the engine jobs did not start\n");
        return 1;
    }
    const pid_t engine = roadbench::daemon_pid(zub_log);
    ::sleep(2);
    const double idle_kib = static_cast<double>(roadbench::rss_kib(engine));

    anchorsim::SimulatorOptions so;
    so.truth_path = "/qvx/road/truth.txt";
    anchorsim::Simulator sim(site, site.seed, so);
    if (!sim.open(&error)) {
        std::fprintf(stderr, "roadbench: %s\n", error.c_str());
        return 1;
    }
    std::atomic<bool> stop{false};
    std::thread sim_thread([&] { sim.run(0.0, stop); });
    int loc = -1, ctl = -1;
    const int rc = roadbench::connect_and_start(site, &loc, &ctl) ? 0 : 1;
    std::vector<roadbench::PositionRecord> records;
    roadbench::ReportFrameReader reader;
    const double warm = 10.0 / o.rate + 4.0;  // the first records come after some eight rounds
    const double w0 = roadbench::now_s() + warm;
    const double w1 = w0 + o.measure;
    uint8_t buf[1 << 16];
    while (rc == 0 && roadbench::now_s() < w1 + 1.0) {
        const long n = roadbench::read_some(loc, buf, sizeof buf, 50);
        if (n < 0) break;
        reader.feed(buf, static_cast<size_t>(n), roadbench::now_s(), &records);
    }
    const double busy_kib = static_cast<double>(roadbench::rss_kib(engine));
    stop = true;
    sim_thread.join();
    if (rc != 0) {
        std::fprintf(stderr, "roadbench: the anchors were not configured\n");
        return 1;
    }

    roadbench::Truth truth;
    truth.load(so.truth_path);
    // Blinks in the window (their records may arrive up to a second later) and their records.
    size_t blinks = 0, matched = 0, in_window = 0;
    std::vector<double> latency_ms;
    std::vector<std::vector<char>> seen(site.tags.size());
    for (size_t k = 0; k < site.tags.size(); ++k) {
        const auto* v = truth.blinks(site.tags[k].id);
        if (v == nullptr) continue;
        seen[k].assign(v->size(), 0);
        for (const auto& b : *v) blinks += (b.at_s >= w0 && b.at_s < w1) ? 1 : 0;
    }
    for (const auto& r : records) {
        in_window += (r.at_s >= w0 && r.at_s < w1) ? 1 : 0;
        if (r.tag < 0x10000 || r.tag >= 0x10000 + site.tags.size()) continue;
        const size_t k = r.tag - 0x10000;
        // A record leaves the engine a solve wait after its blink's last arrival, by when the
        // tag may have blinked again.
        const long i = truth.blink_index_before(r.tag, r.at_s - o.solve_wait_ms / 1000.0);
        if (i < 0 || static_cast<size_t>(i) >= seen[k].size()) continue;
        const auto& b = (*truth.blinks(r.tag))[static_cast<size_t>(i)];
        if (b.at_s < w0 || b.at_s >= w1 || seen[k][static_cast<size_t>(i)]) continue;
        seen[k][static_cast<size_t>(i)] = 1;
        ++matched;
        latency_ms.push_back((r.at_s - b.at_s) * 1000.0 - o.solve_wait_ms);
    }
    const roadbench::RoadDrops drops = roadbench::road_drops_logged("/qvx/zub/log/zub/division1.log");
    std::printf("tags %d rate %.1f offered/s %.0f sustained/s %.0f blinks %zu records %zu lost %zu "
                "p50_ms %.2f p99_ms %.2f idle_MiB %.1f per_tag_KiB %.2f dropped %llu/%llu/%llu\n",
                o.tags, o.rate, o.tags * o.rate, in_window / o.measure, blinks, matched, blinks - matched,
                roadbench::quantile(latency_ms, 0.5), roadbench::quantile(latency_ms, 0.99), idle_kib / 1024.0,
                (busy_kib - idle_kib) / o.tags, drops.tag, drops.clock, drops.display);
    return 0;
}
