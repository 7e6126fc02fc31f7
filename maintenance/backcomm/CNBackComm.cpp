#include "CNBackComm.h"

#include <ace/INET_Addr.h>

#include <csignal>
#include <cstring>
#include <vector>

#include "VorlenComm.h"
#include "backcomm_job_port.h"
#include "comm_back_acceptor.h"
#include "CNPlatLogLimit.h"

namespace {

// Lives for the process: the reactor may still refer to it while the program ends.
CommBackAcceptor& backcomm_acceptor() {
    static CommBackAcceptor* acceptor = new CommBackAcceptor;
    return *acceptor;
}

void forward_from_peer(const BYTE* data, WORD16 len) {
    T_OMCMsgHead head;
    const BYTE* body = nullptr;
    if (!peer_message_view(data, len, &head, &body)) {
        CN_PLAT_LOG_LIMITED("BackComm drop peer msg: %u bytes do not hold its head and body\n", len);
        return;
    }
    if (XOS_SendAsynMsgNJ(head.dwMsgId, const_cast<BYTE*>(body), head.wMsgSize, head.ucMsgVer, head.ucMsgType,
                          &head.tSender, &head.tReceiver) != 0) {
        CN_PLAT_LOG_LIMITED("BackComm fail to forward msg[%u] from wModule[%u] to dwJno[0x%x] wModule[%u]\n", head.dwMsgId,
                   head.tSender.wModule, head.tReceiver.dwJno, head.tReceiver.wModule);
    }
}

void on_idle(WORD32 dwMsgId) {
    if (dwMsgId == CN_MSG_POWER_ON) {
        startBackCommserver();
    }
    XOS_SetNextState(kBackCommRunning);
}

void on_running(WORD32 dwMsgId, void* pMsgBody) {
    JID sender;
    std::memset(&sender, 0, sizeof sender);
    WORD16 len = 0;
    XOS_Sender(&sender);
    XOS_GetMsgDataLen(&len);
    const BYTE* data = static_cast<const BYTE*>(pMsgBody);
    if (sender.ucRouteType == kBackCommRouteType) {
        forward_from_peer(data, len);
        return;
    }
    JID receiver;
    std::memset(&receiver, 0, sizeof receiver);
    XOS_Receiver(&receiver);
    sendBackCommMsg(dwMsgId, const_cast<BYTE*>(data), len, 0, 2, &receiver, &sender);
}

} // namespace

void backComm_Job_Entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void*, BYTE) {
    switch (wState) {
    case kBackCommIdle: return on_idle(dwMsgId);
    default: return on_running(dwMsgId, pMsgBody);
    }
}

WORD32 startBackCommserver() {
    CN_PlatLog(" start backcomm server on 5059 \n");
    std::signal(SIGPIPE, SIG_IGN);
    CN_Job_Base* job = CN_Job_Base::GetPCB();
    ACE_Reactor* reactor = CN_GetProcessReactor();
    if (job == nullptr || reactor == nullptr) {
        CN_PlatLog(" fail to backcomm server on 5059 \n");
        return 1;
    }
    static PlatformJobPort* port = nullptr;
    if (port == nullptr) {
        port = new PlatformJobPort(job);
    }
    CommBackAcceptor& acceptor = backcomm_acceptor();
    acceptor.attach(&backcomm_connections(), port);
    if (acceptor.listen(ACE_INET_Addr(kBackCommPort), reactor) == -1) {
        CN_PlatLog(" fail to backcomm server on 5059 \n");
        return 1;
    }
    return 0;
}
