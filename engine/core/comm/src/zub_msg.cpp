#include "zub_msg.h"

#include "XOS_Api.h"
#include "zub_print.h"

namespace {

constexpr BYTE kMsgVersion = 0;
constexpr BYTE kEnginePriority = 2;

}  // namespace

bool zub_asyn_msg_send(WORD32 msg_id, const BYTE* buf, WORD16 len, const JID* dst)
{
    if (dst == nullptr) {
        return false;
    }
    // The platform copies the body before it returns; it never writes through the pointer.
    const WORD32 rc = XOS_SendAsynMsg(msg_id, const_cast<BYTE*>(buf), len, kMsgVersion, kEnginePriority, dst);
    if (rc == XOS_SUCCESS) {
        return true;
    }
    ZUB_PRINT(ZUB_PRINT_ERROR,
              "Send message to another job, OSS send asynchronous message failed. RcvJobModule=%d, "
              "RcvProcNo=%X, RouteType=%d, MsgID=%X, MsgLen=%d.",
              dst->wModule, dst->dwJno, dst->ucRouteType, msg_id, len);
    return false;
}
