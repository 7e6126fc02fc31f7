#include "zub_send_all.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <chrono>

#include "qk_socket.h"

namespace {

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for room in the socket's buffer; false (errno EAGAIN) once the deadline has passed.
bool wait_writable(int sock, Clock::time_point deadline)
{
    const int left = ms_left(deadline);
    if (left == 0) {
        errno = EAGAIN;
        return false;
    }
    pollfd p{sock, POLLOUT, 0};
    if (poll(&p, 1, left) < 0 && errno != EINTR) {
        return false;
    }
    return true;
}

}  // namespace

bool zub_send_all(int sock, const BYTE* buf, size_t len, int timeout_ms)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = qk_send(sock, buf + done, len - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            if (done < len && ms_left(deadline) == 0) {
                errno = EAGAIN;
                return false;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!wait_writable(sock, deadline)) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

int zub_socket_send_timeout(int sock, int timeout_ms)
{
    timeval tv{};
    tv.tv_sec = timeout_ms / 1000;
    tv.tv_usec = static_cast<suseconds_t>(timeout_ms % 1000) * 1000;
    return qk_setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0 ? 0 : -1;
}
