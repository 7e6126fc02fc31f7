#include "zub_anchor_reset.h"

#include <cstring>
#include <mutex>
#include <sys/time.h>

#include "zub_anchor.h"
#include "zub_anchor_id.h"
#include "zub_context.h"
#include "zub_shared_field.h"

void zub_test_reset_anchor(Anchor& anchor, WORD64 hardware_id, WORD16 local_id)
{
    WORD32 sock = 0;
    struct event* ev = nullptr;
    anchor.link_take(&sock, &ev);
    anchor.init(hardware_id, local_id);
    anchor.timeConnected = timeval{};
    anchor.timeDisconnected = timeval{};
    zub_store(anchor.last_ccp_time, 0);
    zub_store(anchor.is_req_cfg, false);
}

namespace {

template <class Node>
void free_subtree(Node* n)
{
    if (n == Node::Nil()) {
        return;
    }
    free_subtree(n->left);
    free_subtree(n->right);
    delete n;
}

}  // namespace

void zub_test_forget_anchor_ids()
{
    anchor_id_manager_t& map = zub_context()->anchor_id_manager;
    std::lock_guard<std::mutex> lock(map.lock);
    free_subtree(map.mappings.Root);
    map.mappings.Root = decltype(map.mappings)::Node::Nil();
    map.mappings.count = 0;
    std::memset(map.used, 0, sizeof map.used);
}
