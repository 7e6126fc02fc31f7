// resource_probes.cpp - checks that need a process of their own: filling a slot table to its
// end (the tables are never emptied, so the test process itself must keep its slots), the pool
// that must not exist before its first use, and a second process finding a shared block.
//
// Each probe writes one line per failed check and exits with 0 when there was none.
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "VorlenComm.h"
#include "resource_test_support.h"

namespace rt {
namespace {

class Report {
public:
    void check(bool ok, const char* fmt, ...) __attribute__((format(printf, 3, 4))) {
        if (ok) {
            return;
        }
        va_list args;
        va_start(args, fmt);
        std::vfprintf(stdout, fmt, args);
        va_end(args);
        std::fputc('\n', stdout);
        ++failures_;
    }
    int result() const { return failures_ == 0 ? 0 : 1; }

private:
    int failures_ = 0;
};

int count_shm_segments() {
    struct shm_info info = {};
    if (shmctl(0, SHM_INFO, reinterpret_cast<struct shmid_ds*>(&info)) < 0) {
        return -1;
    }
    return info.used_ids;
}

int thread_sem_slots() {
    Report r;
    WORD32 id = 0x5A5A5A5A;
    r.check(!XOS_CreateSemaphore(1, 1, 7, &id) && id == 0x5A5A5A5A, "flag 7 was not refused untouched: %#x", id);
    for (WORD32 slot = 1; slot <= 254; ++slot) {
        const bool made = XOS_CreateSemaphore(1, 4, slot % 2 ? XOS_SEM_BINARY : XOS_SEM_COUNTING, &id);
        r.check(made && id == (0x20000u | slot), "creation %u gave %d, %#x", slot, made, id);
    }
    r.check(!XOS_CreateSemaphore(1, 1, XOS_SEM_BINARY, &id) && id == 0xFFFFFFFF, "255th binary: %#x", id);
    id = 0;
    r.check(!XOS_CreateSemaphore(1, 1, XOS_SEM_COUNTING, &id) && id == 0xFFFFFFFF, "255th counting: %#x", id);
    r.check(XOS_SemaphoreP(0x200FE, XOS_NO_WAIT) && !XOS_SemaphoreP(0x200FE, XOS_NO_WAIT), "slot 254 unusable");
    r.check(XOS_CreateRWLock(0, &id) && id == 0x30001, "the lock table is not separate: %#x", id);
    return r.result();
}

int rwlock_slots() {
    Report r;
    WORD32 id = 0;
    for (WORD32 slot = 1; slot <= 254; ++slot) {
        const bool made = XOS_CreateRWLock(slot, &id);
        r.check(made && id == (0x30000u | slot), "creation %u gave %d, %#x", slot, made, id);
    }
    id = 0;
    r.check(!XOS_CreateRWLock(0, &id) && id == 0xFFFFFFFF, "255th lock: %#x", id);
    r.check(XOS_RwlockWdlock(0x300FE, XOS_NO_WAIT) && XOS_RwlockUnlock(0x300FE), "slot 254 unusable");
    r.check(XOS_CreateSemaphore(0, 1, XOS_SEM_BINARY, &id) && id == 0x20001, "the semaphore table is not separate");
    return r.result();
}

// Both name forms fill the one table of process semaphores.
int process_sem_slots() {
    Report r;
    const unsigned base = unique_index(0);
    r.check(XOS_CreateProcessSem(base, 0, 2) == 0xFFFFFFFF, "flag 2 was not refused");
    for (WORD32 slot = 1; slot <= 254; ++slot) {
        const unsigned index = base + slot;
        const bool pub = slot % 2 == 0;
        const WORD32 id = pub ? XOS_CreatePubProcessSem(index, 0, XOS_SEM_COUNTING)
                              : XOS_CreateProcessSem(index, 0, XOS_SEM_BINARY);
        r.check(id == (0x10000u | slot), "creation %u gave %#x", slot, id);
        unlink_sem(pub ? "CoreNetwork_id_" + std::to_string(index)
                       : "CoreNetwork_module_0_unit_0_id_" + std::to_string(index));
    }
    r.check(XOS_CreateProcessSem(base, 0, XOS_SEM_BINARY) == 0xFFFFFFFF, "255th named sem");
    r.check(XOS_CreatePubProcessSem(base, 0, XOS_SEM_COUNTING) == 0xFFFFFFFF, "255th public sem");
    r.check(XOS_ProcessSemV(0x100FE) && XOS_ProcessSemP(0x100FE, XOS_NO_WAIT), "slot 254 unusable");
    return r.result();
}

// Runs in an IPC namespace of its own: nothing but the first shared-memory call may attach a
// System V segment, whatever static initialisation did.
int shm_first_use() {
    Report r;
    r.check(count_shm_segments() == 0, "%d segments before any call", count_shm_segments());
    BYTE* ub = XOS_GetUB(64);
    r.check(ub != nullptr && oss_retub(ub) == 0, "UB pool refused a block");
    r.check(count_shm_segments() == 0, "the UB pool attached shared memory");
    BYTE* block = nullptr;
    r.check(XOS_CreateShmByIndex(1, 128, 0, &block) == 0 && block != nullptr, "no block from ShmPool");
    r.check(count_shm_segments() >= 1, "ShmPool holds no segment after its first use");
    return r.result();
}

// arg "index:address": the block made by the test process is found here too, at the same
// address, with its text; a reply is written behind it.
int shm_peer(const std::string& arg) {
    Report r;
    unsigned index = 0;
    unsigned long long address = 0;
    if (std::sscanf(arg.c_str(), "%u:%llx", &index, &address) != 2) {
        std::printf("bad argument %s\n", arg.c_str());
        return 1;
    }
    BYTE* block = nullptr;
    const XOS_STATUS status = XOS_CreateShmByIndex(index, 16, XOS_SHM_FLAG_REPORT_EXISTING, &block);
    r.check(status == 2060, "status %u", status);
    r.check(reinterpret_cast<unsigned long long>(block) == address, "address %p, the first process had %llx",
            static_cast<void*>(block), address);
    if (status == 2060 && block != nullptr) {
        r.check(std::memcmp(block, "written by the first process", 29) == 0, "the text is not there");
        std::memcpy(block + 64, "answered by the second", 23);
    }
    return r.result();
}

}  // namespace

int run_resource_probe(const std::string& name, const std::string& arg) {
    int result = 2;
    if (name == "thread-sem-slots") {
        result = thread_sem_slots();
    } else if (name == "rwlock-slots") {
        result = rwlock_slots();
    } else if (name == "process-sem-slots") {
        result = process_sem_slots();
    } else if (name == "shm-first-use") {
        result = shm_first_use();
    } else if (name == "shm-peer") {
        result = shm_peer(arg);
    } else {
        std::printf("no probe %s\n", name.c_str());
    }
    std::fflush(stdout);
    return result;
}

}  // namespace rt
