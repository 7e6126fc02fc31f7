// anchorsim - fake anchors for the location engine: one per anchor of a site file, each on its
// own loopback address, reporting simulated blinks, ranges and clock-calibration packets once
// the engine starts it.
//
//   anchorsim --site FILE [--seed N] [--duration S] [--truth FILE] [--commands FILE]
//             [--sent FILE] [--port P] [--fault T:ANCHOR:KIND[:ARG]]...
//
// Runs until the duration has passed or SIGINT / SIGTERM, then prints one line per anchor.
// Exit status: 0 done, 2 bad arguments or site, 1 an address cannot be bound.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "anchorsim/simulator.h"

namespace {

std::atomic<bool> g_stop{false};

void on_signal(int)
{
    g_stop.store(true);
}

int usage(const char* why)
{
    std::fprintf(stderr,
                 "anchorsim: %s\nusage: anchorsim --site FILE [--seed N] [--duration S] [--truth FILE] "
                 "[--commands FILE] [--sent FILE] [--port P] [--fault T:ANCHOR:KIND[:ARG]]...\n",
                 why);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string site_path;
    std::string seed_text;
    double duration = 0.0;
    anchorsim::SimulatorOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return usage(("missing value of " + arg).c_str());
        }
        const std::string value = argv[++i];
        char* end = nullptr;
        if (arg == "--site") {
            site_path = value;
        } else if (arg == "--seed") {
            seed_text = value;
        } else if (arg == "--duration") {
            duration = std::strtod(value.c_str(), &end);
            if (*end != '\0' || duration < 0) {
                return usage("bad duration");
            }
        } else if (arg == "--truth") {
            options.truth_path = value;
        } else if (arg == "--commands") {
            options.commands_path = value;
        } else if (arg == "--sent") {
            options.sent_path = value;
        } else if (arg == "--port") {
            const long p = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || p < 0 || p > 65535) {
                return usage("bad port");
            }
            options.port_override = static_cast<int>(p);
        } else if (arg == "--fault") {
            anchorsim::Fault f;
            std::string error;
            if (!anchorsim::parse_fault(value, &f, &error)) {
                return usage(error.c_str());
            }
            options.faults.push_back(f);
        } else {
            return usage(("unknown option " + arg).c_str());
        }
    }
    if (site_path.empty()) {
        return usage("--site is required");
    }
    anchorsim::SiteModel site;
    std::string error;
    if (!anchorsim::load_site_file(site_path, &site, &error)) {
        return usage(error.c_str());
    }
    if (!seed_text.empty()) {
        char* end = nullptr;
        site.seed = std::strtoull(seed_text.c_str(), &end, 10);
        if (*end != '\0') {
            return usage("bad seed");
        }
    }
    std::printf("anchorsim: site %s seed %llu, %zu anchors, %zu tags\n", site_path.c_str(),
                static_cast<unsigned long long>(site.seed), site.anchors.size(), site.tags.size());
    std::fflush(stdout);

    anchorsim::Simulator sim(site, site.seed, options);
    if (!sim.open(&error)) {
        std::fprintf(stderr, "anchorsim: %s\n", error.c_str());
        return 1;
    }
    for (size_t i = 0; i < sim.anchor_count(); ++i) {
        std::printf("anchor %016llx listening on %s:%u\n", static_cast<unsigned long long>(site.anchors[i].hw_id),
                    site.anchors[i].ip.c_str(), static_cast<unsigned>(sim.server(i).port()));
    }
    std::fflush(stdout);
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);
    sim.run(duration, g_stop);

    for (size_t i = 0; i < sim.anchor_count(); ++i) {
        const anchorsim::AnchorServer& s = sim.server(i);
        std::printf("anchor %016llx links %llu frames sent %llu dropped %llu commands %zu\n",
                    static_cast<unsigned long long>(s.hw_id()),
                    static_cast<unsigned long long>(s.stats().links_accepted),
                    static_cast<unsigned long long>(s.stats().frames_sent),
                    static_cast<unsigned long long>(s.stats().frames_dropped), s.commands().size());
    }
    return 0;
}
