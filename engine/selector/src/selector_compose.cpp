// Time-difference composition: clock-sync paths of each arrival, the best pairing of two
// arrivals, the reference arrival and the working rows of a round, wireless and wired.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <limits>

#include "zub_device_time.h"
#include "zub_public.h"
#include "zub_print.h"
#include "zub_print_layer.h"
#include "zub_selector.h"

namespace {

bool is_special_root(const context_t& c, WORD16 id)
{
    const WORD64 hw = c.anchors[id % ZUB_MAX_ANCHOR_NUM].hardware_id;
    return hw == ZUB_SPECIAL_ANCHOR_A || hw == ZUB_SPECIAL_ANCHOR_B;
}

int64_t age_ms(WORD64 now_ms, WORD64 then_ms)
{
    return static_cast<int64_t>(now_ms - then_ms);
}

}  // namespace

// A difference of two times of one wrapping clock, brought into [-H, H): a blink that
// straddles the wrap otherwise differs by a whole period.
double zub_wrap_difference(double diff)
{
    if (diff >= ZUB_DEVICE_TIME_HALF_PERIOD_S) {
        diff -= ZUB_DEVICE_TIME_PERIOD_S;
    } else if (diff < -ZUB_DEVICE_TIME_HALF_PERIOD_S) {
        diff += ZUB_DEVICE_TIME_PERIOD_S;
    }
    return diff;
}

const ClockSync& Selector::cs_slot(WORD16 anchor, unsigned slot)
{
    for (const CsEntry& e : cs_cache_) {
        if (e.anchor == anchor && e.slot == slot) {
            return e.value;
        }
    }
    cs_cache_.push_back(CsEntry{anchor, static_cast<BYTE>(slot), ctx().anchors[anchor].cs_snapshot(slot)});
    return cs_cache_.back().value;
}

double Selector::zub_cretate_path(WORD16* nodes, int depth, WORD16 anchor, double toa, WORD32& deep)
{
    const context_t& c = ctx();
    unsigned at = 0;
    while (depth > 0 && anchor < ZUB_MAX_ANCHOR_NUM) {
        if (c.anchors[anchor].cs_count() == 0) {
            break;
        }
        const ClockSync& cs = cs_slot(anchor, 0);
        if (cs.master == nullptr || !cs.valid_sync || cs.master->id >= ZUB_MAX_ANCHOR_NUM) {
            break;
        }
        const WORD16 master = cs.master->id;
        nodes[at++] = master;
        ++deep;
        toa = cs.cs_kalman.syncTOA(toa);
        anchor = master;
        --depth;
    }
    return toa;
}

void Selector::build_paths(WORD16 id, double toa, WORD64 now_ms, WORD64 max_age_ms, paths_t& out)
{
    out.count = 0;
    const unsigned slots = std::min<unsigned>(ctx().anchors[id].cs_count(), ZUB_MAX_MASTERS);
    for (unsigned s = 0; s < slots; ++s) {
        const ClockSync& cs = cs_slot(id, s);
        if (cs.master == nullptr || !cs.valid_sync || cs.master->id >= ZUB_MAX_ANCHOR_NUM ||
            age_ms(now_ms, cs.last_update_time) > static_cast<int64_t>(max_age_ms)) {
            continue;
        }
        path_t& p = out.path[out.count];
        p.node[0] = id;
        p.node[1] = cs.master->id;
        p.deep = 2;
        const double t = cs.cs_kalman.syncTOA(toa);
        p.toa = zub_cretate_path(p.node + 2, ZUB_CHAIN_DEPTH, p.node[1], t, p.deep);
        ++out.count;
    }
    if (out.count == 0) {
        path_t& p = out.path[0];
        p.node[0] = id;
        p.deep = 1;
        p.toa = toa;
        out.count = 1;
    }
}

int Selector::find_min_distance(const paths_t& a, const paths_t& b, double distance, double& tdoa_out, int& hops,
                                WORD64) const
{
    hops = ZUB_INITIAL_HOPS;
    bool found = false;
    for (unsigned i = 0; i < a.count && i < ZUB_PATHS_PER_ARRIVAL; ++i) {
        const path_t& p = a.path[i];
        for (unsigned j = 0; j < b.count && j < ZUB_PATHS_PER_ARRIVAL; ++j) {
            const path_t& q = b.path[j];
            if (p.deep == 0 || q.deep == 0 || p.node[p.deep - 1] != q.node[q.deep - 1]) {
                continue;
            }
            const double diff = zub_wrap_difference(q.toa - p.toa);
            if (!(std::fabs(ZUB_SPEED_OF_LIGHT * diff) <= distance)) {
                continue;
            }
            int k = 2;
            while (static_cast<int>(p.deep) >= k && static_cast<int>(q.deep) >= k &&
                   p.node[p.deep - k] == q.node[q.deep - k]) {
                ++k;
            }
            const int h = static_cast<int>(p.deep + q.deep) - 2 * k + 2;
            if (h < hops) {
                tdoa_out = diff;
                hops = h;
                found = true;
                if (h == 1) {
                    return 1;
                }
            }
        }
    }
    return found ? 1 : 0;
}

void Selector::swap_rows(unsigned a, unsigned b)
{
    anchorCoords.swap_rows(a, b);
    std::swap(tdoa(a), tdoa(b));
    std::swap(syncbl.blinks[a], syncbl.blinks[b]);
}

int Selector::calculate_tdoa(Tag* tag)
{
    round_dist_ = zub_distance_snapshot();
    forget_cs_cache();
    return compose_wireless(tag, round_dist_.get());
}

int Selector::compose_wireless(Tag* tag, const DistanceMatrix* dist)
{
    const context_t& c = ctx();
    if (tag == nullptr) {
        return 0;
    }
    blinks_t& round = tag->blinkReports;
    const unsigned n = std::min<unsigned>(round.nBlinks, ZUB_MAX_BLINKS_PER_ROUND);
    if (static_cast<int>(n) < c.min_mulitiple || n == 0) {
        return 0;
    }
    anchorCoords.set_size(n, 3);
    tdoa.set_size(n);
    const WORD64 now_ms = now();
    int need = c.min_mulitiple;

    for (unsigned i = 0; i < n; ++i) {
        Blink& b = round.blinks[i];
        b.id = b.id % ZUB_MAX_ANCHOR_NUM;
        paths_t& ap = anchor_paths[i];
        build_paths(b.id, b.toa, now_ms, c.toa_ignore_time, ap);
        ap.average_distance = 0.0f;
        ap.cnt_accesse = 0;
        ap.anc_id = static_cast<WORD16>(c.anchors[b.id].config_snapshot().idx);
        if (is_special_root(c, ap.path[0].node[ap.path[0].deep - 1])) {
            need = 4;
        }
    }

    for (unsigned i = 0; i < n; ++i) {
        for (unsigned j = i + 1; j < n; ++j) {
            double diff = 0.0;
            int h = 0;
            const float d = zub_distance_at(dist, round.blinks[i].id, round.blinks[j].id);
            if (find_min_distance(anchor_paths[i], anchor_paths[j], d, diff, h, tag->id) != 0) {
                ++anchor_paths[i].cnt_accesse;
                ++anchor_paths[j].cnt_accesse;
                anchor_paths[i].average_distance += static_cast<float>(h);
                anchor_paths[j].average_distance += static_cast<float>(h);
            }
        }
    }

    auto qualifies = [&](unsigned i) { return static_cast<int>(anchor_paths[i].cnt_accesse) + 1 >= need; };
    unsigned k = n;
    for (unsigned i = 0; i < n; ++i) {
        if (qualifies(i)) {
            k = i;
            break;
        }
    }
    if (k == n) {
        ZUB_TAG_PRINT(tag->id, ZUB_PRINT_MSG, "can't find mulitiple array");
        return 0;
    }
    for (unsigned m = k; m < n; ++m) {
        paths_t& ap = anchor_paths[m];
        // No pairing: no mean hop count, so it can never beat a real one.
        ap.average_distance = ap.cnt_accesse > 0 ? ap.average_distance / static_cast<float>(ap.cnt_accesse)
                                                 : std::numeric_limits<float>::infinity();
    }
    for (unsigned m = k + 1; m < n; ++m) {
        if (qualifies(m) && anchor_paths[m].average_distance < anchor_paths[k].average_distance) {
            k = m;
        }
    }
    base_anchor_id = round.blinks[k].id;

    unsigned rows = 0;
    for (unsigned i = 0; i < n; ++i) {
        double diff = 0.0;
        int h = 0;
        if (i != k) {
            const float d = zub_distance_at(dist, round.blinks[k].id, round.blinks[i].id);
            if (find_min_distance(anchor_paths[k], anchor_paths[i], d, diff, h, tag->id) == 0) {
                continue;
            }
            ZUB_TAG_PRINT(tag->id, ZUB_PRINT_MSG, "%16" PRIx64 ":%6.1f(%u-%u %u)", tag->id, diff * ZUB_SPEED_OF_LIGHT,
                          anchor_paths[i].anc_id, anchor_paths[k].anc_id, h);
        }
        const AnchorConfig cfg = c.anchors[round.blinks[i].id].config_snapshot();
        anchorCoords(rows, 0) = cfg.position[0];
        anchorCoords(rows, 1) = cfg.position[1];
        anchorCoords(rows, 2) = cfg.position[2];
        syncbl.blinks[rows] = round.blinks[i];
        tdoa(rows) = diff;
        ++rows;
    }
    syncbl.nBlinks = static_cast<BYTE>(rows);
    anchorCoords.resize(rows, 3);
    tdoa.resize(rows);

    if (c.zeroAlgorithmEnable == 0) {
        return 1;
    }
    unsigned index = 0;
    if (find_zeroth_anchor_in(&syncbl, index, dist) == nullptr || index >= rows) {
        return 1;
    }
    swap_rows(0, index);
    return 1;
}

Anchor* Selector::findTimeBaseAnchorWired(const blinks_t* blinks, unsigned& index)
{
    context_t& c = ctx();
    const unsigned n = std::min<unsigned>(blinks->nBlinks, ZUB_MAX_BLINKS_PER_ROUND);
    if (n == 0) {
        return nullptr;
    }
    int last_reference = -1;
    for (unsigned i = 0; i < n; ++i) {
        const Anchor& a = c.anchors[blinks->blinks[i].id % ZUB_MAX_ANCHOR_NUM];
        if (a.config_snapshot().reference == 0) {
            continue;
        }
        if (a.cs_count() == 0) {
            index = i;
            return &c.anchors[blinks->blinks[i].id % ZUB_MAX_ANCHOR_NUM];
        }
        last_reference = static_cast<int>(i);
    }
    index = last_reference >= 0 ? static_cast<unsigned>(last_reference) : n - 1;
    return &c.anchors[blinks->blinks[index].id % ZUB_MAX_ANCHOR_NUM];
}

int Selector::SelectAndComposeForWiredSynch(blinks_t* blinks)
{
    round_dist_ = zub_distance_snapshot();
    const context_t& c = ctx();
    const unsigned n = std::min<unsigned>(blinks->nBlinks, ZUB_MAX_BLINKS_PER_ROUND);
    anchorCoords.set_size(n, 3);
    tdoa.set_size(n);
    syncbl.nBlinks = static_cast<BYTE>(n);
    if (n == 0) {
        blinks->nBlinks = 0;
        return 1;
    }
    unsigned base = 0;
    findTimeBaseAnchorWired(blinks, base);
    for (unsigned i = 0; i < n; ++i) {
        const Blink& b = blinks->blinks[i];
        const AnchorConfig cfg = c.anchors[b.id % ZUB_MAX_ANCHOR_NUM].config_snapshot();
        anchorCoords(i, 0) = cfg.position[0];
        anchorCoords(i, 1) = cfg.position[1];
        anchorCoords(i, 2) = cfg.position[2];
        syncbl.blinks[i] = b;
        tdoa(i) = i == base ? 0.0 : zub_wrap_difference(b.syncedToa[0] - blinks->blinks[base].syncedToa[0]);
    }
    unsigned index = 0;
    if (find_zeroth_anchor_in(&syncbl, index, round_dist_.get()) != nullptr && index < n) {
        swap_rows(0, index);
    }
    // Only the reordered arrivals go back: the round keeps its own sequence, counts, ranges.
    std::copy(syncbl.blinks, syncbl.blinks + n, blinks->blinks);
    blinks->nBlinks = static_cast<BYTE>(n);
    return 1;
}

int Selector::ComputeGlobalDistanceMatrix(int)
{
    const context_t& c = *zub_context();
    const unsigned n = c.anchor_count % ZUB_MAX_ANCHOR_NUM;
    if (n == 0) {
        return -1;
    }
    auto m = std::make_shared<DistanceMatrix>(n);
    auto usable = [&](const Anchor& a) { return a.id <= ZUB_MAX_ANCHOR_NUM && a.hardware_id != 0; };
    std::vector<AnchorConfig> cfg(n);
    for (unsigned i = 0; i < n; ++i) {
        cfg[i] = c.anchors[i].config_snapshot();
    }
    for (unsigned i = 0; i < n; ++i) {
        const Anchor& ai = c.anchors[i];
        if (!usable(ai)) {
            ZUB_PRINT(ZUB_PRINT_ERROR, "i == %d,anc_id = %d hardware_id = %" PRIx64, i, ai.id, ai.hardware_id);
            continue;
        }
        for (unsigned j = 0; j < n; ++j) {
            if (j == i) {
                continue;
            }
            const Anchor& aj = c.anchors[j];
            if (!usable(aj)) {
                ZUB_PRINT(ZUB_PRINT_ERROR, "j == %d,anc_id = %d hardware_id = %" PRIx64, j, aj.id, aj.hardware_id);
                continue;
            }
            const double dx = cfg[i].position[0] - cfg[j].position[0];
            const double dy = cfg[i].position[1] - cfg[j].position[1];
            const double dz = cfg[i].position[2] - cfg[j].position[2];
            m->d[static_cast<size_t>(i) * n + j] = static_cast<float>(std::sqrt(dx * dx + dy * dy + dz * dz));
        }
    }
    zub_distance_publish(std::move(m));
    return 0;
}

void Selector::FreeGlobalDistanceMatrix()
{
    zub_distance_publish(nullptr);
}
