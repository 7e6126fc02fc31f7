// XOS_Semaphore.h - the job API's synchronisation objects: named process semaphores, thread
// semaphores and thread read/write locks, addressed by 32-bit handles (kind << 16 | slot).
//
// Each kind has a process-wide table of 254 slots (1..254), filled on creation and never emptied.
// Creation may come from any thread (a creation lock keeps two callers off one slot); waits and
// releases may come from any thread. Waits take 0xFFFFFFFF (wait without limit) or 0 (try once);
// any other time-out is refused at once.
#pragma once

#include "CNXosTypes.h"

typedef WORD32 XOS_SEM_T;

constexpr WORD32 XOS_INVALID_SEM_ID = 0xFFFFFFFFu;
constexpr WORD32 XOS_WAIT_FOREVER = 0xFFFFFFFFu;
constexpr WORD32 XOS_NO_WAIT = 0;
constexpr WORD32 XOS_SEM_BINARY = 32;
constexpr WORD32 XOS_SEM_COUNTING = 1;

constexpr WORD32 XOS_HANDLE_KIND_PROCESS_SEM = 1;
constexpr WORD32 XOS_HANDLE_KIND_THREAD_SEM = 2;
constexpr WORD32 XOS_HANDLE_KIND_RWLOCK = 3;
constexpr WORD32 XOS_HANDLE_SLOTS = 255; // slot 0 is never used

// Process semaphores, named "CoreNetwork_module_%d_unit_%d_id_%d" (this process's module and
// unit) or, for the public form, "CoreNetwork_id_%d"; another process using the same name reaches
// the same semaphore. Flag 32: maximum 1; flag 1: maximum 0x7FFFFFFF. 0xFFFFFFFF on failure.
WORD32 XOS_CreateProcessSem(WORD32 index, WORD32 dwInitVal, WORD32 dwFlag);
WORD32 XOS_CreatePubProcessSem(WORD32 index, WORD32 dwInitVal, WORD32 dwFlag);
BOOLEAN XOS_ProcessSemP(WORD32 semid, WORD32 dwTimeOut);
BOOLEAN XOS_ProcessSemV(WORD32 semid);
BOOLEAN XOS_ProcSemP(XOS_SEM_T* ptSem, WORD32 dwTimeOut);
BOOLEAN XOS_ProcSemV(XOS_SEM_T* ptSem);

// Thread semaphores. Flag 32: binary; flag 1: counting up to dwMaxVal (not enforced on release).
BOOLEAN XOS_CreateSemaphore(WORD32 dwInitVal, WORD32 dwMaxVal, WORD32 dwFlag, WORD32* pdwSemID);
BOOLEAN XOS_SemaphoreP(WORD32 semid, WORD32 dwTimeOut);
BOOLEAN XOS_SemaphoreV(WORD32 semid);

// Thread read/write locks (dwMode is not used).
BOOLEAN XOS_CreateRWLock(WORD32 dwMode, WORD32* pdwSemID);
BOOLEAN XOS_RwlockRdlock(WORD32 semid, WORD32 dwTimeOut);
BOOLEAN XOS_RwlockWdlock(WORD32 semid, WORD32 dwTimeOut);
BOOLEAN XOS_RwlockUnlock(WORD32 semid);

// Process-wide read/write locks are not offered: each of these returns false and does nothing.
BOOLEAN XOS_CreateProcRWLock(WORD32 index, WORD32 dwMode, WORD32* pdwSemID);
BOOLEAN XOS_CreatePubProcRWLock(WORD32 index, WORD32 dwMode, WORD32* pdwSemID);
BOOLEAN XOS_ProcRWLockRdlock(WORD32 semid, WORD32 dwTimeOut);
BOOLEAN XOS_ProcRWLockWdlock(WORD32 semid, WORD32 dwTimeOut);
BOOLEAN XOS_ProcRwlockUnlock(WORD32 semid);
