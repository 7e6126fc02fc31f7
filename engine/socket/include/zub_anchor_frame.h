// zub_anchor_frame.h - the read side of every anchor link: frames are assembled in the
// anchor's own receive buffer (tcp_sock.rcv_buff, rcv_len), checked, and each payload is routed
// by its first byte: clock-calibration reports (0x30, 0x31) to the clock-sync job, arrival
// reports (0x32, 0x33) as ZUB_EV_SOCKET_XX_ANCHOR_MSG and ranging reports (0x83) as
// ZUB_EV_SOCKET_TOF_ANCHOR_MSG to the three managers in turn, anything else to the control job.
//
// Frame: STX 0x02, L (u16 LE), L payload bytes, CRC-16/KERMIT of the payload (LE), ETX 0x03.
// A frame that can never become valid (first byte not STX, L above the largest payload that
// fits the buffer, wrong ETX, bad CRC) empties the whole buffer, so the next read starts a new
// frame and no garbage blocks the link; a valid frame with L = 0 is consumed silently.
//
// Threads: the socket job's reactor thread alone for the buffers and the manager counter.
// The link itself is closed through the anchor link's close path (link_lock, link_take).
#pragma once

#include <cstddef>

#include "VorlenTypes.h"
#include "zub_anchor.h"
#include "zub_job_records.h"

constexpr BYTE ZUB_FRAME_STX = 0x02;
constexpr BYTE ZUB_FRAME_ETX = 0x03;

// What the check of the buffer's head found.
enum class FrameCheck { complete, incomplete, discarded };

// Checks the frame at the head of `sock`'s buffer; on `complete` *len is its payload length
// (0 possible). A frame that can never become valid is discarded (buffer emptied, printed).
FrameCheck zub_frame_check(tcp_sock_t* sock, WORD16* len);

// The payload length of a complete, valid frame at the head of the buffer, else 0.
WORD16 zub_socket_tcp_msg_len_get(tcp_sock_t* sock);

// Routes the payloads of one anchor's frames. `send` is the platform send (event, body,
// length, destination); the socket job's router sends through zub_asyn_msg_send.
class AnchorFrameRouter {
public:
    using SendFn = bool (*)(WORD32 event, const BYTE* body, WORD16 len, const JID* dst, void* ctx);

    AnchorFrameRouter(SendFn send, void* ctx) : send_(send), ctx_(ctx) {}

    // Where the next read of this anchor's link goes and how many bytes it may take (an empty
    // buffer is cleared first).
    static BYTE* read_area(Anchor& anchor, size_t* room);
    // `n` bytes have been read into read_area(), `unread` more wait on the link: delivers every
    // complete frame.
    void received(Anchor& anchor, size_t n, size_t unread = 0);
    // The bytes left waiting on the link of the read being delivered (load for the road's gate).
    size_t link_unread() const { return link_unread_; }
    // Delivers every complete frame in the anchor's buffer and keeps the rest.
    void analyse(Anchor& anchor);

    BYTE manager_id() const { return manager_id_; }

private:
    void route(const Anchor& anchor, const BYTE* payload, WORD16 len);

    SendFn send_;
    void* ctx_;
    BYTE manager_id_ = 0;
    size_t link_unread_ = 0;
    sock_data_t out_{};
};

// The socket job's router (sends through zub_asyn_msg_send to the JIDs of the context).
AnchorFrameRouter& zub_anchor_frame_router();

// Delivers every complete frame of the anchor's buffer through the socket job's router.
void zub_socket_tcp_msg_analyse(Anchor* anchor);

// Reactor read callback of an anchor link; arg is the anchor's Anchor record.
void zub_socket_tcp_rcv_from_server(int sock, short what, void* arg);
