// loopback_sniffer.h - sees every UDP datagram on the sandbox's loopback interface, whoever sends
// or receives it, so that a test can watch two programs talk to each other on fixed ports
// (needs the root of the sandbox's network namespace). Owned by one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace vorlen::sandbox {

struct UdpPacket {
    uint16_t src_port = 0;
    uint16_t dst_port = 0;
    std::vector<uint8_t> payload;
    std::chrono::steady_clock::time_point at;
};

class LoopbackSniffer {
public:
    LoopbackSniffer();
    ~LoopbackSniffer();
    LoopbackSniffer(const LoopbackSniffer&) = delete;
    LoopbackSniffer& operator=(const LoopbackSniffer&) = delete;

    bool ok() const { return fd_ >= 0; }
    // The next UDP datagram on lo (each counted once), or nothing after `timeout`.
    std::optional<UdpPacket> next(std::chrono::milliseconds timeout);

private:
    int fd_ = -1;
};

}  // namespace vorlen::sandbox
