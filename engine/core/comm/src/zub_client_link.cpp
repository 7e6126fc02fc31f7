#include "zub_client_link.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <mutex>

#include "CNPlatform.h"
#include "qk_reactor.h"
#include "qk_socket.h"
#include "zub_anchor_link.h"
#include "zub_context.h"
#include "zub_ctrl_flow.h"
#include "zub_pending_bytes.h"
#include "zub_print.h"
#include "zub_print_limited.h"
#include "zub_shared_field.h"

namespace {

reactor_info_t& reactor_info() { return zub_context()->reactor_info; }

// Detaches before closing, holding no lock: the detach waits for the client's running
// callback, which may itself want clients_lock.
void release_client(const sock_info_t& taken)
{
    if (taken.ev != nullptr) {
        qk_reactor_detach(zub_load(reactor_info().sock_handle, std::memory_order_acquire), taken.ev);
    }
    if (taken.sock != 0) {
        qk_close(taken.sock);
    }
}

// The reply bytes the controller has not taken yet, in order, and whether it still takes them;
// they belong to the controller listed now and go with it. Under clients_lock.
struct CtrlReplies {
    PendingBytes queue;
    ReplyStall stall;

    // After a write that added `added` bytes to what waited before (`before`).
    void wrote(size_t before, size_t added, WORD64 now_ms)
    {
        stall.wrote(queue.size(), queue.size() < before + added, now_ms);
    }
};

CtrlReplies& ctrl_replies()
{
    static CtrlReplies replies;
    return replies;
}

// The controller's socket as PendingBytes reaches it: one send that never waits.
auto ctrl_socket(int sock)
{
    return [sock](const BYTE* data, size_t len) { return qk_send(sock, data, len, MSG_NOSIGNAL | MSG_DONTWAIT); };
}

// Takes the controller client if it still is `sock`; its flag stays as it is.
bool take_ctrl_client(reactor_info_t& info, int sock, sock_info_t* taken)
{
    std::lock_guard<GuardMutex> lock(info.clients_lock);
    if (info.ctrl_client.sock == 0 || info.ctrl_client.sock != sock) {
        return false;
    }
    *taken = info.ctrl_client;
    info.ctrl_client.sock = 0;
    info.ctrl_client.ev = nullptr;
    ctrl_replies().queue.clear();
    ctrl_replies().stall.reset();
    zub_ctrl_flow().gone();
    return true;
}

using Sent = PendingBytes::Result;

// A controller whose link failed, who left too much unread or who stopped taking its replies is
// closed; its replies go with it.
void drop_stalled_controller(int sock, size_t waiting)
{
    ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "controller sock %d took no reply bytes for %llu s while %zu waited, closed",
                      sock, static_cast<unsigned long long>(ReplyStall::kStallMs / 1000), waiting);
    zub_socket_reactor_delete(sock, ZUB_SOCKET_KIND_CTRL);
}

void drop_controller(int sock, Sent why, int error)
{
    if (why == Sent::overflow) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "controller sock %d stopped reading: %zu reply bytes unsent, closed", sock,
                          ZUB_CTRL_REPLY_LIMIT);
        zub_socket_reactor_delete(sock, ZUB_SOCKET_KIND_CTRL);
        return;
    }
    ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "qk_send to controller failed.errno is %d", error);
    if (error == EPIPE || error == ECONNRESET) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "errno = EPIPE,close ctrl client socket ");
        zub_socket_reactor_delete(sock, ZUB_SOCKET_KIND_CTRL);
    }
}

bool send_to_ctrl(const BYTE* buf, size_t len)
{
    reactor_info_t& info = reactor_info();
    int sock = 0;
    int error = 0;
    Sent result = Sent::sent;
    {
        std::lock_guard<GuardMutex> lock(info.clients_lock);
        sock = info.ctrl_client.sock;
        if (sock == 0) {
            return false;
        }
        CtrlReplies& replies = ctrl_replies();
        const size_t before = replies.queue.size();
        result = replies.queue.send(buf, len, ZUB_CTRL_REPLY_LIMIT, ctrl_socket(sock));
        error = errno;
        if (result == Sent::sent || result == Sent::kept) {
            replies.wrote(before, len, CN_MonotonicMs());
        }
    }
    switch (result) {
    case Sent::sent:
        return true;
    case Sent::kept:
        zub_ctrl_flow().wake(CtrlFlow::kRetryMs);
        return true;
    default:
        drop_controller(sock, result, error);
        return false;
    }
}

}  // namespace

bool zub_socket_msg_send_to_ctrl(const BYTE* buf, WORD16 len)
{
    if (buf == nullptr) {
        return false;
    }
    return send_to_ctrl(buf, len);
}

bool zub_socket_stirng_send_to_ctrl(const std::string* text)
{
    if (text == nullptr) {
        return false;
    }
    return send_to_ctrl(reinterpret_cast<const BYTE*>(text->data()), text->size());
}

bool zub_socket_reactor_delete(int sock, WORD32 kind)
{
    if (sock == 0) {
        return false;
    }
    reactor_info_t& info = reactor_info();
    if (kind == ZUB_SOCKET_KIND_CTRL) {
        sock_info_t taken{};
        if (take_ctrl_client(info, sock, &taken)) {
            release_client(taken);
        }
    } else if (sock_info_t* list = zub_client_list(info, kind)) {
        zub_socket_reactor_delete_display(sock, list);
    }
    return true;
}

void zub_socket_reactor_delete_display(int sock, sock_info_t* list)
{
    if (list == nullptr) {
        return;
    }
    sock_info_t taken{};
    if (zub_clients_take(reactor_info(), list, sock, &taken)) {
        release_client(taken);
    }
}

void zub_ctrl_keep_alive(int sock)
{
    zub_socket_keep_alive(sock, ZUB_CTRL_KEEP_IDLE_S, ZUB_CTRL_KEEP_INTERVAL_S, ZUB_CTRL_KEEP_COUNT);
    const unsigned gone_after = ZUB_CTRL_GONE_AFTER_MS;
    qk_setsockopt(sock, IPPROTO_TCP, TCP_USER_TIMEOUT, &gone_after, sizeof gone_after);
}

size_t zub_ctrl_reply_unsent()
{
    reactor_info_t& info = reactor_info();
    std::lock_guard<GuardMutex> lock(info.clients_lock);
    return ctrl_replies().queue.size();
}

size_t zub_ctrl_reply_flush() { return zub_ctrl_reply_flush(CN_MonotonicMs()); }

size_t zub_ctrl_reply_flush(WORD64 now_ms)
{
    reactor_info_t& info = reactor_info();
    int sock = 0;
    int error = 0;
    size_t waiting = 0;
    {
        std::lock_guard<GuardMutex> lock(info.clients_lock);
        sock = info.ctrl_client.sock;
        if (sock == 0) {
            return 0;
        }
        CtrlReplies& replies = ctrl_replies();
        const size_t before = replies.queue.size();
        if (!replies.queue.push(ctrl_socket(sock))) {
            error = errno;
        } else {
            replies.wrote(before, 0, now_ms);
            waiting = replies.queue.size();
            if (!replies.stall.stalled(now_ms)) {
                return waiting;
            }
        }
    }
    if (waiting > 0) {
        drop_stalled_controller(sock, waiting);
    } else {
        drop_controller(sock, Sent::failed, error);
    }
    return 0;
}
