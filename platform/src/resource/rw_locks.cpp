// rw_locks.cpp - thread read/write locks over ACE; the process-wide forms are refused.
#include <ace/RW_Thread_Mutex.h>

#include "handle_table.h"

namespace {

using vorlen_resource::HandleTable;
using vorlen_resource::wait_by_rule;

HandleTable<ACE_RW_Thread_Mutex>& rw_locks() {
    static HandleTable<ACE_RW_Thread_Mutex> table(XOS_HANDLE_KIND_RWLOCK);
    return table;
}

} // namespace

BOOLEAN XOS_CreateRWLock(WORD32 dwMode, WORD32* pdwSemID) {
    if (pdwSemID == nullptr) {
        return FALSE;
    }
    *pdwSemID = rw_locks().add([] { return std::make_unique<ACE_RW_Thread_Mutex>(); });
    return *pdwSemID != XOS_INVALID_SEM_ID ? TRUE : FALSE;
}

BOOLEAN XOS_RwlockRdlock(WORD32 semid, WORD32 dwTimeOut) {
    ACE_RW_Thread_Mutex* lock = rw_locks().find(semid);
    if (lock == nullptr) {
        return FALSE;
    }
    return wait_by_rule(
        dwTimeOut, [&] { return lock->acquire_read() == 0; }, [&] { return lock->tryacquire_read() == 0; });
}

BOOLEAN XOS_RwlockWdlock(WORD32 semid, WORD32 dwTimeOut) {
    ACE_RW_Thread_Mutex* lock = rw_locks().find(semid);
    if (lock == nullptr) {
        return FALSE;
    }
    return wait_by_rule(
        dwTimeOut, [&] { return lock->acquire_write() == 0; }, [&] { return lock->tryacquire_write() == 0; });
}

BOOLEAN XOS_RwlockUnlock(WORD32 semid) {
    ACE_RW_Thread_Mutex* lock = rw_locks().find(semid);
    return lock != nullptr && lock->release() == 0 ? TRUE : FALSE;
}

BOOLEAN XOS_CreateProcRWLock(WORD32, WORD32, WORD32*) { return FALSE; }
BOOLEAN XOS_CreatePubProcRWLock(WORD32, WORD32, WORD32*) { return FALSE; }
BOOLEAN XOS_ProcRWLockRdlock(WORD32, WORD32) { return FALSE; }
BOOLEAN XOS_ProcRWLockWdlock(WORD32, WORD32) { return FALSE; }
BOOLEAN XOS_ProcRwlockUnlock(WORD32) { return FALSE; }
