// Anchor records: init, ResetCCP, lookups by master, IP text, copies.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "zub_public.h"

namespace {

Anchor& anchor(unsigned i)
{
    return zub_context()->anchors[i];
}

}  // namespace

TEST(engine_core_Anchor, InitSetsItsDefaultsAndKeepsModeAddressAndLink)
{
    Anchor& a = anchor(7);
    a.mode = ZUB_ANCHOR_WORKING_MODE_COUPLE;
    a.ip.s_addr = inet_addr("10.1.2.3");
    a.port = 3000;
    a.tcp_sock.sock = 55;
    a.master = 9;
    a.lag_delay = 1;
    a.tag_cnt = 4;
    a.tag_blink[3] = {17, 0xABCD};
    a.init(0x1122334455667788u, 7);

    EXPECT_EQ(a.hardware_id, 0x1122334455667788u);
    EXPECT_EQ(a.id, 7);
    EXPECT_EQ(a.idx, 0);
    EXPECT_EQ(a.configured, 0);
    EXPECT_EQ(a.master, 0);
    EXPECT_EQ(a.ant_delay_rx, 0);
    EXPECT_EQ(a.ant_delay_tx, 0);
    EXPECT_EQ(a.id_to_follow, 0u);
    EXPECT_EQ(a.lag_delay, 20000);
    EXPECT_EQ(a.area, nullptr);
    EXPECT_EQ(a.tag_cnt, 0);
    EXPECT_EQ(a.tag_blink[3].blink_cnt, 0u);
    EXPECT_EQ(a.tag_blink[3].tag_id, 0u);
    EXPECT_FALSE(a.is_req_cfg);
    EXPECT_EQ(a.reference, 0);
    EXPECT_EQ(a.rxDiffCount, 0);
    EXPECT_EQ(a.rxDiffprev, 1000.0);
    EXPECT_EQ(a.clockOffset, 0.0);
    EXPECT_EQ(a.sumClockOffset, 0.0);
    EXPECT_EQ(a.training, 0);
    EXPECT_EQ(a.numTrainingBlinks, 0);
    EXPECT_EQ(a.totalTrainingBlinks, 200);
    EXPECT_EQ(a.use_tof, 0);
    EXPECT_EQ(a.four_anc_mode, 0);
    EXPECT_EQ(a.use_ant_delay, 0);
    EXPECT_EQ(a.tof_delayed, 0);
    EXPECT_EQ(a.tof_anc_id, 0);
    EXPECT_EQ(a.anc_power, 0u);
    EXPECT_EQ(a.area_attribute.length, 10000.0);
    EXPECT_EQ(a.area_attribute.width, 2.4);
    EXPECT_EQ(a.area_attribute.dimension, 0);
    ASSERT_EQ(a.position.n_elem, 3u);
    EXPECT_EQ(a.position(0), 0.0);
    EXPECT_EQ(a.nMaster, 0);
    EXPECT_EQ(a.validCCPSeqNum[0], -1);
    EXPECT_EQ(a.validCCPSeqNum[255], -1);
    // Left as they were.
    EXPECT_EQ(a.mode, ZUB_ANCHOR_WORKING_MODE_COUPLE);
    EXPECT_EQ(std::string(a.getIpPrint()), "10.1.2.3");
    EXPECT_EQ(a.port, 3000);
    EXPECT_EQ(a.tcp_sock.sock, 55u);
    a.tcp_sock.sock = 0;
}

TEST(engine_core_Anchor, InitAgainClearsEveryTagCountEntry)
{
    Anchor& a = anchor(8);
    a.init(0x8, 8);
    for (WORD64 t = 1; t <= ZUB_MAX_TAG_PER_ANCHOR; ++t) {
        a.count_tag_blink(t);
        a.count_tag_blink(t);
    }
    ASSERT_EQ(a.blink_entry(9999).blink_cnt, 1u);
    a.init(0x8, 8);
    EXPECT_EQ(a.blink_table_size(), 0);
    for (unsigned i = 0; i < ZUB_MAX_TAG_PER_ANCHOR; ++i) {
        ASSERT_EQ(a.tag_blink[i].blink_cnt, 0u) << i;
        ASSERT_EQ(a.tag_blink[i].tag_id, 0u) << i;
    }
    // The table works again from its first entry.
    EXPECT_TRUE(a.count_tag_blink(77));
    EXPECT_EQ(a.blink_entry(0).tag_id, 77u);
    // A record outside the context (heap) is cleared the same way.
    auto* heap = new Anchor();
    heap->tag_blink[5000] = {3, 4};
    heap->tag_cnt = 1;
    heap->init(0x9, 9);
    EXPECT_EQ(heap->tag_blink[5000].blink_cnt, 0u);
    EXPECT_EQ(heap->tag_blink[5000].tag_id, 0u);
    delete heap;
}

TEST(engine_core_Anchor, ResetCcpClearsPairsSequencesAndPendingButKeepsSlotState)
{
    Anchor& master = anchor(1);
    master.init(0xAA, 1);
    Anchor& a = anchor(2);
    a.init(0xBB, 2);
    {
        std::lock_guard<std::mutex> lock(zub_ccp_lock());
        for (unsigned i = 0; i < 3; ++i) {
            ClockSync s = a.csMaster[i];
            s.master = &master;
            s.seqNum = static_cast<BYTE>(10 + i);
            s.missedCS = 4;
            s.cs_kalman.x0 = 1.25;
            a.cs_publish(i, s);
        }
        a.cs_set_count(3);
        a.validCCPSeqNum[17] = 17;
        a.CCPTxTime[17] = 3.5;
        a.pendingSync.push_back(RxCCPReport{1.0, 18, &master});
    }
    EXPECT_EQ(a.cs_count(), 3);
    EXPECT_EQ(a.GetSynchedToaIndex(0xAA), 0);

    a.ResetCCP();

    EXPECT_EQ(a.cs_count(), 0);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(a.validCCPSeqNum[i], -1) << i;
        ASSERT_EQ(a.CCPTxTime[i], 0.0) << i;
    }
    EXPECT_TRUE(a.pendingSync.empty());
    for (unsigned i = 0; i < ZUB_MAX_MASTERS; ++i) {
        EXPECT_EQ(a.cs_snapshot(i).master, nullptr) << i;
    }
    // The slot's own state stays for the pair made again later.
    EXPECT_EQ(a.csMaster[1].seqNum, 11);
    EXPECT_EQ(a.csMaster[1].missedCS, 4);
    EXPECT_EQ(a.csMaster[2].cs_kalman.x0, 1.25);
    EXPECT_EQ(a.GetSynchedToaIndex(0xAA), -1);
    EXPECT_EQ(a.GetCCPSynchronizer(0xAA), nullptr);
}

TEST(engine_core_Anchor, SynchronizerLookupTakesTheFirstSlotOfThatMaster)
{
    Anchor& m1 = anchor(10);
    m1.init(0x10, 10);
    Anchor& m2 = anchor(11);
    m2.init(0x11, 11);
    Anchor& a = anchor(12);
    a.init(0x12, 12);
    EXPECT_EQ(a.GetSynchedToaIndex(0x10), -1);  // no master slot set
    {
        std::lock_guard<std::mutex> lock(zub_ccp_lock());
        ClockSync s = a.csMaster[4];
        s.master = &m2;
        a.cs_publish(4, s);
        s = a.csMaster[6];
        s.master = &m1;
        a.cs_publish(6, s);
        s = a.csMaster[9];
        s.master = &m1;
        a.cs_publish(9, s);
    }
    EXPECT_EQ(a.GetSynchedToaIndex(0x10), 6);
    EXPECT_EQ(a.GetSynchedToaIndex(0x11), 4);
    EXPECT_EQ(a.GetSynchedToaIndex(0x12), -1);
    EXPECT_EQ(a.GetCCPSynchronizer(0x10), &a.csMaster[6]);
    a.ResetCCP();
}

TEST(engine_core_Anchor, ClockSyncConstructionValues)
{
    ClockSync s;
    EXPECT_TRUE(s.valid_sync);
    EXPECT_EQ(s.master, nullptr);
    EXPECT_EQ(s.seqNum, 255);
    EXPECT_EQ(s.missedCS, 0);
    EXPECT_EQ(s.totalRxCS, 0);
    EXPECT_EQ(s.syncAnchorsTOF, 0.0);
    EXPECT_EQ(s.timedif.history_time_count, 0);
    EXPECT_EQ(s.timedif.average_timedif, 0.0);
    EXPECT_EQ(s.cs_kalman.x1, 1.0);
    EXPECT_FALSE(s.cs_kalman.init);
}

TEST(engine_core_Anchor, IpTextIsPerThread)
{
    Anchor& a = anchor(20);
    Anchor& b = anchor(21);
    a.ip.s_addr = inet_addr("192.168.0.1");
    b.ip.s_addr = inet_addr("172.16.255.254");
    // Two threads printing different anchors keep their own text.
    std::string seen_a, seen_b;
    std::thread ta([&] {
        const char* p = a.getIpPrint();
        for (int i = 0; i < 20000; ++i) {
            p = a.getIpPrint();
        }
        seen_a = p;
    });
    std::thread tb([&] {
        const char* p = b.getIpPrint();
        for (int i = 0; i < 20000; ++i) {
            p = b.getIpPrint();
        }
        seen_b = p;
    });
    ta.join();
    tb.join();
    EXPECT_EQ(seen_a, "192.168.0.1");
    EXPECT_EQ(seen_b, "172.16.255.254");
    // On one thread the next call overwrites the buffer.
    const char* first = a.getIpPrint();
    b.getIpPrint();
    EXPECT_STREQ(first, "172.16.255.254");
}

TEST(engine_core_Anchor, LookupByHardwareId)
{
    EXPECT_EQ(Anchor::zub_get_anchor_by_hardware_id(0xDEAD0001u), nullptr);
    const WORD16 id = zub_new_anchor_id(0xDEAD0001u);
    ASSERT_NE(id, ZUB_INVALID_ANCHOR_ID);
    EXPECT_EQ(Anchor::zub_get_anchor_by_hardware_id(0xDEAD0001u), &zub_context()->anchors[id]);
}

TEST(engine_core_Anchor, CopyTakesEveryFieldListsAndMapsIncluded)
{
    Anchor& src = anchor(30);
    src.init(0x30, 30);
    src.position(1) = 4.5;
    src.add_master(anchor_idx_t{31, {0, 0, 0}, 0x31}, 7.25);
    src.trainingTags[5] = 6;
    src.validCCPSeqNum[3] = 3;
    src.tag_blink[0] = {2, 0x77};
    src.tag_cnt = 1;
    std::snprintf(src.version, sizeof src.version, "fw-1.2");

    Anchor& dst = anchor(40);
    dst = src;
    EXPECT_EQ(dst.hardware_id, 0x30u);
    EXPECT_EQ(dst.position(1), 4.5);
    ASSERT_EQ(dst.masters.size(), 1u);
    EXPECT_EQ(dst.masters.front().anc_id, 0x31u);
    EXPECT_EQ(dst.rf_distance_to(0x31), 7.25);
    EXPECT_EQ(dst.trainingTags.at(5), 6u);
    EXPECT_EQ(dst.validCCPSeqNum[3], 3);
    EXPECT_EQ(dst.blink_entry(0).blink_cnt, 2u);
    EXPECT_STREQ(dst.version, "fw-1.2");
    // The copy's position is its own storage.
    dst.position(1) = 1.0;
    EXPECT_EQ(src.position(1), 4.5);
}

TEST(engine_core_Anchor, MastersAndDistancesAccumulateAndTheFirstDistanceStays)
{
    Anchor& a = anchor(50);
    a.init(0x50, 50);
    anchor_idx_t m{51, {0, 0, 0}, 0x51};
    a.add_master(m, 3.0);
    a.add_master(m, 9.0);  // "anchor cfg" given twice
    EXPECT_EQ(a.masters.size(), 2u);
    EXPECT_EQ(a.rf_distance_to(0x51), 3.0);
    EXPECT_EQ(a.rf_distance_to(0x52), 0.0);
    anchor_idx_t found{};
    EXPECT_TRUE(a.find_master(0x51, &found));
    EXPECT_EQ(found.id, 51);
    EXPECT_FALSE(a.find_master(0x52, &found));
}
