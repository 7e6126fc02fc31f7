#include "zub_context.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// Every member is default-initialised: the trivially constructible ones keep the zero of
// the storage (touching no page), the others run their own constructors - the anchors in
// index order, then the anchor-id map.
context_t::context_t() {}

namespace {

context_t* build_context()
{
    // Fresh anonymous pages are zero, and the pages of the anchors' large tables stay
    // untouched (and not resident) until used.
    void* storage = mmap(nullptr, sizeof(context_t), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (storage == MAP_FAILED) {
        std::fprintf(stderr, "engine context: cannot map %zu bytes\n", sizeof(context_t));
        std::abort();
    }
#if defined(__SANITIZE_ADDRESS__)
    // The records and tree nodes that the context holds live until the process ends;
    // let the leak checker see them as reachable.
    __lsan_register_root_region(storage, sizeof(context_t));
#endif
    return new (storage) context_t;
}

}  // namespace

context_t* zub_context()
{
    static context_t* const context = build_context();
    return context;
}
