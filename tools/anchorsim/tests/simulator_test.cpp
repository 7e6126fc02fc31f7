// A whole simulated site on loopback: two anchors on ephemeral ports, driven by the run loop;
// frames arrive whole and valid once started, the truth file holds every blink, the command
// log every command, and a scheduled fault drops a link that is accepted again.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "anchorsim/simulator.h"
#include "zub_crc16.h"

using namespace anchorsim;

namespace {

int connect_to(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Cuts whole frames off the head of `buf`; false on bytes that are not a valid frame.
bool take_frames(Bytes* buf, std::vector<Bytes>* payloads)
{
    while (buf->size() >= 6) {
        const size_t len = (*buf)[1] | ((*buf)[2] << 8);
        if ((*buf)[0] != 0x02) {
            return false;
        }
        if (buf->size() < len + 6) {
            break;
        }
        if ((*buf)[len + 5] != 0x03 || check_crc16(buf->data() + 3, static_cast<WORD16>(len + 2)) != CRC_OKAY) {
            return false;
        }
        payloads->emplace_back(buf->begin() + 3, buf->begin() + 3 + static_cast<long>(len));
        buf->erase(buf->begin(), buf->begin() + static_cast<long>(len + 6));
    }
    return true;
}

std::string temp_path(const char* name)
{
    return (std::string(::testing::TempDir()) + "/anchorsim_" + std::to_string(getpid()) + "_" + name);
}

}  // namespace

TEST(anchorsim_Simulator, RunsASiteOnLoopback)
{
    const std::string text =
        "seed 5\nccp_interval 0.05\n"
        "anchor id=A1 ip=127.0.0.1 pos=0,0,3 master=1\n"
        "anchor id=A2 ip=127.0.0.1 pos=30,0,3 follows=A1\n"
        "tag id=101 rate=20 pos=5,5,1\n";
    SiteModel site;
    std::string error;
    ASSERT_TRUE(parse_site(text, &site, &error)) << error;
    SimulatorOptions opt;
    opt.truth_path = temp_path("truth.txt");
    opt.commands_path = temp_path("commands.txt");
    opt.port_override = 0;
    opt.faults.push_back(Fault{0.6, 0xA2, FaultKind::Close, 0});
    Simulator sim(site, site.seed, opt);
    ASSERT_TRUE(sim.open(&error)) << error;

    int fd[2] = {connect_to(sim.server(0).port()), connect_to(sim.server(1).port())};
    ASSERT_GE(fd[0], 0);
    ASSERT_GE(fd[1], 0);
    const uint8_t start[2] = {0x57, 0x01};
    Bytes buf[2];
    std::vector<Bytes> payloads[2];
    bool valid = true;
    bool reconnected = false;
    // One second of run time in 1-ms turns: what the site sends depends on the run time it is
    // given, not on how fast this loop gets round on a busy machine.
    for (int ms = 0; ms <= 1000; ++ms) {
        const double now = ms / 1000.0;
        sim.step(now, 1);
        for (int i = 0; i < 2; ++i) {
            uint8_t tmp[65536];
            const ssize_t n = ::recv(fd[i], tmp, sizeof tmp, MSG_DONTWAIT);
            if (n > 0) {
                buf[i].insert(buf[i].end(), tmp, tmp + n);
                valid = valid && take_frames(&buf[i], &payloads[i]);
                if (payloads[i].size() == 1 && payloads[i][0][0] == 0x42) {
                    ASSERT_EQ(::send(fd[i], start, 2, 0), 2);
                }
            } else if (n == 0 && i == 1 && !reconnected) {
                // The scheduled close: the engine connects again and the anchor asks again.
                ::close(fd[1]);
                fd[1] = connect_to(sim.server(1).port());
                buf[1].clear();
                payloads[1].clear();
                reconnected = true;
            }
        }
    }
    ::close(fd[0]);
    ::close(fd[1]);
    EXPECT_TRUE(valid);
    EXPECT_TRUE(reconnected);
    EXPECT_EQ(sim.server(1).stats().links_accepted, 2u);

    // Anchor A1: 'B', then clock packets sent and arrivals; A2: 'B', heard packets, arrivals.
    ASSERT_FALSE(payloads[0].empty());
    ASSERT_FALSE(payloads[1].empty());
    EXPECT_EQ(payloads[0][0][0], 0x42);
    EXPECT_EQ(payloads[1][0][0], 0x42);
    std::map<uint8_t, int> codes0, codes1;
    for (const Bytes& p : payloads[0]) ++codes0[p[0]];
    for (const Bytes& p : payloads[1]) ++codes1[p[0]];
    EXPECT_GT(codes0[0x30], 10);
    EXPECT_GT(codes0[0x32], 10);
    EXPECT_EQ(codes0[0x31], 0);
    EXPECT_GT(codes1[0x31], 3);
    EXPECT_GT(codes1[0x32], 3);
    EXPECT_EQ(codes1[0x30], 0);

    // The truth: one line per blink, 20 per second, after the header.
    std::ifstream truth(opt.truth_path);
    std::string line;
    std::getline(truth, line);
    EXPECT_EQ(line, "# time tag seq x y z");
    int blinks = 0;
    while (std::getline(truth, line)) {
        std::istringstream in(line);
        double t, x, y, z;
        std::string tag;
        unsigned seq;
        ASSERT_TRUE(in >> t >> tag >> seq >> x >> y >> z) << line;
        EXPECT_EQ(tag, "0000000000000101");
        EXPECT_EQ(x, 5.0);
        EXPECT_EQ(y, 5.0);
        EXPECT_EQ(z, 1.0);
        ++blinks;
    }
    EXPECT_NEAR(blinks, 20, 2);

    // The command log: each start command once per link.
    std::ifstream cmds(opt.commands_path);
    int starts = 0;
    while (std::getline(cmds, line)) {
        if (line.size() > 5 && line.substr(line.size() - 5) == " 5701") {
            ++starts;
        }
    }
    EXPECT_EQ(starts, 3);
    std::remove(opt.truth_path.c_str());
    std::remove(opt.commands_path.c_str());
}

TEST(anchorsim_Simulator, ReadsFaultSchedules)
{
    struct Row {
        std::string text;
        bool ok;
        double at;
        uint64_t anchor;
        FaultKind kind;
        double arg;
    };
    const Row rows[] = {
        {"5:0822614400000003:close", true, 5, 0x0822614400000003ull, FaultKind::Close, 0},
        {"1.5:A1:down", true, 1.5, 0xA1, FaultKind::Down, 10},
        {"1.5:A1:down:3", true, 1.5, 0xA1, FaultKind::Down, 3},
        {"2:A1:garbage", true, 2, 0xA1, FaultKind::Garbage, 64},
        {"2:A1:garbage:500", true, 2, 0xA1, FaultKind::Garbage, 500},
        {"0:a1:stop_reading", true, 0, 0xA1, FaultKind::StopReading, 0},
        {"9:A1:resume_reading", true, 9, 0xA1, FaultKind::ResumeReading, 0},
        {"3:A1:bad_crc", true, 3, 0xA1, FaultKind::BadCrc, 0},
        {"3:A1:silent", true, 3, 0xA1, FaultKind::Silent, 0},
        {"4:A1:talk", true, 4, 0xA1, FaultKind::Talk, 0},
        {"4:A1:bad_etx", true, 4, 0xA1, FaultKind::BadEtx, 0},
        {"4:A1:cut_frame", true, 4, 0xA1, FaultKind::CutFrame, 0},
        {"0:A1:clock_early", true, 0, 0xA1, FaultKind::ClockEarly, 0},
        {"5:A1:clock_off", true, 5, 0xA1, FaultKind::ClockOff, 0},
        {"6:A1:clock_on", true, 6, 0xA1, FaultKind::ClockOn, 0},
        {"0:A1:clock_until_command", true, 0, 0xA1, FaultKind::ClockUntilCommand, 0x44},
        {"0:A1:clock_until_command:87", true, 0, 0xA1, FaultKind::ClockUntilCommand, 0x57},
        {"0:A1:clock_until_command:256", false, 0, 0, FaultKind::Close, 0},
        {"0:A1:clock_until_command:68.5", false, 0, 0, FaultKind::Close, 0},
        {"A1:close", false, 0, 0, FaultKind::Close, 0},
        {"x:A1:close", false, 0, 0, FaultKind::Close, 0},
        {"-1:A1:close", false, 0, 0, FaultKind::Close, 0},
        {"1:Z9:close", false, 0, 0, FaultKind::Close, 0},
        {"1:A1:explode", false, 0, 0, FaultKind::Close, 0},
        {"1:A1:down:-2", false, 0, 0, FaultKind::Close, 0},
        {"1:A1:down:2:3", false, 0, 0, FaultKind::Close, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        Fault f;
        std::string error;
        ASSERT_EQ(parse_fault(r.text, &f, &error), r.ok) << error;
        if (!r.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(f.at_s, r.at);
        EXPECT_EQ(f.anchor, r.anchor);
        EXPECT_EQ(f.kind, r.kind);
        EXPECT_EQ(f.arg, r.arg);
    }
}
