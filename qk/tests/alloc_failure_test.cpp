// Allocation failures inside the library: each constructor gives null and keeps nothing.
// The C allocator is interposed for this executable; the test counts the allocations a
// call makes, then repeats the call with one of them failing.
#include <gtest/gtest.h>

#include <cstddef>

#include "qk_memory.h"
#include "qk_reactor.h"
#include "qk_thread.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t n, size_t size);
void* __libc_realloc(void* ptr, size_t size);
void __libc_free(void* ptr);
}

namespace {

// Single-threaded use only: the tests below start no threads while counting.
bool g_counting = false;
int g_calls = 0;
int g_fail_at = 0; // 1-based index of the allocation to fail; 0 fails none
long g_live = 0;   // allocations minus frees while counting

bool fail_this_one() { return g_counting && ++g_calls == g_fail_at; }

void* counted(void* ptr) {
    if (g_counting && ptr != nullptr) {
        ++g_live;
    }
    return ptr;
}

} // namespace

extern "C" {
void* malloc(size_t size) { return fail_this_one() ? nullptr : counted(__libc_malloc(size)); }
void* calloc(size_t n, size_t size) { return fail_this_one() ? nullptr : counted(__libc_calloc(n, size)); }
void* realloc(void* ptr, size_t size) {
    if (ptr != nullptr) {
        return __libc_realloc(ptr, size); // a resize, not a new allocation
    }
    return fail_this_one() ? nullptr : counted(__libc_realloc(nullptr, size));
}
void free(void* ptr) {
    if (g_counting && ptr != nullptr) {
        --g_live;
    }
    __libc_free(ptr);
}
}

namespace {

struct Counted {
    int calls;
    long live;
};

template <typename F> Counted count_allocations(F&& call, int fail_at) {
    g_calls = 0;
    g_live = 0;
    g_fail_at = fail_at;
    g_counting = true;
    call();
    g_counting = false;
    return {g_calls, g_live};
}

TEST(qk_alloc_failure, ReactorNewReleasesTheBaseWhenTheHandleCannotBeMade) {
    qk_reactor_free(qk_reactor_new()); // one-time libevent set-up outside the count
    reactor_handle_t* handle = nullptr;
    const Counted normal = count_allocations([&] { handle = qk_reactor_new(); }, 0);
    ASSERT_NE(handle, nullptr);
    qk_reactor_free(handle);
    ASSERT_GE(normal.calls, 2);

    // The handle is the last allocation; then every earlier one in turn (the base's parts).
    for (int fail_at = normal.calls; fail_at >= 1; --fail_at) {
        handle = reinterpret_cast<reactor_handle_t*>(1);
        const Counted failed = count_allocations([&] { handle = qk_reactor_new(); }, fail_at);
        if (handle != nullptr) {
            qk_reactor_free(handle); // libevent may survive some failures on its own
            continue;
        }
        EXPECT_EQ(failed.live, 0) << "allocation " << fail_at << " failed and memory was kept";
    }
}

TEST(qk_alloc_failure, LockCondAndStrdupGiveNull) {
    pthread_mutex_t* lock = nullptr;
    count_allocations([&] { lock = qk_lock_new(); }, 1);
    EXPECT_EQ(lock, nullptr);
    pthread_cond_t* cond = nullptr;
    count_allocations([&] { cond = qk_cond_new(); }, 1);
    EXPECT_EQ(cond, nullptr);
    char* copy = reinterpret_cast<char*>(1);
    count_allocations([&] { copy = qk_strdup("abc"); }, 1);
    EXPECT_EQ(copy, nullptr);
    void* block = reinterpret_cast<void*>(1);
    count_allocations([&] { block = qk_calloc(4, 4); }, 1);
    EXPECT_EQ(block, nullptr);
}

} // namespace
