#include "zub_display_job.h"

#include <sys/socket.h>
#include <sys/stat.h>

#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "XOS_Api.h"
#include "zub_client_link.h"
#include "zub_context.h"
#include "zub_job_dispatch.h"
#include "zub_display.h"
#include "zub_msg.h"
#include "zub_print.h"
#include "zub_time.h"
#include "zub_timer.h"

namespace {

constexpr WORD32 kPowerOnAck = 6003;

class job_platform final : public display_platform {
public:
    void power_on_ack() override { XOS_PowerOnAck(kPowerOnAck, nullptr, 0, 0); }
    void start_ok() override { zub_asyn_msg_send(ZUB_EV_XX_CTRL_JOB_START_OK, nullptr, 0, &zub_context()->jid_control); }
    void start_loop_timer_ms(BYTE type, WORD32 ms) override { zub_SetLoopMSecTimer(type, 0, ms); }
};

std::string& job_root()
{
    static std::string root = ZUB_DISPLAY_ROOT;
    return root;
}

struct display_job {
    display_job()
        : clients(zub_context()->reactor_info),
          core(*zub_context(), clients, platform, zub_cur_time_ms_get, job_root())
    {
    }
    reactor_display_clients clients;
    job_platform platform;
    display_core core;
};

display_job& the_job()
{
    static display_job job;
    return job;
}

}  // namespace

void zub_display_job_set_root(const char* root) { job_root() = root; }

sock_info_t* reactor_display_clients::list(display_stream s) const
{
    switch (s) {
    case display_stream::tag_loc:
        return info_.tag_loc_client;
    case display_stream::tag_ext:
        return info_.tag_ext_client;
    case display_stream::anc_stat:
        return info_.anc_stat_client;
    case display_stream::dsply:
        return info_.dsply_client;
    case display_stream::dac_blink:
        return info_.dac_blink_client;
    case display_stream::dac_pos:
        return info_.dac_pos_client;
    case display_stream::dac_ccp:
        return info_.dac_ccp_client;
    }
    return nullptr;
}

void reactor_display_clients::for_each(display_stream s, const std::function<void(unsigned, int)>& visit)
{
    const sock_info_t* l = list(s);
    std::lock_guard<GuardMutex> lock(info_.clients_lock);
    for (unsigned i = 0; i < ZUB_CLIENTS_PER_LIST; ++i) {
        if (l[i].flag != 0 && l[i].sock != 0) {
            visit(i, l[i].sock);
        }
    }
}

ssize_t reactor_display_clients::send(int sock, const BYTE* data, size_t len)
{
    return ::send(sock, data, len, MSG_DONTWAIT | MSG_NOSIGNAL);
}

WORD64 reactor_display_clients::identity(int sock)
{
    // A socket's inode number is unique among open sockets: a descriptor reused by a later
    // connection shows another one.
    struct stat st {};
    return fstat(sock, &st) == 0 ? static_cast<WORD64>(st.st_ino) : 0;
}

void reactor_display_clients::remove(display_stream s, int sock)
{
    WORD32 kind = ZUB_SOCKET_KIND_DSPLY;
    switch (s) {
    case display_stream::tag_loc:
        kind = ZUB_SOCKET_KIND_TAG_LOC;
        break;
    case display_stream::tag_ext:
        kind = ZUB_SOCKET_KIND_TAG_EXT;
        break;
    case display_stream::anc_stat:
        kind = ZUB_SOCKET_KIND_ANC_STAT;
        break;
    case display_stream::dsply:
        kind = ZUB_SOCKET_KIND_DSPLY;
        break;
    case display_stream::dac_blink:
        kind = ZUB_SOCKET_KIND_DAC_BLINK;
        break;
    case display_stream::dac_pos:
        kind = ZUB_SOCKET_KIND_DAC_POS;
        break;
    case display_stream::dac_ccp:
        kind = ZUB_SOCKET_KIND_DAC_CCP;
        break;
    }
    zub_socket_reactor_delete(sock, kind);
}

void zub_display_entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag)
{
    zub_job_dispatch("display", wState, dwMsgId, pMsgBody, [&](const BYTE* body, WORD16 len, WORD32 para) {
        return the_job().core.on_event(wState, dwMsgId, body, len, para);
    });
}
