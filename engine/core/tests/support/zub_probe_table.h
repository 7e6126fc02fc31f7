// zub_probe_table.h - the engine's job table for tests on the job platform: its 29 rows with
// the engine's types, priorities, tasks, names, sizes and flags, every engine row running the
// shared probe entry (platform/tests/support), so a test puts the entries it tests in the rows
// it needs. Returns a copy; any thread.
#pragma once

#include <array>

#include "VorlenComm.h"

std::array<T_JobCreatReg, 29> zub_engine_probe_rows();
