#include "oms_proxy_service.h"

#include <ace/INET_Addr.h>
#include <ace/Reactor.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

#include "CNPlatLog.h"
#include "CNPlatLogLimit.h"

namespace {

const ACE_Time_Value kTickPeriod(1, 0);

bool try_again(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == EINTR; }

} // namespace

OmsProxyService::OmsProxyService() {
    reference_counting_policy().value(ACE_Event_Handler::Reference_Counting_Policy::ENABLED);
}

OmsProxyService::~OmsProxyService() = default;

void OmsProxyService::attach(OmsLinkManager* links, BackCommJobPort* job) {
    links_ = links;
    ptBackCommJob = job;
}

int OmsProxyService::open(void*) {
    ACE_Reactor* r = reactor();
    if (r == nullptr || links_ == nullptr || ptBackCommJob == nullptr) {
        return -1;
    }
    if (r->register_handler(this, ACE_Event_Handler::READ_MASK) == -1) {
        CN_PlatLog(" OmsProxyService fail to register link with reactor \n");
        return -1;
    }
    const JID self = ptBackCommJob->self_jid();
    CN_PLAT_LOG_LIMITED(" OmsProxyService with Jid=%d,wModule=%d\n", self.dwJno, self.wModule);
    ACE_INET_Addr remote;
    char address[64] = "?";
    if (peer().get_remote_addr(remote) == 0) {
        remote.addr_to_string(address, sizeof address);
    }
    CN_PLAT_LOG_LIMITED(" Connection from %s\n", address);

    if (r->schedule_timer(this, nullptr, ACE_Time_Value::zero, kTickPeriod) == -1) {
        CN_PlatLog(" OmsProxyService fail to schedule link timer \n");
        return -1;
    }
    m_bState = kAccepted;
    m_iTimes = 0;
    queue_link_head(kOmcMsgHello);
    return 0;
}

int OmsProxyService::handle_input(ACE_HANDLE) {
    if (closed_) {
        return 0;
    }
    const std::size_t space = m_InBuffer.write_space();
    const ssize_t got = space == 0 ? 0 : peer().recv(m_InBuffer.write_area(), space);
    if (got < 0 && try_again(errno)) {
        return 0;
    }
    if (got < 1) {
        CN_PLAT_LOG_LIMITED(" readData error \n");
        close_link();
        return 0;
    }
    m_InBuffer.commit(static_cast<std::size_t>(got));
    take_messages();
    return 0;
}

void OmsProxyService::receive(const BYTE* data, std::size_t len) {
    if (closed_) {
        return;
    }
    while (len != 0) {
        const std::size_t n = std::min(len, m_InBuffer.write_space());
        if (n == 0) {
            CN_PLAT_LOG_LIMITED(" readData error \n");
            close_link();
            return;
        }
        std::memcpy(m_InBuffer.write_area(), data, n);
        m_InBuffer.commit(n);
        data += n;
        len -= n;
        if (!take_messages()) {
            return; // closed: the link may be gone
        }
    }
}

bool OmsProxyService::take_messages() {
    T_OMCMsgHead head;
    const BYTE* body = nullptr;
    bool oversized = false;
    while (readMsgHead(&head, &body, &oversized)) {
        if (oversized) {
            CN_PLAT_LOG_LIMITED("OmsProxyService drop msg[%u] from wModule[%u]: body of %u bytes above %u\n", head.dwMsgId,
                       head.tSender.wModule, head.wMsgSize, static_cast<unsigned>(LinkInput::kMaxBody));
            if (m_bState == kRegistered) {
                m_iLostShakeCnt = 0;
            }
            continue;
        }
        if (!on_message(head, body)) {
            close_link();
            return false;
        }
    }
    return true;
}

bool OmsProxyService::readMsgHead(T_OMCMsgHead* head, const BYTE** body, bool* oversized) {
    switch (m_InBuffer.next(head, body)) {
    case LinkInput::Result::kMessage: *oversized = false; return true;
    case LinkInput::Result::kOversized: *oversized = true; return true;
    case LinkInput::Result::kNeedMore: break;
    }
    return false;
}

bool OmsProxyService::on_message(const T_OMCMsgHead& head, const BYTE* body) {
    if (m_bState != kRegistered) {
        if (head.dwMsgId != kOmcMsgRegister) {
            return true;
        }
        const WORD16 module = head.tSender.wModule;
        if (regConection(module, this) == 0) {
            CN_PLAT_LOG_LIMITED("fail to regConection [wModule=%d]\n", module);
            return false;
        }
        m_linkInfo.wPeerModule = module;
        m_linkInfo.bState = kRegistered;
        m_iHeartBeats = 0;
        m_iLostShakeCnt = 0;
        m_bState = kRegistered;
        CN_PLAT_LOG_LIMITED(" OmsProxyService registered wModule[%u]\n", module);
        return true;
    }
    m_iLostShakeCnt = 0;
    if (head.dwMsgId == kOmcMsgHeartbeat) {
        return true;
    }
    if (head.tSender.ucRouteType != 5) {
        // Answers find their way back only through route type 5; without it the job would take
        // the message for an answer and echo it to some peer.
        CN_PLAT_LOG_LIMITED("OmsProxyService drop msg[%u] from wModule[%u]: sender route type %u is not 5\n", head.dwMsgId,
                   m_linkInfo.wPeerModule, head.tSender.ucRouteType);
        return true;
    }
    dispatchMsg(head, body);
    return true;
}

void OmsProxyService::dispatchMsg(const T_OMCMsgHead& head, const BYTE* body) {
    // The message data is the host-order head and the body, so the job can check one against
    // the other before it forwards the body.
    const std::size_t data_len = kOmcHeadSize + head.wMsgSize;
    ACE_Message_Block* block = nullptr;
    ACE_NEW_NORETURN(block, ACE_Message_Block(sizeof(T_CNMessageHead) + data_len,
                                              static_cast<ACE_Message_Block::ACE_Message_Type>(MB_USER_JOB_MESSAGE)));
    if (block == nullptr || block->base() == nullptr) {
        delete block;
        CN_PlatLog("OmsProxyService::dispatchMsg no block for msg[%u] from wModule[%u]\n", head.dwMsgId,
                   m_linkInfo.wPeerModule);
        return;
    }
    T_CNMessageHead msg;
    std::memset(&msg, 0, sizeof msg);
    msg.DestJID = ptBackCommJob->self_jid();
    msg.SrcJID = head.tSender;
    msg.dwMsgID = head.dwMsgId;
    msg.dwMsgLen = static_cast<WORD32>(data_len);
    block->copy(reinterpret_cast<const char*>(&msg), sizeof msg);
    block->copy(reinterpret_cast<const char*>(&head), kOmcHeadSize);
    if (head.wMsgSize != 0) {
        block->copy(reinterpret_cast<const char*>(body), head.wMsgSize);
    }
    if (ptBackCommJob->hand_over(block) != 0) {
        block->release();
        CN_PLAT_LOG_LIMITED("OmsProxyService::dispatchMsg BackComm queue refused msg[%u] from wModule[%u]\n", head.dwMsgId,
                   m_linkInfo.wPeerModule);
    }
}

int OmsProxyService::handle_timeout(const ACE_Time_Value&, const void*) {
    if (closed_) {
        return 0;
    }
    if (m_bState != kRegistered) {
        if (++m_iTimes >= kUnregisteredTicks) {
            CN_PLAT_LOG_LIMITED("Accept link overtime, so to close socket!\n");
            m_iTimes = 0;
            close_link();
        }
        return 0;
    }
    if (++m_iLostShakeCnt >= kSilentTicks) {
        CN_PLAT_LOG_LIMITED("OmsProxyService wModule[%u] silent for %d s, so to close socket!\n", m_linkInfo.wPeerModule,
                   kSilentTicks - 1);
        close_link();
        return 0;
    }
    if (++m_iHeartBeats >= kHeartbeatTicks) {
        m_iHeartBeats = 0;
        queue_link_head(kOmcMsgHeartbeat);
    }
    return 0;
}

void OmsProxyService::queue_link_head(WORD32 msg_id) {
    BYTE wire[kOmcHeadSize];
    omc_head_encode(omc_link_head(msg_id), wire);
    if (sendBytes(wire, sizeof wire) == 0) {
        CN_PLAT_LOG_LIMITED("OmsProxyService lost link head %u for wModule[%u]\n", msg_id, m_linkInfo.wPeerModule);
    }
}

int OmsProxyService::sendBytes(const void* data, std::size_t len) {
    if (closed_) {
        return 0;
    }
    ACE_Message_Block* block = nullptr;
    ACE_NEW_NORETURN(block, ACE_Message_Block(len));
    if (block == nullptr || block->base() == nullptr) {
        delete block;
        return 0;
    }
    block->copy(static_cast<const char*>(data), len);
    if (len >= kOmcEndianOffset + sizeof(WORD32)) {
        const WORD32 mark = kOmcEndianMark;
        std::memcpy(block->base() + kOmcEndianOffset, &mark, sizeof mark);
    }
    if (!output_.queue(block)) {
        block->release();
        return 0;
    }
    if (output_.claim_wakeup()) {
        ACE_Reactor* r = reactor();
        if (r == nullptr || r->notify(this, ACE_Event_Handler::WRITE_MASK) == -1) {
            output_.wakeup_failed();
        }
    }
    return 1;
}

int OmsProxyService::handle_output(ACE_HANDLE) {
    if (!closed_) {
        flush_output();
    }
    return 0;
}

void OmsProxyService::flush_output() {
    const LinkOutput::Drain result = output_.drain([this](const void* data, std::size_t len) {
        return peer().send(data, len, MSG_NOSIGNAL);
    });
    if (result == LinkOutput::Drain::kFailed) {
        CN_PLAT_LOG_LIMITED("OmsProxyService send error %d on wModule[%u], so to close socket!\n", errno,
                   m_linkInfo.wPeerModule);
        close_link();
        return;
    }
    const bool want_write = result == LinkOutput::Drain::kBlocked;
    if (want_write != write_armed_) {
        write_armed_ = want_write;
        if (want_write) {
            reactor()->schedule_wakeup(this, ACE_Event_Handler::WRITE_MASK);
        } else {
            reactor()->cancel_wakeup(this, ACE_Event_Handler::WRITE_MASK);
        }
    }
}

int OmsProxyService::regConection(WORD32 module, OmsProxyService* link) {
    return links_->bind(module, link) ? 1 : 0;
}

void OmsProxyService::unregConection(WORD32 module) {
    if (links_->total_size() == 0) {
        CN_PlatLog("OmsProxyService::unregConection,m_OmsConnections.total_size() is 0,wModule[%u]\n", module);
        return;
    }
    links_->unbind(module, this);
}

void OmsProxyService::close_link() { handle_close(ACE_INVALID_HANDLE, ACE_Event_Handler::ALL_EVENTS_MASK); }

int OmsProxyService::handle_close(ACE_HANDLE, ACE_Reactor_Mask) {
    if (closed_.exchange(true)) {
        return 0;
    }
    if (m_bState == kRegistered) {
        CN_PLAT_LOG_LIMITED("OmsProxyService::handle_close, wModule[%u]\n", m_linkInfo.wPeerModule);
        unregConection(m_linkInfo.wPeerModule);
    }
    if (ACE_Reactor* r = reactor()) {
        r->cancel_timer(this);
        if (peer().get_handle() != ACE_INVALID_HANDLE) {
            r->remove_handler(this, ACE_Event_Handler::ALL_EVENTS_MASK | ACE_Event_Handler::DONT_CALL);
        }
    }
    output_.close();
    peer().close();
    closing_ = true; // torn down here; the base destructor must not do it again
    if (holds_creation_ref_) {
        holds_creation_ref_ = false;
        remove_reference(); // may free this link: nothing after it
    }
    return 0;
}
