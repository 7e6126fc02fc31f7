// road_client.h - the client side of the location engine, as a controller and a report
// reader see it: the "anchor cfg" request built from a simulated site, the framing of the
// tag-location port, the ground truth of a simulation run and the matching of records to it,
// and small blocking loopback TCP helpers. Plain data and functions; any thread, one object
// per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "anchorsim/site.h"

namespace roadbench {

// One record of the tag-location port: a 29-byte position in millimetres, stamped with the
// client's clock when its frame was complete.
struct PositionRecord {
    uint8_t mode = 0;
    uint64_t tag = 0;
    uint64_t anchor = 0;
    int32_t x_mm = 0;
    int32_t y_mm = 0;
    int32_t z_mm = 0;
    double at_s = 0.0;
};

// Splits the byte stream of the tag-location port into records. A report frame is 0xA8, 0x1D,
// 0x00, the 29-byte record, 0xA8; bytes that do not start such a frame are skipped and counted.
class ReportFrameReader {
public:
    static constexpr size_t kFrameSize = 33;

    void feed(const uint8_t* data, size_t len, double now_s, std::vector<PositionRecord>* out);
    size_t skipped_bytes() const { return skipped_; }
    size_t pending_bytes() const { return buf_.size(); }

private:
    std::vector<uint8_t> buf_;
    size_t skipped_ = 0;
};

// The controller's request that gives the engine the site's anchors: positions, clock masters
// and the distance to each master heard, as one line without its newline.
std::string anchor_cfg_request(const anchorsim::SiteModel& site);

struct TruthPoint {
    double at_s = 0.0;
    uint32_t seq = 0;
    double x = 0.0, y = 0.0, z = 0.0;
};

// The simulator's ground truth: per tag, its blinks in time order. Records carry no sequence
// number, so a record is matched to the tag's last blink sent before the record arrived.
class Truth {
public:
    // Reads the lines "time tag seq x y z" of a truth file; lines that do not parse are counted
    // and skipped (the file may be read while it is being written).
    void load(const std::string& path);
    void add(uint64_t tag, const TruthPoint& p) { by_tag_[tag].push_back(p); }
    // The last blink of `tag` at or before `at_s`; nullptr when there is none.
    const TruthPoint* blink_before(uint64_t tag, double at_s) const;
    // Index of that blink in the tag's blinks, or -1.
    long blink_index_before(uint64_t tag, double at_s) const;
    size_t blink_count(uint64_t tag) const;
    const std::vector<TruthPoint>* blinks(uint64_t tag) const;
    size_t bad_lines() const { return bad_lines_; }

private:
    std::map<uint64_t, std::vector<TruthPoint>> by_tag_;
    size_t bad_lines_ = 0;
};

// Horizontal error of a record against a truth point, metres (the engine solves in the plane
// at the configured ground clearance).
double planar_error_m(const PositionRecord& r, const TruthPoint& t);

// Value at quantile q (0..1) of `values` by the nearest-rank rule; 0 for an empty set.
double quantile(std::vector<double> values, double q);

// The closing line of one tag: "summary TAG records N error median M m p95 P m". For a tag that
// walks (a path of two or more points and a speed) it goes on to say what that error is: its
// records lie on the track but trail the walker, since the engine's smoothing (the trimmed mean
// of the last nine solves, centred four blinks back, then half-way towards the last record sent,
// one blink more) holds a record five blink periods behind. `spec` may be null (a tag the site
// does not name).
std::string tag_summary_line(uint64_t tag, const anchorsim::TagSpec* spec, size_t records, double median_m,
                             double p95_m);

// Sends the site's "anchor cfg" on the control link `fd`, again every 2 s until the reply finds
// every anchor's link open ("Socket opened already") or `timeout_ms` has passed; the engine opens
// the links on its own schedule, and anchors configured without a link get no configuration.
// The last reply.
std::string configure_anchors(int fd, const anchorsim::SiteModel& site, int timeout_ms);
// Connects a tag-location client (port 12345) and the controller (port 3334) on 127.0.0.1,
// configures every anchor of `site` (configure_anchors, 40 s at most) and starts the road
// ("rtls start"). The descriptors go to *loc and *ctl (-1 when a connection failed); true when
// every anchor's link was open.
bool connect_and_start(const anchorsim::SiteModel& site, int* loc, int* ctl);
size_t count_of(const std::string& text, const std::string& needle);

// What the engine's trace log (its text, or the file) last told of the reports it dropped for
// want of room on the road (its last "report road full" line): tag reports, clock reports,
// display records and anchor replies since start; zeros when it dropped none (and no replies
// from an engine whose line does not count them).
struct RoadDrops {
    unsigned long long tag = 0, clock = 0, display = 0, replies = 0;
    // Since start, by cause (lines that name them): a refused tag's, a busy source's, at a mark.
    unsigned long long refused_tag = 0, busy_source = 0, hard_mark = 0;
};
RoadDrops parse_road_drops(const std::string& trace_text);
RoadDrops road_drops_logged(const std::string& trace_path);

// Blocking TCP helpers on IPv4 loopback addresses. -1 on failure.
int tcp_connect(const std::string& ip, uint16_t port, int timeout_ms);
bool send_all(int fd, const std::string& bytes);
// Reads what is there within `timeout_ms`; returns the byte count, 0 on time-out, -1 when the
// peer closed or the read failed.
long read_some(int fd, uint8_t* buf, size_t cap, int timeout_ms);
// Reads controller replies until one contains `needle` or the time runs out; the text read.
std::string read_reply_until(int fd, const std::string& needle, int timeout_ms);

double now_s();  // wall clock, Unix seconds (the simulator's truth uses the same clock)

// Helpers of the benchmarks that run beside the programs in a sandbox.
// The whole file, or "" when it cannot be read.
std::string slurp(const std::string& path);
// Waits until the file holds `text`; false after `seconds`.
bool wait_for_text(const std::string& path, const std::string& text, double seconds);
// Resident memory of a process in KiB (0 when it cannot be read).
long rss_kib(int pid);
// The daemon's pid: the first word of its platform log.
int daemon_pid(const std::string& platform_log);

}  // namespace roadbench
