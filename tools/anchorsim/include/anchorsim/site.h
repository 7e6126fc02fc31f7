// site.h - the site a simulation runs: anchors (address, position, clock, which clock masters
// they hear), tags (static or walking, blink rate, inertial data, ranging) and the run's
// settings, read from a small text file. Pure data and a parser; any thread.
//
// File format: one item per line, '#' starts a comment, blank lines are skipped.
//   seed 7                     run seed (the command line may override it)
//   ccp_interval 0.15          seconds between two clock-calibration packets of a master
//   noise_ns 0.1               sigma of the arrival-time noise, nanoseconds
//   first_path 750             first-path index reported (a few units of spread added)
//   anchor id=<hex> ip=127.0.0.2 pos=x,y,z [port=3000] [master=1] [follows=<hex>,<hex>]
//          [offset=<s>] [ppm=<rate>] [drift=<ppm per s>] [silent=1] [version=<text>]
//   tag id=<hex> rate=<Hz> pos=x,y,z                      a static tag
//   tag id=<hex> rate=<Hz> path=x,y,z;x,y,z;... speed=<m/s>  a tag walking the closed path
//        [imu=1] [short=<hex>] [ranging=1] [start=<s>]
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace anchorsim {

using Vec3 = std::array<double, 3>;

constexpr double kSpeedOfLight = 299702547.0;  // m/s, as the engine uses it
constexpr double kMaxRatePpm = 20.0;

struct AnchorSpec {
    uint64_t hw_id = 0;
    std::string ip = "127.0.0.2";
    uint16_t port = 3000;
    Vec3 pos{};
    bool ccp_master = false;         // transmits clock-calibration packets
    std::vector<uint64_t> follows;   // masters whose packets it hears and reports
    std::optional<double> offset_s;  // clock at the start of the run; drawn when absent
    std::optional<double> rate_ppm;  // clock rate error, |rate| <= 20 ppm; drawn when absent
    std::optional<double> drift_ppm_per_s;
    bool silent = false;             // accepts the link and never sends a byte
    std::string version = "anchorsim-1";
};

struct TagSpec {
    uint64_t id = 0;
    double rate_hz = 1.0;
    std::vector<Vec3> path;  // one point: static
    double speed = 0.0;      // m/s along the closed path
    bool imu = false;        // reports carry inertial data (0x33)
    bool ranging = false;    // a ranging tag: anchors report ranges (0x83)
    uint16_t short_id = 0;   // the ranging short id; the low 16 bits of id when not given
    double start_s = 0.0;    // switched on at this run time: the first blink within one period after
    std::vector<size_t> heard_by;  // site indexes of the anchors that hear it (empty: all)
};

struct SiteModel {
    std::vector<AnchorSpec> anchors;
    std::vector<TagSpec> tags;
    uint64_t seed = 1;
    double ccp_interval_s = 0.15;
    double noise_ns = 0.1;
    int first_path = 750;
};

// Parses the text of a site file. False with a message naming the line on any error
// (unknown item or key, bad number, missing id or position, duplicate id, a follows= naming
// no anchor, a clock rate beyond 20 ppm).
bool parse_site(const std::string& text, SiteModel* out, std::string* error);
bool load_site_file(const std::string& path, SiteModel* out, std::string* error);

// Index of the anchor with that hardware id, or -1.
int anchor_index(const SiteModel& site, uint64_t hw_id);

double distance(const Vec3& a, const Vec3& b);

}  // namespace anchorsim
