// zub_msg_id.h - the engine's event ids (message ids of platform messages between engine
// jobs, grouped in blocks of 0x10000 by the job they belong to), the two platform timer
// message numbers and the engine timer types carried in the top byte of a timer's
// parameter word.
//
// Plain constants; any thread.
#pragma once

#include <cstdint>

enum ZUB_MSG_ID : uint32_t {
    // socket job
    ZUB_EV_SOCKET_LINK_SETUP = 0x0,
    ZUB_EV_SOCKET_RECON_CTRL_SETUP = 0x1,
    ZUB_EV_SOCKET_CONTROL_MSG = 0x2,
    ZUB_EV_SOCKET_XX_ANCHOR_MSG = 0x3,
    ZUB_EV_SOCKET_RECON_RCVLEN_WRONG = 0x4,
    ZUB_EV_SOCKET_TOF_ANCHOR_MSG = 0x5,
    ZUB_EV_SOCKET_DATA_SERVER_MSG = 0x6,

    // reconnection job
    ZUB_EV_RECON_DISPLAY_MSG = 0x20000,
    ZUB_EV_RECON_START_COMPLETE = 0x20001,
    ZUB_EV_XX_RECON_ANCHOR_CON_STATE = 0x20002,

    // control job
    ZUB_EV_CTRL_XX_INIT_START = 0x30000,
    ZUB_EV_XX_CTRL_JOB_START_OK = 0x30001,
    ZUB_EV_CTRL_RECON_RTLS_START = 0x30002,
    ZUB_EV_CTRL_RECON_RTLS_STOP = 0x30003,

    // clock-sync job
    ZUB_EV_CLOCKSYNC_DISPLAY_DAC_CCP = 0x50000,

    // manager jobs
    ZUB_EV_MANAGER_XX_ANCHOR_MSG = 0x60000,
    ZUB_EV_MANAGER_SCHEDULER = 0x60001,

    // selector jobs
    ZUB_EV_SELECTOR_DISPLAY_TAG_LOC = 0x70000,
    ZUB_EV_SELECTOR_DISPLAY_TAG_EXT = 0x70001,
    ZUB_EV_SELECTOR_DISPLAY_RAW_BLIBK = 0x70002,
};

// Platform timer numbers under which engine timer expiries arrive.
constexpr uint32_t ZUB_EV_RELATIVE_TIMER = 2029;  // one-shot
constexpr uint32_t ZUB_EV_LOOP_TIMER = 2030;      // periodic

// Engine timer types with a name of their own (parameter word = type << 24 | value &
// 0xFFFFFF); the other jobs' timer types are their own constants.
enum ZUB_TIMER_TYPE : uint8_t {
    QE_CTRL_TIMER_TYPE_INIT = 120,
    QE_CTRL_TIMER_TYPE_WAIT_RESP = 121,
};
