#include "zub_recon_job.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <exception>
#include <mutex>
#include <string>

#include "XOS_Api.h"
#include "zub_client_link.h"
#include "zub_context.h"
#include "zub_job_dispatch.h"
#include "zub_msg.h"
#include "zub_print.h"
#include "zub_time.h"
#include "zub_timer.h"

namespace {

constexpr WORD32 kPowerOnAck = 6003;

std::string& job_root()
{
    static std::string root = ZUB_RECON_ROOT;
    return root;
}

recon_core& the_core()
{
    static job_recon_links links;
    static recon_core core(*zub_context(), links, zub_cur_time_ms_get, job_root());
    return core;
}

}  // namespace

void zub_recon_job_set_root(const char* root) { job_root() = root; }

bool zub_tcp_established(int sock)
{
    struct tcp_info info {};
    socklen_t len = sizeof info;
    if (sock <= 0 || getsockopt(sock, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) {
        return false;
    }
    return info.tcpi_state == TCP_ESTABLISHED;
}

void job_recon_links::power_on_ack() { XOS_PowerOnAck(kPowerOnAck, nullptr, 0, 0); }

void job_recon_links::start_ok()
{
    zub_asyn_msg_send(ZUB_EV_XX_CTRL_JOB_START_OK, nullptr, 0, &zub_context()->jid_control);
}

void job_recon_links::start_complete()
{
    zub_asyn_msg_send(ZUB_EV_RECON_START_COMPLETE, nullptr, 0, &zub_context()->jid_reconnection);
}

void job_recon_links::tell_display(WORD16 local_id)
{
    const BYTE body[2] = {static_cast<BYTE>(local_id), static_cast<BYTE>(local_id >> 8)};
    zub_asyn_msg_send(ZUB_EV_RECON_DISPLAY_MSG, body, sizeof body, &zub_context()->jid_display);
}

WORD32 job_recon_links::start_loop_timer(BYTE type, WORD32 seconds) { return zub_SetLoopTimer(type, 0, seconds); }

void job_recon_links::kill_timer(WORD32 id) { zub_DelTimer(id); }

WORD32 job_recon_links::anchor_socket(const Anchor& a) { return a.link_socket(); }

bool job_recon_links::socket_established(int sock) { return zub_tcp_established(sock); }

void job_recon_links::anchor_close(Anchor& a) { zub_socket_anchor_close(&a); }

bool job_recon_links::anchor_open(Anchor& a) { return zub_socket_tcp_client_create(&a); }

int job_recon_links::ctrl_socket()
{
    reactor_info_t& info = zub_context()->reactor_info;
    std::lock_guard<GuardMutex> lock(info.clients_lock);
    return info.ctrl_client.sock;
}

void job_recon_links::ctrl_remove(int sock) { zub_socket_reactor_delete(sock, ZUB_SOCKET_KIND_CTRL); }

void zub_recon_entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag)
{
    zub_job_dispatch("recon", wState, dwMsgId, pMsgBody, [&](const BYTE* body, WORD16 len, WORD32 para) {
        return the_core().on_event(wState, dwMsgId, body, len, para);
    });
}
