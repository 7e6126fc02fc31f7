#include "zub_anchor_frame.h"

#include <event2/event.h>

#include <cerrno>
#include <cstring>

#include "qk_reactor.h"
#include "qk_socket.h"
#include "zub_road_shed.h"
#include "rtls_interface.h"
#include "zub_anchor_link.h"
#include "zub_context.h"
#include "zub_crc16.h"
#include "zub_msg.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_print_limited.h"
#include "zub_shared_field.h"
#include "zub_time.h"

namespace {

constexpr size_t kFrameOverhead = 6;  // STX, L (2), CRC (2), ETX

// The buffer holds rcv_len bytes and zeros behind them; emptying it zeroes what it held.
void empty_buffer(tcp_sock_t& s)
{
    std::memset(s.rcv_buff, 0, s.rcv_len);
    s.rcv_len = 0;
}

// Reports and the control job's anchor messages give way to a receiver that has fallen behind,
// or while their link holds more than the socket job has read (zub_road_shed.h). `ctx` is the
// router.
bool platform_send(WORD32 event, const BYTE* body, WORD16 len, const JID* dst, void* ctx)
{
    return zub_road_report_send(event, body, len, dst, static_cast<const AnchorFrameRouter*>(ctx)->link_unread());
}

// Steps 1 to 3 of the read callback: a link nobody may read. Its event is detached before the
// descriptor goes, so a reused number never meets it; a link still recorded in the anchor is
// closed through the link's own close path.
void drop_unknown_link(int sock, Anchor* anchor)
{
    if (anchor != nullptr && zub_socket_anchor_close_link(anchor, static_cast<WORD32>(sock))) {
        return;
    }
    reactor_handle_t* reactor = zub_load(zub_context()->reactor_info.sock_handle, std::memory_order_acquire);
    if (reactor != nullptr && reactor->base != nullptr) {
        qk_reactor_detach(reactor, event_base_get_running_event(reactor->base));
    }
    qk_close(sock);
}

}  // namespace

namespace {

// Checks the frame that starts at `p`, of which `avail` bytes have arrived. A frame that can
// never become valid is printed and reported discarded; the caller empties the buffer.
FrameCheck check_frame_at(const BYTE* p, size_t avail, WORD16* len)
{
    if (avail == 0) {
        return FrameCheck::incomplete;
    }
    if (p[0] != ZUB_FRAME_STX) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "fist byte is not 0x02.reset buff");
        return FrameCheck::discarded;
    }
    if (avail < 3) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_MSG, "rcv len = %d", static_cast<int>(avail));
        return FrameCheck::incomplete;
    }
    const WORD16 l = static_cast<WORD16>(p[1] | (p[2] << 8));
    if (l > ZUB_ANCHOR_PAYLOAD_MAX) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "frame length %d is bigger than %d.reset buff", static_cast<int>(l),
                          static_cast<int>(ZUB_ANCHOR_PAYLOAD_MAX));
        return FrameCheck::discarded;
    }
    if (avail < l + kFrameOverhead) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_MSG, "rcv len = %d", static_cast<int>(avail));
        return FrameCheck::incomplete;
    }
    const BYTE etx = p[5 + l];
    if (etx != ZUB_FRAME_ETX) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "msg_len + 5 is %02x", static_cast<unsigned>(etx));
        return FrameCheck::discarded;
    }
    if (check_crc16(p + 3, static_cast<WORD16>(l + 2)) != CRC_OKAY) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "frame packet fully received but it's CRC bad");
        return FrameCheck::discarded;
    }
    *len = l;
    return FrameCheck::complete;
}

}  // namespace

FrameCheck zub_frame_check(tcp_sock_t* sock, WORD16* len)
{
    tcp_sock_t& s = *sock;
    const FrameCheck c = check_frame_at(s.rcv_buff, s.rcv_len, len);
    if (c == FrameCheck::discarded) {
        empty_buffer(s);
    }
    return c;
}

WORD16 zub_socket_tcp_msg_len_get(tcp_sock_t* sock)
{
    WORD16 len = 0;
    return zub_frame_check(sock, &len) == FrameCheck::complete ? len : 0;
}

BYTE* AnchorFrameRouter::read_area(Anchor& anchor, size_t* room)
{
    tcp_sock_t& s = anchor.tcp_sock;
    *room = ZUB_ANCHOR_RCV_BUFF_LEN - s.rcv_len;
    return s.rcv_buff + s.rcv_len;
}

void AnchorFrameRouter::received(Anchor& anchor, size_t n, size_t unread)
{
    if (n == 0) {
        return;
    }
    anchor.tcp_sock.rcv_len = static_cast<WORD16>(anchor.tcp_sock.rcv_len + n);
    link_unread_ = unread;
    analyse(anchor);
    link_unread_ = 0;
}

void AnchorFrameRouter::analyse(Anchor& anchor)
{
    // Frames are taken where they lie and what is left is moved to the front once, so a read
    // of many frames costs no more than its bytes.
    tcp_sock_t& s = anchor.tcp_sock;
    size_t at = 0;
    WORD16 len = 0;
    for (;;) {
        const FrameCheck c = check_frame_at(s.rcv_buff + at, s.rcv_len - at, &len);
        if (c == FrameCheck::discarded) {
            empty_buffer(s);
            return;
        }
        if (c == FrameCheck::incomplete) {
            break;
        }
        route(anchor, s.rcv_buff + at + 3, len);
        at += len + kFrameOverhead;
        const size_t left = s.rcv_len - at;
        if (left > ZUB_ANCHOR_RCV_BUFF_LEN) {
            const rcvlen_wrong_t body{anchor.id, static_cast<WORD16>(left)};
            send_(ZUB_EV_SOCKET_RECON_RCVLEN_WRONG, reinterpret_cast<const BYTE*>(&body), sizeof body,
                  &zub_context()->jid_reconnection, ctx_);
            empty_buffer(s);
            return;
        }
    }
    if (at == 0) {
        return;
    }
    const size_t left = s.rcv_len - at;
    if (left == 0) {
        empty_buffer(s);
        return;
    }
    std::memmove(s.rcv_buff, s.rcv_buff + at, left);
    std::memset(s.rcv_buff + left, 0, at);
    s.rcv_len = static_cast<WORD16>(left);
}

void AnchorFrameRouter::route(const Anchor& anchor, const BYTE* payload, WORD16 len)
{
    if (len == 0) {
        return;  // a frame without payload carries no report
    }
    out_.anc_id = anchor.id;
    out_.data_len = len;
    std::memcpy(out_.rcv_data, payload, len);
    const WORD16 body_len = static_cast<WORD16>(4 + len);
    const BYTE* body = reinterpret_cast<const BYTE*>(&out_);
    context_t* ctx = zub_context();
    switch (payload[0]) {
    case RTLS_CMD_REPORT_TX_CS_V4:
    case RTLS_CMD_REPORT_RX_CS_V4:
        send_(ZUB_EV_SOCKET_XX_ANCHOR_MSG, body, body_len, &ctx->jid_clocksync, ctx_);
        return;
    case RTLS_CMD_REPORT_TOA_V4:
    case RTLS_CMD_REPORT_TOA_IMU_V4:
        send_(ZUB_EV_SOCKET_XX_ANCHOR_MSG, body, body_len, &ctx->jid_manager[manager_id_], ctx_);
        manager_id_ = static_cast<BYTE>((manager_id_ + 1) % ZUB_MANAGER_NUM);
        return;
    case RTLS_CMD_REPORT_TOF_V4:
        send_(ZUB_EV_SOCKET_TOF_ANCHOR_MSG, body, body_len, &ctx->jid_manager[manager_id_], ctx_);
        manager_id_ = static_cast<BYTE>((manager_id_ + 1) % ZUB_MANAGER_NUM);
        return;
    default:
        send_(ZUB_EV_SOCKET_XX_ANCHOR_MSG, body, body_len, &ctx->jid_control, ctx_);
        return;
    }
}

AnchorFrameRouter& zub_anchor_frame_router()
{
    static AnchorFrameRouter router(platform_send, &router);
    return router;
}

void zub_socket_tcp_msg_analyse(Anchor* anchor)
{
    if (anchor != nullptr) {
        zub_anchor_frame_router().analyse(*anchor);
    }
}

void zub_socket_tcp_rcv_from_server(int sock, short /*what*/, void* arg)
{
    auto* anchor = static_cast<Anchor*>(arg);
    if (anchor == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "close socket(%d) for anchor,because arg is null", sock);
        drop_unknown_link(sock, nullptr);
        return;
    }
    const WORD16 id = anchor->id;
    if (id >= ZUB_MAX_ANCHOR_NUM) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "close socket(%d) for anchor,because anchor_id is %d", sock, static_cast<int>(id));
        drop_unknown_link(sock, anchor);
        return;
    }
    Anchor& slot = zub_context()->anchors[id];
    if (slot.id >= ZUB_MAX_ANCHOR_NUM || slot.hardware_id == 0) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "close socket(%d) for anchor,because anchor_id(%d) is unused", sock,
                  static_cast<int>(id));
        drop_unknown_link(sock, anchor);
        return;
    }
    if (slot.link_socket() != static_cast<WORD32>(sock)) {
        return;  // taken by a closer that is about to detach it
    }
    const int waiting = qk_socket_readable(sock);
    if (waiting <= 0) {
        ZUB_PRINT(ZUB_PRINT_EVENT, "close socket(%d) from anchor,because rcv 0 length buff", sock);
        zub_socket_anchor_close_link(&slot, static_cast<WORD32>(sock));
        return;
    }
    zub_anc_con_time_set(&slot);
    size_t room = 0;
    BYTE* at = AnchorFrameRouter::read_area(slot, &room);
    const ssize_t got = qk_recv(sock, at, room, 0);
    if (got <= 0) {
        return;
    }
    const size_t unread = static_cast<size_t>(waiting) > static_cast<size_t>(got) ? static_cast<size_t>(waiting - got) : 0;
    zub_anchor_frame_router().received(slot, static_cast<size_t>(got), unread);
}
