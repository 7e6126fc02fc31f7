// zub_radio_tests.h - the anchors' radio tests (power, communication, range, twr): the command
// frames they build and the run of a range test, whose anchor pairs range one after another.
//
// The frame builders are plain functions (any thread). RangeTestRun is a field of
// RTLSControlHandler and, like it, is used only on the control job's thread.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "VorlenTypes.h"
#include "zub_control_frames.h"

// A pair's response timer and the communication and twr tests' wait (seconds).
inline constexpr int ZUB_RADIO_TEST_WAIT_SECONDS = 35;

// The settings a range test gives every pair.
struct RangeTestSettings {
    int calibration = 0;
    int num_ranges = 0;
    int rtime = 0;
    int lna = 1;
    int log = 0;
    WORD32 power = 0;
    int wait_seconds = 5;  // per pair
};

// The pairs of the range test under way: indexes (initiator, responder) into twr_anchors.
struct RangeTestRun {
    bool running = false;
    RangeTestSettings settings;
    std::vector<std::pair<WORD32, WORD32>> pairs;
    size_t next = 0;  // the pair to start after the current one
};

// The response delay a range test uses without "rtime": longer preambles need longer delays.
int zub_range_default_rtime(int plen);
// Seconds a pair may range: num_ranges x rtime x 5 microseconds, truncated, plus 5. A
// negative product counts as 0.
int zub_range_wait_seconds(int num_ranges, int rtime);
// The pairs (initiator, responder) over `count` anchors in list order: each unordered pair once,
// or with calibration every ordered pair.
std::vector<std::pair<WORD32, WORD32>> zub_range_pairs(size_t count, bool calibration);
// The '[' frame of one side of a pair.
cmd_twr_asymm_t zub_build_range_frame(const RangeTestSettings& s, BYTE role, int initiator_idx, int responder_idx,
                                      WORD16 delay_tx, WORD16 delay_rx);
// The twr test's 'Z' frame.
cmd_twr_single_t zub_build_twr_test_frame(int rtime, WORD32 power, int log);
