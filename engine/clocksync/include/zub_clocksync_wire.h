// zub_clocksync_wire.h - the byte layouts the clock-sync job reads and writes: the body of
// an anchor-frame event, the two clock-calibration reports and the record for the display job.
//
// Reports are packed and little-endian; multi-byte fields are kept as byte arrays and read
// with the device-time readers, so a report may sit at any address. Pure layouts; any thread.
#pragma once

#include <cstddef>

#include "VorlenTypes.h"

// Body of an anchor-frame event (3): the anchor's local id, the payload length L, then the
// L payload bytes. The declaration holds 128 payload bytes, but a message carries 4 + L.
struct sock_data_t {
    WORD16 anc_id;
    WORD16 data_len;
    BYTE rcv_data[128];
};
constexpr std::size_t ZUB_SOCK_DATA_HEAD_LEN = offsetof(sock_data_t, rcv_data);

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

// Body of ZUB_EV_CLOCKSYNC_DISPLAY_DAC_CCP, host order.
struct dac_ccp_rx_t {
    WORD64 slave_id;
    WORD64 master_id;
    BYTE seq_num;
    WORD16 first_path;  // firstPath16 >> 6
};

#pragma pack(pop)

static_assert(sizeof(report_ccp_tx_v4_t) == 12, "8 bytes and the log number");
static_assert(sizeof(report_ccp_rx_v4_t) == 88, "the declared size of a receive report");
static_assert(sizeof(dac_ccp_rx_t) == 19, "the display record is 19 bytes");

// Offsets and lengths of the rules on the wire.
constexpr unsigned ZUB_CCP_TX_HEAD_LEN = 8;   // payload = 8 + extLen
constexpr unsigned ZUB_CCP_RX_HEAD_LEN = 18;  // payload = 18 + extLen
constexpr unsigned ZUB_CCP_RX_DAC_LEN = 17;   // bytes the display record is made from
