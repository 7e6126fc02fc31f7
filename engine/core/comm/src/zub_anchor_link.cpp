#include "zub_anchor_link.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "qk_reactor.h"
#include "qk_socket.h"
#include "zub_context.h"
#include "zub_msg.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_print_limited.h"
#include "zub_send_all.h"
#include "zub_shared_field.h"
#include "zub_time.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeepIdleS = 100;
constexpr int kKeepIntervalS = 10;
constexpr int kKeepCount = 10;

reactor_handle_t* the_reactor()
{
    return zub_load(zub_context()->reactor_info.sock_handle, std::memory_order_acquire);
}

reactor_callback_func_t anchor_read_callback()
{
    return zub_load(zub_context()->reactor_info.rcv_from_server, std::memory_order_acquire);
}

void report_link_state(const Anchor& anchor, WORD16 state)
{
    const anc_con_stat_t body{anchor.id, state};
    zub_asyn_msg_send(ZUB_EV_XX_RECON_ANCHOR_CON_STATE, reinterpret_cast<const BYTE*>(&body), sizeof body,
                      &zub_context()->jid_reconnection);
}

const char* ip_text(const Anchor& anchor, char (&out)[INET_ADDRSTRLEN])
{
    if (qk_inet_ntop(AF_INET, &anchor.ip, out, sizeof out) == nullptr) {
        out[0] = '\0';
    }
    return out;
}

// A new socket with the link's options, or -1 (printed).
int new_link_socket()
{
    const int sock = qk_socket(AF_INET, SOCK_STREAM, 0);
    if (sock <= 0) {
        if (sock == 0) {
            qk_close(sock);
        }
        ZUB_PRINT(ZUB_PRINT_ERROR, "create socket failed.");
        return -1;
    }
    qk_socket_nodelay(sock);
    qk_socket_reuseable(sock);
    socket_set_keep_alive(sock);
    return sock;
}

// Waits for a pending connect; 0 once it has succeeded, else its error (ETIMEDOUT when it
// neither completed nor failed in time). poll, not select: the engine keeps up to 10,000 links,
// and descriptors above 1023 do not fit an fd_set.
int wait_connect(int sock, int timeout_ms)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    pollfd p{sock, POLLOUT, 0};
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return ETIMEDOUT;
        }
        p.revents = 0;
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready > 0) {
            break;
        }
        if (ready == 0) {
            return ETIMEDOUT;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
    int error = 0;
    socklen_t len = sizeof error;
    if (qk_getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
        return errno;
    }
    if (error == 0 && (p.revents & POLLOUT) == 0) {
        error = ECONNABORTED;
    }
    return error;
}

// Connects without blocking for longer than the connect time-out, leaving the socket's file
// flags as they were. 0, or the connect's error.
int connect_anchor(int sock, const Anchor& anchor, int port)
{
    const int flags = fcntl(sock, F_GETFL, 0);
    if (flags < 0 || fcntl(sock, F_SETFL, flags | O_NONBLOCK) != 0) {
        return errno;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr = anchor.ip;
    int error = 0;
    if (qk_connect(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        error = errno == EINPROGRESS ? wait_connect(sock, ZUB_ANCHOR_CONNECT_TIMEOUT_MS) : errno;
    }
    if (fcntl(sock, F_SETFL, flags) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

// The receive buffer belongs to the socket job's reactor thread while a link is attached;
// it is cleared here only while no event of the anchor can run (link_lock held, no link).
void clear_receive_buffer(Anchor& anchor)
{
    std::memset(anchor.tcp_sock.rcv_buff, 0, sizeof anchor.tcp_sock.rcv_buff);
    anchor.tcp_sock.rcv_len = 0;
}

// After a close has detached its event: cleared unless a new link has been opened meanwhile
// (whose open cleared it already).
void clear_receive_buffer_if_closed(Anchor& anchor)
{
    std::lock_guard<GuardMutex> lock(anchor.link_lock);
    if (anchor.tcp_sock.sock == 0) {
        clear_receive_buffer(anchor);
    }
}

// Records the link and attaches it, both under the link guard: a read callback that fires at
// once finds the link recorded, and no closer can take a link whose event is not yet stored.
// The open is reported under the guard too, so the reconnection job never learns of a close
// before the open it follows. False (nothing recorded) when a link is already open or the
// attach fails.
bool record_and_attach(Anchor& anchor, int sock, reactor_handle_t* reactor, reactor_callback_func_t on_read,
                       bool* attach_failed)
{
    std::lock_guard<GuardMutex> lock(anchor.link_lock);
    if (anchor.tcp_sock.sock != 0) {
        return false;
    }
    // A half frame left by an earlier link must not swallow the first frames of this one.
    clear_receive_buffer(anchor);
    zub_store(anchor.tcp_sock.sock, static_cast<WORD32>(sock), std::memory_order_release);
    struct event* ev = qk_reactor_attach(reactor, sock, on_read, &anchor, REACTOR_LEVEL);
    if (ev == nullptr) {
        zub_store(anchor.tcp_sock.sock, WORD32{0}, std::memory_order_release);
        *attach_failed = true;
        return false;
    }
    anchor.tcp_sock.ev = ev;
    anchor.timeConnected = zub_time_of_day();
    report_link_state(anchor, ZUB_ANC_LINK_OPENED);
    return true;
}

// Detaches before closing: the descriptor must not be reused while the reactor still
// watches it.
void release_link(WORD32 sock, struct event* ev)
{
    if (ev != nullptr) {
        qk_reactor_detach(the_reactor(), ev);
    }
    qk_close(static_cast<int>(sock));
}

// The take of Anchor::link_take for a caller that already holds link_lock.
void take_link_locked(Anchor& anchor, WORD32* sock, struct event** ev)
{
    *sock = anchor.tcp_sock.sock;
    *ev = anchor.tcp_sock.ev;
    zub_store(anchor.tcp_sock.sock, WORD32{0}, std::memory_order_release);
    anchor.tcp_sock.ev = nullptr;
    anchor.timeDisconnected = zub_time_of_day();
}

}  // namespace

void socket_set_keep_alive(int sock) { zub_socket_keep_alive(sock, kKeepIdleS, kKeepIntervalS, kKeepCount); }

void zub_socket_keep_alive(int sock, int idle_s, int interval_s, int count)
{
    const int on = 1;
    qk_setsockopt(sock, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    qk_setsockopt(sock, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s);
    qk_setsockopt(sock, IPPROTO_TCP, TCP_KEEPINTVL, &interval_s, sizeof interval_s);
    qk_setsockopt(sock, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

bool zub_socket_conn_check(int sock) { return wait_connect(sock, ZUB_ANCHOR_CONNECT_TIMEOUT_MS) == 0; }

bool zub_socket_tcp_client_create(Anchor* anchor)
{
    if (anchor == nullptr) {
        return false;
    }
    // The socket job creates the reactor in the same start round as the reconnection job's
    // first check; until then no anchor can be served, and the next check tries again.
    reactor_handle_t* reactor = the_reactor();
    reactor_callback_func_t on_read = anchor_read_callback();
    if (reactor == nullptr || on_read == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "qk_reactor_attach tcp failed.\n");
        return false;
    }
    if (anchor->link_socket() != 0) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "anchor link already open, not opened again. anc_id = %d", anchor->id);
        return false;
    }
    const int sock = new_link_socket();
    if (sock < 0) {
        return false;
    }
    const int port = zub_context()->anchorListenPort;
    const int error = connect_anchor(sock, *anchor, port);
    if (error != 0) {
        char ip[INET_ADDRSTRLEN];
        ZUB_PRINT(ZUB_PRINT_ERROR, "connect to anchor(%s:%d) failed.anc_id = %d errno is %d", ip_text(*anchor, ip),
                  port, anchor->id, error);
        qk_close(sock);
        return false;
    }
    bool attach_failed = false;
    if (!record_and_attach(*anchor, sock, reactor, on_read, &attach_failed)) {
        if (attach_failed) {
            ZUB_PRINT(ZUB_PRINT_ERROR, "qk_reactor_attach tcp failed.\n");
        } else {
            ZUB_PRINT(ZUB_PRINT_ERROR, "anchor link already open, not opened again. anc_id = %d", anchor->id);
        }
        qk_close(sock);
        return false;
    }
    return true;
}

void zub_socket_anchor_close(Anchor* anchor)
{
    if (anchor == nullptr) {
        return;
    }
    WORD32 sock = 0;
    struct event* ev = nullptr;
    if (!anchor->link_take(&sock, &ev)) {
        return;
    }
    release_link(sock, ev);
    clear_receive_buffer_if_closed(*anchor);
    report_link_state(*anchor, ZUB_ANC_LINK_CLOSED);
}

bool zub_socket_anchor_close_link(Anchor* anchor, WORD32 sock)
{
    if (anchor == nullptr || sock == 0) {
        return false;
    }
    WORD32 taken = 0;
    struct event* ev = nullptr;
    {
        std::lock_guard<GuardMutex> lock(anchor->link_lock);
        if (anchor->tcp_sock.sock != sock) {
            return false;
        }
        take_link_locked(*anchor, &taken, &ev);
    }
    release_link(taken, ev);
    clear_receive_buffer_if_closed(*anchor);
    report_link_state(*anchor, ZUB_ANC_LINK_CLOSED);
    return true;
}

bool zub_socket_msg_send_to_anc(const BYTE* buf, WORD16 len, Anchor* anchor)
{
    if (buf == nullptr || anchor == nullptr) {
        return false;
    }
    size_t written = 0;
    int error = 0;
    WORD32 dead_sock = 0;
    struct event* dead_ev = nullptr;
    {
        std::lock_guard<GuardMutex> lock(anchor->link_lock);
        const WORD32 sock = anchor->tcp_sock.sock;
        if (sock == 0) {
            return false;
        }
        written = zub_send_all(static_cast<int>(sock), buf, len, ZUB_ANCHOR_COMMAND_REST_MS);
        if (written == len) {
            return true;
        }
        error = errno;
        // Take this very link while still holding the guard, so a link reopened meanwhile is
        // never the one closed.
        if (written != 0 || error == ECONNRESET || error == EPIPE) {
            take_link_locked(*anchor, &dead_sock, &dead_ev);
        }
    }
    char ip[INET_ADDRSTRLEN];
    const unsigned code = len != 0 ? buf[0] : 0;
    if (written == 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR,
                          "anchor(%s) link takes nothing, command 0x%02X of %u bytes dropped. anc_id = %d",
                          ip_text(*anchor, ip), code, static_cast<unsigned>(len), anchor->id);
        return false;
    }
    if (written != 0) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR,
                          "anchor(%s) link took %zu of %u bytes of command 0x%02X, close socket anc_id = %d",
                          ip_text(*anchor, ip), written, static_cast<unsigned>(len), code, anchor->id);
    } else {
        ZUB_PRINT(ZUB_PRINT_ERROR, "qk_send to anchor failed.errno is %d", error);
        if (dead_sock != 0) {
            ZUB_PRINT(ZUB_PRINT_ERROR, "errno = ECONNRESET or EPIPE,close socket anc_id = %d", anchor->id);
        }
    }
    if (dead_sock != 0) {
        release_link(dead_sock, dead_ev);
        clear_receive_buffer_if_closed(*anchor);
        report_link_state(*anchor, ZUB_ANC_LINK_CLOSED);
    }
    return false;
}
