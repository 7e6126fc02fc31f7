// The clock-sync job on synthetic report sequences: pair creation, the transmit tables and the
// pending list, sequence gaps, the first-path gate, the history, the display record, the
// length rules and the pending cap.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "clocksync_test_support.h"
#include "zub_device_time.h"

namespace {

constexpr double kC = 299702547.0;
constexpr double kTick = 1.0 / (128.0 * 499.2e6);

// A job on a fake clock with one master and one slave that follows it.
class Rig {
public:
    explicit Rig(double rf_distance = 0.0)
        : job(fake.ports()),
          master(cst::prepare_anchor(20, 0xA020)),
          slave(cst::prepare_anchor(21, 0xA021, 0.0, 0.0, 30.0))
    {
        cst::follow(slave, master, rf_distance);
        zub_context()->zubFPIRF = 0;
        zub_context()->log_ctrl = log_ctrl_t{};
    }

    void rx(Anchor* from, BYTE seq, const Anchor* of, WORD64 ticks, WORD16 first_path = 800)
    {
        feed(from->id, cst::rx_payload(seq, of->hardware_id, ticks, first_path));
    }
    void rx(BYTE seq, WORD64 ticks, WORD16 first_path = 800) { rx(slave, seq, master, ticks, first_path); }
    void tx(BYTE seq, WORD64 ticks) { tx(master, seq, ticks); }
    void tx(Anchor* from, BYTE seq, WORD64 ticks) { feed(from->id, cst::tx_payload(seq, ticks)); }
    void feed(WORD16 anc_id, const std::vector<BYTE>& payload)
    {
        fake.now += 10;
        const std::vector<BYTE> body = cst::frame_body(anc_id, payload);
        job.ccp_rcv(cst::as_sock_data(body));
    }
    ClockSync pair(unsigned slot = 0) const { return slave->cs_snapshot(slot); }
    std::vector<int> pending_seqs() const
    {
        std::vector<int> out;
        for (const RxCCPReport& p : master->pendingSync) {
            out.push_back(p.seqNum);
        }
        return out;
    }

    cst::FakePorts fake;
    ClockSyncJob job;
    Anchor* master;
    Anchor* slave;
};

double secs(WORD64 ticks) { return convertdevicetimetosecu(ticks); }

}  // namespace

TEST(engine_clocksync_Pairs, FirstUsableReceiveReportOnlyCreatesThePair)
{
    // Slave at (0, 0, 30) m; master at the origin unless a radio distance is configured.
    struct Row {
        const char* name;
        double rf_distance;
        double master_pos[3];
        double expected_tof;
    };
    const Row rows[] = {
        {"configured radio distance", 45.0, {0.0, 0.0, 0.0}, 45.0 / kC},
        {"geometry: 3, 4 and 12 m apart on the axes", 0.0, {3.0, 4.0, 18.0}, 13.0 / kC},
        {"geometry along one axis", 0.0, {0.0, 0.0, 0.0}, 30.0 / kC},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Rig rig(r.rf_distance);
        rig.master = cst::prepare_anchor(20, 0xA020, r.master_pos[0], r.master_pos[1], r.master_pos[2]);
        rig.tx(9, 1000);
        // A report that fails its check, and one of a master not configured, create nothing.
        rig.feed(rig.slave->id, std::vector<BYTE>{0x31, 9, 0x20});
        rig.rx(rig.slave, 9, rig.slave, 5000);
        EXPECT_EQ(rig.slave->cs_count(), 0);

        rig.rx(9, 5000);
        ASSERT_EQ(rig.slave->cs_count(), 1);
        const ClockSync created = rig.pair();
        EXPECT_EQ(created.master, rig.master);
        EXPECT_NEAR(created.syncAnchorsTOF, r.expected_tof, 1e-18);
        EXPECT_EQ(created.cs_kalman.id, 21);
        EXPECT_FALSE(created.cs_kalman.init);  // not fed
        EXPECT_EQ(created.last_update_time, 0u);
        EXPECT_EQ(created.seqNum, 255);
        EXPECT_EQ(created.timedif.history_time_count, 0);

        rig.rx(9, 5000);  // the same report again now feeds the filter
        const ClockSync fed = rig.pair();
        EXPECT_TRUE(fed.cs_kalman.init);
        EXPECT_DOUBLE_EQ(fed.cs_kalman.x0, secs(5000));
        EXPECT_DOUBLE_EQ(fed.cs_kalman.prevTxTime, secs(1000) + r.expected_tof);
        EXPECT_EQ(fed.last_update_time, rig.fake.now);
        EXPECT_TRUE(fed.valid_sync);
    }
}

TEST(engine_clocksync_Pairs, TransmitReportKeepsSeventeenEarlierNumbersAndInvalidatesTheRest)
{
    // Transmit reports for s-17 .. s (s = 5, so the run wraps), then one receive report.
    constexpr int s = 5;
    struct Row {
        int offset;
        bool matched;
    };
    const Row rows[] = {{-17, true}, {-9, true}, {-1, true}, {0, true},
                        {-18, false}, {1, false}, {100, false}, {238, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.offset);
        Rig rig;
        rig.rx(0, 1);  // creates the pair
        for (int k = -17; k <= 0; ++k) {
            rig.tx(static_cast<BYTE>(s + k), static_cast<WORD64>(1000000 * (k + 20)));
        }
        const BYTE seq = static_cast<BYTE>(s + r.offset);
        EXPECT_EQ(rig.master->validCCPSeqNum[seq] == seq, r.matched);
        rig.rx(seq, 77777777);
        const ClockSync p = rig.pair();
        if (r.matched) {
            EXPECT_EQ(p.last_update_time, rig.fake.now);
            EXPECT_DOUBLE_EQ(p.cs_kalman.x0, secs(77777777));
            EXPECT_DOUBLE_EQ(p.cs_kalman.prevTxTime, secs(1000000 * (r.offset + 20)) + p.syncAnchorsTOF);
            EXPECT_TRUE(rig.master->pendingSync.empty());
        } else {
            EXPECT_EQ(p.last_update_time, 0u);
            EXPECT_EQ(rig.pending_seqs(), std::vector<int>{seq});
            EXPECT_EQ(rig.master->pendingSync.front().anc, rig.slave);
            EXPECT_DOUBLE_EQ(rig.master->pendingSync.front().rxTime, secs(77777777));
        }
    }
    // The run itself: after one transmit report for 250, 250 holds its number and the 239
    // numbers from it on are -1, wrapping past 255.
    Rig rig;
    for (int i = 0; i < 256; ++i) {
        rig.master->validCCPSeqNum[i] = i;
    }
    rig.tx(250, 4242);
    for (int i = 0; i < 256; ++i) {
        const int ahead = (i - 250 + 256) % 256;
        const int expected = ahead == 0 ? 250 : (ahead < 239 ? -1 : i);
        EXPECT_EQ(rig.master->validCCPSeqNum[i], expected) << i;
    }
    EXPECT_DOUBLE_EQ(rig.master->CCPTxTime[250], secs(4242));
}

TEST(engine_clocksync_Pairs, PendingWindowKeepsTheFifteenNumbersAheadAcrossTheWrap)
{
    Rig rig;
    rig.rx(0, 1);  // creates the pair
    const int waiting[] = {240, 249, 250, 251, 252, 255, 0, 5, 9, 10, 11, 100};
    for (int seq : waiting) {
        rig.rx(static_cast<BYTE>(seq), 123456);
    }
    ASSERT_EQ(rig.pending_seqs().size(), std::size(waiting));
    rig.tx(250, 100000);
    // 250 applied, 251..255 and 0..9 kept in order, everything else erased.
    EXPECT_EQ(rig.pending_seqs(), (std::vector<int>{251, 252, 255, 0, 5, 9}));
    EXPECT_EQ(rig.pair().last_update_time, rig.fake.now);
}

TEST(engine_clocksync_Pairs, ReceiveReportBeforeItsTransmitReportUsesItsOwnTransmitTime)
{
    Rig rig(30.0);
    rig.rx(5, 1);          // creates the pair
    rig.rx(7, 9000000);    // no transmit time for 7 yet: waits
    rig.tx(6, 6000000);    // 7 is one ahead of 6: kept, not applied with 6's time
    EXPECT_EQ(rig.pending_seqs(), std::vector<int>{7});
    EXPECT_FALSE(rig.pair().cs_kalman.init);
    rig.tx(7, 7000000);
    EXPECT_TRUE(rig.pending_seqs().empty());
    const ClockSync p = rig.pair();
    EXPECT_TRUE(p.cs_kalman.init);
    EXPECT_DOUBLE_EQ(p.cs_kalman.x0, secs(9000000));
    EXPECT_DOUBLE_EQ(p.cs_kalman.prevTxTime, secs(7000000) + 30.0 / kC);
    EXPECT_DOUBLE_EQ(p.timedif.history_time_difference[0], secs(9000000) - secs(7000000));
    EXPECT_EQ(p.timedif.history_time_count, 1);
    EXPECT_EQ(p.last_update_time, rig.fake.now);
    // A pending reception whose slave lost its pair meanwhile is erased without effect.
    rig.rx(8, 9100000);
    rig.slave->ResetCCP();
    rig.tx(8, 8000000);
    EXPECT_TRUE(rig.master->pendingSync.empty());
}

TEST(engine_clocksync_Pairs, SequenceGapsAreCountedModulo256)
{
    struct Row {
        int previous;  // -1: the first report after the pair was created
        int next;
        int gaps;
    };
    const Row rows[] = {{255, 0, 0}, {5, 7, 1}, {5, 6, 0}, {5, 5, 1}, {0, 255, 1}, {-1, 0, 0}, {-1, 3, 1}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.previous << " -> " << r.next);
        Rig rig;
        rig.rx(200, 1);  // creates the pair (seqNum 255)
        if (r.previous >= 0) {
            rig.rx(static_cast<BYTE>(r.previous), 1);
        }
        const int before = rig.pair().missedCS;
        rig.rx(static_cast<BYTE>(r.next), 1);
        EXPECT_EQ(rig.pair().missedCS - before, r.gaps);
        EXPECT_EQ(rig.pair().seqNum, r.next);
    }
}

TEST(engine_clocksync_Pairs, SeventeenthMasterIsRefusedWithItsLine)
{
    cst::FakePorts fake;
    ClockSyncJob job(fake.ports());
    Anchor* slave = cst::prepare_anchor(40, 0xB040);
    std::vector<Anchor*> masters;
    for (WORD16 i = 0; i < 17; ++i) {
        masters.push_back(cst::prepare_anchor(static_cast<WORD16>(41 + i), 0xB041 + i, 1.0 * i));
        cst::follow(slave, masters.back());
    }
    cst::PrintLines prints;
    for (Anchor* m : masters) {
        const auto body = cst::frame_body(40, cst::rx_payload(1, m->hardware_id, 100, 800));
        job.ccp_rcv(cst::as_sock_data(body));
    }
    EXPECT_EQ(slave->cs_count(), 16);
    for (unsigned k = 0; k < 16; ++k) {
        EXPECT_EQ(slave->cs_snapshot(k).master, masters[k]);
    }
    EXPECT_EQ(slave->GetCCPSynchronizer(masters[16]->hardware_id), nullptr);
    EXPECT_EQ(prints.lines(), std::vector<std::string>{"slave anchor has save 16 master"});
}

TEST(engine_clocksync_Pairs, FirstPathGateWithTheDisplayRecordAlwaysSent)
{
    struct Row {
        int fpirf;
        WORD16 first_path;
        bool fed;
    };
    const Row rows[] = {{1, 699, false}, {1, 700, true}, {1, 900, true}, {1, 901, false}, {0, 699, true}, {0, 1023, true}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "zubFPIRF " << r.fpirf << ", first path " << r.first_path);
        Rig rig;
        rig.rx(3, 1);  // creates the pair
        rig.tx(3, 500);
        zub_context()->zubFPIRF = r.fpirf;
        rig.fake.records.clear();
        cst::PrintLines prints;
        rig.rx(3, 9000, r.first_path);
        EXPECT_TRUE(prints.lines().empty());  // dropped without a line
        ASSERT_EQ(rig.fake.records.size(), 1u);
        const WORD16 first_path = rig.fake.records[0].first_path;  // a packed field: copied out
        EXPECT_EQ(first_path, r.first_path);
        const ClockSync p = rig.pair();
        EXPECT_EQ(p.cs_kalman.init, r.fed);
        // A dropped report leaves the sequence bookkeeping alone too.
        EXPECT_EQ(p.seqNum, r.fed ? 3 : 255);
        zub_context()->zubFPIRF = 0;
    }
}

TEST(engine_clocksync_Pairs, HistoryMeanAndVarianceOnlyFromTheTenthDifference)
{
    // Differences of k ticks for k = 1..10, then 21 ticks in place of the first. By hand: after
    // ten, mean 5.5 and variance 8.25 (ticks, ticks^2); after eleven the ring holds 2..10 and
    // 21: mean 7.5, variance (80.25 + 182.25) / 10 = 26.25.
    struct Row {
        int k;
        WORD16 count;
        double mean_ticks;
        double variance_ticks2;
    };
    const Row rows[] = {{1, 1, 0, 0},   {2, 2, 0, 0},   {5, 5, 0, 0},       {9, 9, 0, 0},
                        {10, 10, 5.5, 8.25}, {11, 10, 7.5, 26.25}};
    Rig rig;
    rig.rx(0, 1);  // creates the pair
    int fed = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.k);
        for (; fed < r.k; ++fed) {
            const BYTE seq = static_cast<BYTE>(fed + 1);
            const WORD64 tx = 100000000ull * (fed + 1);
            const WORD64 diff = fed < 10 ? static_cast<WORD64>(fed + 1) : 21;
            rig.tx(seq, tx);
            rig.rx(seq, tx + diff);
        }
        const TimeDif t = rig.pair().timedif;
        EXPECT_EQ(t.history_time_count, r.count);
        EXPECT_EQ(t.history_time_idx, r.k % 10);
        EXPECT_NEAR(t.average_timedif, r.mean_ticks * kTick, 1e-17);
        EXPECT_NEAR(t.variance, r.variance_ticks2 * kTick * kTick, 1e-26);
    }
}

TEST(engine_clocksync_Reports, DisplayRecordIsNineteenBytesOfTheReport)
{
    cst::FakePorts fake;
    ClockSyncJob job(fake.ports());
    cst::prepare_anchor(60, 0x1122334455667788ull);
    // firstPath16 0xFFD5: index 0x3FF; masterID 0x0102030405060708 (not a configured master).
    const std::vector<BYTE> payload = {0x31, 0x2A, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,
                                       0x10, 0x20, 0x30, 0x40, 0x50, 0xD5, 0xFF, 0x00};
    job.ccp_rcv(cst::as_sock_data(cst::frame_body(60, payload)));
    ASSERT_EQ(fake.records.size(), 1u);
    BYTE bytes[19];
    std::memcpy(bytes, &fake.records[0], sizeof bytes);
    const std::vector<BYTE> expected = {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11,  // slave_id
                                        0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // master_id
                                        0x2A,                                            // seq_num
                                        0xFF, 0x03};                                     // first_path
    EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 19), expected);
    // No record for an anchor that is not in use, nor for a null report.
    Anchor* unused = cst::prepare_anchor(61, 0);
    EXPECT_FALSE(job.ccp_rx_send_to_dac(reinterpret_cast<const report_ccp_rx_v4_t*>(payload.data()) , unused));
    EXPECT_FALSE(job.ccp_rx_send_to_dac(nullptr, &zub_context()->anchors[60]));
    EXPECT_EQ(fake.records.size(), 1u);
}

TEST(engine_clocksync_Reports, ShortPayloadsAndExtensionsAreReadOnlyWithinTheirBytes)
{
    // Every payload sits in a heap block of exactly its length, so AddressSanitizer sees any
    // read past it. diagnostics and vector logging on: a log number is taken whenever the
    // extension holds its four bytes.
    struct Row {
        const char* name;
        std::vector<BYTE> payload;
        bool display_record;
        bool check_passes;
        bool log_number;
    };
    const WORD64 m = 0xA020;
    auto rx = [&](std::vector<BYTE> ext) { return cst::rx_payload(4, m, 1000, 800, ext); };
    auto cut = [](std::vector<BYTE> p, std::size_t n) { p.resize(n); return p; };
    const Row rows[] = {
        {"rx of 1 byte", {0x31}, false, false, false},
        {"rx of 2 bytes", cut(rx({}), 2), false, false, false},
        {"rx of 16 bytes", cut(rx({}), 16), false, false, false},
        {"rx of 17 bytes", cut(rx({}), 17), true, false, false},
        {"rx without extension", rx({}), true, true, false},
        {"rx with 1 extension byte", rx({0xAA}), true, true, false},
        {"rx with 3 extension bytes", rx({0xAA, 0xBB, 0xCC}), true, true, false},
        {"rx with the log number", rx({0x78, 0x56, 0x34, 0x12}), true, true, true},
        {"rx announcing more extension than sent", cut(rx({1, 2, 3, 4, 5, 6}), 20), true, false, false},
        // The length rule sees the low 8 bits of the length only, as the firmware's field is.
        {"rx of 256 + 18 bytes without extension", [&] { auto p = rx({}); p.resize(274, 0xEE); return p; }(),
         true, true, false},
        {"tx of 1 byte", {0x30}, false, false, false},
        {"tx of 256 + 8 bytes without extension", [] { auto p = cst::tx_payload(4, 1000); p.resize(264, 0xEE); return p; }(),
         false, true, false},
        {"tx of 7 bytes", cut(cst::tx_payload(4, 1000), 7), false, false, false},
        {"tx without extension", cst::tx_payload(4, 1000), false, true, false},
        {"tx with 3 extension bytes", cst::tx_payload(4, 1000, {1, 2, 3}), false, true, false},
        {"tx with the log number", cst::tx_payload(4, 1000, {0x78, 0x56, 0x34, 0x12}), false, true, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Rig rig;
        zub_context()->log_ctrl = log_ctrl_t{0, 1, 1, 0};
        Anchor* anchor = r.payload[0] == 0x31 ? rig.slave : rig.master;
        cst::PrintLines prints;
        const std::vector<BYTE> body = cst::frame_body(anchor->id, r.payload);
        rig.job.ccp_rcv(cst::as_sock_data(body));
        EXPECT_EQ(rig.fake.records.size(), r.display_record ? 1u : 0u);
        const bool rx_report = r.payload[0] == 0x31;
        const std::vector<std::string> failed = {"rcv ccp rx,but length is error",
                                                 rx_report ? "recv ccp rx,but check failed." : "recv ccp tx,but check failed."};
        EXPECT_EQ(prints.lines(), r.check_passes ? std::vector<std::string>{} : failed);
        EXPECT_EQ(anchor->last_ccp_time, r.check_passes ? rig.fake.now : 0u);
        EXPECT_EQ(anchor->prevLogNumSet, r.log_number ? 1 : 0);
        EXPECT_EQ(anchor->prevLogNum, r.log_number ? 0x12345678u : 0u);
        zub_context()->log_ctrl = log_ctrl_t{};
    }
}

TEST(engine_clocksync_Reports, LogNumberFollowsTheLogControls)
{
    struct Row {
        bool transmit;
        log_ctrl_t ctrl;  // log_level, diagnostics_log, vector_log_level, tag_print_flag
        bool taken;
    };
    const Row rows[] = {
        {true, {0, 1, 1, 0}, true},  {true, {0, 1, 0, 0}, false}, {true, {0, 0, 1, 0}, false},
        {true, {0, 2, 1, 0}, false}, {false, {0, 1, 0, 0}, true}, {false, {0, 2, 0, 0}, true},
        {false, {0, 0, 1, 0}, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << (r.transmit ? "tx" : "rx") << " diagnostics "
                                        << int(r.ctrl.diagnostics_log) << " vector " << int(r.ctrl.vector_log_level));
        Rig rig;
        zub_context()->log_ctrl = r.ctrl;
        const std::vector<BYTE> ext = {0x04, 0x03, 0x02, 0x01};
        Anchor* anchor = r.transmit ? rig.master : rig.slave;
        rig.feed(anchor->id, r.transmit ? cst::tx_payload(1, 5, ext) : cst::rx_payload(1, 0xA020, 5, 800, ext));
        EXPECT_EQ(anchor->prevLogNumSet, r.taken ? 1 : 0);
        EXPECT_EQ(anchor->prevLogNum, r.taken ? 0x01020304u : 0u);
        zub_context()->log_ctrl = log_ctrl_t{};
    }
}

TEST(engine_clocksync_Reports, ChecksDropWithTheirLinesAndAnUnknownMasterSilently)
{
    struct Row {
        const char* name;
        WORD16 anc_id;
        std::vector<BYTE> payload;
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        {"rx from an unused slot", 70, cst::rx_payload(1, 0xA020, 5, 800),
         {"rcv ccp rx,but anchor cannot used", "recv ccp rx,but check failed."}},
        {"tx from an unused slot", 70, cst::tx_payload(1, 5), {"rcv ccp rx,but anchor cannot used", "recv ccp tx,but check failed."}},
        {"rx from beyond the table", 10000, cst::rx_payload(1, 0xA020, 5, 800), {"recv ccp rx,but check failed."}},
        {"tx from beyond the table", 65535, cst::tx_payload(1, 5), {"recv ccp tx,but check failed."}},
        {"rx of an unconfigured master", 21, cst::rx_payload(1, 0xDEAD, 5, 800), {}},
        {"rx of master id 0", 21, cst::rx_payload(1, 0, 5, 800), {}},
        {"another report code", 21, {0x32, 1, 2, 3}, {}},
        {"empty payload", 21, {}, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Rig rig;
        cst::prepare_anchor(70, 0);
        cst::PrintLines prints;
        rig.feed(r.anc_id, r.payload);
        EXPECT_EQ(prints.lines(), r.lines);
        EXPECT_EQ(rig.slave->cs_count(), 0);
        EXPECT_TRUE(rig.master->pendingSync.empty());
    }
}

TEST(engine_clocksync_Reports, MasterLookupGoesThroughTheSlavesConfiguredMasters)
{
    Anchor* slave = cst::prepare_anchor(90, 0xA090);
    Anchor* listed = cst::prepare_anchor(91, 0xA091);
    Anchor* second = cst::prepare_anchor(92, 0xA092);
    cst::prepare_anchor(93, 0xA093);  // in use, but not among the slave's masters
    cst::follow(slave, listed);
    cst::follow(slave, second);
    anchor_idx_t beyond{};
    beyond.id = 10000;  // a local id past the anchor table
    beyond.anc_id = 0xA094;
    slave->add_master(beyond, 0.0);
    struct Row {
        const char* name;
        const Anchor* slave;
        WORD64 id;
        const Anchor* expected;
    };
    const Row rows[] = {
        {"first listed", slave, 0xA091, listed},   {"second listed", slave, 0xA092, second},
        {"not listed", slave, 0xA093, nullptr},    {"id 0", slave, 0, nullptr},
        {"null slave", nullptr, 0xA091, nullptr},  {"listed past the table", slave, 0xA094, nullptr},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(clocksync_master_anchor_get(r.slave, r.id), r.expected) << r.name;
    }
}

TEST(engine_clocksync_Reports, PendingListIsCappedWithOneLinePerBurst)
{
    Rig rig;
    rig.rx(0, 1);  // creates the pair; the master never transmits from here on
    cst::PrintLines prints;
    const std::size_t cap = 4096;
    for (std::size_t i = 0; i < cap + 10; ++i) {
        rig.rx(static_cast<BYTE>(i), i + 1);  // rx time = i + 1 ticks tells the entries apart
    }
    ASSERT_EQ(rig.master->pendingSync.size(), cap);
    EXPECT_DOUBLE_EQ(rig.master->pendingSync.front().rxTime, secs(11));  // the ten oldest went
    EXPECT_DOUBLE_EQ(rig.master->pendingSync.back().rxTime, secs(cap + 10));
    const std::string line = "master anchor(a020) has 4096 ccp rx waiting for their tx, oldest dropped";
    EXPECT_EQ(prints.lines(), std::vector<std::string>{line});

    // A transmit pass erases what lies outside its window; the next burst has its own line.
    rig.tx(0, 5);
    EXPECT_LT(rig.master->pendingSync.size(), cap);
    while (rig.master->pendingSync.size() < cap) {
        rig.rx(1, 3);
    }
    rig.rx(1, 3);
    rig.rx(1, 3);
    EXPECT_EQ(rig.master->pendingSync.size(), cap);
    EXPECT_EQ(prints.count_of(line), 2u);
}

TEST(engine_clocksync_Pairs, PairAfterResetStartsFromAFreshSlotWithItsNewMaster)
{
    Rig rig(15.0);
    Anchor* other = cst::prepare_anchor(22, 0xA022, 0.0, 40.0, 30.0);
    cst::follow(rig.slave, other);
    rig.rx(10, 1);  // creates the pair with the first master
    for (int i = 11; i < 30; i += 2) {
        rig.tx(static_cast<BYTE>(i), 1000000ull * i);
        rig.rx(static_cast<BYTE>(i), 1000000ull * i + 77);
    }
    const ClockSync used = rig.pair();
    ASSERT_TRUE(used.cs_kalman.init);
    ASSERT_EQ(used.timedif.history_time_count, 10);
    ASSERT_GT(used.missedCS, 0);

    rig.slave->ResetCCP();  // "rtls start"
    EXPECT_EQ(rig.slave->cs_count(), 0);
    rig.rx(rig.slave, 40, other, 500);  // creates the pair with the other master
    ASSERT_EQ(rig.slave->cs_count(), 1);
    const ClockSync fresh = rig.pair();
    EXPECT_EQ(fresh.master, other);
    EXPECT_DOUBLE_EQ(fresh.syncAnchorsTOF, 40.0 / kC);
    EXPECT_FALSE(fresh.cs_kalman.init);
    EXPECT_EQ(fresh.cs_kalman.counter, 0);
    EXPECT_EQ(fresh.cs_kalman.x1, 1.0);
    EXPECT_EQ(fresh.seqNum, 255);
    EXPECT_EQ(fresh.missedCS, 0);
    EXPECT_EQ(fresh.timedif.history_time_count, 0);
    EXPECT_EQ(fresh.timedif.history_time_idx, 0);
    EXPECT_EQ(fresh.last_update_time, 0u);

    rig.tx(other, 41, 3000000);
    rig.rx(rig.slave, 41, other, 3500000);  // the next report initialises the new filter
    const ClockSync started = rig.pair();
    EXPECT_TRUE(started.cs_kalman.init);
    EXPECT_DOUBLE_EQ(started.cs_kalman.x0, secs(3500000));
    EXPECT_DOUBLE_EQ(started.cs_kalman.prevTxTime, secs(3000000) + 40.0 / kC);
    EXPECT_EQ(started.timedif.history_time_count, 1);
    EXPECT_EQ(started.missedCS, 1);  // 255 -> 41
}
