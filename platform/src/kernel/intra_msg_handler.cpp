// intra_msg_handler.cpp - the process's intra-board UDP endpoint: bound to 127.0.0.1 at the own
// port, it turns each datagram of the partner program (or its own) back into a queued job-message
// block.
#include "kernel_internal.h"
#include "CNPlatLogLimit.h"

#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
constexpr int kSocketBufferBytes = 1048576;

// True when the program says that this job type takes this message from in-process sends only.
bool local_only(WORD32 dwJobType, WORD32 dwMsgId)
{
    const CN_PlatformProfile& prof = cn_kernel::profile();
    for (WORD16 i = 0; i < prof.wLocalOnlyMsgCount && prof.ptLocalOnlyMsgs != nullptr; ++i) {
        const CN_LocalOnlyMsg& row = prof.ptLocalOnlyMsgs[i];
        if (row.wJobType == dwJobType && row.dwMsgId == dwMsgId) {
            return true;
        }
    }
    return false;
}
} // namespace

int CNIntraMsgHandler::Open(WORD16 wPort)
{
    wPort_ = wPort;
    local_.set(wPort, "127.0.0.1");
    if (sock_.open(local_, AF_INET, 0, 0) == -1) {
        CN_PlatLog("can't open socket with port[%d], Reason:Another process for this module[%d]/unit[%d] is running\n",
                   wPort, _thisModuleNo, _thisUnit);
        return -1;
    }
    int size = kSocketBufferBytes;
    sock_.set_option(SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sock_.set_option(SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    std::memset(abRecvBuf_, 0, sizeof abRecvBuf_);
    return 0;
}

ACE_HANDLE CNIntraMsgHandler::get_handle() const { return sock_.get_handle(); }

int CNIntraMsgHandler::handle_input(ACE_HANDLE fd)
{
    ACE_INET_Addr from;
    ssize_t n = sock_.recv(abRecvBuf_, sizeof abRecvBuf_, from);
    if (n > 0) {
        Deliver(abRecvBuf_, n, from);
    }
    return 0;
}

// Every send of the partner program leaves from its bound port on 127.0.0.1, and a port is bound
// by one process at a time: nothing else on the machine has a reason to send here. The own port
// is taken too: a job's message for route type 5 to another module leaves for 20010, which in
// qes_omp is its own port (the route-type-5 diversion then hands it to the back-communication job).
bool CNIntraMsgHandler::from_partner_or_self(const ACE_INET_Addr& from, ssize_t len)
{
    const WORD16 partner = cn_kernel::profile().wPartnerPort;
    const WORD16 port = from.get_port_number();
    if (from.get_type() == AF_INET && from.get_ip_address() == INADDR_LOOPBACK && port != 0 &&
        (port == partner || port == wPort_)) {
        return true;
    }
    const WORD64 dropped = qwForeignDrops_.fetch_add(1, std::memory_order_relaxed) + 1;
    char host[INET6_ADDRSTRLEN] = "?";
    from.get_host_addr(host, sizeof host);
    CN_PLAT_LOG_LIMITED("CNIntraMsgHandler: datagram of %zd bytes from %s:%u is not from the partner program "
                        "(127.0.0.1:%u), dropped (%llu so far)\n",
                        len, host, static_cast<unsigned>(port), static_cast<unsigned>(partner),
                        static_cast<unsigned long long>(dropped));
    return false;
}

void CNIntraMsgHandler::Deliver(const BYTE* pData, ssize_t len, const ACE_INET_Addr& from)
{
    if (len <= 0 || !from_partner_or_self(from, len)) {
        return;
    }
    if (static_cast<size_t>(len) < sizeof(T_CNMessageHead)) {
        CN_PLAT_LOG_LIMITED("CNIntraMsgHandler: datagram of %zd bytes is shorter than a message header, dropped\n", len);
        return;
    }
    T_CNMessageHead head;
    std::memcpy(&head, pData, sizeof head);
    if (head.dwMsgLen != static_cast<size_t>(len) - sizeof head) {
        CN_PLAT_LOG_LIMITED("CNIntraMsgHandler: datagram of %zd bytes announces dwMsgLen=%u, dropped (dwMsgId=%u)\n", len,
                   head.dwMsgLen, head.dwMsgID);
        return;
    }
    CN_Job_Base* job = cn_kernel::delivery_job(head, false);
    if (job == nullptr || job->GetParentTask() == nullptr) {
        return;
    }
    // Such a body is an address in the sender's memory: whoever sent it over the wire, taking
    // it would make the job read or free memory that is not what it believes.
    if (local_only(job->GetJobType(), head.dwMsgID)) {
        CN_PLAT_LOG_LIMITED("CNIntraMsgHandler: msg 0x%X for job %s is taken from in-process sends only, datagram of "
                            "%zd bytes dropped\n",
                            head.dwMsgID, job->GetJobName().c_str(), len);
        return;
    }
    ACE_Message_Block* mb = cn_kernel::make_block(static_cast<size_t>(len), MB_USER_JOB_MESSAGE, 0);
    if (mb == nullptr) {
        CN_PlatLog("Copy failure at filename=%s,line+%d!\n", __FILE__, __LINE__);
        return;
    }
    std::memcpy(mb->wr_ptr(), pData, static_cast<size_t>(len));
    mb->wr_ptr(static_cast<size_t>(len));
    if (job->GetParentTask()->PutBlock(mb, false) == -1) {
        mb->release();
        CN_PLAT_LOG_LIMITED("CNIntraMsgHandler input but msg queue is full err!\n");
    }
}

int CNIntraMsgHandler::handle_exception(ACE_HANDLE fd) { return 0; }

int CNIntraMsgHandler::handle_close(ACE_HANDLE fd, ACE_Reactor_Mask mask)
{
    sock_.close();
    delete this;
    return 0;
}

int CNIntraMsgHandler::SendDatagram(const void* pData, size_t len, WORD16 wPort)
{
    ACE_INET_Addr to(wPort, "127.0.0.1");
    ssize_t n = sock_.send(pData, len, to);
    return (n == static_cast<ssize_t>(len)) ? 0 : -1;
}
