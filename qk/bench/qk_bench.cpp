// Costs of the queue and of attach/detach on a running reactor, as the engine uses them.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "qk_queue.h"
#include "qk_reactor.h"

namespace {

void BM_QueuePushPoll(benchmark::State& state) {
    queue_t q{};
    qk_queue_init(&q);
    node_t node{};
    for (auto _ : state) {
        qk_queue_push(&q, &node);
        benchmark::DoNotOptimize(qk_queue_poll(&q, 0));
    }
}
BENCHMARK(BM_QueuePushPoll);

// Threads take a node from the one shared queue and put it back; the queue holds more
// nodes than there are threads, so a poll waits only while others hold the lock.
struct SharedQueue {
    queue_t queue{};
    node_t nodes[64]{};
    SharedQueue() {
        qk_queue_init(&queue);
        for (node_t& node : nodes) {
            qk_queue_push(&queue, &node);
        }
    }
};

void BM_QueueShared(benchmark::State& state) {
    static SharedQueue shared;
    for (auto _ : state) {
        qk_queue_push(&shared.queue, qk_queue_poll(&shared.queue, 1));
    }
}
BENCHMARK(BM_QueueShared)->Threads(1)->Threads(4)->Threads(8)->UseRealTime();

void ignore_read(int, short, void*) {}

// Attach and detach from this thread while another thread sits in the blocking loop.
void BM_ReactorAttachDetachWhileLooping(benchmark::State& state) {
    reactor_handle_t* handle = qk_reactor_new();
    int keeper[2];
    int pair[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, keeper);
    socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
    event* keeper_ev = qk_reactor_attach(handle, keeper[0], ignore_read, nullptr, REACTOR_LEVEL);
    qk_reactor_run(handle, REACTOR_RUN_THREAD);
    for (auto _ : state) {
        event* ev = qk_reactor_attach(handle, pair[0], ignore_read, nullptr, REACTOR_LEVEL);
        qk_reactor_detach(handle, ev);
    }
    qk_reactor_detach(handle, keeper_ev);
    qk_reactor_free(handle);
    for (int fd : {keeper[0], keeper[1], pair[0], pair[1]}) {
        close(fd);
    }
}
BENCHMARK(BM_ReactorAttachDetachWhileLooping)->UseRealTime();

} // namespace
