// The clock-sync job's receive and transmit paths, per report, slot publication included:
// - Rx/matched: a receive report whose transmit time is held (history, filter, publish);
// - Rx/pending: one that waits for its transmit report (capped list append);
// - Tx/empty: a transmit report with no reception waiting (the 239-number run);
// - Tx/pass: a transmit report that applies the receptions of its number from `range(0)`
//   slaves (per transmit report; divide by the slaves for the cost per reception);
// - Rx/matched with 18 reader threads taking snapshots of the same slave's slots meanwhile.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

#include "../tests/clocksync_test_support.h"

namespace {

constexpr WORD16 kMaster = 500;
constexpr WORD16 kFirstSlave = 510;

struct Site {
    explicit Site(unsigned slaves) : job(fake.ports())
    {
        master = cst::prepare_anchor(kMaster, 0xF500);
        for (unsigned s = 0; s < slaves; ++s) {
            Anchor* a = cst::prepare_anchor(static_cast<WORD16>(kFirstSlave + s), 0xF510 + s, 0.0, 3.0 * s, 2.0);
            cst::follow(a, master);
            this->slaves.push_back(a);
            feed(rx_body(a, 0, 1));  // creates the pair
        }
    }
    std::vector<BYTE> rx_body(const Anchor* slave, BYTE seq, WORD64 ticks) const
    {
        return cst::frame_body(slave->id, cst::rx_payload(seq, master->hardware_id, ticks, 800));
    }
    std::vector<BYTE> tx_body(BYTE seq, WORD64 ticks) const
    {
        return cst::frame_body(master->id, cst::tx_payload(seq, ticks));
    }
    void feed(const std::vector<BYTE>& body) { job.ccp_rcv(cst::as_sock_data(body)); }

    cst::FakePorts fake;
    ClockSyncJob job;
    Anchor* master = nullptr;
    std::vector<Anchor*> slaves;
};

// Reports for 256 numbers built ahead, so the loop measures the job only.
std::vector<std::vector<BYTE>> rx_bodies(const Site& site, const Anchor* slave)
{
    std::vector<std::vector<BYTE>> out;
    for (unsigned i = 0; i < 256; ++i) {
        out.push_back(site.rx_body(slave, static_cast<BYTE>(i), 6400000ull * i + 5000000));
    }
    return out;
}

void BM_RxMatched(benchmark::State& state)
{
    Site site(1);
    for (unsigned i = 0; i < 256; ++i) {
        // Every number holds its transmit time (as after the numbers just sent).
        site.master->validCCPSeqNum[i] = static_cast<int>(i);
        site.master->CCPTxTime[i] = 0.1 * i;
    }
    const auto bodies = rx_bodies(site, site.slaves[0]);
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int r = 0; r < state.range(0); ++r) {
        readers.emplace_back([&] {
            double sum = 0.0;
            while (!stop.load(std::memory_order_relaxed)) {
                sum += site.slaves[0]->cs_snapshot(0).cs_kalman.syncTOA(1.0);
            }
            benchmark::DoNotOptimize(sum);
        });
    }
    unsigned i = 0;
    for (auto _ : state) {
        site.feed(bodies[i++ & 0xFF]);
    }
    stop.store(true);
    for (auto& t : readers) {
        t.join();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RxMatched)->Arg(0)->Arg(18)->UseRealTime();

void BM_RxPending(benchmark::State& state)
{
    Site site(1);
    const auto bodies = rx_bodies(site, site.slaves[0]);
    unsigned i = 0;
    for (auto _ : state) {
        site.feed(bodies[i++ & 0xFF]);  // no transmit time: every one waits, the list at its cap
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RxPending);

void BM_TxEmpty(benchmark::State& state)
{
    Site site(1);
    std::vector<std::vector<BYTE>> bodies;
    for (unsigned i = 0; i < 256; ++i) {
        bodies.push_back(site.tx_body(static_cast<BYTE>(i), 6400000ull * i));
    }
    unsigned i = 0;
    for (auto _ : state) {
        site.feed(bodies[i++ & 0xFF]);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TxEmpty);

void BM_TxPass(benchmark::State& state)
{
    const auto slaves = static_cast<unsigned>(state.range(0));
    Site site(slaves);
    std::vector<std::vector<std::vector<BYTE>>> rx(slaves);
    for (unsigned s = 0; s < slaves; ++s) {
        rx[s] = rx_bodies(site, site.slaves[s]);
    }
    std::vector<std::vector<BYTE>> tx;
    for (unsigned i = 0; i < 256; ++i) {
        tx.push_back(site.tx_body(static_cast<BYTE>(i), 6400000ull * i));
    }
    unsigned i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (unsigned s = 0; s < slaves; ++s) {
            site.feed(rx[s][i & 0xFF]);  // every slave heard it before the master reported it
        }
        state.ResumeTiming();
        site.feed(tx[i & 0xFF]);
        ++i;
    }
    state.SetItemsProcessed(state.iterations() * slaves);
}
BENCHMARK(BM_TxPass)->Arg(1)->Arg(16)->Arg(64);

}  // namespace
