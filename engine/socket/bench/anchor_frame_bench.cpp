// The anchor frame reader and router: frames per second and bytes per second for one frame per
// read, 64 frames per read and one byte per read. Routing goes to a send that only counts.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "zub_anchor_frame.h"
#include "zub_context.h"
#include "zub_crc16.h"

namespace {

size_t g_routed = 0;

bool count_send(WORD32, const BYTE*, WORD16, const JID*, void*)
{
    ++g_routed;
    return true;
}

// An arrival report frame with a payload of `len` bytes.
std::vector<BYTE> report_frame(size_t len)
{
    std::vector<BYTE> p(len);
    for (size_t i = 0; i < len; ++i) {
        p[i] = static_cast<BYTE>(i * 13 + 5);
    }
    p[0] = 0x32;
    const WORD16 crc = calc_crc16(p.data(), static_cast<int16_t>(len));
    std::vector<BYTE> f{0x02, static_cast<BYTE>(len & 0xFF), static_cast<BYTE>(len >> 8)};
    f.insert(f.end(), p.begin(), p.end());
    f.push_back(static_cast<BYTE>(crc >> 8));
    f.push_back(static_cast<BYTE>(crc & 0xFF));
    f.push_back(0x03);
    return f;
}

Anchor& bench_anchor()
{
    Anchor& a = zub_context()->anchors[2];
    a.id = 2;
    a.hardware_id = 0xAB02;
    std::memset(a.tcp_sock.rcv_buff, 0, sizeof a.tcp_sock.rcv_buff);
    a.tcp_sock.rcv_len = 0;
    return a;
}

void read_into(AnchorFrameRouter& router, Anchor& a, const BYTE* data, size_t n)
{
    size_t room = 0;
    BYTE* at = AnchorFrameRouter::read_area(a, &room);
    std::memcpy(at, data, n);
    router.received(a, n);
}

// Reads of `frames_per_read` frames of a `payload`-byte report (0 frames: one byte per read).
void BM_FrameReader(benchmark::State& state)
{
    const size_t payload = static_cast<size_t>(state.range(0));
    const int frames_per_read = static_cast<int>(state.range(1));
    const std::vector<BYTE> one = report_frame(payload);
    std::vector<BYTE> read;
    for (int i = 0; i < (frames_per_read == 0 ? 1 : frames_per_read); ++i) {
        read.insert(read.end(), one.begin(), one.end());
    }
    Anchor& a = bench_anchor();
    AnchorFrameRouter router(count_send, nullptr);
    g_routed = 0;
    for (auto _ : state) {
        if (frames_per_read == 0) {
            for (BYTE b : read) {
                read_into(router, a, &b, 1);
            }
        } else {
            read_into(router, a, read.data(), read.size());
        }
    }
    if (g_routed != static_cast<size_t>(state.iterations()) * (frames_per_read == 0 ? 1 : frames_per_read)) {
        state.SkipWithError("frames lost");
    }
    state.SetItemsProcessed(static_cast<int64_t>(g_routed));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * read.size()));
}

}  // namespace

// Payload 21 bytes (an arrival report), also as many as fill the anchor's buffer in one read (299),
// and the largest that fits one read of 64 frames.
BENCHMARK(BM_FrameReader)->ArgNames({"payload", "frames_per_read"})->Args({21, 1})->Args({21, 64})->Args({21, 299})->Args({21, 0})
    ->Args({120, 64})->Args({8086, 1});
