#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <event2/event.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "qk_reactor.h"
#include "qk_socket.h"
#include "zub_anchor.h"
#include "zub_anchor_frame.h"
#include "zub_anchor_link.h"
#include "zub_client_link.h"
#include "zub_context.h"
#include "zub_ctrl_flow.h"
#include "zub_ctrl_framing.h"
#include "zub_msg.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_print_limited.h"
#include "zub_shared_field.h"
#include "zub_socket.h"

const BYTE gs_socket_ctrl = ZUB_SOCKET_TYPE_CTRL;
const BYTE gs_socket_dsply = ZUB_SOCKET_TYPE_DSPLY;
const BYTE gs_socket_tag_loc = ZUB_SOCKET_TYPE_TAG_LOC;
const BYTE gs_socket_tag_ext = ZUB_SOCKET_TYPE_TAG_EXT;
const BYTE gs_socket_anc_stat = ZUB_SOCKET_TYPE_ANC_STAT;
const BYTE gs_socket_dac_blink = ZUB_SOCKET_TYPE_DAC_BLINK;
const BYTE gs_socket_dac_pos = ZUB_SOCKET_TYPE_DAC_POS;
const BYTE gs_socket_dac_ccp = ZUB_SOCKET_TYPE_DAC_CCP;
const BYTE gs_socket_data_server = ZUB_SOCKET_TYPE_DATA_SERVER;

namespace {

constexpr int kCtrlBacklog = 1;
constexpr int kReportBacklog = 5;
constexpr size_t kClientReadMax = 8092;

reactor_info_t& reactor_info() { return zub_context()->reactor_info; }

reactor_handle_t* the_reactor() { return zub_load(reactor_info().sock_handle, std::memory_order_acquire); }

void* type_arg(BYTE type)
{
    static const BYTE* const bytes[ZUB_SOCKET_TYPE_COUNT] = {
        &gs_socket_ctrl,    &gs_socket_dsply,     &gs_socket_tag_loc, &gs_socket_tag_ext,    &gs_socket_anc_stat,
        &gs_socket_dac_blink, &gs_socket_dac_pos, &gs_socket_dac_ccp, &gs_socket_data_server,
    };
    return const_cast<BYTE*>(bytes[type]);
}

// The type named by a callback argument; ZUB_SOCKET_TYPE_COUNT for none.
BYTE arg_type(const void* arg)
{
    if (arg == nullptr) {
        return ZUB_SOCKET_TYPE_COUNT;
    }
    const BYTE t = *static_cast<const BYTE*>(arg);
    return t < ZUB_SOCKET_TYPE_COUNT ? t : static_cast<BYTE>(ZUB_SOCKET_TYPE_COUNT);
}

int32_t* listen_field(reactor_info_t& info, BYTE type)
{
    int32_t* const fields[ZUB_SOCKET_TYPE_COUNT] = {
        &info.ctrl_sock,      &info.dsply_sock,   &info.tag_loc_sock, &info.tag_ext_sock,    &info.anc_stat_sock,
        &info.dac_blink_sock, &info.dac_pos_sock, &info.dac_ccp_sock, &info.data_server_sock,
    };
    return fields[type];
}

const char* const kServerFailLine[ZUB_SOCKET_TYPE_COUNT] = {
    "create control tcp server failed.port = %d",
    "create displayer tcp server failed.port = %d",
    "create tag location tcp server failed.port = %d",
    "create tag ext tcp server failed.port = %d",
    "create anc stat tcp server failed.port = %d",
    "create dac interface blink port tcp server failed.port = %d",
    "create dac interface pos port tcp server failed.port = %d",
    "create dac interface ccp port tcp server failed.port = %d",
    "create data server tcp server failed.port = %d",
};

// Everything of reactor_info but its lock back to zero.
void clear_reactor_info(reactor_info_t& info)
{
    std::lock_guard<GuardMutex> lock(info.clients_lock);
    for (BYTE t = 0; t < ZUB_SOCKET_TYPE_COUNT; ++t) {
        *listen_field(info, t) = 0;
    }
    info.ctrl_client = sock_info_t{0, 0, nullptr};
    for (WORD32 t = ZUB_SOCKET_TYPE_DSPLY; t < ZUB_SOCKET_TYPE_COUNT; ++t) {
        sock_info_t* list = zub_client_list(info, t);
        for (unsigned i = 0; i < ZUB_CLIENTS_PER_LIST; ++i) {
            list[i] = sock_info_t{0, 0, nullptr};
        }
    }
    zub_store(info.sock_handle, static_cast<reactor_handle_t*>(nullptr), std::memory_order_release);
    info.accept_cb = nullptr;
    info.rcv_from_client = nullptr;
    zub_store(info.rcv_from_server, static_cast<reactor_callback_func_t>(nullptr), std::memory_order_release);
}

bool ctrl_present(reactor_info_t& info)
{
    std::lock_guard<GuardMutex> lock(info.clients_lock);
    return info.ctrl_client.sock != 0;
}

bool list_has_room(reactor_info_t& info, const sock_info_t* list)
{
    std::lock_guard<GuardMutex> lock(info.clients_lock);
    for (unsigned i = 0; i < ZUB_CLIENTS_PER_LIST; ++i) {
        if (list[i].flag == 0) {
            return true;
        }
    }
    return false;
}

// Closes a listening socket that could not be set up.
bool fail_server(int sock)
{
    qk_close(sock);
    return false;
}

// Starts or stops reading the controller `sock` while it is still the one listed: the slot is
// looked at under clients_lock, so its event cannot be freed by a removal meanwhile.
void set_controller_reading(int sock, bool on)
{
    reactor_info_t& info = reactor_info();
    std::lock_guard<GuardMutex> lock(info.clients_lock);
    if (info.ctrl_client.sock == 0 || info.ctrl_client.sock != sock || info.ctrl_client.ev == nullptr) {
        return;
    }
    if (on) {
        event_add(info.ctrl_client.ev, nullptr);
    } else {
        event_del(info.ctrl_client.ev);
    }
}

// Whether the controller has closed or reset its link (also while bytes of it wait unread).
bool controller_hung_up(int sock)
{
    pollfd p{sock, POLLRDHUP, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

// Hands over the lines the framer holds while the control job has room; when it has none, stops
// reading the controller, so that TCP holds the controller back. Reading starts again from the
// controller pump once the control job has taken lines or the replies have drained. Lines held
// for a controller that has gone meanwhile go with it, unrun.
void hand_over_or_pause(int sock)
{
    CtrlLineFramer& framer = zub_ctrl_framer();
    CtrlFlow& flow = zub_ctrl_flow();
    for (;;) {
        if ((framer.stalled() || flow.paused()) && controller_hung_up(sock)) {
            zub_socket_reactor_delete(sock, ZUB_SOCKET_TYPE_CTRL);
            return;
        }
        if (framer.stalled()) {
            framer.analyse();
        }
        if (!framer.stalled() && zub_ctrl_control_job_has_room()) {
            if (flow.paused()) {
                flow.set_paused(false);
                set_controller_reading(sock, true);
            }
            return;
        }
        if (!flow.paused()) {
            flow.set_paused(true);
            set_controller_reading(sock, false);
        }
        // A take counted before the pause was stored is seen here; one after it wakes the pump.
        if (!zub_ctrl_control_job_has_room()) {
            return;
        }
    }
}

void read_controller(int sock)
{
    CtrlLineFramer& framer = zub_ctrl_framer();
    if (!framer.stalled()) {
        size_t room = 0;
        BYTE* at = framer.read_area(&room);
        const ssize_t got = qk_recv(sock, at, room, 0);
        if (got <= 0) {
            ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "rcv from anchor,but something error.sock=[%d],errno = [%d],rcv_len=[%d]",
                              sock, errno, static_cast<int>(got));
            return;
        }
        framer.received(static_cast<size_t>(got));
    }
    hand_over_or_pause(sock);
}

// The controller pump, on the reactor thread: writes the replies the controller left unread and
// resumes reading it once the control job has room again. Woken by the controller flow (a line
// taken while reading stopped, replies left unsent), and again every retry period while replies
// wait.
std::atomic<struct event*> g_ctrl_pump{nullptr};

void ctrl_pump(int /*fd*/, short /*what*/, void* /*arg*/)
{
    if (zub_ctrl_reply_flush() > 0) {
        zub_ctrl_flow().wake(CtrlFlow::kRetryMs);
    }
    if (!zub_ctrl_flow().paused()) {
        return;
    }
    int sock = 0;
    {
        reactor_info_t& info = reactor_info();
        std::lock_guard<GuardMutex> lock(info.clients_lock);
        sock = info.ctrl_client.sock;
    }
    if (sock != 0) {
        hand_over_or_pause(sock);
    }
}

// The controller flow's waker: any thread (libevent's locking makes the calls safe while the
// loop runs).
void wake_ctrl_pump(int delay_ms)
{
    struct event* pump = g_ctrl_pump.load();
    if (pump == nullptr) {
        return;
    }
    if (delay_ms <= 0) {
        event_active(pump, EV_TIMEOUT, 1);
        return;
    }
    if (event_pending(pump, EV_TIMEOUT, nullptr) == 0) {
        const timeval tv{delay_ms / 1000, static_cast<suseconds_t>(delay_ms % 1000) * 1000};
        event_add(pump, &tv);
    }
}

// Made with the servers' reactor; the engine keeps it for the life of the process, so a waker
// on another thread never meets a freed event.
void make_ctrl_pump(reactor_handle_t* reactor)
{
    zub_socket_release_ctrl_pump();
    if (reactor->base != nullptr) {
        g_ctrl_pump.store(event_new(reactor->base, -1, 0, ctrl_pump, nullptr));
        zub_ctrl_flow().set_waker(wake_ctrl_pump);
    }
}

void drop_client_input(int sock)
{
    BYTE sink[kClientReadMax];
    const ssize_t got = qk_recv(sock, sink, sizeof sink, 0);
    ZUB_PRINT_LIMITED(ZUB_PRINT_MSG, "Displayer cannot send msg.sock = %d rcv_len = %d.", sock, static_cast<int>(got));
}

}  // namespace

void zub_socket_release_ctrl_pump()
{
    zub_ctrl_flow().set_waker(nullptr);
    if (struct event* pump = g_ctrl_pump.exchange(nullptr)) {
        event_free(pump);
    }
}

WORD16 zub_socket_server_port(const context_t& ctx, BYTE type)
{
    switch (type) {
    case ZUB_SOCKET_TYPE_CTRL:
        return static_cast<WORD16>(ctx.zubControlPort);
    case ZUB_SOCKET_TYPE_DSPLY:
        return static_cast<WORD16>(ctx.zubDataPort);
    case ZUB_SOCKET_TYPE_TAG_LOC:
        return ctx.tag_loc.port;
    case ZUB_SOCKET_TYPE_TAG_EXT:
        return ctx.tag_ext.port;
    case ZUB_SOCKET_TYPE_ANC_STAT:
        return ctx.anc_stat.port;
    case ZUB_SOCKET_TYPE_DAC_BLINK:
        return ctx.dac_interface.blink_port;
    case ZUB_SOCKET_TYPE_DAC_POS:
        return ctx.dac_interface.pos_port;
    case ZUB_SOCKET_TYPE_DAC_CCP:
        return ctx.dac_interface.ccp_port;
    case ZUB_SOCKET_TYPE_DATA_SERVER:
        return static_cast<WORD16>(ctx.data_server_port);
    default:
        return 0;
    }
}

bool zub_socket_create() { return zub_socket_create_on(qk_reactor_new()); }

bool zub_socket_create_on(reactor_handle_t* reactor)
{
    context_t* ctx = zub_context();
    reactor_info_t& info = ctx->reactor_info;
    clear_reactor_info(info);
    if (reactor == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "qk_reactor_new failed, no tcp server created.");
        return false;
    }
    info.accept_cb = zub_socket_tcp_accept_cb;
    info.rcv_from_client = zub_socket_tcp_rcv_from_client;
    zub_store(info.rcv_from_server, &zub_socket_tcp_rcv_from_server, std::memory_order_release);
    zub_store(info.sock_handle, reactor, std::memory_order_release);
    make_ctrl_pump(reactor);
    for (BYTE type = 0; type < ZUB_SOCKET_TYPE_COUNT; ++type) {
        const WORD16 port = zub_socket_server_port(*ctx, type);
        if (!zub_socket_tcp_server_create(port, type)) {
            ZUB_PRINT(ZUB_PRINT_ERROR, kServerFailLine[type], static_cast<int>(port));
            break;
        }
    }
    return true;
}

bool zub_socket_tcp_server_create(WORD16 port, BYTE type)
{
    if (port == 0) {
        return false;
    }
    const int sock = qk_socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (sock <= 0) {
        if (sock == 0) {
            qk_close(sock);
        }
        return false;
    }
    qk_socket_nonblocking(sock);
    qk_socket_reuseable(sock);
    qk_socket_nodelay(sock);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (qk_bind(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "qk_bind failed");
        return fail_server(sock);
    }
    if (qk_listen(sock, type == ZUB_SOCKET_TYPE_CTRL ? kCtrlBacklog : kReportBacklog) != 0) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "qeSocketTCPServerCreate:qk_listen failed");
        return fail_server(sock);
    }
    if (type == ZUB_SOCKET_TYPE_CTRL) {
        socket_set_keep_alive(sock);
    }
    if (type >= ZUB_SOCKET_TYPE_COUNT) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "socket type is error.close it.socket_type is %d", static_cast<int>(type));
        return fail_server(sock);
    }
    reactor_info_t& info = reactor_info();
    if (qk_reactor_attach(the_reactor(), sock, zub_socket_tcp_accept_cb, type_arg(type), REACTOR_LEVEL) == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "qk_reactor_attach failed. port = [%d].\n", static_cast<int>(port));
        return fail_server(sock);
    }
    *listen_field(info, type) = sock;
    if (type == ZUB_SOCKET_TYPE_CTRL) {
        zub_ctrl_framer().reset();
        zub_asyn_msg_send(ZUB_EV_SOCKET_RECON_CTRL_SETUP, nullptr, 0, &zub_context()->jid_reconnection);
    }
    return true;
}

void zub_socket_tcp_accept_cb(int sock, short /*what*/, void* arg)
{
    const BYTE type = arg_type(arg);
    sockaddr_in peer{};
    socklen_t peer_len = sizeof peer;
    const int client = qk_accept(sock, reinterpret_cast<sockaddr*>(&peer), &peer_len, 0);
    if (client <= 0) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "failed to accept,client_sock(%d) errno(%d) server_sock(%d)", client, errno,
                          sock);
        return;
    }
    if (type >= ZUB_SOCKET_TYPE_COUNT) {
        qk_close(client);
        return;
    }
    reactor_info_t& info = reactor_info();
    if (type == ZUB_SOCKET_TYPE_CTRL) {
        if (ctrl_present(info)) {
            ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "only one connect to zub,so close this connect socket(%d).", client);
            qk_close(client);
            return;
        }
        zub_ctrl_framer().reset();
    } else if (!list_has_room(info, zub_client_list(info, type))) {
        // Only this thread lists clients, so a list with room now still has it below.
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "displayer cnt is bigger");
        qk_close(client);
        return;
    }
    struct event* ev = qk_reactor_attach(the_reactor(), client, zub_socket_tcp_rcv_from_client, arg, REACTOR_LEVEL);
    if (ev == nullptr) {
        char ip[INET_ADDRSTRLEN] = "";
        qk_inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
        ZUB_PRINT(ZUB_PRINT_ERROR, "qk_reactor_attach failed.peerip = %s peerport = [%d] client_sock = %d socket_type = %d.",
                  ip, static_cast<int>(ntohs(peer.sin_port)), client, static_cast<int>(type));
        qk_close(client);
        return;
    }
    qk_socket_nodelay(client);
    qk_socket_nonblocking(client);
    if (type == ZUB_SOCKET_TYPE_CTRL) {
        zub_ctrl_keep_alive(client);
    }
    if (!zub_socket_reactor_save(type, client, ev)) {
        qk_reactor_detach(the_reactor(), ev);
        qk_close(client);
        ZUB_PRINT(ZUB_PRINT_ERROR, "recv accept,but check failed.client_sock(%d) server_sock(%d)", client, sock);
    }
}

void zub_socket_tcp_rcv_from_client(int sock, short /*what*/, void* arg)
{
    const BYTE type = arg_type(arg);
    const int readable = qk_socket_readable(sock);
    if (readable < 1) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_EVENT, "enter zub_socket_tcp_client_cb readable = [%d],close socket (%d)", readable,
                          sock);
        zub_socket_reactor_delete(sock, type);
        return;
    }
    if (type == ZUB_SOCKET_TYPE_CTRL) {
        read_controller(sock);
    } else {
        drop_client_input(sock);
    }
}

bool zub_socket_reactor_save(WORD32 type, int sock, struct event* ev)
{
    if (sock == 0 || ev == nullptr) {
        return false;
    }
    reactor_info_t& info = reactor_info();
    if (type == ZUB_SOCKET_TYPE_CTRL) {
        std::lock_guard<GuardMutex> lock(info.clients_lock);
        info.ctrl_client.sock = sock;
        info.ctrl_client.ev = ev;
        zub_ctrl_flow().accepted();
        return true;
    }
    sock_info_t* list = zub_client_list(info, type);
    if (list == nullptr) {
        return false;
    }
    return zub_socket_reactor_save_display(list, sock, ev);
}

bool zub_socket_reactor_save_display(sock_info_t* list, int sock, struct event* ev)
{
    if (zub_clients_save(reactor_info(), list, sock, ev)) {
        return true;
    }
    ZUB_PRINT(ZUB_PRINT_ERROR, "displayer cnt is bigger");
    return false;
}

void zub_socket_connect_to_anchor(context_t* ctx)
{
    if (ctx == nullptr) {
        return;
    }
    for (WORD32 i = 0; i < ZUB_MAX_ANCHOR_NUM; ++i) {
        Anchor& a = ctx->anchors[i];
        if (a.hardware_id == 0 || a.id >= ZUB_MAX_ANCHOR_NUM) {
            continue;
        }
        if (!zub_socket_tcp_client_create(&a)) {
            char ip[INET_ADDRSTRLEN] = "";
            qk_inet_ntop(AF_INET, &a.ip, ip, sizeof ip);
            ZUB_PRINT(ZUB_PRINT_ERROR, "zub connect to anchor(%s) failed", ip);
        }
    }
}
