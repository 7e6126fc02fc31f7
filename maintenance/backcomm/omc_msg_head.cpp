#include "omc_msg_head.h"

#include <cstring>

namespace {

WORD16 invert16(WORD16 w) { return __builtin_bswap16(w); }
WORD32 invert32(WORD32 dw) { return __builtin_bswap32(dw); }

void invert_jid(JID& jid) {
    jid.dwJno = invert32(jid.dwJno);
    jid.dwDevId = invert32(jid.dwDevId);
    jid.wModule = invert16(jid.wModule);
    jid.wUnit = invert16(jid.wUnit);
}

} // namespace

T_OMCMsgHead omc_head_decode(const BYTE* wire) {
    T_OMCMsgHead head;
    std::memcpy(&head, wire, sizeof head);
    if (head.dwEndian != kOmcEndianMark) {
        head.dwMsgId = invert32(head.dwMsgId);
        head.wMsgSize = invert16(head.wMsgSize);
        invert_jid(head.tSender);
        invert_jid(head.tReceiver);
    }
    return head;
}

void omc_head_encode(const T_OMCMsgHead& head, BYTE* wire) {
    T_OMCMsgHead out = head;
    out.dwEndian = kOmcEndianMark;
    std::memcpy(wire, &out, sizeof out);
}

T_OMCMsgHead omc_link_head(WORD32 msg_id) {
    T_OMCMsgHead head;
    std::memset(&head, 0, sizeof head);
    head.dwMsgId = msg_id;
    head.dwEndian = kOmcEndianMark;
    return head;
}
