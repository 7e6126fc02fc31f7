// zub_shared_field.h - access to a plain record field that one thread writes while other
// threads read it on its own (a flag, a counter, a time stamp): relaxed atomic loads and
// stores through std::atomic_ref, so the record keeps its layout and no access races.
//
// Only for fields read one at a time; a group of fields that must be read together
// belongs under a SeqLock or a mutex. Any thread.
#pragma once

#include <atomic>
#include <type_traits>

template <class T>
inline T zub_load(const T& field, std::memory_order order = std::memory_order_relaxed)
{
    static_assert(std::is_trivially_copyable_v<T>, "atomic_ref needs a trivially copyable type");
    return std::atomic_ref<T>(const_cast<T&>(field)).load(order);
}

template <class T, class U>
inline void zub_store(T& field, U value, std::memory_order order = std::memory_order_relaxed)
{
    static_assert(std::is_trivially_copyable_v<T>, "atomic_ref needs a trivially copyable type");
    std::atomic_ref<T>(field).store(static_cast<T>(value), order);
}
