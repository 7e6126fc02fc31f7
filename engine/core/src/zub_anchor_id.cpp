#include "zub_anchor_id.h"

#include <cstring>

#include "zub_context.h"
#include "zub_print.h"

int zub_common_init()
{
    anchor_id_manager_t& map = zub_context()->anchor_id_manager;
    std::lock_guard<std::mutex> lock(map.lock);
    std::memset(map.used, 0, sizeof map.used);
    for (auto it = map.mappings.begin(); it; ++it) {
        map.used[it->local_id] = true;
    }
    return 1;
}

WORD16 zub_new_anchor_id(WORD64 hardware_id)
{
    anchor_id_manager_t& map = zub_context()->anchor_id_manager;
    WORD16 local = ZUB_INVALID_ANCHOR_ID;
    {
        std::lock_guard<std::mutex> lock(map.lock);
        if (const anchor_id_t* known = map.mappings.find_key(hardware_id)) {
            return known->local_id;
        }
        unsigned i = 0;
        while (i < ZUB_ANCHOR_ID_LIMIT && map.used[i]) {
            ++i;
        }
        if (i == ZUB_ANCHOR_ID_LIMIT) {
            return ZUB_INVALID_ANCHOR_ID;
        }
        anchor_id_t* added = map.mappings.insert_key(hardware_id);
        if (added == nullptr) {
            return ZUB_INVALID_ANCHOR_ID;
        }
        local = static_cast<WORD16>(i);
        added->local_id = local;
        map.used[i] = true;
    }
    ZUB_PRINT(ZUB_PRINT_EVENT, "new mapping:%lx->%u", static_cast<unsigned long>(hardware_id), local);
    return local;
}

WORD16 zub_search_anchor_id(WORD64 hardware_id)
{
    anchor_id_manager_t& map = zub_context()->anchor_id_manager;
    std::lock_guard<std::mutex> lock(map.lock);
    const anchor_id_t* known = map.mappings.find_key(hardware_id);
    return known != nullptr ? known->local_id : ZUB_INVALID_ANCHOR_ID;
}
