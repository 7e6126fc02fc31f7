// The reactor: event flags, the three run modes, and attach/detach from foreign threads
// while the loop runs on its own thread.
#include "qk_reactor.h"

#include <event2/event.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct SocketPair {
    int fds[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0); }
    ~SocketPair() {
        close(fds[0]);
        close(fds[1]);
    }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;
    int reader() const { return fds[0]; }
    void poke() const { ASSERT_EQ(write(fds[1], "x", 1), 1); }
};

struct Hits {
    std::atomic<int> count{0};
    std::atomic<int> last_fd{-1};
    std::atomic<short> last_what{0};
    bool drain = true;
};

void count_hit(int fd, short what, void* arg) {
    auto* hits = static_cast<Hits*>(arg);
    if (hits->drain) {
        char buf[64];
        while (read(fd, buf, sizeof buf) > 0) {
        }
    }
    hits->last_fd = fd;
    hits->last_what = what;
    hits->count.fetch_add(1);
}

bool wait_for(const std::atomic<int>& value, int at_least, std::chrono::milliseconds limit = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (value.load() < at_least) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(100us);
    }
    return true;
}

class qk_reactor : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = qk_reactor_new();
        ASSERT_NE(handle_, nullptr);
        ASSERT_NE(handle_->base, nullptr);
        EXPECT_EQ(handle_->tid, pthread_t{});
    }
    void TearDown() override { EXPECT_EQ(qk_reactor_free(handle_), 0); }
    reactor_handle_t* handle_ = nullptr;
};

TEST_F(qk_reactor, AttachAsksForPersistentReadsLevelOrEdge) {
    SocketPair pair;
    Hits hits;
    event* level = qk_reactor_attach(handle_, pair.reader(), count_hit, &hits, REACTOR_LEVEL);
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(event_get_events(level), 0x12);
    EXPECT_EQ(qk_reactor_detach(handle_, level), 0);
    event* edge = qk_reactor_attach(handle_, pair.reader(), count_hit, &hits, REACTOR_EDGE);
    ASSERT_NE(edge, nullptr);
    EXPECT_EQ(event_get_events(edge), 0x32);
    void* arg = nullptr;
    qk_reactor_get_arg(edge, &arg);
    EXPECT_EQ(arg, &hits);
    EXPECT_EQ(qk_reactor_detach(handle_, edge), 0);
}

TEST_F(qk_reactor, NullHandleNullEventAndBadDescriptor) {
    Hits hits;
    SocketPair pair;
    EXPECT_EQ(qk_reactor_attach(nullptr, pair.reader(), count_hit, &hits, REACTOR_LEVEL), nullptr);
    EXPECT_EQ(qk_reactor_detach(handle_, nullptr), 0);
    EXPECT_EQ(qk_reactor_detach(nullptr, nullptr), 0);
    void* arg = &hits;
    qk_reactor_get_arg(nullptr, &arg);
    EXPECT_EQ(arg, nullptr);
    qk_reactor_get_arg(nullptr, nullptr);
    EXPECT_EQ(qk_reactor_free(nullptr), 0);
    EXPECT_EQ(qk_reactor_run(nullptr, REACTOR_RUN_ONCE), -1);

    // A descriptor that is not open cannot be watched: no event rather than a dead one.
    const int closed = dup(pair.reader());
    ASSERT_GE(closed, 0);
    close(closed);
    EXPECT_EQ(qk_reactor_attach(handle_, closed, count_hit, &hits, REACTOR_LEVEL), nullptr);
}

TEST_F(qk_reactor, RunOnceDeliversAReadableSocket) {
    SocketPair pair;
    Hits hits;
    event* ev = qk_reactor_attach(handle_, pair.reader(), count_hit, &hits, REACTOR_LEVEL);
    ASSERT_NE(ev, nullptr);
    pair.poke();
    EXPECT_EQ(qk_reactor_run(handle_, REACTOR_RUN_ONCE), 0);
    EXPECT_EQ(hits.count.load(), 1);
    EXPECT_EQ(hits.last_fd.load(), pair.reader());
    EXPECT_TRUE((hits.last_what.load() & EV_READ) != 0);
    qk_reactor_detach(handle_, ev);
}

TEST_F(qk_reactor, LevelFiresAgainForUnreadDataEdgeDoesNot) {
    for (int trigger : {REACTOR_LEVEL, REACTOR_EDGE}) {
        SocketPair pair;
        Hits hits;
        hits.drain = false;
        event* ev = qk_reactor_attach(handle_, pair.reader(), count_hit, &hits, trigger);
        ASSERT_NE(ev, nullptr);
        pair.poke();
        ASSERT_EQ(qk_reactor_run(handle_, REACTOR_RUN_ONCE), 0);
        ASSERT_EQ(hits.count.load(), 1);
        event_base_loop(handle_->base, EVLOOP_ONCE | EVLOOP_NONBLOCK);
        EXPECT_EQ(hits.count.load(), trigger == REACTOR_LEVEL ? 2 : 1) << "trigger " << trigger;
        qk_reactor_detach(handle_, ev);
    }
}

struct LoopStopper {
    reactor_handle_t* handle;
    std::atomic<int> count{0};
};

void read_and_break(int fd, short, void* arg) {
    auto* stopper = static_cast<LoopStopper*>(arg);
    char buf[8];
    while (read(fd, buf, sizeof buf) > 0) {
    }
    stopper->count.fetch_add(1);
    event_base_loopbreak(stopper->handle->base);
}

TEST_F(qk_reactor, BlockingRunWaitsOnAnEmptyBaseUntilAnAttach) {
    LoopStopper stopper{handle_};
    auto loop = std::async(std::launch::async, [this] { return qk_reactor_run(handle_, REACTOR_RUN_BLOCK); });
    EXPECT_EQ(loop.wait_for(50ms), std::future_status::timeout) << "returned with nothing attached";

    SocketPair pair;
    event* ev = qk_reactor_attach(handle_, pair.reader(), read_and_break, &stopper, REACTOR_LEVEL);
    ASSERT_NE(ev, nullptr);
    pair.poke();
    ASSERT_EQ(loop.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(loop.get(), 0);
    EXPECT_EQ(stopper.count.load(), 1);
    qk_reactor_detach(handle_, ev);
}

// An event placed in caller memory, so that it may outlive the base it was added to:
// qk_reactor_free releases the base, not the events still in it.
class PlacedEvent {
public:
    PlacedEvent(reactor_handle_t* handle, int fd, Hits* hits) : storage_(event_get_struct_event_size()) {
        EXPECT_EQ(event_assign(get(), handle->base, fd, EV_READ | EV_PERSIST, count_hit, hits), 0);
        EXPECT_EQ(event_add(get(), nullptr), 0);
    }
    event* get() { return reinterpret_cast<event*>(storage_.data()); }

private:
    std::vector<unsigned char> storage_;
};

TEST(qk_reactor_thread, ThreadModeRunsTheLoopAndFreeJoinsIt) {
    reactor_handle_t* handle = qk_reactor_new();
    ASSERT_NE(handle, nullptr);
    SocketPair keeper;
    Hits keeper_hits;
    PlacedEvent keeper_ev(handle, keeper.reader(), &keeper_hits);
    ASSERT_EQ(qk_reactor_run(handle, REACTOR_RUN_THREAD), 0);
    EXPECT_NE(handle->tid, pthread_t{});

    SocketPair pair;
    Hits hits;
    event* ev = qk_reactor_attach(handle, pair.reader(), count_hit, &hits, REACTOR_LEVEL);
    ASSERT_NE(ev, nullptr);
    pair.poke();
    EXPECT_TRUE(wait_for(hits.count, 1));
    pair.poke();
    EXPECT_TRUE(wait_for(hits.count, 2));
    EXPECT_EQ(qk_reactor_detach(handle, ev), 0);
    // The keeper stays attached: free must still stop and join the loop thread.
    auto freed = std::async(std::launch::async, [handle] { return qk_reactor_free(handle); });
    ASSERT_EQ(freed.wait_for(5s), std::future_status::ready) << "free did not stop the loop thread";
    EXPECT_EQ(freed.get(), 0);
}

TEST(qk_reactor_thread, FreeRightAfterStartingTheThreadStillStopsIt) {
    for (int round = 0; round < 50; ++round) {
        reactor_handle_t* handle = qk_reactor_new();
        ASSERT_NE(handle, nullptr);
        SocketPair keeper;
        Hits hits;
        PlacedEvent keeper_ev(handle, keeper.reader(), &hits);
        // Start and free back to back: the loop thread has most likely not yet entered
        // its dispatch when the free asks it to stop.
        auto freed = std::async(std::launch::async, [handle] {
            const int started = qk_reactor_run(handle, REACTOR_RUN_THREAD);
            return started == 0 ? qk_reactor_free(handle) : -1;
        });
        ASSERT_EQ(freed.wait_for(5s), std::future_status::ready) << "round " << round;
        EXPECT_EQ(freed.get(), 0);
    }
}

// One socket owned by a foreign thread: attached, poked, detached while the loop runs.
struct Probe {
    reactor_handle_t* handle = nullptr;
    event* ev = nullptr;
    std::atomic<int> hits{0};
    std::atomic<bool> in_callback{false};
    std::atomic<bool> detached{false};
};

std::atomic<int> g_late_callbacks{0};

void slow_probe_callback(int fd, short, void* arg) {
    auto* probe = static_cast<Probe*>(arg);
    if (probe->detached.load()) {
        g_late_callbacks.fetch_add(1);
    }
    probe->in_callback = true;
    char buf[16];
    while (read(fd, buf, sizeof buf) > 0) {
    }
    // Linger so that detaches from other threads often meet a running callback.
    std::this_thread::sleep_for(50us);
    probe->hits.fetch_add(1);
    probe->in_callback = false;
}

TEST(qk_reactor_threads, ForeignThreadsAttachAndDetachWhileTheLoopRuns) {
    reactor_handle_t* handle = qk_reactor_new();
    ASSERT_NE(handle, nullptr);
    // Keeps the base non-empty, so that a loopbreak at the end cannot meet the 1-ms idle
    // retry of the blocking run.
    SocketPair keeper;
    Hits keeper_hits;
    event* keeper_ev = qk_reactor_attach(handle, keeper.reader(), count_hit, &keeper_hits, REACTOR_LEVEL);
    ASSERT_NE(keeper_ev, nullptr);
    auto loop = std::async(std::launch::async, [handle] { return qk_reactor_run(handle, REACTOR_RUN_BLOCK); });

    constexpr int kThreads = 4;
    constexpr int kRounds = 150;
    std::atomic<int> not_delivered{0};
    std::atomic<int> running_after_detach{0};
    std::atomic<int> attach_failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                SocketPair pair;
                auto probe = std::make_unique<Probe>();
                probe->handle = handle;
                probe->ev = qk_reactor_attach(handle, pair.reader(), slow_probe_callback, probe.get(),
                                              round % 2 == 0 ? REACTOR_LEVEL : REACTOR_EDGE);
                if (probe->ev == nullptr) {
                    attach_failures.fetch_add(1);
                    continue;
                }
                pair.poke();
                if (!wait_for(probe->hits, 1)) {
                    not_delivered.fetch_add(1);
                }
                pair.poke(); // races with the detach below
                qk_reactor_detach(handle, probe->ev);
                if (probe->in_callback.load()) {
                    running_after_detach.fetch_add(1);
                }
                probe->detached = true;
                pair.poke(); // must not reach the callback any more
                // probe (the callback argument) is freed here, right after the detach.
            }
        });
    }
    for (auto& w : workers) {
        w.join();
    }
    std::this_thread::sleep_for(20ms); // a late callback would show now
    event_base_loopbreak(handle->base);
    ASSERT_EQ(loop.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(loop.get(), 0);

    EXPECT_EQ(attach_failures.load(), 0);
    EXPECT_EQ(not_delivered.load(), 0);
    EXPECT_EQ(running_after_detach.load(), 0);
    EXPECT_EQ(g_late_callbacks.load(), 0);
    qk_reactor_detach(handle, keeper_ev);
    EXPECT_EQ(qk_reactor_free(handle), 0);
}

struct SelfDetach {
    reactor_handle_t* handle = nullptr;
    event* ev = nullptr;
    std::atomic<int> hits{0};
};

void detach_self(int fd, short, void* arg) {
    auto* self = static_cast<SelfDetach*>(arg);
    char buf[8];
    while (read(fd, buf, sizeof buf) > 0) {
    }
    qk_reactor_detach(self->handle, self->ev);
    self->hits.fetch_add(1);
}

TEST(qk_reactor_threads, CallbackMayDetachItsOwnEventOnTheLoopThread) {
    reactor_handle_t* handle = qk_reactor_new();
    ASSERT_NE(handle, nullptr);
    SocketPair keeper;
    Hits keeper_hits;
    event* keeper_ev = qk_reactor_attach(handle, keeper.reader(), count_hit, &keeper_hits, REACTOR_LEVEL);
    ASSERT_EQ(qk_reactor_run(handle, REACTOR_RUN_THREAD), 0);

    SocketPair pair;
    SelfDetach self;
    self.handle = handle;
    self.ev = qk_reactor_attach(handle, pair.reader(), detach_self, &self, REACTOR_LEVEL);
    ASSERT_NE(self.ev, nullptr);
    pair.poke();
    ASSERT_TRUE(wait_for(self.hits, 1));
    pair.poke();
    keeper.poke(); // one more loop pass after the second byte
    ASSERT_TRUE(wait_for(keeper_hits.count, 1));
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(self.hits.load(), 1);
    qk_reactor_detach(handle, keeper_ev);
    EXPECT_EQ(qk_reactor_free(handle), 0);
}

} // namespace
