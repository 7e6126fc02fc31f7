// g_distance: the current snapshot behind a small lock held only to copy the reference.
#include <mutex>

#include "zub_distance.h"

namespace {

std::mutex g_distance_lock;
DistanceRef g_distance;

}  // namespace

DistanceRef zub_distance_snapshot()
{
    std::lock_guard<std::mutex> hold(g_distance_lock);
    return g_distance;
}

void zub_distance_publish(DistanceRef m)
{
    DistanceRef old;
    {
        std::lock_guard<std::mutex> hold(g_distance_lock);
        old.swap(g_distance);
        g_distance = std::move(m);
    }
    // `old` is released here, outside the lock; readers still holding it keep it alive.
}
