// block_allocator.cpp - cached allocation of message blocks (see block_allocator.h).
#include "block_allocator.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include <ace/Thread_Mutex.h>

namespace cn_kernel {

namespace {

using Cache = ACE_Dynamic_Cached_Allocator<ACE_Thread_Mutex>;

// Chunk sizes (header included) and how many chunks a shard keeps of each: a job message
// block and its data block fit the first class, with a short message's buffer.
constexpr size_t kChunkBytes[CN_BlockAllocator::kClasses] = {128, 256, 512, 2048};
constexpr size_t kChunkCount[CN_BlockAllocator::kClasses] = {8192, 4096, 1024, 256};
constexpr uint32_t kMagic = 0x51B10C00; // marks a piece in a memory dump
constexpr uint8_t kFromHeap = 0xFF;
// A dry cache takes on another pool of its first size, up to this many: pieces made on one
// thread and freed on another defeat the heap's own per-thread caches, so a burst that the
// pools cannot hold would otherwise slow down exactly the senders that are behind.
constexpr unsigned kExtraPools = CN_BlockAllocator::kExtraPools;

std::atomic<size_t> g_heap_pieces{0};

struct Header {
    uint32_t magic;
    uint8_t shard;
    uint8_t cls;
};
static_assert(sizeof(Header) <= CN_BlockAllocator::kHeaderBytes);

struct Shard {
    std::once_flag once[CN_BlockAllocator::kClasses];
    std::atomic<Cache*> cache[CN_BlockAllocator::kClasses] = {};
    std::mutex grow_lock;
    unsigned extra[CN_BlockAllocator::kClasses] = {}; // pools added, under grow_lock

    Cache* get(int cls)
    {
        std::call_once(once[cls], [this, cls] {
            cache[cls].store(new (std::nothrow) Cache(kChunkCount[cls], kChunkBytes[cls]),
                             std::memory_order_release);
        });
        return cache[cls].load(std::memory_order_acquire);
    }

    // Takes a piece of a dry cache after giving it another pool (its chunks join the free
    // list, never freed, like the first pool); nullptr at the limit or when memory cannot be
    // had. The cache is asked again first, through its own lock: another thread may just have
    // added a pool, or a piece may have come back.
    void* grow_and_take(int cls, Cache* c, size_t total)
    {
        std::lock_guard<std::mutex> lock(grow_lock);
        if (void* raw = c->malloc(total)) {
            return raw;
        }
        if (extra[cls] >= kExtraPools) {
            return nullptr;
        }
        char* pool = static_cast<char*>(std::malloc(kChunkCount[cls] * kChunkBytes[cls]));
        if (pool == nullptr) {
            return nullptr;
        }
        ++extra[cls];
        for (size_t i = 0; i < kChunkCount[cls]; ++i) {
            c->free(pool + i * kChunkBytes[cls]);
        }
        return c->malloc(total);
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

void* stamp(void* raw, uint8_t shard, uint8_t cls)
{
    Header h{kMagic, shard, cls};
    std::memcpy(raw, &h, sizeof h);
    return static_cast<char*>(raw) + CN_BlockAllocator::kHeaderBytes;
}

} // namespace

void* CN_BlockAllocator::malloc(size_t nbytes)
{
    const size_t total = nbytes + kHeaderBytes;
    const int cls = class_of(total);
    if (cls >= 0) {
        const int shard = my_shard();
        Cache* cache = g_shards[shard].get(cls);
        void* raw = cache != nullptr ? cache->malloc(total) : nullptr;
        if (raw == nullptr && cache != nullptr) {
            raw = g_shards[shard].grow_and_take(cls, cache, total);
        }
        if (raw != nullptr) {
            return stamp(raw, static_cast<uint8_t>(shard), static_cast<uint8_t>(cls));
        }
    }
    void* raw = std::malloc(total);
    if (raw == nullptr) {
        return nullptr;
    }
    g_heap_pieces.fetch_add(1, std::memory_order_relaxed);
    return stamp(raw, kFromHeap, kFromHeap);
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
        std::free(raw);
        return;
    }
    g_shards[h.shard].cache[h.cls].load(std::memory_order_acquire)->free(raw);
}

size_t CN_BlockAllocator::largest_cached() { return kChunkBytes[kClasses - 1] - kHeaderBytes; }

size_t CN_BlockAllocator::pool_pieces(int cls) { return cls >= 0 && cls < kClasses ? kChunkCount[cls] : 0; }

size_t CN_BlockAllocator::heap_pieces() { return g_heap_pieces.load(std::memory_order_relaxed); }

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
