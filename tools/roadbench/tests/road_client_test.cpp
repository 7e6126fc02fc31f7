#include "roadbench/road_client.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using roadbench::PositionRecord;
using roadbench::ReportFrameReader;

// A report frame written out byte by byte: mode 4, tag 0x1001, anchor a0b1000000000001,
// x 7500 mm, y -2 mm (two's complement), z 1200 mm (0x4B0).
const std::vector<uint8_t> kFrame = {
    0xA8, 0x1D, 0x00, 0x04,
    0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB1, 0xA0,
    0x4C, 0x1D, 0x00, 0x00,
    0xFE, 0xFF, 0xFF, 0xFF,
    0xB0, 0x04, 0x00, 0x00,
    0xA8};

TEST(ReportFrameReader, SplitsTheStreamIntoRecords)
{
    struct Case {
        const char* name;
        std::vector<std::vector<uint8_t>> reads;
        size_t records;
        size_t skipped;
    };
    const std::vector<uint8_t> head(kFrame.begin(), kFrame.begin() + 10);
    const std::vector<uint8_t> tail(kFrame.begin() + 10, kFrame.end());
    std::vector<uint8_t> bad_end(kFrame.begin(), kFrame.end() - 1);
    bad_end.push_back(0x00);
    std::vector<uint8_t> two = kFrame;
    two.insert(two.end(), kFrame.begin(), kFrame.end());
    const Case cases[] = {
        {"whole frame", {kFrame}, 1, 0},
        {"split over two reads", {head, tail}, 1, 0},
        {"one byte a read", {}, 1, 0},
        {"two frames in one read", {two}, 2, 0},
        {"garbage before", {{0x11, 0xA8, 0x22}, kFrame}, 1, 3},
        {"wrong closing byte, then a good frame", {bad_end, kFrame}, 1, 33},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<uint8_t>> reads = c.reads;
        if (reads.empty()) {
            for (uint8_t b : kFrame) reads.push_back({b});
        }
        ReportFrameReader reader;
        std::vector<PositionRecord> out;
        for (const auto& r : reads) reader.feed(r.data(), r.size(), 5.0, &out);
        ASSERT_EQ(out.size(), c.records);
        EXPECT_EQ(reader.skipped_bytes(), c.skipped);
        for (const PositionRecord& r : out) {
            EXPECT_EQ(r.mode, 4);
            EXPECT_EQ(r.tag, 0x1001u);
            EXPECT_EQ(r.anchor, 0xa0b1000000000001ull);
            EXPECT_EQ(r.x_mm, 7500);
            EXPECT_EQ(r.y_mm, -2);
            EXPECT_EQ(r.z_mm, 1200);
            EXPECT_EQ(r.at_s, 5.0);
        }
    }
}

TEST(AnchorCfgRequest, CarriesPositionsMastersAndDistances)
{
    anchorsim::SiteModel site;
    std::string error;
    ASSERT_TRUE(anchorsim::parse_site("anchor id=a0b1000000000001 ip=127.0.0.2 pos=0,0,3 master=1\n"
                                      "anchor id=a0b1000000000002 ip=127.0.0.3 pos=30,10,3 follows=a0b1000000000001\n"
                                      "anchor id=a0b1000000000003 ip=127.0.0.4 pos=30,14,2.5 follows=a0b1000000000002\n",
                                      &site, &error))
        << error;
    // Distances: hypot(30, 10) = 31.6227766 -> "31.623"; from (30,10,3) to (30,14,2.5):
    // sqrt(16 + 0.25) = 4.0311289 -> "4.031".
    EXPECT_EQ(roadbench::anchor_cfg_request(site),
              "<req type=\"anchor cfg\">"
              "<anchor addr=\"a0b1000000000001\" id=\"1\" master=\"1\" x=\"0\" y=\"0\" z=\"3\"></anchor>"
              "<anchor addr=\"a0b1000000000002\" id=\"2\" master=\"0\" x=\"30\" y=\"10\" z=\"3\" "
              "master_addr=\"a0b1000000000001\"><m addr=\"a0b1000000000001\" rfdistance=\"31.623\"/></anchor>"
              "<anchor addr=\"a0b1000000000003\" id=\"3\" master=\"0\" x=\"30\" y=\"14\" z=\"2.5\" "
              "master_addr=\"a0b1000000000002\"><m addr=\"a0b1000000000002\" rfdistance=\"4.031\"/></anchor>"
              "</req>");
}

TEST(Truth, MatchesARecordToTheTagsLastBlinkBeforeIt)
{
    char path[] = "/tmp/road_truth_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* f = fdopen(fd, "w");
    std::fputs("# time tag seq x y z\n"
               "100.0 0000000000001001 1 7.5 5 1.2\n"
               "100.5 0000000000001003 1 5 5 1.2\n"
               "101.0 0000000000001001 2 7.6 5 1.2\n"
               "101.5 00000000000010zz 3 1 1 1\n"
               "102.0 0000000000001001 3\n",
               f);
    std::fclose(f);
    roadbench::Truth truth;
    truth.load(path);
    std::remove(path);
    EXPECT_EQ(truth.bad_lines(), 2u);
    EXPECT_EQ(truth.blink_count(0x1001), 2u);
    struct Case { uint64_t tag; double at; int seq; long index; };
    for (const Case c : {Case{0x1001, 99.9, -1, -1}, Case{0x1001, 100.0, 1, 0}, Case{0x1001, 100.99, 1, 0},
                         Case{0x1001, 105.0, 2, 1}, Case{0x1003, 100.6, 1, 0}, Case{0x1004, 200.0, -1, -1}}) {
        SCOPED_TRACE(c.at);
        EXPECT_EQ(truth.blink_index_before(c.tag, c.at), c.index);
        const roadbench::TruthPoint* p = truth.blink_before(c.tag, c.at);
        if (c.seq < 0) {
            EXPECT_EQ(p, nullptr);
        } else {
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->seq, static_cast<uint32_t>(c.seq));
        }
    }
    PositionRecord r;
    r.x_mm = 7900;  // 0.3 m east and 0.4 m north of (7.6, 5): 0.5 m; z does not count
    r.y_mm = 5400;
    r.z_mm = 0;
    EXPECT_NEAR(roadbench::planar_error_m(r, *truth.blink_before(0x1001, 101.0)), 0.5, 1e-9);
}

TEST(Quantile, NearestRank)
{
    const std::vector<double> v = {5, 1, 4, 2, 3, 10, 9, 8, 7, 6};
    struct Case { double q; double want; };
    for (const Case c : {Case{0.5, 5}, Case{0.95, 10}, Case{0.9, 9}, Case{0.0, 1}, Case{1.0, 10}}) {
        SCOPED_TRACE(c.q);
        EXPECT_EQ(roadbench::quantile(v, c.q), c.want);
    }
    EXPECT_EQ(roadbench::quantile({}, 0.5), 0.0);
}

TEST(TagSummaryLine, WalkingTagsNameTheirTrail)
{
    anchorsim::TagSpec still;
    still.path = {{7.5, 5, 1.2}};
    anchorsim::TagSpec walker;
    walker.rate_hz = 2.0;
    walker.path = {{5, 5, 1.2}, {25, 5, 1.2}};
    walker.speed = 1.2;
    const std::string plain = "summary 0000000000001003 records 110 error median 2.420 m p95 2.875 m";
    struct Case { const char* name; const anchorsim::TagSpec* spec; std::string want; };
    // Five blinks at 2 Hz: 2.5 s, and 1.2 m/s x 2.5 s = 3.0 m.
    const Case cases[] = {
        {"not in the site", nullptr, plain},
        {"static", &still, plain},
        {"walking", &walker,
         plain + " (walking 1.2 m/s: the smoothing trails it by 2.5 s, 3.0 m along its track; not the solve error)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(roadbench::tag_summary_line(0x1003, c.spec, 110, 2.42, 2.875), c.want);
    }
}

}  // namespace

namespace {

TEST(RoadDropsLogged, TheLastLineCounts)
{
    const std::string two_lines =
        "12/09 22:46:25.102 [SOCKET] [zub_road_shed.cpp 26 line]. report road full: dropped 1 tag reports, 0 clock "
        "reports, 0 display records in 0 ms (since start 1, 0, 0)\n"
        "12/09 22:46:26.369 [MANAGER3] [zub_road_shed.cpp 26 line]. report road full: dropped 29847 tag reports, 2 clock "
        "reports, 1 display records in 1265 ms (since start 29848, 2, 1)\n";
    const std::string with_replies =
        "12/09 22:46:27.370 [SOCKET] [zub_road_shed.cpp 26 line]. report road full: dropped 0 tag reports, 0 "
        "clock "
        "reports, 0 display records, 52110 anchor replies in 1001 ms (since start 29848, 2, 1, 52110)\n";
    const std::string with_causes =
        "12/09 22:46:28.371 [SOCKET] [zub_road_shed.cpp 26 line]. report road full: dropped 700 tag reports, 0 "
        "clock reports, 0 display records, 0 anchor replies in 1000 ms (since start 30548, 2, 1, 52110); of refused "
        "tags 600, of busy sources 100, at a hard mark 0 (since start 600, 52210, 29850)\n";
    struct Row {
        std::string text;
        unsigned long long tag, clock, display, replies;
        unsigned long long refused_tag = 0, busy_source = 0, hard_mark = 0;
    } rows[] = {{"", 0, 0, 0, 0},
                {"Jobs init OK!\n", 0, 0, 0, 0},
                {two_lines, 29848, 2, 1, 0},
                {two_lines + with_replies, 29848, 2, 1, 52110},
                {two_lines + with_replies + with_causes, 30548, 2, 1, 52110, 600, 52210, 29850},
                {with_causes + "later: tag 7 (since start 9, 9, 9)\n", 30548, 2, 1, 52110, 600, 52210, 29850}};
    for (const Row& r : rows) {
        const roadbench::RoadDrops d = roadbench::parse_road_drops(r.text);
        EXPECT_EQ(d.tag, r.tag);
        EXPECT_EQ(d.clock, r.clock);
        EXPECT_EQ(d.display, r.display);
        EXPECT_EQ(d.replies, r.replies);
        EXPECT_EQ(d.refused_tag, r.refused_tag);
        EXPECT_EQ(d.busy_source, r.busy_source);
        EXPECT_EQ(d.hard_mark, r.hard_mark);
    }
}

}  // namespace
