// Thread, thread-local, lock and condition wrappers: results, error signs and time-outs.
#include "qk_thread.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

void* mark_ran(void* arg) {
    static_cast<std::atomic<int>*>(arg)->store(1);
    return nullptr;
}

TEST(qk_thread, CreateJoinAndSelf) {
    std::atomic<int> ran{0};
    pthread_t tid{};
    ASSERT_EQ(qk_thread_create(&tid, mark_ran, &ran), 0);
    EXPECT_EQ(qk_thread_join(tid), 0);
    EXPECT_EQ(ran.load(), 1);

    pthread_t self{};
    EXPECT_EQ(qk_thread_self(&self), 0);
    EXPECT_TRUE(pthread_equal(self, pthread_self()));
}

TEST(qk_thread, JoinGivesThePositiveErrorOthersTheNegated) {
    EXPECT_EQ(qk_thread_join(pthread_self()), EDEADLK);
    pthread_t tid{};
    EXPECT_EQ(qk_thread_create(&tid, nullptr, nullptr), -EINVAL);
    EXPECT_EQ(qk_thread_setaffinity(pthread_self(), 0), -EINVAL); // no processor allowed
}

TEST(qk_thread, AffinityUsesTheLowEightBits) {
    int original = 0;
    ASSERT_EQ(qk_thread_getaffinity(pthread_self(), &original), 0);
    if ((original & 0xFF) == 0) {
        GTEST_SKIP() << "none of processors 0..7 is available";
    }
    int lowest = original & -original;
    ASSERT_EQ(qk_thread_setaffinity(pthread_self(), lowest | 0x7F00), 0); // bits 8+ ignored
    int now = 0;
    ASSERT_EQ(qk_thread_getaffinity(pthread_self(), &now), 0);
    EXPECT_EQ(now, lowest);
    EXPECT_EQ(sched_getcpu(), __builtin_ctz(static_cast<unsigned>(lowest)));
    EXPECT_EQ(qk_thread_setaffinity(pthread_self(), original), 0);
    EXPECT_EQ(qk_thread_getaffinity(pthread_self(), nullptr), -EINVAL);
}

std::atomic<int> g_destroyed{0};
void count_destroy(void*) { g_destroyed.fetch_add(1); }

struct TlsProbe {
    pthread_key_t key;
    void* seen_before_set;
    void* seen_after_set;
};

void* use_tls(void* arg) {
    auto* probe = static_cast<TlsProbe*>(arg);
    probe->seen_before_set = qk_tls_get(probe->key);
    static int mine = 7;
    qk_tls_set(probe->key, &mine);
    probe->seen_after_set = qk_tls_get(probe->key);
    return nullptr;
}

TEST(qk_thread, ThreadLocalValuesArePerThread) {
    TlsProbe probe{};
    ASSERT_EQ(qk_tls_new(&probe.key, count_destroy), 0);
    int main_value = 1;
    ASSERT_EQ(qk_tls_set(probe.key, &main_value), 0);
    EXPECT_EQ(qk_tls_get(probe.key), &main_value);

    pthread_t tid{};
    ASSERT_EQ(qk_thread_create(&tid, use_tls, &probe), 0);
    ASSERT_EQ(qk_thread_join(tid), 0);
    EXPECT_EQ(probe.seen_before_set, nullptr);
    EXPECT_NE(probe.seen_after_set, nullptr);
    EXPECT_EQ(g_destroyed.load(), 1); // the other thread's value, at its exit
    EXPECT_EQ(qk_tls_get(probe.key), &main_value);
    EXPECT_EQ(qk_tls_set(probe.key, nullptr), 0);
    EXPECT_EQ(qk_tls_free(probe.key), 0);
    EXPECT_EQ(qk_tls_new(nullptr, nullptr), -EINVAL);
}

TEST(qk_thread, LocksAcquireAndRelease) {
    pthread_mutex_t* lock = qk_lock_new();
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(qk_lock_acquire(lock), 0);
    EXPECT_EQ(pthread_mutex_trylock(lock), EBUSY);
    EXPECT_EQ(qk_lock_release(lock), 0);
    EXPECT_EQ(pthread_mutex_trylock(lock), 0);
    EXPECT_EQ(qk_lock_release(lock), 0);
    qk_lock_free(lock);
    qk_lock_free(nullptr);
    EXPECT_LT(qk_lock_acquire(nullptr), 0);
    EXPECT_LT(qk_lock_release(nullptr), 0);
}

TEST(qk_thread, CondWaitBelowOneSecondTimesOutAtOnce) {
    pthread_cond_t* cond = qk_cond_new();
    pthread_mutex_t* lock = qk_lock_new();
    ASSERT_NE(cond, nullptr);
    ASSERT_NE(lock, nullptr);
    qk_lock_acquire(lock);
    // The longest time-out below a second: a wait for it would take at least 999 ms, far more
    // than any wake-up delay adds to a return at once.
    const auto start = Clock::now();
    EXPECT_EQ(qk_cond_wait(cond, lock, 999), -ETIMEDOUT);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900));
    qk_lock_release(lock);
    qk_cond_free(cond);
    qk_lock_free(lock);
}

TEST(qk_thread, CondWaitCountsWholeSeconds) {
    pthread_cond_t* cond = qk_cond_new();
    pthread_mutex_t* lock = qk_lock_new();
    qk_lock_acquire(lock);
    const auto start = Clock::now();
    EXPECT_EQ(qk_cond_wait(cond, lock, 2000), -ETIMEDOUT);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(990));
    EXPECT_LE(waited, std::chrono::milliseconds(2500));
    qk_lock_release(lock);
    qk_cond_free(cond);
    qk_lock_free(lock);
}

struct Signalled {
    pthread_cond_t* cond;
    pthread_mutex_t* lock;
    bool ready = false;
};

void* signal_after_set(void* arg) {
    auto* s = static_cast<Signalled*>(arg);
    qk_lock_acquire(s->lock);
    s->ready = true;
    qk_lock_release(s->lock);
    qk_cond_signal(s->cond);
    return nullptr;
}

TEST(qk_thread, CondSignalWakesAnUntimedWaiter) {
    Signalled s{qk_cond_new(), qk_lock_new()};
    qk_lock_acquire(s.lock);
    pthread_t tid{};
    ASSERT_EQ(qk_thread_create(&tid, signal_after_set, &s), 0);
    while (!s.ready) {
        ASSERT_EQ(qk_cond_wait(s.cond, s.lock, 0), 0);
    }
    qk_lock_release(s.lock);
    qk_thread_join(tid);
    EXPECT_EQ(qk_cond_wait(nullptr, s.lock, 0), -1);
    EXPECT_EQ(qk_cond_wait(s.cond, nullptr, 0), -1);
    EXPECT_EQ(qk_cond_signal(nullptr), -1);
    EXPECT_EQ(qk_cond_signal(s.cond), 0);
    qk_cond_free(s.cond);
    qk_lock_free(s.lock);
    qk_cond_free(nullptr);
}

} // namespace
