// roadclient - a controller and a tag-location client for a simulated site: sends the site's
// "anchor cfg" and "rtls start" to the control port, then prints each position as it streams
// from the tag-location port beside its error against the simulator's ground truth.
//
//   roadclient --site FILE --truth FILE [--duration S] [--tracks FILE] [--host IP]
//              [--control-port P] [--location-port P]
//
// Runs until the duration has passed or SIGINT / SIGTERM; then writes the tracks file (one line
// per record: tag, x, y, true x, true y, in metres; a blank line between tags, as gnuplot reads
// data blocks) and prints per tag the record count and the median and 95th-percentile error (for
// a walking tag, with the trail behind it that makes most of that error).
// Exit status: 0 positions received, 1 none or a link failed, 2 bad arguments.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>

#include "roadbench/road_client.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void on_signal(int)
{
    g_stop = 1;
}

struct Options {
    std::string site_path, truth_path, tracks_path, host = "127.0.0.1";
    double duration = 0.0;
    uint16_t control_port = 3334, location_port = 12345;
};

int usage(const char* why)
{
    std::fprintf(stderr,
                 "roadclient: %s\nusage: roadclient --site FILE --truth FILE [--duration S] [--tracks FILE] "
                 "[--host IP] [--control-port P] [--location-port P]\n",
                 why);
    return 2;
}

bool parse(int argc, char** argv, Options* o, std::string* why)
{
    for (int i = 1; i < argc; i += 2) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            *why = "missing value of " + arg;
            return false;
        }
        const std::string v = argv[i + 1];
        if (arg == "--site") o->site_path = v;
        else if (arg == "--truth") o->truth_path = v;
        else if (arg == "--tracks") o->tracks_path = v;
        else if (arg == "--host") o->host = v;
        else if (arg == "--duration") o->duration = std::atof(v.c_str());
        else if (arg == "--control-port") o->control_port = static_cast<uint16_t>(std::atoi(v.c_str()));
        else if (arg == "--location-port") o->location_port = static_cast<uint16_t>(std::atoi(v.c_str()));
        else {
            *why = "unknown option " + arg;
            return false;
        }
    }
    if (o->site_path.empty() || o->truth_path.empty()) {
        *why = "--site and --truth are needed";
        return false;
    }
    return true;
}

struct Row {
    roadbench::PositionRecord rec;
    double tx, ty;
    double err;
};

void write_tracks(const std::string& path, const std::map<uint64_t, std::vector<Row>>& rows)
{
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        std::fprintf(stderr, "roadclient: cannot write %s\n", path.c_str());
        return;
    }
    std::fprintf(f, "# tag x y true_x true_y (m)\n");
    for (const auto& [tag, v] : rows) {
        for (const Row& r : v) {
            std::fprintf(f, "%016llx %.3f %.3f %.3f %.3f\n", static_cast<unsigned long long>(tag), r.rec.x_mm / 1000.0,
                         r.rec.y_mm / 1000.0, r.tx, r.ty);
        }
        std::fprintf(f, "\n\n");
    }
    std::fclose(f);
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    std::string why;
    if (!parse(argc, argv, &o, &why)) return usage(why.c_str());
    anchorsim::SiteModel site;
    if (!anchorsim::load_site_file(o.site_path, &site, &why)) return usage(why.c_str());
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);

    const int loc = roadbench::tcp_connect(o.host, o.location_port, 30000);
    const int ctl = roadbench::tcp_connect(o.host, o.control_port, 30000);
    if (loc < 0 || ctl < 0) {
        std::fprintf(stderr, "roadclient: cannot reach the engine's ports %u and %u on %s\n", o.control_port,
                     o.location_port, o.host.c_str());
        return 1;
    }
    std::string reply = roadbench::configure_anchors(ctl, site, 60000);
    std::printf("controller: anchor cfg -> %s\n", reply.empty() ? "(no reply)" : reply.c_str());
    roadbench::send_all(ctl, "<req type=\"rtls start\"/>\n");
    reply = roadbench::read_reply_until(ctl, "rtls start", 5000);
    std::printf("controller: rtls start -> %s\n", reply.empty() ? "(no reply)" : reply.c_str());
    std::printf("%-16s %4s %9s %9s %9s %8s\n", "tag", "mode", "x", "y", "z", "error");
    std::fflush(stdout);

    roadbench::ReportFrameReader reader;
    roadbench::Truth truth;
    std::map<uint64_t, std::vector<Row>> rows;
    std::vector<roadbench::PositionRecord> got;
    const double end = o.duration > 0 ? roadbench::now_s() + o.duration : 0.0;
    double truth_loaded_at = 0.0;
    uint8_t buf[65536];
    while (g_stop == 0 && (end == 0.0 || roadbench::now_s() < end)) {
        const long n = roadbench::read_some(loc, buf, sizeof buf, 200);
        if (n < 0) {
            std::fprintf(stderr, "roadclient: the tag-location link closed\n");
            break;
        }
        got.clear();
        reader.feed(buf, static_cast<size_t>(n), roadbench::now_s(), &got);
        if (!got.empty() && roadbench::now_s() - truth_loaded_at > 0.5) {
            truth = roadbench::Truth();
            truth.load(o.truth_path);
            truth_loaded_at = roadbench::now_s();
        }
        for (const roadbench::PositionRecord& r : got) {
            const roadbench::TruthPoint* t = truth.blink_before(r.tag, r.at_s);
            Row row{r, t ? t->x : 0.0, t ? t->y : 0.0, t ? roadbench::planar_error_m(r, *t) : -1.0};
            rows[r.tag].push_back(row);
            std::printf("%016llx %4u %9.3f %9.3f %9.3f %8.3f\n", static_cast<unsigned long long>(r.tag), r.mode,
                        r.x_mm / 1000.0, r.y_mm / 1000.0, r.z_mm / 1000.0, row.err);
        }
        std::fflush(stdout);
    }
    roadbench::send_all(ctl, "<req type=\"rtls stop\"/>\n");
    ::close(ctl);
    ::close(loc);
    if (!o.tracks_path.empty()) write_tracks(o.tracks_path, rows);
    size_t total = 0;
    for (const auto& [tag, v] : rows) {
        std::vector<double> errs;
        for (const Row& r : v) {
            if (r.err >= 0) errs.push_back(r.err);
        }
        total += v.size();
        const anchorsim::TagSpec* spec = nullptr;
        for (const anchorsim::TagSpec& t : site.tags) {
            if (t.id == tag) spec = &t;
        }
        std::printf("%s\n", roadbench::tag_summary_line(tag, spec, v.size(), roadbench::quantile(errs, 0.5),
                                                         roadbench::quantile(errs, 0.95))
                                .c_str());
    }
    std::printf("summary records %zu skipped bytes %zu\n", total, reader.skipped_bytes());
    return total > 0 ? 0 : 1;
}
