#include "zub_reactor_info.h"

#include <mutex>

sock_info_t* zub_client_list(reactor_info_t& info, WORD32 kind)
{
    switch (kind) {
    case ZUB_SOCKET_KIND_DSPLY:
        return info.dsply_client;
    case ZUB_SOCKET_KIND_TAG_LOC:
        return info.tag_loc_client;
    case ZUB_SOCKET_KIND_TAG_EXT:
        return info.tag_ext_client;
    case ZUB_SOCKET_KIND_ANC_STAT:
        return info.anc_stat_client;
    case ZUB_SOCKET_KIND_DAC_BLINK:
        return info.dac_blink_client;
    case ZUB_SOCKET_KIND_DAC_POS:
        return info.dac_pos_client;
    case ZUB_SOCKET_KIND_DAC_CCP:
        return info.dac_ccp_client;
    case ZUB_SOCKET_KIND_DATA_SERVER:
        return info.data_server_client;
    default:
        return nullptr;
    }
}

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
