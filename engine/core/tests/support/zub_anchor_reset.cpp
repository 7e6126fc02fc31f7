#include "zub_anchor_reset.h"

#include <sys/time.h>

#include "zub_anchor.h"
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
