// round_driver.h - what the selector's round benchmarks share: a selector on the benchmark's
// own clock that counts its records, and the loop that feeds one tag's reports and ticks once
// per iteration. Header only; the benchmarks' thread.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

#include "zub_selector.h"

namespace selector_bench {

// The round a report kind goes through: its intake and its solve tick.
struct RoundKind {
    int (Selector::*intake)(const BYTE* data, WORD32 length);
    void (Selector::*tick)();
};
inline constexpr RoundKind kTdoaRound{&Selector::recv_toa_report, &Selector::recv_timer_periodic_calculate};
inline constexpr RoundKind kTofRound{&Selector::recv_tof_report, &Selector::recv_timer_periodic_calculate_tof};

// Per iteration: every message of `msgs` with the next sequence number (payload byte 1), the
// tick 20 ms after them, the next round 80 ms later. Counters: records, and positions a second.
inline void run_rounds(benchmark::State& state, RoundKind kind, std::vector<std::vector<BYTE>>& msgs)
{
    WORD64 now = 1000;
    WORD64 records = 0;
    SelectorEnv env;
    env.now_ms = [&now] { return now; };
    env.send = [&records](WORD32, const void*, WORD16) { ++records; };
    Selector sel(env);
    BYTE seq = 0;
    for (auto _ : state) {
        ++seq;
        for (auto& m : msgs) {
            m[5] = seq;
            (sel.*kind.intake)(m.data(), static_cast<WORD32>(m.size()));
        }
        now += 20;
        (sel.*kind.tick)();
        now += 80;
    }
    state.counters["positions/s"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsRate);
    state.counters["records"] = static_cast<double>(records);
}

}  // namespace selector_bench
