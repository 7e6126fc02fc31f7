// The location path of the display job: one position in, its frames to every client of the
// location and display lists, first to clients that take every byte at once, then to real
// sockets.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "zub_context.h"
#include "zub_display.h"
#include "zub_display_job.h"

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

// The same through the socket job's client lists to real (local stream) sockets, read by a
// thread of their own as clients would.
void BM_PositionToSocketClients(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    reactor_info_t& info = zub_context()->reactor_info;
    std::vector<int> readers;
    std::vector<int> servers;
    for (int i = 0; i < n; ++i) {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
            state.SkipWithError("socketpair");
            return;
        }
        fcntl(sv[0], F_SETFL, O_NONBLOCK);
        zub_clients_save(info, info.tag_loc_client, sv[0], nullptr);
        servers.push_back(sv[0]);
        readers.push_back(sv[1]);
    }
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        std::vector<pollfd> fds;
        for (int fd : readers) {
            fds.push_back(pollfd{fd, POLLIN, 0});
        }
        char buf[65536];
        while (!stop.load()) {
            if (poll(fds.data(), fds.size(), 10) > 0) {
                for (const pollfd& p : fds) {
                    if ((p.revents & POLLIN) != 0) {
                        (void)!read(p.fd, buf, sizeof buf);
                    }
                }
            }
        }
    });
    reactor_display_clients clients(info);
    no_platform platform;
    context_t& ctx = *zub_context();
    ctx.displayer_type = 2;  // no display stream: the location stream alone
    display_core core(ctx, clients, platform, [] { return WORD64{1}; }, "/nonexistent");
    msg_position_t pos{4, 0x1122334455667788ull, 0x0102030405060708ull, 1500, -2, 300};
    for (auto _ : state) {
        ++pos.x;
        core.on_tag_loc(pos);
    }
    state.SetItemsProcessed(state.iterations());
    stop = true;
    drain.join();
    for (int fd : servers) {
        zub_clients_take(info, info.tag_loc_client, fd, nullptr);
        close(fd);
    }
    for (int fd : readers) {
        close(fd);
    }
}
BENCHMARK(BM_PositionToSocketClients)->Arg(1)->Arg(32)->UseRealTime();

}  // namespace

namespace {

// Raw blinks of `tags` tags in turn (every one counted for the statistics file, none traced).
void BM_RawBlinkCount(benchmark::State& state)
{
    const WORD64 tags = static_cast<WORD64>(state.range(0));
    counting_clients clients(0);
    no_platform platform;
    display_core core(*zub_context(), clients, platform, [] { return WORD64{1}; }, "/nonexistent");
    msg_raw_blink_t blink{0, 0xB1, 0};
    WORD64 next = 0;
    for (auto _ : state) {
        blink.tag_id = 0x10000 + next;
        next = next + 1 == tags ? 0 : next + 1;
        core.on_raw_blink(blink);
    }
    if (core.tag_statistics().tag_cnt != std::min<WORD64>(tags, static_cast<WORD64>(state.iterations()))) {
        state.SkipWithError("tags miscounted");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawBlinkCount)->Arg(1)->Arg(1000)->Arg(4000)->Arg(10000);

}  // namespace
