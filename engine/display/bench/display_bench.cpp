// The location path of the display job: one position in, its frames to every client of the
// location and display lists (clients that take every byte at once).
#include <benchmark/benchmark.h>

#include <vector>

#include "zub_context.h"
#include "zub_display.h"

namespace {

class counting_clients final : public display_clients {
public:
    explicit counting_clients(unsigned n) : n_(n) {}
    void for_each(display_stream, const std::function<void(unsigned, int)>& visit) override
    {
        for (unsigned i = 0; i < n_; ++i) {
            visit(i, static_cast<int>(100 + i));
        }
    }
    ssize_t send(int, const BYTE*, size_t len) override
    {
        bytes_ += len;
        return static_cast<ssize_t>(len);
    }
    WORD64 identity(int sock) override { return static_cast<WORD64>(sock); }
    void remove(display_stream, int) override {}
    size_t bytes() const { return bytes_; }

private:
    unsigned n_;
    size_t bytes_ = 0;
};

class no_platform final : public display_platform {
public:
    void power_on_ack() override {}
    void start_ok() override {}
    void start_loop_timer_ms(BYTE, WORD32) override {}
};

void BM_PositionToClients(benchmark::State& state)
{
    counting_clients clients(static_cast<unsigned>(state.range(0)));
    no_platform platform;
    context_t& ctx = *zub_context();
    ctx.displayer_type = 0;
    display_core core(ctx, clients, platform, [] { return WORD64{1}; }, "/nonexistent");
    msg_position_t pos{4, 0x1122334455667788ull, 0x0102030405060708ull, 1500, -2, 300};
    for (auto _ : state) {
        ++pos.x;
        core.on_tag_loc(pos);
    }
    benchmark::DoNotOptimize(clients.bytes());
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(clients.bytes()));
}
BENCHMARK(BM_PositionToClients)->Arg(1)->Arg(32);

}  // namespace
