// zub_anchor.h - one anchor: identity, link, per-tag blink counts, clock-sync slots,
// configuration, ranging and training settings, area. Instances exist only in
// context_t.anchors (indexed by local id) and live for the whole process.
//
// Who writes what, and the guard of each group (readers on other threads use the named
// accessors, never the guarded fields directly):
// - identity (id, hardware_id), ip, port, version, area, area_attribute: written by the
//   control job while loading the configuration at power-on, before the other jobs start;
//   read by all without a guard (the start handshake publishes them).
// - run-time configuration (idx, mode, master, position, ranging settings, antenna
//   delays, lag_delay, anc_power, reference, training, clockOffset, tofDiff): rewritten
//   by the control job ("anchor cfg", "tag training"); cfg_seq lets any thread take one
//   consistent AnchorConfig (config_snapshot); the writer holds cfg_lock and publishes
//   with config_publish. The containers masters, rfDistanceToMaster, trainingTags and
//   trainingState are used only under cfg_lock (find_master, rf_distance_to, add_master).
// - clock sync (nMaster, csMaster): written by the clock-sync job and ResetCCP, every
//   writer holding zub_ccp_lock(); read by the selectors through cs_count and
//   cs_snapshot, one consistent slot copy per use (cs_lock). The transmit tables
//   validCCPSeqNum, CCPTxTime and pendingSync are used only under zub_ccp_lock().
// - tag counts (tag_cnt, tag_blink): the three manager jobs count at once with
//   count_tag_blink (atomic counts; a new tag is added under count_lock, so no report
//   is lost and no tag is listed twice); readers use blink_table_size / blink_entry.
//   tag_index maps a tag id to its tag_blink entry: its slots are filled under
//   count_lock with release stores and looked up without the lock.
// - link (tcp_sock.sock, tcp_sock.ev, timeConnected, timeDisconnected): link_lock.
//   Opened by the reconnection job, closed by the socket, reconnection and control jobs:
//   link_take hands the open link to exactly one closer. Senders hold link_lock around a
//   send so the descriptor cannot be closed and reused under them. tcp_sock.rcv_buff and
//   rcv_len belong to the socket job's reactor thread alone.
// - single fields written by one job and read by others (is_req_cfg, last_ccp_time,
//   prevLogNum, prevLogNumSet): zub_load / zub_store.
// init and operator= run only while no other job uses the record (configuration load).
#pragma once

#include <netinet/in.h>
#include <sys/time.h>

#include <armadillo>
#include <list>
#include <map>
#include <mutex>

#include "VorlenTypes.h"
#include "seq_lock.h"
#include "zub_area.h"
#include "zub_clock_sync.h"
#include "zub_guard_mutex.h"

struct event;

constexpr WORD16 ZUB_MAX_ANCHOR_NUM = 10000;
constexpr WORD16 ZUB_MAX_TAG_PER_ANCHOR = 10000;
constexpr unsigned ZUB_MAX_MASTERS = 16;
constexpr unsigned ZUB_ANCHOR_RCV_BUFF_LEN = 8092;
// Slots of an anchor's tag lookup index: a power of two, so that a full tag table fills
// at most 61% of it and a lookup stays within a few probes.
constexpr unsigned ZUB_TAG_INDEX_BITS = 14;
constexpr unsigned ZUB_TAG_INDEX_SLOTS = 1u << ZUB_TAG_INDEX_BITS;

enum : BYTE {
    ZUB_ANCHOR_WORKING_MODE_MULTIPLE = 0,
    ZUB_ANCHOR_WORKING_MODE_SINGLE = 1,
    ZUB_ANCHOR_WORKING_MODE_COUPLE = 2,
};

class Anchor;

struct tag_blink_info_t {
    WORD64 blink_cnt;
    WORD64 tag_id;
};

// Entry of Anchor::masters: a clock master this anchor may follow.
struct anchor_idx_t {
    WORD16 id;       // local id
    WORD16 rsvd[3];
    WORD64 anc_id;   // hardware id
};

// A clock-sync reception that arrived before its transmit report.
struct RxCCPReport {
    double rxTime;
    BYTE seqNum;
    Anchor* anc;  // the slave
};

struct RxToaReport {
    double rxTime;
    WORD64 rxTime64;
    Anchor* anc;
    BYTE seqNum;
};

// Training state of one (anchor, tag) pair in wired synchronisation.
struct TagTraining {
    TagTraining();

    std::list<RxToaReport> pendingToa;
    double rxTime;
    double seqNum;
    WORD64 rxTime64;
};

struct AreaAttribute {
    double length;
    double width;
    int dimension;  // 0 straight line, 1 plane, 2 space
};

// The link of one anchor.
struct tcp_sock_t {
    struct event* ev;  // reactor event; null = none
    WORD32 sock;       // 0 = no link
    WORD16 rcv_len;    // bytes held in rcv_buff
    WORD16 rsvd;
    BYTE rcv_buff[ZUB_ANCHOR_RCV_BUFF_LEN];
};

// One consistent copy of an anchor's run-time configuration.
struct AnchorConfig {
    int idx;
    BYTE mode;
    int master;
    int reference;
    WORD64 id_to_follow;
    BYTE use_tof;
    BYTE four_anc_mode;
    BYTE use_ant_delay;
    WORD16 tof_delayed;
    WORD16 tof_anc_id;
    WORD16 ant_delay_rx;
    WORD16 ant_delay_tx;
    int lag_delay;
    WORD32 anc_power;
    int training;
    double clockOffset;
    double tofDiff;
    double position[3];  // x, y, z in metres
};

// State of the link as one reader sees it at one moment.
struct AnchorLinkState {
    WORD32 sock;
    bool ever_connected;  // timeConnected was stamped at least once
    timeval timeConnected;
    timeval timeDisconnected;
};

class Anchor {
public:
    // --- identity and link: written at configuration load (is_req_cfg, last_ccp_time: zub_store)
    WORD16 id;
    WORD64 hardware_id;
    int idx;
    BYTE mode;
    bool is_req_cfg;
    WORD64 last_ccp_time;
    timeval timeConnected;     // link_lock
    timeval timeDisconnected;  // link_lock

    // --- tag counts: count_tag_blink (managers), blink_table_size / blink_entry (readers)
    GuardMutex count_lock;
    WORD16 tag_cnt;
    tag_blink_info_t tag_blink[ZUB_MAX_TAG_PER_ANCHOR];
    // Open-addressed lookup of tag_blink by tag id: a slot holds entry + 1, 0 when free.
    // A slot is written once per tag, after the entry's tag id and before tag_cnt.
    WORD16 tag_index[ZUB_TAG_INDEX_SLOTS];

    // --- clock sync: writers hold zub_ccp_lock(); readers use cs_count / cs_snapshot
    SeqLock cs_lock;
    WORD16 nMaster;
    ClockSync csMaster[ZUB_MAX_MASTERS];
    std::list<anchor_idx_t> masters;             // cfg_lock
    std::map<WORD64, double> rfDistanceToMaster; // cfg_lock
    int validCCPSeqNum[256];                     // zub_ccp_lock()
    double CCPTxTime[256];                       // zub_ccp_lock()
    std::list<RxCCPReport> pendingSync;          // zub_ccp_lock()

    // --- clock-offset training (wired synchronisation); control job
    int rxDiffCount;
    double rxDiffBuffer[500];
    double rxDiffprev;
    double clockOffset;  // cfg_seq
    double clockOffsetMean;
    double clockOffsetMedian;
    double clockOffsetTrain;
    double sumClockOffset;
    int numTrainingBlinks;
    int totalTrainingBlinks;
    int training;   // cfg_seq
    double tofDiff; // cfg_seq

    // --- ranging settings: cfg_seq
    BYTE use_tof;
    BYTE four_anc_mode;
    BYTE use_ant_delay;
    WORD16 tof_delayed;
    WORD16 tof_anc_id;

    // --- tag training: cfg_lock
    std::map<WORD64, WORD64> trainingTags;
    std::map<WORD64, TagTraining*> trainingState;

    // --- configuration (master, position, reference, delays, id_to_follow, lag_delay: cfg_seq)
    char version[64];
    int master;
    struct in_addr ip;  // network order
    WORD16 port;
    arma::rowvec position;  // 3 elements once init has run
    int configured;
    int reference;
    WORD16 ant_delay_rx;
    WORD16 ant_delay_tx;
    WORD64 id_to_follow;
    int lag_delay;

    // --- link: link_lock (rcv_buff / rcv_len: the socket job's thread)
    mutable GuardMutex link_lock;
    tcp_sock_t tcp_sock;

    // --- log: zub_store / zub_load
    WORD32 prevLogNum;
    int prevLogNumSet;

    // --- area: configuration load (anc_power: cfg_seq)
    area_t* area;
    WORD32 anc_power;
    AreaAttribute area_attribute;

    // --- run-time configuration guard
    mutable GuardMutex cfg_lock;
    SeqLock cfg_seq;

    // ---------------------------------------------------------------- operations

    // &anchors[local id] of a mapped hardware id, or null when the id is unknown.
    static Anchor* zub_get_anchor_by_hardware_id(WORD64 hardware_id);

    // Brings the record into use (configuration load): identity, defaults, CCP state
    // reset, tag counts cleared. mode, ip, port, version, tcp_sock and the time stamps
    // stay as they are.
    void init(WORD64 hardware_id, WORD16 id);

    // Clears the clock-sync pairs: nMaster 0, no master in any slot (the slots' other
    // state stays), every sequence entry -1, every transmit time 0, no pending reception.
    // Takes zub_ccp_lock() itself; any thread.
    void ResetCCP();

    // Dotted text of ip, in a buffer of the calling thread that its next call overwrites.
    const char* getIpPrint() const;

    // Slot 0..15 whose master has this hardware id, or -1. Any thread.
    int GetSynchedToaIndex(WORD64 master_hardware_id) const;
    // The live slot whose master has this hardware id, or null. Clock-sync writers only
    // (holding zub_ccp_lock()): read it, then change it through cs_edit.
    ClockSync* GetCCPSynchronizer(WORD64 master_hardware_id);

    // --- clock-sync readers (any thread)
    WORD16 cs_count() const;
    ClockSync cs_snapshot(unsigned slot) const;
    // --- clock-sync writers (holding zub_ccp_lock())
    void cs_publish(unsigned slot, const ClockSync& value);
    void cs_set_count(WORD16 n);
    // Copies the live slot, lets `edit` change the copy, publishes it.
    template <class F>
    void cs_edit(ClockSync* live, F&& edit)
    {
        ClockSync work = *live;
        edit(work);
        cs_publish(static_cast<unsigned>(live - csMaster), work);
    }

    // --- run-time configuration
    AnchorConfig config_snapshot() const;           // any thread
    void config_publish(const AnchorConfig& value); // control job, holding cfg_lock
    // First entry of masters with this hardware id; false when none. Any thread.
    bool find_master(WORD64 master_hardware_id, anchor_idx_t* out) const;
    // rfDistanceToMaster entry of this master, 0 when absent. Any thread.
    double rf_distance_to(WORD64 master_hardware_id) const;
    // Appends the master to masters and its distance to rfDistanceToMaster (an existing
    // distance is kept). Control job.
    void add_master(const anchor_idx_t& entry, double rfdistance);

    // --- tag counts
    // Counts one report of the tag: its entry's count goes up by one, or a new tag is
    // added with the count it holds (0 after init). False when the table is full and the
    // tag is not in it. Any number of threads at once.
    bool count_tag_blink(WORD64 tag_id);
    WORD16 blink_table_size() const;
    tag_blink_info_t blink_entry(unsigned i) const;  // i < blink_table_size()

    // --- link
    // Records a new link and stamps timeConnected; false (nothing recorded) while one is open.
    bool link_record(WORD32 sock, struct event* ev);
    // Adds the reactor event to a link recorded without one (a link is recorded before it
    // is attached, so that a read callback firing at once finds it). False when the link
    // was taken meanwhile or is another one: the caller then detaches the event itself.
    bool link_set_event(WORD32 sock, struct event* ev);
    // Takes the open link away and stamps timeDisconnected: exactly one of several
    // concurrent callers gets true, with the socket and event that it must then detach
    // and close (after link_take has returned, holding no lock). False when no link is open.
    bool link_take(WORD32* sock, struct event** ev);
    // The link's socket, 0 when none (a momentary value, for status checks).
    WORD32 link_socket() const;
    AnchorLinkState link_state() const;
};

// The writers' lock of all clock-sync state (context_t::ccpLock).
std::mutex& zub_ccp_lock();
