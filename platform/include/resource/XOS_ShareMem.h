// XOS_ShareMem.h - shared memory by index and the UB block pool of the job API.
//
// "ShmPool" is a named-block allocator over an ACE System V shared-memory pool of one segment of
// XOS_SHM_POOL_BYTES, mapped at the same address in every process that uses it; "UB_MEMPOOL" an
// ACE allocator over process-local memory that grows as needed. Both are created on first use
// (never before main), and may be used from any thread.
#pragma once

#include <cstddef>

#include "CNXosTypes.h"

// Pages of the segment are only backed once touched.
constexpr size_t XOS_SHM_POOL_BYTES = 16u << 20;

constexpr WORD32 XOS_SHM_FLAG_REPORT_EXISTING = 0x200;
constexpr XOS_STATUS XOS_SHM_EXISTED = 2060;

// Finds or creates the block named by the index in decimal in "ShmPool". 0 success, 1 failure,
// 2060 when the block existed already and dwFlag has the bit 0x200.
XOS_STATUS XOS_CreateShmByIndex(WORD32 index, size_t tShareSize, WORD32 dwFlag, BYTE** ppucShareBuf);
// A block of the process's default allocator (not shared; index and flag are not used).
XOS_STATUS XOS_CreatePubShmByIndex(WORD32 index, size_t tShareSize, WORD32 dwFlag, BYTE** ppucShareBuf);
// System V shared memory keyed by the working directory with the index as project id. 0 or 1.
XOS_STATUS XOS_CreateShmByIndex_UdpWatch(WORD32 index, size_t tShareSize, WORD32 dwFlag, BYTE** ppucShareBuf);
// Nothing is unmapped; both return 1.
XOS_STATUS XOS_UnmapShmByIndex(WORD32 index);
XOS_STATUS XOS_UnmapPubShmByIndex(WORD32 index);

// A block of at least dwSize bytes from "UB_MEMPOOL"; null when the pool cannot give one.
BYTE* XOS_GetUB(WORD32 dwSize);
BYTE* OSS_GetUB(WORD32 dwSize);
// Returns a block to the pool (free neighbours merge); 0, also for a null pointer.
XOS_STATUS oss_retub(BYTE* pucBuf);
