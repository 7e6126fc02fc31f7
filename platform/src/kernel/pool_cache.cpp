// pool_cache.cpp - see pool_cache.h.
#include "pool_cache.h"

#include <cstring>

#include <sys/mman.h>

namespace cn_kernel {

namespace {

void* next_of(void* chunk)
{
    void* next = nullptr;
    std::memcpy(&next, chunk, sizeof next);
    return next;
}

void link(void* chunk, void* next) { std::memcpy(chunk, &next, sizeof next); }

} // namespace

PoolCache::PoolCache(size_t chunk_bytes, size_t chunks_per_pool, unsigned max_pools)
    : chunk_bytes_(chunk_bytes < sizeof(void*) ? sizeof(void*) : chunk_bytes), chunks_per_pool_(chunks_per_pool),
      max_pools_(max_pools == 0 ? 1 : max_pools > kMaxPools ? kMaxPools : max_pools)
{
}

PoolCache::~PoolCache()
{
    for (Pool& p : pools_) {
        if (p.memory != nullptr) {
            ::munmap(p.memory, pool_bytes());
        }
    }
}

bool PoolCache::open_pool(unsigned index)
{
    // A mapping of its own, so a pool given back leaves the process at once rather than
    // staying in the C library's free lists.
    void* memory = ::mmap(nullptr, pool_bytes(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        return false;
    }
    Pool& p = pools_[index];
    p.memory = static_cast<char*>(memory);
    p.free = nullptr;
    for (size_t i = chunks_per_pool_; i-- > 0;) {
        void* chunk = p.memory + i * chunk_bytes_;
        link(chunk, p.free);
        p.free = chunk;
    }
    p.free_count = chunks_per_pool_;
    return true;
}

void* PoolCache::pop(unsigned index, unsigned* pool)
{
    Pool& p = pools_[index];
    void* chunk = p.free;
    p.free = next_of(chunk);
    --p.free_count;
    *pool = index;
    return chunk;
}

void* PoolCache::take(unsigned* pool)
{
    std::lock_guard<std::mutex> guard(lock_);
    unsigned closed = max_pools_;  // the first slot without a pool
    for (unsigned i = 0; i < max_pools_; ++i) {
        if (pools_[i].memory == nullptr) {
            closed = closed == max_pools_ ? i : closed;
        } else if (pools_[i].free != nullptr) {
            return pop(i, pool);
        }
    }
    if (closed == max_pools_ || !open_pool(closed)) {
        return nullptr;
    }
    return pop(closed, pool);
}

void PoolCache::give(void* chunk, unsigned pool, uint64_t now_ms)
{
    std::lock_guard<std::mutex> guard(lock_);
    Pool& p = pools_[pool];
    link(chunk, p.free);
    p.free = chunk;
    if (++p.free_count == chunks_per_pool_) {
        p.free_since_ms = now_ms;
    }
}

size_t PoolCache::trim(uint64_t now_ms, uint64_t idle_ms)
{
    std::lock_guard<std::mutex> guard(lock_);
    size_t released = 0;
    for (unsigned i = 1; i < max_pools_; ++i) {
        Pool& p = pools_[i];
        if (p.memory != nullptr && p.free_count == chunks_per_pool_ && now_ms - p.free_since_ms >= idle_ms) {
            ::munmap(p.memory, pool_bytes());
            p = Pool{};
            released += pool_bytes();
        }
    }
    return released;
}

unsigned PoolCache::pools() const
{
    std::lock_guard<std::mutex> guard(lock_);
    unsigned n = 0;
    for (const Pool& p : pools_) {
        n += p.memory != nullptr ? 1 : 0;
    }
    return n;
}

} // namespace cn_kernel
