// What the simulated site measures: clock-calibration packets heard after their flight time,
// blink arrivals on each anchor's own clock with the set noise, walking tags, inertial and
// ranging reports, sequence numbers, and the same run from the same seed.
#include <gtest/gtest.h>

#include <cmath>

#include "anchorsim/world.h"

using namespace anchorsim;

namespace {

constexpr double kTps = 63897600000.0;  // ticks per second
constexpr double kWrap = 1099511627776.0;  // 2^40
constexpr double kC = 299702547.0;

uint64_t le(const Bytes& p, size_t at, unsigned n)
{
    uint64_t v = 0;
    for (unsigned i = n; i-- > 0;) {
        v = (v << 8) | p[at + i];
    }
    return v;
}

// Signed difference of two 40-bit readings, in ticks.
double tick_diff(uint64_t a, uint64_t b)
{
    double d = static_cast<double>(a) - static_cast<double>(b);
    if (d > kWrap / 2) d -= kWrap;
    if (d < -kWrap / 2) d += kWrap;
    return d;
}

AnchorSpec anchor(uint64_t id, Vec3 pos, double offset, double ppm)
{
    AnchorSpec a;
    a.hw_id = id;
    a.pos = pos;
    a.offset_s = offset;
    a.rate_ppm = ppm;
    a.drift_ppm_per_s = 0.0;
    return a;
}

TagSpec static_tag(uint64_t id, Vec3 pos, double rate)
{
    TagSpec t;
    t.id = id;
    t.rate_hz = rate;
    t.path = {pos};
    t.short_id = static_cast<uint16_t>(id);
    return t;
}

}  // namespace

// A slave hears each packet of its master after distance / c, on its own clock; the master
// reports the sending time on its clock. Reckoned from the clocks' definitions.
TEST(anchorsim_World, ClockPacketsHeardAfterTheirFlightTime)
{
    SiteModel site;
    site.noise_ns = 0.0;
    site.ccp_interval_s = 0.1;
    site.anchors.push_back(anchor(0xA1, {0, 0, 3}, 3.0, 0.0));
    site.anchors[0].ccp_master = true;
    site.anchors.push_back(anchor(0xA2, {30, 0, 3}, 11.0, 15.0));
    site.anchors[1].follows = {0xA1};
    site.anchors.push_back(anchor(0xA3, {0, 20, 3}, 5.0, -7.0));  // hears nobody
    World w(site, 3);
    std::vector<Report> reports;
    std::vector<Truth> truth;
    w.advance(1.0, &reports, &truth);

    int pairs = 0;
    int last_seq = -1;
    for (size_t i = 0; i < reports.size(); ++i) {
        const Report& tx = reports[i];
        ASSERT_NE(tx.anchor, 2u);
        if (tx.payload[0] != 0x30) {
            continue;
        }
        ASSERT_EQ(tx.anchor, 0u);
        ASSERT_EQ(tx.payload.size(), 8u);
        if (last_seq >= 0) {
            EXPECT_EQ(tx.payload[1], static_cast<uint8_t>(last_seq + 1));
        }
        last_seq = tx.payload[1];
        // The master's clock reads offset + t (rate 0): the sending time.
        const double t_tx = std::fmod(static_cast<double>(le(tx.payload, 2, 5)) / kTps - 3.0 + 17.207401025641026,
                                      17.207401025641026);
        ASSERT_LT(i + 1, reports.size());
        const Report& rx = reports[i + 1];
        ASSERT_EQ(rx.anchor, 1u);
        ASSERT_EQ(rx.payload.size(), 18u);
        EXPECT_EQ(rx.payload[0], 0x31);
        EXPECT_EQ(rx.payload[1], tx.payload[1]);
        EXPECT_EQ(le(rx.payload, 2, 8), 0xA1u);
        const double t_rx = t_tx + 30.0 / kC;
        const double expect = std::fmod((11.0 + t_rx * (1.0 + 15e-6)) * kTps, kWrap);
        EXPECT_NEAR(tick_diff(le(rx.payload, 10, 5), static_cast<uint64_t>(expect)), 0.0, 2.0);
        const uint64_t fp = le(rx.payload, 15, 2);
        EXPECT_EQ(fp % 64, 0u);
        EXPECT_GE(fp / 64, 730u);
        EXPECT_LE(fp / 64, 770u);
        ++pairs;
    }
    EXPECT_EQ(pairs, 10);  // one packet every 0.1 s
}

// Two anchors on identical clocks see a blink apart by the difference of their distances;
// with noise the spread of the arrivals is the set sigma.
TEST(anchorsim_World, ArrivalsCarryFlightTimeAndNoise)
{
    struct Row { double noise_ns; double tolerance_ticks; };
    for (const Row& r : {Row{0.0, 2.0}, Row{0.1, 0.0}}) {
        SCOPED_TRACE(r.noise_ns);
        SiteModel site;
        site.noise_ns = r.noise_ns;
        site.anchors.push_back(anchor(0xB1, {0, 0, 0}, 1.0, 0.0));
        site.anchors.push_back(anchor(0xB2, {30, 0, 0}, 1.0, 0.0));
        site.tags.push_back(static_tag(0x77, {6, 8, 0}, 50.0));  // 10 m and 25.3 m away
        World w(site, 11);
        std::vector<Report> reports;
        std::vector<Truth> truth;
        w.advance(60.0, &reports, &truth);
        ASSERT_EQ(reports.size(), 2 * truth.size());
        ASSERT_NEAR(static_cast<double>(truth.size()), 3000.0, 1.0);
        const double expect = (std::sqrt(24.0 * 24.0 + 64.0) - 10.0) / kC * kTps;
        double sum = 0, sum2 = 0;
        for (size_t i = 0; i < truth.size(); ++i) {
            const Report& a = reports[2 * i];
            const Report& b = reports[2 * i + 1];
            ASSERT_EQ(a.payload[0], 0x32);
            EXPECT_EQ(le(a.payload, 2, 8), 0x77u);
            EXPECT_EQ(a.payload[1], truth[i].seq);
            if (i > 0) {
                EXPECT_EQ(truth[i].seq, static_cast<uint8_t>(truth[i - 1].seq + 1));
                EXPECT_NEAR(truth[i].t - truth[i - 1].t, 0.02, 1e-9);
            }
            const double d = tick_diff(le(b.payload, 10, 5), le(a.payload, 10, 5)) - expect;
            if (r.noise_ns == 0.0) {
                ASSERT_NEAR(d, 0.0, r.tolerance_ticks);
            }
            sum += d;
            sum2 += d * d;
        }
        if (r.noise_ns > 0.0) {
            // The difference of two arrivals has sigma sqrt(2) x 0.1 ns.
            const double n = static_cast<double>(truth.size());
            const double sigma_ns = std::sqrt(sum2 / n - (sum / n) * (sum / n)) / kTps * 1e9 / std::sqrt(2.0);
            EXPECT_NEAR(sigma_ns, 0.1, 0.01);
            EXPECT_NEAR(sum / n / kTps * 1e9, 0.0, 0.01);
        }
    }
}

TEST(anchorsim_World, WalkingTagFollowsItsClosedPath)
{
    SiteModel site;
    site.anchors.push_back(anchor(0xC1, {0, 0, 0}, 0.0, 0.0));
    TagSpec t = static_tag(0x88, {0, 0, 1}, 1.0);
    t.path = {{0, 0, 1}, {10, 0, 1}, {10, 5, 1}};  // 10 + 5 + 11.18 m around
    t.speed = 2.0;
    site.tags.push_back(t);
    World w(site, 1);
    const double loop = 15.0 + std::sqrt(125.0);
    struct Row { double t; Vec3 pos; };
    for (const Row& r : {Row{0.0, {0, 0, 1}}, Row{2.5, {5, 0, 1}}, Row{6.0, {10, 2, 1}},
                         Row{(15.0 + std::sqrt(125.0) / 2) / 2.0, {5, 2.5, 1}}, Row{loop / 2.0 + 2.5, {5, 0, 1}}}) {
        SCOPED_TRACE(r.t);
        const Vec3 p = w.tag_position(0, r.t);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(p[static_cast<size_t>(k)], r.pos[static_cast<size_t>(k)], 1e-9);
        }
    }
}

// A tag switched on later blinks first within one period after its start, then once a period.
TEST(anchorsim_World, TagStartsBlinkingAtItsStart)
{
    SiteModel site;
    site.anchors.push_back(anchor(0xC1, {0, 0, 0}, 0.0, 0.0));
    struct Row { double start; double rate; };
    for (const Row& r : {Row{0.0, 4.0}, Row{2.0, 4.0}, Row{7.5, 1.0}}) {
        SCOPED_TRACE(r.start);
        TagSpec t = static_tag(0x77, {1, 1, 1}, r.rate);
        t.start_s = r.start;
        site.tags = {t};
        World w(site, 3);
        std::vector<Report> reports;
        std::vector<Truth> truth;
        w.advance(r.start + 3.0, &reports, &truth);
        ASSERT_EQ(truth.size(), static_cast<size_t>(3.0 * r.rate));
        EXPECT_GE(truth.front().t, r.start);
        EXPECT_LT(truth.front().t, r.start + 1.0 / r.rate);
        for (size_t i = 1; i < truth.size(); ++i) EXPECT_NEAR(truth[i].t - truth[i - 1].t, 1.0 / r.rate, 1e-9);
        EXPECT_EQ(reports.size(), truth.size());
    }
}

TEST(anchorsim_World, InertialAndRangingTags)
{
    SiteModel site;
    site.noise_ns = 0.0;
    site.anchors.push_back(anchor(0x0822614400000D01ull, {0, 0, 0}, 0.0, 0.0));
    TagSpec imu = static_tag(0x91, {1, 1, 1}, 1.0);
    imu.imu = true;
    TagSpec range = static_tag(0x20105, {3, 4, 0}, 1.0);
    range.ranging = true;
    range.short_id = 0x0105;
    site.tags = {imu, range};
    World w(site, 5);
    std::vector<Report> reports;
    std::vector<Truth> truth;
    w.advance(1.0, &reports, &truth);
    ASSERT_EQ(reports.size(), 2u);
    for (const Report& r : reports) {
        if (r.payload[0] == 0x33) {
            EXPECT_EQ(r.kind, ReportKind::Arrival);
            EXPECT_EQ(r.payload.size(), 48u);
            EXPECT_EQ(r.payload[17], 30);
            EXPECT_EQ(r.payload[18 + 2], 2);
        } else {
            ASSERT_EQ(r.payload[0], 0x83);
            EXPECT_EQ(r.kind, ReportKind::Range);
            EXPECT_EQ(le(r.payload, 2, 2), 0x0D01u);
            EXPECT_EQ(le(r.payload, 4, 2), 0x0105u);
            EXPECT_EQ(le(r.payload, 6, 4), 5000u);  // 3-4-5 m
        }
    }
}

TEST(anchorsim_World, SameSeedSameRunOtherSeedOtherRun)
{
    SiteModel site;
    site.anchors.push_back(AnchorSpec{});
    site.anchors[0].hw_id = 1;
    site.anchors[0].ccp_master = true;
    site.anchors.push_back(AnchorSpec{});
    site.anchors[1].hw_id = 2;
    site.anchors[1].pos = {10, 0, 0};
    site.anchors[1].follows = {1};
    site.tags.push_back(static_tag(5, {2, 2, 0}, 10.0));
    auto run = [&](uint64_t seed) {
        World w(site, seed);
        std::vector<Report> reports;
        std::vector<Truth> truth;
        w.advance(2.0, &reports, &truth);
        std::vector<Bytes> out;
        for (const Report& r : reports) {
            out.push_back(r.payload);
        }
        return out;
    };
    EXPECT_EQ(run(9), run(9));
    EXPECT_NE(run(9), run(10));
    // Drawn clocks stay within the rate bound.
    World w(site, 9);
    EXPECT_LE(std::fabs(w.clock(0).rate_ppm()), 20.0);
    EXPECT_LE(std::fabs(w.clock(1).rate_ppm()), 20.0);
}

// A tag heard by some anchors only: its blinks are reported by those, each once.
TEST(anchorsim_World, TagHeardOnlyByItsAnchors)
{
    SiteModel site;
    for (uint64_t id = 0xD1; id <= 0xD4; ++id) {
        site.anchors.push_back(anchor(id, {static_cast<double>(id - 0xD1) * 10.0, 0, 0}, 0.0, 0.0));
    }
    struct Row {
        std::vector<size_t> heard_by;
        std::vector<size_t> reporting;
    };
    for (const Row& r : {Row{{}, {0, 1, 2, 3}}, Row{{1, 3}, {1, 3}}, Row{{2}, {2}}}) {
        SCOPED_TRACE(r.heard_by.size());
        TagSpec t = static_tag(0x99, {5, 5, 1}, 2.0);
        t.heard_by = r.heard_by;
        site.tags = {t};
        World w(site, 5);
        std::vector<Report> reports;
        std::vector<Truth> truth;
        w.advance(1.0, &reports, &truth);
        ASSERT_EQ(truth.size(), 2u);
        std::vector<size_t> anchors;
        for (const Report& rep : reports) anchors.push_back(rep.anchor);
        std::vector<size_t> want = r.reporting;
        want.insert(want.end(), r.reporting.begin(), r.reporting.end());
        EXPECT_EQ(anchors, want);
    }
}
