// zub_reactor_info.h - the socket job's table: its nine listening sockets, the controller
// client, the eight lists of 32 report clients, the reactor and its three callbacks.
//
// The listening sockets, the reactor handle and the callbacks are written once by the
// socket job when it creates its servers. The controller client and the client lists
// change on the socket job's reactor thread (accept, peer closed) and on the
// reconnection and control jobs' threads (dead controller link), and are sent to from
// the display and control jobs: clients_lock guards them all. A sender holds it around
// its sends (client sockets are non-blocking), so a slot cannot be freed and its
// descriptor reused under it. Removal takes the slot under the lock and detaches and
// closes after releasing it, because a detach waits for the client's running callback,
// which may itself want the lock.
#pragma once

#include "VorlenTypes.h"
#include "qk_reactor.h"
#include "zub_guard_mutex.h"

constexpr unsigned ZUB_CLIENTS_PER_LIST = 32;

// Socket kinds: a server of the socket job and its clients (the socket job's types).
enum : WORD32 {
    ZUB_SOCKET_KIND_CTRL = 0,
    ZUB_SOCKET_KIND_DSPLY = 1,
    ZUB_SOCKET_KIND_TAG_LOC = 2,
    ZUB_SOCKET_KIND_TAG_EXT = 3,
    ZUB_SOCKET_KIND_ANC_STAT = 4,
    ZUB_SOCKET_KIND_DAC_BLINK = 5,
    ZUB_SOCKET_KIND_DAC_POS = 6,
    ZUB_SOCKET_KIND_DAC_CCP = 7,
    ZUB_SOCKET_KIND_DATA_SERVER = 8,
};


// One client slot.
struct sock_info_t {
    int32_t flag;  // 1 in use, 0 free
    int32_t sock;  // 0 none
    struct event* ev;
};

struct reactor_info_t {
    int32_t ctrl_sock;
    int32_t dsply_sock;
    int32_t tag_loc_sock;
    int32_t tag_ext_sock;
    int32_t anc_stat_sock;
    int32_t dac_blink_sock;
    int32_t dac_pos_sock;
    int32_t dac_ccp_sock;
    int32_t data_server_sock;

    sock_info_t ctrl_client;  // present while sock != 0; flag unused
    sock_info_t dsply_client[ZUB_CLIENTS_PER_LIST];
    sock_info_t tag_loc_client[ZUB_CLIENTS_PER_LIST];
    sock_info_t tag_ext_client[ZUB_CLIENTS_PER_LIST];
    sock_info_t anc_stat_client[ZUB_CLIENTS_PER_LIST];
    sock_info_t dac_blink_client[ZUB_CLIENTS_PER_LIST];
    sock_info_t dac_pos_client[ZUB_CLIENTS_PER_LIST];
    sock_info_t dac_ccp_client[ZUB_CLIENTS_PER_LIST];
    sock_info_t data_server_client[ZUB_CLIENTS_PER_LIST];

    reactor_handle_t* sock_handle;
    reactor_callback_func_t accept_cb;
    reactor_callback_func_t rcv_from_client;
    reactor_callback_func_t rcv_from_server;

    GuardMutex clients_lock;
};

// The client list of `kind` (1..8), or null for the controller and any other kind.
sock_info_t* zub_client_list(reactor_info_t& info, WORD32 kind);

// The guarded operations on one client list (32 slots) of `info`; each takes
// info.clients_lock for its whole change.
// Lists the client in the first free slot; false when all 32 are in use.
bool zub_clients_save(reactor_info_t& info, sock_info_t* list, int32_t sock, struct event* ev);
// Frees the first used slot holding sock and hands its content to the caller, who then
// detaches and closes it (holding no lock); false when no slot holds it.
bool zub_clients_take(reactor_info_t& info, sock_info_t* list, int32_t sock, sock_info_t* taken);
// Calls send(sock) for every client in use (flag and sock non-zero), under the lock.
template <class F>
void zub_clients_for_each(reactor_info_t& info, const sock_info_t* list, F&& send)
{
    std::lock_guard<GuardMutex> lock(info.clients_lock);
    for (unsigned i = 0; i < ZUB_CLIENTS_PER_LIST; ++i) {
        if (list[i].flag != 0 && list[i].sock != 0) {
            send(list[i].sock);
        }
    }
}
