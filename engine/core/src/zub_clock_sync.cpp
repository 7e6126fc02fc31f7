#include "zub_clock_sync.h"

ClockSync::ClockSync()
    : valid_sync(true),
      master(nullptr),
      syncAnchorsTOF(0.0),
      cs_kalman(),
      seqNum(255),
      missedCS(0),
      totalRxCS(0),
      last_update_time(0),
      hist_data{},
      timedif{}
{
}
