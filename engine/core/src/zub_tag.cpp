#include "zub_tag.h"

Tag::Tag(WORD64 tag_id)
    : id(tag_id),
      blinkReports{},
      prev_blink{},
      prev_sequence_valid(false),
      prevSeqNum(0),
      statistic{},
      k{},
      ma{Average(9), Average(9), Average(9)},
      me{Average(9), Average(9), Average(9)},
      lastIMUseq(0),
      history_pos{},
      history_idx(0),
      history_count(0),
      ignore_count(0),
      average_pos{},
      variance(0.0),
      multi_pos{},
      multi_idx(0),
      multi_couple_count{},
      multi_couple_idx(0),
      last_push_pos{},
      last_time(0)
{
    for (pos_t& p : multi_pos) {
        p.sub_area_type = ZUB_SUB_AREA_TYPE_UNKNOWN;
    }
}
