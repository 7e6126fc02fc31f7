// road_client.cpp - see road_client.h.
#include "roadbench/road_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace roadbench {

namespace {

template <typename T>
T read_le(const uint8_t* p)
{
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        v = static_cast<T>(v | (static_cast<T>(p[i]) << (8 * i)));
    }
    return v;
}

std::string hex16(uint64_t v)
{
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    std::string s = text;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

}  // namespace

void ReportFrameReader::feed(const uint8_t* data, size_t len, double now_s, std::vector<PositionRecord>* out)
{
    buf_.insert(buf_.end(), data, data + len);
    size_t i = 0;
    while (buf_.size() - i >= 3) {
        const uint8_t* p = buf_.data() + i;
        if (p[0] != 0xA8 || p[1] != 0x1D || p[2] != 0x00) {
            ++i;
            ++skipped_;
            continue;
        }
        if (buf_.size() - i < kFrameSize) {
            break;
        }
        if (p[kFrameSize - 1] != 0xA8) {
            ++i;
            ++skipped_;
            continue;
        }
        PositionRecord r;
        r.mode = p[3];
        r.tag = read_le<uint64_t>(p + 4);
        r.anchor = read_le<uint64_t>(p + 12);
        r.x_mm = static_cast<int32_t>(read_le<uint32_t>(p + 20));
        r.y_mm = static_cast<int32_t>(read_le<uint32_t>(p + 24));
        r.z_mm = static_cast<int32_t>(read_le<uint32_t>(p + 28));
        r.at_s = now_s;
        out->push_back(r);
        i += kFrameSize;
    }
    // Fewer than three bytes cannot be judged yet; keep them for the next read.
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(i));
}

std::string anchor_cfg_request(const anchorsim::SiteModel& site)
{
    std::string req = "<req type=\"anchor cfg\">";
    for (size_t i = 0; i < site.anchors.size(); ++i) {
        const anchorsim::AnchorSpec& a = site.anchors[i];
        req += "<anchor addr=\"" + hex16(a.hw_id) + "\" id=\"" + std::to_string(i + 1) + "\" master=\"" +
               (a.ccp_master ? "1" : "0") + "\" x=\"" + number(a.pos[0]) + "\" y=\"" + number(a.pos[1]) +
               "\" z=\"" + number(a.pos[2]) + "\"";
        if (!a.follows.empty()) {
            req += " master_addr=\"" + hex16(a.follows.front()) + "\"";
        }
        req += ">";
        for (uint64_t m : a.follows) {
            const int k = anchorsim::anchor_index(site, m);
            if (k < 0) continue;
            const double d = anchorsim::distance(a.pos, site.anchors[static_cast<size_t>(k)].pos);
            req += "<m addr=\"" + hex16(m) + "\" rfdistance=\"" + number(d) + "\"/>";
        }
        req += "</anchor>";
    }
    req += "</req>";
    return req;
}

void Truth::load(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        TruthPoint p;
        std::string tag_text;
        if (!(s >> p.at_s >> tag_text >> p.seq >> p.x >> p.y >> p.z)) {
            ++bad_lines_;
            continue;
        }
        char* end = nullptr;
        const uint64_t tag = std::strtoull(tag_text.c_str(), &end, 16);
        if (end == tag_text.c_str() || *end != '\0') {
            ++bad_lines_;
            continue;
        }
        add(tag, p);
    }
}

long Truth::blink_index_before(uint64_t tag, double at_s) const
{
    const auto it = by_tag_.find(tag);
    if (it == by_tag_.end()) return -1;
    const std::vector<TruthPoint>& v = it->second;
    auto after = std::upper_bound(v.begin(), v.end(), at_s,
                                  [](double t, const TruthPoint& p) { return t < p.at_s; });
    return static_cast<long>(after - v.begin()) - 1;
}

const TruthPoint* Truth::blink_before(uint64_t tag, double at_s) const
{
    const long i = blink_index_before(tag, at_s);
    return i < 0 ? nullptr : &by_tag_.at(tag)[static_cast<size_t>(i)];
}

const std::vector<TruthPoint>* Truth::blinks(uint64_t tag) const
{
    const auto it = by_tag_.find(tag);
    return it == by_tag_.end() ? nullptr : &it->second;
}

size_t Truth::blink_count(uint64_t tag) const
{
    const auto it = by_tag_.find(tag);
    return it == by_tag_.end() ? 0 : it->second.size();
}

double planar_error_m(const PositionRecord& r, const TruthPoint& t)
{
    return std::hypot(r.x_mm / 1000.0 - t.x, r.y_mm / 1000.0 - t.y);
}

double quantile(std::vector<double> values, double q)
{
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(q * static_cast<double>(values.size()));
    size_t k = rank < 1.0 ? 0 : static_cast<size_t>(rank) - 1;
    if (k >= values.size()) k = values.size() - 1;
    return values[k];
}

std::string tag_summary_line(uint64_t tag, const anchorsim::TagSpec* spec, size_t records, double median_m,
                             double p95_m)
{
    constexpr double kTrailBlinks = 5.0;
    char line[256];
    int n = std::snprintf(line, sizeof line, "summary %016llx records %zu error median %.3f m p95 %.3f m",
                          static_cast<unsigned long long>(tag), records, median_m, p95_m);
    if (spec != nullptr && spec->path.size() > 1 && spec->speed > 0.0 && spec->rate_hz > 0.0 && n > 0) {
        const double trail_s = kTrailBlinks / spec->rate_hz;
        std::snprintf(line + n, sizeof line - static_cast<size_t>(n),
                      " (walking %.1f m/s: the smoothing trails it by %.1f s, %.1f m along its track; not the "
                      "solve error)",
                      spec->speed, trail_s, spec->speed * trail_s);
    }
    return line;
}

int tcp_connect(const std::string& ip, uint16_t port, int timeout_ms)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) != 1) return -1;
    const double give_up = now_s() + timeout_ms / 1000.0;
    do {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return -1;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        ::close(fd);
        ::usleep(100 * 1000);  // the server may not listen yet
    } while (now_s() < give_up);
    return -1;
}

bool send_all(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

long read_some(int fd, uint8_t* buf, size_t cap, int timeout_ms)
{
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, timeout_ms);
    if (r == 0) return 0;
    if (r < 0) return errno == EINTR ? 0 : -1;
    const ssize_t n = ::recv(fd, buf, cap, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
    return n <= 0 ? -1 : static_cast<long>(n);
}

std::string read_reply_until(int fd, const std::string& needle, int timeout_ms)
{
    std::string text;
    const double give_up = now_s() + timeout_ms / 1000.0;
    uint8_t buf[4096];
    while (text.find(needle) == std::string::npos) {
        const double left = give_up - now_s();
        if (left <= 0) break;
        const long n = read_some(fd, buf, sizeof buf, static_cast<int>(left * 1000) + 1);
        if (n < 0) break;
        text.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
    }
    return text;
}

size_t count_of(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
    return n;
}

RoadDrops parse_road_drops(const std::string& trace_text)
{
    RoadDrops d;
    const size_t line = trace_text.rfind("report road full: ");
    if (line == std::string::npos) return d;
    const size_t end = std::min(trace_text.find('\n', line), trace_text.size());
    const std::string text = trace_text.substr(line, end - line);
    const size_t kinds = text.find("(since start ");
    if (kinds != std::string::npos) {
        std::sscanf(text.c_str() + kinds, "(since start %llu, %llu, %llu, %llu)", &d.tag, &d.clock, &d.display,
                    &d.replies);
    }
    const size_t causes = text.find("(since start ", text.find("at a hard mark"));
    if (text.find("at a hard mark") != std::string::npos && causes != std::string::npos) {
        std::sscanf(text.c_str() + causes, "(since start %llu, %llu, %llu)", &d.refused_tag, &d.busy_source,
                    &d.hard_mark);
    }
    return d;
}

RoadDrops road_drops_logged(const std::string& trace_path)
{
    std::ifstream in(trace_path);
    std::stringstream text;
    text << in.rdbuf();
    return parse_road_drops(text.str());
}

std::string configure_anchors(int fd, const anchorsim::SiteModel& site, int timeout_ms)
{
    const std::string request = anchor_cfg_request(site) + "\n";
    const double give_up = now_s() + timeout_ms / 1000.0;
    std::string reply;
    do {
        if (!send_all(fd, request)) break;
        reply = read_reply_until(fd, "</ind>", 5000);
        if (count_of(reply, "status=\"Socket opened already\"") == site.anchors.size()) break;
        ::usleep(2000 * 1000);
    } while (now_s() < give_up);
    return reply;
}

bool connect_and_start(const anchorsim::SiteModel& site, int* loc, int* ctl)
{
    *loc = tcp_connect("127.0.0.1", 12345, 30000);
    *ctl = tcp_connect("127.0.0.1", 3334, 30000);
    if (*loc < 0 || *ctl < 0) return false;
    const std::string reply = configure_anchors(*ctl, site, 40000);
    send_all(*ctl, "<req type=\"rtls start\"/>\n");
    read_reply_until(*ctl, "rtls start", 5000);
    return count_of(reply, "Socket opened already") == site.anchors.size();
}

double now_s()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool wait_for_text(const std::string& path, const std::string& text, double seconds)
{
    for (const double end = now_s() + seconds; now_s() < end; ::usleep(100 * 1000)) {
        if (slurp(path).find(text) != std::string::npos) return true;
    }
    return false;
}

long rss_kib(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

int daemon_pid(const std::string& platform_log) { return std::atoi(slurp(platform_log).c_str()); }

}  // namespace roadbench
