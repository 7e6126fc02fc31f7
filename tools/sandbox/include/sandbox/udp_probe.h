// udp_probe.h - a UDP socket on 127.0.0.1 for system tests: stands in for a peer that a
// program sends to (the watchdog on 10005, the maintenance program on 20010) and records
// each datagram with its arrival time. Owned by one thread.
#pragma once

#include <cstdint>
#include <chrono>
#include <optional>
#include <vector>

namespace vorlen::sandbox {

struct Datagram {
    std::vector<uint8_t> bytes;
    std::chrono::steady_clock::time_point at;
    uint16_t from_port = 0;
};

class UdpProbe {
public:
    // Binds 127.0.0.1:port (0: an ephemeral port). Check `ok()`.
    explicit UdpProbe(uint16_t port);
    ~UdpProbe();
    UdpProbe(const UdpProbe&) = delete;
    UdpProbe& operator=(const UdpProbe&) = delete;

    bool ok() const { return fd_ >= 0; }
    uint16_t port() const { return port_; }
    // The next datagram, or nothing after `timeout`.
    std::optional<Datagram> receive(std::chrono::milliseconds timeout);
    // Sends to 127.0.0.1:port.
    bool send_to(uint16_t port, const std::vector<uint8_t>& bytes);

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace vorlen::sandbox
