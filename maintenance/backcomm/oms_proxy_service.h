// oms_proxy_service.h - one accepted back-communication link: hello, registration by module,
// heartbeats, the closes of unregistered and silent links, input reassembly and hand-over to
// the job, and the output queue towards the peer.
//
// Threads: every reactor callback (open, handle_input, handle_output, handle_timeout,
// handle_close) runs on the reactor thread. sendBytes may be called from any thread that holds
// a reference to the link (OmsLinkMap::find gives one). The link is reference counted: the
// acceptor's creation reference is dropped when the link closes, the reactor, its timer queue
// and pending notifications hold their own, and the last release frees the link.
#pragma once

#include <ace/SOCK_Stream.h>
#include <ace/Svc_Handler.h>
#include <ace/Synch_Traits.h>

#include <atomic>
#include <cstddef>

#include "backcomm_job_port.h"
#include "link_input.h"
#include "link_output.h"
#include "omc_msg_head.h"
#include "oms_link_manager.h"

class OmsProxyService;
using OmsLinkManager = OmsLinkMap<OmsProxyService>;

struct LinkInfo {
    WORD16 wPeerModule; // meaningful only once registered (module 0 is a valid module)
    BYTE bState;
};

class OmsProxyService : public ACE_Svc_Handler<ACE_SOCK_STREAM, ACE_MT_SYNCH> {
public:
    static constexpr BYTE kAccepted = 2;
    static constexpr BYTE kRegistered = 3;
    static constexpr int kUnregisteredTicks = 15; // ticks of 1 s, the first at once
    static constexpr int kSilentTicks = 16;
    static constexpr int kHeartbeatTicks = 3;

    OmsProxyService();
    ~OmsProxyService() override;

    // Set by the acceptor before open().
    void attach(OmsLinkManager* links, BackCommJobPort* job);

    int open(void* acceptor) override;
    int handle_input(ACE_HANDLE fd) override;
    int handle_output(ACE_HANDLE fd) override;
    int handle_timeout(const ACE_Time_Value& now, const void* act) override;
    int handle_close(ACE_HANDLE fd, ACE_Reactor_Mask mask) override;

    // Copies len bytes (a head and its body) into a new block, marks the copy's dwEndian and queues
    // it without waiting. 1 queued, 0 when the block cannot be made or queued (link closed, queue
    // full). Any thread.
    int sendBytes(const void* data, std::size_t len);

    // Takes bytes as if the link's socket had just delivered them (what handle_input does after
    // its read): reassembly, registration, heartbeats and the hand-over to the job. Reactor thread.
    void receive(const BYTE* data, std::size_t len);

    // Binds a module to a link: 1, or 0 when the module is bound already.
    int regConection(WORD32 module, OmsProxyService* link);
    void unregConection(WORD32 module);

    BYTE state() const { return m_bState.load(); }
    bool closed() const { return closed_.load(); }

private:
    bool take_messages(); // false when a message closed the link
    bool readMsgHead(T_OMCMsgHead* head, const BYTE** body, bool* oversized);
    bool on_message(const T_OMCMsgHead& head, const BYTE* body);
    void dispatchMsg(const T_OMCMsgHead& head, const BYTE* body);
    void queue_link_head(WORD32 msg_id);
    void flush_output();
    void close_link();

    std::atomic<BYTE> m_bState{0};
    int m_iTimes = 0;
    int m_iHeartBeats = 0;
    BYTE m_iLostShakeCnt = 0;
    LinkInput m_InBuffer;
    LinkOutput output_;
    LinkInfo m_linkInfo{0, 0};
    BackCommJobPort* ptBackCommJob = nullptr;
    OmsLinkManager* links_ = nullptr;
    std::atomic<bool> closed_{false};
    bool write_armed_ = false; // reactor thread: output events requested
    bool holds_creation_ref_ = true;
};
