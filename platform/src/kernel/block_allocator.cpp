// block_allocator.cpp - cached allocation of message blocks (see block_allocator.h).
#include "block_allocator.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <mutex>
#include <new>

#include "CNPlatform.h"
#include "pool_cache.h"

namespace cn_kernel {

namespace {

// Chunk sizes (header included) and how many chunks a pool holds of each: a job message block
// and its data block fit the first class, with a short message's buffer.
constexpr size_t kChunkBytes[CN_BlockAllocator::kClasses] = {128, 256, 512, 2048};
constexpr size_t kChunkCount[CN_BlockAllocator::kClasses] = {8192, 4096, 1024, 256};
constexpr uint32_t kMagic = 0x51B10C00; // marks a piece in a memory dump
constexpr uint8_t kFromHeap = 0xFF;
// A class whose pools are all in use takes on more, up to this many: pieces made on one thread
// and freed on another defeat the heap's own per-thread caches, so a burst that the pools cannot
// hold would otherwise slow down exactly the senders that are behind.
constexpr unsigned kPools = 1 + CN_BlockAllocator::kExtraPools;
static_assert(kPools <= PoolCache::kMaxPools);

std::atomic<size_t> g_heap_pieces{0};
std::atomic<size_t> g_heap_bytes{0};
std::atomic<size_t> g_heap_bytes_at_trim{0};  // the most alive since the C library last gave back
std::atomic<uint64_t> g_next_trim_ms{0};

struct Header {
    uint32_t magic;
    uint8_t shard;
    uint8_t cls;
    uint8_t pool;
    uint8_t spare;
    uint64_t heap_bytes;  // a heap piece's size, header included
};
static_assert(sizeof(Header) <= CN_BlockAllocator::kHeaderBytes);

struct Shard {
    std::once_flag once[CN_BlockAllocator::kClasses];
    std::atomic<PoolCache*> cache[CN_BlockAllocator::kClasses] = {};

    PoolCache* get(int cls)
    {
        std::call_once(once[cls], [this, cls] {
            cache[cls].store(new (std::nothrow) PoolCache(kChunkBytes[cls], kChunkCount[cls], kPools),
                             std::memory_order_release);
        });
        return cache[cls].load(std::memory_order_acquire);
    }
};

Shard g_shards[CN_BlockAllocator::kShards];
std::atomic<unsigned> g_next_shard{0};

int my_shard()
{
    thread_local int shard = static_cast<int>(g_next_shard.fetch_add(1, std::memory_order_relaxed) %
                                              CN_BlockAllocator::kShards);
    return shard;
}

int class_of(size_t total)
{
    for (int c = 0; c < CN_BlockAllocator::kClasses; ++c) {
        if (total <= kChunkBytes[c]) {
            return c;
        }
    }
    return -1;
}

void* stamp(void* raw, const Header& h)
{
    std::memcpy(raw, &h, sizeof h);
    return static_cast<char*>(raw) + CN_BlockAllocator::kHeaderBytes;
}

void note_heap_peak(size_t alive)
{
    size_t seen = g_heap_bytes_at_trim.load(std::memory_order_relaxed);
    while (alive > seen && !g_heap_bytes_at_trim.compare_exchange_weak(seen, alive, std::memory_order_relaxed)) {
    }
}

template <class Fn>
void for_each_cache(Fn fn)
{
    for (Shard& s : g_shards) {
        for (auto& c : s.cache) {
            if (PoolCache* cache = c.load(std::memory_order_acquire)) {
                fn(*cache);
            }
        }
    }
}

} // namespace

void* CN_BlockAllocator::malloc(size_t nbytes)
{
    const size_t total = nbytes + kHeaderBytes;
    const int cls = class_of(total);
    if (cls >= 0) {
        const int shard = my_shard();
        PoolCache* cache = g_shards[shard].get(cls);
        unsigned pool = 0;
        if (void* raw = cache != nullptr ? cache->take(&pool) : nullptr) {
            return stamp(raw, Header{kMagic, static_cast<uint8_t>(shard), static_cast<uint8_t>(cls),
                                     static_cast<uint8_t>(pool), 0, 0});
        }
    }
    void* raw = std::malloc(total);
    if (raw == nullptr) {
        return nullptr;
    }
    g_heap_pieces.fetch_add(1, std::memory_order_relaxed);
    note_heap_peak(g_heap_bytes.fetch_add(total, std::memory_order_relaxed) + total);
    return stamp(raw, Header{kMagic, kFromHeap, kFromHeap, 0, 0, total});
}

void* CN_BlockAllocator::calloc(size_t nbytes, char initial_value)
{
    void* p = malloc(nbytes);
    if (p != nullptr) {
        std::memset(p, initial_value, nbytes);
    }
    return p;
}

void* CN_BlockAllocator::calloc(size_t n_elem, size_t elem_size, char initial_value)
{
    if (elem_size != 0 && n_elem > SIZE_MAX / elem_size) {
        return nullptr;
    }
    return calloc(n_elem * elem_size, initial_value);
}

void CN_BlockAllocator::free(void* ptr)
{
    if (ptr == nullptr) {
        return;
    }
    void* raw = static_cast<char*>(ptr) - kHeaderBytes;
    Header h;
    std::memcpy(&h, raw, sizeof h);
    if (h.shard == kFromHeap) {
        g_heap_bytes.fetch_sub(h.heap_bytes, std::memory_order_relaxed);
        std::free(raw);
        return;
    }
    g_shards[h.shard].cache[h.cls].load(std::memory_order_acquire)->give(raw, h.pool, CN_CoarseMonotonicMs());
}

size_t CN_BlockAllocator::largest_cached() { return kChunkBytes[kClasses - 1] - kHeaderBytes; }

size_t CN_BlockAllocator::pool_pieces(int cls) { return cls >= 0 && cls < kClasses ? kChunkCount[cls] : 0; }

size_t CN_BlockAllocator::heap_pieces() { return g_heap_pieces.load(std::memory_order_relaxed); }

size_t CN_BlockAllocator::heap_bytes() { return g_heap_bytes.load(std::memory_order_relaxed); }

size_t CN_BlockAllocator::pools_held()
{
    size_t n = 0;
    for_each_cache([&](PoolCache& c) { n += c.pools(); });
    return n;
}

size_t CN_BlockAllocator::trim(uint64_t now_ms)
{
    size_t released = 0;
    for_each_cache([&](PoolCache& c) { released += c.trim(now_ms, kIdlePoolMs); });
    const size_t alive = g_heap_bytes.load(std::memory_order_relaxed);
    if (g_heap_bytes_at_trim.load(std::memory_order_relaxed) >= alive + kHeapTrimBytes) {
        // What the heap's pieces gave up sits in the C library's free lists until handed back.
        ::malloc_trim(0);
        g_heap_bytes_at_trim.store(alive, std::memory_order_relaxed);
    }
    return released;
}

void CN_BlockAllocator::trim_when_due()
{
    const uint64_t now = CN_CoarseMonotonicMs();
    uint64_t due = g_next_trim_ms.load(std::memory_order_relaxed);
    if (now < due || !g_next_trim_ms.compare_exchange_strong(due, now + kTrimPeriodMs, std::memory_order_relaxed)) {
        return;
    }
    trim(now);
}

CN_BlockAllocator& CN_BlockAllocator::instance()
{
    static CN_BlockAllocator* allocator = new CN_BlockAllocator(); // outlives every block
    return *allocator;
}

ACE_Message_Block* cached_block(size_t size, ACE_Message_Block::ACE_Message_Type type, unsigned long priority)
{
    CN_BlockAllocator& a = CN_BlockAllocator::instance();
    void* mem = a.malloc(sizeof(ACE_Message_Block));
    if (mem == nullptr) {
        return nullptr;
    }
    // The block, its data block and its buffer all return to `a` on release, on whatever thread.
    ACE_Message_Block* mb = new (mem) ACE_Message_Block(size, type, nullptr, nullptr, &a, nullptr, priority,
                                                        ACE_Time_Value::zero, ACE_Time_Value::max_time, &a, &a);
    if (mb->data_block() == nullptr || mb->base() == nullptr || mb->size() < size) {
        mb->release();
        return nullptr;
    }
    return mb;
}

} // namespace cn_kernel
