// qk_reactor.h - read-interest event reactor over a libevent 2.1 event base.
//
// One thread runs the loop (qk_reactor_run); every callback runs on that thread.
// qk_reactor_attach and qk_reactor_detach may be called from any thread, also while the
// loop runs: the base is created with libevent's pthread locking, so an attach wakes the
// loop at once, and a detach from a foreign thread waits until a callback of that event
// that is running at that moment has returned. Once qk_reactor_detach returns on a thread
// other than the loop's, the event's callback is not running and never runs again, so the
// caller may free the callback argument. A foreign thread must therefore not hold, while
// detaching, a lock that the event's callback takes. A callback may detach its own event.
// Detach an event before closing its descriptor: a closed number may be reused at once by
// another thread's new socket. qk_reactor_free releases the base, not the events still
// attached; call it from outside the loop, for a loop started in thread mode (it stops and
// joins that thread) or once a blocking or single-pass run has returned.
#pragma once

#include <pthread.h>

#include "qk_export.h"

struct event;
struct event_base;

QK_BEGIN_DECLS

enum {
    REACTOR_RUN_BLOCK = 0,
    REACTOR_RUN_THREAD = 1,
    REACTOR_RUN_ONCE = 2,
};

enum {
    REACTOR_LEVEL = 0,
    REACTOR_EDGE = 1,
};

typedef void (*reactor_callback_func_t)(int fd, short what, void* arg);

typedef struct reactor_handle_s {
    struct event_base* base;
    pthread_t tid; // the loop's thread in REACTOR_RUN_THREAD mode, 0 otherwise
} reactor_handle_t;

// A new reactor, or null when the event base or the handle cannot be made.
QK_EXPORT reactor_handle_t* qk_reactor_new(void);
// REACTOR_RUN_ONCE: one pass of the loop, libevent's result. REACTOR_RUN_THREAD: starts a
// thread dispatching the loop, qk_thread_create's result. Otherwise blocks in the loop,
// waiting in 1-ms steps while nothing is attached; 0 when the loop ended, -1 on error.
QK_EXPORT int qk_reactor_run(reactor_handle_t* handle, int mode);
// Breaks the loop, joins the loop thread when there is one, frees base and handle. 0.
QK_EXPORT int qk_reactor_free(reactor_handle_t* handle);
// A persistent read event on fd (edge-triggered for REACTOR_EDGE), already added;
// null when the handle is null or the event cannot be made or added.
QK_EXPORT struct event* qk_reactor_attach(reactor_handle_t* handle, int fd, reactor_callback_func_t callback,
                                          void* arg, int trigger);
// Removes and frees the event. A null event: nothing. 0.
QK_EXPORT int qk_reactor_detach(reactor_handle_t* handle, struct event* ev);
// Stores the event's callback argument in *arg (null for a null event).
QK_EXPORT void qk_reactor_get_arg(struct event* ev, void** arg);

QK_END_DECLS
