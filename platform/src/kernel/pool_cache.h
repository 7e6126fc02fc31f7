// pool_cache.h - one size class of one shard of the kernel's block allocator: fixed-size chunks
// carved from pools (anonymous mappings) that are taken as the class needs them and given back
// to the system once they have lain wholly unused for a while. The first pool stays for the life of the process
// (the steady need of a quiet engine); the others are what a burst took on.
//
// A chunk is taken from the pool of the lowest number that has one free, so after a burst the
// later pools drain and come free as a whole. Each pool keeps its own free list; a chunk goes
// back to the pool it came from (the caller keeps the pool number with the chunk).
//
// Threads: any; one lock per cache (taken for every take, give and trim).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace cn_kernel {

class PoolCache {
public:
    static constexpr unsigned kMaxPools = 8;

    // Chunks of `chunk_bytes` (at least a pointer), `chunks_per_pool` to a pool, at most
    // `max_pools` pools (1..kMaxPools). Takes no memory yet.
    PoolCache(size_t chunk_bytes, size_t chunks_per_pool, unsigned max_pools);
    ~PoolCache();
    PoolCache(const PoolCache&) = delete;
    PoolCache& operator=(const PoolCache&) = delete;

    // A free chunk and the number of its pool; a new pool is taken when none has one free.
    // nullptr when every pool is in use and no more may be taken, or memory cannot be had.
    void* take(unsigned* pool);
    // A chunk back to its pool; `now_ms` (a monotonic clock) stamps a pool that comes wholly
    // free.
    void give(void* chunk, unsigned pool, uint64_t now_ms);
    // Gives back to the system every pool but the first that has lain wholly free since
    // `now_ms - idle_ms` or earlier; the bytes given back.
    size_t trim(uint64_t now_ms, uint64_t idle_ms);

    unsigned pools() const;       // pools held now
    size_t pool_bytes() const { return chunk_bytes_ * chunks_per_pool_; }

private:
    struct Pool {
        char* memory = nullptr;
        void* free = nullptr;  // chunks linked through their first word
        size_t free_count = 0;
        uint64_t free_since_ms = 0;  // when free_count last reached the pool's size
    };

    bool open_pool(unsigned index);
    void* pop(unsigned index, unsigned* pool);  // under lock_, from a pool with a free chunk

    const size_t chunk_bytes_;
    const size_t chunks_per_pool_;
    const unsigned max_pools_;
    mutable std::mutex lock_;
    Pool pools_[kMaxPools];  // under lock_
};

} // namespace cn_kernel
