// block_allocator.h - where the kernel's message blocks, their data blocks and their buffers come
// from: the reactor library's cached allocators, one set of size classes per shard, for the sizes
// a job message usually has; anything larger, or any request that finds its cache empty, comes
// from the heap (a dry cache first takes on another pool of its size, up to kExtraPools of them).
// Each piece carries a small header naming its source, so a block may be released
// on any thread: a cached piece goes back to the free list it came from (each list has its own
// lock). A thread allocates from the shard it was given on its first request.
//
// Threads: any. The caches are made on first use of each shard and size class, never freed.
#pragma once

#include <cstddef>

#include <ace/Malloc_T.h>
#include <ace/Message_Block.h>

namespace cn_kernel {

class CN_BlockAllocator : public ACE_New_Allocator {
public:
    static constexpr size_t kHeaderBytes = 16;
    static constexpr int kShards = 8;
    static constexpr int kClasses = 4;
    static constexpr unsigned kExtraPools = 7;

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

    static CN_BlockAllocator& instance();
};

// A message block of `size` bytes whose block, data block and buffer come from the allocator
// above; null when memory cannot be had.
ACE_Message_Block* cached_block(size_t size, ACE_Message_Block::ACE_Message_Type type, unsigned long priority);

} // namespace cn_kernel
