// Ten thousand anchors and more: reading the list stops before the ten-thousandth, which would
// leave the walks that take the count modulo 10000 with none, and the configuration reaches
// all that were read (a process of its own: mappings are never released).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "RTLSControlHandler.h"
#include "control_test_support.h"
#include "zub_anchor_list.h"
#include "zub_context.h"
#include "zub_public.h"

TEST(engine_control_AnchorListLimit, ReadingStopsBeforeTheTenThousandthAnchorAndConfigurationReachesAll)
{
    ctl::TempDir dir;
    ctl::FakePorts ports;
    ctl::Prints prints;
    std::string text;
    for (unsigned i = 0; i < 10002; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%x 10.%u.%u.1\n", 0xd0000000u + i, (i >> 8) & 0xFF, i & 0xFF);
        text += line;
        if (i == 5) {
            text += "d0000003 10.9.9.9\n";  // listed again: counted once
        }
    }
    dir.write("dns_zub.cfg", text);
    FILE* f = std::fopen("dns_zub.cfg", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(zub_read_anchor_list(f), 10000);  // 9999 anchors and the repeat
    std::fclose(f);
    EXPECT_EQ(zub_context()->anchor_count, 9999);
    EXPECT_EQ(zub_search_anchor_id(0xd0000000u + 9998), 9998);
    EXPECT_EQ(zub_search_anchor_id(0xd0000000u + 9999), ZUB_INVALID_ANCHOR_ID);
    EXPECT_EQ(zub_context()->anchors[9998].hardware_id, 0xd0000000u + 9998);
    // 0xd0000000 + 9999 = 0xd000270f, on line 10001 (after the repeat).
    EXPECT_EQ(prints.count_of("dns_zub.cfg line 10001: anchor d000270f would be anchor 10000; at most 9999 anchors "
                              "are used, it and the rest of the file are skipped."),
              1u);

    // 'D' goes to every linked anchor and the count stays.
    Anchor* first = &zub_context()->anchors[0];
    Anchor* last = &zub_context()->anchors[9998];
    first->link_record(800, nullptr);
    last->link_record(801, nullptr);
    RTLSControlHandler::Instance()->UpdateAnchorConfig();
    EXPECT_EQ(zub_context()->anchor_count, 9999);
    ASSERT_EQ(ports.frames.size(), 2u);
    EXPECT_EQ(ports.frames[0].anchor_id, 0);
    EXPECT_EQ(ports.frames[1].anchor_id, 9998);
    EXPECT_EQ(ports.frames[1].bytes.size(), 26u);
    EXPECT_EQ(ports.frames[1].bytes[0], 0x44);
}
