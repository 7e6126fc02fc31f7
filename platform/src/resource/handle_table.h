// handle_table.h - one kind's slot table of the job API's synchronisation objects.
//
// Slots 1..254 are filled in order and never emptied; an object lives until the process ends
// (there is no delete operation), so a pointer found through a valid handle stays valid. Lookups
// take no lock; creations are serialised so that two threads never take one slot.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "resource/XOS_Semaphore.h"

namespace vorlen_resource {

template <typename T>
class HandleTable {
public:
    explicit constexpr HandleTable(WORD32 kind) : kind_(kind) {}

    // Builds an object with make() in the lowest free slot; XOS_INVALID_SEM_ID when the table is
    // full or make() gives null.
    template <typename Make>
    WORD32 add(Make make) {
        std::lock_guard<std::mutex> lock(create_);
        for (WORD32 slot = 1; slot < XOS_HANDLE_SLOTS; ++slot) {
            if (slots_[slot].load(std::memory_order_acquire) != nullptr) {
                continue;
            }
            std::unique_ptr<T> object = make();
            if (!object) {
                return XOS_INVALID_SEM_ID;
            }
            slots_[slot].store(object.release(), std::memory_order_release);
            return (kind_ << 16) | slot;
        }
        return XOS_INVALID_SEM_ID;
    }

    // The object of a handle of this kind; null for another kind, a slot above 254 or an empty slot.
    T* find(WORD32 handle) const {
        const WORD32 slot = handle & 0xFFFF;
        if ((handle >> 16) != kind_ || slot >= XOS_HANDLE_SLOTS) {
            return nullptr;
        }
        return slots_[slot].load(std::memory_order_acquire);
    }

private:
    const WORD32 kind_;
    std::mutex create_;
    std::atomic<T*> slots_[XOS_HANDLE_SLOTS] = {};
};

// The shared rule of every wait: 0xFFFFFFFF waits, 0 tries once, anything else is refused.
template <typename Wait, typename Try>
BOOLEAN wait_by_rule(WORD32 timeout, Wait wait, Try try_once) {
    if (timeout == XOS_WAIT_FOREVER) {
        return wait() ? TRUE : FALSE;
    }
    if (timeout == XOS_NO_WAIT) {
        return try_once() ? TRUE : FALSE;
    }
    return FALSE;
}

} // namespace vorlen_resource
