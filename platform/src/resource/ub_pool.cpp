// ub_pool.cpp - the "UB_MEMPOOL" block pool over process-local memory.
#include <ace/Local_Memory_Pool.h>
#include <ace/Malloc_T.h>
#include <ace/Thread_Mutex.h>

#include "resource/XOS_ShareMem.h"

namespace {

typedef ACE_Malloc_T<ACE_Local_Memory_Pool, ACE_Thread_Mutex, ACE_Control_Block> UbAllocator;

// Created on first use and destroyed at exit; null when it could not be created.
UbAllocator* ub_pool() {
    static struct Holder {
        Holder() : pool(new UbAllocator("UB_MEMPOOL")) {
            if (pool->bad()) {
                delete pool;
                pool = nullptr;
            }
        }
        ~Holder() { delete pool; }
        UbAllocator* pool;
    } holder;
    return holder.pool;
}

} // namespace

BYTE* XOS_GetUB(WORD32 dwSize) {
    UbAllocator* pool = ub_pool();
    return pool != nullptr ? static_cast<BYTE*>(pool->malloc(dwSize)) : nullptr;
}

BYTE* OSS_GetUB(WORD32 dwSize) { return XOS_GetUB(dwSize); }

XOS_STATUS oss_retub(BYTE* pucBuf) {
    UbAllocator* pool = ub_pool();
    if (pool != nullptr && pucBuf != nullptr) {
        pool->free(pucBuf);
    }
    return XOS_SUCCESS;
}
