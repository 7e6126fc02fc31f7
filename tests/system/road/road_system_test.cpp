// The whole road: anchors (the simulator) -> vorlen -> controller and report clients, on the
// example site, each case in its own sandbox and seeded (ROAD_SEED replays a run).
#include <netinet/in.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "road_fixture.h"
#include "sandbox/files.h"

namespace road {
namespace {

using roadbench::PositionRecord;

constexpr double kWarmUpS = 10.0;  // from a tag's first record: the motion filter settles

struct TagOutcome {
    size_t records = 0;
    std::vector<double> errors;
    long lost = 0;     // blinks between the first and last matched one with no record
    long repeats = 0;  // records that met a blink another record had met
};

// Matches each record after the tag's warm-up to the tag's last blink before it arrived.
TagOutcome judge(const std::vector<PositionRecord>& records, const roadbench::Truth& truth, uint64_t tag)
{
    TagOutcome out;
    if (records.empty()) return out;
    const double from = records.front().at_s + kWarmUpS;
    long first = -1, last = -1, previous = -1;
    for (const PositionRecord& r : records) {
        if (r.at_s < from) continue;
        const long i = truth.blink_index_before(tag, r.at_s);
        if (i < 0) continue;
        ++out.records;
        out.errors.push_back(roadbench::planar_error_m(r, (*truth.blinks(tag))[static_cast<size_t>(i)]));
        if (i == previous) ++out.repeats;
        if (first < 0) first = i;
        previous = last = i;
    }
    if (first >= 0) out.lost = (last - first + 1) - static_cast<long>(out.records - out.repeats);
    return out;
}

size_t count_between(const std::vector<PositionRecord>& records, double from_s, double to_s)
{
    size_t n = 0;
    for (const PositionRecord& r : records) n += (r.at_s >= from_s && r.at_s < to_s) ? 1 : 0;
    return n;
}

// Lines of the simulator's command log for one anchor: "time anchor hex".
std::vector<std::string> commands_of(uint64_t anchor)
{
    char id[20];
    std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(anchor));
    std::vector<std::string> out;
    for (const std::string& line : vorlen::sandbox::lines_of(kCommands)) {
        std::istringstream s(line);
        std::string t, a, bytes;
        if (s >> t >> a >> bytes && a == id) out.push_back(bytes);
    }
    return out;
}

size_t count_equal(const std::vector<std::string>& v, const std::string& x)
{
    return static_cast<size_t>(std::count(v.begin(), v.end(), x));
}

TEST_F(RoadTest, ExampleSiteStaticTagsWithinCentimetresOneRecordPerBlink)
{
    ASSERT_TRUE(start_programs());
    ASSERT_TRUE(start_simulator());
    ASSERT_TRUE(configure_and_start());
    std::vector<PositionRecord> records;
    collect(36.0, &records);
    const double end = roadbench::now_s();
    stop_simulator();
    roadbench::Truth truth;
    truth.load(kTruth);

    for (const anchorsim::TagSpec& tag : site_.tags) {
        SCOPED_TRACE(tag.id);
        std::vector<PositionRecord> mine;
        for (const PositionRecord& r : records_of(records, tag.id)) {
            if (r.at_s < end - 1.0) mine.push_back(r);  // the last blinks may still be in the solve wait
        }
        ASSERT_FALSE(mine.empty());
        for (const PositionRecord& r : mine) EXPECT_EQ(r.mode, 4);
        const TagOutcome o = judge(mine, truth, tag.id);
        // The first record comes after some eight solved rounds; then the warm-up.
        EXPECT_GE(static_cast<double>(o.records), 8.0 * tag.rate_hz);
        EXPECT_EQ(o.lost, 0);
        EXPECT_EQ(o.repeats, 0);
        const double median = roadbench::quantile(o.errors, 0.5);
        const double p95 = roadbench::quantile(o.errors, 0.95);
        std::printf("tag %llx (%s): %zu records, error median %.3f m, p95 %.3f m\n",
                    static_cast<unsigned long long>(tag.id), tag.path.size() == 1 ? "static" : "walking", o.records,
                    median, p95);
        RecordProperty("tag_" + std::to_string(tag.id) + "_median_mm", static_cast<int>(median * 1000));
        RecordProperty("tag_" + std::to_string(tag.id) + "_p95_mm", static_cast<int>(p95 * 1000));
        if (tag.path.size() == 1) {
            EXPECT_LE(median, 0.04);
            EXPECT_LE(p95, 0.13);
        }
    }
}

// The simulator's inertial tag reports power 90, temperature 25, heart rate 72, no warning; the
// engine passes them on once per blink as a 27-byte frame: 0xA8, 0x17, 0x00, tag id (u64),
// anchor hardware id (u64), power (u32), temperature (i8), heart rate, warning type, 0xA8.
TEST_F(RoadTest, InertialTagGivesOneExtensionRecordPerBlink)
{
    constexpr uint64_t kImuTag = 0x1004;
    auto frame_for = [](uint64_t anchor) {
        std::vector<uint8_t> f = {0xA8, 0x17, 0x00};
        for (int i = 0; i < 8; ++i) f.push_back(static_cast<uint8_t>(kImuTag >> (8 * i)));
        for (int i = 0; i < 8; ++i) f.push_back(static_cast<uint8_t>(anchor >> (8 * i)));
        for (uint8_t b : {90, 0, 0, 0, 25, 72, 0, 0xA8}) f.push_back(b);
        return f;
    };
    ASSERT_TRUE(start_programs());
    ASSERT_TRUE(start_simulator());
    const int ext = roadbench::tcp_connect("127.0.0.1", 12346, 30000);
    ASSERT_GE(ext, 0);
    ASSERT_TRUE(configure_and_start());
    const double from = roadbench::now_s();
    std::vector<uint8_t> bytes;
    std::vector<double> frame_end_at;  // arrival time after each read, per byte count
    uint8_t buf[4096];
    while (roadbench::now_s() < from + 10.0) {
        const long n = roadbench::read_some(ext, buf, sizeof buf, 100);
        ASSERT_GE(n, 0) << "the tag-extension link closed";
        bytes.insert(bytes.end(), buf, buf + n);
        frame_end_at.resize(bytes.size(), roadbench::now_s());
    }
    ::close(ext);
    const double end = roadbench::now_s();
    stop_simulator();
    roadbench::Truth truth;
    truth.load(kTruth);

    ASSERT_EQ(bytes.size() % 27, 0u);
    std::vector<long> blinks;
    for (size_t at = 0; at < bytes.size(); at += 27) {
        const std::vector<uint8_t> got(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 27);
        bool known = false;
        for (const anchorsim::AnchorSpec& a : site_.anchors) known = known || got == frame_for(a.hw_id);
        EXPECT_TRUE(known) << "frame " << at / 27 << " is not one the simulator's report gives";
        blinks.push_back(truth.blink_index_before(kImuTag, frame_end_at[at + 26]));
    }
    // One per blink: consecutive blinks, none twice, none missing; 2 Hz over 10 s.
    ASSERT_GE(blinks.size(), 17u);
    for (size_t i = 1; i < blinks.size(); ++i) EXPECT_EQ(blinks[i], blinks[i - 1] + 1) << "record " << i;
    EXPECT_GE(truth.blink_index_before(kImuTag, end - 0.1), blinks.back());
}

// Time differences need synchronised clocks. A slave's masters are known only from "anchor
// cfg", and "rtls start" clears every pair: with no anchor sending clock-calibration packets, or
// with packets sent only before the anchors were configured, the blinks still arrive and are
// counted but no multiple-mode record may come.
struct NoSyncRow {
    const char* name;
    bool packets_before_cfg;  // false: no master at all on the whole site
};

void PrintTo(const NoSyncRow& r, std::ostream* os)
{
    *os << r.name;
}

class RoadNoSyncTest : public RoadTest, public ::testing::WithParamInterface<NoSyncRow> {};

bool is_clock_report(const Logged& l)
{
    return !l.bytes.empty() && (l.bytes[0] == 0x30 || l.bytes[0] == 0x31);
}

TEST_P(RoadNoSyncTest, NoMultipleModeRecord)
{
    constexpr uint64_t kStatic = 0x1001;
    std::vector<anchorsim::Fault> faults;
    if (GetParam().packets_before_cfg) {
        keep_anchors({0xa0b1000000000001ull, 0xa0b1000000000002ull, 0xa0b1000000000004ull, 0xa0b1000000000005ull});
        std::vector<anchorsim::TagSpec> tags;
        for (const anchorsim::TagSpec& t : site_.tags) {
            if (t.id == kStatic) tags.push_back(t);
        }
        site_.tags = tags;
        for (const anchorsim::AnchorSpec& a : site_.anchors) {
            faults.push_back({0.0, a.hw_id, anchorsim::FaultKind::ClockEarly, 0.0});
            faults.push_back({0.0, a.hw_id, anchorsim::FaultKind::ClockUntilCommand, 0x44});
        }
    } else {
        for (anchorsim::AnchorSpec& a : site_.anchors) {
            a.ccp_master = false;
            a.follows.clear();
        }
    }
    ASSERT_TRUE(start_programs());
    ASSERT_TRUE(start_simulator(faults));
    if (GetParam().packets_before_cfg) {
        // Every link open and its packets flowing before the first "anchor cfg".
        auto all_sending = [this] {
            for (const anchorsim::AnchorSpec& a : site_.anchors) {
                const std::vector<Logged> sent = logged_of(kSent, a.hw_id);
                if (std::none_of(sent.begin(), sent.end(), is_clock_report)) return false;
            }
            return true;
        };
        for (int i = 0; i < 300 && !all_sending(); ++i) ::usleep(100 * 1000);
        ASSERT_TRUE(all_sending()) << "not every anchor's link opened";
        ::usleep(1000 * 1000);
    }
    ASSERT_TRUE(configure_and_start());
    std::vector<PositionRecord> records;
    collect(20.0, &records);
    // The arrivals of the last 5 s, counted while the blinks still flow.
    const std::string stats = vorlen::sandbox::read_file("/qvx/zub/log/tag_all_statistics.txt");
    stop_simulator();

    std::smatch m;
    ASSERT_TRUE(std::regex_search(stats, m, std::regex("tag id\\(1001\\) rcv blink\\((\\d+)\\)"))) << stats;
    EXPECT_GE(std::stoul(m[1]), 4 * site_.anchors.size()) << "the blinks did not reach the engine";
    size_t multiple = 0;
    for (const PositionRecord& r : records) multiple += r.mode == 4 ? 1 : 0;
    EXPECT_EQ(multiple, 0u);

    if (GetParam().packets_before_cfg) {
        for (const anchorsim::AnchorSpec& a : site_.anchors) {
            SCOPED_TRACE(a.hw_id);
            double configured_at = -1.0;
            for (const Logged& c : logged_of(kCommands, a.hw_id)) {
                if (c.bytes[0] == 0x44) {
                    configured_at = c.at_s;
                    break;
                }
            }
            ASSERT_GT(configured_at, 0.0) << "no configuration command reached the anchor";
            size_t clock = 0, late = 0, blinks = 0;
            for (const Logged& l : logged_of(kSent, a.hw_id)) {
                if (is_clock_report(l)) {
                    ++clock;
                    late += l.at_s >= configured_at ? 1 : 0;
                } else {
                    blinks += l.bytes[0] == 0x32 ? 1 : 0;
                }
            }
            // Masters send one packet per 0.15 s, which each slave hears, for a second at least.
            EXPECT_GE(clock, 6u);
            EXPECT_EQ(late, 0u) << "clock-calibration reports after the configuration";
            EXPECT_GE(blinks, 15u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RoadNoSyncTest,
                         ::testing::Values(NoSyncRow{"NoPackets", false}, NoSyncRow{"PacketsOnlyBeforeAnchorCfg", true}),
                         [](const ::testing::TestParamInfo<NoSyncRow>& i) { return std::string(i.param.name); });

TEST_F(RoadTest, AnchorDroppingAndAnchorNotReadingLeaveTheOthersServed)
{
    constexpr uint64_t kDropped = 0xa0b1000000000003ull;
    constexpr uint64_t kDeaf = 0xa0b1000000000005ull;
    constexpr uint64_t kStatic = 0x1001;
    ASSERT_TRUE(start_programs());
    // Run time: links open within ~10 s; the drop and the deaf anchor start at 22 s.
    ASSERT_TRUE(start_simulator({{22.0, kDropped, anchorsim::FaultKind::Down, 6.0},
                                 {22.0, kDeaf, anchorsim::FaultKind::StopReading, 0.0}}));
    ASSERT_TRUE(configure_and_start());
    std::vector<PositionRecord> records;
    collect(48.0 - run_time(), &records);
    // The engine still answers its controller while one anchor reads nothing.
    const std::string list = request("<req type=\"anchor list\"/>", "</ind>");
    EXPECT_EQ(roadbench::count_of(list, "connection=\"Eth\""), site_.anchors.size()) << list;
    const double t0 = sim_started_at_;
    stop_simulator();

    // The dropped anchor's link is opened again by the link check (every 8 s) and the anchor
    // is started again on it; the deaf anchor's link stays.
    const std::vector<std::string> dropped = commands_of(kDropped);
    EXPECT_GE(count_equal(dropped, "5701"), 2u) << "the re-opened link was not started again";
    EXPECT_TRUE(engine_->running());
    const std::vector<PositionRecord> mine = records_of(records, kStatic);
    EXPECT_GE(count_between(mine, t0 + 24.0, t0 + 30.0), 4u) << "positions stopped while an anchor was away";
    EXPECT_GE(count_between(mine, t0 + 40.0, t0 + 47.0), 5u) << "positions did not resume";
}

TEST_F(RoadTest, ControllerAndClientLimitsHold)
{
    ASSERT_TRUE(start_programs());
    ASSERT_TRUE(start_simulator());
    ASSERT_TRUE(configure_and_start());

    // An over-long line (more than the 2 MiB receive buffer) is dropped; the next is answered.
    const std::string long_line(2200000, 'x');
    ASSERT_TRUE(roadbench::send_all(ctl_, long_line + "\n"));
    const std::string list = request("<req type=\"anchor list\"/>", "</ind>", 15000);
    EXPECT_EQ(roadbench::count_of(list, "<ind type=\"anchor list\">"), 1u) << list.substr(0, 200);

    // 32 clients per report port: the 33rd is closed, the 32 before it stay.
    std::vector<int> clients;
    for (int i = 0; i < 32; ++i) {
        clients.push_back(roadbench::tcp_connect("127.0.0.1", 12345, 5000));
        ASSERT_GE(clients.back(), 0);
    }
    uint8_t buf[4096];
    long last = 0;
    const double give_up = roadbench::now_s() + 5.0;
    while (last >= 0 && roadbench::now_s() < give_up) last = roadbench::read_some(clients.back(), buf, sizeof buf, 200);
    EXPECT_LT(last, 0) << "the 33rd client (with the test's own) was not closed";
    for (size_t i = 0; i + 1 < clients.size(); ++i) {
        EXPECT_GE(roadbench::read_some(clients[i], buf, sizeof buf, 50), 0) << "client " << i;
    }
    EXPECT_GE(roadbench::read_some(loc_, buf, sizeof buf, 50), 0);
    for (int fd : clients) ::close(fd);

    // "rtls stop" sends the protocol's stop (57 00) to every anchor, after the start (57 01).
    const std::string stopped = request("<req type=\"rtls stop\"/>", "<ind type=\"rtls stop\" />");
    EXPECT_NE(stopped.find("<ind type=\"rtls stop\" />"), std::string::npos) << stopped;
    ::usleep(500 * 1000);
    stop_simulator();
    for (const anchorsim::AnchorSpec& a : site_.anchors) {
        SCOPED_TRACE(a.hw_id);
        const std::vector<std::string> got = commands_of(a.hw_id);
        ASSERT_GE(got.size(), 2u);
        EXPECT_EQ(got.back(), "5700");
        EXPECT_EQ(count_equal(got, "5701"), 1u);
    }
}

// A client of the tag-location port with a small receive window, connected with retries while
// the engine's server comes up. -1 on failure.
int connect_small_window(uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 300; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int size = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return fd;
        ::close(fd);
        ::usleep(100 * 1000);
    }
    return -1;
}

long unread_bytes(int fd)
{
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

// A client that stops reading is served again when it resumes: what it then reads is the same
// byte stream as a client that never stopped, every frame whole, while the other client kept
// getting one record per blink of every tag. Forty more static tags at 2 Hz make some 2.8 kB/s
// of records, so that the stalled client's socket buffers fill (the test's own network has
// small send buffers) and the engine has to keep the rest queued.
TEST_F(RoadTest, ClientThatStopsReadingGetsWholeFramesAndTheOthersKeepTheirs)
{
    for (int i = 0; i < 40; ++i) {
        anchorsim::TagSpec t;
        t.id = 0x3000 + static_cast<uint64_t>(i);
        t.rate_hz = 2.0;
        t.path = {{4.0 + 3.0 * (i % 8), 3.0 + 3.0 * (i / 8), 1.2}};
        site_.tags.push_back(t);
    }
    // Small send buffers, in this sandbox's own network only.
    ASSERT_TRUE(vorlen::sandbox::inside());
    if (!vorlen::sandbox::write_file("/proc/sys/net/ipv4/tcp_wmem", "4096 16384 16384\n")) {
        GTEST_SKIP() << "the sandbox's network settings cannot be written: the buffers would not fill";
    }
    ASSERT_TRUE(start_programs());
    ASSERT_TRUE(start_simulator());
    const int stalled = connect_small_window(12345);
    ASSERT_GE(stalled, 0);
    ASSERT_TRUE(configure_and_start());

    // Stalled: the other client reads on until the stalled one's unread bytes have stayed the
    // same for 3 s while the other got more records.
    std::vector<uint8_t> stream, stalled_stream;
    std::vector<PositionRecord> records;
    uint8_t buf[65536];
    auto read_into = [&](int fd, std::vector<uint8_t>* bytes, std::vector<PositionRecord>* out, int wait_ms) {
        const long n = roadbench::read_some(fd, buf, sizeof buf, wait_ms);
        if (n > 0) {
            bytes->insert(bytes->end(), buf, buf + n);
            if (out != nullptr) reader_.feed(buf, static_cast<size_t>(n), roadbench::now_s(), out);
        }
        return n;
    };
    long unread = -1;
    double unread_since = roadbench::now_s();
    size_t records_since = 0;
    bool full = false;
    const double stall_end = roadbench::now_s() + 40.0;
    while (!full && roadbench::now_s() < stall_end) {
        ASSERT_GE(read_into(loc_, &stream, &records, 100), 0) << "the other client was closed";
        const long now_unread = unread_bytes(stalled);
        if (now_unread != unread) {
            unread = now_unread;
            unread_since = roadbench::now_s();
            records_since = records.size();
        }
        full = unread > 0 && roadbench::now_s() - unread_since >= 3.0 && records.size() >= records_since + 100;
    }
    ASSERT_TRUE(full) << "the stalled client's buffer did not fill: " << unread << " bytes unread";
    // Some more seconds stalled, the engine queueing meanwhile.
    for (const double until = roadbench::now_s() + 5.0; roadbench::now_s() < until;) {
        ASSERT_GE(read_into(loc_, &stream, &records, 100), 0);
    }

    // Resumed: both read until the simulator stops and everything sent has come.
    const size_t held = stream.size() - stalled_stream.size();
    for (const double until = roadbench::now_s() + 12.0; roadbench::now_s() < until;) {
        ASSERT_GE(read_into(loc_, &stream, &records, 10), 0);
        ASSERT_GE(read_into(stalled, &stalled_stream, nullptr, 10), 0) << "the stalled client was closed";
    }
    const double end = roadbench::now_s();
    stop_simulator();
    for (const double until = roadbench::now_s() + 1.5; roadbench::now_s() < until;) {
        ASSERT_GE(read_into(loc_, &stream, &records, 10), 0);
        ASSERT_GE(read_into(stalled, &stalled_stream, nullptr, 10), 0);
    }
    ::close(stalled);

    roadbench::ReportFrameReader stalled_reader;
    std::vector<PositionRecord> stalled_records;
    stalled_reader.feed(stalled_stream.data(), stalled_stream.size(), end, &stalled_records);
    EXPECT_EQ(stalled_reader.skipped_bytes(), 0u);
    EXPECT_EQ(stalled_reader.pending_bytes(), 0u);
    EXPECT_EQ(stalled_stream.size(), stalled_records.size() * roadbench::ReportFrameReader::kFrameSize);
    EXPECT_GT(stalled_stream.size(), static_cast<size_t>(unread)) << "nothing was held back for the stalled client";
    std::printf("stalled client: %ld bytes unread in its socket, %zu bytes behind the other client when it resumed\n",
                unread, held);
    EXPECT_TRUE(stalled_stream == stream) << stalled_stream.size() << " bytes against " << stream.size();

    roadbench::Truth truth;
    truth.load(kTruth);
    EXPECT_EQ(reader_.skipped_bytes(), 0u);
    for (const anchorsim::TagSpec& tag : site_.tags) {
        SCOPED_TRACE(tag.id);
        std::vector<PositionRecord> mine;
        for (const PositionRecord& r : records_of(records, tag.id)) {
            if (r.at_s < end - 1.0) mine.push_back(r);
        }
        ASSERT_FALSE(mine.empty());
        const TagOutcome o = judge(mine, truth, tag.id);
        EXPECT_GE(static_cast<double>(o.records), 5.0 * tag.rate_hz);
        EXPECT_EQ(o.lost, 0);
        EXPECT_EQ(o.repeats, 0);
    }
}

TEST_F(RoadTest, LoopbackFuzzLeavesTheEngineAnsweringAndPositionsFlowing)
{
    ASSERT_TRUE(start_programs());
    std::mt19937_64 rng(seed_);
    std::vector<anchorsim::Fault> faults;
    for (int i = 0; i < 24; ++i) {
        anchorsim::Fault f;
        f.at_s = 14.0 + static_cast<double>(rng() % 12000) / 1000.0;
        f.anchor = site_.anchors[rng() % site_.anchors.size()].hw_id;
        f.kind = (i % 3 == 0) ? anchorsim::FaultKind::BadCrc : anchorsim::FaultKind::Garbage;
        f.arg = static_cast<double>(1 + rng() % 400);
        faults.push_back(f);
    }
    std::sort(faults.begin(), faults.end(), [](const auto& a, const auto& b) { return a.at_s < b.at_s; });
    ASSERT_TRUE(start_simulator(faults));
    ASSERT_TRUE(configure_and_start());

    // Random lines on the control port: noise, broken XML and requests of unknown types.
    const char* shapes[] = {"<req type=\"%s\"/>", "<req type=\"%s\">", "<%s", "%s", "<req type=\"anchor cfg\"><anchor addr=\"%s\"/></req>"};
    for (int i = 0; i < 300; ++i) {
        std::string word;
        const size_t len = rng() % 40;
        for (size_t k = 0; k < len; ++k) word += static_cast<char>(32 + rng() % 95);
        char line[256];
        std::snprintf(line, sizeof line, shapes[rng() % 5], word.c_str());
        ASSERT_TRUE(roadbench::send_all(ctl_, std::string(line) + "\n"));
    }
    std::vector<PositionRecord> records;
    collect(28.0 - run_time(), &records);
    uint8_t drain[65536];
    while (roadbench::read_some(ctl_, drain, sizeof drain, 100) > 0) {
    }
    const std::string list = request("<req type=\"anchor list\"/>", "</ind>");
    EXPECT_EQ(roadbench::count_of(list, "connection=\"Eth\""), site_.anchors.size()) << list.substr(0, 300);
    collect(8.0, &records);
    const double end = roadbench::now_s();
    EXPECT_TRUE(engine_->running());
    EXPECT_GE(count_between(records_of(records, 0x1001), end - 7.0, end), 4u);
    EXPECT_GE(count_between(records_of(records, 0x1003), end - 7.0, end), 8u);
}

}  // namespace
}  // namespace road
