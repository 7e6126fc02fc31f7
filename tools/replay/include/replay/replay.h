// replay.h - feeds a recorded text file of manager messages, with the anchor and
// clock-sync state it names, through one selector core on a clock of its own, and prints
// the records the selector sends. Single-threaded; uses the process's engine context.
//
// Input, one item per line ('#' starts a comment, blank lines are skipped):
//   config <name> <value>      a context value: zubWirelessSync, zubFPIRF, zubSolveWaitTime,
//                              zubSolver3D, zeroAlgorithmEnable, enable_motion_filter,
//                              min_mulitiple, single_blink_count, single_blink_expire,
//                              toa_ignore_time, max_position_variance, max_human_speed,
//                              tad_id_prefix, ground_clearance, filter
//   anchor <id> <hardware id, hex> <x> <y> <z> <mode>
//   sync <slave id> <slot> <master id> <x0> <x1> <prevTxTime> <prevRxTime>
//                              a valid clock-sync slot, updated now
//   at <ms>                    the clock moves on to ms; the 10-ms solve tick runs at every
//                              multiple of 10 ms passed on the way (and at ms itself when it
//                              is one)
//   msg <hex bytes>            one report message as a manager sends it (sock_data_t head,
//                              then the anchor's payload)
// Output, one line per record:
//   loc <ms> mode=<m> tag=<hex> anchor=<hex> x=<mm> y=<mm> z=<mm>
//   ext <ms> tag=<hex> anchor=<hex> power=<n> temperature=<n> heart_rate=<n> warn=<n>
#pragma once

#include <iosfwd>
#include <string>

namespace replay {

// Runs the whole input. False, with the line number and the reason in `error`, at the first
// line it cannot read; the records up to there are printed.
bool run(std::istream& in, std::ostream& out, std::string& error);

}  // namespace replay
