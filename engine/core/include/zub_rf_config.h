// zub_rf_config.h - the radio settings sent to every anchor.
//
// One global instance, rfConfig, built with the defaults below at process start, then
// overwritten by the configuration loader and the controller's "rf cfg" request and read
// by the command builders: all on the control job's thread, so no guard.
#pragma once

#include "VorlenTypes.h"

struct RfConfig {
    RfConfig();

    int chan;         // 2
    int prf;          // RXQ_PRF_64M
    int rate;         // RXQ_BR_6M8
    int code;         // 9
    int plen;         // RXQ_PLEN_128
    int pac;          // RXQ_PAC8
    int nsfd;         // 0
    WORD16 ant_delay; // 16454
    BYTE use_tof;
    BYTE four_anc_mode;
    BYTE use_ant_delay;  // 1
    WORD16 tof_delayed;  // 1000
    WORD16 tof_anc_id;
    WORD32 anc_power;
};

extern RfConfig rfConfig;
