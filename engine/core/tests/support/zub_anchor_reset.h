// zub_anchor_reset.h - puts a context anchor back to a fresh configured state between the
// engine's tests: its link taken (not closed: tests own their descriptors), its record
// re-initialised with a hardware id and local id, its connect times, last clock-sync time and
// configuration request cleared. For the test's thread while no job uses the anchor.
// zub_test_forget_anchor_ids empties the anchor-id map (which the engine never shrinks), so a
// test that counts local ids from 0 does not depend on what earlier tests of its process mapped.
#pragma once

#include "VorlenTypes.h"

class Anchor;

void zub_test_reset_anchor(Anchor& anchor, WORD64 hardware_id, WORD16 local_id);
void zub_test_forget_anchor_ids();
