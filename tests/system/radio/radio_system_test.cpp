// The radio tests in the running engine: fake anchors take the engine's links on 127.0.0.2 and
// 127.0.0.3 port 3000, a controller sends requests on port 3334 and reads the reply lines.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "anchorsim/frames.h"
#include "sandbox/daemon.h"
#include "sandbox/files.h"
#include "sandbox/harness.h"

namespace {

using namespace vorlen::sandbox;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr const char* kTrace = "/qvx/zub/log/zub/division1.log";
const std::string kNoResponse = " error=\"No response from anchor\" />";
const std::string kZubCfgRequest = "<req type=\"zub cfg\"/>\n";
const std::string kZubCfgReply =
    "<ind type=\"zub cfg\"><zub ver=\"4.0.200617\" loglevel=\"3\" motionfilter=\"0\" state=\"0\" sync=\"1\"/></ind>";

sockaddr_in address(const char* ip, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

bool readable(int fd, std::chrono::milliseconds timeout)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) == 1;
}

// One fake anchor: a listener, the engine's link and every byte the engine sent on it.
class FakeAnchor {
public:
    explicit FakeAnchor(const char* ip)
    {
        listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        const sockaddr_in a = address(ip, 3000);
        ok_ = bind(listen_fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 && listen(listen_fd_, 4) == 0;
    }
    ~FakeAnchor()
    {
        if (link_fd_ >= 0) close(link_fd_);
        close(listen_fd_);
    }
    FakeAnchor(const FakeAnchor&) = delete;
    FakeAnchor& operator=(const FakeAnchor&) = delete;

    bool ok() const { return ok_; }

    bool accept_within(std::chrono::milliseconds timeout)
    {
        if (!readable(listen_fd_, timeout)) return false;
        link_fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        return link_fd_ >= 0;
    }

    // Reads until the received bytes hold `pattern` (true) or the time is up.
    bool wait_for(const Bytes& pattern, std::chrono::milliseconds timeout)
    {
        const auto end = Clock::now() + timeout;
        while (!holds(pattern)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0 || !readable(link_fd_, left)) return false;
            uint8_t buf[4096];
            const ssize_t n = recv(link_fd_, buf, sizeof buf, 0);
            if (n <= 0) return false;
            received_.insert(received_.end(), buf, buf + n);
        }
        return true;
    }

    bool send_payload(const Bytes& payload)
    {
        const Bytes frame = anchorsim::encode_frame(payload);
        return send(link_fd_, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
    }

    const Bytes& received() const { return received_; }

private:
    bool holds(const Bytes& pattern) const
    {
        return std::search(received_.begin(), received_.end(), pattern.begin(), pattern.end()) != received_.end();
    }

    int listen_fd_ = -1;
    int link_fd_ = -1;
    bool ok_ = false;
    Bytes received_;
};

// The controller's side of port 3334: request lines out, reply lines in.
class Controller {
public:
    bool connect_within(std::chrono::milliseconds timeout)
    {
        const auto end = Clock::now() + timeout;
        while (Clock::now() < end) {
            fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in a = address("127.0.0.1", 3334);
            if (connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return true;
            close(fd_);
            fd_ = -1;
            usleep(200 * 1000);
        }
        return false;
    }
    ~Controller()
    {
        if (fd_ >= 0) close(fd_);
    }

    bool send_line(const std::string& line)
    {
        return send(fd_, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
    }

    // The next reply line without its newline; none when nothing whole came in time.
    std::optional<std::string> line(std::chrono::milliseconds timeout)
    {
        const auto end = Clock::now() + timeout;
        for (;;) {
            const size_t nl = buf_.find('\n');
            if (nl != std::string::npos) {
                std::string out = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return out;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0 || !readable(fd_, left)) return std::nullopt;
            char chunk[4096];
            const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return std::nullopt;
            buf_.append(chunk, static_cast<size_t>(n));
        }
    }

private:
    int fd_ = -1;
    std::string buf_;
};

class SystemRadio : public SandboxTest {
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(write_file("/qvx/omp/omp.cfg", read_file(SITE_DIR "/omp/omp.cfg")));
        for (const char* name : {"vm_zub.xml", "dns_zub.cfg", "anchor_attribute.cfg", "area_config.xml"}) {
            ASSERT_TRUE(write_file(std::string("/qvx/zub/") + name, read_file(std::string(SITE_DIR "/zub/") + name)));
        }
    }
    void TearDown() override
    {
        if (HasFailure()) {
            std::printf("---- trace ----\n%s\n", read_file(kTrace).c_str());
        }
    }

    // Both programs up, the anchors' links taken and the controller connected.
    void start(std::vector<FakeAnchor*> anchors)
    {
        for (FakeAnchor* a : anchors) {
            ASSERT_TRUE(a->ok());
        }
        omp_.emplace(Daemon::start(install_program(QES_OMP_BIN, "/qvx/omp")));
        ASSERT_TRUE(wait_for_text("/qvx/omp/log/QES_OMP.log", "Power on success", 10s));
        engine_.emplace(Daemon::start(install_program(VORLEN_BIN, "/qvx/zub")));
        ASSERT_TRUE(wait_for_text(kTrace, "All 26 Jobs init OK!", 20s));
        for (FakeAnchor* a : anchors) {
            ASSERT_TRUE(a->accept_within(25s));
        }
        ASSERT_TRUE(controller.connect_within(10s));
    }

    // Sends "zub cfg" every 2 s until a reply comes; that reply, or none by the end.
    std::optional<std::string> next_zub_cfg_reply(std::chrono::seconds within)
    {
        const auto end = Clock::now() + within;
        while (Clock::now() < end) {
            if (!controller.send_line(kZubCfgRequest)) return std::nullopt;
            if (auto reply = controller.line(2s)) return reply;
        }
        return std::nullopt;
    }

    Controller controller;
    std::optional<Daemon> omp_;
    std::optional<Daemon> engine_;
};

TEST_F(SystemRadio, PowerTestEndsOnItsReplyOrAfter35Seconds)
{
    FakeAnchor anchor("127.0.0.2");
    start({&anchor});
    const std::string request = "<req type=\"power test\"><anchor addr=\"a0b1000000000001\"/></req>\n";
    const std::string status = "<ind type=\"system status\" msg=\"power test\" addr=\"0\"> < / ind >";
    const std::string done = "<ind type=\"power test\"> msg=\"done\"</ind>";
    const Bytes power_start = {0x58, 0x01, 0x1E, 0x00};

    // Answered: "done" at once, requests dropped until the anchor's 0x85.
    ASSERT_TRUE(controller.send_line(request));
    EXPECT_EQ(controller.line(5s), status);
    EXPECT_EQ(controller.line(5s), done);
    ASSERT_TRUE(anchor.wait_for(power_start, 5s));
    ASSERT_TRUE(controller.send_line(kZubCfgRequest));
    EXPECT_EQ(controller.line(2s), std::nullopt);
    ASSERT_TRUE(anchor.send_payload({0x85}));
    EXPECT_EQ(next_zub_cfg_reply(10s), kZubCfgReply);

    // Unanswered: the wait ends after 35 s and its text leads the next reply.
    ASSERT_TRUE(controller.send_line(request));
    EXPECT_EQ(controller.line(5s), status);
    EXPECT_EQ(controller.line(5s), done);
    ASSERT_TRUE(controller.send_line(kZubCfgRequest));
    EXPECT_EQ(controller.line(20s), std::nullopt);
    EXPECT_EQ(next_zub_cfg_reply(40s), kNoResponse + kZubCfgReply);
    EXPECT_TRUE(wait_for_text(kTrace, "Response timed out : outstanding expectedRxResponseNum 1", 1s));

    ASSERT_TRUE(engine_->signal(SIGTERM));
    EXPECT_EQ(engine_->wait_exit(10s), 0);
}

TEST_F(SystemRadio, RangeTestAnsweredByAFramedFinalReport)
{
    FakeAnchor first("127.0.0.2");
    FakeAnchor second("127.0.0.3");
    start({&first, &second});
    ASSERT_TRUE(controller.send_line("<req type=\"range test\" num_ranges=\"100\" rtime=\"10000\" power=\"1f\">"
                                     "<anchor addr=\"a0b1000000000001\"/><anchor addr=\"a0b1000000000002\"/></req>\n"));
    EXPECT_EQ(controller.line(5s),
              "<ind type=\"system status\" msg=\"ranging\" initiator=\"0\" responder=\"0\"> < / ind >");
    // '[': log 0, role, 100 ranges, no antenna delays, delays 10000 / 5000 / 3333, idx 0 and 0, lna 1, power 0x1f.
    Bytes asymm = {0x5B, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x27, 0x88, 0x13,
                   0x05, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x1F, 0x00, 0x00, 0x00};
    ASSERT_TRUE(second.wait_for(asymm, 5s));
    asymm[2] = 0x01;
    ASSERT_TRUE(first.wait_for(asymm, 5s));

    // The final report: distance 12345 (1/10000 m) at offset 6, 7 timeouts at offset 10.
    ASSERT_TRUE(first.send_payload({0x84, 0, 0, 0, 0, 0, 0x39, 0x30, 0x00, 0x00, 0x07, 0x00, 0, 0}));
    EXPECT_EQ(controller.line(5s), "<ind type=\"range test\"><initiator addr=\"a0b1000000000001\"><responder "
                                   "addr=\"a0b1000000000002\"  distance=\"1.234500\" timeouts=\"7\" />"
                                   "</initiator></ind>");
    EXPECT_TRUE(second.wait_for({0x57, 0x00}, 5s));
    EXPECT_TRUE(first.wait_for({0x57, 0x00}, 5s));
    EXPECT_EQ(next_zub_cfg_reply(5s), kZubCfgReply);

    ASSERT_TRUE(engine_->signal(SIGTERM));
    EXPECT_EQ(engine_->wait_exit(10s), 0);
}

TEST_F(SystemRadio, CommTestOverThreeAnchors)
{
    FakeAnchor a1("127.0.0.2");
    FakeAnchor a2("127.0.0.3");
    FakeAnchor a3("127.0.0.4");
    start({&a1, &a2, &a3});
    ASSERT_TRUE(controller.send_line("<req type=\"comm test\"><anchor addr=\"a0b1000000000002\"/></req>\n"));
    EXPECT_EQ(controller.line(5s), "<ind type=\"system status\" msg=\"comm tx\" addr=\"0\"> < / ind >");
    EXPECT_EQ(controller.line(5s),
              "<ind type=\"comm test\"><transmitter addr=\"a0b1000000000002\"></transmitter></ind>");
    // Receivers: 'S' receive then 'T'; the transmitter: 'S' transmit.
    EXPECT_TRUE(a1.wait_for({0x53, 0x00, 0xE8, 0x03, 0x54}, 5s));
    EXPECT_TRUE(a3.wait_for({0x53, 0x00, 0xE8, 0x03, 0x54}, 5s));
    EXPECT_TRUE(a2.wait_for({0x53, 0x01, 0xE8, 0x03}, 5s));
    // The results ride on the next reply. The site's five other anchors have no link and never
    // answer, so the wait ends at its 35-s deadline.
    ASSERT_TRUE(a1.send_payload({0x82, 0xDE, 0x03, 0x03, 0x00}));
    ASSERT_TRUE(a3.send_payload({0x82, 0x05, 0x00, 0x00, 0x00}));
    const std::string results = "<receiver addr=\"a0b1000000000001\" rx_data=\"990\" rx_others=\"3\" />"
                                "<receiver addr=\"a0b1000000000003\" rx_data=\"5\" rx_others=\"0\" />";
    ASSERT_TRUE(controller.send_line(kZubCfgRequest));
    EXPECT_EQ(controller.line(20s), std::nullopt);
    EXPECT_EQ(next_zub_cfg_reply(40s), results + kNoResponse + kZubCfgReply);

    ASSERT_TRUE(engine_->signal(SIGTERM));
    EXPECT_EQ(engine_->wait_exit(10s), 0);
}

}  // namespace
