// zub_client_link.h - sends to the controller client and the removal of client sockets from
// the socket job's reactor tables (reactor_info in the context).
//
// Replies are written without waiting: what the controller's socket does not take at once is
// queued (in order, before any later reply) and written by zub_ctrl_reply_flush, which the
// socket job runs when the controller flow wakes it. A controller whose unsent replies would
// pass ZUB_CTRL_REPLY_LIMIT is closed, like a report client that stops reading; the socket job
// stops handing over its requests long before (zub_ctrl_flow.h), so only a controller that
// asked for very large replies meets the limit.
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

// Reply bytes queued for the controller and not yet written.
size_t zub_ctrl_reply_unsent();
// Writes what the controller's socket takes of the queued replies; the bytes still queued. A
// link that failed is removed (0 then).
size_t zub_ctrl_reply_flush();

// Removes client `sock` of that kind: kind 0 the controller client (its flag stays), kinds 1..8
// the matching slot of that kind's list; other kinds nothing. False for sock 0, else true.
bool zub_socket_reactor_delete(int sock, WORD32 kind);
// Removes the first used slot of `list` (one of reactor_info's lists) holding `sock`: its event
// is detached and its socket closed. Nothing for a null list or no match.
void zub_socket_reactor_delete_display(int sock, sock_info_t* list);
