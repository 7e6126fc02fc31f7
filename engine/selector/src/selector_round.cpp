// The TDoA round: every due tag is solved in single, couple or multiple mode, filtered,
// smoothed and sent to the display job; then its round is closed.
#include <algorithm>
#include <cinttypes>
#include <cmath>

#include "Average.h"
#include "KalmanFilter.h"
#include "zub_device_time.h"
#include "zub_msg_id.h"
#include "zub_position_filter.h"
#include "zub_print.h"
#include "zub_print_layer.h"
#include "zub_public.h"
#include "zub_selector.h"
#include "zub_shared_field.h"

namespace {

constexpr int kModeSingle = 1;
constexpr int kModeCouple = 2;
constexpr int kModeMultiple = 4;
constexpr unsigned kSingleIshLimit = 8;
constexpr BYTE kBusyRoundCount = 3;
constexpr unsigned kMultiHistoryNeeded = 8;
constexpr double kSmoothingJump = 10.0;  // m
constexpr double kCoupleTolerance = 1.1;
constexpr double kSettledSplit = 3.0;  // m
constexpr WORD64 kListedRootAge = 0xFFFFF;  // ms
constexpr int64_t kFittingStaleMs = 120000000;

bool finite3(const arma::rowvec& v)
{
    return v.n_elem >= 3 && std::isfinite(v(0)) && std::isfinite(v(1)) && std::isfinite(v(2));
}

const sub_area_t* first_corridor(const area_t* area)
{
    for (const node_t* n = area->sub_area.head; n != nullptr; n = n->next) {
        const auto* s = reinterpret_cast<const sub_area_t*>(n);
        if (s->type == ZUB_SUB_AREA_TYPE_CORRIDOR && s->points.count >= 2 && s->points.head != nullptr &&
            s->points.tail != nullptr) {
            return s;
        }
    }
    return nullptr;
}

}  // namespace

double Selector::pos_distance(const pos_t& a, const pos_t& b)
{
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y));
}

pos_t Selector::fitting_position(const Tag* tag, pos_t pos, int) const
{
    pos.z = ctx().ground_clearance;
    const WORD64 now_ms = now();
    const auto since_sent = static_cast<int32_t>(static_cast<WORD32>(now_ms) - static_cast<WORD32>(tag->last_time));
    if (tag->history_count >= 3 && since_sent <= kFittingStaleMs) {
        pos.msec = now_ms;
    }
    return pos;
}

void Selector::recv_timer_periodic_calculate()
{
    free_requested_records();
    if (open_.empty()) {
        return;
    }
    const WORD64 now_ms = now();
    const auto wait = static_cast<int64_t>(ctx().zubSolveWaitTime);
    auto by_id = [](const OpenRound& a, const OpenRound& b) { return a.id < b.id; };
    const auto sorted_end = open_.begin() + static_cast<std::ptrdiff_t>(open_sorted_);
    std::stable_sort(sorted_end, open_.end(), by_id);
    std::inplace_merge(open_.begin(), sorted_end, open_.end(), by_id);
    open_.erase(std::unique(open_.begin(), open_.end(),
                            [](const OpenRound& a, const OpenRound& b) { return a.id == b.id; }),
                open_.end());
    still_open_.clear();
    for (const OpenRound& e : open_) {
        if (static_cast<int64_t>(now_ms - e.first_ms) < wait) {
            still_open_.push_back(e);
            continue;
        }
        Tag* tag = e.tag;
        if (tag->blinkReports.nBlinks == 0) {
            continue;
        }
        if (static_cast<int64_t>(now_ms - tag->blinkReports.timeFirstBlink) >= wait) {
            solve_tag(tag, now_ms);
        }
        if (tag->blinkReports.nBlinks > 0) {
            still_open_.push_back(OpenRound{e.id, tag->blinkReports.timeFirstBlink, tag});
        }
    }
    open_.swap(still_open_);
    open_sorted_ = open_.size();
}

bool Selector::calculete_position_in_single_mode(Tag* tag, arma::rowvec& pos, WORD16& anchor_id, bool force)
{
    const context_t& c = ctx();
    blinks_t& r = tag->blinkReports;
    r.single_mode_count = std::min<WORD16>(r.single_mode_count, ZUB_SINGLE_MODE_RING);
    std::fill(std::begin(stat), std::end(stat), stat_t{});
    stat_count = 0;
    const WORD64 now_ms = now();
    const int64_t expire_ms = static_cast<int64_t>(c.single_blink_expire) * 1000;
    for (unsigned i = 0; i < r.single_mode_count; ++i) {
        const single_blink_t& hit = r.single_mode_anchor[i];
        if (static_cast<int64_t>(now_ms - hit.time) > expire_ms) {
            continue;
        }
        unsigned e = 0;
        while (e < stat_count && stat[e].id != hit.id) {
            ++e;
        }
        if (e == stat_count) {
            stat[stat_count++] = stat_t{hit.id, 0};
        }
        ++stat[e].count;
    }
    if (stat_count == 0) {
        return false;
    }
    unsigned best = 0;
    for (unsigned e = 1; e < stat_count; ++e) {
        if (stat[e].count > stat[best].count) {
            best = e;
        }
    }
    if (!force && stat[best].count < c.single_blink_count) {
        return false;
    }
    const WORD16 id = stat[best].id % ZUB_MAX_ANCHOR_NUM;
    const AnchorConfig cfg = c.anchors[id].config_snapshot();
    pos.set_size(3);
    pos(0) = cfg.position[0];
    pos(1) = cfg.position[1];
    pos(2) = cfg.position[2];
    anchor_id = id;
    return true;
}

bool Selector::calculete_position_in_couple_mode(Tag* tag, arma::rowvec& pos, WORD16& anchor_id)
{
    const context_t& c = ctx();
    const blinks_t& r = tag->blinkReports;
    const unsigned n = std::min<unsigned>(r.nBlinks, ZUB_MAX_BLINKS_PER_ROUND);
    const DistanceMatrix* dist = round_dist_.get();
    int a = -1;
    int b = -1;
    float d = 0.0f;
    AnchorConfig cfg[ZUB_MAX_BLINKS_PER_ROUND];
    for (unsigned i = 0; i < n; ++i) {
        cfg[i] = c.anchors[r.blinks[i].id % ZUB_MAX_ANCHOR_NUM].config_snapshot();
    }
    auto couple = [&](unsigned i) { return cfg[i].mode == ZUB_ANCHOR_WORKING_MODE_COUPLE; };
    if (tag->history_count > 13 && tag->variance < c.max_position_variance) {
        double best_a = 1e6, best_b = -1e6, near_a = 1e6, near_b = -1e6;
        int fa = -1, fb = -1;
        for (unsigned i = 0; i < n; ++i) {
            if (!couple(i)) {
                continue;
            }
            const double dx = cfg[i].position[0] - tag->average_pos.x;
            if (dx > kSettledSplit && dx < best_a) {
                best_a = dx;
                a = static_cast<int>(i);
            }
            if (dx < -kSettledSplit && dx > best_b) {
                best_b = dx;
                b = static_cast<int>(i);
            }
            if (dx > 0 && dx < near_a) {
                near_a = dx;
                fa = static_cast<int>(i);
            }
            if (dx < 0 && dx > near_b) {
                near_b = dx;
                fb = static_cast<int>(i);
            }
        }
        a = a < 0 ? fa : a;
        b = b < 0 ? fb : b;
        if (a < 0 || b < 0) {
            ZUB_TAG_PRINT(tag->id, ZUB_PRINT_MSG, "tagId:%16" PRIx64 " anchor1: %p, anchor2: %p", tag->id,
                          a < 0 ? nullptr : static_cast<const void*>(&c.anchors[r.blinks[a].id % ZUB_MAX_ANCHOR_NUM]),
                          b < 0 ? nullptr : static_cast<const void*>(&c.anchors[r.blinks[b].id % ZUB_MAX_ANCHOR_NUM]));
            return false;
        }
        d = zub_distance_at(dist, r.blinks[a].id, r.blinks[b].id);
    } else {
        for (unsigned i = 0; i < n; ++i) {
            for (unsigned j = i + 1; j < n; ++j) {
                if (!couple(i) || !couple(j)) {
                    continue;
                }
                const float dij = zub_distance_at(dist, r.blinks[i].id, r.blinks[j].id);
                if (dij > d) {
                    d = dij;
                    a = static_cast<int>(i);
                    b = static_cast<int>(j);
                }
            }
        }
        if (a < 0) {
            ZUB_TAG_PRINT(tag->id, ZUB_PRINT_MSG, "calculete_position_in_couple_mode:anchor1 or anchor2 is null.return");
            return false;
        }
    }
    const WORD16 ida = r.blinks[a].id % ZUB_MAX_ANCHOR_NUM;
    const WORD16 idb = r.blinks[b].id % ZUB_MAX_ANCHOR_NUM;
    const WORD64 now_ms = now();
    build_paths(ida, r.blinks[a].toa, now_ms, c.toa_ignore_time, anchor_paths[0]);
    build_paths(idb, r.blinks[b].toa, now_ms, c.toa_ignore_time, anchor_paths[1]);
    const double range =
        ZUB_SPEED_OF_LIGHT * zub_wrap_difference(anchor_paths[0].path[0].toa - anchor_paths[1].path[0].toa);
    if (!(std::fabs(range) < kCoupleTolerance * d)) {
        ZUB_TAG_PRINT(tag->id, ZUB_PRINT_MSG, "tagId:%16" PRIx64 " delta_distance:%f distance:%f", tag->id, range,
                      static_cast<double>(d));
        return false;
    }
    anchor_id = ida;
    const double* pa = cfg[a].position;
    const double* pb = cfg[b].position;
    double x = pa[0] + (d + range) * (pb[0] - pa[0]) / (2.0 * d);
    const area_t* area = zub_get_anchor_area(c, ida);
    if (area == nullptr) {
        ZUB_TAG_PRINT(tag->id, ZUB_PRINT_MSG, "area get by anchor(%d) failed.", ida);
        return false;
    }
    const sub_area_t* corridor = first_corridor(area);
    if (corridor == nullptr) {
        ZUB_TAG_PRINT(tag->id, ZUB_PRINT_MSG, "area has no sub area,anchor(%d).", ida);
        return false;
    }
    const auto* p1 = reinterpret_cast<const point_t*>(corridor->points.head);
    const auto* p2 = reinterpret_cast<const point_t*>(corridor->points.tail);
    x = std::max<double>(x, p1->x);
    x = std::min<double>(x, p2->x);
    const double share = (tag->id & 1) != 0 ? 0.67 : 0.33;
    pos.set_size(3);
    pos(0) = x;
    pos(1) = p1->y + (p2->y - p1->y) * share;
    pos(2) = 0.0;
    return true;
}

bool Selector::calculete_position_in_multiple_mode(Tag* tag, arma::rowvec& pos)
{
    const context_t& c = ctx();
    const int composed = c.zubWirelessSync == 0 ? SelectAndComposeForWiredSynch(&tag->blinkReports)
                                                : compose_wireless(tag, round_dist_.get());
    if (composed != 1) {
        return false;
    }
    arma::rowvec est;
    if (multilaterator.setAnchors(anchorCoords, c.zubSolver3D) != 0) {
        est = multilaterator.multilaterate(tdoa, anchorCoords, c.zubSolver3D);
    }
    if (est.n_elem != 3) {
        return false;
    }
    pos = est;  // what is sent when the filter type has nothing to filter with
    switch (zub_load(c.enable_motion_filter)) {
    case 0:
    case 2:
        Motion_Filter_ME(tag->me, est, pos);
        break;
    case 1:
        Motion_Filter_MA(tag->ma, est, pos);
        break;
    case 3: {
        const blinks_t& r = tag->blinkReports;
        for (unsigned i = 0; i < r.nBlinks && i < ZUB_MAX_BLINKS_PER_ROUND; ++i) {
            if (r.blinks[i].id == tag->prev_blink.id) {
                double dt = r.blinks[i].toa - tag->prev_blink.toa;
                if (dt < 0) {
                    dt += ZUB_DEVICE_TIME_PERIOD_S;
                }
                Motion_Filter(tag->k, dt, est, pos);
                break;
            }
        }
        break;
    }
    default:
        break;
    }
    return true;
}

bool Selector::round_has_listed_root(Tag* tag, WORD64 now_ms)
{
    const context_t& c = ctx();
    const blinks_t& r = tag->blinkReports;
    for (unsigned i = 0; i < r.nBlinks && i < ZUB_MAX_BLINKS_PER_ROUND; ++i) {
        paths_t& ap = anchor_paths[i];
        build_paths(r.blinks[i].id % ZUB_MAX_ANCHOR_NUM, 0.0, now_ms, kListedRootAge, ap);
        const WORD64 hw = c.anchors[ap.path[0].node[ap.path[0].deep - 1]].hardware_id;
        if (hw == ZUB_SPECIAL_ANCHOR_A || hw == ZUB_SPECIAL_ANCHOR_B) {
            return true;
        }
    }
    return false;
}

void Selector::solve_tag(Tag* tag, WORD64 now_ms)
{
    const context_t& c = ctx();
    forget_cs_cache();
    round_dist_ = zub_distance_snapshot();
    blinks_t& r = tag->blinkReports;

    arma::rowvec pos(3, arma::fill::zeros);
    bool ok = false;
    WORD64 anc = 0;
    bool single_ish = true;
    tag->multi_couple_count[tag->multi_couple_idx % ZUB_TAG_HISTORY] =
        static_cast<BYTE>(r.count_couple_mode + r.count_multiple_mode);
    ++tag->multi_couple_idx;
    const auto busy = std::count_if(std::begin(tag->multi_couple_count), std::end(tag->multi_couple_count),
                                    [](BYTE v) { return v > kBusyRoundCount; });
    if (busy > static_cast<long>(kSingleIshLimit)) {
        single_ish = false;
    }

    WORD16 id = 0;
    ok = calculete_position_in_single_mode(tag, pos, id, false);
    anc = id;
    int mode = kModeSingle;
    if (!ok) {
        if (r.count_multiple_mode >= c.min_mulitiple) {
            ++tag->statistic.multi_total;
            ok = calculete_position_in_multiple_mode(tag, pos);
            if (ok && !finite3(pos)) {
                ok = false;
            }
            if (!ok) {
                ++tag->statistic.multi_failed;
            }
            mode = kModeMultiple;
            anc = 0;
            for (unsigned i = 0; i < syncbl.nBlinks; ++i) {
                const WORD16 row_id = syncbl.blinks[i].id % ZUB_MAX_ANCHOR_NUM;
                if (c.anchors[row_id].config_snapshot().mode == ZUB_ANCHOR_WORKING_MODE_MULTIPLE) {
                    anc = row_id;
                    break;
                }
            }
        } else if (r.count_couple_mode > 1) {
            ok = calculete_position_in_couple_mode(tag, pos, id);
            anc = id;
            mode = kModeCouple;
        }
        if (tag->last_push_pos.sub_area_type == ZUB_SUB_AREA_TYPE_SIINGLE && single_ish) {
            mode = kModeSingle;
            ok = true;
            pos(0) = tag->last_push_pos.x;
            pos(1) = tag->last_push_pos.y;
            pos(2) = 0.0;
            anc = tag->last_push_pos.anchor_id;
        }
    } else if (!single_ish && !round_has_listed_root(tag, now_ms)) {
        ok = false;
        if (r.count_couple_mode > 1) {
            ok = calculete_position_in_couple_mode(tag, pos, id);
            anc = id;
            mode = kModeCouple;
        }
    }
    if (ok && !finite3(pos)) {
        ok = false;  // never a position of infinities or NaN
    }

    pos_t p{pos(0), pos(1), pos(2), 0, now_ms, ZUB_SUB_AREA_TYPE_MULTI};
    WORD16 filter_anchor = anc < ZUB_MAX_ANCHOR_NUM ? static_cast<WORD16>(anc) : 0xFFFF;
    const bool rejected = zub_position_filter(c, tag, p, filter_anchor, ok) != 0;

    if (ok && !rejected && mode == kModeMultiple) {
        const auto multi = std::count_if(std::begin(tag->multi_pos), std::end(tag->multi_pos),
                                         [](const pos_t& m) { return m.sub_area_type == ZUB_SUB_AREA_TYPE_MULTI; });
        if (multi < static_cast<long>(kMultiHistoryNeeded)) {
            ok = false;
            if (r.count_couple_mode > 1) {
                ok = calculete_position_in_couple_mode(tag, pos, id);
                anc = id;
                p.x = pos(0);
                p.y = pos(1);
                p.z = pos(2);
                mode = kModeCouple;
            }
        }
    }

    if (ok) {
        const int base_idx =
            base_anchor_id >= 0 && base_anchor_id < static_cast<int>(ZUB_MAX_ANCHOR_NUM)
                ? c.anchors[base_anchor_id].config_snapshot().idx
                : 0;
        ZUB_TAG_PRINT(tag->id, ZUB_PRINT_MSG, "%16" PRIx64 ":%4u [%.1f %.1f] M%d B%u %u-%u-%u-%u %.1f %s single=%d",
                      tag->id, static_cast<unsigned>(base_idx), p.x, p.y, mode, syncbl.nBlinks, r.count_single_mode,
                      r.count_couple_mode, r.count_multiple_mode, r.nBlinks, tag->variance, rejected ? " ignore" : "",
                      single_ish ? 1 : 0);
    }
    if (ok && !rejected) {
        pos_t& last = tag->last_push_pos;
        if (std::fabs(p.x - last.x) > kSmoothingJump) {
            ZUB_TAG_PRINT(tag->id, ZUB_PRINT_MSG, "tag_id:%" PRIx64 " delta=%.1f", tag->id, p.x - last.x);
        }
        if (last.x != 0.0 && last.y != 0.0) {
            p.x = (last.x + p.x) / 2;
            p.y = (last.y + p.y) / 2;
        }
        last = p;
        tag->last_time = now_ms;
        last.anchor_id = anc;
        msg_position_t rec{};
        rec.anchor_mode = static_cast<BYTE>(mode);
        rec.tag_id = tag->id;
        rec.anchor_id = anc < ZUB_MAX_ANCHOR_NUM ? c.anchors[anc].hardware_id : 0;
        rec.x = zub_metres_to_mm(p.x);
        rec.y = zub_metres_to_mm(p.y);
        rec.z = zub_metres_to_mm(p.z);
        send(ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, &rec, sizeof rec);
    }
    close_round(tag);
}

void Selector::count_missing_blinks(Tag* tag)
{
    const blinks_t& r = tag->blinkReports;
    if (tag->prev_sequence_valid) {
        const BYTE d = static_cast<BYTE>(r.seqNum - tag->prevSeqNum);
        if (d > 1) {
            tag->statistic.multi_missing += d - 1;
        }
    }
    tag->prevSeqNum = r.seqNum;
    tag->prev_sequence_valid = true;
}

void Selector::close_round(Tag* tag)
{
    blinks_t& r = tag->blinkReports;
    count_missing_blinks(tag);
    r.nBlinks = 0;
    r.count_single_mode = 0;
    r.count_couple_mode = 0;
    r.count_multiple_mode = 0;
    tag->prev_blink = r.blinks[0];
    syncbl.nBlinks = 0;
}
