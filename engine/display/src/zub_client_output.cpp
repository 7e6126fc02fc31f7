#include "zub_client_output.h"

#include <cerrno>

#include "zub_print_limited.h"

namespace {

bool would_block(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

}  // namespace

void client_output::queue_t::reset()
{
    used = false;
    sock = 0;
    identity = 0;
    head = 0;
    bytes.clear();
    bytes.shrink_to_fit();
}

client_output::client_output(display_clients& io, size_t limit) : io_(io), limit_(limit) {}

size_t client_output::pending(display_stream s, unsigned slot) const
{
    if (slot >= ZUB_CLIENTS_PER_LIST) {
        return 0;
    }
    const queue_t& q = queues_[static_cast<unsigned>(s)][slot];
    return q.used ? q.size() : 0;
}

client_output::queue_t& client_output::bind(display_stream s, unsigned slot, int sock)
{
    queue_t& q = queues_[static_cast<unsigned>(s)][slot];
    // A queue left by an earlier connection in this slot never reaches the new one.
    if (q.used && (q.sock != sock || q.identity != io_.identity(sock))) {
        q.reset();
    }
    return q;
}

bool client_output::push_queue(queue_t& q)
{
    while (q.size() > 0) {
        const ssize_t n = io_.send(q.sock, q.bytes.data() + q.head, q.size());
        if (n < 0) {
            if (would_block(errno)) {
                return true;
            }
            q.reset();
            return false;
        }
        if (n == 0) {
            return true;
        }
        q.head += static_cast<size_t>(n);
    }
    q.reset();
    return true;
}

bool client_output::enqueue(queue_t& q, int sock, const BYTE* data, size_t len)
{
    if (q.used && q.size() + len > limit_) {
        return false;
    }
    if (!q.used) {
        if (len > limit_) {
            return false;
        }
        q.used = true;
        q.sock = sock;
        q.identity = io_.identity(sock);
    }
    if (q.head > 0 && q.head >= q.bytes.size() / 2) {
        q.bytes.erase(q.bytes.begin(), q.bytes.begin() + static_cast<std::ptrdiff_t>(q.head));
        q.head = 0;
    }
    q.bytes.insert(q.bytes.end(), data, data + len);
    return true;
}

bool client_output::deliver(queue_t& q, int sock, const BYTE* data, size_t len)
{
    if (q.used && (!push_queue(q) || q.size() > 0)) {
        if (!q.used) {
            return false;  // the client failed: the socket job closes it
        }
        return !enqueue(q, sock, data, len);
    }
    const ssize_t n = io_.send(sock, data, len);
    size_t sent = 0;
    if (n < 0) {
        if (!would_block(errno)) {
            return false;
        }
    } else {
        sent = static_cast<size_t>(n);
    }
    if (sent >= len) {
        return false;
    }
    return !enqueue(q, sock, data + sent, len - sent);
}

void client_output::close_overflowed(display_stream s, const std::vector<int>& socks)
{
    for (int sock : socks) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "client sock %d stopped reading: %zu bytes queued, closed", sock, limit_);
        io_.remove(s, sock);
    }
}

void client_output::send_all(display_stream s, const BYTE* data, size_t len)
{
    if (data == nullptr || len == 0) {
        return;
    }
    std::vector<int> overflowed;
    io_.for_each(s, [&](unsigned slot, int sock) {
        if (slot >= ZUB_CLIENTS_PER_LIST) {
            return;
        }
        queue_t& q = bind(s, slot, sock);
        if (deliver(q, sock, data, len)) {
            q.reset();
            overflowed.push_back(sock);
        }
    });
    close_overflowed(s, overflowed);
}

void client_output::drain(display_stream s)
{
    std::array<bool, ZUB_CLIENTS_PER_LIST> seen{};
    io_.for_each(s, [&](unsigned slot, int sock) {
        if (slot >= ZUB_CLIENTS_PER_LIST) {
            return;
        }
        seen[slot] = true;
        queue_t& q = bind(s, slot, sock);
        if (q.used) {
            push_queue(q);
        }
    });
    for (unsigned slot = 0; slot < ZUB_CLIENTS_PER_LIST; ++slot) {
        queue_t& q = queues_[static_cast<unsigned>(s)][slot];
        if (!seen[slot] && q.used) {
            q.reset();
        }
    }
}
