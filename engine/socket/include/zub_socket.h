// zub_socket.h - the socket job ZUB_SOCKET: the engine's nine TCP servers (controller,
// displayer, tag location, tag extension, anchor statistics, the three interface ports and
// the data server) on one libqk reactor, their clients, and the reactor loop that also reads
// every anchor link.
//
// The job passes 0 -> 6 (power-on) -> 1 (start event: servers created, 0x30001 sent
// whatever the outcome); in state 1 its own ZUB_EV_SOCKET_LINK_SETUP hands control task 6 to
// the reactor loop for the life of the process. Every callback here runs on that thread.
// Other job threads attach, detach and send on the same reactor; the client lists and
// ctrl_client change only under reactor_info.clients_lock, and a client is detached before
// its descriptor is closed, never while holding that lock.
#pragma once

#include "VorlenTypes.h"
#include "zub_reactor_info.h"

struct context_t;

// Job states.
constexpr WORD16 ZUB_SOCKET_STATE_INIT = 0;
constexpr WORD16 ZUB_SOCKET_STATE_RUN = 1;
constexpr WORD16 ZUB_SOCKET_STATE_STARTUP = 6;

// Power-on messages the job answers in state 0.
constexpr WORD32 ZUB_SOCKET_POWER_ON = 6000;
constexpr WORD32 ZUB_SOCKET_POWER_ON_AGAIN = 6002;

// Socket types: a server and its clients, numbered as the engine's socket kinds (whose client
// lists zub_client_list gives).
enum : BYTE {
    ZUB_SOCKET_TYPE_CTRL = ZUB_SOCKET_KIND_CTRL,
    ZUB_SOCKET_TYPE_DSPLY = ZUB_SOCKET_KIND_DSPLY,
    ZUB_SOCKET_TYPE_TAG_LOC = ZUB_SOCKET_KIND_TAG_LOC,
    ZUB_SOCKET_TYPE_TAG_EXT = ZUB_SOCKET_KIND_TAG_EXT,
    ZUB_SOCKET_TYPE_ANC_STAT = ZUB_SOCKET_KIND_ANC_STAT,
    ZUB_SOCKET_TYPE_DAC_BLINK = ZUB_SOCKET_KIND_DAC_BLINK,
    ZUB_SOCKET_TYPE_DAC_POS = ZUB_SOCKET_KIND_DAC_POS,
    ZUB_SOCKET_TYPE_DAC_CCP = ZUB_SOCKET_KIND_DAC_CCP,
    ZUB_SOCKET_TYPE_DATA_SERVER = ZUB_SOCKET_KIND_DATA_SERVER,
    ZUB_SOCKET_TYPE_COUNT = 9,
};

// One byte per socket type holding its number; its address is the callback argument of the
// type's listening socket and of every client it accepts.
extern const BYTE gs_socket_ctrl;
extern const BYTE gs_socket_dsply;
extern const BYTE gs_socket_tag_loc;
extern const BYTE gs_socket_tag_ext;
extern const BYTE gs_socket_anc_stat;
extern const BYTE gs_socket_dac_blink;
extern const BYTE gs_socket_dac_pos;
extern const BYTE gs_socket_dac_ccp;
extern const BYTE gs_socket_data_server;

// The platform entry of the job (task 6).
void zub_socket_entry(WORD16 state, WORD32 event, void* body, void* priv, BYTE flag);

// Zeroes reactor_info, creates the reactor and the servers in table order (the first that
// fails stops the rest). False when the reactor could not be created (no server then).
bool zub_socket_create();
// The same on a reactor already made (null: the reactor could not be made; printed, nothing
// created, reactor_info left empty).
bool zub_socket_create_on(reactor_handle_t* reactor);
// Frees the controller pump of the servers' reactor before that reactor goes (tests: the
// engine's reactor lives for the process), with the loop stopped.
void zub_socket_release_ctrl_pump();
// Opens, configures, binds, listens and attaches one server; true when it listens.
bool zub_socket_tcp_server_create(WORD16 port, BYTE type);

// Reactor callbacks; arg is the socket type's byte.
void zub_socket_tcp_accept_cb(int sock, short what, void* arg);
void zub_socket_tcp_rcv_from_client(int sock, short what, void* arg);

// Lists a client: type 0 fills ctrl_client, 1..8 the first free slot of the type's list.
// False for a zero socket, a missing event, an unknown type or a full list.
bool zub_socket_reactor_save(WORD32 type, int sock, struct event* ev);
// Lists a client in the first free slot of `list`; false when all 32 are in use.
bool zub_socket_reactor_save_display(sock_info_t* list, int sock, struct event* ev);

// The listening port of a socket type as configured in the context.
WORD16 zub_socket_server_port(const context_t& ctx, BYTE type);

// Opens the link of every configured anchor (hardware id set, id at most 9999). Nothing in
// the engine calls it: the reconnection job opens the links.
void zub_socket_connect_to_anchor(context_t* ctx);
