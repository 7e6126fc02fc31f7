// bench_flow.cpp - the message-flow jobs of the kernel benchmarks (see bench_flow.h).
#include "bench_flow.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>

namespace bench {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr WORD16 kSocketType = 0x0300;
constexpr WORD16 kManagerType = 0x0301;  // three: 0x0301..0x0303
constexpr WORD16 kSelectorType = 0x0304; // eighteen: 0x0304..0x0315
constexpr WORD16 kDisplayType = 0x0330;
constexpr WORD16 kSourceType = 0x0310 + 0x10; // three: 0x0320..0x0322
constexpr WORD16 kSinkType = 0x0340;
constexpr int kManagers = 3;
constexpr int kSelectors = 18;
constexpr WORD16 kRecordLen = 17;   // a manager's display record
constexpr WORD16 kPositionLen = 40; // a selector's position
constexpr WORD32 kStart = 1;
constexpr WORD32 kReport = 2;
constexpr WORD32 kRecord = 3;
constexpr WORD32 kPosition = 4;
constexpr WORD32 kData = 5;
constexpr size_t kStampOffset = 0; // send time in ns, paced runs only
constexpr size_t kFlagOffset = 8;  // pipeline: 1 when the report completes a position

struct Done {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    SteadyClock::time_point at;
    void finish()
    {
        std::lock_guard<std::mutex> lock(m);
        at = SteadyClock::now();
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

// One run's parameters (written by the benchmark thread before the start message, read by the
// jobs after it: the queue hand-off orders them) and the per-job tallies.
struct Run {
    Flow flow = Flow::kStream1;
    uint64_t count = 0;
    WORD16 payload = 30;
    double rate = 0;
    uint64_t expected = 0; // deliveries the final job waits for
    uint64_t received = 0; // final job only
    uint64_t manager_next[kManagers] = {};
    std::vector<uint32_t> latency[kManagers + kSelectors + 1]; // managers, selectors, final job
    Done done;
};

Run g_run;

int64_t now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch()).count();
}

void note_latency(int slot, const void* body, WORD32 len)
{
    if (g_run.rate <= 0 || len < kStampOffset + sizeof(int64_t)) {
        return;
    }
    int64_t sent = 0;
    std::memcpy(&sent, static_cast<const BYTE*>(body) + kStampOffset, sizeof sent);
    g_run.latency[slot].push_back(static_cast<uint32_t>(std::min<int64_t>(now_ns() - sent, UINT32_MAX)));
}

void send(WORD32 id, BYTE* data, WORD16 len, WORD16 type)
{
    JID to = CN_LocalJID(type);
    if (g_run.rate > 0 && len >= kStampOffset + sizeof(int64_t)) {
        int64_t stamp = now_ns();
        std::memcpy(data + kStampOffset, &stamp, sizeof stamp);
    }
    XOS_SendAsynMsg(id, data, len, 0, 0, &to);
}

void arrive_final(int slot, const void* body)
{
    note_latency(slot, body, OSS_GetMsgDataLen());
    if (++g_run.received == g_run.expected) {
        g_run.done.finish();
    }
}

// Sends `count` items through `one`, paced to g_run.rate per second when it is set.
template <typename F> void paced_loop(uint64_t count, F one)
{
    if (g_run.rate <= 0) {
        for (uint64_t i = 0; i < count; ++i) {
            one(i);
        }
        return;
    }
    const int64_t start = now_ns();
    uint64_t i = 0;
    while (i < count) {
        auto due = static_cast<uint64_t>(static_cast<double>(now_ns() - start) * g_run.rate / 1e9);
        for (; i < count && i < due; ++i) {
            one(i);
        }
    }
}

void socket_entry(WORD16, WORD32 msgId, void*, void*, BYTE)
{
    if (msgId != kStart) {
        return;
    }
    BYTE data[1024] = {};
    paced_loop(g_run.count, [&](uint64_t i) {
        data[kFlagOffset] = (i % 8 == 7) ? 1 : 0;
        send(kReport, data, g_run.payload, static_cast<WORD16>(kManagerType + i % kManagers));
    });
}

void manager_entry(WORD16, WORD32 msgId, void* body, void*, BYTE)
{
    if (msgId != kReport) {
        return;
    }
    int index = static_cast<int>((XOS_GetSelfJNO() >> 16) - kManagerType);
    note_latency(index, body, OSS_GetMsgDataLen());
    BYTE data[1024];
    WORD16 len = static_cast<WORD16>(OSS_GetMsgDataLen());
    std::memcpy(data, body, len);
    uint64_t n = g_run.manager_next[index]++;
    send(kReport, data, len, static_cast<WORD16>(kSelectorType + (n * kManagers + index) % kSelectors));
    BYTE record[kRecordLen] = {};
    send(kRecord, record, kRecordLen, kDisplayType);
}

void selector_entry(WORD16, WORD32 msgId, void* body, void*, BYTE)
{
    if (msgId != kReport) {
        return;
    }
    int index = static_cast<int>((XOS_GetSelfJNO() >> 16) - kSelectorType);
    note_latency(kManagers + index, body, OSS_GetMsgDataLen());
    if (static_cast<const BYTE*>(body)[kFlagOffset] == 1) {
        BYTE position[kPositionLen] = {};
        send(kPosition, position, kPositionLen, kDisplayType);
    }
}

void display_entry(WORD16, WORD32 msgId, void* body, void*, BYTE)
{
    if (msgId == kRecord || msgId == kPosition) {
        arrive_final(kManagers + kSelectors, body);
    }
}

void source_entry(WORD16, WORD32 msgId, void*, void*, BYTE)
{
    if (msgId != kStart) {
        return;
    }
    BYTE data[1024] = {};
    paced_loop(g_run.count, [&](uint64_t) { send(kData, data, g_run.payload, kSinkType); });
}

void sink_entry(WORD16, WORD32 msgId, void* body, void*, BYTE)
{
    if (msgId == kData) {
        arrive_final(kManagers + kSelectors, body);
    }
}

void idle_entry(WORD16, WORD32, void*, void*, BYTE) {}

double process_cpu_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void start(WORD16 type)
{
    JID from = CN_LocalJID(0);
    JID to = CN_LocalJID(type);
    XOS_SendAsynMsgNJ(kStart, nullptr, 0, 0, 0, &from, &to);
}

std::vector<T_JobCreatReg> build_table();

} // namespace

// Defined by the kernel benchmark's own source.
void ping_entry(WORD16, WORD32, void*, void*, BYTE);
void pong_entry(WORD16, WORD32, void*, void*, BYTE);
void timer_entry(WORD16, WORD32, void*, void*, BYTE);

namespace {

T_JobCreatReg row(WORD16 type, WORD16 task, const char* name, PTFUNCJOBENTRY entry)
{
    T_JobCreatReg r{};
    r.wJobType = type;
    r.wPri = 11;
    r.wSchIndex = task;
    r.wInstance = 1;
    std::snprintf(r.acName, sizeof r.acName, "%s", name);
    r.PEntry = entry;
    r.DataSize = 64;
    return r;
}

std::vector<T_JobCreatReg> build_table()
{
    std::vector<T_JobCreatReg> t;
    t.push_back(row(0x0000, 1, "B_SCS", idle_entry));
    t.push_back(row(0x0001, 1, "notexist", notexist_Job_Entry));
    t.push_back(row(kPingType, 2, "B_PING", ping_entry));
    t.push_back(row(kPongType, 7, "B_PONG", pong_entry));
    t.push_back(row(kTimerType, 25, "B_TIMER", timer_entry));
    t.push_back(row(kSocketType, 2, "B_SOCKET", socket_entry));
    char name[32];
    for (int i = 0; i < kManagers; ++i) {
        std::snprintf(name, sizeof name, "B_MANAGER%d", i + 1);
        t.push_back(row(static_cast<WORD16>(kManagerType + i), static_cast<WORD16>(3 + i), name, manager_entry));
        std::snprintf(name, sizeof name, "B_SOURCE%d", i + 1);
        t.push_back(row(static_cast<WORD16>(kSourceType + i), static_cast<WORD16>(3 + i), name, source_entry));
    }
    t.push_back(row(kDisplayType, 6, "B_DISPLAY", display_entry));
    t.push_back(row(kSinkType, 6, "B_SINK", sink_entry));
    for (int i = 0; i < kSelectors; ++i) {
        std::snprintf(name, sizeof name, "B_SELECT%d", i + 1);
        t.push_back(row(static_cast<WORD16>(kSelectorType + i), static_cast<WORD16>(7 + i), name, selector_entry));
    }
    t.push_back(row(0x5FFF, 1, "END", nullptr));
    return t;
}

} // namespace

const T_JobCreatReg* job_table()
{
    static const std::vector<T_JobCreatReg> table = build_table();
    return table.data();
}

FlowResult bench_flow_run(Flow flow, uint64_t count, WORD16 payload, double rate)
{
    g_run.flow = flow;
    g_run.count = count;
    g_run.payload = payload;
    g_run.rate = rate;
    g_run.received = 0;
    for (auto& v : g_run.latency) {
        v.clear();
        if (rate > 0) {
            v.reserve(count + count / 8);
        }
    }
    FlowResult r;
    switch (flow) {
    case Flow::kStream1:
        g_run.expected = count;
        r.messages = count;
        break;
    case Flow::kStream3:
        g_run.expected = 3 * count;
        r.messages = 3 * count;
        break;
    case Flow::kPipeline:
        g_run.expected = count + count / 8;
        r.messages = 3 * count + count / 8;
        r.reports = count;
        break;
    }
    const double cpu0 = process_cpu_seconds();
    const auto t0 = SteadyClock::now();
    if (flow == Flow::kPipeline) {
        start(kSocketType);
    } else {
        for (int i = 0; i < (flow == Flow::kStream3 ? 3 : 1); ++i) {
            start(static_cast<WORD16>(kSourceType + i));
        }
    }
    g_run.done.wait();
    r.cpu_seconds = process_cpu_seconds() - cpu0;
    r.seconds = std::chrono::duration<double>(g_run.done.at - t0).count();
    for (auto& v : g_run.latency) {
        r.latency_ns.insert(r.latency_ns.end(), v.begin(), v.end());
    }
    return r;
}

} // namespace bench
