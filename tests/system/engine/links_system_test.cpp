// Anchor links and report streams of the running vorlen (qes_omp beside it) with fake anchors
// on 127.0.0.2:3000 and up: links opened at start and reopened after a drop, an absent anchor
// reported on the status port, a traced tag's arrival reports as raw-blink frames and a traced
// slave's clock-sync receptions as raw clock-sync frames. Expected frames are built here from
// their definitions: 0xA8, length, the record's fields little-endian, 0xA8.
#include <algorithm>
#include <thread>

#include "anchorsim/frames.h"
#include "engine_site.h"
#include "sandbox/files.h"

namespace {

using namespace engine_site;
using vorlen::sandbox::count_of;
using vorlen::sandbox::read_file;
using vorlen::sandbox::wait_for_text;

constexpr uint64_t kTag = 0x00000000cafe0001ull;
constexpr size_t kRawBlinkLen = 20;
constexpr size_t kRawCcpLen = 22;
constexpr size_t kStatusLen = 13;

// Raw blink: 0xA8, 0x11, tag id u64, anchor hardware id u64, sequence u8, 0xA8.
Bytes raw_blink_frame(uint64_t tag, uint64_t anchor, uint8_t seq)
{
    Bytes f{0xA8, 0x11};
    put_le(&f, tag, 8);
    put_le(&f, anchor, 8);
    f.push_back(seq);
    f.push_back(0xA8);
    return f;
}

// Raw clock sync: 0xA8, 0x13, slave id u64, master id u64, sequence u8, first path u16, 0xA8.
Bytes raw_ccp_frame(uint64_t slave, uint64_t master, uint8_t seq, uint16_t first_path)
{
    Bytes f{0xA8, 0x13};
    put_le(&f, slave, 8);
    put_le(&f, master, 8);
    f.push_back(seq);
    put_le(&f, first_path, 2);
    f.push_back(0xA8);
    return f;
}

// Anchor status: 0xA8, 0x09, 0x00, anchor hardware id u64, status u8, 0xA8.
Bytes status_frame(uint64_t anchor, uint8_t status)
{
    Bytes f{0xA8, 0x09, 0x00};
    put_le(&f, anchor, 8);
    f.push_back(status);
    f.push_back(0xA8);
    return f;
}

Bytes arrival(uint8_t seq) { return anchorsim::encode_frame(anchorsim::toa_payload(seq, kTag, 0x123456789aull, 750)); }

SiteConfig site(unsigned anchors, std::vector<uint64_t> traced_tags, std::vector<uint64_t> traced_anchors)
{
    SiteConfig s;
    s.anchors = anchors;
    s.traced_tags = std::move(traced_tags);
    s.traced_anchors = std::move(traced_anchors);
    return s;
}

std::vector<Bytes> split(const Bytes& stream, size_t frame_len)
{
    std::vector<Bytes> frames;
    for (size_t at = 0; at + frame_len <= stream.size(); at += frame_len) {
        frames.emplace_back(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + frame_len));
    }
    return frames;
}

class SystemEngineLinks : public vorlen::sandbox::SandboxTest {
protected:
    void TearDown() override
    {
        if (HasFailure()) {
            std::printf("---- anc_statistics ----\n%s\n---- trace ----\n%s\n", read_file(kAncStatistics).c_str(),
                        engine_.trace().c_str());
        }
        engine_.stop();
    }

    // Sends probe reports (sequence numbers from 200 up) until the client sees a frame: the
    // trace lists are read 5 s after the start. What is still in flight is drained after.
    void wait_until_traced(const Conn& link, const Conn& client, const std::function<Bytes(uint8_t)>& probe)
    {
        bool seen = false;
        for (uint8_t seq = 200; seq < 240 && !seen; ++seq) {
            ASSERT_TRUE(link.write_all(probe(seq)));
            seen = !client.read_exactly(1, 500ms).empty();
        }
        ASSERT_TRUE(seen) << "no frame for a traced id within 20 s";
        client.drain(500ms);
    }

    Engine engine_;
};

TEST_F(SystemEngineLinks, LinksOpenAtStartAndReopenAfterAnAnchorDrops)
{
    FakeAnchor a0(0);
    FakeAnchor a1(1);
    ASSERT_TRUE(a0.ok() && a1.ok());
    ASSERT_NO_FATAL_FAILURE(engine_.start(site(2, {}, {})));
    // One open each within two checks (the first check may run before the socket job's
    // reactor is up, and its opens then fail).
    Conn link0 = a0.live_link(0, 20s);
    Conn link1 = a1.live_link(1, 20s);
    ASSERT_TRUE(link0.ok());
    ASSERT_TRUE(link1.ok());
    const std::string up0 = link_line(0, true);
    const std::string up1 = link_line(1, true);
    const std::string down0 = link_line(0, false);

    // Anchor 0 goes away: its link is closed and reported, and the next check reopens it.
    link0.close();
    EXPECT_TRUE(wait_for_text(kAncStatistics, down0, 5s));
    Conn again = a0.accept_link(10s);
    EXPECT_TRUE(again.ok());
    EXPECT_TRUE(wait_for_text(kAncStatistics, up0, 5s, 2));

    const std::string stats = read_file(kAncStatistics);
    EXPECT_EQ(count_of(stats, up0), 2u);
    EXPECT_EQ(count_of(stats, down0), 1u);
    EXPECT_EQ(count_of(stats, up1), 1u);
    EXPECT_EQ(count_of(stats, "has disconnect"), 1u);
}

TEST_F(SystemEngineLinks, AbsentAnchorIsReportedNeverConnectedAtEveryCheck)
{
    // Anchor 0 listens, anchor 1 is configured but absent.
    FakeAnchor a0(0);
    ASSERT_TRUE(a0.ok());
    ASSERT_NO_FATAL_FAILURE(engine_.start(site(2, {}, {})));
    Conn status = connect_local(kAncStatPort);
    ASSERT_TRUE(status.ok());
    Conn link0 = a0.live_link(0, 20s);
    ASSERT_TRUE(link0.ok());

    // Every check reports each anchor it found down, whatever the reopen did. From the check
    // that connected anchor 0 on (what came before is dropped), each check gives one frame:
    // the absent anchor, never connected.
    status.drain(300ms);
    const Bytes first = status.read_exactly(kStatusLen, 12s);
    const auto first_at = std::chrono::steady_clock::now();
    const Bytes second = status.read_exactly(kStatusLen, 12s);
    const auto gap = std::chrono::steady_clock::now() - first_at;
    EXPECT_EQ(hex(first), hex(status_frame(anchor_hw(1), 0)));
    EXPECT_EQ(hex(second), hex(status_frame(anchor_hw(1), 0)));
    EXPECT_GT(gap, 5s);
    EXPECT_LT(gap, 11s);

    // Once it listens, the next check connects it.
    FakeAnchor a1(1);
    ASSERT_TRUE(a1.ok());
    Conn link1 = a1.accept_link(10s);
    EXPECT_TRUE(link1.ok());
    EXPECT_TRUE(wait_for_text(kAncStatistics, link_line(1, true), 5s));
}

TEST_F(SystemEngineLinks, ArrivalReportsOfATracedTagGiveRawBlinkFramesHoweverTheyAreWritten)
{
    FakeAnchor a0(0);
    ASSERT_TRUE(a0.ok());
    ASSERT_NO_FATAL_FAILURE(engine_.start(site(1, {kTag}, {})));
    Conn raw = connect_local(kRawBlinkPort);
    ASSERT_TRUE(raw.ok());
    Conn link = a0.live_link(0, 20s);
    ASSERT_TRUE(link.ok());
    ASSERT_NO_FATAL_FAILURE(wait_until_traced(link, raw, arrival));

    struct Row {
        const char* how;
        std::vector<uint8_t> seqs;  // the reports written, the frames expected
        std::function<void(const Conn&, const std::vector<uint8_t>&)> write;
    };
    const auto pause = [] { std::this_thread::sleep_for(150ms); };
    const std::vector<Row> rows = {
        {"one frame in three pieces", {1}, [&](const Conn& c, const std::vector<uint8_t>& s) {
             const Bytes f = arrival(s[0]);
             for (auto [from, to] : {std::pair<size_t, size_t>{0, 2}, {2, 11}, {11, f.size()}}) {
                 ASSERT_TRUE(c.write_all(Bytes(f.begin() + static_cast<long>(from), f.begin() + static_cast<long>(to))));
                 pause();
             }
         }},
        {"one frame byte by byte", {2}, [&](const Conn& c, const std::vector<uint8_t>& s) {
             for (uint8_t b : arrival(s[0])) {
                 ASSERT_TRUE(c.write_all(Bytes{b}));
                 std::this_thread::sleep_for(5ms);
             }
         }},
        {"a burst of ten frames in one write", {10, 11, 12, 13, 14, 15, 16, 17, 18, 19},
         [&](const Conn& c, const std::vector<uint8_t>& s) {
             Bytes burst;
             for (uint8_t seq : s) {
                 const Bytes f = arrival(seq);
                 burst.insert(burst.end(), f.begin(), f.end());
             }
             ASSERT_TRUE(c.write_all(burst));
         }},
        {"a frame across two writes after a whole one", {20, 21}, [&](const Conn& c, const std::vector<uint8_t>& s) {
             Bytes both = arrival(s[0]);
             const Bytes second = arrival(s[1]);
             both.insert(both.end(), second.begin(), second.begin() + 7);
             ASSERT_TRUE(c.write_all(both));
             pause();
             ASSERT_TRUE(c.write_all(Bytes(second.begin() + 7, second.end())));
         }},
        {"garbage, then a frame in a later read", {30}, [&](const Conn& c, const std::vector<uint8_t>& s) {
             ASSERT_TRUE(c.write_all(Bytes{0x41, 0x7f, 0x00, 0xff, 0x13, 0x37, 0x99}));
             pause();
             ASSERT_TRUE(c.write_all(arrival(s[0])));
         }},
        {"a frame with a bad check, then a frame in a later read", {31}, [&](const Conn& c, const std::vector<uint8_t>& s) {
             ASSERT_TRUE(c.write_all(anchorsim::encode_frame_bad_crc(anchorsim::toa_payload(99, kTag, 1, 750))));
             pause();
             ASSERT_TRUE(c.write_all(arrival(s[0])));
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.how);
        ASSERT_NO_FATAL_FAILURE(row.write(link, row.seqs));
        std::vector<Bytes> want;
        for (uint8_t seq : row.seqs) {
            want.push_back(raw_blink_frame(kTag, anchor_hw(0), seq));
        }
        std::vector<Bytes> got = split(raw.read_exactly(want.size() * kRawBlinkLen, 5s), kRawBlinkLen);
        // The three managers take the reports in turn, so frames of one burst may pass each other.
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want);
        EXPECT_TRUE(raw.drain(300ms).empty()) << "more frames than reports";
    }
}

TEST_F(SystemEngineLinks, ReceptionReportsOfATracedSlaveGiveRawClockSyncFrames)
{
    FakeAnchor slave(0);
    ASSERT_TRUE(slave.ok());
    // Anchor 1 is the slave's configured master; no "anchor cfg" is ever sent.
    ASSERT_NO_FATAL_FAILURE(engine_.start(site(2, {}, {anchor_hw(0)})));
    Conn raw = connect_local(kRawCcpPort);
    ASSERT_TRUE(raw.ok());
    Conn link = slave.live_link(0, 20s);
    ASSERT_TRUE(link.ok());
    const auto reception = [](uint8_t seq, uint64_t master, uint16_t first_path) {
        return anchorsim::encode_frame(anchorsim::ccp_rx_payload(seq, master, 0xfedcba9876ull, first_path));
    };
    ASSERT_NO_FATAL_FAILURE(
        wait_until_traced(link, raw, [&](uint8_t seq) { return reception(seq, anchor_hw(1), 800); }));

    struct Row {
        const char* what;
        uint8_t seq;
        uint64_t master;
        uint16_t first_path;  // index; the report carries it x 64 and the frame carries it back
    };
    const Row rows[] = {
        {"configured master", 1, anchor_hw(1), 800},
        {"unknown master", 2, 0x1122334455667788ull, 800},
        {"first path below the gate", 3, anchor_hw(1), 699},
        {"first path above the gate", 4, anchor_hw(1), 901},
        {"sequence after a gap", 9, anchor_hw(1), 700},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(link.write_all(reception(row.seq, row.master, row.first_path)));
        EXPECT_EQ(hex(raw.read_exactly(kRawCcpLen, 5s)), hex(raw_ccp_frame(anchor_hw(0), row.master, row.seq, row.first_path)));
    }
    EXPECT_TRUE(raw.drain(300ms).empty()) << "more frames than reports";
}

}  // namespace
