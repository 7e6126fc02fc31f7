// Report intake: lengths, the first-path window, late comers, full rounds, the silent
// anchors, extension and alarm records, ranging tag ids, diagnostics.
#include <cstring>

#include "CNPlatLogLimit.h"
#include "selector_fixture.h"
#include "zub_tag_id.h"

using namespace selector_test;

namespace {

constexpr WORD64 kTag = 0x1122334455667788ull;
constexpr double kTick = 1.0 / (128.0 * 499.2e6);

class SelectorIntake : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_context();
        for (WORD16 i = 0; i < 24; ++i) {
            set_anchor(i, 0xA000 + i, i, 0, 0);
        }
    }
    int toa(const std::vector<BYTE>& m) { return h.sel.recv_toa_report(m.data(), static_cast<WORD32>(m.size())); }
    int imu(const std::vector<BYTE>& m) { return h.sel.recv_toa_imu_report(m.data(), static_cast<WORD32>(m.size())); }
    int tof(const std::vector<BYTE>& m) { return h.sel.recv_tof_report(m.data(), static_cast<WORD32>(m.size())); }
    Tag* tag(WORD64 id = kTag) { return h.sel.tags.find_key(id); }
    BYTE arrivals(WORD64 id = kTag) { return tag(id) != nullptr ? tag(id)->blinkReports.nBlinks : 0; }
    Harness h;
};

}  // namespace

TEST_F(SelectorIntake, ArrivalFromLocalAnchorTwoInSeconds)
{
    const WORD64 ticks = 0x0102030405ull;
    const std::vector<BYTE> m = toa_msg(0x32, 2, 9, kTag, ticks, 800 << 6);
    ASSERT_EQ(m.size(), 22u);
    EXPECT_EQ(toa(m), 0);
    ASSERT_NE(tag(), nullptr);
    const blinks_t& r = tag()->blinkReports;
    EXPECT_EQ(r.nBlinks, 1);
    EXPECT_EQ(r.seqNum, 9);
    EXPECT_EQ(r.timeFirstBlink, h.now);
    EXPECT_EQ(r.blinks[0].id, 2);
    EXPECT_DOUBLE_EQ(r.blinks[0].toa, 4328719365.0 * kTick);
    EXPECT_EQ(r.count_multiple_mode, 1);
}

TEST_F(SelectorIntake, InterleavedReportsOfManyTagsEachJoinTheirOwnTagsRound)
{
    // Anchor a's report of tag k carries sequence k; every tag collects the arrivals of its
    // own reports, in order, and the tree holds exactly the tags reported.
    struct Row {
        const char* name;
        WORD64 tags;
        std::vector<WORD16> anchors;
    };
    const Row rows[] = {{"one tag", 1, {3}}, {"three tags, two anchors", 3, {1, 2}},
                        {"five hundred tags, three anchors", 500, {4, 7, 9}}};
    WORD64 base = 0x7700000000ull;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        base += 0x10000;
        for (WORD16 a : row.anchors) {
            for (WORD64 k = 0; k < row.tags; ++k) {
                ASSERT_EQ(toa(toa_msg(0x32, a, static_cast<BYTE>(k), base + k, 1000 + k, 800 << 6)), 0);
            }
        }
        unsigned wrong = 0;
        for (WORD64 k = 0; k < row.tags; ++k) {
            const Tag* t = tag(base + k);
            if (t == nullptr || t->blinkReports.nBlinks != row.anchors.size() ||
                t->blinkReports.seqNum != static_cast<BYTE>(k)) {
                ++wrong;
                continue;
            }
            for (size_t i = 0; i < row.anchors.size(); ++i) {
                wrong += t->blinkReports.blinks[i].id != row.anchors[i] ? 1 : 0;
            }
        }
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(tag(base + row.tags), nullptr);
    }
}

TEST_F(SelectorIntake, LengthRules)
{
    struct Row { size_t cut; int ext_len_delta; int result; };
    const Row rows[] = {{0, 0, 0}, {1, 0, 1}, {0, 1, 1}, {0, -1, 1}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.cut << " " << r.ext_len_delta);
        std::vector<BYTE> m = toa_msg(0x32, 1, 1, kTag + r.cut + 10 * (r.ext_len_delta + 2), 100, 800 << 6,
                                      std::vector<BYTE>(3, 0));
        m[4 + 17] = static_cast<BYTE>(m[4 + 17] + r.ext_len_delta);
        m.resize(m.size() - r.cut);
        EXPECT_EQ(toa(m), r.result);
        EXPECT_EQ(imu(m), r.result);
    }
    std::vector<BYTE> m21 = toa_msg(0x32, 1, 1, kTag, 100, 800 << 6);
    m21.pop_back();
    EXPECT_EQ(toa(m21), 1);
    EXPECT_EQ(h.sel.recv_tof_report(tof_msg(1, 1, 5, 100).data(), 17), 1);
    EXPECT_EQ(tag(), nullptr);
}

TEST_F(SelectorIntake, FirstPathWindowAndInertialRecord)
{
    zub_context()->zubFPIRF = 1;
    struct Row { WORD16 first_path; bool kept; };
    const Row rows[] = {{699, false}, {700, true}, {900, true}, {901, false}};
    WORD64 id = 0x100;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.first_path);
        std::vector<BYTE> ext(30, 0);
        ext[2] = 2;
        h.records.clear();
        EXPECT_EQ(imu(toa_msg(0x33, 3, 1, ++id, 100, static_cast<WORD16>(r.first_path << 6), ext)), 0);
        EXPECT_EQ(arrivals(id), r.kept ? 1 : 0);
        ASSERT_EQ(h.records.size(), 1u);
        EXPECT_EQ(h.records[0].event, ZUB_EV_SELECTOR_DISPLAY_TAG_EXT);
    }
}

TEST_F(SelectorIntake, LateComersAfterRoundTen)
{
    struct Row { BYTE seq; bool taken; };
    std::vector<Row> rows;
    for (int s = 10; s >= 2; --s) {
        rows.push_back({static_cast<BYTE>(s), false});
    }
    rows.push_back({11, true});
    rows.push_back({1, true});
    LogCapture log;
    CN_LogLimit::restart_all();
    for (const Row& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.seq));
        for (WORD64 id : {kTag, WORD64{0x7788}}) {
            Tag* t = h.sel.find_tag(id);
            t->prev_sequence_valid = true;
            t->prevSeqNum = 10;
            t->blinkReports.nBlinks = 0;
            t->blinkReports.nTofBlinks = 0;
        }
        toa(toa_msg(0x32, 1, r.seq, kTag, 100, 800 << 6));
        EXPECT_EQ(arrivals(), r.taken ? 1 : 0);
        tof(tof_msg(1, r.seq, 0x7788, 1000));
        EXPECT_EQ(tag(0x7788)->blinkReports.nTofBlinks, r.taken ? 1 : 0);
    }
    EXPECT_EQ(log.count("latecommer:"), 18u);
    EXPECT_EQ(log.count("process_tof_report latecommer:"), 9u);
    EXPECT_TRUE(log.contains("latecommer:2 last:10"));

    // An anchor repeating a late ranging report: the error line stays under its site's limit.
    tag(0x7788)->prevSeqNum = 10;
    tag(0x7788)->blinkReports.nTofBlinks = 0;
    for (int i = 0; i < 1000; ++i) {
        tof(tof_msg(1, 5, 0x7788, 1000));
    }
    EXPECT_EQ(tag(0x7788)->blinkReports.nTofBlinks, 0);
    // The first of a second as they stand (9 of them above), at most one carrying a count after.
    EXPECT_GE(log.count("process_tof_report latecommer:"), CN_LogLimit::kBurst);
    EXPECT_LE(log.count("process_tof_report latecommer:"), CN_LogLimit::kBurst + 1);
}

TEST_F(SelectorIntake, FullRoundsAndSilentAnchors)
{
    for (WORD16 a = 0; a < 23; ++a) {
        toa(toa_msg(0x32, a, 1, kTag, 100 + a, 800 << 6));
    }
    EXPECT_EQ(arrivals(), 22);
    EXPECT_EQ(tag()->blinkReports.blinks[21].id, 21);

    struct Row { bool four; BYTE kept; };
    const Row rows[] = {{false, 3}, {true, 4}};
    WORD16 short_id = 0x40;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.four);
        ++short_id;
        for (WORD16 a = 0; a < 5; ++a) {
            set_four_anc_mode(a, r.four);
            tof(tof_msg(a, 1, short_id, 1000 + a));
        }
        const blinks_t& round = h.sel.tags.find_key(short_id)->blinkReports;
        EXPECT_EQ(round.nTofBlinks, r.kept);
        EXPECT_EQ(round.tof_blink[r.kept - 1].distance, 1000 + r.kept - 1);
    }

    set_anchor(5, ZUB_SPECIAL_ANCHOR_A, 0, 0, 0);
    set_anchor(6, ZUB_SPECIAL_ANCHOR_B, 0, 0, 0);
    toa(toa_msg(0x32, 5, 1, 0x55, 100, 800 << 6));
    toa(toa_msg(0x32, 6, 1, 0x55, 100, 800 << 6));
    EXPECT_EQ(arrivals(0x55), 0);
    toa(toa_msg(0x32, 7, 1, 0x55, 100, 800 << 6));
    EXPECT_EQ(arrivals(0x55), 1);
}

TEST_F(SelectorIntake, ExtensionRecordsOncePerSequence)
{
    struct Row { unsigned ext_len; bool forwarded; };
    const Row rows[] = {{6, false}, {7, true}, {30, true}, {31, false}, {100, true}};
    WORD64 id = 0x200;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.ext_len);
        std::vector<BYTE> ext(r.ext_len, 0);
        ext[2] = 2;
        if (r.ext_len > 6) {
            ext[3] = 0x21;
            ext[4] = 72;
            ext[5] = 0x5A;
            ext[6] = 0xF6;
        }
        ++id;
        h.records.clear();
        EXPECT_EQ(imu(toa_msg(0x33, 4, 7, id, 100, 800 << 6, ext)), 0);
        EXPECT_EQ(imu(toa_msg(0x33, 5, 7, id, 100, 800 << 6, ext)), 0);  // same blink, other anchor
        ASSERT_EQ(h.records.size(), r.forwarded ? 1u : 0u);
        if (!r.forwarded) {
            continue;
        }
        // tagId, the reporting anchor's hardware id 0xA004, power 0x5A, temperature -10,
        // heart rate 72, warn type 0x21.
        std::vector<BYTE> want(23, 0);
        for (int i = 0; i < 8; ++i) {
            want[i] = static_cast<BYTE>(id >> (8 * i));
        }
        want[8] = 0x04;
        want[9] = 0xA0;
        want[16] = 0x5A;
        want[20] = 0xF6;
        want[21] = 72;
        want[22] = 0x21;
        EXPECT_EQ(h.records[0].bytes, want);
        EXPECT_EQ(h.records[0].event, ZUB_EV_SELECTOR_DISPLAY_TAG_EXT);
        // A new blink forwards again; byte 2 other than 2 forwards nothing.
        EXPECT_EQ(imu(toa_msg(0x33, 4, 8, id, 100, 800 << 6, ext)), 0);
        ext[2] = 3;
        EXPECT_EQ(imu(toa_msg(0x33, 4, 9, id, 100, 800 << 6, ext)), 0);
        EXPECT_EQ(h.records.size(), 2u);
    }
}

TEST_F(SelectorIntake, RangingTagIds)
{
    struct Row { WORD64 prefix; WORD16 short_id; WORD64 id; bool logged; };
    const Row rows[] = {
        {0x12, 0x0105, 0x12105, false},
        {0x12, 0x3, 0x123, false},
        {0x12, 0x345, 0x12345, false},
        {0, 0x1A, 0x1A, false},
        {0x12, 0, 0x120, false},
        {0x0FFFFFFFFFFFull, 0xFFFF, 0x0FFFFFFFFFFFFFFFull, false},
        {0xFFFFFFFFFFFFull, 0xFFFF, ~0ull, false},
        {0x1000000000000ull, 0xFFFF, ~0ull, true},
        {0x1000000000000000ull, 0xF, ~0ull, true},
        {0x1234567890ABCDEFull, 0x1, ~0ull, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.short_id);
        LogCapture log;
        EXPECT_EQ(zub_full_tag_id(r.prefix, r.short_id), r.id);
        EXPECT_EQ(log.contains("exceeds 64 bits"), r.logged);
    }
    zub_context()->tad_id_prefix = 0x12;
    EXPECT_EQ(tof(tof_msg(3, 1, 0x0105, 2500)), 0);
    const Tag* t = h.sel.tags.find_key(0x12105);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->blinkReports.nTofBlinks, 1);
    EXPECT_EQ(t->blinkReports.tof_blink[0].id, 3);
    EXPECT_EQ(t->blinkReports.tof_blink[0].distance, 2500);
}

TEST_F(SelectorIntake, AlarmRecordAndNegativeRange)
{
    zub_context()->tad_id_prefix = 0x12;
    EXPECT_EQ(tof(tof_msg(2, 1, 0x0105, 1500, 1, 0x07)), 0);
    ASSERT_EQ(h.records.size(), 1u);
    const std::vector<BYTE> want = {0x05, 0x21, 0x01, 0, 0, 0, 0, 0, 0x02, 0xA0, 0, 0, 0, 0, 0, 0,
                                    0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0x07};
    EXPECT_EQ(h.records[0].bytes, want);
    EXPECT_EQ(h.sel.tags.find_key(0x12105)->blinkReports.nTofBlinks, 1);

    // A negative range at a master anchor is not stored; elsewhere it is.
    set_master_flag(2, 1);
    EXPECT_EQ(tof(tof_msg(2, 2, 0x0106, -5)), 0);
    EXPECT_EQ(h.sel.tags.find_key(0x12106), nullptr);
    EXPECT_EQ(h.records.size(), 1u);
    EXPECT_EQ(tof(tof_msg(3, 2, 0x0106, -5)), 0);
    EXPECT_EQ(h.sel.tags.find_key(0x12106)->blinkReports.tof_blink[0].distance, -5);
}

TEST_F(SelectorIntake, ShortExtensionsNeverReadPastTheMessage)
{
    zub_context()->log_ctrl.diagnostics_log = 1;
    LogCapture log;
    for (unsigned ext_len = 0; ext_len <= 100; ++ext_len) {
        SCOPED_TRACE(ext_len);
        std::vector<BYTE> ext(ext_len, 0);
        if (ext_len > 4) {
            ext[4] = 5;  // a diagnostics version, should the block be there
        }
        if (ext_len > 34) {
            ext[34] = 5;
        }
        // Exact-size heap copies: AddressSanitizer sees any read past the end.
        const std::vector<BYTE> a = toa_msg(0x32, 1, static_cast<BYTE>(ext_len), 0x300 + ext_len, 100, 800 << 6, ext);
        const std::vector<BYTE> b = toa_msg(0x33, 1, static_cast<BYTE>(ext_len), 0x300 + ext_len, 100, 800 << 6, ext);
        auto* ha = new BYTE[a.size()];
        auto* hb = new BYTE[b.size()];
        std::memcpy(ha, a.data(), a.size());
        std::memcpy(hb, b.data(), b.size());
        EXPECT_EQ(h.sel.recv_toa_report(ha, static_cast<WORD32>(a.size())), 0);
        EXPECT_EQ(h.sel.recv_toa_imu_report(hb, static_cast<WORD32>(b.size())), 0);
        delete[] ha;
        delete[] hb;
    }
    // Diagnostics were converted for 0x32 with 70..100 extension bytes and 0x33 with 100.
    EXPECT_EQ(log.count("diag:"), 31u + 1u);
}

TEST_F(SelectorIntake, SingleModeHitsFillTheRing)
{
    set_anchor(9, 0xA009, 30, 5, 3, ZUB_ANCHOR_WORKING_MODE_SINGLE);
    set_anchor(10, 0xA00A, 0, 0, 0, ZUB_ANCHOR_WORKING_MODE_COUPLE);
    for (int i = 0; i < 34; ++i) {
        Tag* t = h.sel.find_tag(kTag);
        t->blinkReports.nBlinks = 0;
        h.now += 1;
        toa(toa_msg(0x32, 9, static_cast<BYTE>(i + 1), kTag, 100, 800 << 6));
    }
    toa(toa_msg(0x32, 10, 40, kTag, 100, 800 << 6));
    const blinks_t& r = tag()->blinkReports;
    EXPECT_EQ(r.single_mode_count, 34);
    EXPECT_EQ(r.single_mode_idx, 2);
    EXPECT_EQ(r.single_mode_anchor[1].time, 1'000'034u);
    EXPECT_EQ(r.single_mode_anchor[2].time, 1'000'003u);
    EXPECT_EQ(r.count_single_mode, 34);
    EXPECT_EQ(r.count_couple_mode, 1);
}
