// The flood's frames as the engine reads them: which anchor sends frame n, its report code,
// sequence number and source id; and the flood specs the tool accepts.
#include "roadflood/flood_source.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "roadbench/road_client.h"

namespace {

anchorsim::SiteModel hall()
{
    anchorsim::SiteModel site;
    std::string error;
    EXPECT_TRUE(anchorsim::load_site_file(HALL_SITE, &site, &error)) << error;
    return site;
}

uint64_t le(const anchorsim::Bytes& p, size_t at, size_t n)
{
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) v = (v << 8) | p[at + i];
    return v;
}

TEST(RoadFlood, FrameNOfEachKind)
{
    const anchorsim::SiteModel site = hall();
    const anchorsim::World world(site, 1);
    struct Row {
        const char* spec;
        uint64_t n;
        size_t anchor;  // site index
        uint8_t code;
        uint8_t seq;
        uint64_t source;  // tag id, or the master a receive report names
    } rows[] = {
        // Four anchors hear each blink in turn; 200 tags, then the sequence number moves on.
        {"arrivals:1000", 0, 1, 0x32, 0, 0x20000},
        {"arrivals:1000", 3, 4, 0x32, 0, 0x20000},
        {"arrivals:1000", 4, 1, 0x32, 0, 0x20001},
        {"arrivals:1000", 4 * 199 + 2, 3, 0x32, 0, 0x20000 + 199},
        {"arrivals:1000", 4 * 200, 1, 0x32, 1, 0x20000},
        {"arrivals:1000:2:10", 5, 2, 0x32, 0, 0x20002},
        {"arrivals:1000:4:200:40000", 5, 2, 0x32, 0, 0x40001},
        {"arrivals:max", 4 * 200 + 3, 4, 0x32, 1, 0x20000},
        // The last anchor that is neither a clock master nor sending is the silent master.
        {"calibration:1000", 0, 1, 0x31, 0, 0xa0b1000000000008ull},
        {"calibration:1000", 5, 2, 0x31, 1, 0xa0b1000000000008ull},
        {"calibration:1000:3", 7, 2, 0x31, 2, 0xa0b1000000000008ull},
        // A new tag id in every frame, from one anchor.
        {"new_tags:1000", 0, 1, 0x32, 0, 0x300000},
        {"new_tags:1000", 19999, 1, 0x32, 0, 0x300000 + 19999},
        {"new_tags:1000", 20001, 1, 0x32, 1, 0x300001},
        {"new_tags:1000:1:20000:abc", 2, 1, 0x32, 0, 0xabc + 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.spec << " frame " << r.n);
        roadflood::FloodSpec spec;
        std::string error;
        ASSERT_TRUE(roadflood::parse_flood(r.spec, site, &spec, &error)) << error;
        const roadflood::FloodFrame f = roadflood::FloodSource(spec, site, 0.0).frame(r.n, world);
        EXPECT_EQ(f.anchor, r.anchor);
        ASSERT_EQ(f.payload.size(), 18u);
        EXPECT_EQ(f.payload[0], r.code);
        EXPECT_EQ(f.payload[1], r.seq);
        EXPECT_EQ(le(f.payload, 2, 8), r.source);
    }
}

TEST(RoadFlood, SpecsAndTheSiteTheyNeed)
{
    anchorsim::SiteModel site = hall();
    for (const char* bad : {"arrivals", "bogus:100", "arrivals:0", "arrivals:-5", "arrivals:1:8", "new_tags:1:1:0",
                            "arrivals:1:2:3:4:5", "arrivals:1:2:3:zz", "arrivals:1:2:3:0", "calibration:max",
                            "new_tags:max", "arrivals:max:9"}) {
        roadflood::FloodSpec spec;
        std::string error;
        EXPECT_FALSE(roadflood::parse_flood(bad, site, &spec, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    // A calibration flood's anchors are made to follow its master; the others are left alone.
    roadflood::FloodSpec spec;
    std::string error;
    ASSERT_TRUE(roadflood::parse_flood("calibration:1000:2", site, &spec, &error)) << error;
    roadflood::prepare_site(spec, &site);
    roadflood::prepare_site(spec, &site);  // twice: still one entry
    const uint64_t a1 = 0xa0b1000000000001ull, a7 = 0xa0b1000000000007ull, a8 = 0xa0b1000000000008ull;
    EXPECT_EQ(site.anchors[1].follows, (std::vector<uint64_t>{a1, a8}));
    EXPECT_EQ(site.anchors[2].follows, (std::vector<uint64_t>{a1, a8}));
    EXPECT_EQ(site.anchors[3].follows, (std::vector<uint64_t>{a1}));
    EXPECT_EQ(site.anchors[7].follows, (std::vector<uint64_t>{a7}));
    // The quiet tag: heard by the default flood anchors only, in the middle of them.
    const anchorsim::TagSpec quiet = roadflood::quiet_tag(site);
    EXPECT_EQ(quiet.id, roadflood::kQuietTag);
    EXPECT_EQ(quiet.heard_by, (std::vector<size_t>{1, 2, 3, 4}));
    EXPECT_DOUBLE_EQ(quiet.rate_hz, 1.0 / 0.3);
    ASSERT_EQ(quiet.path.size(), 1u);
    EXPECT_DOUBLE_EQ(quiet.path[0][0], (15.0 + 30.0 + 0.0 + 30.0) / 4);
    EXPECT_DOUBLE_EQ(quiet.path[0][1], (0.0 + 0.0 + 10.0 + 10.0) / 4);
}

// A rated flood beyond what a link takes: an anchor whose engine end reads nothing keeps at
// most kLinkBacklogBytes of it queued (behind what the socket holds) and refuses the rest, so
// nothing stale is left to send once the flood ends.
TEST(RoadFlood, RatedFloodsQueueLittleBeyondTheLink)
{
    for (const char* text : {"arrivals:10000000:1", "calibration:10000000:1"}) {
        SCOPED_TRACE(text);
        anchorsim::SiteModel site = hall();
        roadflood::FloodSpec spec;
        std::string error;
        ASSERT_TRUE(roadflood::parse_flood(text, site, &spec, &error)) << error;
        anchorsim::SimulatorOptions options;
        options.port_override = 0;
        anchorsim::Simulator sim(site, 1, options);
        ASSERT_TRUE(sim.open(&error)) << error;
        anchorsim::AnchorServer& anchor = sim.server(spec.anchors[0]);
        const int engine = roadbench::tcp_connect(site.anchors[spec.anchors[0]].ip, anchor.port(), 1000);
        ASSERT_GE(engine, 0);
        for (int turn = 0; turn < 200 && !anchor.connected(); ++turn) sim.step(0.0, 5);
        ASSERT_TRUE(roadbench::send_all(engine, std::string("\x57\x01", 2)));  // start
        for (int turn = 0; turn < 200 && !anchor.started(); ++turn) sim.step(0.0, 5);
        ASSERT_TRUE(anchor.started());
        roadflood::FloodSource flood(spec, site, 0.0);
        flood.emit(1.0, sim);  // ten million frames due at once
        EXPECT_EQ(flood.offered(), 10000000u);
        EXPECT_LE(anchor.backlog(), roadflood::FloodSource::kLinkBacklogBytes + 64);
        EXPECT_GT(flood.refused(), 9000000u);
        ::close(engine);
    }
}

}  // namespace
