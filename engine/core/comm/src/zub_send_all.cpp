#include "zub_send_all.h"

#include <poll.h>
#include <sys/socket.h>

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

size_t zub_send_all(int sock, const BYTE* buf, size_t len, int rest_timeout_ms)
{
    Clock::time_point deadline{};
    size_t done = 0;
    while (done < len) {
        const ssize_t n = qk_send(sock, buf + done, len - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            if (done == 0) {
                deadline = Clock::now() + std::chrono::milliseconds(rest_timeout_ms);
            }
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return done;
        }
        if (done == 0) {
            errno = EAGAIN;
            return 0;
        }
        if (!wait_writable(sock, deadline)) {
            return done;
        }
    }
    return done;
}
