// PLACEHOLDER for the back-communication job, built only while maintenance/backcomm does not
// exist: it has no TCP proxy; it logs each message it is given (with the receiver that the
// route-type-5 diversion sets) so that the diversion can be seen working.
#include "CNPlatLog.h"
#include "XOS_Api.h"
#include "omp_jobs.h"

void backComm_Job_Entry(WORD16 wState, WORD32 dwMsgId, void*, void*, BYTE) {
    JID from{};
    JID to{};
    XOS_Sender(&from);
    XOS_Receiver(&to);
    CN_PlatLog("BackComm placeholder: state=%u msg=%u len=%u from jno=0x%X module=%u to jno=0x%X module=%u route=%u\n",
               wState, dwMsgId, OSS_GetMsgDataLen(), from.dwJno, from.wModule, to.dwJno, to.wModule,
               to.ucRouteType);
}
