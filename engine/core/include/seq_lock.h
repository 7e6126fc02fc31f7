// seq_lock.h - a sequence lock: one writer at a time publishes a group of fields, any
// number of readers take a consistent copy of them without writing shared memory.
//
// A reader reads the sequence (even = stable), copies the fields with acquire loads, and
// retries when the sequence moved meanwhile; it therefore never sees half of one update
// and half of another. A writer makes the sequence odd, stores the fields with release
// stores, and makes it even again. (A release store keeps the odd sequence before it; an
// acquire load keeps the second sequence read after it: no fence is needed, and on x86-64
// both are plain moves.) Writers must be serialised by the owner
// (a mutex named beside the lock); a writer may read the fields plainly, since no other
// thread stores them meanwhile. Readers must not read guarded fields plainly.
//
// Every access to a guarded field, by readers and by the writer's stores, goes through
// these atomic helpers, so there is no data race in the memory model. Copying a record
// that embeds a SeqLock copies its fields but not its state (the copy starts idle).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace seq_detail {

// Word and byte views of guarded storage that may alias any object (GCC's may_alias),
// accessed only through the __atomic builtins.
typedef uint64_t __attribute__((may_alias)) alias_u64;
typedef unsigned char __attribute__((may_alias)) alias_u8;

// Copies n bytes from guarded `src` to private `dst`, one acquire load per word.
inline void atomic_load_bytes(void* dst, const void* src, std::size_t n)
{
    auto* d = static_cast<unsigned char*>(dst);
    const auto* s = static_cast<const unsigned char*>(src);
    std::size_t i = 0;
    if (reinterpret_cast<std::uintptr_t>(s) % alignof(uint64_t) == 0) {
        for (; i + 8 <= n; i += 8) {
            const uint64_t w = __atomic_load_n(reinterpret_cast<const alias_u64*>(s + i), __ATOMIC_ACQUIRE);
            std::memcpy(d + i, &w, 8);
        }
    }
    for (; i < n; ++i) {
        d[i] = __atomic_load_n(reinterpret_cast<const alias_u8*>(s + i), __ATOMIC_ACQUIRE);
    }
}

// Copies n bytes from private `src` into guarded `dst`, one release store per word.
inline void atomic_store_bytes(void* dst, const void* src, std::size_t n)
{
    auto* d = static_cast<unsigned char*>(dst);
    const auto* s = static_cast<const unsigned char*>(src);
    std::size_t i = 0;
    if (reinterpret_cast<std::uintptr_t>(d) % alignof(uint64_t) == 0) {
        for (; i + 8 <= n; i += 8) {
            uint64_t w;
            std::memcpy(&w, s + i, 8);
            __atomic_store_n(reinterpret_cast<alias_u64*>(d + i), w, __ATOMIC_RELEASE);
        }
    }
    for (; i < n; ++i) {
        __atomic_store_n(reinterpret_cast<alias_u8*>(d + i), s[i], __ATOMIC_RELEASE);
    }
}

inline void cpu_relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace seq_detail

class SeqLock {
public:
    SeqLock() = default;
    SeqLock(const SeqLock&) noexcept {}
    SeqLock& operator=(const SeqLock&) noexcept { return *this; }

    // --- reader side
    uint32_t read_begin() const
    {
        for (;;) {
            const uint32_t s = seq_.load(std::memory_order_acquire);
            if ((s & 1u) == 0) {
                return s;
            }
            seq_detail::cpu_relax();
        }
    }
    // True when the copy taken since read_begin (with load()) may be torn and must be
    // taken again.
    bool read_retry(uint32_t begin) const { return seq_.load(std::memory_order_relaxed) != begin; }

    // One guarded field, read between read_begin and read_retry.
    template <class T>
    static T load(const T& field)
    {
        return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_acquire);
    }

    // A consistent copy of one guarded object.
    template <class T>
    T read(const T& guarded) const
    {
        static_assert(std::is_trivially_copyable_v<T>, "a sequence lock copies bytes");
        alignas(T) unsigned char bytes[sizeof(T)];
        for (;;) {
            const uint32_t s = read_begin();
            seq_detail::atomic_load_bytes(bytes, &guarded, sizeof(T));
            if (!read_retry(s)) {
                T out;
                std::memcpy(static_cast<void*>(&out), bytes, sizeof(T));
                return out;
            }
        }
    }

    // --- writer side (the caller holds the writers' mutex)
    void write_begin()
    {
        const uint32_t s = seq_.load(std::memory_order_relaxed);
        seq_.store(s + 1, std::memory_order_relaxed);
    }
    void write_end() { seq_.store(seq_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

    // One guarded field, written between write_begin and write_end.
    template <class T, class U>
    static void store(T& field, U value)
    {
        std::atomic_ref<T>(field).store(static_cast<T>(value), std::memory_order_release);
    }

    // Publishes `value` into one guarded object.
    template <class T>
    void write(T& guarded, const T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>, "a sequence lock copies bytes");
        write_begin();
        seq_detail::atomic_store_bytes(&guarded, &value, sizeof(T));
        write_end();
    }

    // Number of completed and started writes (even while idle); for tests and diagnostics.
    uint32_t sequence() const { return seq_.load(std::memory_order_acquire); }

private:
    std::atomic<uint32_t> seq_{0};
};
