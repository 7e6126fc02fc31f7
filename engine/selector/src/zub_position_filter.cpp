// The position filter, area lookup and sub-area typing.
#include <cinttypes>
#include <cmath>

#include "zub_position_filter.h"
#include "zub_print.h"
#include "zub_print_layer.h"

namespace {

struct Rect {
    double x1, y1, x2, y2;
};

// The rectangle of a sub-area: its first point lower-left, its last upper-right. False
// for fewer than two points.
bool rect_of(const sub_area_t* s, Rect& r)
{
    if (s->points.count < 2 || s->points.head == nullptr || s->points.tail == nullptr) {
        return false;
    }
    const auto* p1 = reinterpret_cast<const point_t*>(s->points.head);
    const auto* p2 = reinterpret_cast<const point_t*>(s->points.tail);
    r = Rect{p1->x, p1->y, p2->x, p2->y};
    return true;
}

double planar(const pos_t& a, const pos_t& b)
{
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y));
}

}  // namespace

area_t* zub_get_anchor_area(const context_t& ctx, WORD16 anchor_id)
{
    WORD16 id = anchor_id;
    for (unsigned hop = 0; hop <= ZUB_AREA_MAX_MASTERS; ++hop) {
        if (id >= ZUB_MAX_ANCHOR_NUM) {
            return nullptr;
        }
        const Anchor& a = ctx.anchors[id];
        if (a.cs_count() == 0) {
            return a.area;
        }
        const ClockSync slot = a.cs_snapshot(0);
        if (slot.master == nullptr) {
            return a.area;
        }
        id = slot.master->id;
    }
    return nullptr;  // masters in a cycle
}

e_sub_area_type zub_judge_sub_area(const pos_t& pos, const area_t* area)
{
    if (area == nullptr) {
        return ZUB_SUB_AREA_TYPE_MULTI;
    }
    bool has_multi = false;
    for (const node_t* n = area->sub_area.head; n != nullptr; n = n->next) {
        const auto* s = reinterpret_cast<const sub_area_t*>(n);
        Rect r{};
        if (!rect_of(s, r)) {
            continue;
        }
        if (r.x1 < pos.x && pos.x < r.x2 && r.y1 < pos.y && pos.y < r.y2) {
            return s->type;
        }
        has_multi = has_multi || s->type == ZUB_SUB_AREA_TYPE_MULTI;
    }
    return has_multi ? ZUB_SUB_AREA_TYPE_UNKNOWN : ZUB_SUB_AREA_TYPE_MULTI;
}

int zub_in_corridor_area(const context_t& ctx, const pos_t& pos, WORD16 anchor_id)
{
    const area_t* area = zub_get_anchor_area(ctx, anchor_id);
    if (area == nullptr) {
        return 0;
    }
    for (const node_t* n = area->sub_area.head; n != nullptr; n = n->next) {
        const auto* s = reinterpret_cast<const sub_area_t*>(n);
        Rect r{};
        if (s->type == ZUB_SUB_AREA_TYPE_CORRIDOR && rect_of(s, r) && r.x1 + ZUB_CORRIDOR_END_MARGIN < pos.x &&
            pos.x < r.x2 - ZUB_CORRIDOR_END_MARGIN) {
            return 1;
        }
    }
    return 0;
}

int zub_position_filter(const context_t& ctx, Tag* tag, pos_t& pos, WORD16& anchor_id, bool solved)
{
    if (!solved) {
        if (tag->multi_idx < ZUB_TAG_HISTORY - 1) {
            ++tag->multi_idx;
        }
        tag->multi_pos[tag->multi_idx].sub_area_type = ZUB_SUB_AREA_TYPE_UNKNOWN;
        if (++tag->ignore_count > ZUB_TAG_HISTORY - 1) {
            tag->ignore_count = 0;
            tag->history_idx = 0;
            tag->history_count = 0;
        }
        ZUB_TAG_PRINT(tag->id, ZUB_PRINT_MSG, "%16" PRIx64 ": failed", tag->id);
        return 1;
    }

    if (tag->history_count == ZUB_TAG_HISTORY) {
        const pos_t& last = tag->history_pos[(tag->history_idx + ZUB_TAG_HISTORY - 1) % ZUB_TAG_HISTORY];
        const double dist = planar(last, pos);
        const double speed = dist / static_cast<double>(pos.msec - last.msec) * 1000.0;
        const bool settled = ctx.max_position_variance > tag->variance;
        const bool suspect =
            settled ? (speed > ctx.max_human_speed && dist > ZUB_JUMP_FREE_DISTANCE) : speed > ZUB_MAX_ANY_SPEED;
        if (suspect) {
            if (++tag->ignore_count < ZUB_TAG_HISTORY) {
                return 1;
            }
            tag->ignore_count = 0;
            tag->history_idx = 0;
            tag->history_count = 0;
        }
    }

    const bool known = anchor_id < ZUB_MAX_ANCHOR_NUM;
    const BYTE mode = known ? ctx.anchors[anchor_id].config_snapshot().mode : 0xFF;
    if (known && mode == ZUB_ANCHOR_WORKING_MODE_SINGLE) {
        pos.sub_area_type = ZUB_SUB_AREA_TYPE_SIINGLE;
    } else {
        pos.sub_area_type = zub_judge_sub_area(pos, zub_get_anchor_area(ctx, anchor_id));
    }
    if (known && mode == ZUB_ANCHOR_WORKING_MODE_MULTIPLE) {
        tag->multi_idx = static_cast<WORD16>((tag->multi_idx + 1) % ZUB_TAG_HISTORY);
        tag->multi_pos[tag->multi_idx] = pos;
    }
    tag->history_pos[tag->history_idx] = pos;
    if (tag->history_count < ZUB_TAG_HISTORY) {
        ++tag->history_count;
    }
    tag->history_idx = static_cast<WORD16>((tag->history_idx + 1) % ZUB_TAG_HISTORY);
    tag->ignore_count = 0;

    if (tag->history_count == ZUB_TAG_HISTORY) {
        double sx = 0.0;
        double sy = 0.0;
        for (const pos_t& h : tag->history_pos) {
            sx += h.x;
            sy += h.y;
        }
        tag->average_pos = pos_t{};
        tag->average_pos.x = sx / ZUB_TAG_HISTORY;
        tag->average_pos.y = sy / ZUB_TAG_HISTORY;
        double var = 0.0;
        for (const pos_t& h : tag->history_pos) {
            var += (h.x - tag->average_pos.x) * (h.x - tag->average_pos.x) +
                   (h.y - tag->average_pos.y) * (h.y - tag->average_pos.y);
        }
        tag->variance = var / ZUB_TAG_HISTORY;
    }
    return 0;
}
