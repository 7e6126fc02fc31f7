// slot_table_test.cpp - every table takes 254 objects, in slot order from 1, and then fails with
// 0xFFFFFFFF; each runs in a fresh process, since a filled table is never emptied.
#include <gtest/gtest.h>

#include "resource_test_support.h"

namespace {

void expect_probe_passes(const char* name) {
    const rt::ProbeResult probe = rt::run_probe(name);
    EXPECT_EQ(probe.exit_code, 0) << probe.output;
    EXPECT_EQ(probe.output, "");
}

TEST(SlotTables, ThreadSemaphoresTake254ThenFail) { expect_probe_passes("thread-sem-slots"); }

TEST(SlotTables, ReadWriteLocksTake254ThenFail) { expect_probe_passes("rwlock-slots"); }

TEST(SlotTables, ProcessSemaphoresOfBothNameFormsShareOneTableOf254) { expect_probe_passes("process-sem-slots"); }

TEST(SlotTables, UnknownProbeIsReported) {
    // Guards the probe runner itself: a probe that does not exist must not pass.
    const rt::ProbeResult probe = rt::run_probe("no-such-probe");
    EXPECT_EQ(probe.exit_code, 2);
    EXPECT_EQ(probe.output, "no probe no-such-probe\n");
}

}  // namespace
