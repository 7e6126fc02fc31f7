// One fake anchor's link on an ephemeral loopback port: 'B' on every new link, reports only
// while started, every command recorded, and the fault switches.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "anchorsim/anchor_server.h"
#include "zub_crc16.h"

using namespace anchorsim;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kHw = 0x0822614400000A01ull;

// The engine's end of the link: a blocking client with a short receive time-out.
class EngineEnd {
public:
    explicit EngineEnd(uint16_t port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{0, 200000};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~EngineEnd() { close(); }
    bool connected() const { return connected_; }
    void send(const Bytes& b) { ASSERT_EQ(::send(fd_, b.data(), b.size(), MSG_NOSIGNAL), static_cast<ssize_t>(b.size())); }
    void close()
    {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    // Whatever arrives within the time-out.
    Bytes read_some()
    {
        uint8_t buf[65536];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? Bytes(buf, buf + n) : Bytes{};
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

// Turns the server's poll loop until `done` holds or a second has passed.
bool pump(AnchorServer& s, const std::function<bool()>& done)
{
    const auto until = Clock::now() + std::chrono::seconds(1);
    while (Clock::now() < until) {
        std::vector<pollfd> fds;
        s.poll_set(&fds);
        ::poll(fds.data(), fds.size(), 5);
        s.dispatch(fds.data(), fds.size(), 0.0);
        if (done()) {
            return true;
        }
    }
    return done();
}

Bytes read_frame_bytes(EngineEnd& e, size_t n)
{
    Bytes got;
    for (int i = 0; i < 10 && got.size() < n; ++i) {
        const Bytes b = e.read_some();
        got.insert(got.end(), b.begin(), b.end());
    }
    return got;
}

class anchorsim_AnchorServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(server.listen(&error)) << error;
        ASSERT_NE(server.port(), 0);
    }
    AnchorServer server{kHw, "sim-7", "127.0.0.1", 0};
};

}  // namespace

TEST_F(anchorsim_AnchorServer, AsksForItsConfigurationOnEveryLink)
{
    const Bytes b_frame = encode_frame(req_cfg_payload(kHw, "sim-7"));
    for (int link = 1; link <= 2; ++link) {
        SCOPED_TRACE(link);
        EngineEnd engine(server.port());
        ASSERT_TRUE(engine.connected());
        ASSERT_TRUE(pump(server, [&] { return server.stats().links_accepted == static_cast<uint64_t>(link); }));
        EXPECT_EQ(read_frame_bytes(engine, b_frame.size()), b_frame);
        EXPECT_FALSE(server.started());
        engine.close();
        ASSERT_TRUE(pump(server, [&] { return !server.connected(); }));
    }
}

TEST_F(anchorsim_AnchorServer, ReportsOnlyWhileStartedAndRecordsEveryCommand)
{
    EngineEnd engine(server.port());
    ASSERT_TRUE(pump(server, [&] { return server.connected(); }));
    read_frame_bytes(engine, 20);  // the 'B' frame
    const Bytes report = toa_payload(1, 0x42, 0x1234, 750);
    const Bytes framed = encode_frame(report);

    struct Row {
        const char* what;
        Bytes command;
        bool started;
        bool ranging;
    };
    Bytes cfg(26, 0);
    cfg[0] = 0x44;
    Bytes twr(17, 0);
    twr[0] = 0x5A;
    const Row rows[] = {
        {"before any command", {}, false, false},
        {"configuration alone does not start", cfg, false, false},
        {"start", {0x57, 0x01}, true, false},
        {"stop", {0x57, 0x00}, false, false},
        {"ranging start", twr, true, true},
        {"initialise is only noted", {0x56}, true, true},
        {"stop again", {0x57, 0x00}, false, false},
    };
    size_t commands = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        if (!r.command.empty()) {
            engine.send(r.command);
            ++commands;
            ASSERT_TRUE(pump(server, [&] { return server.commands().size() == commands; }));
            EXPECT_EQ(server.commands().back().command.bytes, r.command);
        }
        EXPECT_EQ(server.started(), r.started);
        EXPECT_EQ(server.ranging(), r.ranging);
        EXPECT_EQ(server.send_report(report), r.started);
        server.flush();
        EXPECT_EQ(r.started ? read_frame_bytes(engine, framed.size()) : engine.read_some(), r.started ? framed : Bytes{});
    }
}

TEST_F(anchorsim_AnchorServer, FaultSwitches)
{
    EngineEnd engine(server.port());
    ASSERT_TRUE(pump(server, [&] { return server.connected(); }));
    read_frame_bytes(engine, 20);

    // A frame with a bad checksum: whole, and failing the check.
    const Bytes payload = toa_payload(2, 0x43, 0x99, 750);
    server.send_bad_crc(payload);
    const Bytes bad = read_frame_bytes(engine, payload.size() + 6);
    ASSERT_EQ(bad.size(), payload.size() + 6);
    EXPECT_EQ(bad[0], 0x02);
    EXPECT_EQ(check_crc16(bad.data() + 3, static_cast<WORD16>(payload.size() + 2)), CRC_ERROR);

    // A frame with a wrong end byte: the good frame but for its last byte.
    server.send_bad_etx(payload);
    Bytes want = encode_frame(payload);
    want.back() = 0xFC;
    EXPECT_EQ(read_frame_bytes(engine, payload.size() + 6), want);

    // Garbage: the bytes asked for, never starting with STX.
    std::mt19937_64 rng(1);
    server.send_garbage(100, rng);
    const Bytes junk = read_frame_bytes(engine, 100);
    ASSERT_EQ(junk.size(), 100u);
    EXPECT_NE(junk[0], 0x02);

    // Not reading: commands wait in the socket until reading resumes.
    server.set_reading(false);
    engine.send({0x57, 0x01});
    EXPECT_FALSE(pump(server, [&] { return !server.commands().empty(); }));
    server.set_reading(true);
    EXPECT_TRUE(pump(server, [&] { return server.commands().size() == 1; }));

    // Silent: started, yet nothing is sent.
    server.set_silent(true);
    EXPECT_FALSE(server.send_report(payload));
    server.set_silent(false);
    EXPECT_TRUE(server.send_report(payload));
    server.flush();
    EXPECT_EQ(read_frame_bytes(engine, payload.size() + 6), encode_frame(payload));

    // Dropping the link: the engine sees the end of the stream; a new link is accepted.
    server.drop_link();
    EXPECT_TRUE(engine.read_some().empty());
    EngineEnd again(server.port());
    EXPECT_TRUE(pump(server, [&] { return server.stats().links_accepted == 2; }));

    // Listener down: a connection is refused until it is back.
    server.set_listening(false);
    EXPECT_FALSE(EngineEnd(server.port()).connected());
    server.set_listening(true);
    EngineEnd third(server.port());
    EXPECT_TRUE(third.connected());
    EXPECT_TRUE(pump(server, [&] { return server.stats().links_accepted == 3; }));

    // Cut in the middle of a frame: 'B', then the first 12 of the frame's 24 bytes, then the
    // end of the stream.
    server.drop_link_mid_frame(payload);
    EXPECT_FALSE(server.connected());
    Bytes got;
    for (Bytes b = third.read_some(); !b.empty(); b = third.read_some()) got.insert(got.end(), b.begin(), b.end());
    Bytes cut = encode_frame(req_cfg_payload(kHw, "sim-7"));
    const Bytes whole = encode_frame(payload);
    ASSERT_EQ(whole.size(), 24u);
    cut.insert(cut.end(), whole.begin(), whole.begin() + 12);
    EXPECT_EQ(got, cut);
}

// Clock-calibration reports: held back until the start command like every report, unless set
// to go from the link's opening; stopped and resumed by hand, or for good by a command.
TEST_F(anchorsim_AnchorServer, ClockReportsWindow)
{
    EngineEnd engine(server.port());
    ASSERT_TRUE(pump(server, [&] { return server.connected(); }));
    read_frame_bytes(engine, 20);
    const Bytes blink = toa_payload(3, 0x44, 0x77, 750);
    const Bytes heard = ccp_rx_payload(9, 0x0822614400000A00ull, 0x88, 750);
    const Bytes sent = ccp_tx_payload(9, 0x66);
    Bytes cfg(26, 0);
    cfg[0] = 0x44;

    struct Row {
        const char* what;
        std::function<void()> act;
        size_t commands;  // read by the anchor in all
        bool blink_goes;
        bool clock_goes;
    };
    const Row rows[] = {
        {"linked, not started", [] {}, 0, false, false},
        {"clock reports before the start", [&] { server.set_clock_before_start(true); }, 0, false, true},
        {"to stop at the configuration command", [&] { server.stop_clock_on_command(0x44); }, 0, false, true},
        {"a start command is not it", [&] { engine.send({0x57, 0x01}); }, 1, true, true},
        {"clock reports stopped by hand", [&] { server.set_clock_reports(false); }, 1, true, false},
        {"and resumed", [&] { server.set_clock_reports(true); }, 1, true, true},
        {"the configuration command stops them", [&] { engine.send(cfg); }, 2, true, false},
        {"for good, across a stop and start", [&] {
             engine.send({0x57, 0x00});
             engine.send({0x57, 0x01});
         }, 4, true, false},
    };
    uint64_t clock_frames = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        r.act();
        ASSERT_TRUE(pump(server, [&] { return server.commands().size() == r.commands; }));
        Bytes want;
        for (const Bytes* p : {&blink, &heard, &sent}) {
            const bool goes = p == &blink ? r.blink_goes : r.clock_goes;
            EXPECT_EQ(server.send_report(*p), goes);
            if (goes) {
                const Bytes f = encode_frame(*p);
                want.insert(want.end(), f.begin(), f.end());
            }
        }
        clock_frames += r.clock_goes ? 2 : 0;
        server.flush();
        EXPECT_EQ(want.empty() ? engine.read_some() : read_frame_bytes(engine, want.size()), want);
        EXPECT_EQ(server.stats().clock_frames_sent, clock_frames);
    }
}

// A silent anchor accepts the link and sends not even its configuration request.
TEST_F(anchorsim_AnchorServer, SilentAnchorSendsNothing)
{
    server.set_silent(true);
    EngineEnd engine(server.port());
    ASSERT_TRUE(pump(server, [&] { return server.connected(); }));
    EXPECT_TRUE(engine.read_some().empty());
}
