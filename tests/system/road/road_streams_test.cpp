// The whole road's side streams: four synchronised anchors and one static tag, the positions
// next to the displayer, raw-data streams for traced ids, the tag statistics file, the anchor
// status stream and the link statistics. Each case in its own sandbox, seeded (ROAD_SEED).
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <regex>
#include <set>

#include "road_fixture.h"
#include "sandbox/files.h"

namespace road {
namespace {

using roadbench::PositionRecord;

constexpr uint64_t kA1 = 0xa0b1000000000001ull;  // the clock master
constexpr uint64_t kA2 = 0xa0b1000000000002ull;
constexpr uint64_t kA4 = 0xa0b1000000000004ull;
constexpr uint64_t kA5 = 0xa0b1000000000005ull;
constexpr uint64_t kTag = 0x1001;
constexpr int kFirstPathSpread = 20;  // the simulator's spread of the first-path index

using Bytes = std::vector<uint8_t>;

void put_le(Bytes* b, uint64_t v, int n)
{
    for (int i = 0; i < n; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint64_t get_le(const uint8_t* p, int n)
{
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void put_double(Bytes* b, double d)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    put_le(b, bits, 8);
}

// The displayer's record of a position ("original" displayer): 'e', x, y, z in metres as
// doubles, the tag id, four anchors numbered 1..4 in a table of 22, two pad bytes.
Bytes display_record(const PositionRecord& r)
{
    Bytes b = {0x65};
    put_double(&b, r.x_mm / 1000.0);
    put_double(&b, r.y_mm / 1000.0);
    put_double(&b, r.z_mm / 1000.0);
    put_le(&b, r.tag, 8);
    b.push_back(4);
    b.push_back(0);
    for (int i = 0; i < 22; ++i) put_le(&b, i < 4 ? static_cast<uint64_t>(i + 1) : 0, 2);
    b.push_back(0);
    b.push_back(0);
    return b;
}

// The raw-position frame of a traced tag: 0xA8, 0x14, tag id, x, y, z in mm, 0xA8.
Bytes raw_position_frame(const PositionRecord& r)
{
    Bytes b = {0xA8, 0x14};
    put_le(&b, r.tag, 8);
    put_le(&b, static_cast<uint32_t>(r.x_mm), 4);
    put_le(&b, static_cast<uint32_t>(r.y_mm), 4);
    put_le(&b, static_cast<uint32_t>(r.z_mm), 4);
    b.push_back(0xA8);
    return b;
}

// A report port read beside the tag-location link.
struct Stream {
    uint16_t port = 0;
    int fd = -1;
    Bytes bytes;
};

class RoadStreamsTest : public RoadTest {
protected:
    void TearDown() override
    {
        for (Stream& s : streams_) {
            if (s.fd >= 0) ::close(s.fd);
        }
        RoadTest::TearDown();
    }

    Stream* open_stream_fd(int fd)
    {
        Stream s;
        s.fd = fd;
        EXPECT_GE(s.fd, 0);
        streams_.push_back(s);
        return &streams_.back();
    }

    Stream* open_stream(uint16_t port)
    {
        Stream s;
        s.port = port;
        s.fd = roadbench::tcp_connect("127.0.0.1", port, 30000);
        EXPECT_GE(s.fd, 0) << "port " << port;
        streams_.push_back(s);
        return &streams_.back();
    }

    // Reads the tag-location link and every stream for `seconds`.
    void pump(double seconds, std::vector<PositionRecord>* records)
    {
        const double end = roadbench::now_s() + seconds;
        uint8_t buf[65536];
        while (roadbench::now_s() < end) {
            std::vector<pollfd> fds = {{loc_, POLLIN, 0}};
            for (const Stream& s : streams_) fds.push_back({s.fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 100) <= 0) continue;
            for (size_t i = 0; i < fds.size(); ++i) {
                if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
                const long n = ::read(fds[i].fd, buf, sizeof buf);
                if (n <= 0) {
                    ADD_FAILURE() << "a report link closed (" << (i == 0 ? 12345 : streams_[i - 1].port) << ")";
                    return;
                }
                if (i == 0) {
                    reader_.feed(buf, static_cast<size_t>(n), roadbench::now_s(), records);
                } else {
                    Bytes& b = streams_[i - 1].bytes;
                    b.insert(b.end(), buf, buf + n);
                }
            }
        }
    }

    std::deque<Stream> streams_;  // stable addresses for open_stream's callers
};

size_t count_between_records(const std::vector<PositionRecord>& records, uint64_t tag, double from_s, double to_s)
{
    size_t n = 0;
    for (const PositionRecord& r : records) n += (r.tag == tag && r.at_s >= from_s && r.at_s < to_s) ? 1 : 0;
    return n;
}

std::vector<Bytes> split(const Bytes& bytes, size_t size)
{
    std::vector<Bytes> out;
    for (size_t at = 0; at + size <= bytes.size(); at += size) {
        out.emplace_back(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + size));
    }
    return out;
}

TEST_F(RoadStreamsTest, FourSynchronisedAnchorsStaticTagAndTracedStreams)
{
    // The tag is switched on once the clocks have been synchronised for some seconds and the
    // trace lists read, so that every round of it, from its first blink, can be solved.
    constexpr double kTagOn = 22.0;
    keep_anchors({kA1, kA2, kA4, kA5});
    std::vector<anchorsim::TagSpec> tags;
    for (const anchorsim::TagSpec& t : site_.tags) {
        if (t.id == kTag) tags.push_back(t);
    }
    site_.tags = tags;
    site_.tags[0].start_s = kTagOn;
    // The trace lists are read every 5 s from the start order on.
    ASSERT_TRUE(vorlen::sandbox::write_file("/qvx/zub/cfg/tag_trace.cfg", "1001\n"));
    ASSERT_TRUE(vorlen::sandbox::write_file("/qvx/zub/cfg/anc_trace.cfg", "a0b1000000000002\n"));
    ASSERT_TRUE(start_programs());
    ASSERT_TRUE(start_simulator());
    Stream* display = open_stream(3335);
    Stream* raw_blink = open_stream(12301);
    Stream* raw_pos = open_stream(12302);
    Stream* raw_ccp = open_stream(12303);
    ASSERT_TRUE(configure_and_start());
    ASSERT_LT(run_time(), kTagOn - 6.0) << "the anchors were configured too late for the tag";
    std::vector<PositionRecord> records;
    pump(kTagOn + 28.0 - run_time(), &records);
    // The statistics file while the blinks still flow (it is rewritten every 5 s).
    std::vector<std::string> lines;
    for (int i = 0; i < 20 && lines.size() != 3; ++i) {
        if (i > 0) ::usleep(50 * 1000);
        lines = vorlen::sandbox::lines_of("/qvx/zub/log/tag_all_statistics.txt");
    }
    stop_simulator();
    pump(0.5, &records);
    roadbench::Truth truth;
    truth.load(kTruth);

    // Positions: multiple mode only, near the truth.
    ASSERT_GE(records.size(), 10u);
    std::vector<double> errors;
    for (const PositionRecord& r : records) {
        EXPECT_EQ(r.tag, kTag);
        EXPECT_EQ(r.mode, 4);
        const roadbench::TruthPoint* t = truth.blink_before(kTag, r.at_s);
        ASSERT_NE(t, nullptr);
        errors.push_back(roadbench::planar_error_m(r, *t));
    }
    std::printf("%zu records, error median %.3f m, p95 %.3f m\n", records.size(), roadbench::quantile(errors, 0.5),
                roadbench::quantile(errors, 0.95));
    EXPECT_LE(roadbench::quantile(errors, 0.5), 0.04);
    EXPECT_LE(roadbench::quantile(errors, 0.95), 0.13);

    // Raw blinks: the traced tag's arrivals, one per anchor per blink, with the blink's
    // sequence number, from its first blink on.
    const std::vector<Bytes> blinks = split(raw_blink->bytes, 20);
    EXPECT_EQ(raw_blink->bytes.size() % 20, 0u);
    ASSERT_GE(blinks.size(), 4u * records.size());
    std::map<uint32_t, int> arrivals_per_seq;
    for (const Bytes& f : blinks) {
        ASSERT_EQ(f[0], 0xA8);
        ASSERT_EQ(f[1], 0x11);
        ASSERT_EQ(f[19], 0xA8);
        EXPECT_EQ(get_le(&f[2], 8), kTag);
        const uint64_t anchor = get_le(&f[10], 8);
        EXPECT_TRUE(anchor == kA1 || anchor == kA2 || anchor == kA4 || anchor == kA5) << std::hex << anchor;
        ++arrivals_per_seq[f[18]];
    }
    for (const auto& [seq, n] : arrivals_per_seq) EXPECT_EQ(n, 4) << "seq " << seq;
    const std::vector<roadbench::TruthPoint>* sent = truth.blinks(kTag);
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(blinks.front()[18], static_cast<uint8_t>(sent->front().seq)) << "the tag's first blink was not heard";

    // Every round solves: four arrivals over clocks synchronised within the last 350 ms. A
    // multiple-mode result is sent only when at least 8 of the tag's last 16 multilateration
    // results (this round's included) were typed as lying in a multi sub-area. The results
    // pass the trimmed mean of a window of 9 that starts as zeros: the first round gives the
    // point (0, 0), which lies on the corner of the hall's multi sub-area (0, 0)-(30, 20) and so
    // outside it (its edges are outside); rounds 2, 3, ... give (k/7) of the position for k = 1,
    // 2, ..., inside. So rounds 1 to 8 give no record and the 9th blink's round the first; from
    // then on one record per round.
    constexpr long kFirstRecordedRound = 9;
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(truth.blink_index_before(kTag, records[i].at_s), kFirstRecordedRound - 1 + static_cast<long>(i))
            << "record " << i;
    }
    // The record of the last blink sent a second or more before the end came too.
    EXPECT_GE(kFirstRecordedRound - 2 + static_cast<long>(records.size()),
              truth.blink_index_before(kTag, roadbench::now_s() - 1.0));

    // Displayer and raw positions: one record per position, in the same order, built from it.
    const std::vector<Bytes> shown = split(display->bytes, 81);
    EXPECT_EQ(display->bytes.size() % 81, 0u);
    ASSERT_EQ(shown.size(), records.size());
    for (size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], display_record(records[i])) << "record " << i;
    const std::vector<Bytes> raw = split(raw_pos->bytes, 23);
    EXPECT_EQ(raw_pos->bytes.size() % 23, 0u);
    ASSERT_EQ(raw.size(), records.size());
    for (size_t i = 0; i < raw.size(); ++i) EXPECT_EQ(raw[i], raw_position_frame(records[i])) << "record " << i;

    // Raw clock sync: only the traced slave, the master it hears, consecutive packet numbers,
    // the site's first-path index within its spread; 0.15 s apart over some 20 s of run.
    const std::vector<Bytes> ccps = split(raw_ccp->bytes, 22);
    EXPECT_EQ(raw_ccp->bytes.size() % 22, 0u);
    ASSERT_GE(ccps.size(), 100u);
    for (size_t i = 0; i < ccps.size(); ++i) {
        const Bytes& f = ccps[i];
        ASSERT_EQ(f[0], 0xA8);
        ASSERT_EQ(f[1], 0x13);
        ASSERT_EQ(f[21], 0xA8);
        EXPECT_EQ(get_le(&f[2], 8), kA2);
        EXPECT_EQ(get_le(&f[10], 8), kA1);
        const auto fp = static_cast<int>(get_le(&f[19], 2));
        EXPECT_TRUE(fp >= site_.first_path - kFirstPathSpread && fp <= site_.first_path + kFirstPathSpread) << fp;
        if (i > 0) {
            EXPECT_EQ(f[18], static_cast<uint8_t>(ccps[i - 1][18] + 1)) << "packet " << i;
        }
    }

    // The statistics file: the arrivals of 5 s, four per blink of a 1 Hz tag.
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("=================write time:\\d{4}-\\d\\d-\\d\\d "
                                                      "\\d\\d:\\d\\d:\\d\\d 5s内这些tag收到了blink数量=================")))
        << lines[0];
    EXPECT_EQ(lines[2], "=================end=================");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m, std::regex("tag id\\(1001\\) rcv blink\\((\\d+)\\)"))) << lines[1];
    // A 5 s window holds 4 to 6 blinks (timer jitter) of 4 arrivals each.
    const int counted = std::stoi(m[1]);
    EXPECT_TRUE(counted >= 16 && counted <= 24) << counted;
}

// The anchor status frame: 0xA8, 0x09, 0x00, hardware id, status, 0xA8.
Bytes status_frame(uint64_t anchor, uint8_t status)
{
    Bytes b = {0xA8, 0x09, 0x00};
    put_le(&b, anchor, 8);
    b.push_back(status);
    b.push_back(0xA8);
    return b;
}

// The link checker runs every 8 s: an anchor of the engine's list that never answers is
// reported "never connected" (0) at each check; a link that drops is reopened by a later check,
// and both events are logged with the anchor's ids.
TEST_F(RoadStreamsTest, SupervisionReportsAbsentAnchorAndReopensDroppedLink)
{
    constexpr uint64_t kDropped = 0xa0b1000000000003ull;
    constexpr uint64_t kAbsent = 0xa0b1000000000008ull;
    std::set<uint64_t> present;
    for (const anchorsim::AnchorSpec& a : site_.anchors) {
        if (a.hw_id != kAbsent) present.insert(a.hw_id);
    }
    keep_anchors(present);
    ASSERT_TRUE(start_programs());
    ASSERT_TRUE(start_simulator({{20.0, kDropped, anchorsim::FaultKind::Down, 6.0}}));
    Stream* status = open_stream(12347);
    ASSERT_TRUE(configure_and_start());
    const double linked_at = roadbench::now_s();
    std::vector<PositionRecord> records;
    std::vector<std::pair<double, Bytes>> frames;  // arrival time, frame
    size_t seen = 0;
    while (run_time() < 42.0) {
        pump(0.2, &records);
        for (; seen + 13 <= status->bytes.size(); seen += 13) {
            frames.emplace_back(roadbench::now_s(), Bytes(status->bytes.begin() + static_cast<long>(seen),
                                                          status->bytes.begin() + static_cast<long>(seen + 13)));
        }
    }
    EXPECT_EQ(status->bytes.size() % 13, 0u);

    // Until "anchor cfg" found every link open, a check reports each anchor it had to open:
    // not reached (0), or connected (1) when that open succeeded. From then on only the absent
    // anchor and the dropped one are found down.
    std::vector<double> absent_at;
    size_t dropped_frames = 0;
    for (const auto& [at, f] : frames) {
        const uint64_t id = get_le(&f[3], 8);
        if (at < linked_at + 1.0) {
            EXPECT_TRUE(f == status_frame(id, 0) || f == status_frame(id, 1)) << int(f[11]);
        } else if (id == kAbsent) {
            EXPECT_EQ(f, status_frame(kAbsent, 0));
            absent_at.push_back(at);
        } else if (id == kDropped) {
            // No link (3); or, when the check's reopen succeeded, connected (1) or, with no
            // clock-calibration packet in the last 3 s yet, stale (4).
            EXPECT_TRUE(f == status_frame(kDropped, 3) || f == status_frame(kDropped, 1) ||
                        f == status_frame(kDropped, 4))
                << int(f[11]);
            ++dropped_frames;
        } else {
            ADD_FAILURE() << "status of a linked anchor " << std::hex << id;
        }
    }
    EXPECT_GE(dropped_frames, 1u);
    ASSERT_GE(absent_at.size(), 3u);
    for (size_t i = 1; i < absent_at.size(); ++i) {
        const double gap = absent_at[i] - absent_at[i - 1];
        EXPECT_TRUE(gap > 6.0 && gap < 10.0) << "gap " << gap << " before frame " << i;
    }

    // The link log: connected, dropped, connected again, each line with the anchor's local id,
    // hardware id and address.
    const std::string log_path = "/qvx/zub/log/anc_statistics.txt";
    const std::regex line_re(
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d id\\(\\d+\\) anchor_id\\(a0b1000000000003\\) anchor_ip\\(127\\.0\\.0\\.4\\) "
        "has (disconnect|reconnect)");
    std::string events;
    for (const std::string& line : vorlen::sandbox::lines_of(log_path)) {
        std::smatch m;
        if (std::regex_match(line, m, line_re)) events += m[1].str() + " ";
    }
    EXPECT_EQ(events, "reconnect disconnect reconnect ") << vorlen::sandbox::read_file(log_path);
    EXPECT_EQ(vorlen::sandbox::read_file(log_path).find("anchor_id(a0b1000000000008) anchor_ip(127.0.0.9) has"),
              std::string::npos);

    // Positions resumed once the anchor was back.
    EXPECT_GE(count_between_records(records, kTag, sim_started_at_ + 36.0, sim_started_at_ + 42.0), 4u);
}

// The raw-blink frame of a traced tag's arrival: 0xA8, 0x11, tag id, anchor hardware id, the
// blink's sequence number, 0xA8; made from an arrival report ('2') the anchor sent.
Bytes raw_blink_frame(uint64_t anchor, const Bytes& report)
{
    Bytes b = {0xA8, 0x11};
    put_le(&b, get_le(&report[2], 8), 8);
    put_le(&b, anchor, 8);
    b.push_back(report[1]);
    b.push_back(0xA8);
    return b;
}

// The raw clock-sync frame of a traced slave: 0xA8, 0x13, slave id, master id, packet number,
// first-path index (the report's field / 64), 0xA8; made from a reception report ('1').
Bytes raw_ccp_frame(uint64_t slave, const Bytes& report)
{
    Bytes b = {0xA8, 0x13};
    put_le(&b, slave, 8);
    put_le(&b, get_le(&report[2], 8), 8);
    b.push_back(report[1]);
    put_le(&b, get_le(&report[15], 2) >> 6, 2);
    b.push_back(0xA8);
    return b;
}

// A link that broke a frame is taken again for what follows: after a frame with a wrong end
// byte, the link's next frames; after a link cut half-way through a frame, every frame of the
// new link (nothing of the cut frame may be left to spoil it). The anchor is a traced slave of
// a traced tag, so each of its arrival and clock reports shows as one raw frame. The frames
// sent in the grace after the fault may be lost with it (a broken frame empties the link's
// buffer with whatever it held); every frame sent after the grace must come, and nothing that
// was not sent (the frames sent just before the fault may still be on their way when the
// streams are marked, and count as sent).
struct BrokenFrameRow {
    const char* name;
    anchorsim::FaultKind fault;
    double grace_s;
    size_t starts;  // start commands the anchor gets in all
};

void PrintTo(const BrokenFrameRow& r, std::ostream* os)
{
    *os << r.name;
}

class RoadBrokenFrameTest : public RoadStreamsTest, public ::testing::WithParamInterface<BrokenFrameRow> {};

TEST_P(RoadBrokenFrameTest, LinkTakesEveryLaterFrame)
{
    constexpr double kFaultAt = 20.0;
    constexpr uint64_t kBadTag = 0xBADC;  // the tag of the broken frame's report
    keep_anchors({kA1, kA2, kA4, kA5});
    std::vector<anchorsim::TagSpec> tags;
    for (const anchorsim::TagSpec& t : site_.tags) {
        if (t.id == kTag) tags.push_back(t);
    }
    site_.tags = tags;
    ASSERT_TRUE(vorlen::sandbox::write_file("/qvx/zub/cfg/tag_trace.cfg", "1001\nbadc\n"));
    ASSERT_TRUE(vorlen::sandbox::write_file("/qvx/zub/cfg/anc_trace.cfg", "a0b1000000000002\n"));
    ASSERT_TRUE(start_programs());
    ASSERT_TRUE(start_simulator({{kFaultAt, kA2, GetParam().fault, 0.0}}));
    Stream* raw_blink = open_stream(12301);
    Stream* raw_ccp = open_stream(12303);
    ASSERT_TRUE(configure_and_start());
    std::vector<PositionRecord> records;
    while (run_time() < kFaultAt) pump(0.02, &records);
    const size_t blink_from = raw_blink->bytes.size() - raw_blink->bytes.size() % 20;
    const size_t ccp_from = raw_ccp->bytes.size() - raw_ccp->bytes.size() % 22;
    while (run_time() < kFaultAt + 20.0) pump(0.2, &records);
    stop_simulator();
    pump(1.0, &records);  // what was sent last
    ASSERT_EQ(raw_blink->bytes.size() % 20, 0u);
    ASSERT_EQ(raw_ccp->bytes.size() % 22, 0u);

    const double fault_at = sim_started_at_ + kFaultAt;
    std::multiset<Bytes> sure, maybe;
    for (const Logged& l : logged_of(kSent, kA2)) {
        if (l.at_s < fault_at - 0.5) continue;
        const Bytes frame = l.bytes[0] == 0x32 ? raw_blink_frame(kA2, l.bytes) : raw_ccp_frame(kA2, l.bytes);
        (l.at_s < fault_at + GetParam().grace_s ? maybe : sure).insert(frame);
    }
    // Blinks at 1 Hz and clock packets every 0.15 s, over the run after the fault less the
    // reconnection (at most one 8-s link check).
    EXPECT_GE(sure.size(), 8u * (1 + 6));
    std::multiset<Bytes> got;
    for (const Bytes& f : split(Bytes(raw_blink->bytes.begin() + static_cast<long>(blink_from), raw_blink->bytes.end()), 20)) {
        EXPECT_NE(get_le(&f[2], 8), kBadTag) << "the broken frame was taken";
        if (get_le(&f[10], 8) == kA2) got.insert(f);
    }
    for (const Bytes& f : split(Bytes(raw_ccp->bytes.begin() + static_cast<long>(ccp_from), raw_ccp->bytes.end()), 22)) {
        got.insert(f);
    }
    size_t missing = 0, unsent = 0;
    for (const Bytes& f : sure) {
        const auto it = got.find(f);
        if (it == got.end()) {
            ++missing;
        } else {
            got.erase(it);
        }
    }
    for (const Bytes& f : got) {
        const auto it = maybe.find(f);
        if (it == maybe.end()) {
            ++unsent;
        } else {
            maybe.erase(it);
        }
    }
    EXPECT_EQ(missing, 0u) << "of " << sure.size() << " frames sent after the fault";
    EXPECT_EQ(unsent, 0u) << "frames taken that the anchor never sent after the fault";
    size_t starts = 0;
    for (const Logged& c : logged_of(kCommands, kA2)) starts += c.bytes == Bytes{0x57, 0x01} ? 1 : 0;
    EXPECT_EQ(starts, GetParam().starts);
}

INSTANTIATE_TEST_SUITE_P(Rows, RoadBrokenFrameTest,
                         ::testing::Values(BrokenFrameRow{"WrongEndByte", anchorsim::FaultKind::BadEtx, 0.5, 1},
                                           BrokenFrameRow{"LinkCutMidFrame", anchorsim::FaultKind::CutFrame, 0.0, 2}),
                         [](const ::testing::TestParamInfo<BrokenFrameRow>& i) { return std::string(i.param.name); });

// A tag heard by one anchor only, that anchor working in single mode: from the fourth blink
// heard (within the 22 s expiry) the tag is placed at the anchor, one record per blink. The
// frame: 0xA8, 0x1D, 0x00, mode 1, tag id, the anchor's hardware id, the anchor's x, y, z in
// mm, 0xA8.
TEST_F(RoadStreamsTest, SingleModeAnchorPlacesItsTagAtItself)
{
    constexpr uint64_t kLone = 0xa0b1000000000008ull;  // configured at 30, 20, 3 m
    constexpr uint64_t kSingleTag = 0x2001;
    keep_anchors({kLone});
    site_.anchors[0].ccp_master = false;
    site_.anchors[0].follows.clear();
    anchorsim::TagSpec tag;
    tag.id = kSingleTag;
    tag.rate_hz = 1.0;
    tag.path = {{27.0, 17.0, 1.2}};
    site_.tags = {tag};
    std::string modes;
    for (int i = 1; i <= 8; ++i) modes += "a0b100000000000" + std::to_string(i) + (i == 8 ? " 1\n" : " 0\n");
    engine_file_overrides_["anchor_attribute.cfg"] = modes;

    Bytes expected = {0xA8, 0x1D, 0x00, 0x01};
    put_le(&expected, kSingleTag, 8);
    put_le(&expected, kLone, 8);
    put_le(&expected, 30000, 4);
    put_le(&expected, 20000, 4);
    put_le(&expected, 3000, 4);
    expected.push_back(0xA8);

    ASSERT_TRUE(start_programs());
    ASSERT_TRUE(start_simulator());
    Stream* raw = open_stream(12345);  // the bytes as they come, beside the fixture's reader
    ASSERT_TRUE(configure_and_start());
    std::vector<PositionRecord> records;
    pump(14.0, &records);
    const double end = roadbench::now_s();
    stop_simulator();
    pump(0.5, &records);
    roadbench::Truth truth;
    truth.load(kTruth);

    const std::vector<Bytes> frames = split(raw->bytes, 33);
    EXPECT_EQ(raw->bytes.size() % 33, 0u);
    ASSERT_GE(frames.size(), 6u);
    for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i], expected) << "frame " << i;
    // One record per blink from the first on: consecutive blinks, none twice.
    ASSERT_EQ(records.size(), frames.size());
    long previous = truth.blink_index_before(kSingleTag, records.front().at_s);
    for (size_t i = 1; i < records.size(); ++i) {
        const long b = truth.blink_index_before(kSingleTag, records[i].at_s);
        EXPECT_EQ(b, previous + 1) << "record " << i;
        previous = b;
    }
    // Every blink sent up to half a second before the end (past the solve wait) has its record.
    EXPECT_GE(previous, truth.blink_index_before(kSingleTag, end - 0.5));
}

// A radio test whose anchor never answers (the simulated anchor notes a power-test command and
// goes on) holds the controller's requests until its 35 s deadline; the reply to the next
// "zub cfg" then leads with the no-response text. The road itself goes on meanwhile.
TEST_F(RoadStreamsTest, UnansweredPowerTestFreesTheControllerAtItsDeadline)
{
    const std::string no_response = " error=\"No response from anchor\" />";
    const std::string zub_cfg_head = "<ind type=\"zub cfg\">";
    ASSERT_TRUE(start_programs());
    ASSERT_TRUE(start_simulator());
    ASSERT_TRUE(configure_and_start());
    std::vector<PositionRecord> records;
    // The controller link read beside the positions (a second descriptor of it).
    Stream* ctl = open_stream_fd(::dup(ctl_));
    const double sent_at = roadbench::now_s();
    ASSERT_TRUE(roadbench::send_all(ctl_, "<req type=\"power test\"><anchor addr=\"a0b1000000000001\"/></req>\n"));
    auto text = [ctl] { return std::string(ctl->bytes.begin(), ctl->bytes.end()); };
    while (text().find("msg=\"done\"</ind>") == std::string::npos && roadbench::now_s() < sent_at + 5.0) {
        pump(0.1, &records);
    }
    const std::string started = text();
    EXPECT_NE(started.find("<ind type=\"system status\" msg=\"power test\" addr=\""), std::string::npos) << started;
    EXPECT_NE(started.find("<ind type=\"power test\"> msg=\"done\"</ind>"), std::string::npos) << started;
    ctl->bytes.clear();

    // Requests go unanswered until the deadline; then the next one is answered.
    while (text().find(zub_cfg_head) == std::string::npos && roadbench::now_s() < sent_at + 42.0) {
        ASSERT_TRUE(roadbench::send_all(ctl_, "<req type=\"zub cfg\"/>\n"));
        pump(2.0, &records);
    }
    const double answered_at = roadbench::now_s();
    const std::string reply = text();
    EXPECT_GE(answered_at - sent_at, 34.0);
    ASSERT_NE(reply.find(zub_cfg_head), std::string::npos) << "no reply after the deadline";
    EXPECT_EQ(reply.substr(0, no_response.size() + zub_cfg_head.size()), no_response + zub_cfg_head) << reply;

    // The 1 Hz tag's positions kept coming through the wait, once past its warm-up.
    const double from = sent_at + 15.0;
    EXPECT_GE(static_cast<double>(count_between_records(records, kTag, from, answered_at)), answered_at - from - 3.0);
    stop_simulator();
    size_t power_commands = 0;
    for (const std::string& line : vorlen::sandbox::lines_of(kCommands)) {
        power_commands += line.find(" a0b1000000000001 58011E00") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(power_commands, 1u);
}

}  // namespace
}  // namespace road
