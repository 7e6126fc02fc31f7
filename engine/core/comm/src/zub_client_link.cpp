#include "zub_client_link.h"

#include <cerrno>
#include <mutex>

#include "qk_reactor.h"
#include "qk_socket.h"
#include "zub_anchor_link.h"
#include "zub_context.h"
#include "zub_print.h"
#include "zub_send_all.h"
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
    return true;
}

bool send_to_ctrl(const BYTE* buf, size_t len)
{
    reactor_info_t& info = reactor_info();
    int sock = 0;
    int error = 0;
    {
        std::lock_guard<GuardMutex> lock(info.clients_lock);
        sock = info.ctrl_client.sock;
        if (sock == 0) {
            return false;
        }
        if (zub_send_all(sock, buf, len, ZUB_SOCKET_SEND_TIMEOUT_MS)) {
            return true;
        }
        error = errno;
    }
    ZUB_PRINT(ZUB_PRINT_ERROR, "qk_send to controller failed.errno is %d", error);
    if (error == EPIPE) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "errno = EPIPE,close ctrl client socket ");
        zub_socket_reactor_delete(sock, ZUB_SOCKET_KIND_CTRL);
    }
    return false;
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
