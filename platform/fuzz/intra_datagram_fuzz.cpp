// intra_datagram_fuzz.cpp - any datagram of up to 20,480 bytes into the intra-board receiving
// path (Deliver) of a process shaped like the maintenance program (module 1, route type 5
// diverted), with a small job table on two control tasks that are built but never started. Every
// datagram comes from the partner program's port, as the engine's sends do.
//
// Every input is checked against the rule the transport promises: a datagram is queued exactly
// when it holds a header and dwMsgLen equals what follows it, exactly once, whole and unchanged,
// on the task of the job its header resolves to; anything else is dropped.
#include <cstdint>
#include <cstring>

#include <ace/Message_Block.h>

#include "CNCtrlTask.h"
#include "VorlenComm.h"
#include "fuzz_support.h"

namespace {

void quiet_entry(WORD16, WORD32, void*, void*, BYTE) {}

constexpr WORD16 kWorkerType = 0x0102;

// Rows: the control job and notexist on task 1, a worker and the back-communication job on task 2.
const T_JobCreatReg kTable[] = {
    {0x0000, 0, 1, 1, "control", quiet_entry, 0, 0, 0},
    {0x0001, 0, 1, 1, "notexist", quiet_entry, 0, 0, 0},
    {kWorkerType, 0, 2, 1, "worker", quiet_entry, 0, 0, 0},
    {CN_BACKCOMM_JOB_TYPE, 0, 2, 1, "backcomm", quiet_entry, 0, 0, 0},
    {0, 0, 0, 0, "", nullptr, 0, 0, 0},
};

CNCtrlTask* g_tasks[3] = {};
CNIntraMsgHandler* g_handler = nullptr;
ACE_INET_Addr g_partner;

// The task a valid datagram must reach (0: none), from the table above and the delivery rules.
int expected_task(const T_CNMessageHead& head) {
    if (head.DestJID.ucRouteType == CN_ROUTE_TYPE_BACKCOMM) return 2;
    if (head.DestJID.wModule != 1 || head.DestJID.wUnit != 0xFFFF) return 0;
    const WORD16 type = static_cast<WORD16>(head.DestJID.dwJno >> 16);
    return type == kWorkerType || type == CN_BACKCOMM_JOB_TYPE ? 2 : 1;  // unknown types go to notexist
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static CN_PlatformProfile profile = CN_OmpProfile(kTable);
    if (CN_PlatformInit(&profile) != 0) fuzz::fail("platform start");
    for (WORD16 i = 1; i <= 2; ++i) g_tasks[i] = new CNCtrlTask(static_cast<WORD16>(profile.wTaskTypeBase | i));
    g_handler = new CNIntraMsgHandler();  // never opened: no socket
    g_partner = ACE_INET_Addr(profile.wPartnerPort, "127.0.0.1");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The receive buffer holds 20,480 bytes; a longer datagram arrives cut to that.
    const size_t len = size < CN_INTRA_RECV_BUF_LEN ? size : CN_INTRA_RECV_BUF_LEN;
    g_handler->Deliver(data, static_cast<ssize_t>(len), g_partner);

    int want = 0;
    if (len >= sizeof(T_CNMessageHead)) {
        T_CNMessageHead head;
        std::memcpy(&head, data, sizeof head);
        if (head.dwMsgLen == len - sizeof head) want = expected_task(head);
    }
    for (int task = 1; task <= 2; ++task) {
        int queued = 0;
        while (!g_tasks[task]->msg_queue()->is_empty()) {
            ACE_Message_Block* block = nullptr;
            if (g_tasks[task]->msg_queue()->dequeue_head(block) == -1) fuzz::fail("dequeue");
            ++queued;
            fuzz::expect(block->msg_type() == MB_USER_JOB_MESSAGE, "a datagram is queued as a job message");
            fuzz::expect(block->length() == len, "the block holds the whole datagram");
            fuzz::expect(std::memcmp(block->rd_ptr(), data, len) == 0, "the block holds the datagram unchanged");
            T_CNMessageHead head;
            std::memcpy(&head, block->rd_ptr(), sizeof head);
            fuzz::expect(head.dwMsgLen == block->length() - sizeof head, "the header tells the block's length");
            block->release();
        }
        fuzz::expect(queued == (want == task ? 1 : 0), "queued exactly on the resolved job's task");
    }
    return 0;
}
