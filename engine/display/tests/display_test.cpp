// The display job's logic on fake client lists, a recording platform and a fixed clock:
// states and timers, every stream's frames and batches, anchor status codes, the tag
// statistics file and the trace lists.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "display_fakes.h"
#include "zub_anchor_reset.h"
#include "zub_context.h"
#include "zub_msg_id.h"
#include "zub_shared_field.h"
#include "zub_timer.h"
#include "zub_trace_list.h"

namespace {

using dt::Bytes;
using S = display_stream;

constexpr WORD64 kNow = 1'700'000'000'000ull;

Bytes frame_of(size_t (*enc)(const msg_position_t&, BYTE*), const msg_position_t& p)
{
    BYTE b[ZUB_FRAME_MAX_LEN];
    return Bytes(b, b + enc(p, b));
}

Bytes repeat(const Bytes& frame, size_t n)
{
    Bytes out;
    for (size_t i = 0; i < n; ++i) {
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

std::vector<size_t> sizes(const dt::fake_client& c)
{
    std::vector<size_t> out;
    for (const Bytes& s : c.sends) {
        out.push_back(s.size());
    }
    return out;
}

class engine_display_Core : public ::testing::Test {
protected:
    void SetUp() override
    {
        ctx_ = zub_context();
        ctx_->displayer_type = ZUB_DISPLAYER_TYPE_ORIGINAL;
        ctx_->tag_loc = {12346, 1, 20};
        ctx_->tag_ext = {12348, 3, 30};
        ctx_->anc_stat = {12347, 10, 40};
        zub_store(ctx_->zubRTLSStarted, 0);
        zub_trace_replace(ctx_->tag_trace_cfg, nullptr, 0);
        zub_trace_replace(ctx_->anc_trace_cfg, nullptr, 0);
        for (WORD16 i = 0; i < 4; ++i) {
            reset_anchor(i, 0xA000 + i);
        }
        core_ = std::make_unique<display_core>(*ctx_, clients_, platform_, [this] { return now_; }, root_.path());
    }

    void TearDown() override
    {
        for (WORD16 i = 0; i < 4; ++i) {
            reset_anchor(i, 0);
        }
        zub_trace_replace(ctx_->tag_trace_cfg, nullptr, 0);
        zub_trace_replace(ctx_->anc_trace_cfg, nullptr, 0);
    }

    void reset_anchor(WORD16 i, WORD64 hardware_id) { zub_test_reset_anchor(ctx_->anchors[i], hardware_id, i); }

    void trace_tags(std::initializer_list<WORD64> ids)
    {
        const std::vector<WORD64> v(ids);
        zub_trace_replace(ctx_->tag_trace_cfg, v.data(), static_cast<unsigned>(v.size()));
    }

    context_t* ctx_ = nullptr;
    WORD64 now_ = kNow;
    dt::temp_root root_;
    dt::fake_clients clients_;
    dt::fake_platform platform_;
    std::unique_ptr<display_core> core_;
};

const msg_position_t kPos{4, 0x1122334455667788ull, 0x0102030405060708ull, 1500, -2, 300};

TEST_F(engine_display_Core, StatesAcknowledgePowerOnThenStartTimersOnTheStartEvent)
{
    dt::print_capture prints;
    struct Row {
        WORD16 state;
        WORD32 msg;
        WORD16 next;
        int acks, start_oks;
        size_t unknown_prints;
    };
    const Row rows[] = {
        {0, 6000, 6, 1, 0, 0},
        {0, 6002, 6, 1, 0, 0},
        {0, ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, 0, 0, 0, 1},
        {6, ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, 6, 0, 0, 1},
        {6, ZUB_EV_CTRL_XX_INIT_START, 1, 0, 1, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.msg);
        dt::fake_platform p;
        display_core core(*ctx_, clients_, p, [] { return kNow; }, root_.path());
        const size_t before = prints.count_of("display rcv unknow msg id " + std::to_string(r.msg));
        EXPECT_EQ(core.on_event(r.state, r.msg, nullptr, 0, 0), r.next);
        EXPECT_EQ(p.acks, r.acks);
        EXPECT_EQ(p.start_oks, r.start_oks);
        EXPECT_EQ(prints.count_of("display rcv unknow msg id " + std::to_string(r.msg)) - before, r.unknown_prints);
    }
    EXPECT_EQ(core_->on_event(1, 0x12345, nullptr, 0, 0), 1);
    EXPECT_EQ(prints.count_of("recv error unknown msgid(74565)"), 1u);
}

TEST_F(engine_display_Core, StartArmsTheFlushAndFileTimersAndAZeroPeriodAtOneMs)
{
    dt::print_capture prints;
    struct Row {
        WORD16 loc, ext, stat;
        std::vector<std::pair<BYTE, WORD32>> timers;
        size_t zero_lines;
    };
    const Row rows[] = {
        {20, 30, 40, {{140, 20}, {141, 30}, {142, 40}, {143, 5000}, {144, 5000}}, 0},
        {0, 30, 0, {{140, 1}, {141, 30}, {142, 1}, {143, 5000}, {144, 5000}}, 2},
    };
    for (const Row& r : rows) {
        dt::fake_platform p;
        ctx_->tag_loc.sleep_time = r.loc;
        ctx_->tag_ext.sleep_time = r.ext;
        ctx_->anc_stat.sleep_time = r.stat;
        display_core core(*ctx_, clients_, p, [] { return kNow; }, root_.path());
        const size_t before = prints.lines().size();
        EXPECT_EQ(core.on_event(6, ZUB_EV_CTRL_XX_INIT_START, nullptr, 0, 0), 1);
        EXPECT_EQ(p.timers, r.timers);
        EXPECT_EQ(prints.lines().size() - before, r.zero_lines);
    }
}

TEST_F(engine_display_Core, APositionGoesToLocationDisplayAndTracedRawPositionClients)
{
    struct Row {
        WORD16 displayer_type;
        bool traced;
        Bytes display;
        size_t raw_sends;
    };
    const Row rows[] = {
        {0, true, frame_of(zub_frame_display_original, kPos), 1},
        {1, false, frame_of(zub_frame_display_norvat, kPos), 0},
        {2, true, {}, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.displayer_type);
        dt::fake_clients clients;
        auto& loc1 = clients.add(S::tag_loc, 0, 10);
        auto& loc2 = clients.add(S::tag_loc, 5, 11);
        auto& disp = clients.add(S::dsply, 0, 12);
        auto& raw = clients.add(S::dac_pos, 0, 13);
        ctx_->displayer_type = r.displayer_type;
        if (r.traced) {
            trace_tags({kPos.tag_id});
        } else {
            trace_tags({kPos.tag_id + 1});
        }
        display_core core(*ctx_, clients, platform_, [] { return kNow; }, root_.path());
        core.on_event(1, ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, reinterpret_cast<const BYTE*>(&kPos), sizeof kPos, 0);

        const Bytes loc = frame_of(zub_frame_tag_loc, kPos);
        EXPECT_EQ(loc1.sends, std::vector<Bytes>{loc});
        EXPECT_EQ(loc2.sends, std::vector<Bytes>{loc});
        EXPECT_EQ(disp.sends, r.display.empty() ? std::vector<Bytes>{} : std::vector<Bytes>{r.display});
        ASSERT_EQ(raw.sends.size(), r.raw_sends);
        if (r.raw_sends == 1) {
            EXPECT_EQ(raw.sends[0], frame_of(zub_frame_raw_pos, kPos));
        }
        EXPECT_EQ(core.batch(S::tag_loc).cnt, 0);
    }
}

TEST_F(engine_display_Core, ExtensionAndStatusBatchByMaxNumByTimerAndNeverPastTheBuffer)
{
    const msg_imu_t imu{0x77, 0x0102030405060708ull, 5, 20, 60, 0};
    BYTE ext_frame[ZUB_FRAME_TAG_EXT_LEN];
    zub_frame_tag_ext(imu, ext_frame);
    struct Row {
        S stream;
        WORD16 max_num;
        size_t frames;
        std::vector<size_t> by_count;  // send sizes before the timer
        std::vector<size_t> by_timer;  // sends the timer adds
    };
    const Row rows[] = {
        {S::tag_ext, 3, 3, {81}, {}},
        {S::tag_ext, 3, 7, {81, 81}, {27}},
        {S::tag_ext, 3, 2, {}, {54}},
        {S::tag_ext, 0, 5, {}, {135}},
        {S::tag_ext, 100, 100, {2025}, {675}},
        {S::anc_stat, 10, 10, {130}, {}},
        {S::anc_stat, 100, 130, {1300}, {390}},
        {S::anc_stat, 200, 200, {2041}, {559}},
        {S::anc_stat, 0, 4, {}, {52}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(static_cast<unsigned>(r.stream)) + "/" + std::to_string(r.max_num) + "/" +
                     std::to_string(r.frames));
        dt::fake_clients clients;
        auto& c = clients.add(r.stream, 3, 20);
        ctx_->tag_ext.max_num = r.max_num;
        ctx_->anc_stat.max_num = r.max_num;
        display_core core(*ctx_, clients, platform_, [] { return kNow; }, root_.path());
        for (size_t i = 0; i < r.frames; ++i) {
            if (r.stream == S::tag_ext) {
                core.on_event(1, ZUB_EV_SELECTOR_DISPLAY_TAG_EXT, reinterpret_cast<const BYTE*>(&imu), sizeof imu, 0);
            } else {
                const BYTE id[2] = {2, 0};
                core.on_event(1, ZUB_EV_RECON_DISPLAY_MSG, id, 2, 0);
            }
        }
        EXPECT_EQ(sizes(c), r.by_count);
        const BYTE timer = r.stream == S::tag_ext ? 141 : 142;
        core.on_event(1, ZUB_EV_LOOP_TIMER, nullptr, 0, zub_timer_para(timer, 0));
        std::vector<size_t> all = r.by_count;
        all.insert(all.end(), r.by_timer.begin(), r.by_timer.end());
        EXPECT_EQ(sizes(c), all);
        EXPECT_EQ(core.batch(r.stream).cnt, 0);
        if (r.stream == S::tag_ext) {
            EXPECT_EQ(c.received, repeat(Bytes(ext_frame, ext_frame + 27), r.frames));
        } else {
            // Anchor 2 never connected: status 0 in every frame.
            BYTE f[ZUB_FRAME_ANC_STAT_LEN];
            zub_frame_anc_stat(0xA002, 0, f);
            EXPECT_EQ(c.received, repeat(Bytes(f, f + 13), r.frames));
        }
    }
}

TEST_F(engine_display_Core, AnchorStatusCodes)
{
    enum Link { never, dropped, linked };
    struct Row {
        const char* name;
        Link link;
        int started;
        WORD64 ccp_age_ms;
        BYTE status;
    };
    const Row rows[] = {
        {"never connected", never, 1, 0, 0},
        {"socket 0 after a link", dropped, 1, 99999, 3},
        {"linked, sync fresh", linked, 1, 3000, 1},
        {"linked, sync stale", linked, 1, 3001, 4},
        {"linked, stale but not started", linked, 0, 99999, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        reset_anchor(1, 0xA001);
        Anchor& a = ctx_->anchors[1];
        if (r.link != never) {
            ASSERT_TRUE(a.link_record(77, nullptr));
        }
        if (r.link == dropped) {
            WORD32 s = 0;
            struct event* ev = nullptr;
            ASSERT_TRUE(a.link_take(&s, &ev));
        }
        zub_store(ctx_->zubRTLSStarted, r.started);
        zub_store(a.last_ccp_time, kNow - r.ccp_age_ms);
        dt::fake_clients clients;
        auto& c = clients.add(S::anc_stat, 0, 30);
        ctx_->anc_stat.max_num = 1;
        display_core core(*ctx_, clients, platform_, [] { return kNow; }, root_.path());
        const BYTE id[2] = {1, 0};
        core.on_event(1, ZUB_EV_RECON_DISPLAY_MSG, id, 2, 0);
        ASSERT_EQ(c.sends.size(), 1u);
        const Bytes expect = {0xA8, 0x09, 0x00, 0x01, 0xA0, 0, 0, 0, 0, 0, 0, r.status, 0xA8};
        EXPECT_EQ(c.sends[0], expect);
    }
    // A record with hardware id 0 and an id outside the table give no frame.
    dt::fake_clients clients;
    auto& c = clients.add(S::anc_stat, 0, 30);
    ctx_->anc_stat.max_num = 1;
    reset_anchor(3, 0);
    display_core core(*ctx_, clients, platform_, [] { return kNow; }, root_.path());
    for (WORD16 id : {WORD16{3}, WORD16{10000}, WORD16{0xFFFF}}) {
        const BYTE body[2] = {static_cast<BYTE>(id), static_cast<BYTE>(id >> 8)};
        core.on_event(1, ZUB_EV_RECON_DISPLAY_MSG, body, 2, 0);
    }
    EXPECT_TRUE(c.sends.empty());
    EXPECT_EQ(core.batch(S::anc_stat).cnt, 0);
}

TEST_F(engine_display_Core, FlushesEmptyTheBuffersWithNoClient)
{
    ctx_->tag_ext.max_num = 50;
    ctx_->anc_stat.max_num = 50;
    const msg_imu_t imu{1, 2, 3, 4, 5, 6};
    core_->on_tag_ext(imu);
    core_->on_anchor_status(0);
    EXPECT_EQ(core_->batch(S::tag_ext).cnt, 1);
    EXPECT_EQ(core_->batch(S::anc_stat).cnt, 1);
    core_->on_timer(141);
    core_->on_timer(142);
    EXPECT_EQ(core_->batch(S::tag_ext).cnt, 0);
    EXPECT_EQ(core_->batch(S::anc_stat).cnt, 0);
}

TEST_F(engine_display_Core, RawBlinksAndClockSyncsReachOnlyTracedStreams)
{
    auto& blink_client = clients_.add(S::dac_blink, 0, 40);
    auto& ccp_client = clients_.add(S::dac_ccp, 0, 41);
    trace_tags({0x55});
    const WORD64 anc[] = {0xB1};
    zub_trace_replace(ctx_->anc_trace_cfg, anc, 1);

    const msg_raw_blink_t traced{0x55, 0xB1, 9}, untraced{0x56, 0xB1, 10};
    core_->on_event(1, ZUB_EV_SELECTOR_DISPLAY_RAW_BLIBK, reinterpret_cast<const BYTE*>(&traced), 17, 0);
    core_->on_event(1, ZUB_EV_SELECTOR_DISPLAY_RAW_BLIBK, reinterpret_cast<const BYTE*>(&untraced), 17, 0);
    const dac_ccp_rx_t from_traced{0xB1, 0xC2, 7, 0x0BCD}, master_traced{0xC2, 0xB1, 8, 1};
    core_->on_event(1, ZUB_EV_CLOCKSYNC_DISPLAY_DAC_CCP, reinterpret_cast<const BYTE*>(&from_traced), 19, 0);
    core_->on_event(1, ZUB_EV_CLOCKSYNC_DISPLAY_DAC_CCP, reinterpret_cast<const BYTE*>(&master_traced), 19, 0);

    EXPECT_EQ(blink_client.sends,
              (std::vector<Bytes>{{0xA8, 0x11, 0x55, 0, 0, 0, 0, 0, 0, 0, 0xB1, 0, 0, 0, 0, 0, 0, 0, 9, 0xA8}}));
    EXPECT_EQ(ccp_client.sends, (std::vector<Bytes>{{0xA8, 0x13, 0xB1, 0, 0, 0, 0, 0, 0, 0, 0xC2, 0, 0, 0, 0, 0, 0,
                                                     0, 7, 0xCD, 0x0B, 0xA8}}));
    // Both blinks are counted, traced or not.
    ASSERT_EQ(core_->tag_statistics().tag_cnt, 2);
    EXPECT_EQ(core_->tag_statistics().tag_blink[1].tag_id, 0x56u);
}

TEST_F(engine_display_Core, ShortBodiesAreDroppedWithALogLine)
{
    dt::print_capture prints;
    auto& loc = clients_.add(S::tag_loc, 0, 50);
    const BYTE body[28] = {};
    core_->on_event(1, ZUB_EV_SELECTOR_DISPLAY_TAG_LOC, body, sizeof body, 0);
    core_->on_event(1, ZUB_EV_RECON_DISPLAY_MSG, body, 1, 0);
    EXPECT_TRUE(loc.sends.empty());
    EXPECT_EQ(prints.count_of("display msgid(458752) with a body of 28 bytes dropped"), 1u);
    EXPECT_EQ(prints.count_of("display msgid(131072) with a body of 1 bytes dropped"), 1u);
}

TEST_F(engine_display_Core, StatisticsFileIsExactResetsItsCountsAndIsNotWrittenWhileEmpty)
{
    const std::string file = "log/tag_all_statistics.txt";
    now_ = dt::utc_ms(2026, 3, 1, 20, 30, 5);
    core_->on_timer(144);
    EXPECT_FALSE(root_.exists(file));

    for (WORD64 tag : {0xABCDEFull, 0x12ull, 0xABCDEFull}) {
        core_->on_raw_blink(msg_raw_blink_t{tag, 0xB1, 1});
    }
    core_->on_timer(144);
    const std::string head = "=================write time:2026-03-01 04:30:05 5s内这些tag收到了blink数量=================\n";
    const std::string end = "=================end=================\n";
    EXPECT_EQ(root_.read(file), head + "tag id(abcdef) rcv blink(2)\ntag id(12) rcv blink(1)\n" + end);

    now_ += 5000;
    core_->on_raw_blink(msg_raw_blink_t{0x12, 0xB1, 2});
    core_->on_timer(144);
    const std::string head2 = "=================write time:2026-03-01 04:30:10 5s内这些tag收到了blink数量=================\n";
    EXPECT_EQ(root_.read(file), head2 + "tag id(abcdef) rcv blink(0)\ntag id(12) rcv blink(1)\n" + end);

    dt::print_capture prints;
    display_core unwritable(*ctx_, clients_, platform_, [] { return kNow; }, root_.path() + "/missing");
    unwritable.on_raw_blink(msg_raw_blink_t{1, 2, 3});
    unwritable.on_timer(144);
    EXPECT_EQ(prints.count_of("open file failed."), 1u);
}

TEST_F(engine_display_Core, StatisticsCountEachTagInTheSlotOfItsFirstBlinkUpToTheTableSize)
{
    // Tag k of a row blinks 1 + k % 3 times, the rounds interleaved; tags arrive in the row's
    // order, so slot j holds the j-th tag to arrive, and tags beyond the table are not counted.
    struct Row {
        const char* name;
        unsigned tags;
        bool reversed;
    };
    const Row rows[] = {
        {"three tags", 3, false},
        {"three tags, highest id first", 3, true},
        {"a full table", ZUB_TAG_STATISTICS_MAX, false},
        {"three tags past the table", ZUB_TAG_STATISTICS_MAX + 3, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        display_core core(*ctx_, clients_, platform_, [this] { return now_; }, root_.path());
        auto tag_at = [&](unsigned j) { return 0x7000000000ull + (row.reversed ? row.tags - 1 - j : j); };
        for (unsigned round = 0; round < 3; ++round) {
            for (unsigned j = 0; j < row.tags; ++j) {
                if (round <= j % 3) {
                    core.on_raw_blink(msg_raw_blink_t{tag_at(j), 0xB1, static_cast<BYTE>(round)});
                }
            }
        }
        const unsigned kept = std::min(row.tags, ZUB_TAG_STATISTICS_MAX);
        const tag_statistics_t& st = core.tag_statistics();
        ASSERT_EQ(st.tag_cnt, kept);
        unsigned wrong = 0;
        for (unsigned j = 0; j < kept; ++j) {
            wrong += st.tag_blink[j].tag_id != tag_at(j) || st.tag_blink[j].blink_cnt != 1 + j % 3 ? 1 : 0;
        }
        EXPECT_EQ(wrong, 0u);
    }
}

TEST_F(engine_display_Core, TraceFilesReplaceTheListsWhole)
{
    dt::print_capture prints;
    std::string many;
    std::vector<WORD64> first200;
    for (unsigned i = 1; i <= 201; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "%x\n", 0x1000 + i);
        many += id;
        if (i <= 200) {
            first200.push_back(0x1000 + i);
        }
    }
    struct Row {
        const char* name;
        bool present;
        std::string text;
        std::vector<WORD64> tags;
    };
    const std::vector<WORD64> kept = {0xAA, 0xBB};
    const Row rows[] = {
        {"lines with CR", true, "1a2b\n\r3C\r\n", {0x1a2b, 0x3c}},
        {"missing file keeps the list", false, "", {0x1a2b, 0x3c}},
        {"201 ids keep 200", true, many, first200},
        {"stops at bad text", true, "10 zz 20\n", {0x10}},
        {"stops at 65 bits", true, "10 10000000000000000 20", {0x10}},
        {"64 bits and prefixes", true, "ffffffffffffffff 0x10 0X20", {0xffffffffffffffffull, 0x10, 0x20}},
        {"empty file empties", true, "", {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::filesystem::remove(root_.path() + "/cfg/tag_trace.cfg");
        if (r.present) {
            root_.write("cfg/tag_trace.cfg", r.text);
        }
        root_.write("cfg/anc_trace.cfg", "b1\n");
        const size_t missing_before = prints.count_of("cannot get tag_trace cfg file");
        core_->on_timer(143);
        WORD64 out[ZUB_TRACE_MAX_IDS];
        const unsigned n = zub_trace_copy(ctx_->tag_trace_cfg, out);
        EXPECT_EQ(std::vector<WORD64>(out, out + n), r.tags);
        EXPECT_EQ(prints.count_of("cannot get tag_trace cfg file") - missing_before, r.present ? 0u : 1u);
        EXPECT_TRUE(anc_trace_cfg_check(0xB1));
    }
    std::filesystem::remove(root_.path() + "/cfg/anc_trace.cfg");
    core_->on_timer(143);
    EXPECT_EQ(prints.count_of("cannot get anc_trace cfg file"), 1u);
    EXPECT_TRUE(anc_trace_cfg_check(0xB1));
}

// Whatever lies at the path, a reading neither blocks nor reads more than the first MiB; what is
// not a regular file empties the list, said once while the same kind of thing stays there.
TEST_F(engine_display_Core, TraceFilesAreRegularFilesReadUpToOneMebibyte)
{
    namespace fs = std::filesystem;
    const std::string path = root_.path() + "/cfg/tag_trace.cfg";
    const size_t mib = size_t{1} << 20;
    enum Kind { regular, fifo, zero_link, directory, missing };
    struct Row {
        const char* name;
        Kind kind;
        std::string text;
        std::vector<WORD64> tags;
        const char* line;  // what the reading writes, if anything
    };
    const Row rows[] = {
        {"regular", regular, "10 20", {0x10, 0x20}, nullptr},
        {"fifo without a writer", fifo, "", {},
         "tag_trace.cfg is a fifo, not a regular file: its trace list is emptied"},
        {"the fifo again", fifo, "", {}, nullptr},
        {"link to /dev/zero", zero_link, "", {},
         "tag_trace.cfg is a character device, not a regular file: its trace list is emptied"},
        {"the link again", zero_link, "", {}, nullptr},
        {"directory", directory, "", {}, "tag_trace.cfg is a directory, not a regular file: its trace list is emptied"},
        {"regular again", regular, "30", {0x30}, nullptr},
        {"a fifo once more", fifo, "", {}, "tag_trace.cfg is a fifo, not a regular file: its trace list is emptied"},
        {"missing keeps the list", missing, "", {}, "cannot get tag_trace cfg file"},
        {"2 MiB without blanks after two ids", regular, "40 50 " + std::string(2 * mib, 'a'), {0x40, 0x50},
         nullptr},
        {"an id cut at the bound is not taken", regular, "60 " + std::string(mib - 6, ' ') + "123456", {0x60},
         nullptr},
        {"an id ending at the bound is taken", regular, "60 " + std::string(mib - 6, ' ') + "abc\n1",
         {0x60, 0xabc}, nullptr},
    };
    dt::print_capture prints;
    root_.write("cfg/anc_trace.cfg", "b1\n");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const bool again = &r != rows && r.kind == (&r - 1)->kind && r.kind != regular;
        if (!again) {
            fs::remove_all(path);
            if (r.kind == regular) {
                root_.write("cfg/tag_trace.cfg", r.text);
            } else if (r.kind == fifo) {
                ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
            } else if (r.kind == zero_link) {
                fs::create_symlink("/dev/zero", path);
            } else if (r.kind == directory) {
                fs::create_directory(path);
            }
        }
        prints.clear();
        core_->on_timer(ZUB_DISPLAY_TIMER_TRACE);
        WORD64 out[ZUB_TRACE_MAX_IDS];
        const unsigned n = zub_trace_copy(ctx_->tag_trace_cfg, out);
        EXPECT_EQ(std::vector<WORD64>(out, out + n), r.tags);
        EXPECT_EQ(prints.lines(), r.line != nullptr ? std::vector<std::string>{r.line} : std::vector<std::string>{});
        EXPECT_TRUE(anc_trace_cfg_check(0xB1));
    }
    fs::remove_all(path);
}

}  // namespace
