// zub_anchor_link.h - the engine's TCP link to one anchor: open, close, raw sends.
//
// The engine is the anchor's client: it connects to the anchor's address at anchorListenPort
// (blocking the calling job for at most 10 s) and attaches the link to the socket job's
// reactor, whose read callback (reactor_info.rcv_from_server) then gets the anchor as its
// argument. Every open and every close is reported to the reconnection job as
// ZUB_EV_XX_RECON_ANCHOR_CON_STATE with an anc_con_stat_t.
//
// Threads: opened by the reconnection job; closed by whichever job finds the link dead (socket,
// reconnection or control job): the link is taken under the anchor's link_lock, so exactly one
// of several closers detaches it from the reactor, closes the descriptor and reports it, and a
// link already closed costs nothing. Sends may come from any job thread; each holds link_lock
// around its send, so the descriptor cannot be closed and reused under it. Reports need the
// caller to be a job (the platform takes the sender from it).
#pragma once

#include "VorlenTypes.h"

class Anchor;

// Body of ZUB_EV_XX_RECON_ANCHOR_CON_STATE, 4 bytes, little-endian.
struct anc_con_stat_t {
    WORD16 anc_id;    // local anchor id
    WORD16 con_stat;  // ZUB_ANC_LINK_OPENED or ZUB_ANC_LINK_CLOSED
};
static_assert(sizeof(anc_con_stat_t) == 4, "anc_con_stat_t is a 4-byte message body");

constexpr WORD16 ZUB_ANC_LINK_CLOSED = 0;
constexpr WORD16 ZUB_ANC_LINK_OPENED = 1;

// How long a connect may take before it counts as failed.
constexpr int ZUB_ANCHOR_CONNECT_TIMEOUT_MS = 10000;
// A command whose link took only part of it waits this long for room for the rest (a command is
// a few dozen bytes, so a link that took some takes the rest at once unless its anchor stopped
// reading at that very moment).
constexpr int ZUB_ANCHOR_COMMAND_REST_MS = 100;

// Opens the anchor's link, attaches it to the reactor and reports it. False (printed) for a
// null anchor, a reactor that does not exist yet, a link that is already open, and every
// failure of the socket, the connect or the attach; nothing is left open then.
bool zub_socket_tcp_client_create(Anchor* anchor);

// Waits up to 10 s for a pending connect of `sock` to complete; true when it succeeded.
bool zub_socket_conn_check(int sock);

// SO_KEEPALIVE on, TCP_KEEPIDLE 100 s, TCP_KEEPINTVL 10 s, TCP_KEEPCNT 10.
void socket_set_keep_alive(int sock);
// SO_KEEPALIVE on, with these TCP_KEEPIDLE, TCP_KEEPINTVL and TCP_KEEPCNT.
void zub_socket_keep_alive(int sock, int idle_s, int interval_s, int count);

// Closes the anchor's link and reports it; nothing for a null anchor or a link already closed.
// The receive buffer is emptied when a link is opened (before the attach) and when it is closed
// (after the detach).
void zub_socket_anchor_close(Anchor* anchor);
// The same for the link `sock` only: false (nothing done) when the anchor's link is another
// one or none, as for a read event of a link that a concurrent closer has already taken.
bool zub_socket_anchor_close_link(Anchor* anchor, WORD32 sock);

// Sends the `len` bytes of one command to the anchor without waiting for the anchor to read:
// a link whose socket takes nothing drops the command (a rate-limited line; the link stays, a
// slow anchor is not a dead one). False without a print for a null buffer, a null anchor or no
// link; false with a print when the send fails, and the link is closed when the anchor is gone
// (ECONNRESET, EPIPE) or took only part of the command within ZUB_ANCHOR_COMMAND_REST_MS (its
// reading would be out of step with every later command).
bool zub_socket_msg_send_to_anc(const BYTE* buf, WORD16 len, Anchor* anchor);
