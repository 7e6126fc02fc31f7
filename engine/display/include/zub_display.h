// zub_display.h - the display job's logic: the report streams to clients, the anchor status
// codes, the tag statistics file and the trace lists.
//
// Plain code driven by the messages and timer expiries of the display job (on_event), an
// injected wall clock and the client lists behind display_clients; the job entry
// (zub_display_job.h) is a thin adapter that owns one instance. Files live under an injected
// root ("/qvx/zub" in the engine): "<root>/cfg/tag_trace.cfg", "<root>/cfg/anc_trace.cfg" (read
// as zub_trace_file.h says: regular files only, their first MiB) and
// "<root>/log/tag_all_statistics.txt".
//
// Display job's thread only. It reads the anchors' link and clock-sync times that other jobs
// write (link_state, zub_load) and replaces the context's trace lists whole (zub_trace_replace).
#pragma once

#include <sys/types.h>

#include <functional>
#include <istream>
#include <vector>
#include <memory>
#include <string>

#include "VorlenTypes.h"
#include "zub_anchor.h"
#include "zub_client_output.h"
#include "zub_display_frames.h"
#include "zub_display_records.h"

class context_t;

constexpr size_t ZUB_SEND_BUFF_LEN = 2048;
constexpr unsigned ZUB_TAG_STATISTICS_MAX = 10000;

// Timer types of the display job.
enum : BYTE {
    ZUB_DISPLAY_TIMER_TAG_LOC = 140,
    ZUB_DISPLAY_TIMER_TAG_EXT = 141,
    ZUB_DISPLAY_TIMER_ANC_STAT = 142,
    ZUB_DISPLAY_TIMER_TRACE = 143,
    ZUB_DISPLAY_TIMER_STATISTICS = 144,
};
constexpr WORD32 ZUB_DISPLAY_FILE_PERIOD_S = 5;
constexpr WORD32 ZUB_SYNC_STALE_MS = 3000;

// States of the display and reconnection jobs.
enum : WORD16 {
    ZUB_JOB_STATE_POWER_ON = 0,
    ZUB_JOB_STATE_RUNNING = 1,
    ZUB_JOB_STATE_WAIT_START = 6,
};

// One batch of frames of one stream. cnt counts frames (wider than a byte, so a large
// max_num cannot wrap it).
struct send_buff_t {
    WORD16 cnt;
    BYTE buff[ZUB_SEND_BUFF_LEN];
};

struct tag_statistics_t {
    WORD16 tag_cnt;
    tag_blink_info_t tag_blink[ZUB_TAG_STATISTICS_MAX];
};

// What the display job asks of the platform.
class display_platform {
public:
    virtual ~display_platform() = default;
    virtual void power_on_ack() = 0;
    virtual void start_ok() = 0;  // the empty acknowledgement to the control job
    // Starts a periodic timer of `ms` milliseconds carrying the timer type.
    virtual void start_loop_timer_ms(BYTE type, WORD32 ms) = 0;
};

class display_core {
public:
    display_core(context_t& ctx, display_clients& clients, display_platform& platform,
                 std::function<WORD64()> wall_ms, std::string root);

    // One message in the job's state; returns the next state. `timer_para` is the parameter
    // word of the timer that fired (messages 2029/2030 only).
    WORD16 on_event(WORD16 state, WORD32 msg_id, const BYTE* body, size_t len, WORD32 timer_para);

    void on_tag_loc(const msg_position_t& pos);
    void on_tag_ext(const msg_imu_t& imu);
    void on_anchor_status(WORD16 local_id);
    void on_raw_blink(const msg_raw_blink_t& blink);
    void on_raw_ccp(const dac_ccp_rx_t& rx);
    void on_timer(BYTE type);

    // The status code of an anchor as a client sees it now.
    BYTE anchor_status(WORD16 local_id) const;
    void read_trace_files();
    void write_tag_statistics();

    const tag_statistics_t& tag_statistics() const { return *stats_; }
    const send_buff_t& batch(display_stream s) const;
    const client_output& output() const { return out_; }

private:
    struct batch_t {
        send_buff_t buf;
        size_t frame_len;
        display_stream stream;
    };

    WORD16 on_wait_start(WORD32 msg_id);
    void on_running(WORD32 msg_id, const BYTE* body, size_t len, WORD32 timer_para);
    void start_timers();
    void append(batch_t& b, const BYTE* frame, WORD16 max_num);
    void flush(batch_t& b);
    batch_t& batch_of(display_stream s);
    void count_blink(WORD64 tag_id);
    // One trace file into its list: a regular file replaces the list, nothing at the path keeps
    // it (and prints `missing_line`), anything else empties it (said once while it stays so:
    // `refused` holds the type last refused, 0 when none).
    template <class List>
    void read_trace_file(const char* name, const char* missing_line, List& list, mode_t& refused);

    context_t& ctx_;
    display_platform& platform_;
    std::function<WORD64()> wall_ms_;
    std::string root_;
    client_output out_;
    batch_t tag_loc_buff_;
    batch_t tag_ext_buff_;
    batch_t anc_stat_buff_;
    std::unique_ptr<tag_statistics_t> stats_;
    // Where each counted tag sits in stats_ (see zub_tag_index.h): every raw blink is counted,
    // so a scan of the table per blink would grow with the tags on site.
    std::vector<WORD16> stat_index_;
    mode_t tag_trace_refused_ = 0;
    mode_t anc_trace_refused_ = 0;
};

// Reads hexadecimal ids separated by white space: at most ZUB_TRACE_MAX_IDS, stopping at the
// first entry that is not a hexadecimal id of at most 64 bits.
std::vector<WORD64> zub_parse_trace_ids(std::istream& in);
