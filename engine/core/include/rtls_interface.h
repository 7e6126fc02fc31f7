// rtls_interface.h - the codes of the anchor protocol: the first payload byte of every
// frame an anchor sends, and the code byte of every command frame the engine sends.
//
// Plain constants; any thread.
#pragma once

enum RTLS_CMD {
    RTLS_CMD_PARM_STOP = 0,
    RTLS_CMD_PARM_START = 1,

    RTLS_CMD_REPORT_TX_CS_V4 = 0x30,    // '0' clock-sync packet sent
    RTLS_CMD_REPORT_RX_CS_V4 = 0x31,    // '1' clock-sync packet received
    RTLS_CMD_REPORT_TOA_V4 = 0x32,      // '2' tag blink time of arrival
    RTLS_CMD_REPORT_TOA_IMU_V4 = 0x33,  // '3' time of arrival with motion-sensor data
    RTLS_CMD_DEBUG = 0x37,
    RTLS_CMD_REPORT_TOA = 0x3A,
    RTLS_CMD_REPORT_TOA_EX = 0x3B,
    RTLS_CMD_REPORT_TX_CS = 0x3E,
    RTLS_CMD_REPORT_RX_CS = 0x3F,

    RTLS_CMD_REQ_CFG = 0x42,            // 'B' the anchor asks for its configuration
    RTLS_CMD_SET_CFG_CCP = 0x44,        // 'D' configuration command
    RTLS_COMM_TEST_START_REQ = 0x53,    // 'S'
    RTLS_COMM_TEST_RESULT_REQ = 0x54,   // 'T'
    RTLS_RANGE_MEAS_REQ = 0x55,         // 'U'
    RTLS_INIT_REQ = 0x56,               // 'V'
    RTLS_START_REQ = 0x57,              // 'W'
    RTLS_POWER_TEST_START_REQ = 0x58,   // 'X'
    RTLS_RESET_REQ = 0x59,              // 'Y'
    RTLS_SINGLE_TWR_MODE_REQ = 0x5A,    // 'Z'
    RTLS_ASYMM_TWR_MODE_REQ = 0x5B,     // '['

    RTLS_CFG_IND = 0x80,
    RTLS_COMM_TEST_DONE_IND = 0x81,
    RTLS_COMM_TEST_RESULT_IND = 0x82,
    RTLS_CMD_REPORT_TOF_V4 = 0x83,      // ranging (time-of-flight) report
    RTLS_RANGE_MEAS_IND = 0x83,
    RTLS_RANGE_MEAS_IND_FINAL = 0x84,
    RTLS_POWER_TEST_DONE_IND = 0x85,
    RTLS_TEMP_VBAT_IND = 0x87,
    RTLS_LOG_ACCUMULATOR_REQ = 0x88,
    RTLS_LOG_ACCUMULATOR_IND = 0x91,
};

// Data frame codes of the same protocol; the engine declares them and uses none.
enum RTLS_DATA {
    RTLS_DATA_ANCHOR_REQ = 0x41,
    RTLS_DATA_ANCHOR = 0x61,
    RTLS_DATA_BLINK = 0x62,
    RTLS_DATA_STATS = 0x63,
    RTLS_DATA_IMU = 0x64,
    RTLS_DATA_BLINK_EXT = 0x65,
};
