#include <cstring>
#include <vector>

#include "CNBackComm.h"

namespace {

OmsLinkManager m_OmsConnections;

} // namespace

OmsLinkManager& backcomm_connections() { return m_OmsConnections; }

WORD32 backcomm_send(OmsLinkManager& links, WORD32 dwMsgId, const BYTE* pucData, WORD16 wMsgLen, const JID* receiver,
                     const JID* sender) {
    if (receiver == nullptr || sender == nullptr || (pucData == nullptr && wMsgLen != 0)) {
        return 1;
    }
    LinkHold<OmsProxyService> link = links.find(receiver->wModule);
    if (!link) {
        return 1;
    }
    std::vector<BYTE> frame(kOmcHeadSize + wMsgLen);
    T_OMCMsgHead head;
    std::memset(&head, 0, sizeof head);
    head.wMsgSize = wMsgLen;
    head.dwMsgId = dwMsgId;
    head.tSender = *sender;
    head.tReceiver = *receiver;
    omc_head_encode(head, frame.data());
    if (wMsgLen != 0) {
        std::memcpy(frame.data() + kOmcHeadSize, pucData, wMsgLen);
    }
    return link->sendBytes(frame.data(), frame.size()) == 1 ? 0 : 1;
}

WORD32 sendBackCommMsg(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, BYTE, BYTE, const JID* receiver,
                       const JID* sender) {
    return backcomm_send(m_OmsConnections, dwMsgId, pucData, wMsgLen, receiver, sender);
}

bool peer_message_view(const BYTE* data, std::size_t len, T_OMCMsgHead* head, const BYTE** body) {
    if (data == nullptr || len < kOmcHeadSize) {
        return false;
    }
    std::memcpy(head, data, kOmcHeadSize);
    if (len - kOmcHeadSize < head->wMsgSize) {
        return false;
    }
    *body = data + kOmcHeadSize;
    return true;
}
