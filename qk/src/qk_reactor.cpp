// Read-interest event reactor over a libevent 2.1 event base with pthread locking.
#include "qk_reactor.h"

#include <event2/event.h>
#include <event2/thread.h>
#include <unistd.h>

#include <cstring>

#include "qk_memory.h"
#include "qk_thread.h"

namespace {

constexpr useconds_t kIdleRetryUs = 1000;

pthread_once_t g_threads_once = PTHREAD_ONCE_INIT;
bool g_threads_ready = false;

// libevent's locking must be switched on before the first base is made; a base made
// without it cannot take events from foreign threads safely.
void enable_libevent_threads() { g_threads_ready = evthread_use_pthreads() == 0; }

void* dispatch_thread(void* arg) {
    auto* handle = static_cast<reactor_handle_t*>(arg);
    event_base_dispatch(handle->base);
    return nullptr;
}

void break_loop_cb(evutil_socket_t, short, void* arg) { event_base_loopbreak(static_cast<event_base*>(arg)); }

int run_blocking(event_base* base) {
    for (;;) {
        const int rc = event_base_dispatch(base);
        if (rc <= 0) {
            return rc < 0 ? -1 : 0;
        }
        // Nothing attached yet: come back once a socket may have been added.
        usleep(kIdleRetryUs);
    }
}

// A loop that has not yet entered dispatch clears a plain loopbreak on entry, so a loop
// thread started just before could run on for ever. A zero time-out queued in the base
// breaks the loop whenever it runs, before or after this call.
void stop_loop(event_base* base) {
    event_base_loopbreak(base);
    const timeval now{0, 0};
    event_base_once(base, -1, EV_TIMEOUT, break_loop_cb, base, &now);
}

} // namespace

extern "C" {

reactor_handle_t* qk_reactor_new(void) {
    pthread_once(&g_threads_once, enable_libevent_threads);
    if (!g_threads_ready) {
        return nullptr;
    }
    event_base* base = event_base_new();
    if (base == nullptr) {
        return nullptr;
    }
    auto* handle = static_cast<reactor_handle_t*>(qk_malloc(sizeof(reactor_handle_t)));
    if (handle == nullptr) {
        event_base_free(base);
        return nullptr;
    }
    std::memset(handle, 0, sizeof *handle);
    handle->base = base;
    return handle;
}

int qk_reactor_run(reactor_handle_t* handle, int mode) {
    if (handle == nullptr || handle->base == nullptr) {
        return -1;
    }
    switch (mode) {
    case REACTOR_RUN_ONCE:
        return event_base_loop(handle->base, EVLOOP_ONCE);
    case REACTOR_RUN_THREAD:
        return qk_thread_create(&handle->tid, dispatch_thread, handle);
    default:
        return run_blocking(handle->base);
    }
}

int qk_reactor_free(reactor_handle_t* handle) {
    if (handle == nullptr || handle->base == nullptr) {
        return 0;
    }
    stop_loop(handle->base);
    if (handle->tid != 0) {
        qk_thread_join(handle->tid);
    }
    event_base_free(handle->base);
    qk_free(handle);
    return 0;
}

struct event* qk_reactor_attach(reactor_handle_t* handle, int fd, reactor_callback_func_t callback, void* arg,
                                int trigger) {
    if (handle == nullptr || handle->base == nullptr || callback == nullptr) {
        return nullptr;
    }
    short what = EV_READ | EV_PERSIST;
    if (trigger == REACTOR_EDGE) {
        what |= EV_ET;
    }
    event* ev = event_new(handle->base, fd, what, callback, arg);
    if (ev == nullptr) {
        return nullptr;
    }
    // An event that is not in the loop would never fire: report it as the failure it is.
    if (event_add(ev, nullptr) != 0) {
        event_free(ev);
        return nullptr;
    }
    return ev;
}

int qk_reactor_detach(reactor_handle_t* handle, struct event* ev) {
    if (ev != nullptr) {
        // With locking on, this waits for a callback of ev running on the loop thread.
        event_free(ev);
    }
    return 0;
}

void qk_reactor_get_arg(struct event* ev, void** arg) {
    if (arg == nullptr) {
        return;
    }
    *arg = ev == nullptr ? nullptr : event_get_callback_arg(ev);
}

} // extern "C"
