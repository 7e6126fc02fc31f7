#include "sandbox/udp_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vorlen::sandbox {
namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

}  // namespace

UdpProbe::UdpProbe(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sockaddr_in a = loopback(port);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(fd_);
        fd_ = -1;
        return;
    }
    port_ = ntohs(a.sin_port);
}

UdpProbe::~UdpProbe() {
    if (fd_ >= 0) close(fd_);
}

std::optional<Datagram> UdpProbe::receive(std::chrono::milliseconds timeout) {
    if (fd_ < 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    Datagram d;
    d.bytes.resize(65536);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(fd_, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return std::nullopt;
    d.at = std::chrono::steady_clock::now();
    d.bytes.resize(static_cast<size_t>(n));
    d.from_port = ntohs(from.sin_port);
    return d;
}

bool UdpProbe::send_to(uint16_t port, const std::vector<uint8_t>& bytes) {
    sockaddr_in a = loopback(port);
    return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(bytes.size());
}

}  // namespace vorlen::sandbox
