// Fuzz target of the anchor frame reader: the input (after two seed bytes that choose the
// cuts) is a byte stream arriving in reads of random size. Every routed payload must sit in a
// frame with a valid CRC and ETX, no read may find the buffer full, and once the stream ends
// the link must recover: within one buffer of filler the held bytes go, and a read that then
// starts with a valid frame delivers it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>

#include "zub_anchor_frame.h"
#include "zub_context.h"
#include "zub_crc16.h"

namespace {

struct State {
    Anchor* anchor = nullptr;
    size_t delivered = 0;
    size_t cursor = 0;  // where the next frame of this read starts in the buffer
};

void require(bool ok)
{
    if (!ok) {
        std::abort();
    }
}

bool check_routed(WORD32 /*event*/, const BYTE* body, WORD16 len, const JID* /*dst*/, void* ctx)
{
    auto* st = static_cast<State*>(ctx);
    const tcp_sock_t& s = st->anchor->tcp_sock;
    // The frames of one read are taken in turn from the head; empty ones are passed over.
    static const BYTE empty_frame[] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x03};
    while (st->cursor + sizeof empty_frame <= s.rcv_len &&
           std::memcmp(s.rcv_buff + st->cursor, empty_frame, sizeof empty_frame) == 0) {
        st->cursor += sizeof empty_frame;
    }
    const BYTE* f = s.rcv_buff + st->cursor;
    const WORD16 l = static_cast<WORD16>(body[2] | (body[3] << 8));
    require(len == 4 + l && l >= 1 && l <= ZUB_ANCHOR_PAYLOAD_MAX);
    require(st->cursor + 6 + l <= s.rcv_len);
    require(f[0] == 0x02 && (f[1] | (f[2] << 8)) == l);
    require(std::memcmp(body + 4, f + 3, l) == 0);
    require(check_crc16(f + 3, static_cast<WORD16>(l + 2)) == CRC_OKAY);
    require(f[5 + l] == 0x03);
    st->cursor += 6 + l;
    ++st->delivered;
    return true;
}

void feed(AnchorFrameRouter& router, State& st, Anchor& a, const uint8_t* data, size_t n)
{
    st.cursor = 0;
    size_t room = 0;
    BYTE* at = AnchorFrameRouter::read_area(a, &room);
    require(room > 0);  // a full buffer would block the link for ever
    const size_t take = n < room ? n : room;
    std::memcpy(at, data, take);
    router.received(a, take);
    require(a.tcp_sock.rcv_len < ZUB_ANCHOR_RCV_BUFF_LEN);
    if (take < n) {
        feed(router, st, a, data + take, n - take);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    State st;
    st.anchor = &zub_context()->anchors[1];
    Anchor& a = *st.anchor;
    a.id = 1;
    a.hardware_id = 0xAB01;
    std::memset(a.tcp_sock.rcv_buff, 0, sizeof a.tcp_sock.rcv_buff);
    a.tcp_sock.rcv_len = 0;
    AnchorFrameRouter router(check_routed, &st);

    std::minstd_rand cuts(static_cast<unsigned>(data[0] | (data[1] << 8)) + 1);
    size_t at = 2;
    while (at < size) {
        const size_t n = std::min<size_t>(size - at, 1 + cuts() % 9000);
        feed(router, st, a, data + at, n);
        at += n;
    }

    // Recovery: filler until nothing is held, then one valid frame in a read of its own.
    static const BYTE filler[ZUB_ANCHOR_RCV_BUFF_LEN] = {};
    for (int i = 0; i < 2 && a.tcp_sock.rcv_len != 0; ++i) {
        feed(router, st, a, filler, ZUB_ANCHOR_RCV_BUFF_LEN - a.tcp_sock.rcv_len);
    }
    require(a.tcp_sock.rcv_len == 0);
    const BYTE frame[] = {0x02, 0x01, 0x00, 0x42, 0x00, 0x00, 0x03};
    BYTE f[sizeof frame];
    std::memcpy(f, frame, sizeof f);
    const WORD16 crc = calc_crc16(f + 3, 1);  // high half is the byte stored first
    f[4] = static_cast<BYTE>(crc >> 8);
    f[5] = static_cast<BYTE>(crc & 0xFF);
    const size_t before = st.delivered;
    feed(router, st, a, f, sizeof f);
    require(st.delivered == before + 1);
    return 0;
}
