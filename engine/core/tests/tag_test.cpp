// The selector's Tag record as its tree builds it.
#include <gtest/gtest.h>

#include <deque>

#include "zub_public.h"

TEST(engine_core_Tag, ConstructorZeroesTheRoundAndHistoryAndMarksMultiPositionsUnknown)
{
    static RBTree<unsigned long, Tag> tags;  // nodes live to the end, as in a selector
    Tag* t = tags.insert_key(0xABCDEF0123456789ul);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->id, 0xABCDEF0123456789u);
    EXPECT_EQ(tags.find_key(0xABCDEF0123456789ul), t);
    EXPECT_EQ(t->blinkReports.nBlinks, 0);
    EXPECT_EQ(t->blinkReports.nTofBlinks, 0);
    EXPECT_EQ(t->blinkReports.timeFirstBlink, 0u);
    EXPECT_EQ(t->blinkReports.blinks[21].anchor, nullptr);
    EXPECT_EQ(t->blinkReports.single_mode_idx, 0);
    EXPECT_FALSE(t->prev_sequence_valid);
    EXPECT_EQ(t->prevSeqNum, 0);
    EXPECT_EQ(t->statistic.multi_total, 0u);
    EXPECT_EQ(t->statistic.multi_failed, 0u);
    EXPECT_EQ(t->lastIMUseq, 0);
    EXPECT_EQ(t->history_idx, 0);
    EXPECT_EQ(t->history_count, 0);
    EXPECT_EQ(t->ignore_count, 0);
    EXPECT_EQ(t->history_pos[15].x, 0.0);
    EXPECT_EQ(t->last_time, 0u);
    EXPECT_EQ(t->last_push_pos.x, 0.0);
    EXPECT_EQ(t->last_push_pos.sub_area_type, ZUB_SUB_AREA_TYPE_MULTI);
    EXPECT_EQ(t->multi_couple_count[15], 0);
    EXPECT_EQ(t->multi_idx, 0);
    EXPECT_EQ(t->variance, 0.0);
    for (const pos_t& p : t->multi_pos) {
        EXPECT_EQ(p.sub_area_type, ZUB_SUB_AREA_TYPE_UNKNOWN);
        EXPECT_EQ(p.x, 0.0);
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t->ma[i].filterLength, 9);
        EXPECT_EQ(t->me[i].filterLength, 9);
        EXPECT_EQ(t->ma[i].inPtr, 0);
        EXPECT_FALSE(t->k[i].init);
        EXPECT_EQ(t->k[i].measNoiseStd, 0.075);
    }
}

TEST(engine_core_Tag, FiltersWorkInsideTheRecord)
{
    static RBTree<unsigned long, Tag> tags;
    Tag* t = tags.insert_key(1);
    ASSERT_NE(t, nullptr);
    // Window 9 fed 9.0: the moving average climbs 1, 2, 3.
    EXPECT_DOUBLE_EQ(t->ma[0].process_ma(9.0), 1.0);
    EXPECT_DOUBLE_EQ(t->ma[0].process_ma(9.0), 2.0);
    EXPECT_DOUBLE_EQ(t->ma[0].process_ma(9.0), 3.0);
    EXPECT_DOUBLE_EQ(t->k[1].process(0.1, 2.5), 2.5);  // first call takes the location
}
