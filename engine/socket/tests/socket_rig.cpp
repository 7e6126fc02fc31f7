#include "socket_rig.h"

#include <arpa/inet.h>
#include <event2/event.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "qk_reactor.h"
#include "zub_client_link.h"
#include "zub_context.h"
#include "zub_ctrl_flow.h"
#include "zub_msg_id.h"
#include "zub_shared_field.h"

namespace srig {

namespace {

std::mutex g_lines_mutex;
std::vector<std::string> g_lines;
std::atomic<bool> g_hold{false};

void take_line(const ct::Call& c)
{
    if (c.msgId != ZUB_EV_SOCKET_CONTROL_MSG || c.body.size() != sizeof(char*)) {
        return;
    }
    char* line = nullptr;
    std::memcpy(&line, c.body.data(), sizeof line);
    while (g_hold.load()) {
        std::this_thread::sleep_for(1ms);
    }
    // As the control job: a line counts as taken, and one of a controller gone is not run.
    if (zub_ctrl_flow().take()) {
        std::lock_guard<std::mutex> lock(g_lines_mutex);
        g_lines.emplace_back(line);
    }
    std::free(line);
}

int collect_event(const event_base*, const event* ev, void* out)
{
    const event_callback_fn cb = event_get_callback(ev);
    if (cb != zub_socket_tcp_accept_cb && cb != zub_socket_tcp_rcv_from_client) {
        return 0;  // the base's own events
    }
    static_cast<std::vector<event*>*>(out)->push_back(const_cast<event*>(ev));
    return 0;
}

void noop_cb(evutil_socket_t, short, void*) {}

// Everything the servers left behind, removed on the socket job's thread once the loop is out.
void tear_down()
{
    reactor_info_t& info = zub_context()->reactor_info;
    reactor_handle_t* handle = zub_load(info.sock_handle, std::memory_order_acquire);
    zub_socket_reactor_delete(info.ctrl_client.sock, ZUB_SOCKET_TYPE_CTRL);
    for (WORD32 t = 1; t < ZUB_SOCKET_TYPE_COUNT; ++t) {
        sock_info_t* list = zub_client_list(info, t);
        for (unsigned i = 0; i < ZUB_CLIENTS_PER_LIST; ++i) {
            if (list[i].flag == 1) {
                zub_socket_reactor_delete(list[i].sock, t);
            }
        }
    }
    if (handle == nullptr) {
        return;
    }
    zub_socket_release_ctrl_pump();
    zub_ctrl_flow().reset();
    std::vector<event*> events;
    event_base_foreach_event(handle->base, collect_event, &events);
    for (event* ev : events) {
        const int fd = event_get_fd(ev);
        qk_reactor_detach(handle, ev);
        close(fd);
    }
    zub_store(info.sock_handle, static_cast<reactor_handle_t*>(nullptr), std::memory_order_release);
    qk_reactor_free(handle);
    for (int32_t* listening : {&info.ctrl_sock, &info.dsply_sock, &info.tag_loc_sock, &info.tag_ext_sock,
                               &info.anc_stat_sock, &info.dac_blink_sock, &info.dac_pos_sock, &info.dac_ccp_sock,
                               &info.data_server_sock}) {
        *listening = 0;
    }
}

}  // namespace

std::array<WORD16, ZUB_SOCKET_TYPE_COUNT> free_ports()
{
    std::array<WORD16, ZUB_SOCKET_TYPE_COUNT> ports{};
    std::array<int, ZUB_SOCKET_TYPE_COUNT> fds{};
    for (size_t i = 0; i < ports.size(); ++i) {
        fds[i] = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        socklen_t len = sizeof a;
        bind(fds[i], reinterpret_cast<sockaddr*>(&a), sizeof a);
        getsockname(fds[i], reinterpret_cast<sockaddr*>(&a), &len);
        ports[i] = ntohs(a.sin_port);
    }
    for (int fd : fds) {
        close(fd);
    }
    return ports;
}

void configure_ports(const std::array<WORD16, ZUB_SOCKET_TYPE_COUNT>& p)
{
    context_t* ctx = zub_context();
    ctx->zubControlPort = p[0];
    ctx->zubDataPort = p[1];
    ctx->tag_loc.port = p[2];
    ctx->tag_ext.port = p[3];
    ctx->anc_stat.port = p[4];
    ctx->dac_interface.blink_port = p[5];
    ctx->dac_interface.pos_port = p[6];
    ctx->dac_interface.ccp_port = p[7];
    ctx->data_server_port = p[8];
}

std::vector<std::string> ctrl_lines()
{
    std::lock_guard<std::mutex> lock(g_lines_mutex);
    return g_lines;
}

void take_ctrl_lines()
{
    {
        std::lock_guard<std::mutex> lock(g_lines_mutex);
        g_lines.clear();
    }
    ct::Recorder::instance().set_reaction(QE_JOBTYPE_ZUB_CONTROL, take_line);
}

void hold_ctrl_lines(bool on) { g_hold.store(on); }

bool wait_ctrl_lines(size_t n, std::chrono::milliseconds timeout)
{
    return wait_until([n] { return ctrl_lines().size() >= n; }, timeout);
}

Servers::Servers() = default;

Servers::~Servers() { stop(); }

bool Servers::create()
{
    created_ = true;
    return ct::run_on_job(QE_JOBTYPE_ZUB_SOCKET, [] { zub_socket_create(); });
}

bool Servers::run()
{
    reactor_handle_t* handle = zub_load(zub_context()->reactor_info.sock_handle, std::memory_order_acquire);
    if (handle == nullptr) {
        return false;
    }
    stop_ = false;
    done_ = false;
    loop_ = [this, handle] {
        while (!stop_.load()) {
            qk_reactor_run(handle, REACTOR_RUN_ONCE);
        }
        done_ = true;
    };
    if (!probe::post_to_job(QE_JOBTYPE_ZUB_SOCKET, &loop_)) {
        done_ = true;
        return false;
    }
    return true;
}

void Servers::stop()
{
    reactor_handle_t* handle = zub_load(zub_context()->reactor_info.sock_handle, std::memory_order_acquire);
    stop_ = true;
    while (!done_.load()) {
        // A zero time-out wakes a pass that waits for sockets.
        const timeval now{0, 0};
        event_base_once(handle->base, -1, EV_TIMEOUT, noop_cb, nullptr, &now);
        std::this_thread::sleep_for(1ms);
    }
    if (created_) {
        ct::run_on_job(QE_JOBTYPE_ZUB_SOCKET, tear_down);
        created_ = false;
    }
}

int connect_to(WORD16 port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool peer_closed(int fd, std::chrono::milliseconds timeout)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) != 1) {
        return false;
    }
    char c;
    const ssize_t n = recv(fd, &c, 1, MSG_DONTWAIT);
    // A peer that closes with unread bytes resets the connection instead.
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

unsigned listed(BYTE type)
{
    reactor_info_t& info = zub_context()->reactor_info;
    std::lock_guard<GuardMutex> lock(info.clients_lock);
    if (type == ZUB_SOCKET_TYPE_CTRL) {
        return info.ctrl_client.sock != 0 ? 1 : 0;
    }
    unsigned n = 0;
    const sock_info_t* list = zub_client_list(info, type);
    for (unsigned i = 0; i < ZUB_CLIENTS_PER_LIST; ++i) {
        n += list[i].flag == 1 && list[i].sock != 0 ? 1 : 0;
    }
    return n;
}

bool wait_until(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

}  // namespace srig
