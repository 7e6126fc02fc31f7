// bench_flow.h - the job table shared by the kernel benchmarks and the message-flow jobs on it:
// streams from one or three jobs into one, and the report pipeline of the engine (one socket job
// to three managers to eighteen selectors, with the managers' display records and the selectors'
// positions into one display job), free-running or paced, with hand-off latencies.
//
// Threads: the flow jobs run on their control tasks; bench_flow_run is for the benchmark thread.
#pragma once

#include <cstdint>
#include <vector>

#include "VorlenComm.h"

namespace bench {

// Schedule layout (28 tasks, as in the engine): socket/ping 2, managers and stream sources 3..5,
// display and stream sink 6, pong 7, selectors 7..24, timer job 25; 26..28 idle.
constexpr WORD16 kPingType = 0x0200;
constexpr WORD16 kPongType = 0x0201;
constexpr WORD16 kTimerType = 0x0202;

const T_JobCreatReg* job_table();

enum class Flow { kStream1, kStream3, kPipeline };

struct FlowResult {
    double seconds = 0;          // from the first send to the last delivery
    double cpu_seconds = 0;      // process processor time over the same span
    uint64_t messages = 0;       // job-to-job hand-offs delivered
    uint64_t reports = 0;        // pipeline: reports the socket job sent
    std::vector<uint32_t> latency_ns; // paced runs: one sample per hand-off
};

// Runs one flow: `count` messages per source (stream) or reports (pipeline) of `payload` bytes.
// rate 0: as fast as the platform takes them; otherwise reports per second, paced by the clock.
FlowResult bench_flow_run(Flow flow, uint64_t count, WORD16 payload, double rate);

} // namespace bench
