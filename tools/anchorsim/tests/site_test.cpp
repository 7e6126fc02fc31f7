// Reading a site file: what each line gives, and the lines refused with their line number.
#include <gtest/gtest.h>

#include "anchorsim/site.h"

using anchorsim::SiteModel;

TEST(anchorsim_Site, ReadsAnchorsTagsAndSettings)
{
    const std::string text =
        "# hall\n"
        "seed 42\nccp_interval 0.2\nnoise_ns 0.25\nfirst_path 760\n"
        "anchor id=0822614400000001 ip=127.0.0.2 pos=0,0,3 master=1 ppm=-3.5 offset=2 drift=0\n"
        "anchor id=0x0822614400000002 ip=127.0.0.3 pos=30,0,3 follows=0822614400000001 port=3001  # slave\n"
        "tag id=101 rate=2 pos=5,5,1.2\n"
        "tag id=102 rate=1 path=1,1,1;10,1,1;10,8,1 speed=1.5 imu=1 start=2.5\n"
        "tag id=20105 ranging=1 short=0105 pos=1,2,3\n";
    SiteModel s;
    std::string error;
    ASSERT_TRUE(anchorsim::parse_site(text, &s, &error)) << error;
    EXPECT_EQ(s.seed, 42u);
    EXPECT_EQ(s.ccp_interval_s, 0.2);
    EXPECT_EQ(s.noise_ns, 0.25);
    EXPECT_EQ(s.first_path, 760);
    ASSERT_EQ(s.anchors.size(), 2u);
    EXPECT_EQ(s.anchors[0].hw_id, 0x0822614400000001ull);
    EXPECT_TRUE(s.anchors[0].ccp_master);
    EXPECT_EQ(s.anchors[0].rate_ppm.value_or(99), -3.5);
    EXPECT_EQ(s.anchors[0].offset_s.value_or(99), 2.0);
    EXPECT_EQ(s.anchors[0].port, 3000);
    EXPECT_EQ(s.anchors[1].ip, "127.0.0.3");
    EXPECT_EQ(s.anchors[1].port, 3001);
    EXPECT_EQ(s.anchors[1].pos, (anchorsim::Vec3{30, 0, 3}));
    EXPECT_EQ(s.anchors[1].follows, (std::vector<uint64_t>{0x0822614400000001ull}));
    EXPECT_FALSE(s.anchors[1].rate_ppm.has_value());
    ASSERT_EQ(s.tags.size(), 3u);
    EXPECT_EQ(s.tags[0].id, 0x101u);
    EXPECT_EQ(s.tags[0].rate_hz, 2.0);
    EXPECT_EQ(s.tags[0].short_id, 0x101);
    EXPECT_EQ(s.tags[1].path.size(), 3u);
    EXPECT_EQ(s.tags[1].speed, 1.5);
    EXPECT_TRUE(s.tags[1].imu);
    EXPECT_EQ(s.tags[0].start_s, 0.0);
    EXPECT_EQ(s.tags[1].start_s, 2.5);
    EXPECT_TRUE(s.tags[2].ranging);
    EXPECT_EQ(s.tags[2].short_id, 0x0105);
}

TEST(anchorsim_Site, RefusesBadLinesNamingThem)
{
    const std::string a1 = "anchor id=1 pos=0,0,0\n";
    struct Row { std::string text; std::string error; };
    const Row rows[] = {
        {"anchors 3\n", "line 1: unknown item anchors"},
        {a1 + "anchor id=2 pos=1,2\n", "line 2: anchor needs pos=x,y,z"},
        {a1 + "anchor id=0 pos=1,2,3\n", "line 2: anchor needs id=<non-zero hex>"},
        {a1 + "anchor id=2 pos=1,2,3 ppm=20.5\n", "line 2: clock rate beyond 20 ppm"},
        {a1 + "anchor id=2 pos=1,2,3 colour=red\n", "line 2: unknown key colour"},
        {a1 + "anchor id=2 pos=1,2,3 follows=7\n", "follows= names no other anchor of the site"},
        {a1 + "anchor id=1 pos=1,2,3\n", "anchor listed twice"},
        {a1 + "tag id=5 rate=0 pos=1,1,1\n", "line 2: rate must be in (0, 1000] Hz"},
        {a1 + "tag id=5\n", "line 2: tag needs either pos=x,y,z or path=x,y,z;x,y,z;..."},
        {a1 + "tag id=5 path=1,1,1;2,2\n", "line 2: bad path"},
        {a1 + "tag id=5 pos=1,1,1 imu=yes\n", "line 2: flags take 0 or 1"},
        {a1 + "tag id=5 pos=1,1,1 start=-1\n", "line 2: bad start"},
        {a1 + "noise_ns -1\n", "line 2: negative noise"},
        {a1 + "seed\n", "line 2: seed takes one value"},
        {"# nothing\n", "no anchor"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        SiteModel s;
        std::string error;
        EXPECT_FALSE(anchorsim::parse_site(r.text, &s, &error));
        EXPECT_EQ(error, r.error);
    }
}
