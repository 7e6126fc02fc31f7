#include "hostile/hostile.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace hostile {

namespace {

using roadbench::now_s;

int ms_until(double t)
{
    const double left = t - now_s();
    return left <= 0 ? 0 : static_cast<int>(left * 1000) + 1;
}

// Reads and drops what is waiting on fd without blocking; false when the peer closed.
bool drain(int fd, size_t cap, uint64_t* got)
{
    uint8_t buf[16384];
    while (cap > 0) {
        const ssize_t n = ::recv(fd, buf, std::min(cap, sizeof buf), MSG_DONTWAIT);
        if (n > 0) {
            *got += static_cast<uint64_t>(n);
            cap -= static_cast<size_t>(n);
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }
    return true;
}

// Writes as much of data as the socket takes before give_up; the count written, or -1 when the
// link failed.
long write_until(int fd, const uint8_t* data, size_t len, double give_up)
{
    size_t done = 0;
    while (done < len) {
        const int wait = ms_until(give_up);
        if (wait == 0) break;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, std::min(wait, 100)) <= 0) continue;
        const ssize_t n = ::send(fd, data + done, len - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return -1;
        }
    }
    return static_cast<long>(done);
}

}  // namespace

std::vector<uint8_t> noise(size_t count, uint64_t seed)
{
    std::mt19937_64 rng(seed);
    std::vector<uint8_t> out(count);
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const uint64_t v = rng();
        for (int k = 0; k < 8; ++k) out[i + static_cast<size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
    }
    for (uint64_t v = rng(); i < count; ++i, v >>= 8) out[i] = static_cast<uint8_t>(v);
    return out;
}

FloodResult flood_controller(uint16_t port, const std::string& line, double seconds, size_t read_bytes_per_s,
                             int* kept_open)
{
    FloodResult r;
    const int fd = roadbench::tcp_connect("127.0.0.1", port, 10000);
    if (fd < 0) return r;
    r.connected = true;
    std::string block;
    while (block.size() < 65536) block += line;
    const auto* bytes = reinterpret_cast<const uint8_t*>(block.data());
    const double start = now_s();
    const double end = start + seconds;
    size_t at = 0;  // where in the block the next write starts, so lines stay whole
    while (now_s() < end) {
        if (read_bytes_per_s > 0) {
            const double allowed = (now_s() - start) * static_cast<double>(read_bytes_per_s);
            if (allowed > static_cast<double>(r.reply_bytes) &&
                !drain(fd, static_cast<size_t>(allowed - static_cast<double>(r.reply_bytes)), &r.reply_bytes)) {
                break;
            }
        }
        const long n = write_until(fd, bytes + at, block.size() - at, std::min(end, now_s() + 0.01));
        if (n < 0) break;
        if (n > 0) r.last_write_s = now_s();
        r.bytes_written += static_cast<uint64_t>(n);
        at = (at + static_cast<size_t>(n)) % block.size();
    }
    if (kept_open != nullptr) {
        *kept_open = fd;
    } else {
        ::close(fd);
    }
    return r;
}

double wait_peer_closed(int fd, double timeout_s)
{
    const double give_up = now_s() + timeout_s;
    for (;;) {
        pollfd p{fd, POLLRDHUP, 0};
        const int wait = ms_until(give_up);
        if (::poll(&p, 1, std::min(wait, 100)) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
            return now_s();
        }
        if (wait == 0) return -1.0;
    }
}

uint64_t push_noise(uint16_t port, uint64_t count, uint64_t seed, double timeout_s)
{
    const double give_up = now_s() + timeout_s;
    const int fd = roadbench::tcp_connect("127.0.0.1", port, static_cast<int>(timeout_s * 1000));
    if (fd < 0) return 0;
    const std::vector<uint8_t> piece = noise(1 << 20, seed);
    uint64_t done = 0;
    while (done < count) {
        const size_t len = static_cast<size_t>(std::min<uint64_t>(piece.size(), count - done));
        const long n = write_until(fd, piece.data(), len, give_up);
        if (n <= 0) break;
        done += static_cast<uint64_t>(n);
        if (static_cast<size_t>(n) < len) break;
    }
    ::close(fd);
    return done;
}

RawAnchor::~RawAnchor()
{
    if (link_fd_ >= 0) ::close(link_fd_);
    if (listen_fd_ >= 0) ::close(listen_fd_);
}

bool RawAnchor::listen(const std::string& ip, uint16_t port, std::string* error)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (listen_fd_ < 0 || inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) != 1 ||
        ::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_fd_, 4) != 0) {
        *error = "cannot listen on " + ip + ":" + std::to_string(port) + ": errno " + std::to_string(errno);
        return false;
    }
    return true;
}

bool RawAnchor::wait_link(double timeout_s)
{
    const double give_up = now_s() + timeout_s;
    for (;;) {
        pollfd p{listen_fd_, POLLIN, 0};
        const int wait = ms_until(give_up);
        if (::poll(&p, 1, wait) > 0) {
            const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                if (link_fd_ >= 0) ::close(link_fd_);
                link_fd_ = fd;
                return true;
            }
        }
        if (wait == 0) return link_fd_ >= 0;
    }
}

bool RawAnchor::write_some(const uint8_t* data, size_t len, double give_up)
{
    if (link_fd_ < 0 || !drain(link_fd_, 1 << 20, &received_)) return false;
    return write_until(link_fd_, data, len, give_up) == static_cast<long>(len);
}

uint64_t RawAnchor::commands_after(double seconds)
{
    const double give_up = now_s() + seconds;
    while (link_fd_ >= 0) {
        pollfd p{link_fd_, POLLIN, 0};
        const int wait = ms_until(give_up);
        if (::poll(&p, 1, wait) > 0 && !drain(link_fd_, 1 << 20, &received_)) break;
        if (wait == 0) break;
    }
    return received_;
}

bool RawAnchor::write(const std::vector<uint8_t>& bytes, double timeout_s)
{
    return write_some(bytes.data(), bytes.size(), now_s() + timeout_s);
}

uint64_t RawAnchor::write_noise(uint64_t count, uint64_t seed, double timeout_s)
{
    const double give_up = now_s() + timeout_s;
    const std::vector<uint8_t> piece = noise(1 << 20, seed);
    uint64_t done = 0;
    while (done < count) {
        const size_t len = static_cast<size_t>(std::min<uint64_t>(piece.size(), count - done));
        if (!write_some(piece.data(), len, give_up)) break;
        done += len;
    }
    return done;
}

AnchorFloodResult RawAnchor::flood(const std::vector<uint8_t>& frame, double seconds, bool reading)
{
    AnchorFloodResult r;
    uint64_t earlier = 0;  // what the engine sent before the flood is not its answer
    if (link_fd_ < 0 || frame.empty() || (reading && !drain(link_fd_, 1 << 20, &earlier))) return r;
    std::vector<uint8_t> block;
    while (block.size() < 65536) block.insert(block.end(), frame.begin(), frame.end());
    const double end = now_s() + seconds;
    uint64_t bytes = 0;
    size_t at = 0;  // where in the block the next write starts, so frames stay whole
    int last = -1;  // the last byte read, for a start frame split over two reads
    uint8_t buf[16384];
    while (now_s() < end) {
        while (reading) {
            const ssize_t n = ::recv(link_fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i) {
                if (last == 0x57 && buf[i] == 0x01) r.start_frames_at.push_back(now_s());
                last = buf[i];
            }
        }
        const long n =
            write_until(link_fd_, block.data() + at, block.size() - at, std::min(end, now_s() + 0.01));
        if (n < 0) break;
        bytes += static_cast<uint64_t>(n);
        at = (at + static_cast<size_t>(n)) % block.size();
    }
    r.frames_written = bytes / frame.size();
    return r;
}

double RawAnchor::exchange(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& answer,
                           double timeout_s)
{
    const double start = now_s();
    const double give_up = start + timeout_s;
    uint64_t ignored = 0;
    if (link_fd_ < 0 || !drain(link_fd_, 1 << 20, &ignored) ||
        write_until(link_fd_, bytes.data(), bytes.size(), give_up) != static_cast<long>(bytes.size())) {
        return -1.0;
    }
    std::vector<uint8_t> got;
    uint8_t buf[4096];
    while (now_s() < give_up) {
        pollfd p{link_fd_, POLLIN, 0};
        if (::poll(&p, 1, std::min(ms_until(give_up), 100)) <= 0) continue;
        const ssize_t n = ::recv(link_fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0) break;
        if (n < 0) continue;
        got.insert(got.end(), buf, buf + n);
        if (std::search(got.begin(), got.end(), answer.begin(), answer.end()) != got.end())
            return now_s() - start;
    }
    return -1.0;
}

uint64_t log_bytes(const std::string& dir, const std::string& also)
{
    uint64_t total = 0;
    struct stat st {};
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string path = dir + "/" + e->d_name;
            if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) total += static_cast<uint64_t>(st.st_size);
        }
        ::closedir(d);
    }
    if (!also.empty() && ::stat(also.c_str(), &st) == 0) total += static_cast<uint64_t>(st.st_size);
    return total;
}

double longest_gap_s(const std::vector<roadbench::PositionRecord>& records, uint64_t tag, double from_s, double to_s)
{
    double last = from_s;
    double gap = 0.0;
    for (const roadbench::PositionRecord& r : records) {
        if (r.tag != tag || r.at_s < from_s || r.at_s > to_s) continue;
        gap = std::max(gap, r.at_s - last);
        last = r.at_s;
    }
    return std::max(gap, to_s - last);
}

double ask(uint16_t port, const std::string& line, const std::string& needle, double timeout_s, std::string* reply)
{
    const double start = now_s();
    const double give_up = start + timeout_s;
    reply->clear();
    while (now_s() < give_up) {
        // A second controller is refused at once, so a link that closes unanswered is tried again.
        const int fd = roadbench::tcp_connect("127.0.0.1", port, ms_until(give_up));
        if (fd < 0) break;
        std::string text;
        if (roadbench::send_all(fd, line)) {
            text = roadbench::read_reply_until(fd, needle, ms_until(give_up));
            const size_t at = text.find(needle);
            if (at != std::string::npos) {
                const size_t begin = text.rfind('\n', at);
                const size_t from = begin == std::string::npos ? 0 : begin + 1;
                while (text.find('\n', at) == std::string::npos && now_s() < give_up) {
                    text += roadbench::read_reply_until(fd, "\n", ms_until(give_up));
                }
                const size_t end = text.find('\n', at);
                *reply = text.substr(from, end == std::string::npos ? std::string::npos : end - from);
            }
        }
        ::close(fd);
        if (!reply->empty()) return now_s() - start;
        ::usleep(50 * 1000);
    }
    return -1.0;
}

AskResult ask_until(uint16_t port, const std::string& line, const std::string& needle, double until_s,
                    double timeout_s)
{
    AskResult r;
    std::string reply;
    while (now_s() < until_s) {
        const double took = ask(port, line, needle, timeout_s, &reply);
        ++r.asked;
        if (took < 0) {
            ++r.unanswered;
            r.worst_s = std::max(r.worst_s, timeout_s);
        } else {
            r.worst_s = std::max(r.worst_s, took);
        }
        ::usleep(200 * 1000);
    }
    return r;
}

double least_gap_s(const std::vector<double>& times)
{
    double least = -1.0;
    for (size_t i = 1; i < times.size(); ++i) {
        const double gap = times[i] - times[i - 1];
        if (least < 0 || gap < least) least = gap;
    }
    return least;
}

// ---- forged datagrams ---------------------------------------------------------------------

namespace {

void put(std::vector<uint8_t>& out, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A JID: job type and instance 1, bureau, module, unit; host (little-endian) order.
void put_jid(std::vector<uint8_t>& out, uint16_t job_type, uint8_t bureau, uint16_t module)
{
    put(out, (uint64_t{job_type} << 16) | 1, 4);
    put(out, (uint64_t{bureau} << 24) | 1, 4);
    put(out, module, 2);
    put(out, 0xFFFF, 2);
    put(out, 0, 4);
}

}  // namespace

const char* forged_name(Forged kind)
{
    switch (kind) {
    case Forged::recon_start: return "0x20001 to the reconnection job";
    case Forged::recon_link: return "0x20002 to the reconnection job";
    case Forged::recon_rcvlen: return "event 4 to the reconnection job";
    case Forged::socket_20k: return "20 KB to the socket job";
    case Forged::display_position: return "0x70000 to the display job";
    case Forged::control_range: return "event 3 with 0x84 to the control job";
    }
    return "?";
}

std::vector<uint8_t> forged_datagram(Forged kind)
{
    uint16_t job = 0;
    uint32_t id = 0;
    std::vector<uint8_t> body;
    switch (kind) {
    case Forged::recon_start:
        job = 0x4007, id = 0x20001;
        break;
    case Forged::recon_link:
        job = 0x4007, id = 0x20002;
        put(body, 0, 2), put(body, 1, 2);  // local anchor 0 connected
        break;
    case Forged::recon_rcvlen:
        job = 0x4007, id = 4;
        put(body, 0, 2), put(body, 300, 2);
        break;
    case Forged::socket_20k:
        job = 0x4004, id = 0x20003;
        body.assign(20480 - 44, 0x5A);
        break;
    case Forged::display_position:
        job = 0x4006, id = 0x70000;
        put(body, 4, 1), put(body, kForgedTag, 8), put(body, 0, 8);
        put(body, 1000, 4), put(body, 2000, 4), put(body, 0, 4);
        break;
    case Forged::control_range:
        job = 0x4000, id = 3;
        put(body, 0, 2), put(body, 14, 2);  // local anchor 0, 14 payload bytes
        body.push_back(0x84);
        body.resize(body.size() + 13, 0);
        break;
    }
    std::vector<uint8_t> out;
    put_jid(out, job, 1, 11);
    put_jid(out, 0x0000, 0, 1);  // qes_omp's sequencer
    put(out, id, 4);
    put(out, body.size(), 4);
    put(out, 0, 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

uint64_t send_forged(uint16_t port, Forged kind, uint64_t count)
{
    constexpr size_t kPaceBytes = 128 * 1024;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::vector<uint8_t> d = forged_datagram(kind);
    uint64_t sent = 0;
    size_t since_pause = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
            static_cast<ssize_t>(d.size())) {
            ++sent;
        }
        // Paced below what a receiver that takes them can read, so that few are lost to a full
        // socket buffer before the program sees them.
        since_pause += d.size();
        if (since_pause >= kPaceBytes) {
            ::usleep(1000);
            since_pause = 0;
        }
    }
    ::close(fd);
    return sent;
}

// ---- trace files ---------------------------------------------------------------------------

bool place_trace_file(const std::string& path, TraceFile kind, uint64_t mib)
{
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) ::mkdir(path.substr(0, slash).c_str(), 0755);
    ::unlink(path.c_str());
    ::rmdir(path.c_str());
    switch (kind) {
    case TraceFile::fifo:
        return ::mkfifo(path.c_str(), 0644) == 0;
    case TraceFile::dev_zero:
        return ::symlink("/dev/zero", path.c_str()) == 0;
    case TraceFile::no_blanks: {
        FILE* f = std::fopen(path.c_str(), "w");
        if (f == nullptr) return false;
        const std::string block(1 << 20, 'a');
        bool ok = true;
        for (uint64_t i = 0; i < mib && ok; ++i) ok = std::fwrite(block.data(), 1, block.size(), f) == block.size();
        return std::fclose(f) == 0 && ok;
    }
    }
    return false;
}

}  // namespace hostile
