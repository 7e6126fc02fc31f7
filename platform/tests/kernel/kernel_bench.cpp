// Benchmarks of the kernel: a message round trip between two jobs on different tasks, a timer
// start followed by its kill (each measured inside a job in batches of 1000), and the message
// flows of bench_flow.h: sustained messages per second and processor time per message, and the
// paced report pipeline with its hand-off latencies.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "VorlenComm.h"
#include "bench_flow.h"

namespace bench {

namespace {

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

} // namespace

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

namespace {

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

double percentile_us(std::vector<uint32_t>& v, double q)
{
    if (v.empty()) {
        return 0;
    }
    size_t k = static_cast<size_t>(q * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k] / 1000.0;
}

// Runs the flow once per iteration and reports the totals over all iterations.
void run_flow(benchmark::State& state, Flow flow, uint64_t count, WORD16 payload, double rate)
{
    double seconds = 0;
    double cpu = 0;
    uint64_t messages = 0;
    uint64_t reports = 0;
    std::vector<uint32_t> latency;
    for (auto _ : state) {
        FlowResult r = bench_flow_run(flow, count, payload, rate);
        state.SetIterationTime(r.seconds);
        seconds += r.seconds;
        cpu += r.cpu_seconds;
        messages += r.messages;
        reports += r.reports;
        latency.insert(latency.end(), r.latency_ns.begin(), r.latency_ns.end());
    }
    state.SetItemsProcessed(static_cast<int64_t>(messages));
    state.counters["msgs_per_s"] = static_cast<double>(messages) / seconds;
    state.counters["cpu_ns_per_msg"] = cpu * 1e9 / static_cast<double>(messages);
    state.counters["cores"] = cpu / seconds;
    if (reports != 0) {
        state.counters["reports_per_s"] = static_cast<double>(reports) / seconds;
    }
    if (!latency.empty()) {
        state.counters["p50_us"] = percentile_us(latency, 0.50);
        state.counters["p99_us"] = percentile_us(latency, 0.99);
    }
}

// One job streaming to another; the argument is the payload size.
void BM_StreamOneToOne(benchmark::State& state)
{
    run_flow(state, Flow::kStream1, 500000, static_cast<WORD16>(state.range(0)), 0);
}
BENCHMARK(BM_StreamOneToOne)->Arg(30)->Arg(100)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Three jobs streaming into one, 30-byte messages.
void BM_StreamThreeToOne(benchmark::State& state) { run_flow(state, Flow::kStream3, 300000, 30, 0); }
BENCHMARK(BM_StreamThreeToOne)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The report pipeline as fast as it goes: 30-byte reports.
void BM_Pipeline(benchmark::State& state) { run_flow(state, Flow::kPipeline, 400000, 30, 0); }
BENCHMARK(BM_Pipeline)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The report pipeline paced to the argument in reports per second for one second.
void BM_PacedPipeline(benchmark::State& state)
{
    double rate = static_cast<double>(state.range(0));
    run_flow(state, Flow::kPipeline, static_cast<uint64_t>(rate), 30, rate);
}
BENCHMARK(BM_PacedPipeline)
    ->Arg(100000)
    ->Arg(200000)
    ->Arg(400000)
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The platform with its 28 tasks and nothing flowing: processor time of the whole process over
// ten seconds, as a share of one core. Run it on its own (--benchmark_filter=Idle).
void BM_IdleTasks(benchmark::State& state)
{
    double share = 0;
    for (auto _ : state) {
        timespec c0{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        timespec c1{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double cpu = static_cast<double>(c1.tv_sec - c0.tv_sec) + static_cast<double>(c1.tv_nsec - c0.tv_nsec) / 1e9;
        share = cpu / wall;
        state.SetIterationTime(wall);
    }
    state.counters["percent_of_one_core"] = share * 100.0;
}
BENCHMARK(BM_IdleTasks)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
} // namespace bench

int main(int argc, char** argv)
{
    CN_PlatformProfile prof = CN_EngineProfile(bench::job_table());
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
