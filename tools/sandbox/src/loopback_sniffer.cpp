#include "sandbox/loopback_sniffer.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vorlen::sandbox {

LoopbackSniffer::LoopbackSniffer() {
    fd_ = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP));
    if (fd_ < 0) return;
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(ETH_P_IP);
    addr.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
    if (addr.sll_ifindex == 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

LoopbackSniffer::~LoopbackSniffer() {
    if (fd_ >= 0) close(fd_);
}

std::optional<UdpPacket> LoopbackSniffer::next(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<uint8_t> buf(65536);
    while (fd_ >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
        sockaddr_ll from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        // On lo each datagram passes twice: once going out, once coming in.
        if (n < 20 || from.sll_pkttype == PACKET_OUTGOING) continue;
        const size_t ihl = static_cast<size_t>(buf[0] & 0x0F) * 4;
        if (buf[9] != IPPROTO_UDP || static_cast<size_t>(n) < ihl + 8) continue;
        const uint8_t* udp = buf.data() + ihl;
        size_t udp_len = static_cast<size_t>((udp[4] << 8) | udp[5]);
        if (udp_len < 8 || ihl + udp_len > static_cast<size_t>(n)) continue;
        UdpPacket pkt;
        pkt.src_port = static_cast<uint16_t>((udp[0] << 8) | udp[1]);
        pkt.dst_port = static_cast<uint16_t>((udp[2] << 8) | udp[3]);
        pkt.payload.assign(udp + 8, udp + udp_len);
        pkt.at = std::chrono::steady_clock::now();
        return pkt;
    }
    return std::nullopt;
}

}  // namespace vorlen::sandbox
