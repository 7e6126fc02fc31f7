// block_allocator.h - where the kernel's message blocks, their data blocks and their buffers come
// from: one set of size-class caches per shard (PoolCache), for the sizes a job message usually
// has; anything larger, or any request that finds its class at kExtraPools pools beyond its
// first all in use, comes from the heap. Each piece carries a small header naming its source, so
// a block may be released on any thread: a cached piece goes back to the pool it came from. A
// thread allocates from the shard it was given on its first request.
//
// What a burst took on is given back once the load falls: trim() returns the pools that have lain
// wholly unused for kIdlePoolMs (pools are mappings of their own, so they leave the process at
// once), and, when the heap's pieces have shrunk by a few megabytes, the C library's free memory
// (malloc_trim). The control tasks call trim_when_due() between chains
// of blocks, so this happens within a couple of seconds of a burst's end.
//
// Threads: any. The caches are made on first use of each shard and size class, never freed.
#pragma once

#include <cstddef>
#include <cstdint>

#include <ace/Malloc_T.h>
#include <ace/Message_Block.h>

namespace cn_kernel {

class CN_BlockAllocator : public ACE_New_Allocator {
public:
    static constexpr size_t kHeaderBytes = 16;
    static constexpr int kShards = 8;
    static constexpr int kClasses = 4;
    static constexpr unsigned kExtraPools = 7;
    // A pool beyond a class's first that lies wholly unused this long goes back to the system.
    static constexpr uint64_t kIdlePoolMs = 2000;
    // trim_when_due looks this often.
    static constexpr uint64_t kTrimPeriodMs = 1000;
    // The heap's pieces shrunk by this much since the last look: the C library gives its free
    // memory back.
    static constexpr size_t kHeapTrimBytes = size_t{8} << 20;

    void* malloc(size_t nbytes) override;
    void* calloc(size_t nbytes, char initial_value = '\0') override;
    void* calloc(size_t n_elem, size_t elem_size, char initial_value = '\0') override;
    void free(void* ptr) override;

    // The largest request a cache serves; larger ones go to the heap.
    static size_t largest_cached();
    // How many pieces one pool of size class `cls` holds (0 for no such class).
    static size_t pool_pieces(int cls);
    // How many pieces the heap has served so far (dumps, tests).
    static size_t heap_pieces();
    // Pools held now by every shard and class, and the bytes of the heap's pieces alive now.
    static size_t pools_held();
    static size_t heap_bytes();

    // Gives back the pools wholly unused since now_ms - kIdlePoolMs (now_ms on the monotonic
    // clock), and the C library's free memory when the heap's pieces have shrunk by
    // kHeapTrimBytes from their most since it last did. The bytes of pools given back.
    static size_t trim(uint64_t now_ms);
    // trim() at most once every kTrimPeriodMs, on the calling thread; a clock read and a compare
    // when not due.
    static void trim_when_due();

    static CN_BlockAllocator& instance();
};

// A message block of `size` bytes whose block, data block and buffer come from the allocator
// above; null when memory cannot be had.
ACE_Message_Block* cached_block(size_t size, ACE_Message_Block::ACE_Message_Type type, unsigned long priority);

} // namespace cn_kernel
