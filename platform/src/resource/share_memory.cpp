// share_memory.cpp - shared memory by index: the "ShmPool" named blocks, the heap form and the
// System V form keyed by the working directory.
#include <pthread.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include <ace/Malloc_Base.h>
#include <ace/Malloc_T.h>
#include <ace/Process_Mutex.h>
#include <ace/Shared_Memory_Pool.h>

#include "CNPlatLog.h"
#include "resource/XOS_ShareMem.h"

namespace {

// ACE 7.0's System V pool cannot grow safely: after adding a segment the allocator takes the
// pool's segment table for its control block, and another process maps each added segment one
// place too low. "ShmPool" is therefore one segment, at ACE's default base address in every
// process (so a block has the same address everywhere), that never grows: a request it cannot
// hold fails instead.
class SingleSegmentPool : public ACE_Shared_Memory_Pool {
public:
    SingleSegmentPool(const ACE_TCHAR* name, const OPTIONS* options) : ACE_Shared_Memory_Pool(name, options) {}
    void* acquire(size_t, size_t& rounded_bytes) override {
        rounded_bytes = 0;
        return nullptr;
    }
    // The base never moves, which keeps the allocator's control block where it is.
    void* base_addr() const override { return nullptr; }
};

typedef ACE_Malloc_T<SingleSegmentPool, ACE_Process_Mutex, ACE_Control_Block> ShmAllocator;

unsigned long self_id() { return static_cast<unsigned long>(pthread_self()); }

// Look-up, allocation and binding of one name form one step for the threads of this process.
std::mutex g_shm_lock;

// Created on first use, so a program that never asks for shared memory never attaches the pool,
// and a failure to create it surfaces as failed calls, not before main. Never destroyed: blocks
// handed out stay mapped until the process ends. A pool that failed is not deleted either: ACE
// has registered it as the SIGSEGV handler that maps segments of other processes.
ShmAllocator* shm_pool() {
    static ShmAllocator* const pool = [] {
        const ACE_Shared_Memory_Pool_Options options(ACE_DEFAULT_BASE_ADDR, ACE_DEFAULT_MAX_SEGMENTS,
                                                     ACE_DEFAULT_FILE_PERMS, XOS_SHM_POOL_BYTES);
        auto* created = new ShmAllocator("ShmPool", "ShmPool", &options);
        if (created->bad()) {
            CN_PlatLog("%lu Share memory pool ShmPool cannot be created!\n", self_id());
            return static_cast<ShmAllocator*>(nullptr);
        }
        return created;
    }();
    return pool;
}

size_t segment_size(int id) {
    struct shmid_ds info = {};
    return shmctl(id, IPC_STAT, &info) == 0 ? info.shm_segsz : 0;
}

} // namespace

XOS_STATUS XOS_CreateShmByIndex(WORD32 index, size_t tShareSize, WORD32 dwFlag, BYTE** ppucShareBuf) {
    if (ppucShareBuf == nullptr) {
        return XOS_FAILURE;
    }
    std::lock_guard<std::mutex> lock(g_shm_lock);
    ShmAllocator* pool = shm_pool();
    if (pool == nullptr) {
        return XOS_FAILURE;
    }
    char name[16];
    std::snprintf(name, sizeof name, "%u", index);

    void* block = nullptr;
    if (pool->find(name, block) == 0) {
        if (block == nullptr) {
            return XOS_FAILURE;
        }
        CN_PlatLog("%lu Share memory %s exist!\n", self_id(), name);
        *ppucShareBuf = static_cast<BYTE*>(block);
        return (dwFlag & XOS_SHM_FLAG_REPORT_EXISTING) ? XOS_SHM_EXISTED : XOS_SUCCESS;
    }
    CN_PlatLog("%lu Share memory %s not exist, will allocate now!\n", self_id(), name);
    if (tShareSize == 0) {
        return XOS_FAILURE;
    }
    block = pool->malloc(tShareSize);
    if (block == nullptr) {
        return XOS_FAILURE;
    }
    if (pool->bind(name, block) != 0) {
        CN_PlatLog("%s Share memory bind failure!\n", name);
        pool->free(block);
        return XOS_FAILURE;
    }
    *ppucShareBuf = static_cast<BYTE*>(block);
    return XOS_SUCCESS;
}

XOS_STATUS XOS_CreatePubShmByIndex(WORD32, size_t tShareSize, WORD32, BYTE** ppucShareBuf) {
    if (ppucShareBuf == nullptr) {
        return XOS_FAILURE;
    }
    void* block = ACE_Allocator::instance()->malloc(tShareSize);
    if (block == nullptr) {
        return XOS_FAILURE;
    }
    *ppucShareBuf = static_cast<BYTE*>(block);
    return XOS_SUCCESS;
}

XOS_STATUS XOS_CreateShmByIndex_UdpWatch(WORD32 index, size_t tShareSize, WORD32, BYTE** ppucShareBuf) {
    if (ppucShareBuf == nullptr) {
        return XOS_FAILURE;
    }
    char cwd[1024];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        return XOS_FAILURE;
    }
    const key_t key = ftok(cwd, static_cast<int>(index));
    if (key == -1) {
        return XOS_FAILURE;
    }
    int id = shmget(key, tShareSize, IPC_CREAT | IPC_EXCL | 0644);
    if (id == -1 && errno == EEXIST) {
        id = shmget(key, 0, 0);
        // An existing segment smaller than asked for would let the caller write past its end.
        if (id != -1 && segment_size(id) < tShareSize) {
            return XOS_FAILURE;
        }
    }
    if (id == -1) {
        return XOS_FAILURE;
    }
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        return XOS_FAILURE;
    }
    *ppucShareBuf = static_cast<BYTE*>(address);
    return XOS_SUCCESS;
}

XOS_STATUS XOS_UnmapShmByIndex(WORD32) { return XOS_FAILURE; }
XOS_STATUS XOS_UnmapPubShmByIndex(WORD32) { return XOS_FAILURE; }
