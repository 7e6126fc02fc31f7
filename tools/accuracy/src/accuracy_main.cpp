// accuracy - how close the engine's position solvers come to the Cramér–Rao bound of a
// site. Draws tags uniformly over the site, simulates their arrival times and ranges
// with Gaussian noise, solves each with the engine's solvers and prints the median,
// 95th percentile and rms error of each next to those of an efficient estimator.
// Run with --help for the options.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MultiLateration.h"
#include "accuracy/site.h"
#include "accuracy/trial.h"

namespace {

struct Options {
    double width = 30.0;
    double depth = 20.0;
    int anchors = 8;
    std::string anchor_file;
    int dims = 2;
    double height = 2.5;
    double height_high = 5.0;
    double tag_z_min = 0.3;
    double tag_z_max = 2.0;
    double noise_ns = 0.1;
    double range_noise_m = -1.0;  // negative: c times the arrival noise
    int tags = 4000;
    unsigned long long seed = 1;
};

void usage(FILE* out)
{
    std::fputs(
        "usage: accuracy [options]\n"
        "  --width M          hall width along x, metres (30)\n"
        "  --depth M          hall depth along y, metres (20)\n"
        "  --anchors N        anchors round the walls: corners first, then the walls (8)\n"
        "  --anchor-file F    anchors from F instead, one \"x y [z]\" per line; tags are\n"
        "                     drawn over the anchors' bounding box\n"
        "  --dims 2|3         2: anchors and tags in one plane; 3: in space (2)\n"
        "  --height M         anchor height; in 3D that of the odd rows (2.5)\n"
        "  --height-high M    3D: height of the even rows (5.0)\n"
        "  --tag-z A:B        3D: range of tag heights, metres (0.3:2.0)\n"
        "  --noise-ns S       arrival-time noise, standard deviation in ns (0.1)\n"
        "  --range-noise-m R  range noise, standard deviation in m (c times the arrival noise)\n"
        "  --tags N           tags drawn (4000)\n"
        "  --seed K           random seed (1)\n",
        out);
}

bool parse_double(const char* text, double& out)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v)) {
        return false;
    }
    out = v;
    return true;
}

bool parse_int(const char* text, long long lo, long long hi, long long& out)
{
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) {
        return false;
    }
    out = v;
    return true;
}

// Returns 0 on success, 1 after --help, 2 on a bad option (with a message).
int parse_options(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            usage(stdout);
            return 1;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "accuracy: %s needs a value\n", name.c_str());
            return 2;
        }
        const char* value = argv[++i];
        long long n = 0;
        bool ok = true;
        if (name == "--width") {
            ok = parse_double(value, o.width) && o.width > 0.0;
        } else if (name == "--depth") {
            ok = parse_double(value, o.depth) && o.depth > 0.0;
        } else if (name == "--anchors") {
            ok = parse_int(value, 1, 1000, n);
            o.anchors = static_cast<int>(n);
        } else if (name == "--anchor-file") {
            o.anchor_file = value;
        } else if (name == "--dims") {
            ok = parse_int(value, 2, 3, n);
            o.dims = static_cast<int>(n);
        } else if (name == "--height") {
            ok = parse_double(value, o.height);
        } else if (name == "--height-high") {
            ok = parse_double(value, o.height_high);
        } else if (name == "--tag-z") {
            const char* colon = std::strchr(value, ':');
            ok = colon != nullptr &&
                 parse_double(std::string(value, colon).c_str(), o.tag_z_min) &&
                 parse_double(colon + 1, o.tag_z_max) && o.tag_z_min <= o.tag_z_max;
        } else if (name == "--noise-ns") {
            ok = parse_double(value, o.noise_ns) && o.noise_ns >= 0.0;
        } else if (name == "--range-noise-m") {
            ok = parse_double(value, o.range_noise_m) && o.range_noise_m >= 0.0;
        } else if (name == "--tags") {
            ok = parse_int(value, 1, 100000000, n);
            o.tags = static_cast<int>(n);
        } else if (name == "--seed") {
            ok = parse_int(value, 0, 0x7fffffffffffffffLL, n);
            o.seed = static_cast<unsigned long long>(n);
        } else {
            std::fprintf(stderr, "accuracy: unknown option %s (see --help)\n", name.c_str());
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "accuracy: bad value for %s: %s\n", name.c_str(), value);
            return 2;
        }
    }
    return 0;
}

bool build_site(const Options& o, accuracy::Site& site)
{
    site.dims = o.dims;
    site.plane_z = o.height;
    site.tag_z_min = o.tag_z_min;
    site.tag_z_max = o.tag_z_max;
    if (o.anchor_file.empty()) {
        site.anchors = accuracy::wall_anchors(o.width, o.depth, o.anchors, o.dims, o.height,
                                              o.height_high);
    } else {
        std::string error;
        if (!accuracy::read_anchor_file(o.anchor_file, o.height, site.anchors, error)) {
            std::fprintf(stderr, "accuracy: %s\n", error.c_str());
            return false;
        }
    }
    if (o.dims == 2) {
        // One plane for anchors and tags: the 2D solvers ignore z.
        site.anchors.col(2).fill(o.height);
    }
    site.x_min = site.anchors.col(0).min();
    site.x_max = site.anchors.col(0).max();
    site.y_min = site.anchors.col(1).min();
    site.y_max = site.anchors.col(1).max();
    return true;
}

void print_header(const Options& o, const accuracy::Site& site, const accuracy::TrialConfig& c)
{
    if (o.anchor_file.empty()) {
        std::printf("site: %d anchors round a %g x %g m hall, %dD", static_cast<int>(site.anchors.n_rows),
                    o.width, o.depth, site.dims);
    } else {
        std::printf("site: %d anchors from %s, %dD", static_cast<int>(site.anchors.n_rows),
                    o.anchor_file.c_str(), site.dims);
    }
    if (site.dims == 2) {
        std::printf(" (anchors and tags at z = %g m)\n", site.plane_z);
    } else {
        std::printf(" (tags at z %g to %g m)\n", site.tag_z_min, site.tag_z_max);
    }
    std::printf("anchors (m):");
    for (arma::uword i = 0; i < site.anchors.n_rows; ++i) {
        std::printf("%s(%g, %g, %g)", i % 6 == 0 ? "\n  " : " ", site.anchors(i, 0),
                    site.anchors(i, 1), site.anchors(i, 2));
    }
    std::printf("\nnoise: arrival times %.3f ns (%.4f m), ranges %.4f m\n", o.noise_ns,
                c.arrival_sigma_s * MultiLateration::kSpeedOfLight, c.range_sigma_m);
    std::printf("tags: %d over x %g to %g m, y %g to %g m; seed %llu\n\n", c.tags, site.x_min,
                site.x_max, site.y_min, site.y_max, static_cast<unsigned long long>(c.seed));
}

void print_reports(const std::vector<accuracy::SolverReport>& reports)
{
    std::printf("%-22s %-14s %7s %7s %10s %10s %10s\n", "solver", "measurements", "fixes",
                "failed", "median m", "p95 m", "rms m");
    for (const accuracy::SolverReport& r : reports) {
        std::printf("%-22s %-14s %7zu %7zu %10.4f %10.4f %10.4f\n", r.solver.c_str(),
                    r.model.c_str(), r.errors.count, r.failed, r.errors.median, r.errors.p95,
                    r.errors.rms);
        std::printf("%-22s %-14s %7zu %7s %10.4f %10.4f %10.4f\n", "  Cramer-Rao bound", "",
                    r.bound.count, "", r.bound.median, r.bound.p95, r.bound.rms);
        std::printf("%-22s %-14s %7s %7s %10.2f %10.2f %10.2f\n", "  ratio solver/bound", "", "",
                    "", r.errors.median / r.bound.median, r.errors.p95 / r.bound.p95,
                    r.errors.rms / r.bound.rms);
    }
    std::printf("\nbound: an efficient estimator, errors drawn from N(0, CRB) at every tag; its rms\n"
                "is sqrt(mean trace CRB) over the tags.\n");
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    const int parsed = parse_options(argc, argv, o);
    if (parsed != 0) {
        return parsed == 1 ? 0 : 2;
    }
    accuracy::Site site;
    if (!build_site(o, site)) {
        return 2;
    }
    accuracy::TrialConfig config;
    config.tags = o.tags;
    config.seed = o.seed;
    config.arrival_sigma_s = o.noise_ns * 1e-9;
    config.range_sigma_m = o.range_noise_m >= 0.0
                               ? o.range_noise_m
                               : config.arrival_sigma_s * MultiLateration::kSpeedOfLight;
    print_header(o, site, config);
    print_reports(accuracy::run_trials(site, config));
    return 0;
}
