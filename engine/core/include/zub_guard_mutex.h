// zub_guard_mutex.h - a mutex that records can embed and still be copied member by member:
// copying a record gives the copy a fresh, unlocked mutex (a lock guards a place, not a
// value). Lockable; any thread.
#pragma once

#include <mutex>

class GuardMutex {
public:
    GuardMutex() = default;
    GuardMutex(const GuardMutex&) noexcept {}
    GuardMutex& operator=(const GuardMutex&) noexcept { return *this; }

    void lock() { m_.lock(); }
    bool try_lock() { return m_.try_lock(); }
    void unlock() { m_.unlock(); }

private:
    std::mutex m_;
};
