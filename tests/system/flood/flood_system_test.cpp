// Rejected input in bulk against the running programs: random datagrams on the intra-board
// ports of both programs (from the partner program's port, and from anywhere else) and a flood of
// bare heads on the back-communication port. Each rejected input has a log line; the log may grow
// by kilobytes only, the first lines of each kind read as before, and every line held back is
// counted in a later one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "proxy_harness.h"
#include "sandbox/daemon.h"
#include "sandbox/files.h"
#include "sandbox/harness.h"
#include "sandbox/udp_probe.h"

namespace {

using namespace std::chrono_literals;
using namespace vorlen::sandbox;

constexpr long kKilobytesAllowed = 64;  // one flood used to add about 10 MB

long file_size(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// An intra-board datagram whose header announces no data although `size` bytes arrive.
std::vector<uint8_t> wrong_length(uint32_t msg_id, size_t size) {
    std::vector<uint8_t> d(size, 0x5A);
    T_CNMessageHead h{};
    h.dwMsgID = msg_id;
    h.dwMsgLen = 0;
    std::memcpy(d.data(), &h, sizeof h);
    return d;
}

// Lines of the log text that hold `needle`.
std::vector<std::string> lines_with(const std::string& log, const std::string& needle) {
    std::vector<std::string> out;
    for (size_t at = 0; at < log.size();) {
        const size_t end = std::min(log.find('\n', at), log.size());
        const std::string line = log.substr(at, end - at);
        if (line.find(needle) != std::string::npos) out.push_back(line);
        at = end + 1;
    }
    return out;
}

// Lines written plus the counts they carry: every input of the kind, written or held back.
long accounted(const std::vector<std::string>& lines) {
    long total = 0;
    for (const std::string& line : lines) {
        unsigned held = 0;
        total += 1 + (std::sscanf(line.c_str(), "(%u lines like this held back)", &held) == 1 ? held : 0);
    }
    return total;
}

struct Program {
    const char* name;
    const char* bin;
    const char* dir;
    const char* log;
    uint16_t port;
    uint16_t partner;  // the other program's port, the only source the program takes datagrams from
};

void PrintTo(const Program& p, std::ostream* out) { *out << p.name; }

class FloodSystem : public SandboxTest, public testing::WithParamInterface<Program> {
protected:
    // Starts the program and waits until start-up has written its lines, a second apart from
    // what comes next; the log's size then.
    long start_program() {
        const Program& p = GetParam();
        EXPECT_TRUE(write_file("/qvx/omp/omp.cfg", "[QES]\nbureau=1\n[EndQES]\n"));
        program_.emplace(Daemon::start(install_program(p.bin, p.dir)));
        EXPECT_TRUE(wait_for_text(p.log, "Timer signal not detect at ACE_TMAIN,line=1295!\n", 10s));
        std::this_thread::sleep_for(1100ms);
        return file_size(p.log);
    }
    // 100,000 datagrams of 44 to 1443 random bytes.
    static void send_random(UdpProbe& sender, uint16_t port, uint32_t seed) {
        std::mt19937 random(seed);
        for (int i = 0; i < 100000; ++i) {
            std::vector<uint8_t> d(44 + random() % 1400);
            for (auto& b : d) b = static_cast<uint8_t>(random());
            sender.send_to(port, d);
        }
    }
    std::optional<Daemon> program_;
};

TEST_P(FloodSystem, RandomDatagramsOnTheIntraBoardPort) {
    const Program& p = GetParam();
    const long before = start_program();

    UdpProbe sender(p.partner);
    ASSERT_TRUE(sender.ok());
    for (uint32_t i = 0; i < 10; ++i) ASSERT_TRUE(sender.send_to(p.port, wrong_length(i, 100)));
    send_random(sender, p.port, 20261209);
    // A different kind of rejection a second later marks the end of the flood's processing.
    std::this_thread::sleep_for(1100ms);
    ASSERT_TRUE(sender.send_to(p.port, std::vector<uint8_t>(33, 1)));
    ASSERT_TRUE(wait_for_text(p.log, "CNIntraMsgHandler: datagram of 33 bytes is shorter than a message header, dropped\n",
                              20s));
    std::this_thread::sleep_for(1100ms);
    ASSERT_TRUE(sender.send_to(p.port, wrong_length(4242, 60)));
    ASSERT_TRUE(wait_for_text(p.log, "(dwMsgId=4242)", 10s));

    const std::string log = read_file(p.log);
    EXPECT_LT(file_size(p.log) - before, kKilobytesAllowed * 1024) << p.name;
    const auto rejected = lines_with(log, "announces dwMsgLen=");
    ASSERT_GE(rejected.size(), 11u);
    for (uint32_t i = 0; i < 10; ++i) {
        EXPECT_EQ("CNIntraMsgHandler: datagram of 100 bytes announces dwMsgLen=0, dropped (dwMsgId=" +
                      std::to_string(i) + ")",
                  rejected[i]);
    }
    const std::string& last = rejected.back();
    EXPECT_EQ(0u, last.rfind("(", 0)) << last;  // carries what was held back
    EXPECT_NE(std::string::npos,
              last.find("lines like this held back) CNIntraMsgHandler: datagram of 60 bytes announces dwMsgLen=0, "
                        "dropped (dwMsgId=4242)"));
    // Loopback may drop datagrams when the receiver falls behind; none is counted twice.
    EXPECT_LE(accounted(rejected), 100000 + 10 + 1);
    EXPECT_TRUE(program_->running());
}

TEST_P(FloodSystem, DatagramsFromAnyOtherSourceAreDroppedUnread) {
    const Program& p = GetParam();
    const long before = start_program();

    // A message the program answers at once, to the sender's port: a registration to qes_omp's
    // sequencer, a power-on to the engine's notexist job (the engine never powers on alone). The
    // sender names module 30, unit 0 (port 20300), where this probe listens.
    UdpProbe stranger(20300);
    ASSERT_TRUE(stranger.ok());
    const bool omp = p.port == 20010;
    T_CNMessageHead h{};
    h.DestJID.dwJno = omp ? 1 : 0x00010001;
    h.DestJID.wModule = omp ? 1 : 11;
    h.DestJID.wUnit = 0xFFFF;
    h.SrcJID.dwJno = 1;
    h.SrcJID.dwDevId = 1;
    h.SrcJID.wModule = 30;
    h.dwMsgID = omp ? 1 : 6000;
    std::vector<uint8_t> answerable(sizeof h);
    std::memcpy(answerable.data(), &h, sizeof h);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(stranger.send_to(p.port, answerable));
    EXPECT_FALSE(stranger.receive(1s)) << "a datagram from 20300 was answered";
    UdpProbe sender(0);
    ASSERT_TRUE(sender.ok());
    send_random(sender, p.port, 20261210);
    std::this_thread::sleep_for(1100ms);
    ASSERT_TRUE(sender.send_to(p.port, std::vector<uint8_t>(33, 1)));
    ASSERT_TRUE(wait_for_text(p.log, "datagram of 33 bytes from 127.0.0.1:", 20s));

    const std::string log = read_file(p.log);
    EXPECT_LT(file_size(p.log) - before, kKilobytesAllowed * 1024) << p.name;
    const std::string partner = "(127.0.0.1:" + std::to_string(p.partner) + ")";
    const auto dropped = lines_with(log, " is not from the partner program " + partner);
    ASSERT_GE(dropped.size(), 11u);
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ("CNIntraMsgHandler: datagram of 44 bytes from 127.0.0.1:20300 is not from the partner program " +
                      partner + ", dropped (" + std::to_string(i + 1) + " so far)",
                  dropped[i]);
    }
    // Every datagram read is counted once, in the lines and in the running total of the last one.
    unsigned long long total = 0;
    const std::string& last = dropped.back();
    ASSERT_EQ(1, std::sscanf(last.substr(last.rfind("dropped (")).c_str(), "dropped (%llu so far)", &total)) << last;
    EXPECT_EQ(static_cast<unsigned long long>(accounted(dropped)), total);
    EXPECT_LE(total, 100000u + 10 + 1);
    EXPECT_EQ(log.find("announces dwMsgLen="), std::string::npos);  // none was looked at
    EXPECT_TRUE(program_->running());
}

INSTANTIATE_TEST_SUITE_P(Programs, FloodSystem,
                         testing::Values(Program{"qes_omp", QES_OMP_BIN, "/qvx/omp", "/qvx/omp/log/QES_OMP.log", 20010,
                                                 20110},
                                         Program{"vorlen", VORLEN_BIN, "/qvx/zub", "/qvx/zub/log/uwb_zub.log", 20110,
                                                 20010}),
                         [](const testing::TestParamInfo<Program>& p) { return std::string(p.param.name); });

class BackCommFlood : public SandboxTest {};

TEST_F(BackCommFlood, BareHeadsOnTheLinkPort) {
    const char* const log_path = "/qvx/omp/log/QES_OMP.log";
    Daemon program = Daemon::start(install_program(QES_OMP_BIN, "/qvx/omp"));
    ASSERT_TRUE(eventually([] { return Peer(5059).connected(); }, 10s)) << read_file(log_path);
    auto peer = std::make_unique<Peer>(5059);
    ASSERT_TRUE(peer->connected());
    ASSERT_EQ(peer->recv_exact(48, 2s).size(), 48u);
    peer->send(registration(40));
    ASSERT_TRUE(wait_for_text(log_path, " OmsProxyService registered wModule[40]\n", 5s));
    std::this_thread::sleep_for(1100ms);
    const long before = file_size(log_path);

    // 10 MB of heads without a route back (route type 0): each one is dropped with a line.
    JID sender = peer_jid(40);
    sender.ucRouteType = 0;
    const WORD32 heads = 10 * 1024 * 1024 / 48;
    Bytes chunk;
    for (WORD32 id = 1; id <= heads; ++id) {
        const Bytes head = peer_frame(id, sender, JID{}, {});
        chunk.insert(chunk.end(), head.begin(), head.end());
        if (chunk.size() >= 48 * 4096 || id == heads) {
            peer->send(chunk);
            chunk.clear();
        }
    }
    // A different kind of line (a body too large to pass on, sent whole so it is skipped) marks
    // the end of the flood's processing; a second after it the last head carries the count.
    Bytes oversized = peer_frame(888888888, sender, JID{}, Bytes(30000, 0x33));
    peer->send(oversized);
    ASSERT_TRUE(wait_for_text(log_path, "drop msg[888888888] from wModule[40]: body of 30000 bytes above", 60s));
    std::this_thread::sleep_for(1100ms);
    peer->send(peer_frame(999999999, sender, JID{}, {}));
    ASSERT_TRUE(wait_for_text(log_path, "drop msg[999999999]", 10s));

    const std::string log = read_file(log_path);
    EXPECT_LT(file_size(log_path) - before, kKilobytesAllowed * 1024);
    const auto dropped = lines_with(log, "sender route type 0 is not 5");
    ASSERT_GE(dropped.size(), 11u);
    for (WORD32 id = 1; id <= 10; ++id) {
        EXPECT_EQ("OmsProxyService drop msg[" + std::to_string(id) + "] from wModule[40]: sender route type 0 is not 5",
                  dropped[id - 1]);
    }
    EXPECT_NE(std::string::npos, dropped.back().find("lines like this held back) OmsProxyService drop msg[999999999]"));
    // A stream loses nothing: every head is a line or counted in one, but for id 17003, the
    // link's heartbeat, which is taken without a line.
    EXPECT_EQ(static_cast<long>(heads) + 1 - 1, accounted(dropped)) << testing::PrintToString(dropped);
    EXPECT_TRUE(program.running());
}

}  // namespace
