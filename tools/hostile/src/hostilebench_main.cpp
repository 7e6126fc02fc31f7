// hostilebench - the engine against a misbehaving peer, with the figures of one run: the whole
// road as roadbench runs it (qes_omp and vorlen already started on the example site, the hall's
// anchors and tags from the simulator, a tag-location client), then one of
//   --flood none|slow|full   a controller writes "anchor list" requests for --seconds (10) and
//                            reads its replies never, at 16 KiB/s, or as fast as they come,
//                            then closes; prints the engine's resident memory before and after,
//                            how long after the close a new controller's "zub cfg" was
//                            answered, and the longest gap in the first tag's positions
//   --garbage MB             MB of random bytes on the link of the extra anchor
//                            a0b10000000000aa at 127.0.0.20 (listed in dns_zub.cfg by
//                            run_hostile.sh); prints the growth of the engine's logs
//   --report-noise MB        MB of random bytes to each of the eight report ports; the same
//   --anchor-flood KIND      the extra anchor repeats one frame for --seconds, as fast as its
//                            link takes it: cfg (a configuration request 'B', reading what the
//                            engine sends), cfg-deaf (the same, never reading), power (0x85) or
//                            range (0x83 repeating its sequence number); meanwhile a second
//                            extra anchor a0b10000000000ab at 127.0.0.21 asks for its
//                            configuration every 2 s and new controllers ask "zub cfg" again and
//                            again. Prints the engine's resident memory (start, peak, 5 s after),
//                            the controllers' and the second anchor's longest wait, the start
//                            frames (57 01) the flooding anchor read, the longest gap in the
//                            first tag's positions and the growth of the engine's logs
//   --forged KIND            --count (20000) job messages of one kind forged as datagrams to the
//                            engine from another local socket (recon-start, recon-link,
//                            recon-rcvlen, socket, position, control); prints the growth of the
//                            anchor statistics file, of the logs and of resident memory, the
//                            engine's processor time, whether the forged position reached the
//                            tag-location port and the longest gap, over 16.5 s from the send
//   --trace-file KIND        fifo, zero (a link to /dev/zero) or blanks:MB (MB without a blank)
//                            as the tag trace list for 12 s; prints the engine's resident memory
//                            before and at most, and the longest gap (a run whose engine grows
//                            by 1 GiB is cut short: the engine is killed)
// Runs only inside tools/sandbox (see run_hostile.sh). Exit status: 0 measured, 1 the road did
// not come up, 2 bad arguments.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "anchorsim/frames.h"
#include "anchorsim/simulator.h"
#include "hostile/hostile.h"
#include "roadbench/road_client.h"

namespace {

constexpr const char* kTrace = "/qvx/zub/log/zub/division1.log";
constexpr const char* kZubLog = "/qvx/zub/log/uwb_zub.log";
constexpr const char* kZubCfg = "<req type=\"zub cfg\"/>\n";
constexpr uint16_t kReportPorts[] = {3335, 12345, 12346, 12347, 12301, 12302, 12303, 3336};

int usage(const char* why)
{
    std::fprintf(stderr,
                 "hostilebench: %s\nusage: hostilebench --hall FILE (--flood none|slow|full [--seconds S] | "
                 "--garbage MB | --report-noise MB | --anchor-flood cfg|cfg-deaf|power|range [--seconds S] | "
                 "--forged KIND [--count N] | --trace-file fifo|zero|blanks:MB)\n",
                 why);
    return 2;
}

struct Road {
    int loc = -1;
    std::vector<roadbench::PositionRecord> records;
    roadbench::ReportFrameReader reader;

    void collect_until(double t)
    {
        uint8_t buf[1 << 16];
        while (roadbench::now_s() < t) {
            const long n = roadbench::read_some(loc, buf, sizeof buf, 50);
            if (n < 0) return;
            reader.feed(buf, static_cast<size_t>(n), roadbench::now_s(), &records);
        }
    }
};

double mib(long kib) { return static_cast<double>(kib) / 1024.0; }

// The frame the extra anchor repeats, and whether it reads meanwhile.
bool flood_frame(const std::string& kind, std::vector<uint8_t>* frame, bool* reading)
{
    *reading = kind != "cfg-deaf";
    if (kind == "cfg" || kind == "cfg-deaf")
        *frame = anchorsim::encode_frame({0x42});
    else if (kind == "power")
        *frame = anchorsim::encode_frame({0x85});
    else if (kind == "range")
        *frame = anchorsim::encode_frame({0x83, 0, 0, 0, 0, 0, 0x39, 0x30, 0, 0, 2, 0, 0, 0});
    else
        return false;
    return true;
}

void run_anchor_flood(Road& road, pid_t engine, uint64_t tag, const std::string& kind, double seconds)
{
    std::vector<uint8_t> frame;
    bool reading = false;
    flood_frame(kind, &frame, &reading);
    hostile::RawAnchor anchor, witness;
    std::string error;
    if (!anchor.listen("127.0.0.20", 3000, &error) || !witness.listen("127.0.0.21", 3000, &error) ||
        !anchor.wait_link(20.0) || !witness.wait_link(20.0)) {
        std::fprintf(stderr, "hostilebench: no links to 127.0.0.20 and .21 %s\n", error.c_str());
        return;
    }
    const std::string dir = "/qvx/zub/log/zub";
    const uint64_t log0 = hostile::log_bytes(dir, kZubLog);
    const long rss0 = roadbench::rss_kib(engine);
    const double t0 = roadbench::now_s();
    const double flood_end = t0 + seconds;
    const double after = flood_end + 5.0;
    hostile::AnchorFloodResult flood;
    hostile::AskResult asked;
    double witness_worst = 0.0;
    unsigned witness_unanswered = 0;
    std::thread flooder([&] { flood = anchor.flood(frame, seconds, reading); });
    std::thread asker(
        [&] { asked = hostile::ask_until(3334, kZubCfg, "<ind type=\"zub cfg\">", after, 10.0); });
    std::thread starter([&] {
        while (roadbench::now_s() < flood_end) {
            const double took = witness.exchange(anchorsim::encode_frame({0x42}), {0x57, 0x01}, 10.0);
            witness_worst = std::max(witness_worst, took < 0 ? 10.0 : took);
            witness_unanswered += took < 0 ? 1 : 0;
            ::usleep(2000 * 1000);
        }
    });
    long peak = rss0;
    while (roadbench::now_s() < after) {
        road.collect_until(std::min(after, roadbench::now_s() + 0.5));
        peak = std::max(peak, roadbench::rss_kib(engine));
    }
    const long rss_after = roadbench::rss_kib(engine);
    flooder.join();
    asker.join();
    starter.join();
    const uint64_t grown = hostile::log_bytes(dir, kZubLog) - log0;
    std::printf(
        "anchor-flood %s seconds %.0f frames %llu rss_start_MiB %.1f rss_peak_MiB %.1f rss_5s_after_MiB %.1f "
        "zub_cfg_asked %u unanswered %u worst_s %.2f start_frames %zu least_start_gap_s %.2f "
        "other_anchor_start_worst_s %.2f unanswered %u longest_gap_s %.2f log_growth_KiB %.1f\n",
        kind.c_str(), seconds, static_cast<unsigned long long>(flood.frames_written), mib(rss0), mib(peak),
        mib(rss_after), asked.asked, asked.unanswered, asked.worst_s, flood.start_frames_at.size(),
        hostile::least_gap_s(flood.start_frames_at), witness_worst, witness_unanswered,
        hostile::longest_gap_s(road.records, tag, t0, after), static_cast<double>(grown) / 1024.0);
}

void run_flood(Road& road, pid_t engine, uint64_t tag, const std::string& mode, double seconds)
{
    const size_t rate = mode == "full" ? (1u << 30) : mode == "slow" ? 16384 : 0;
    const long rss0 = roadbench::rss_kib(engine);
    const double t0 = roadbench::now_s();
    hostile::FloodResult flood;
    std::thread flooder([&] { flood = hostile::flood_controller(3334, hostile::kFloodLine, seconds, rate); });
    road.collect_until(t0 + seconds);
    flooder.join();
    const double closed = roadbench::now_s();
    const long rss_closed = roadbench::rss_kib(engine);
    double answer_s = -1.0;
    std::string reply;
    std::thread asker([&] { answer_s = hostile::ask(3334, kZubCfg, "<ind type=\"zub cfg\">", 180.0, &reply); });
    road.collect_until(closed + 1.0);
    asker.join();
    const double end = roadbench::now_s();
    road.collect_until(end + 1.0);
    ::sleep(1);
    std::printf("flood %s seconds %.0f requests %llu reply_MiB %.1f rss_before_MiB %.1f rss_closed_MiB %.1f "
                "rss_after_MiB %.1f answered_after_close_s %.2f longest_gap_s %.2f\n",
                mode.c_str(), seconds, static_cast<unsigned long long>(flood.bytes_written / std::string(hostile::kFloodLine).size()),
                static_cast<double>(flood.reply_bytes) / 1048576.0, mib(rss0), mib(rss_closed),
                mib(roadbench::rss_kib(engine)), answer_s, hostile::longest_gap_s(road.records, tag, t0, end));
}

void run_noise(Road& road, bool anchor_link, uint64_t mib_each)
{
    const std::string dir = "/qvx/zub/log/zub";
    const uint64_t log0 = hostile::log_bytes(dir, kZubLog);
    const double t0 = roadbench::now_s();
    uint64_t sent = 0;
    if (anchor_link) {
        hostile::RawAnchor anchor;
        std::string error;
        if (!anchor.listen("127.0.0.20", 3000, &error) || !anchor.wait_link(20.0)) {
            std::fprintf(stderr, "hostilebench: no link to 127.0.0.20 %s\n", error.c_str());
            return;
        }
        sent = anchor.write_noise(mib_each << 20, 7, 300.0);
    } else {
        std::vector<std::thread> pushers;
        std::atomic<uint64_t> total{0};
        for (uint16_t port : kReportPorts) {
            pushers.emplace_back([&, port] { total += hostile::push_noise(port, mib_each << 20, port, 300.0); });
        }
        for (std::thread& t : pushers) t.join();
        sent = total;
    }
    const double took = roadbench::now_s() - t0;
    road.collect_until(roadbench::now_s() + 2.0);
    const uint64_t grown = hostile::log_bytes(dir, kZubLog) - log0;
    std::printf("%s sent_MiB %.1f seconds %.1f log_growth_KiB %.1f log_KiB_per_s %.1f\n",
                anchor_link ? "garbage-anchor" : "report-noise", static_cast<double>(sent) / 1048576.0, took,
                static_cast<double>(grown) / 1024.0, static_cast<double>(grown) / 1024.0 / took);
}

bool forged_kind(const std::string& name, hostile::Forged* kind)
{
    const std::pair<const char*, hostile::Forged> names[] = {
        {"recon-start", hostile::Forged::recon_start},   {"recon-link", hostile::Forged::recon_link},
        {"recon-rcvlen", hostile::Forged::recon_rcvlen}, {"socket", hostile::Forged::socket_20k},
        {"position", hostile::Forged::display_position}, {"control", hostile::Forged::control_range},
    };
    for (const auto& [n, k] : names) {
        if (name == n) {
            *kind = k;
            return true;
        }
    }
    return false;
}

// Processor seconds the process has used (user and system), from /proc.
double cpu_s(pid_t pid)
{
    const std::string stat = roadbench::slurp("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0.0;
    unsigned long utime = 0, stime = 0;
    // After the name: state, then fields 4..13, then utime (14) and stime (15).
    if (std::sscanf(stat.c_str() + close + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                    &stime) != 2) {
        return 0.0;
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long file_bytes(const char* path)
{
    struct stat st {};
    return ::stat(path, &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

void run_forged(Road& road, pid_t engine, uint64_t tag, const std::string& name, hostile::Forged kind,
                uint64_t count)
{
    const char* stats = "/qvx/zub/log/anc_statistics.txt";
    const std::string dir = "/qvx/zub/log/zub";
    const long rss0 = roadbench::rss_kib(engine);
    const long stats0 = file_bytes(stats);
    const uint64_t log0 = hostile::log_bytes(dir, kZubLog);
    const double cpu0 = cpu_s(engine);
    const double t0 = roadbench::now_s();
    // Sent beside the reading of positions, whose times are taken as they are read.
    uint64_t sent = 0;
    std::thread sender([&] { sent = hostile::send_forged(20110, kind, count); });
    road.collect_until(t0 + 16.5);
    sender.join();
    const double t1 = roadbench::now_s();
    std::printf("forged %s sent %llu stats_growth_KiB %.1f log_growth_KiB %.1f rss_growth_MiB %.1f cpu_s %.2f "
                "over_s %.1f forged_positions %zu longest_gap_s %.2f\n",
                name.c_str(), static_cast<unsigned long long>(sent),
                static_cast<double>(file_bytes(stats) - stats0) / 1024.0,
                static_cast<double>(hostile::log_bytes(dir, kZubLog) - log0) / 1024.0,
                mib(roadbench::rss_kib(engine) - rss0), cpu_s(engine) - cpu0, t1 - t0,
                static_cast<size_t>(std::count_if(road.records.begin(), road.records.end(),
                                                  [](const roadbench::PositionRecord& r) {
                                                      return r.tag == hostile::kForgedTag;
                                                  })),
                hostile::longest_gap_s(road.records, tag, t0, t1));
}

void run_trace_file(Road& road, pid_t engine, uint64_t tag, const std::string& what)
{
    hostile::TraceFile kind = hostile::TraceFile::fifo;
    uint64_t size_mib = 0;
    if (what == "zero") {
        kind = hostile::TraceFile::dev_zero;
    } else if (what.rfind("blanks:", 0) == 0) {
        kind = hostile::TraceFile::no_blanks;
        size_mib = std::strtoull(what.c_str() + 7, nullptr, 10);
    }
    const char* path = "/qvx/zub/cfg/tag_trace.cfg";
    const long rss0 = roadbench::rss_kib(engine);
    long peak = rss0;
    const double t0 = roadbench::now_s();
    if (!hostile::place_trace_file(path, kind, size_mib)) {
        std::fprintf(stderr, "hostilebench: cannot place %s\n", path);
        return;
    }
    bool cut = false;
    while (roadbench::now_s() < t0 + 12.0 && !cut) {
        road.collect_until(roadbench::now_s() + 0.5);
        peak = std::max(peak, roadbench::rss_kib(engine));
        cut = peak - rss0 > (1L << 20);
    }
    const double t1 = roadbench::now_s();
    if (cut) ::kill(engine, SIGKILL);  // the engine of this sandbox, before it takes the machine's memory
    ::unlink(path);
    std::printf("trace-file %s rss_before_MiB %.1f rss_peak_MiB %.1f growth_MiB %.1f over_s %.1f%s longest_gap_s %.2f\n",
                what.c_str(), mib(rss0), mib(peak), mib(peak - rss0), t1 - t0, cut ? " cut_short" : "",
                hostile::longest_gap_s(road.records, tag, t0, t1));
}

}  // namespace

int main(int argc, char** argv)
{
    std::string hall, flood, anchor_flood, forged, trace_file;
    double seconds = 10.0;
    uint64_t garbage = 0, report_noise = 0, count = 20000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const std::string v = argv[i + 1];
        if (a == "--hall") hall = v;
        else if (a == "--flood") flood = v;
        else if (a == "--seconds") seconds = std::atof(v.c_str());
        else if (a == "--garbage") garbage = std::strtoull(v.c_str(), nullptr, 10);
        else if (a == "--report-noise") report_noise = std::strtoull(v.c_str(), nullptr, 10);
        else if (a == "--anchor-flood") anchor_flood = v;
        else if (a == "--forged") forged = v;
        else if (a == "--count") count = std::strtoull(v.c_str(), nullptr, 10);
        else if (a == "--trace-file") trace_file = v;
        else return usage(("unknown option " + a).c_str());
    }
    if (hall.empty() || (flood.empty() && garbage == 0 && report_noise == 0 && anchor_flood.empty() &&
                         forged.empty() && trace_file.empty())) {
        return usage("missing option");
    }
    hostile::Forged forged_as = hostile::Forged::recon_start;
    if (!forged.empty() && !forged_kind(forged, &forged_as)) return usage("bad --forged");
    if (!trace_file.empty() && trace_file != "fifo" && trace_file != "zero" && trace_file.rfind("blanks:", 0) != 0) {
        return usage("bad --trace-file");
    }
    if (!flood.empty() && flood != "none" && flood != "slow" && flood != "full") return usage("bad --flood");
    std::vector<uint8_t> frame;
    bool reading = false;
    if (!anchor_flood.empty() && !flood_frame(anchor_flood, &frame, &reading))
        return usage("bad --anchor-flood");
    if (std::getenv("VORLEN_SANDBOX") == nullptr) return usage("run me inside tools/sandbox");

    anchorsim::SiteModel site;
    std::string error;
    if (!anchorsim::load_site_file(hall, &site, &error) || site.tags.empty()) return usage(error.c_str());
    ::mkdir("/qvx/road", 0755);
    if (!roadbench::wait_for_text(kTrace, "Jobs init OK!", 60)) {
        std::fprintf(stderr, "hostilebench: the engine jobs did not start\n");
        return 1;
    }
    const pid_t engine = roadbench::daemon_pid(kZubLog);
    anchorsim::Simulator sim(site, site.seed, anchorsim::SimulatorOptions{});
    if (!sim.open(&error)) {
        std::fprintf(stderr, "hostilebench: %s\n", error.c_str());
        return 1;
    }
    std::atomic<bool> stop{false};
    std::thread sim_thread([&] { sim.run(0.0, stop); });
    Road road;
    road.loc = roadbench::tcp_connect("127.0.0.1", 12345, 30000);
    const int ctl = roadbench::tcp_connect("127.0.0.1", 3334, 30000);
    bool up = false;
    if (road.loc >= 0 && ctl >= 0) {
        const std::string reply = roadbench::configure_anchors(ctl, site, 40000);
        roadbench::send_all(ctl, "<req type=\"rtls start\"/>\n");
        roadbench::read_reply_until(ctl, "rtls start", 5000);
        up = roadbench::count_of(reply, "Socket opened already") == site.anchors.size();
    }
    if (ctl >= 0) ::close(ctl);
    if (up) {
        road.collect_until(roadbench::now_s() + 8.0);  // the first records come after some eight rounds
        if (!flood.empty()) run_flood(road, engine, site.tags.front().id, flood, seconds);
        if (garbage > 0) run_noise(road, true, garbage);
        if (report_noise > 0) run_noise(road, false, report_noise);
        if (!anchor_flood.empty())
            run_anchor_flood(road, engine, site.tags.front().id, anchor_flood, seconds);
        if (!forged.empty()) run_forged(road, engine, site.tags.front().id, forged, forged_as, count);
        if (!trace_file.empty()) run_trace_file(road, engine, site.tags.front().id, trace_file);
    } else {
        std::fprintf(stderr, "hostilebench: the anchors were not configured\n");
    }
    stop = true;
    sim_thread.join();
    return up ? 0 : 1;
}
