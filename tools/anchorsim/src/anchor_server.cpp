#include "anchorsim/anchor_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace anchorsim {

namespace {

bool set_nonblocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

AnchorServer::AnchorServer(uint64_t hw_id, std::string version, std::string ip, uint16_t port)
    : hw_id_(hw_id), version_(std::move(version)), ip_(std::move(ip)), port_(port)
{
}

AnchorServer::~AnchorServer()
{
    close_link();
    if (listen_fd_ >= 0) {
        ::close(listen_fd_);
    }
}

bool AnchorServer::listen(std::string* error)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    if (inet_pton(AF_INET, ip_.c_str(), &addr.sin_addr) != 1) {
        *error = "bad address " + ip_;
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        *error = ip_ + ":" + std::to_string(port_) + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    listen_fd_ = fd;
    return true;
}

void AnchorServer::poll_set(std::vector<pollfd>* fds) const
{
    fds->push_back(pollfd{listen_fd_, static_cast<short>(listen_fd_ >= 0 ? POLLIN : 0), 0});
    short events = 0;
    if (conn_fd_ >= 0) {
        events = static_cast<short>((reading_ ? POLLIN : 0) | (out_.size() > out_head_ ? POLLOUT : 0));
    }
    fds->push_back(pollfd{conn_fd_, events, 0});
}

void AnchorServer::dispatch(const pollfd* fds, size_t n, double now)
{
    if (n < 2) {
        return;
    }
    if (fds[0].fd >= 0 && fds[0].fd == listen_fd_ && (fds[0].revents & POLLIN)) {
        accept_link(now);
    }
    if (fds[1].fd >= 0 && fds[1].fd == conn_fd_) {
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            read_commands(now);
        }
        if (conn_fd_ >= 0 && (fds[1].revents & POLLOUT)) {
            flush();
        }
    }
}

void AnchorServer::accept_link(double now)
{
    (void)now;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    // The engine opens a new link only when it holds the old one for dead.
    close_link();
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    set_nonblocking(fd);
    conn_fd_ = fd;
    ++stats_.links_accepted;
    if (!silent_) {
        queue_bytes(encode_frame(req_cfg_payload(hw_id_, version_)));
        flush();
    }
}

void AnchorServer::read_commands(double now)
{
    uint8_t buf[4096];
    for (;;) {
        const ssize_t n = ::recv(conn_fd_, buf, sizeof buf, 0);
        if (n > 0) {
            for (Command& c : splitter_.feed(buf, static_cast<size_t>(n))) {
                apply(c);
                commands_.push_back(ReceivedCommand{now, std::move(c)});
            }
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        close_link();  // end of stream or a broken link
        return;
    }
}

void AnchorServer::apply(const Command& c)
{
    if (!c.known || c.bytes.empty()) {
        return;
    }
    if (c.bytes[0] == clock_stop_code_) {
        clock_on_ = false;
    }
    switch (c.bytes[0]) {
    case 0x57:
        started_ = c.bytes[1] == 1;
        ranging_ = false;
        break;
    case 0x5A:
    case 0x5B:
        started_ = true;
        ranging_ = true;
        break;
    default:
        // Configuration, tests, initialise and reset are noted only.
        break;
    }
}

bool AnchorServer::send_report(const Bytes& payload)
{
    const bool clock = !payload.empty() && (payload[0] == 0x30 || payload[0] == 0x31);
    const bool may = clock ? clock_on_ && (started_ || clock_before_start_) : started_;
    if (conn_fd_ < 0 || !may || silent_ || out_.size() - out_head_ > kMaxBacklog) {
        ++stats_.frames_dropped;
        return false;
    }
    queue_bytes(encode_frame(payload));
    ++stats_.frames_sent;
    stats_.clock_frames_sent += clock ? 1 : 0;
    return true;
}

bool AnchorServer::send_frames(const uint8_t* bytes, size_t n, uint64_t frames)
{
    if (conn_fd_ < 0 || !started_ || silent_ || out_.size() - out_head_ > kMaxBacklog) {
        stats_.frames_dropped += frames;
        return false;
    }
    if (out_head_ > 0 && out_head_ == out_.size()) {
        out_.clear();
        out_head_ = 0;
    }
    out_.insert(out_.end(), bytes, bytes + n);
    stats_.frames_sent += frames;
    return true;
}

void AnchorServer::queue_bytes(const Bytes& b)
{
    if (conn_fd_ < 0) {
        return;
    }
    if (out_head_ > 0 && out_head_ == out_.size()) {
        out_.clear();
        out_head_ = 0;
    }
    out_.insert(out_.end(), b.begin(), b.end());
}

void AnchorServer::flush()
{
    while (conn_fd_ >= 0 && out_head_ < out_.size()) {
        const ssize_t n = ::send(conn_fd_, out_.data() + out_head_, out_.size() - out_head_, MSG_NOSIGNAL);
        if (n > 0) {
            out_head_ += static_cast<size_t>(n);
            stats_.bytes_written += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        close_link();
        return;
    }
    if (out_head_ == out_.size()) {
        out_.clear();
        out_head_ = 0;
    } else if (out_head_ > (1u << 20)) {
        out_.erase(out_.begin(), out_.begin() + static_cast<long>(out_head_));
        out_head_ = 0;
    }
}

void AnchorServer::close_link()
{
    if (conn_fd_ >= 0) {
        ::close(conn_fd_);
        conn_fd_ = -1;
    }
    // A new link starts from nothing: no half command, no stale frames, not started.
    out_.clear();
    out_head_ = 0;
    splitter_.reset();
    started_ = false;
    ranging_ = false;
}

void AnchorServer::drop_link()
{
    close_link();
}

void AnchorServer::set_listening(bool on)
{
    if (!on) {
        close_link();
        if (listen_fd_ >= 0) {
            ::close(listen_fd_);
            listen_fd_ = -1;
        }
        return;
    }
    if (listen_fd_ < 0) {
        std::string ignored;
        listen(&ignored);
    }
}

void AnchorServer::set_reading(bool on)
{
    reading_ = on;
}

void AnchorServer::set_silent(bool on)
{
    silent_ = on;
}

void AnchorServer::send_garbage(size_t n, std::mt19937_64& rng)
{
    Bytes junk(n);
    std::uniform_int_distribution<int> byte(0, 255);
    for (uint8_t& b : junk) {
        b = static_cast<uint8_t>(byte(rng));
    }
    if (!junk.empty() && junk[0] == kStx) {
        junk[0] = 0x41;  // garbage that cannot be taken for the start of a frame
    }
    queue_bytes(junk);
    flush();
}

void AnchorServer::send_bad_crc(const Bytes& payload)
{
    queue_bytes(encode_frame_bad_crc(payload));
    flush();
}

void AnchorServer::send_bad_etx(const Bytes& payload)
{
    queue_bytes(encode_frame_bad_etx(payload));
    flush();
}

void AnchorServer::drop_link_mid_frame(const Bytes& payload)
{
    const Bytes f = encode_frame(payload);
    if (conn_fd_ < 0 || f.size() < 2) {
        return;
    }
    queue_bytes(f);
    // Everything before the frame and its first half; a link that takes less is cut earlier,
    // which is a cut frame all the same.
    const size_t keep = out_.size() - f.size() / 2;
    while (out_head_ < keep) {
        const ssize_t n = ::send(conn_fd_, out_.data() + out_head_, keep - out_head_, MSG_NOSIGNAL);
        if (n <= 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        out_head_ += static_cast<size_t>(n);
        stats_.bytes_written += static_cast<uint64_t>(n);
    }
    close_link();
}

void AnchorServer::set_clock_reports(bool on)
{
    clock_on_ = on;
}

void AnchorServer::set_clock_before_start(bool on)
{
    clock_before_start_ = on;
}

void AnchorServer::stop_clock_on_command(int code)
{
    clock_stop_code_ = code;
}

}  // namespace anchorsim
