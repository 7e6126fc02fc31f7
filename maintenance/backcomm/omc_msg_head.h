// omc_msg_head.h - the 48-byte head of every message on a back-communication link, and its
// byte-order rule.
//
// Plain data and pure functions: callable from any thread.
#pragma once

#include <cstddef>

#include "VorlenTypes.h"

// Head on the wire, in the sender's byte order (told by dwEndian); kept in host order once decoded.
typedef struct V4MsgHeadTag {
    BYTE ucVer;
    BYTE ucMsgVer;  // passed on as the platform message's version
    BYTE ucMsgType; // passed on as the platform message's priority
    BYTE ucPad0;
    BYTE ucPad1;
    BYTE ucPad2;
    WORD16 wMsgSize; // body bytes behind the head
    WORD32 dwMsgId;
    WORD32 dwEndian; // kOmcEndianMark when written in the reader's byte order
    JID tSender;
    JID tReceiver;
} T_OMCMsgHead;

static_assert(sizeof(T_OMCMsgHead) == 48, "link head is 48 bytes");
static_assert(offsetof(T_OMCMsgHead, wMsgSize) == 6 && offsetof(T_OMCMsgHead, dwMsgId) == 8 &&
                  offsetof(T_OMCMsgHead, dwEndian) == 12 && offsetof(T_OMCMsgHead, tSender) == 16 &&
                  offsetof(T_OMCMsgHead, tReceiver) == 32,
              "head field offsets are the link's wire format");

constexpr std::size_t kOmcHeadSize = sizeof(T_OMCMsgHead);
constexpr WORD32 kOmcEndianMark = 0x0000FFFF;
constexpr std::size_t kOmcEndianOffset = offsetof(T_OMCMsgHead, dwEndian);

// Link-level ids: never handed to a job except a registration repeated on a registered link.
constexpr WORD32 kOmcMsgHello = 17001;     // program -> peer, head only
constexpr WORD32 kOmcMsgRegister = 17002;  // peer -> program; the module is tSender.wModule
constexpr WORD32 kOmcMsgHeartbeat = 17003; // both ways, head only

// Reads a head from 48 received bytes and brings it into host order: when dwEndian is not the
// mark, dwMsgId, wMsgSize and dwJno, dwDevId, wModule, wUnit of both JIDs are reversed.
// One-byte fields and dwEndian itself stay as received.
T_OMCMsgHead omc_head_decode(const BYTE* wire);

// Writes a host-order head as this program sends it: dwEndian set to the mark, own byte order.
void omc_head_encode(const T_OMCMsgHead& head, BYTE* wire);

// A head that is zero apart from its id and the byte-order mark (hello, registration, heartbeat).
T_OMCMsgHead omc_link_head(WORD32 msg_id);
