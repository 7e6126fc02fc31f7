// qk_thread.h - thread, thread-local, lock and condition wrappers over POSIX threads.
//
// Stateless; callable from any thread. Each returns 0 on success and the negated error
// number of the thread library on failure, except qk_thread_join, which returns the
// thread library's result unchanged (0 or a positive error number).
#pragma once

#include <pthread.h>

#include "qk_export.h"

QK_BEGIN_DECLS

typedef void* (*qk_thread_func_t)(void* arg);

QK_EXPORT int qk_thread_create(pthread_t* tid, qk_thread_func_t func, void* arg);
QK_EXPORT int qk_thread_self(pthread_t* tid);
QK_EXPORT int qk_thread_join(pthread_t tid);
// Bit i of mask (i = 0..7) allows processor i; higher bits are ignored.
QK_EXPORT int qk_thread_setaffinity(pthread_t tid, int mask);
// On success bits 0..7 of *mask tell which of processors 0..7 are allowed.
QK_EXPORT int qk_thread_getaffinity(pthread_t tid, int* mask);

QK_EXPORT int qk_tls_new(pthread_key_t* key, void (*destructor)(void*));
QK_EXPORT int qk_tls_free(pthread_key_t key);
QK_EXPORT int qk_tls_set(pthread_key_t key, const void* value);
QK_EXPORT void* qk_tls_get(pthread_key_t key);

// A heap mutex, initialised; null on failure.
QK_EXPORT pthread_mutex_t* qk_lock_new(void);
// Destroys and frees; nothing for null.
QK_EXPORT void qk_lock_free(pthread_mutex_t* lock);
QK_EXPORT int qk_lock_acquire(pthread_mutex_t* lock);
QK_EXPORT int qk_lock_release(pthread_mutex_t* lock);

// A heap condition, initialised; null on failure.
QK_EXPORT pthread_cond_t* qk_cond_new(void);
// Destroys and frees; nothing for null.
QK_EXPORT void qk_cond_free(pthread_cond_t* cond);
// Waits with lock held. ms < 1: no time-out. Otherwise the deadline is the current
// wall-clock second plus ms / 1000 whole seconds: below 1000 ms it has passed already, and
// n * 1000 ms waits between n - 1 and n seconds. -1 for a null argument.
QK_EXPORT int qk_cond_wait(pthread_cond_t* cond, pthread_mutex_t* lock, int ms);
// Wakes one waiter; -1 for null, else 0.
QK_EXPORT int qk_cond_signal(pthread_cond_t* cond);

QK_END_DECLS
