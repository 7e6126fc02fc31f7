// engine_site.h - the running vorlen with qes_omp in a sandbox, on a small site of its own:
// anchors a0b1000000000001.. at 127.0.0.2.. port 3000 (fake anchors that the test listens
// with, or none for an absent anchor), the example site's engine settings and areas, and the
// two trace lists. Report clients and fake anchors are plain loopback sockets of the test.
//
// For the test's main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "sandbox/daemon.h"
#include "sandbox/harness.h"

namespace engine_site {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

constexpr const char* kTrace = "/qvx/zub/log/zub/division1.log";
constexpr const char* kAncStatistics = "/qvx/zub/log/anc_statistics.txt";
// The nine servers in the socket job's table order: controller, display, tag location, tag
// extension, anchor status, raw blink, raw position, raw clock sync, data.
constexpr int kPorts[9] = {3334, 3335, 12345, 12346, 12347, 12301, 12302, 12303, 3336};
constexpr int kAncStatPort = 12347;
constexpr int kRawBlinkPort = 12301;
constexpr int kRawCcpPort = 12303;

// Hardware id of site anchor i (local id i), at 127.0.0.(2 + i).
constexpr uint64_t anchor_hw(unsigned i) { return 0xa0b1000000000001ull + i; }
std::string anchor_ip(unsigned i);
// The statistics line of anchor i's link opened or closed.
std::string link_line(unsigned i, bool up);

struct SiteConfig {
    unsigned anchors = 1;
    std::vector<uint64_t> traced_tags;
    std::vector<uint64_t> traced_anchors;
    // Text of the example site's "vm_zub.xml" replaced before the start (first with second).
    std::pair<std::string, std::string> vm_zub_edit;
};

// A TCP connection of the test (a report client or an accepted anchor link); closed with it.
class Conn {
public:
    Conn() = default;
    explicit Conn(int fd) : fd_(fd) {}
    Conn(Conn&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Conn& operator=(Conn&& o) noexcept;
    ~Conn();
    int fd() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    void close();
    bool write_all(const Bytes& b) const;
    // Exactly n bytes, or what came before the time-out or the end of stream.
    Bytes read_exactly(size_t n, std::chrono::milliseconds timeout) const;
    // Everything that arrives until nothing has come for `quiet`.
    Bytes drain(std::chrono::milliseconds quiet) const;
    // True when the peer closes within the time-out (bytes it sends first are skipped).
    bool closed_by_peer(std::chrono::milliseconds timeout) const;

private:
    int fd_ = -1;
};

// A client of the engine's server on 127.0.0.1:port; not ok() when refused.
Conn connect_local(int port);
bool listening(int port);

// A fake anchor's listener on 127.0.0.(2 + index):3000.
class FakeAnchor {
public:
    explicit FakeAnchor(unsigned index);
    ~FakeAnchor();
    FakeAnchor(const FakeAnchor&) = delete;
    FakeAnchor& operator=(const FakeAnchor&) = delete;
    bool ok() const { return fd_ >= 0; }
    // The engine's next link, or not ok() after the time-out.
    Conn accept_link(std::chrono::milliseconds timeout) const;
    // The engine's newest link once the reconnection job has reported anchor `index` up:
    // connections accepted by the kernel before it (an open whose reactor attach failed and
    // was closed again) are skipped. Not ok() after the time-out.
    Conn live_link(unsigned index, std::chrono::milliseconds timeout) const;

private:
    int fd_ = -1;
};

// Writes the site's configuration, starts qes_omp and then vorlen, and waits until every
// engine job has answered the start handshake.
class Engine {
public:
    void start(const SiteConfig& site);
    void stop();
    std::string trace() const;
    bool started() const { return started_; }

private:
    std::optional<vorlen::sandbox::Daemon> omp_;
    std::optional<vorlen::sandbox::Daemon> engine_;
    bool started_ = false;
};

// Little-endian bytes of v.
void put_le(Bytes* out, uint64_t v, unsigned bytes);
std::string hex(const Bytes& b);

}  // namespace engine_site
