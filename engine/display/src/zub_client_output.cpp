#include "zub_client_output.h"

#include "zub_print_limited.h"

namespace {

// A client's socket as PendingBytes reaches it.
auto client_socket(display_clients& io, int sock)
{
    return [&io, sock](const BYTE* data, size_t len) { return io.send(sock, data, len); };
}

}  // namespace

void client_output::queue_t::reset()
{
    used = false;
    sock = 0;
    identity = 0;
    bytes.clear();
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
    const bool alive = q.bytes.push(client_socket(io_, q.sock));
    if (!alive || q.size() == 0) {
        q.reset();
    }
    return alive;
}

bool client_output::deliver(queue_t& q, int sock, const BYTE* data, size_t len)
{
    switch (q.bytes.send(data, len, limit_, client_socket(io_, sock))) {
    case PendingBytes::Result::kept:
        if (!q.used) {
            q.used = true;
            q.sock = sock;
            q.identity = io_.identity(sock);
        }
        return false;
    case PendingBytes::Result::overflow:
        return true;
    case PendingBytes::Result::failed:  // the client failed: the socket job closes it
    case PendingBytes::Result::sent:
        break;
    }
    if (q.used) {
        q.reset();
    }
    return false;
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
