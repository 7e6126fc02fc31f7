// semaphores.cpp - named process semaphores and thread semaphores over ACE.
#include <semaphore.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include <ace/Process_Semaphore.h>
#include <ace/Thread_Semaphore.h>

#include "CNPlatform.h"
#include "handle_table.h"

namespace {

using vorlen_resource::HandleTable;
using vorlen_resource::wait_by_rule;

constexpr int kCountingMax = 0x7FFFFFFF;

HandleTable<ACE_Process_Semaphore>& process_sems() {
    static HandleTable<ACE_Process_Semaphore> table(XOS_HANDLE_KIND_PROCESS_SEM);
    return table;
}

HandleTable<ACE_Thread_Semaphore>& thread_sems() {
    static HandleTable<ACE_Thread_Semaphore> table(XOS_HANDLE_KIND_THREAD_SEM);
    return table;
}

bool flag_known(WORD32 flag) { return flag == XOS_SEM_BINARY || flag == XOS_SEM_COUNTING; }

// The maximum count of a known creation flag: 1 (binary) or `counting_max` (counting).
int max_for_flag(WORD32 flag, WORD32 counting_max) {
    if (flag == XOS_SEM_BINARY) {
        return 1;
    }
    return static_cast<int>(counting_max > static_cast<WORD32>(kCountingMax) ? kCountingMax : counting_max);
}

// ACE reports a failed sem_open only through the handle it leaves behind, and a failed sem_init
// not at all; the initial count is therefore checked before, against what sem_init accepts.
template <typename Sem>
bool opened(const Sem& sem) {
    const sem_t* handle = sem.lock().sema_;
    return handle != nullptr && handle != SEM_FAILED;
}

bool initial_count_fits(WORD32 init) { return init <= static_cast<WORD32>(SEM_VALUE_MAX); }

// Interrupted waits are resumed: only a real failure ends a wait without limit.
template <typename Sem>
bool acquire_until_taken(Sem& sem) {
    while (sem.acquire() != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

template <typename Sem>
BOOLEAN sem_wait_by_rule(Sem* sem, WORD32 timeout) {
    if (sem == nullptr) {
        return FALSE;
    }
    return wait_by_rule(
        timeout, [&] { return acquire_until_taken(*sem); }, [&] { return sem->tryacquire() == 0; });
}

WORD32 create_process_sem(const char* name, WORD32 init, WORD32 flag) {
    if (!flag_known(flag) || !initial_count_fits(init)) {
        return XOS_INVALID_SEM_ID;
    }
    const int max = max_for_flag(flag, kCountingMax);
    return process_sems().add([&]() -> std::unique_ptr<ACE_Process_Semaphore> {
        auto sem = std::make_unique<ACE_Process_Semaphore>(init, name, nullptr, max);
        return opened(*sem) ? std::move(sem) : nullptr;
    });
}

} // namespace

WORD32 XOS_CreateProcessSem(WORD32 index, WORD32 dwInitVal, WORD32 dwFlag) {
    char name[96];
    std::snprintf(name, sizeof name, "CoreNetwork_module_%d_unit_%d_id_%d", static_cast<int>(_thisModuleNo),
                  static_cast<int>(_thisUnit), static_cast<int>(index));
    return create_process_sem(name, dwInitVal, dwFlag);
}

WORD32 XOS_CreatePubProcessSem(WORD32 index, WORD32 dwInitVal, WORD32 dwFlag) {
    char name[64];
    std::snprintf(name, sizeof name, "CoreNetwork_id_%d", static_cast<int>(index));
    return create_process_sem(name, dwInitVal, dwFlag);
}

BOOLEAN XOS_ProcessSemP(WORD32 semid, WORD32 dwTimeOut) { return sem_wait_by_rule(process_sems().find(semid), dwTimeOut); }

BOOLEAN XOS_ProcessSemV(WORD32 semid) {
    ACE_Process_Semaphore* sem = process_sems().find(semid);
    return sem != nullptr && sem->release() == 0 ? TRUE : FALSE;
}

BOOLEAN XOS_ProcSemP(XOS_SEM_T* ptSem, WORD32 dwTimeOut) {
    return ptSem != nullptr ? XOS_ProcessSemP(*ptSem, dwTimeOut) : FALSE;
}

BOOLEAN XOS_ProcSemV(XOS_SEM_T* ptSem) { return ptSem != nullptr ? XOS_ProcessSemV(*ptSem) : FALSE; }

BOOLEAN XOS_CreateSemaphore(WORD32 dwInitVal, WORD32 dwMaxVal, WORD32 dwFlag, WORD32* pdwSemID) {
    if (pdwSemID == nullptr) {
        return FALSE;
    }
    if (!flag_known(dwFlag)) {
        return FALSE;
    }
    const int max = max_for_flag(dwFlag, dwMaxVal);
    WORD32 handle = XOS_INVALID_SEM_ID;
    if (initial_count_fits(dwInitVal)) {
        handle = thread_sems().add([&]() -> std::unique_ptr<ACE_Thread_Semaphore> {
            auto sem = std::make_unique<ACE_Thread_Semaphore>(dwInitVal, nullptr, nullptr, max);
            return opened(*sem) ? std::move(sem) : nullptr;
        });
    }
    *pdwSemID = handle;
    return handle != XOS_INVALID_SEM_ID ? TRUE : FALSE;
}

BOOLEAN XOS_SemaphoreP(WORD32 semid, WORD32 dwTimeOut) { return sem_wait_by_rule(thread_sems().find(semid), dwTimeOut); }

BOOLEAN XOS_SemaphoreV(WORD32 semid) {
    ACE_Thread_Semaphore* sem = thread_sems().find(semid);
    return sem != nullptr && sem->release() == 0 ? TRUE : FALSE;
}
