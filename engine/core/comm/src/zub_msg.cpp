#include "zub_msg.h"

#include "CNPlatform.h"
#include "XOS_Api.h"
#include "zub_print.h"

namespace {

constexpr BYTE kMsgVersion = 0;
constexpr BYTE kEnginePriority = 2;

// True for a message the platform took; a refusal is printed.
bool taken(WORD32 rc, WORD32 msg_id, WORD16 len, const JID* dst)
{
    if (rc == XOS_SUCCESS) {
        return true;
    }
    ZUB_PRINT(ZUB_PRINT_ERROR,
              "Send message to another job, OSS send asynchronous message failed. RcvJobModule=%d, "
              "RcvProcNo=%X, RouteType=%d, MsgID=%X, MsgLen=%d.",
              dst->wModule, dst->dwJno, dst->ucRouteType, msg_id, len);
    return false;
}

}  // namespace

bool zub_asyn_msg_send(WORD32 msg_id, const BYTE* buf, WORD16 len, const JID* dst)
{
    if (dst == nullptr) {
        return false;
    }
    // The platform copies the body before it returns; it never writes through the pointer.
    return taken(XOS_SendAsynMsg(msg_id, const_cast<BYTE*>(buf), len, kMsgVersion, kEnginePriority, dst), msg_id, len,
                 dst);
}

zub_send_result zub_asyn_msg_send_under_mark(WORD32 msg_id, const BYTE* buf, WORD16 len, const JID* dst,
                                             size_t mark)
{
    if (dst == nullptr) {
        return zub_send_result::failed;
    }
    const WORD32 rc = CN_SendAsynMsgUnderMark(msg_id, buf, len, kMsgVersion, kEnginePriority, dst, mark);
    if (rc == CN_SEND_SHED) {
        return zub_send_result::shed;
    }
    return taken(rc, msg_id, len, dst) ? zub_send_result::sent : zub_send_result::failed;
}
