// Ten thousand anchors: reading the list stops when every local id is taken, and the
// configuration still reaches all of them (a process of its own: mappings are never released).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "RTLSControlHandler.h"
#include "control_test_support.h"
#include "zub_anchor_list.h"
#include "zub_context.h"
#include "zub_public.h"

TEST(engine_control_AnchorListLimit, ReadingStopsAtTheTenThousandthAnchorAndConfigurationReachesAll)
{
    ctl::TempDir dir;
    ctl::FakePorts ports;
    std::string text;
    for (unsigned i = 0; i < 10002; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%x 10.%u.%u.1\n", 0xd0000000u + i, (i >> 8) & 0xFF, i & 0xFF);
        text += line;
    }
    dir.write("dns_zub.cfg", text);
    FILE* f = std::fopen("dns_zub.cfg", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(zub_read_anchor_list(f), 10000);
    std::fclose(f);
    EXPECT_EQ(zub_context()->anchor_count, 10000);
    EXPECT_EQ(zub_search_anchor_id(0xd0000000u + 9999), 9999);
    EXPECT_EQ(zub_search_anchor_id(0xd0000000u + 10000), ZUB_INVALID_ANCHOR_ID);
    EXPECT_EQ(zub_context()->anchors[9999].hardware_id, 0xd0000000u + 9999);

    // With every local id in use, 'D' goes to every linked anchor and the count stays.
    Anchor* first = &zub_context()->anchors[0];
    Anchor* last = &zub_context()->anchors[9999];
    first->link_record(800, nullptr);
    last->link_record(801, nullptr);
    RTLSControlHandler::Instance()->UpdateAnchorConfig();
    EXPECT_EQ(zub_context()->anchor_count, 10000);
    ASSERT_EQ(ports.frames.size(), 2u);
    EXPECT_EQ(ports.frames[0].anchor_id, 0);
    EXPECT_EQ(ports.frames[1].anchor_id, 9999);
    EXPECT_EQ(ports.frames[1].bytes.size(), 26u);
    EXPECT_EQ(ports.frames[1].bytes[0], 0x44);
}
