// zub_control_frames.h - the binary commands the engine sends to anchors: packed records,
// little-endian fields, sent raw (without the STX/length/CRC/ETX framing of anchor frames).
// Their sizes are part of the anchors' protocol and checked here at compile time.
//
// Plain records; any thread.
#pragma once

#include "VorlenTypes.h"

#pragma pack(push, 1)

// 'D': the anchor's configuration.
struct cmd_config_t {
    BYTE command;        // 0x44
    BYTE id;             // 0
    BYTE master;         // 1: clock master
    BYTE prf_ch;         // prf << 4 | chan & 15
    BYTE datarate;
    BYTE code;
    BYTE txPreambLength;
    BYTE nsSFD_rxPAC;    // nsfd << 4 | pac & 15
    WORD16 delay_rx;
    WORD16 delay_tx;
    BYTE free_12;
    BYTE debug_logs;
    WORD64 eui64_to_follow;
    WORD32 lag_delay;
};

// 'W': RTLS start (1) or stop (0).
struct cmd_rtls_start_t {
    BYTE command;  // 0x57
    BYTE parm;
};

// 'Z': single-sided two-way ranging.
struct cmd_twr_single_t {
    BYTE command;  // 0x5A
    BYTE role;
    BYTE use_ant_delay;
    WORD16 delay_tx;
    WORD16 delay_rx;
    WORD16 response_delay;
    WORD16 addr;
    BYTE lna_on;
    WORD32 power;
    BYTE log_all;
};

// '[': asymmetric two-way ranging between two anchors.
struct cmd_twr_asymm_t {
    BYTE command;  // 0x5B
    BYTE log_all;
    BYTE role;     // 0 responder, 1 initiator
    WORD16 num_ranges;
    BYTE use_ant_delay;
    WORD16 delay_tx;
    WORD16 delay_rx;
    WORD16 response_delay;
    WORD16 final_delay;
    WORD16 report_delay;
    WORD16 poll_period;
    WORD16 initiator_addr;
    WORD16 responder_addr;
    BYTE lna_on;
    WORD32 power;
};

// 'S': communication test start.
struct cmd_comm_test_t {
    BYTE command;   // 0x53
    BYTE transmit;  // 0 receiver, 1 transmitter
    WORD16 data;    // test packets
};

// 'X': transmit power test.
struct cmd_power_test_t {
    BYTE command;  // 0x58
    BYTE start;    // 1
    WORD16 seconds;  // 30
};

// 'Y': reset.
struct cmd_reset_t {
    BYTE command;  // 0x59
    char text[17]; // "reset_anchor_now" and its NUL
};

// 0x88: accumulator log request.
struct cmd_log_accumulator_t {
    BYTE command;  // 0x88
    BYTE source;   // 0xA2 clock-calibration packets, 0xA1 blinks
    WORD16 num_accum;
};

#pragma pack(pop)

static_assert(sizeof(cmd_config_t) == 26, "'D' is 26 bytes");
static_assert(sizeof(cmd_rtls_start_t) == 2, "'W' is 2 bytes");
static_assert(sizeof(cmd_twr_single_t) == 17, "'Z' is 17 bytes");
static_assert(sizeof(cmd_twr_asymm_t) == 27, "'[' is 27 bytes");
static_assert(sizeof(cmd_comm_test_t) == 4, "'S' is 4 bytes");
static_assert(sizeof(cmd_power_test_t) == 4, "'X' is 4 bytes");
static_assert(sizeof(cmd_reset_t) == 18, "'Y' is 18 bytes");
static_assert(sizeof(cmd_log_accumulator_t) == 4, "0x88 is 4 bytes");

class Anchor;

// The 'D' frame of an anchor from its configuration, rfConfig and the diagnostics switch.
cmd_config_t zub_build_config_frame(const Anchor& anchor);
// The ranging-start 'Z' frame of an anchor that uses two-way ranging.
cmd_twr_single_t zub_build_ranging_start_frame(const Anchor& anchor);
