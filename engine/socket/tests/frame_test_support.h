// frame_test_support.h - anchor frames built from their definition (STX, L little-endian,
// payload, CRC-16/KERMIT little-endian, ETX) with a CRC computed bit by bit, and a router rig
// that feeds byte streams into one context anchor as reads and captures what is routed.
//
// Single-threaded; uses context anchors and sets the context's JIDs to recognisable values.
#pragma once

#include <cstring>
#include <vector>

#include "zub_anchor_frame.h"
#include "zub_context.h"

namespace ft {

using Bytes = std::vector<BYTE>;

// CRC-16/KERMIT, one bit at a time (reflected 0x1021, initial 0, no final XOR).
inline WORD16 kermit(const BYTE* data, size_t n)
{
    WORD16 crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b) {
            crc = (crc & 1) ? static_cast<WORD16>((crc >> 1) ^ 0x8408) : static_cast<WORD16>(crc >> 1);
        }
    }
    return crc;
}

inline Bytes frame(const Bytes& payload)
{
    Bytes f{0x02, static_cast<BYTE>(payload.size() & 0xFF), static_cast<BYTE>(payload.size() >> 8)};
    f.insert(f.end(), payload.begin(), payload.end());
    const WORD16 crc = kermit(payload.data(), payload.size());
    f.push_back(static_cast<BYTE>(crc & 0xFF));
    f.push_back(static_cast<BYTE>(crc >> 8));
    f.push_back(0x03);
    return f;
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// Destination tags the rig gives the context's JIDs (dwJno).
constexpr WORD32 kControl = 0x40000001;
constexpr WORD32 kManager0 = 0x40010001;
constexpr WORD32 kClockSync = 0x40050001;
constexpr WORD32 kRecon = 0x40070001;

struct Routed {
    WORD32 event;
    WORD32 dst;  // the destination JID's dwJno
    Bytes body;
    size_t link_unread = 0;  // what the router said was left unread on the link at the send
};

class RouterRig {
public:
    explicit RouterRig(unsigned anchor_index = 7) : router_(&RouterRig::capture, this)
    {
        context_t* ctx = zub_context();
        ctx->jid_control.dwJno = kControl;
        for (unsigned m = 0; m < ZUB_MANAGER_NUM; ++m) {
            ctx->jid_manager[m].dwJno = kManager0 + (m << 16);
        }
        ctx->jid_clocksync.dwJno = kClockSync;
        ctx->jid_reconnection.dwJno = kRecon;
        anchor_ = &ctx->anchors[anchor_index];
        anchor_->hardware_id = 0x00AB000000000000ull + anchor_index;
        anchor_->id = static_cast<WORD16>(anchor_index);
        std::memset(anchor_->tcp_sock.rcv_buff, 0, sizeof anchor_->tcp_sock.rcv_buff);
        anchor_->tcp_sock.rcv_len = 0;
    }

    // One read event: takes as much of `bytes` as the buffer has room for; returns how many.
    // `unread`: what the link still holds after it.
    size_t read(const BYTE* bytes, size_t n, size_t unread = 0)
    {
        size_t room = 0;
        BYTE* at = AnchorFrameRouter::read_area(*anchor_, &room);
        const size_t take = n < room ? n : room;
        std::memcpy(at, bytes, take);
        router_.received(*anchor_, take, unread);
        return take;
    }
    // Bytes arriving in reads of at most `chunk` bytes (what does not fit waits for the next).
    void stream(const Bytes& bytes, size_t chunk)
    {
        size_t at = 0;
        while (at < bytes.size()) {
            const size_t want = bytes.size() - at < chunk ? bytes.size() - at : chunk;
            const size_t took = read(bytes.data() + at, want);
            if (took == 0) {
                break;  // a full buffer (never expected)
            }
            at += took;
        }
    }
    void read(const Bytes& bytes) { stream(bytes, bytes.size() == 0 ? 1 : bytes.size()); }

    Anchor& anchor() { return *anchor_; }
    AnchorFrameRouter& router() { return router_; }
    std::vector<Routed> routed;

private:
    static bool capture(WORD32 event, const BYTE* body, WORD16 len, const JID* dst, void* ctx)
    {
        auto* self = static_cast<RouterRig*>(ctx);
        self->routed.push_back({event, dst->dwJno, Bytes(body, body + len), self->router_.link_unread()});
        return true;
    }

    AnchorFrameRouter router_;
    Anchor* anchor_;
};

}  // namespace ft
