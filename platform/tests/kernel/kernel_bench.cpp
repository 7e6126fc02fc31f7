// Benchmarks of the kernel: a message round trip between two jobs on different tasks, and a
// timer start followed by its kill, each measured inside a job in batches of 1000.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "VorlenComm.h"

namespace {

constexpr WORD16 kPingType = 0x0200;
constexpr WORD16 kPongType = 0x0201;
constexpr WORD16 kTimerType = 0x0202;
constexpr WORD32 kStart = 1;
constexpr WORD32 kPing = 2;
constexpr WORD32 kPong = 3;
constexpr int kBatch = 1000;

struct Batch {
    int count = 0;
    WORD16 payload = 0;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    void finish()
    {
        std::lock_guard<std::mutex> lock(m);
        done = true;
        cv.notify_all();
    }
    void wait()
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [this] { return done; });
        done = false;
    }
};

Batch* g_batch = nullptr;
int g_remaining = 0;
BYTE g_data[1024];

JID jid_of(WORD16 type) { return CN_LocalJID(type); }

void ping_entry(WORD16, WORD32 msgId, void*, void*, BYTE)
{
    JID pong = jid_of(kPongType);
    if (msgId == kStart) {
        g_remaining = g_batch->count;
    } else if (msgId == kPong && --g_remaining == 0) {
        g_batch->finish();
        return;
    }
    XOS_SendAsynMsg(kPing, g_data, g_batch->payload, 0, 0, &pong);
}

void pong_entry(WORD16, WORD32 msgId, void*, void*, BYTE)
{
    JID back{};
    XOS_Sender(&back);
    XOS_SendAsynMsg(kPong, g_data, g_batch->payload, 0, 0, &back);
}

void timer_entry(WORD16, WORD32 msgId, void*, void*, BYTE)
{
    if (msgId != kStart) {
        return;
    }
    for (int i = 0; i < g_batch->count; ++i) {
        XOS_TIMER_ID id = XOS_SetRelativeTimer(7, 10000, static_cast<WORD32>(i));
        XOS_KillTimerByTimerId(id);
    }
    g_batch->finish();
}

void idle_entry(WORD16, WORD32, void*, void*, BYTE) {}

const T_JobCreatReg kTable[] = {
    {0x0000, 10, 1, 1, "B_SCS", idle_entry, 0, 64, 0},
    {0x0001, 10, 1, 1, "notexist", notexist_Job_Entry, 0, 64, 0},
    {kPingType, 11, 2, 1, "B_PING", ping_entry, 0, 64, 0},
    {kPongType, 11, 3, 1, "B_PONG", pong_entry, 0, 64, 0},
    {kTimerType, 11, 4, 1, "B_TIMER", timer_entry, 0, 64, 0},
    {0x5FFF, 1, 1, 1, "END", nullptr, 0, 0, 0},
};

void run_batch(WORD16 type, Batch& b)
{
    g_batch = &b;
    JID from = jid_of(0);
    JID to = jid_of(type);
    XOS_SendAsynMsgNJ(kStart, nullptr, 0, 0, 0, &from, &to);
    b.wait();
}

void BM_LocalRoundTrip(benchmark::State& state)
{
    Batch b;
    b.count = kBatch;
    b.payload = static_cast<WORD16>(state.range(0));
    for (auto _ : state) {
        run_batch(kPingType, b);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["us_per_round_trip"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kBatch),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LocalRoundTrip)->Arg(0)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_TimerStartKill(benchmark::State& state)
{
    bool reactorRunning = state.range(0) != 0;
    if (reactorRunning) {
        CN_StartReactorThread();
    }
    Batch b;
    b.count = kBatch;
    for (auto _ : state) {
        run_batch(kTimerType, b);
    }
    if (reactorRunning) {
        CN_StopReactorThread();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["us_per_start_kill"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kBatch),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel(reactorRunning ? "reactor running" : "reactor idle");
}
BENCHMARK(BM_TimerStartKill)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    CN_PlatformProfile prof = CN_EngineProfile(kTable);
    prof.wTaskCount = 5;
    prof.wModule = static_cast<WORD16>(1000 + getpid() % 276); // port in 30000..32759
    if (CN_PlatformInit(&prof) != 0 || CN_StartControlTasks() != CN_START_OK) {
        fprintf(stderr, "platform did not start\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CN_PlatformShutdown();
    return 0;
}
