#include "controller_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace ctrltest {

namespace {

using Clock = std::chrono::steady_clock;

int open_to(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A controller that the engine refuses (one is already there) is closed at once.
bool closed_soon(int fd)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 200) != 1) {
        return false;
    }
    char c = 0;
    return ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

}  // namespace

ControllerClient::~ControllerClient()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void ControllerClient::disconnect()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    held_.clear();
}

bool ControllerClient::connect(int port, std::chrono::milliseconds timeout)
{
    const auto until = Clock::now() + timeout;
    while (Clock::now() < until) {
        const int fd = open_to(port);
        if (fd >= 0 && !closed_soon(fd)) {
            fd_ = fd;
            return true;
        }
        if (fd >= 0) {
            ::close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool ControllerClient::send_all(const std::string& bytes)
{
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        at += static_cast<size_t>(n);
    }
    return true;
}

std::optional<std::string> ControllerClient::read_line(std::chrono::milliseconds timeout)
{
    const auto until = Clock::now() + timeout;
    for (;;) {
        const size_t nl = held_.find('\n');
        if (nl != std::string::npos) {
            std::string line = held_.substr(0, nl);
            held_.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0 || fd_ < 0) {
            return std::nullopt;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) != 1) {
            continue;
        }
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) {
            return std::nullopt;
        }
        held_.append(buf, static_cast<size_t>(n));
    }
}

bool ControllerClient::quiet(std::chrono::milliseconds window)
{
    if (!held_.empty()) {
        return false;
    }
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(window.count())) == 0;
}

}  // namespace ctrltest
