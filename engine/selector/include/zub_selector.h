// zub_selector.h - one selector: the tags it owns, the collection of their reports into
// rounds, the composition of a round into time differences over synchronised anchors, the
// reference-anchor choice, the TDoA round that turns rounds into positions, and the TOF
// round that turns a tag's ranges into one.
//
// A Selector holds its tags within a TagBudget shared with the other selectors (its own one,
// of the engine's size, when none is given): a new tag at the bound takes over the record of
// a tag silent long enough or is refused (zub_tag_budget.h). A forgotten tag that comes back
// starts afresh, as a new tag does.
//
// A Selector makes no platform call. It gets the time from its environment's clock, hands
// its records to its environment's sink and reads the anchors, the clock-sync slots and the
// configuration through the context it is given (anchor configuration as one
// config_snapshot per anchor and use, clock-sync slots as one cs_snapshot per slot and tag
// round, g_distance as one snapshot per round). It is driven by report, tick and start
// calls from one thread at a time: its selector job's thread (or a test or replay tool).
#pragma once

#include <armadillo>
#include <deque>
#include <functional>
#include <vector>

#include "CNPlatLogLimit.h"
#include "MultiLateration.h"
#include "VorlenTypes.h"
#include "rb_tree.h"
#include "zub_context.h"
#include "zub_distance.h"
#include "zub_road_shed.h"
#include "zub_selector_records.h"
#include "zub_tag.h"
#include "zub_tag_budget.h"
#include "zub_tag_roster.h"

constexpr unsigned ZUB_PATH_NODES = 20;
constexpr unsigned ZUB_PATHS_PER_ARRIVAL = 32;
constexpr unsigned ZUB_STAT_ENTRIES = 32;
constexpr unsigned ZUB_CHAIN_DEPTH = 18;
constexpr unsigned ZUB_INITIAL_HOPS = 40;
// The two anchors that never contribute arrivals and whose roots ask for four-way pairing.
constexpr WORD64 ZUB_SPECIAL_ANCHOR_A = 0x082261444EF1C493ull;
constexpr WORD64 ZUB_SPECIAL_ANCHOR_B = 0x082261444EF1C621ull;
// The late-comer window: the last solved blink and up to eight before it.
constexpr BYTE ZUB_LATE_WINDOW_LOW = 247;
constexpr unsigned ZUB_TIMER_TYPE_SOLVE = 140;

// One clock-sync path of an arrival, from its anchor up to a root.
struct path_t {
    WORD16 node[ZUB_PATH_NODES];  // local ids: node[0] the reporting anchor
    WORD32 deep;                  // nodes filled
    double toa;                   // the arrival in the root's time base, s
};

// The paths of one arrival of the round being solved.
struct paths_t {
    path_t path[ZUB_PATHS_PER_ARRIVAL];
    WORD32 count;
    float average_distance;  // sum, then mean, of the hop counts of successful pairings
    WORD32 cnt_accesse;      // successful pairings
    WORD16 anc_id;           // the anchor's idx
};

// Single-mode tally entry.
struct stat_t {
    WORD16 id;
    WORD16 count;
};

// What a selector is given instead of making platform calls.
struct SelectorEnv {
    std::function<WORD64()> now_ms;  // wall-clock ms
    // One record to the display job: event id, bytes.
    std::function<void(WORD32 event, const void* data, WORD16 len)> send;
    context_t* ctx = nullptr;  // null: zub_context()
    // Monotonic ms: how long a tag has been silent (null: now_ms). Shared by the selectors
    // of one budget.
    std::function<WORD64()> steady_ms;
    // The bound shared with other selectors (null: the selector's own) and this selector's
    // place in it, 0..TagBudget::kHolders-1. Set before the first report.
    TagBudget* tag_budget = nullptr;
    unsigned budget_holder = 0;
    // Where a tag refused at the bound is marked for the frame router's gate, which then drops
    // its reports under load before they cost a selector another refusal (null: nowhere).
    RefusedTags* refused_tags = nullptr;
};

// A difference of two times of the wrapping device clock, brought into [-H, H).
double zub_wrap_difference(double diff);

class Selector {
public:
    Selector();
    explicit Selector(SelectorEnv env);
    // Frees its tag records and gives them back to the budget.
    ~Selector();
    Selector(const Selector&) = delete;
    Selector& operator=(const Selector&) = delete;

    void set_env(SelectorEnv env) { env_ = std::move(env); }
    bool has_env() const { return static_cast<bool>(env_.now_ms); }

    // --- intake (returns 0 when handled, 1 when the length rules reject the message)
    int recv_toa_report(const BYTE* data, WORD32 length);
    int recv_toa_imu_report(const BYTE* data, WORD32 length);
    int recv_tof_report(const BYTE* data, WORD32 length);
    void process_toa_report(const Anchor* anchor, BYTE seq, WORD64 tag_id, double toa);
    void process_tof_report(WORD16 anchor_id, BYTE seq, WORD64 tag_id, int32_t distance);
    int process_traning_tag(WORD64 tag_id, BYTE seq, double toa, WORD64 raw_time);
    void recv_montion_filter_start();
    // The tag's record, heard now; a new tag gets one within the budget. Null when the
    // budget refuses it (the refusal is counted and logged) or memory runs out.
    Tag* find_tag(WORD64 tag_id);
    // The record of a tag already held, heard at now_ms; null for a tag with none (it gets none).
    Tag* hear_held_tag(WORD64 tag_id, WORD64 now_ms);
    // Frees, longest silent first, as many records as other selectors asked for, of tags
    // silent long enough (the solve tick does this first).
    void free_requested_records();
    TagBudget& tag_budget() { return env_.tag_budget != nullptr ? *env_.tag_budget : own_budget_; }
    // The entries of the open-round lists the ticks walk, TDoA and ranging (a tag listed twice
    // counts twice): a forgotten tag must leave none behind, as its record is freed.
    struct OpenRoundCounts {
        size_t tdoa;
        size_t ranging;
    };
    OpenRoundCounts open_round_counts() const { return {open_.size(), tof_open_.size()}; }

    // --- composition (the round's g_distance snapshot is taken by each call)
    int calculate_tdoa(Tag* tag);
    int SelectAndComposeForWiredSynch(blinks_t* blinks);
    int find_min_distance(const paths_t& a, const paths_t& b, double distance, double& tdoa, int& hops,
                          WORD64 tag_id) const;
    Anchor* find_zeroth_anchor(const blinks_t* blinks, unsigned& index);
    // The time-base arrival of a wired round (index written) and its anchor; null for none.
    Anchor* findTimeBaseAnchorWired(const blinks_t* blinks, unsigned& index);
    int calculate_tdoa_new(Tag* tag);
    static int ComputeGlobalDistanceMatrix(int flag);
    static void FreeGlobalDistanceMatrix();

    // --- the TDoA round
    void recv_timer_periodic_calculate();
    bool calculete_position_in_single_mode(Tag* tag, arma::rowvec& pos, WORD16& anchor_id, bool force);
    bool calculete_position_in_couple_mode(Tag* tag, arma::rowvec& pos, WORD16& anchor_id);
    bool calculete_position_in_multiple_mode(Tag* tag, arma::rowvec& pos);
    pos_t fitting_position(const Tag* tag, pos_t pos, int mode) const;
    static double pos_distance(const pos_t& a, const pos_t& b);

    // --- the TOF round and its ranging solvers (selector_tof.cpp). The solvers work on the
    // tag's range records; each gives back the reported anchor's hardware id and the
    // record's mode byte; the bool arguments are not used.
    void recv_timer_periodic_calculate_tof();
    bool calculete_position_in_single_mode_tof(Tag* tag, arma::rowvec& result, WORD64& anchor_hw_id, bool,
                                               BYTE& mode);
    bool calculete_position_in_couple_mode_tof(Tag* tag, arma::rowvec& result, WORD64& anchor_hw_id, bool,
                                               BYTE& mode);
    bool trilateration_tof_2d(Tag* tag, arma::rowvec& result, WORD64& anchor_hw_id, BYTE& mode, bool);
    bool trilateration_tof_3d(Tag* tag, arma::rowvec& result, WORD64& anchor_hw_id, BYTE& mode, bool);
    // Horizontal range of the tag's first range record seen from `anchor` (0 when the
    // range is shorter than the anchor's height above the tags), less the half corridor
    // width for an anchor of a straight-line area.
    double calculate_distance_projection_x(const Anchor* anchor, const Tag* tag) const;
    double calculate_distance_projection_xy(const Anchor* anchor, double d) const;
    double calculate_distance_projection_y_to_x(const Anchor* anchor, double d) const;
    static double anchor_to_base_point_distance(const Anchor* anchor);
    // The immediate fix of a negative range from a master anchor, from the tag's first
    // range of the current round; nothing when the tag holds none.
    void tof_immediate_fix(WORD64 tag_id, WORD16 reporting_anchor);

    // --- fields in the record's order
    RBTree<unsigned long, Tag> tags;
    int base_anchor_id = 0;
    blinks_t syncbl{};
    arma::mat anchorCoords;
    arma::rowvec tdoa;
    MultiLateration multilaterator;
    paths_t anchor_paths[ZUB_MAX_BLINKS_PER_ROUND]{};
    stat_t stat[ZUB_STAT_ENTRIES]{};
    WORD16 stat_count = 0;

    // The periodic solve timer's id; ZUB_INVALID_TIMER_ID (all ones) while none runs.
    WORD32 solve_timer = 0xFFFFFFFFu;

    // --- helpers shared by the composition and the round
    context_t& ctx() const { return env_.ctx != nullptr ? *env_.ctx : *zub_context(); }
    WORD64 now() const { return env_.now_ms(); }
    void send(WORD32 event, const void* data, WORD16 len) const
    {
        if (env_.send) {
            env_.send(event, data, len);
        }
    }
    // Fills `out` with the clock-sync paths of anchor `id` for an arrival at `toa`: every
    // slot with a master, valid and updated at most `max_age_ms` ago, followed up the chain;
    // the anchor alone when none qualifies.
    void build_paths(WORD16 id, double toa, WORD64 now_ms, WORD64 max_age_ms, paths_t& out);
    // Follows slot 0 of each master from `anchor` while `depth` lasts; returns the time in
    // the last reached anchor's base.
    double zub_cretate_path(WORD16* nodes, int depth, WORD16 anchor, double toa, WORD32& deep);
    // Every clock-sync path of `anchor` to a root, depth first (at most 32); uncalled.
    int zub_create_paths_new(paths_t& paths, int depth, WORD16 anchor, double toa);
    void forget_cs_cache() { cs_cache_.clear(); }

private:
    struct CsEntry {
        WORD16 anchor;
        BYTE slot;
        ClockSync value;
    };
    // One copy of an anchor's slot per tag round.
    const ClockSync& cs_slot(WORD16 anchor, unsigned slot);
    int compose_wireless(Tag* tag, const DistanceMatrix* dist);
    Anchor* find_zeroth_anchor_in(const blinks_t* blinks, unsigned& index, const DistanceMatrix* dist);
    void swap_rows(unsigned a, unsigned b);
    void solve_tag(Tag* tag, WORD64 now_ms);
    void close_round(Tag* tag);
    // Counts the blinks missed between the tag's last closed round and this one (the 8-bit
    // sequence wraps), then remembers this round's sequence number.
    static void count_missing_blinks(Tag* tag);
    bool round_has_listed_root(Tag* tag, WORD64 now_ms);

    SelectorEnv env_;
    // The tags whose round holds arrivals, with the time the round opened: the tick looks at
    // these, not at every tag, and touches a tag only when its round may be due. Sorted by
    // id up to open_sorted_; arrivals since the last tick append. A tag may be listed twice
    // or with an emptied round (its round reset from outside): the tick merges those and
    // checks the tag itself before solving.
    struct OpenRound {
        WORD64 id;
        WORD64 first_ms;
        Tag* tag;
    };
    std::vector<OpenRound> open_;
    // The tags whose ranging round holds ranges (pushed when a round's first range comes);
    // the TOF tick looks only at these and checks each tag itself.
    std::vector<Tag*> tof_open_;
    std::vector<Tag*> tof_due_;
    void solve_tof_tag(Tag* tag, WORD64 now_ms);
    void close_tof_round(Tag* tag);
    std::vector<OpenRound> still_open_;
    size_t open_sorted_ = 0;
    // Every tag of the tree by id and by the time it was last heard (a tree node's value
    // stays put until its tag is forgotten, so the pointers stay good).
    TagRoster roster_;
    TagBudget own_budget_{ZUB_TAG_RECORDS_MAX, ZUB_TAG_SILENCE_MS};
    CN_LogLimit refused_log_;
    CN_LogLimit taken_over_log_;
    WORD64 steady_now() const { return env_.steady_ms ? env_.steady_ms() : env_.now_ms(); }
    Tag* admit_new_tag(WORD64 tag_id, WORD64 now_ms);
    // Drops the new tag's report: counted, logged, and another selector asked to free a record.
    void refuse_new_tag(WORD64 tag_id, WORD64 now_ms);
    // Forgets a tag silent long enough, counted and logged as taken over by new_tag (null: freed
    // for another selector's new tag).
    void forget_silent(const TagRoster::Entry& silent, WORD64 now_ms, const WORD64* new_tag);
    // Forgets the tag: frees its tree node and every list entry of it; the budget is left as
    // it is.
    void drop_record(WORD64 tag_id);
    // The longest-silent tag when it has been silent for the budget's silence at now_ms.
    const TagRoster::Entry* silent_oldest(WORD64 now_ms);
    void publish_oldest();
    WORD64 published_oldest_ = TagBudget::kNoTag;
    std::deque<CsEntry> cs_cache_;  // references stay valid while it grows
    DistanceRef round_dist_;  // the snapshot of the tag being solved
};
