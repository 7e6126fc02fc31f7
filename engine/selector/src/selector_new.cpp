// The alternative composition: every clock-sync path of an anchor, and arrivals grouped by
// clock master and converted into the time base of the master nearest the tag. Nothing in
// the engine calls it; it is kept working for comparison runs.
#include <algorithm>
#include <cmath>
#include <limits>

#include "zub_selector.h"

int Selector::zub_create_paths_new(paths_t& paths, int depth, WORD16 anchor, double toa)
{
    paths.count = 0;
    WORD16 nodes[ZUB_PATH_NODES] = {};
    // Depth first over every valid master slot; a path is recorded at each root.
    auto visit = [&](auto&& self, WORD16 at, unsigned level, double t) -> void {
        if (paths.count >= ZUB_PATHS_PER_ARRIVAL || at >= ZUB_MAX_ANCHOR_NUM) {
            return;
        }
        nodes[level] = at;
        const Anchor& a = ctx().anchors[at];
        const unsigned slots = std::min<unsigned>(a.cs_count(), ZUB_MAX_MASTERS);
        bool followed = false;
        if (static_cast<int>(level) + 1 < depth && level + 1 < ZUB_PATH_NODES) {
            for (unsigned s = 0; s < slots; ++s) {
                const ClockSync& cs = cs_slot(at, s);
                if (cs.master == nullptr || !cs.valid_sync || cs.master->id >= ZUB_MAX_ANCHOR_NUM) {
                    continue;
                }
                followed = true;
                self(self, cs.master->id, level + 1, cs.cs_kalman.syncTOA(t));
            }
        }
        if (!followed && slots == 0 && paths.count < ZUB_PATHS_PER_ARRIVAL) {
            path_t& p = paths.path[paths.count++];
            std::copy(nodes, nodes + level + 1, p.node);
            p.deep = level + 1;
            p.toa = t;
        }
    };
    visit(visit, anchor, 0, toa);
    return static_cast<int>(paths.count);
}

int Selector::calculate_tdoa_new(Tag* tag)
{
    if (tag == nullptr) {
        return 0;
    }
    round_dist_ = zub_distance_snapshot();
    forget_cs_cache();
    const context_t& c = ctx();
    blinks_t& round = tag->blinkReports;
    const unsigned n = std::min<unsigned>(round.nBlinks, ZUB_MAX_BLINKS_PER_ROUND);

    // Groups: the masters that some arrival's anchor follows (or is).
    WORD16 masters[ZUB_MAX_BLINKS_PER_ROUND];
    unsigned groups = 0;
    auto add_group = [&](WORD16 id) {
        if (std::find(masters, masters + groups, id) == masters + groups && groups < ZUB_MAX_BLINKS_PER_ROUND) {
            masters[groups++] = id;
        }
    };
    for (unsigned i = 0; i < n; ++i) {
        const WORD16 id = round.blinks[i].id % ZUB_MAX_ANCHOR_NUM;
        const unsigned slots = std::min<unsigned>(c.anchors[id].cs_count(), ZUB_MAX_MASTERS);
        if (slots == 0) {
            add_group(id);
        }
        for (unsigned s = 0; s < slots; ++s) {
            const ClockSync& cs = cs_slot(id, s);
            if (cs.master != nullptr && cs.valid_sync && cs.master->id < ZUB_MAX_ANCHOR_NUM) {
                add_group(cs.master->id);
            }
        }
    }
    if (groups == 0) {
        return 0;
    }
    // The master nearest the tag's mean position.
    unsigned chosen = 0;
    double nearest = std::numeric_limits<double>::infinity();
    for (unsigned g = 0; g < groups; ++g) {
        const AnchorConfig cfg = c.anchors[masters[g]].config_snapshot();
        const double d = std::hypot(cfg.position[0] - tag->average_pos.x, cfg.position[1] - tag->average_pos.y);
        if (d < nearest) {
            nearest = d;
            chosen = g;
        }
    }
    const WORD16 master = masters[chosen];

    anchorCoords.set_size(n, 3);
    tdoa.set_size(n);
    unsigned rows = 0;
    for (unsigned i = 0; i < n; ++i) {
        const WORD16 id = round.blinks[i].id % ZUB_MAX_ANCHOR_NUM;
        double t = 0.0;
        bool in_group = id == master;
        if (in_group) {
            t = round.blinks[i].toa;
        } else {
            const unsigned slots = std::min<unsigned>(c.anchors[id].cs_count(), ZUB_MAX_MASTERS);
            for (unsigned s = 0; s < slots && !in_group; ++s) {
                const ClockSync& cs = cs_slot(id, s);
                if (cs.master != nullptr && cs.valid_sync && cs.master->id == master) {
                    t = cs.cs_kalman.syncTOA(round.blinks[i].toa);
                    in_group = true;
                }
            }
        }
        if (!in_group) {
            continue;
        }
        const AnchorConfig cfg = c.anchors[id].config_snapshot();
        anchorCoords(rows, 0) = cfg.position[0];
        anchorCoords(rows, 1) = cfg.position[1];
        anchorCoords(rows, 2) = cfg.position[2];
        syncbl.blinks[rows] = round.blinks[i];
        tdoa(rows) = t;
        ++rows;
    }
    if (rows == 0 || static_cast<int>(rows) < c.min_mulitiple) {
        return 0;
    }
    anchorCoords.resize(rows, 3);
    tdoa.resize(rows);
    const double base = tdoa(0);
    for (unsigned r = 0; r < rows; ++r) {
        tdoa(r) = zub_wrap_difference(tdoa(r) - base);
    }
    syncbl.nBlinks = static_cast<BYTE>(rows);
    base_anchor_id = syncbl.blinks[0].id;
    unsigned index = 0;
    if (find_zeroth_anchor_in(&syncbl, index, round_dist_.get()) != nullptr && index < rows) {
        swap_rows(0, index);
    }
    return 1;
}
