// CNBackComm.h - the maintenance program's back-communication job (job type 0xC004, control
// task 2) and its TCP proxy on port 5059 towards remote maintenance peers.
//
// Threads: backComm_Job_Entry, startBackCommserver and sendBackCommMsg run on the job's control
// task (startBackCommserver needs it as the current job). The links live on the process reactor
// thread. backcomm_send and peer_message_view are the job-free cores of the two directions, for
// any thread.
#pragma once

#include <cstddef>

#include "VorlenTypes.h"
#include "omc_msg_head.h"
#include "oms_proxy_service.h"

constexpr WORD16 kBackCommJobType = 0xC004;
constexpr WORD16 kBackCommPort = 5059;
constexpr BYTE kBackCommRouteType = 5;

// Job states.
constexpr WORD16 kBackCommIdle = 0;
constexpr WORD16 kBackCommRunning = 1;

void backComm_Job_Entry(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);

// Listens on port 5059 of every address with the process reactor, the current job taken as the
// link's job. 0 listening, 1 on failure. Also ignores SIGPIPE: a peer's reset must not end the
// program.
WORD32 startBackCommserver();

// Frames a job's message for the peer registered under receiver->wModule and queues it on that
// link. 0 queued; 1 when no link is registered for the module or it cannot be queued (no line is
// logged for the missing link). ucVer and ucPriority are not used.
WORD32 sendBackCommMsg(WORD32 dwMsgId, BYTE* pucData, WORD16 wMsgLen, BYTE ucVer, BYTE ucPriority, const JID* receiver,
                       const JID* sender);

// The process's module map (one for the program).
OmsLinkManager& backcomm_connections();

// sendBackCommMsg on a given map.
WORD32 backcomm_send(OmsLinkManager& links, WORD32 dwMsgId, const BYTE* pucData, WORD16 wMsgLen, const JID* receiver,
                     const JID* sender);

// Reads a peer message handed to the job (host-order head, then body): true with head and body
// when len holds the head and the whole body it announces.
bool peer_message_view(const BYTE* data, std::size_t len, T_OMCMsgHead* head, const BYTE** body);
