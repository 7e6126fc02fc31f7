// VorlenTypes.h - the platform's word types and the records every job and both programs share:
// the job address (JID/PID), the 44-byte message header, the job-table row and the job entry.
//
// Plain data only; safe to include from any thread and from C-style code.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t BYTE;
typedef uint16_t WORD16;
typedef uint32_t WORD32;
typedef uint64_t WORD64;
typedef int32_t SWORD32;
typedef uint8_t BOOLEAN;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Job address, 16 bytes in host byte order.
typedef struct tagJID {
    WORD32 dwJno;   // (job type << 16) + instance
    WORD32 dwDevId; // (bureau << 24) + 1
    WORD16 wModule;
    WORD16 wUnit;   // 0xFFFF: the whole module
    BYTE ucSUnit;
    BYTE ucSubSystem;
    BYTE ucRouteType; // 5: deliver to the maintenance program's back-communication job
    BYTE ucExtendFlag;
} JID;

typedef struct tagPID {
    WORD32 dwPno;
    WORD32 dwDevId;
    WORD16 wModule;
    WORD16 wUnit;
    BYTE ucSUnit;
    BYTE ucSubSystem;
    BYTE ucRouteType;
    BYTE ucExtendFlag;
} PID;

static_assert(sizeof(JID) == 16, "JID is 16 bytes on the wire");
static_assert(sizeof(PID) == sizeof(JID), "PID shares the JID layout");

constexpr WORD32 CN_MAX_MSG_DATA_LEN = 21504;

typedef struct {
    JID DestJID;
    JID SrcJID;
    WORD32 dwMsgID;
    WORD32 dwMsgLen;
    BYTE ucMsgType;
    BYTE ucMsgEndFlg; // sender's version byte on the UDP path
    BYTE aucResv[2];
} T_CNMessageHead;

typedef struct {
    T_CNMessageHead tHead;
    BYTE abMsg[CN_MAX_MSG_DATA_LEN];
} T_CNMessage;

static_assert(sizeof(T_CNMessageHead) == 44, "message header is 44 bytes");
static_assert(sizeof(T_CNMessage) == 21548, "message is header + 21504 data bytes");
static_assert(offsetof(T_CNMessageHead, dwMsgID) == 32 && offsetof(T_CNMessageHead, dwMsgLen) == 36,
              "header field offsets are part of the intra-board wire format");

// Job entry: (state, message id, message body, private data, flag). The platform passes flag 1.
typedef void (*PTFUNCJOBENTRY)(WORD16 wState, WORD32 dwMsgId, void* pMsgBody, void* pPData, BYTE ucFlag);

// One row of the job table; a row with a null PEntry ends the table.
typedef struct {
    WORD16 wJobType;
    WORD16 wPri;
    WORD16 wSchIndex;
    WORD16 wInstance;
    char acName[32];
    PTFUNCJOBENTRY PEntry;
    WORD32 StckSize;
    WORD32 DataSize;
    WORD32 dwFlags; // 0x10000: the power-on sequencer waits for this job's acknowledgement
} T_JobCreatReg;

constexpr WORD32 CN_JOB_FLAG_WAIT_POWERON_ACK = 0x10000;

// Kinds of the blocks on a control task's queue.
enum E_MessageBlockType {
    MB_USER_EXIT = 256,
    MB_USER_TIMER = 513,
    MB_USER_JOB_MESSAGE = 514,
    MB_USER_PKT = 515,
};

// Platform message ids every job sees.
constexpr WORD32 CN_MSG_POWER_ON = 6000;
constexpr WORD32 CN_MSG_POWER_ON_ACK = 6003;
