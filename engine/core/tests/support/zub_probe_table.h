// zub_probe_table.h - the engine's job table for tests on the job platform: its 29 rows with
// the engine's types, priorities, tasks, names, sizes and flags, every engine row running the
// shared probe entry (platform/tests/support), so a test puts the entries it tests in the rows
// it needs; and the test environment that runs the platform on such a table.
//
// zub_engine_probe_rows returns a copy (any thread); the environment is GoogleTest's (the
// test's main thread).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <functional>

#include "VorlenComm.h"

std::array<T_JobCreatReg, 29> zub_engine_probe_rows();

// Starts the platform on `rows` with the engine's 28 tasks, off the real ports and logging to
// "platform.log" in the working directory, then builds the job directory and the engine JIDs
// as the control job does at power-on; shuts it down at the end. `before` runs first (state
// that no job thread may see change), `after` once the JIDs are built.
class zub_probe_platform : public ::testing::Environment {
public:
    zub_probe_platform(const std::array<T_JobCreatReg, 29>& rows, std::function<void()> before = {},
                       std::function<void()> after = {});
    void SetUp() override;
    void TearDown() override;

private:
    std::array<T_JobCreatReg, 29> rows_;
    std::function<void()> before_;
    std::function<void()> after_;
    FILE* log_ = nullptr;
};
