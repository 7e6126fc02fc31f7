#include "engine_site.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "sandbox/files.h"

namespace engine_site {

using namespace vorlen::sandbox;

namespace {

std::string hex_id(uint64_t id)
{
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(id));
    return text;
}

std::string id_lines(const std::vector<uint64_t>& ids)
{
    std::string text;
    for (uint64_t id : ids) {
        text += hex_id(id) + "\n";
    }
    return text;
}

bool wait_readable(int fd, std::chrono::milliseconds timeout)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) == 1;
}

sockaddr_in address(const std::string& ip, int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    return a;
}

}  // namespace

std::string anchor_ip(unsigned i) { return "127.0.0." + std::to_string(2 + i); }

std::string link_line(unsigned i, bool up)
{
    return "id(" + std::to_string(i) + ") anchor_id(" + hex_id(anchor_hw(i)) + ") anchor_ip(" + anchor_ip(i) +
           (up ? ") has reconnect" : ") has disconnect");
}

void put_le(Bytes* out, uint64_t v, unsigned bytes)
{
    for (unsigned i = 0; i < bytes; ++i) {
        out->push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

std::string hex(const Bytes& b)
{
    std::string text;
    char two[4];
    for (uint8_t c : b) {
        std::snprintf(two, sizeof two, "%02x", c);
        text += two;
    }
    return text;
}

// ---- connections ----------------------------------------------------------------------------

Conn& Conn::operator=(Conn&& o) noexcept
{
    if (this != &o) {
        close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

Conn::~Conn() { close(); }

void Conn::close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool Conn::write_all(const Bytes& b) const
{
    size_t done = 0;
    while (done < b.size()) {
        const ssize_t n = send(fd_, b.data() + done, b.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

Bytes Conn::read_exactly(size_t n, std::chrono::milliseconds timeout) const
{
    Bytes out;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (out.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !wait_readable(fd_, left)) {
            break;
        }
        uint8_t buf[4096];
        const ssize_t got = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

Bytes Conn::drain(std::chrono::milliseconds quiet) const
{
    Bytes out;
    while (wait_readable(fd_, quiet)) {
        uint8_t buf[4096];
        const ssize_t got = recv(fd_, buf, sizeof buf, 0);
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

bool Conn::closed_by_peer(std::chrono::milliseconds timeout) const
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !wait_readable(fd_, left)) {
            return false;
        }
        uint8_t buf[256];
        const ssize_t got = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno == ECONNRESET)) {
            return true;
        }
    }
}

Conn connect_local(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = address("127.0.0.1", port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return Conn();
    }
    return Conn(fd);
}

bool listening(int port) { return connect_local(port).ok(); }

FakeAnchor::FakeAnchor(unsigned index)
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = address(anchor_ip(index), 3000);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 4) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

FakeAnchor::~FakeAnchor()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Conn FakeAnchor::accept_link(std::chrono::milliseconds timeout) const
{
    if (fd_ < 0 || !wait_readable(fd_, timeout)) {
        return Conn();
    }
    return Conn(accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
}

Conn FakeAnchor::live_link(unsigned index, std::chrono::milliseconds timeout) const
{
    if (!wait_for_text(kAncStatistics, link_line(index, true), timeout)) {
        return Conn();
    }
    Conn newest = accept_link(1s);
    while (newest.ok()) {
        Conn next = accept_link(100ms);
        if (!next.ok()) {
            break;
        }
        newest = std::move(next);
    }
    return newest;
}

// ---- the programs ---------------------------------------------------------------------------

void Engine::start(const SiteConfig& site)
{
    std::string dns;
    std::string attributes;
    for (unsigned i = 0; i < site.anchors; ++i) {
        dns += hex_id(anchor_hw(i)) + " " + anchor_ip(i) + "\n";
        attributes += hex_id(anchor_hw(i)) + " 0\n";
    }
    ASSERT_TRUE(write_file("/qvx/omp/omp.cfg", read_file(SITE_DIR "/omp/omp.cfg")));
    std::string vm_zub = read_file(SITE_DIR "/zub/vm_zub.xml");
    if (!site.vm_zub_edit.first.empty()) {
        const size_t at = vm_zub.find(site.vm_zub_edit.first);
        ASSERT_NE(at, std::string::npos) << site.vm_zub_edit.first;
        vm_zub.replace(at, site.vm_zub_edit.first.size(), site.vm_zub_edit.second);
    }
    ASSERT_TRUE(write_file("/qvx/zub/vm_zub.xml", vm_zub));
    ASSERT_TRUE(write_file("/qvx/zub/area_config.xml", read_file(SITE_DIR "/zub/area_config.xml")));
    ASSERT_TRUE(write_file("/qvx/zub/dns_zub.cfg", dns));
    ASSERT_TRUE(write_file("/qvx/zub/anchor_attribute.cfg", attributes));
    ASSERT_TRUE(write_file("/qvx/zub/cfg/tag_trace.cfg", id_lines(site.traced_tags)));
    ASSERT_TRUE(write_file("/qvx/zub/cfg/anc_trace.cfg", id_lines(site.traced_anchors)));

    omp_.emplace(Daemon::start(install_program(QES_OMP_BIN, "/qvx/omp")));
    ASSERT_TRUE(wait_for_text("/qvx/omp/log/QES_OMP.log", "Power on success", 10s));
    engine_.emplace(Daemon::start(install_program(VORLEN_BIN, "/qvx/zub")));
    ASSERT_TRUE(wait_for_text(kTrace, "All 26 Jobs init OK!", 30s)) << trace();
    started_ = true;
}

void Engine::stop()
{
    if (engine_) {
        EXPECT_TRUE(engine_->signal(SIGTERM));
        EXPECT_EQ(engine_->wait_exit(10s), 0);
    }
    if (omp_) {
        EXPECT_TRUE(omp_->signal(SIGTERM));
        EXPECT_EQ(omp_->wait_exit(10s), 0);
    }
    engine_.reset();
    omp_.reset();
}

std::string Engine::trace() const { return read_dir_files("/qvx/zub/log/zub"); }

}  // namespace engine_site
