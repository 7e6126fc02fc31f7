// zub_client_link.h - sends to the controller client and the removal of client sockets from
// the socket job's reactor tables (reactor_info in the context).
//
// Replies are written without waiting: what the controller's socket does not take at once is
// queued (in order, before any later reply) and written by zub_ctrl_reply_flush, which the
// socket job runs when the controller flow wakes it. A controller whose unsent replies would
// pass ZUB_CTRL_REPLY_LIMIT is closed, like a report client that stops reading; the socket job
// stops handing over its requests long before (zub_ctrl_flow.h), so only a controller that
// asked for very large replies meets the limit. A controller that takes none of its waiting
// replies for 30 s is closed by the flush (ReplyStall), so the next controller is served.
//
// Threads: any job thread (control, reconnection, socket). The controller client and the
// client lists are guarded by reactor_info.clients_lock (zub_reactor_info.h); a send holds it
// around the write, and a removal takes the slot under it, then detaches the event and closes
// the descriptor after releasing it, in that order.
#pragma once

#include <string>

#include "VorlenTypes.h"
#include "zub_reactor_info.h"

constexpr size_t ZUB_CTRL_REPLY_LIMIT = 4u << 20;

// Sends all `len` bytes to the controller client, or queues what its socket does not take now.
// False for a null buffer or no controller, and (printed) when the send fails or the queue
// would overflow; on EPIPE or a reset, and on overflow, the controller is removed.
bool zub_socket_msg_send_to_ctrl(const BYTE* buf, WORD16 len);
// The same for the bytes of a string, whatever its length; false for a null string.
bool zub_socket_stirng_send_to_ctrl(const std::string* text);

// How long a controller that vanished without closing its link may hold it: probes begin after
// a minute of silence and ten seconds apart, and unacknowledged replies give up as long after.
constexpr int ZUB_CTRL_KEEP_IDLE_S = 60;
constexpr int ZUB_CTRL_KEEP_INTERVAL_S = 10;
constexpr int ZUB_CTRL_KEEP_COUNT = 6;
constexpr unsigned ZUB_CTRL_GONE_AFTER_MS = 120000;

// Keep-alive on an accepted controller link, and the same bound on replies it never
// acknowledges (TCP_USER_TIMEOUT, which keep-alive does not cover), so a controller gone
// without a FIN is found within about two minutes and the slot freed.
void zub_ctrl_keep_alive(int sock);

// Reply bytes queued for the controller and not yet written.
size_t zub_ctrl_reply_unsent();
// Writes what the controller's socket takes of the queued replies; the bytes still queued. A
// link that failed is removed, and so is a controller that has taken none of its replies for
// ReplyStall::kStallMs while they waited (printed once; 0 then). now_ms: the monotonic clock
// (CN_MonotonicMs), which the first form reads.
size_t zub_ctrl_reply_flush();
size_t zub_ctrl_reply_flush(WORD64 now_ms);

// Removes client `sock` of that kind: kind 0 the controller client (its flag stays), kinds 1..8
// the matching slot of that kind's list; other kinds nothing. False for sock 0, else true.
bool zub_socket_reactor_delete(int sock, WORD32 kind);
// Removes the first used slot of `list` (one of reactor_info's lists) holding `sock`: its event
// is detached and its socket closed. Nothing for a null list or no match.
void zub_socket_reactor_delete_display(int sock, sock_info_t* list);
