// The socket job's entry: power-on, the start event, then the reactor loop.
#include <csignal>

#include "CNPlatform.h"
#include "XOS_Api.h"
#include "qk_reactor.h"
#include "zub_context.h"
#include "zub_msg.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_shared_field.h"
#include "zub_socket.h"

namespace {

void zub_socket_init(WORD32 event)
{
    if (event != ZUB_SOCKET_POWER_ON && event != ZUB_SOCKET_POWER_ON_AGAIN) {
        // A start event before power-on comes again with the control job's retry.
        return;
    }
    std::signal(SIGPIPE, SIG_IGN);
    XOS_PowerOnAck(CN_MSG_POWER_ON_ACK, nullptr, 0, 0);
    XOS_SetNextState(ZUB_SOCKET_STATE_STARTUP);
}

void zub_socket_startup(WORD32 event)
{
    if (event != ZUB_EV_CTRL_XX_INIT_START) {
        return;
    }
    zub_socket_create();
    zub_asyn_msg_send(ZUB_EV_XX_CTRL_JOB_START_OK, nullptr, 0, &zub_context()->jid_control);
    JID self{};
    if (XOS_GetSelfJID(&self) == 0) {
        zub_asyn_msg_send(ZUB_EV_SOCKET_LINK_SETUP, nullptr, 0, &self);
    }
    XOS_SetNextState(ZUB_SOCKET_STATE_RUN);
}

void zub_socket_master(WORD32 event)
{
    if (event != ZUB_EV_SOCKET_LINK_SETUP) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "recv error unknown msgid(%d)", static_cast<int>(event));
        return;
    }
    reactor_handle_t* reactor = zub_load(zub_context()->reactor_info.sock_handle, std::memory_order_acquire);
    if (reactor == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "no reactor, socket job does not enter the reactor loop");
        return;
    }
    // The loop never returns to the task, so nothing it sends may wait for the task's turn.
    CN_SendWakesAtOnce();
    const int rc = qk_reactor_run(reactor, REACTOR_RUN_BLOCK);
    ZUB_PRINT(ZUB_PRINT_ERROR, "reactor loop of the socket job ended, rc = %d", rc);
}

}  // namespace

void zub_socket_entry(WORD16 state, WORD32 event, void* /*body*/, void* /*priv*/, BYTE /*flag*/)
{
    switch (state) {
    case ZUB_SOCKET_STATE_INIT:
        return zub_socket_init(event);
    case ZUB_SOCKET_STATE_STARTUP:
        return zub_socket_startup(event);
    case ZUB_SOCKET_STATE_RUN:
        return zub_socket_master(event);
    default:
        return;
    }
}
