#include "zub_time.h"

#include <mutex>

#include "zub_anchor.h"

timeval zub_time_of_day()
{
    timeval tv{};
    if (gettimeofday(&tv, nullptr) != 0) {
        tv = timeval{};
    }
    return tv;
}

WORD64 zub_cur_time_ms_get()
{
    const timeval tv = zub_time_of_day();
    return static_cast<WORD64>(tv.tv_sec) * 1000 + static_cast<WORD64>(tv.tv_usec) / 1000;
}

bool zub_anc_con_time_set(Anchor* anchor)
{
    if (anchor == nullptr) {
        return false;
    }
    std::lock_guard<GuardMutex> lock(anchor->link_lock);
    anchor->timeConnected = zub_time_of_day();
    return true;
}

bool zub_anc_discon_time_set(Anchor* anchor)
{
    if (anchor == nullptr) {
        return false;
    }
    std::lock_guard<GuardMutex> lock(anchor->link_lock);
    anchor->timeDisconnected = zub_time_of_day();
    return true;
}
