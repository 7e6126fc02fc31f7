// Thread, thread-local, lock and condition wrappers over POSIX threads.
#include "qk_thread.h"

#include <sched.h>

#include <cerrno>
#include <cstdlib>

#include "qk_util.h"

namespace {

constexpr int kAffinityCpus = 8;

int negated(int error) { return error == 0 ? 0 : -error; }

} // namespace

extern "C" {

int qk_thread_create(pthread_t* tid, qk_thread_func_t func, void* arg) {
    if (tid == nullptr || func == nullptr) {
        return negated(EINVAL);
    }
    return negated(pthread_create(tid, nullptr, func, arg));
}

int qk_thread_self(pthread_t* tid) {
    if (tid != nullptr) {
        *tid = pthread_self();
    }
    return 0;
}

int qk_thread_join(pthread_t tid) { return pthread_join(tid, nullptr); }

int qk_thread_setaffinity(pthread_t tid, int mask) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0; cpu < kAffinityCpus; ++cpu) {
        if ((mask & (1 << cpu)) != 0) {
            CPU_SET(cpu, &set);
        }
    }
    return negated(pthread_setaffinity_np(tid, sizeof set, &set));
}

int qk_thread_getaffinity(pthread_t tid, int* mask) {
    if (mask == nullptr) {
        return negated(EINVAL);
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    const int rc = pthread_getaffinity_np(tid, sizeof set, &set);
    if (rc != 0) {
        return negated(rc);
    }
    int bits = 0;
    for (int cpu = 0; cpu < kAffinityCpus; ++cpu) {
        if (CPU_ISSET(cpu, &set)) {
            bits |= 1 << cpu;
        }
    }
    *mask = bits;
    return 0;
}

int qk_tls_new(pthread_key_t* key, void (*destructor)(void*)) {
    if (key == nullptr) {
        return negated(EINVAL);
    }
    return negated(pthread_key_create(key, destructor));
}

int qk_tls_free(pthread_key_t key) { return negated(pthread_key_delete(key)); }

int qk_tls_set(pthread_key_t key, const void* value) { return negated(pthread_setspecific(key, value)); }

void* qk_tls_get(pthread_key_t key) { return pthread_getspecific(key); }

pthread_mutex_t* qk_lock_new(void) {
    auto* lock = static_cast<pthread_mutex_t*>(std::malloc(sizeof(pthread_mutex_t)));
    if (lock != nullptr && pthread_mutex_init(lock, nullptr) != 0) {
        std::free(lock);
        lock = nullptr;
    }
    return lock;
}

void qk_lock_free(pthread_mutex_t* lock) {
    if (lock != nullptr) {
        pthread_mutex_destroy(lock);
        std::free(lock);
    }
}

int qk_lock_acquire(pthread_mutex_t* lock) {
    return lock == nullptr ? negated(EINVAL) : negated(pthread_mutex_lock(lock));
}

int qk_lock_release(pthread_mutex_t* lock) {
    return lock == nullptr ? negated(EINVAL) : negated(pthread_mutex_unlock(lock));
}

pthread_cond_t* qk_cond_new(void) {
    auto* cond = static_cast<pthread_cond_t*>(std::malloc(sizeof(pthread_cond_t)));
    if (cond != nullptr && pthread_cond_init(cond, nullptr) != 0) {
        std::free(cond);
        cond = nullptr;
    }
    return cond;
}

void qk_cond_free(pthread_cond_t* cond) {
    if (cond != nullptr) {
        pthread_cond_destroy(cond);
        std::free(cond);
    }
}

int qk_cond_wait(pthread_cond_t* cond, pthread_mutex_t* lock, int ms) {
    if (cond == nullptr || lock == nullptr) {
        return -1;
    }
    if (ms < 1) {
        return negated(pthread_cond_wait(cond, lock));
    }
    // Whole seconds on both sides, as callers of this interface have always had it: the
    // deadline falls up to one second early.
    struct timespec deadline {};
    deadline.tv_sec = qk_now() + ms / 1000;
    deadline.tv_nsec = 0;
    return negated(pthread_cond_timedwait(cond, lock, &deadline));
}

int qk_cond_signal(pthread_cond_t* cond) {
    if (cond == nullptr) {
        return -1;
    }
    pthread_cond_signal(cond);
    return 0;
}

} // extern "C"
