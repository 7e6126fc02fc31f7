// job_msg_api.cpp - the job-bound part of the job API: state, sends (in the process and over
// the intra-board UDP transport) and the accessors of the current message.
#include "kernel_internal.h"
#include "CNPlatLogLimit.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr WORD32 kSendFail = 1;
constexpr WORD32 kSendRefused = 0xFFFFFFFF;
constexpr size_t kJobBlockExtraByte = 1; // job sends carry one spare byte behind the data

CN_Job_Base* current_job() { return CN_Job_Base::GetPCB(); }

T_CNMessageHead make_head(const JID& dest, const JID& src, WORD32 dwMsgId, WORD16 wMsgLen, BYTE ucVer)
{
    T_CNMessageHead head{};
    head.DestJID = dest;
    head.SrcJID = src;
    head.dwMsgID = dwMsgId;
    head.dwMsgLen = wMsgLen;
    head.ucMsgEndFlg = ucVer;
    return head;
}

// One datagram of header and data to the receiver's port (20010 for route type 5).
WORD32 send_datagram(const T_CNMessageHead& head, const BYTE* pucData, WORD16 wMsgLen)
{
    if (pucData == nullptr && wMsgLen != 0) {
        return kSendFail;
    }
    size_t total = sizeof head + wMsgLen;
    if (total > CN_INTRA_RECV_BUF_LEN) {
        // The receiving process reads at most 20480 bytes: this message could never arrive whole.
        CN_PLAT_LOG_LIMITED("SendIntraBoardMsg: message 0x%X of %u bytes does not fit a %u-byte datagram, not sent\n",
                   head.dwMsgID, wMsgLen, CN_INTRA_RECV_BUF_LEN);
        return kSendFail;
    }
    CNIntraMsgHandler* handler = cn_kernel::intra_handler();
    if (handler == nullptr) {
        return kSendFail;
    }
    BYTE buf[CN_INTRA_RECV_BUF_LEN];
    std::memcpy(buf, &head, sizeof head);
    if (wMsgLen != 0) {
        std::memcpy(buf + sizeof head, pucData, wMsgLen);
    }
    bool backcomm = head.DestJID.ucRouteType == CN_ROUTE_TYPE_BACKCOMM;
    WORD16 port = backcomm ? CN_OMP_INTRA_PORT
                           : CN_IntraBoardPort(head.DestJID.wModule, head.DestJID.wUnit);
    if (handler->SendDatagram(buf, total, port) != 0) {
        if (backcomm) {
            CN_PlatLog("SendIntraBoardMsg: route type 5 send failed at %s line %d\n", __FILE__, __LINE__);
        }
        return kSendFail;
    }
    return 0;
}

WORD32 SendIntraBoardMsg(WORD32 dwMsgId, const BYTE* pucData, WORD16 wMsgLen, BYTE ucVer, const JID* pReceiver)
{
    CN_Job_Base* job = current_job();
    if (job == nullptr || wMsgLen > CN_MAX_MSG_DATA_LEN || pReceiver == nullptr) {
        return kSendRefused;
    }
    return send_datagram(make_head(*pReceiver, job->SelfJID(), dwMsgId, wMsgLen, ucVer), pucData, wMsgLen);
}

WORD32 SendIntraBoardMsgNJ(WORD32 dwMsgId, const BYTE* pucData, WORD16 wMsgLen, const JID* pSender,
                           const JID* pReceiver)
{
    if (current_job() == nullptr || wMsgLen > CN_MAX_MSG_DATA_LEN || pReceiver == nullptr || pSender == nullptr) {
        return kSendRefused;
    }
    return send_datagram(make_head(*pReceiver, *pSender, dwMsgId, wMsgLen, 0), pucData, wMsgLen);
}

// Puts a copy of the message on the receiving job's queue. bWait: wait while the queue is full.
// 0 queued; 1 no receiving job, bad length, no memory, or (not waiting) a full queue;
// CN_SEND_SHED when the queue holds qwMark bytes or more (0: no such mark), nothing copied.
WORD32 put_local(const T_CNMessageHead& head, const BYTE* pucData, WORD16 wMsgLen, BYTE ucPriority, size_t extra,
                 bool bWait, bool* pbQueueFull, size_t qwMark = 0)
{
    if (pbQueueFull != nullptr) {
        *pbQueueFull = false;
    }
    if (wMsgLen > CN_MAX_MSG_DATA_LEN || (pucData == nullptr && wMsgLen != 0)) {
        return kSendFail;
    }
    CN_Job_Base* job = cn_kernel::delivery_job(head, false);
    if (job == nullptr || job->GetParentTask() == nullptr) {
        return kSendFail;
    }
    if (qwMark != 0 && job->GetParentTask()->task_queue()->backlog_bytes() >= qwMark) {
        return CN_SEND_SHED;
    }
    ACE_Message_Block* mb = cn_kernel::make_job_block(head, pucData, wMsgLen, extra, ucPriority);
    if (mb == nullptr) {
        CN_PlatLog("Copy failure at filename=%s,line+%d!\n", __FILE__, __LINE__);
        return kSendFail;
    }
    if (job->GetParentTask()->PutBlock(mb, bWait) == -1) {
        mb->release();
        if (pbQueueFull != nullptr) {
            *pbQueueFull = true;
        }
        return kSendFail;
    }
    return 0;
}

// The waiting local send of XOS_SendAsynMsg, OSS_SendAsynMsg, XOS_PowerOnAck and (with its
// mark) CN_SendAsynMsgUnderMark.
WORD32 send_from_job(WORD32 dwMsgId, const BYTE* pucData, WORD16 wMsgLen, BYTE ucVer, BYTE ucPriority,
                     const JID* pReceiver, size_t qwMark = 0)
{
    if (pReceiver == nullptr) {
        return kSendRefused;
    }
    CN_Job_Base* job = current_job();
    JID self = job != nullptr ? job->SelfJID() : CN_LocalJID(0);
    if (!cn_kernel::same_module_unit(*pReceiver, self)) {
        return SendIntraBoardMsg(dwMsgId, pucData, wMsgLen, ucVer, pReceiver);
    }
    if (job == nullptr) {
        return kSendFail;
    }
    bool full = false;
    WORD32 rc = put_local(make_head(*pReceiver, self, dwMsgId, wMsgLen, 0), pucData, wMsgLen, ucPriority,
                          kJobBlockExtraByte, true, &full, qwMark);
    if (full) {
        printf("err!msg que fulled! pDestJid->dwJno=%lx,dwMsgId =%d, wMsgLen=%d \n",
               static_cast<unsigned long>(pReceiver->dwJno), static_cast<int>(dwMsgId), wMsgLen);
        CN_PlatLog("err!msg que fulled! pDestJid->dwJno=%lx,dwMsgId =%d, wMsgLen=%d \n",
                   static_cast<unsigned long>(pReceiver->dwJno), static_cast<int>(dwMsgId), wMsgLen);
    }
    return rc;
}

} // namespace

// ---- state --------------------------------------------------------------------------------

void XOS_SetNextState(WORD16 wState)
{
    if (CN_Job_Base* job = current_job()) {
        job->SetNextState(wState);
    }
}

void OSS_SetNextState(WORD16 wState) { XOS_SetNextState(wState); }

WORD16 XOS_GetCurState()
{
    CN_Job_Base* job = current_job();
    return job != nullptr ? static_cast<WORD16>(job->GetCurState()) : 0;
}

WORD16 OSS_GetCurState() { return XOS_GetCurState(); }

WORD32 XOS_GetSelfJNO()
{
    CN_Job_Base* job = current_job();
    return job != nullptr ? job->SelfJID().dwJno : 0;
}

WORD16 XOS_GetJobAppState(WORD32 dwJno)
{
    CN_Job_Base* job = CN_Job_Base::GetJobByType(static_cast<WORD16>(dwJno >> 16));
    return job != nullptr ? static_cast<WORD16>(job->GetCurState()) : 0;
}

XOS_STATUS XOS_GetJobState(WORD32 dwJno, BYTE* pucState)
{
    if (pucState == nullptr) {
        return 1;
    }
    *pucState = 1;
    return 0;
}

void XOS_SetDefaultNextState() {}
void OSS_SetDefaultNextState() {}
void XOS_TestVarSpace(WORD32 n) {}

// ---- sends ----------------------------------------------------------------------------------

WORD32 XOS_SendAsynMsg(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, BYTE ucVer, BYTE ucPriority,
                       const JID* pReceiver)
{
    return send_from_job(dwMsgId, pucData, wMsgLen, ucVer, ucPriority, pReceiver);
}

WORD32 OSS_SendAsynMsg(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, BYTE ucCommType, const JID* pReceiver)
{
    return send_from_job(dwMsgId, pucData, wMsgLen, 0, 0, pReceiver);
}

const CNTaskQueue* CN_JobQueue(const JID* pJid)
{
    CN_Job_Base* job = pJid != nullptr ? cn_kernel::lookup_job(*pJid, true) : nullptr;
    CNCtrlTask* task = job != nullptr ? job->GetParentTask() : nullptr;
    return task != nullptr ? task->task_queue() : nullptr;
}

size_t CN_JobBacklogBytes(const JID* pJid)
{
    const CNTaskQueue* queue = CN_JobQueue(pJid);
    return queue != nullptr ? queue->backlog_bytes() : 0;
}

WORD32 CN_SendAsynMsgUnderMark(WORD32 dwMsgId, const BYTE* pucData, WORD16 wMsgLen, BYTE ucVer, BYTE ucPriority,
                               const JID* pReceiver, size_t qwMark)
{
    return send_from_job(dwMsgId, pucData, wMsgLen, ucVer, ucPriority, pReceiver, qwMark);
}

WORD32 XOS_PowerOnAck(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, WORD16 ucVer)
{
    CN_Job_Base* job = current_job();
    if (job == nullptr) {
        return kSendFail;
    }
    JID receiver{};
    job->GetSenderJID(&receiver);
    return send_from_job(CN_MSG_POWER_ON_ACK, pucData, wMsgLen, static_cast<BYTE>(ucVer), 0, &receiver);
}

WORD32 XOS_SendAsynMsgNJ(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, BYTE ucVer, BYTE ucPriority,
                         const JID* pSender, const JID* pReceiver)
{
    if (pReceiver == nullptr) {
        return kSendRefused;
    }
    if (!cn_kernel::is_own_module_unit(*pReceiver)) {
        return SendIntraBoardMsgNJ(dwMsgId, pucData, wMsgLen, pSender, pReceiver);
    }
    if (pSender == nullptr) {
        return kSendFail;
    }
    bool full = false;
    WORD32 rc = put_local(make_head(*pReceiver, *pSender, dwMsgId, wMsgLen, 0), pucData, wMsgLen, 0, 0, false, &full);
    if (full) {
        CN_PLAT_LOG_LIMITED("XOS_SendAsynMsgNJ: msg que fulled, dropped! pDestJid->dwJno=%lx,dwMsgId =%d, wMsgLen=%d \n",
                   static_cast<unsigned long>(pReceiver->dwJno), static_cast<int>(dwMsgId), wMsgLen);
    }
    return rc;
}

WORD32 OSS_SendFromTask(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, const JID* ptSender, const JID* ptReceiver)
{
    if (ptReceiver == nullptr) {
        return kSendRefused;
    }
    if (ptSender == nullptr) {
        return kSendFail;
    }
    if (!cn_kernel::same_module_unit(*ptReceiver, *ptSender)) {
        return SendIntraBoardMsg(dwMsgId, pucData, wMsgLen, 0, ptReceiver);
    }
    bool full = false;
    WORD32 rc =
        put_local(make_head(*ptReceiver, *ptSender, dwMsgId, wMsgLen, 0), pucData, wMsgLen, 0, 0, false, &full);
    if (full) {
        CN_PlatLog("err!msg que fulled! ptDstJid->dwJno=%lx,dwMsgId =%d, wMsgLen=%d \n",
                   static_cast<unsigned long>(ptReceiver->dwJno), static_cast<int>(dwMsgId), wMsgLen);
    }
    return rc;
}

WORD32 OSS_BroadcastMsg(WORD32 dwMsgId, WORD16 wMsgLen, BYTE* pucData, WORD32 dwCount) { return 0; }

// ---- current message -------------------------------------------------------------------------

XOS_STATUS XOS_GetMsgDataLen(WORD16* pwMsgLen)
{
    CN_Job_Base* job = current_job();
    if (job == nullptr || pwMsgLen == nullptr) {
        return 1;
    }
    *pwMsgLen = static_cast<WORD16>(job->GetCurMsgLen());
    return 0;
}

WORD16 OSS_GetMsgDataLen()
{
    CN_Job_Base* job = current_job();
    return job != nullptr ? static_cast<WORD16>(job->GetCurMsgLen()) : 0;
}

XOS_STATUS XOS_GetMsgId(WORD32* pdwMsgId)
{
    CN_Job_Base* job = current_job();
    if (job == nullptr || pdwMsgId == nullptr) {
        return 1;
    }
    *pdwMsgId = job->GetCurMsgID();
    return 0;
}

WORD32 OSS_GetMsgId()
{
    CN_Job_Base* job = current_job();
    return job != nullptr ? job->GetCurMsgID() : 0xFFFFFFFF;
}

BYTE XOS_GetMsgType()
{
    CN_Job_Base* job = current_job();
    return job != nullptr ? job->GetCurMsgType() : 255;
}

BYTE OSS_GetMsgType() { return XOS_GetMsgType(); }

XOS_STATUS XOS_Sender(JID* ptSender)
{
    CN_Job_Base* job = current_job();
    if (job == nullptr || ptSender == nullptr) {
        return 1;
    }
    return job->GetSenderJID(ptSender);
}

XOS_STATUS OSS_Sender(JID* ptSender) { return XOS_Sender(ptSender); }

XOS_STATUS XOS_Receiver(JID* ptReceiver)
{
    CN_Job_Base* job = current_job();
    if (job == nullptr || ptReceiver == nullptr) {
        return 1;
    }
    return job->GetReceiverJID(ptReceiver);
}

XOS_STATUS XOS_GetSelfJID(JID* ptSelf)
{
    CN_Job_Base* job = current_job();
    if (job == nullptr || ptSelf == nullptr) {
        return 1;
    }
    return job->GetSelfJID(ptSelf);
}

XOS_STATUS OSS_GetSelfPID(PID* ptSelf)
{
    CN_Job_Base* job = current_job();
    if (job == nullptr || ptSelf == nullptr) {
        return 1;
    }
    std::memcpy(ptSelf, &job->SelfJID(), sizeof *ptSelf);
    return 0;
}

XOS_STATUS XOS_GetJIDByJNO(WORD32 dwJno, JID* ptJid)
{
    if (ptJid == nullptr) {
        return 1;
    }
    if (CN_Job_Base* job = current_job()) {
        *ptJid = job->SelfJID();
    }
    ptJid->dwJno = dwJno;
    return 0;
}

XOS_STATUS OSS_GetPIDByPNO(WORD32 dwPno, PID* ptPid)
{
    if (ptPid == nullptr) {
        return 1;
    }
    if (CN_Job_Base* job = current_job()) {
        std::memcpy(ptPid, &job->SelfJID(), sizeof *ptPid);
    }
    ptPid->dwPno = dwPno;
    return 0;
}

WORD32 XOS_ConstructJNO(WORD16 wJobType, WORD32 dwInstance)
{
    return (static_cast<WORD32>(wJobType) << 16) + (dwInstance & 0xFFFFu);
}

WORD32 OSS_ConstructPNO(WORD16 wJobType, WORD32 dwInstance) { return XOS_ConstructJNO(wJobType, dwInstance); }

WORD32 OSS_ConstructPID(WORD32 dwPno, WORD32 dwDevId, WORD16 wModule, WORD16 wUnit, BYTE ucSUnit, BYTE ucSubSystem,
                        BYTE ucRouteType, PID* ptPid)
{
    if (ptPid == nullptr) {
        return 1542;
    }
    ptPid->dwPno = dwPno;
    ptPid->dwDevId = dwDevId;
    ptPid->wModule = wModule;
    ptPid->wUnit = wUnit;
    ptPid->ucSUnit = ucSUnit;
    ptPid->ucSubSystem = ucSubSystem;
    ptPid->ucRouteType = ucRouteType;
    return 0;
}

WORD32 XOS_GetJobType(const JID* ptJid) { return ptJid != nullptr ? (ptJid->dwJno >> 16) : 0; }

BOOLEAN XOS_IsOmp() { return (_thisModuleNo == 1 && _thisUnit == 0xFFFF) ? TRUE : FALSE; }

BOOLEAN OSS_IsOmp() { return XOS_IsOmp(); }

WORD32 SetInetAddrByJID(const JID* ptJid) { return 0; }
