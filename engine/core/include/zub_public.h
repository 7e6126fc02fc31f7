// zub_public.h - the engine's public header: the engine codes and radio constants, and
// every engine core unit (context and records, anchor-id map, tree, wire codes, CRC-16,
// device time, hex printers, print entry). Engine jobs include this one header.
#pragma once

#include "pub_pqe_jobtype.h"
#include "rb_tree.h"
#include "rtls_interface.h"
#include "zub_anchor.h"
#include "zub_anchor_id.h"
#include "zub_area.h"
#include "zub_clock_sync.h"
#include "zub_context.h"
#include "zub_crc16.h"
#include "zub_device_time.h"
#include "zub_diagnostics.h"
#include "zub_hex.h"
#include "zub_msg_id.h"
#include "zub_print.h"
#include "zub_reactor_info.h"
#include "zub_rf_config.h"
#include "zub_shared_field.h"
#include "zub_tag.h"
#include "zub_trace_list.h"

// Engine return codes.
enum : int {
    ZUB_RET_OK = 0,
    ZUB_RET_ERR_MSG_FORMAT = 1,
    ZUB_RET_ERR_INVALID_ANCHOR_ID = 2,
};

// Pulse repetition frequency.
enum : int { RXQ_PRF_16M = 1, RXQ_PRF_64M = 2 };
// Data rate.
enum : int { RXQ_BR_110K = 0, RXQ_BR_850K = 1, RXQ_BR_6M8 = 2 };
// Preamble length.
enum : int {
    RXQ_PLEN_64 = 0x04,
    RXQ_PLEN_128 = 0x14,
    RXQ_PLEN_256 = 0x24,
    RXQ_PLEN_512 = 0x34,
    RXQ_PLEN_1024 = 0x08,
    RXQ_PLEN_1536 = 0x18,
    RXQ_PLEN_2048 = 0x28,
    RXQ_PLEN_4096 = 0x0C,
};
// Preamble acquisition chunk.
enum : int { RXQ_PAC8 = 0, RXQ_PAC16 = 1, RXQ_PAC32 = 2, RXQ_PAC64 = 3 };

// context_t::displayer_type.
enum : WORD16 { ZUB_DISPLAYER_TYPE_ORIGINAL = 0, ZUB_DISPLAYER_TYPE_NORVAT = 1 };

// Speed of the radio signal, m/s.
constexpr double ZUB_SPEED_OF_LIGHT = 299702547.0;
