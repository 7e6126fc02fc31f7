// zub_clocksync_wire.h - the byte layouts of the two clock-calibration reports the clock-sync
// job reads (the message body around them and the display record are zub_job_records.h's).
//
// Reports are packed and little-endian; multi-byte fields are kept as byte arrays and read
// with the device-time readers, so a report may sit at any address. Pure layouts; any thread.
#pragma once

#include <cstddef>

#include "VorlenTypes.h"
#include "zub_job_records.h"

#pragma pack(push, 1)

// Anchor frame '0': a master sent clock-calibration packet seqNum at csTxTime.
struct report_ccp_tx_v4_t {
    BYTE type;         // 0x30
    BYTE seqNum;
    BYTE csTxTime[5];  // 40-bit device time
    BYTE extLen;
    BYTE ext[4];       // the extension's first four bytes: logNum32
};

// Anchor frame '1': a slave received clock-calibration packet seqNum of masterID at csRxTime.
struct report_ccp_rx_v4_t {
    BYTE type;            // 0x31
    BYTE seqNum;
    BYTE masterID[8];     // master hardware id
    BYTE csRxTime[5];     // 40-bit device time of the slave
    BYTE firstPath16[2];  // first-path index << 6
    BYTE extLen;          // 0..70
    BYTE logNum32[4];
    BYTE diagnostics[66];
};

#pragma pack(pop)

static_assert(sizeof(report_ccp_tx_v4_t) == 12, "8 bytes and the log number");
static_assert(sizeof(report_ccp_rx_v4_t) == 88, "the declared size of a receive report");

// Offsets and lengths of the rules on the wire.
constexpr unsigned ZUB_CCP_TX_HEAD_LEN = 8;   // payload = 8 + extLen
constexpr unsigned ZUB_CCP_RX_HEAD_LEN = 18;  // payload = 18 + extLen
constexpr unsigned ZUB_CCP_RX_DAC_LEN = 17;   // bytes the display record is made from
