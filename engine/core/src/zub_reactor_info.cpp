#include "zub_reactor_info.h"

#include <mutex>

bool zub_clients_save(reactor_info_t& info, sock_info_t* list, int32_t sock, struct event* ev)
{
    if (list == nullptr || sock == 0) {
        return false;
    }
    std::lock_guard<GuardMutex> lock(info.clients_lock);
    for (unsigned i = 0; i < ZUB_CLIENTS_PER_LIST; ++i) {
        if (list[i].flag == 0) {
            list[i].sock = sock;
            list[i].ev = ev;
            list[i].flag = 1;
            return true;
        }
    }
    return false;
}

bool zub_clients_take(reactor_info_t& info, sock_info_t* list, int32_t sock, sock_info_t* taken)
{
    if (list == nullptr || sock == 0) {
        return false;
    }
    std::lock_guard<GuardMutex> lock(info.clients_lock);
    for (unsigned i = 0; i < ZUB_CLIENTS_PER_LIST; ++i) {
        if (list[i].flag == 1 && list[i].sock == sock) {
            if (taken != nullptr) {
                *taken = list[i];
            }
            list[i] = sock_info_t{0, 0, nullptr};
            return true;
        }
    }
    return false;
}
