// zub_client_output.h - delivery of whole frames to the clients of the report streams, with
// a queue of pending bytes per client.
//
// Client sockets are non-blocking. What a send leaves unsent stays queued for that client and
// goes out before its next bytes (at the latest on the stream's next flush tick), so a slow
// client never sees a cut frame and the others are not held up. A client whose queue would
// pass the limit (256 KiB) is closed through the socket job's removal path, with a log line.
// Any other send error leaves the client to the socket job, which sees the closure: its bytes
// are dropped. A queue belongs to one connection: it is dropped when its slot is found free or
// holding another connection.
//
// Display job only (one thread); the client lists themselves are read through
// display_clients, which holds their guard while it visits them.
#pragma once

#include <sys/types.h>

#include <array>
#include <functional>
#include <vector>

#include "VorlenTypes.h"
#include "zub_pending_bytes.h"
#include "zub_reactor_info.h"

enum class display_stream : unsigned {
    tag_loc,
    tag_ext,
    anc_stat,
    dsply,
    dac_blink,
    dac_pos,
    dac_ccp,
};
constexpr unsigned ZUB_DISPLAY_STREAMS = 7;

// The client lists and sockets the display job writes to.
class display_clients {
public:
    virtual ~display_clients() = default;
    // Calls visit(slot, sock) for every active client of the stream's list (flag and sock
    // non-zero), holding the lists' guard for the whole walk.
    virtual void for_each(display_stream s, const std::function<void(unsigned slot, int sock)>& visit) = 0;
    // One non-blocking send: bytes taken, or -1 with errno set.
    virtual ssize_t send(int sock, const BYTE* data, size_t len) = 0;
    // A value that tells this connection from a later one on the same descriptor number.
    virtual WORD64 identity(int sock) = 0;
    // Closes the client through the socket job's removal path; never called inside for_each.
    virtual void remove(display_stream s, int sock) = 0;
};

constexpr size_t ZUB_CLIENT_QUEUE_LIMIT = 256 * 1024;

class client_output {
public:
    explicit client_output(display_clients& io, size_t limit = ZUB_CLIENT_QUEUE_LIMIT);

    // Sends `len` bytes (whole frames) to every active client of the stream.
    void send_all(display_stream s, const BYTE* data, size_t len);
    // Sends what is pending for the stream's clients and drops the queues of clients gone.
    void drain(display_stream s);
    // Bytes queued for the client in that slot (0 when none).
    size_t pending(display_stream s, unsigned slot) const;

private:
    struct queue_t {
        bool used = false;
        int sock = 0;
        WORD64 identity = 0;
        PendingBytes bytes;

        size_t size() const { return bytes.size(); }
        void reset();
    };

    queue_t& bind(display_stream s, unsigned slot, int sock);
    // Sends from the queue; false when the client failed for good (its queue is dropped).
    bool push_queue(queue_t& q);
    // Sends to one client; true when the client must be closed (queue overflow).
    bool deliver(queue_t& q, int sock, const BYTE* data, size_t len);
    void close_overflowed(display_stream s, const std::vector<int>& socks);

    display_clients& io_;
    size_t limit_;
    std::array<std::array<queue_t, ZUB_CLIENTS_PER_LIST>, ZUB_DISPLAY_STREAMS> queues_;
};
