// The controller's requests against the running vorlen: qes_omp beside it, fake anchors on
// 127.0.0.2 and .3 (port 3000), an anchor listed at 127.0.0.4 that nobody serves, and the
// controller on 3334. Each case runs in its own sandbox; every reply is checked as one whole
// line, and the link stays quiet after the last one expected.
#include <signal.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "anchor_bank.h"
#include "anchorsim/frames.h"
#include "controller_client.h"
#include "sandbox/daemon.h"
#include "sandbox/files.h"
#include "sandbox/harness.h"

namespace {

using namespace vorlen::sandbox;
using namespace std::chrono_literals;
using anchorsim::Bytes;
using ctrltest::AnchorBank;
using ctrltest::ControllerClient;

constexpr const char* kTrace = "/qvx/zub/log/zub/division1.log";
constexpr const char* kZubLog = "/qvx/zub/log/uwb_zub.log";
constexpr int kControlPort = 3334;

constexpr uint64_t kAnchor1 = 0xa0b1000000000001;
constexpr uint64_t kAnchor2 = 0xa0b1000000000002;
constexpr const char* kThreeAnchors =
    "a0b1000000000001 127.0.0.2\n"
    "a0b1000000000002 127.0.0.3\n"
    "a0b1000000000003 127.0.0.4\n";
// Event-level lines on (they show the links being taken), anchor diagnostics on, and the
// display type given.
std::string verbose_config(const std::string& displayer = "original")
{
    return "<?xml version=\"1.0\"?>\n<vm_zub>\n  <zub controlPort=\"3334\" logLevel=\"3\" anchor_diagnostics=\"1\"/>\n"
           "  <displayer type=\"" + displayer + "\"/>\n</vm_zub>\n";
}

// Anchor 1: clock master, only a receive antenna delay; anchor 2: follows anchor 1, its own
// delays and lag; anchor 3 is listed but unserved; the fourth id is not listed at all.
constexpr const char* kAnchorCfg =
    "<req type=\"anchor cfg\">"
    "<anchor addr=\"a0b1000000000001\" id=\"1\" master=\"1\" x=\"0\" y=\"0\" z=\"3\" ant_delay_rx=\"16400\"/>"
    "<anchor addr=\"a0b1000000000002\" id=\"2\" master=\"0\" master_addr=\"a0b1000000000001\" x=\"15\" y=\"0\" z=\"3\""
    " ant_delay=\"16500\" ant_delay_tx=\"16510\" master_lag_delay=\"30000\">"
    "<master addr=\"a0b1000000000001\" rfdistance=\"15\"/></anchor>"
    "<anchor addr=\"a0b1000000000003\" id=\"3\"/>"
    "<anchor addr=\"a0b10000000000ff\" id=\"9\"/>"
    "</req>\n";
constexpr const char* kAnchorCfgReply =
    "<ind type=\"anchor cfg\">"
    "<anchor addr=\"a0b1000000000001\" db=\"exists\" status=\"Socket opened already\"/>"
    "<anchor addr=\"a0b1000000000002\" db=\"exists\" status=\"Socket opened already\"/>"
    "<anchor addr=\"a0b1000000000003\" db=\"exists\" status=\"Socket error\"/>"
    "<anchor addr=\"a0b10000000000ff\" db=\"unknown\" status=\"Anchor NOT Discovered\"/>"
    "</ind>";

// The 26-byte 'D' frames, worked out field by field: 'D', id 0, master, prf 2 << 4 | chan 2,
// rate 2 (6.8M), preamble code 9, length 0x14 (128), nsfd 0 << 4 | pac 0, receive and
// transmit delays, a spare byte, debug logs 1 (anchor diagnostics on), the 8-byte id of the
// clock followed, the 4-byte lag delay (20000 unless given).
const Bytes kConfig1 = {0x44, 0x00, 0x01, 0x22, 0x02, 0x09, 0x14, 0x00, 0x10, 0x40, 0x10, 0x40, 0x00,
                        0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xb1, 0xa0, 0x20, 0x4e, 0x00, 0x00};
const Bytes kConfig2 = {0x44, 0x00, 0x00, 0x22, 0x02, 0x09, 0x14, 0x00, 0x74, 0x40, 0x7e, 0x40, 0x00,
                        0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xb1, 0xa0, 0x30, 0x75, 0x00, 0x00};
const Bytes kStart = {0x57, 0x01};
const Bytes kStop = {0x57, 0x00};
const Bytes kReset = {0x59, 'r', 'e', 's', 'e', 't', '_', 'a', 'n', 'c', 'h', 'o', 'r', '_', 'n', 'o', 'w', 0x00};

std::string zub_cfg_reply(int loglevel, int motionfilter, int state, int sync)
{
    return "<ind type=\"zub cfg\"><zub ver=\"4.0.200617\" loglevel=\"" + std::to_string(loglevel) +
           "\" motionfilter=\"" + std::to_string(motionfilter) + "\" state=\"" + std::to_string(state) +
           "\" sync=\"" + std::to_string(sync) + "\"/></ind>";
}

std::string discarded_request(const char* ip)
{
    return std::string("ZUB not receive config info from controller, discard anchor(") + ip + ") config req.";
}

class SystemController : public SandboxTest {
protected:
    // Writes the engine's files (an absent text: the file is not written), starts qes_omp and
    // vorlen and connects the controller.
    void start(const std::optional<std::string>& vm_zub, const std::optional<std::string>& dns)
    {
        ASSERT_TRUE(write_file("/qvx/omp/omp.cfg", read_file(SITE_DIR "/omp/omp.cfg")));
        ASSERT_TRUE(write_file("/qvx/zub/.keep", ""));
        if (vm_zub) {
            ASSERT_TRUE(write_file("/qvx/zub/vm_zub.xml", *vm_zub));
        }
        if (dns) {
            ASSERT_TRUE(write_file("/qvx/zub/dns_zub.cfg", *dns));
        }
        omp_.emplace(Daemon::start(install_program(QES_OMP_BIN, "/qvx/omp")));
        ASSERT_TRUE(wait_for_text("/qvx/omp/log/QES_OMP.log", "Power on success", 10s));
        engine_.emplace(Daemon::start(install_program(VORLEN_BIN, "/qvx/zub")));
        ASSERT_TRUE(wait_for_text(kZubLog, "Power on success", 20s));
        ASSERT_TRUE(controller_.connect(kControlPort, 10s));
    }
    // Serves anchors 1 and 2, starts the engine with three anchors listed and waits until
    // both links are taken (each link's configuration request is noted and put aside).
    void start_with_anchors(const std::string& displayer = "original")
    {
        std::string error;
        ASSERT_TRUE(anchors_.open({{kAnchor1, "127.0.0.2"}, {kAnchor2, "127.0.0.3"}}, &error)) << error;
        ASSERT_NO_FATAL_FAILURE(start(verbose_config(displayer), kThreeAnchors));
        ASSERT_TRUE(anchors_.wait_all_connected(20s));
        ASSERT_TRUE(wait_for_text(kTrace, discarded_request("127.0.0.2"), 10s));
        ASSERT_TRUE(wait_for_text(kTrace, discarded_request("127.0.0.3"), 10s));
    }
    void request(const std::string& line) { ASSERT_TRUE(controller_.send_all(line)); }
    std::string reply(std::chrono::milliseconds timeout = 5s)
    {
        return controller_.read_line(timeout).value_or("<no reply>");
    }
    void TearDown() override
    {
        if (HasFailure()) {
            std::printf("---- %s ----\n%s\n---- trace ----\n%s\n", kZubLog, read_file(kZubLog).c_str(),
                        read_file(kTrace).c_str());
        }
    }

    AnchorBank anchors_;
    std::optional<Daemon> omp_;
    std::optional<Daemon> engine_;
    ControllerClient controller_;
};

// ---- "zub cfg" -------------------------------------------------------------------------------

struct ZubCfgRow {
    const char* name;
    std::optional<std::string> vm_zub;
    std::string expected;
};

void PrintTo(const ZubCfgRow& row, std::ostream* out) { *out << row.name; }

class ZubCfg : public SystemController, public testing::WithParamInterface<ZubCfgRow> {};

TEST_P(ZubCfg, ReportsTheLoadedSettings)
{
    const ZubCfgRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(start(row.vm_zub, std::nullopt));
    request("<req type=\"zub cfg\"/>\n");
    EXPECT_EQ(reply(), row.expected);
    EXPECT_TRUE(controller_.quiet(300ms));
}

INSTANTIATE_TEST_SUITE_P(
    Files, ZubCfg,
    testing::Values(
        // No file: the defaults, log level 3 and wireless sync.
        ZubCfgRow{"NoFile", std::nullopt, zub_cfg_reply(3, 0, 0, 1)},
        // A file without "logLevel" gives level 0.
        ZubCfgRow{"NoLogLevel", "<vm_zub><zub controlPort=\"3334\" wirelessSync=\"0\"/></vm_zub>\n",
                  zub_cfg_reply(0, 0, 0, 0)},
        ZubCfgRow{"LogLevel2", "<vm_zub><zub logLevel=\"2\" wirelessSync=\"1\"/></vm_zub>\n",
                  zub_cfg_reply(2, 0, 0, 1)}),
    [](const testing::TestParamInfo<ZubCfgRow>& p) { return std::string(p.param.name); });

// ---- "anchor list" ---------------------------------------------------------------------------

struct AnchorListRow {
    const char* name;
    std::optional<std::string> dns;
    std::string expected;
};

void PrintTo(const AnchorListRow& row, std::ostream* out) { *out << row.name; }

class AnchorList : public SystemController, public testing::WithParamInterface<AnchorListRow> {};

TEST_P(AnchorList, NamesEveryListedAnchorInLocalIdOrder)
{
    const AnchorListRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(start(std::nullopt, row.dns));
    request("<req type=\"anchor list\"/>\n");
    EXPECT_EQ(reply(), row.expected);
    EXPECT_TRUE(controller_.quiet(300ms));
}

INSTANTIATE_TEST_SUITE_P(
    Files, AnchorList,
    testing::Values(AnchorListRow{"NoAnchorFile", std::nullopt, "<ind type=\"anchor list\"></ind>"},
                    AnchorListRow{"ThreeAnchors", kThreeAnchors,
                                  "<ind type=\"anchor list\">"
                                  "<anchor addr=\"a0b1000000000001\" connection=\"Eth\"/>"
                                  "<anchor addr=\"a0b1000000000002\" connection=\"Eth\"/>"
                                  "<anchor addr=\"a0b1000000000003\" connection=\"Eth\"/>"
                                  "</ind>"}),
    [](const testing::TestParamInfo<AnchorListRow>& p) { return std::string(p.param.name); });

// ---- "anchor cfg" ----------------------------------------------------------------------------

TEST_F(SystemController, AnchorCfgRepliesAndSendsTheConfigurationToEveryLinkedAnchor)
{
    ASSERT_NO_FATAL_FAILURE(start_with_anchors());
    // A configuration request before the controller's first "anchor cfg" gets nothing.
    EXPECT_TRUE(anchors_.commands(0).empty());
    EXPECT_TRUE(anchors_.commands(1).empty());

    request(kAnchorCfg);
    EXPECT_EQ(reply(), kAnchorCfgReply);
    ASSERT_TRUE(anchors_.wait_commands(0, 1, 5s));
    ASSERT_TRUE(anchors_.wait_commands(1, 1, 5s));
    EXPECT_TRUE(controller_.quiet(300ms));
    EXPECT_EQ(anchors_.commands(0), std::vector<Bytes>{kConfig1});
    EXPECT_EQ(anchors_.commands(1), std::vector<Bytes>{kConfig2});
}

// ---- "rtls start" / "rtls stop" --------------------------------------------------------------

TEST_F(SystemController, RtlsStartAndStopReachEveryAnchorAndALaterRequestIsStartedToo)
{
    ASSERT_NO_FATAL_FAILURE(start_with_anchors());
    request(kAnchorCfg);
    EXPECT_EQ(reply(), kAnchorCfgReply);

    request("<req type=\"rtls start\"/>\n");
    EXPECT_EQ(reply(), "<ind type=\"rtls start\" /> ");  // the reply's own newline became a blank
    ASSERT_TRUE(anchors_.wait_commands(0, 2, 5s));
    ASSERT_TRUE(anchors_.wait_commands(1, 2, 5s));
    EXPECT_EQ(anchors_.commands(0), (std::vector<Bytes>{kConfig1, kStart}));
    EXPECT_EQ(anchors_.commands(1), (std::vector<Bytes>{kConfig2, kStart}));
    request("<req type=\"zub cfg\"/>\n");
    EXPECT_EQ(reply(), zub_cfg_reply(3, 0, 1, 1));

    // Anchor 1 asks for its configuration again while started: it is started once more, and
    // anchor 2 is left alone.
    ASSERT_TRUE(anchors_.send(0, anchorsim::req_cfg_payload(kAnchor1, "fw-2.1")));
    ASSERT_TRUE(anchors_.wait_commands(0, 3, 5s));
    EXPECT_EQ(anchors_.commands(0), (std::vector<Bytes>{kConfig1, kStart, kStart}));
    EXPECT_TRUE(wait_for_text(
        kTrace, "HandleConfigRequest: Anc(127.0.0.2) 1 : 0 : connected as (Master). Antenna Delay 16400 16400.", 5s));
    EXPECT_EQ(anchors_.commands(1).size(), 2u);

    request("<req type=\"rtls stop\"/>\n");
    EXPECT_EQ(reply(), "<ind type=\"rtls stop\" /> ");
    ASSERT_TRUE(anchors_.wait_commands(0, 4, 5s));
    ASSERT_TRUE(anchors_.wait_commands(1, 3, 5s));
    EXPECT_EQ(anchors_.commands(0), (std::vector<Bytes>{kConfig1, kStart, kStart, kStop}));
    EXPECT_EQ(anchors_.commands(1), (std::vector<Bytes>{kConfig2, kStart, kStop}));
    request("<req type=\"zub cfg\"/>\n");
    EXPECT_EQ(reply(), zub_cfg_reply(3, 0, 0, 1));
    EXPECT_TRUE(controller_.quiet(300ms));
}

// ---- requests that send the configuration again ----------------------------------------------

TEST_F(SystemController, ConfigurationIsSentToEveryLinkedAnchorAgainByRfAndLogRequests)
{
    struct Row {
        const char* name;
        std::string request;
        std::optional<std::string> reply;  // none: the request is not answered
        Bytes config1;                     // the 'D' that anchor 1 then receives
        int loglevel;                      // as "zub cfg" reports it afterwards
    };
    const std::vector<Row> rows = {
        // The log requests change the level only; debug logs follow the anchor diagnostics.
        {"log start", "<req type=\"log start\" loglevel=\"4\"/>\n", std::nullopt, kConfig1, 4},
        {"log stop", "<req type=\"log stop\"/>\n", std::nullopt, kConfig1, 0},
        // Channel 5, PRF 16 MHz (1), 110 kb/s (0), code 3, 1024 symbols (0x08), nsfd 1 and PAC 16
        // (1); the anchor keeps the antenna delays it was given.
        {"rf cfg",
         "<req type=\"rf cfg\"><rf chan=\"5\" prf=\"16\" rate=\"110\" code=\"3\" plen=\"1024\" pac=\"16\" nsfd=\"1\"/>"
         "</req>\n",
         "<ind type=\"rf cfg\"></ind>",
         {0x44, 0x00, 0x01, 0x15, 0x00, 0x03, 0x08, 0x11, 0x10, 0x40, 0x10, 0x40, 0x00,
          0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xb1, 0xa0, 0x20, 0x4e, 0x00, 0x00},
         0},
    };
    ASSERT_NO_FATAL_FAILURE(start_with_anchors());
    request(kAnchorCfg);
    EXPECT_EQ(reply(), kAnchorCfgReply);
    size_t sent = 1;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        request(row.request);
        if (row.reply) {
            EXPECT_EQ(reply(), *row.reply);
        }
        ++sent;
        ASSERT_TRUE(anchors_.wait_commands(0, sent, 5s));
        ASSERT_TRUE(anchors_.wait_commands(1, sent, 5s));
        EXPECT_EQ(anchors_.commands(0).back(), row.config1);
        EXPECT_EQ(anchors_.commands(0).size(), sent);
        EXPECT_EQ(anchors_.commands(1).size(), sent);
        // The next line is the answer to the next request: nothing came between.
        request("<req type=\"zub cfg\"/>\n");
        EXPECT_EQ(reply(), zub_cfg_reply(row.loglevel, 0, 0, 1));
    }
    EXPECT_TRUE(controller_.quiet(300ms));
}

// ---- requests to named anchors ---------------------------------------------------------------

struct CommandRow {
    const char* name;
    std::string request;
    std::optional<std::string> reply;  // none: the request is not answered
    std::vector<Bytes> at_anchor1;     // the commands it adds at each anchor
    std::vector<Bytes> at_anchor2;
};

TEST_F(SystemController, CommandRequestsReachTheNamedAnchors)
{
    const Bytes accumulate_ccp_300 = {0x88, 0xa2, 0x2c, 0x01};
    const Bytes accumulate_blinks_0 = {0x88, 0xa1, 0x00, 0x00};
    const std::vector<CommandRow> rows = {
        {"init all", "<req type=\"anchor init all\"/>\n", "<ind type=\"anchor init\"/>", {{0x56}}, {{0x56}}},
        // In list order; an unknown id is skipped and an id that reads as 0 ends the list.
        {"accumulator, clock packets",
         "<req type=\"log accumulator\" num_accum=\"300\" ccp_blink=\"1\"><anchor addr=\"a0b1000000000002\"/>"
         "<anchor addr=\"a0b10000000000ff\"/><anchor/><anchor addr=\"a0b1000000000001\"/><anchor addr=\"0\"/>"
         "<anchor addr=\"a0b1000000000002\"/></req>\n",
         std::nullopt, {accumulate_ccp_300}, {accumulate_ccp_300}},
        {"accumulator, blinks, no count", "<req type=\"log accumulator\"><anchor addr=\"0\"/></req>\n", std::nullopt, {}, {}},
        {"accumulator, blinks", "<req type=\"log accumulator\"><anchor addr=\"a0b1000000000001\"/></req>\n",
         std::nullopt, {accumulate_blinks_0}, {}},
    };
    ASSERT_NO_FATAL_FAILURE(start_with_anchors());
    for (const CommandRow& row : rows) {
        SCOPED_TRACE(row.name);
        const size_t before1 = anchors_.commands(0).size();
        const size_t before2 = anchors_.commands(1).size();
        request(row.request);
        if (row.reply) {
            EXPECT_EQ(reply(), *row.reply);
        }
        // "zub cfg" after it: its reply is the next line, and by then the commands are out.
        request("<req type=\"zub cfg\"/>\n");
        EXPECT_EQ(reply(), zub_cfg_reply(3, 0, 0, 1));
        ASSERT_TRUE(anchors_.wait_commands(0, before1 + row.at_anchor1.size(), 5s));
        ASSERT_TRUE(anchors_.wait_commands(1, before2 + row.at_anchor2.size(), 5s));
        const std::vector<Bytes> all1 = anchors_.commands(0);
        const std::vector<Bytes> all2 = anchors_.commands(1);
        EXPECT_EQ(std::vector<Bytes>(all1.begin() + static_cast<long>(before1), all1.end()), row.at_anchor1);
        EXPECT_EQ(std::vector<Bytes>(all2.begin() + static_cast<long>(before2), all2.end()), row.at_anchor2);
    }
    EXPECT_TRUE(controller_.quiet(300ms));
}

// ---- requests that are not answered ----------------------------------------------------------

TEST_F(SystemController, UnansweredRequestsLeaveTheLinkToTheNextOneAndShutdownEndsTheEngine)
{
    struct Row {
        const char* name;
        std::string line;
        const char* trace;  // the line it leaves in the trace, or null
    };
    const std::vector<Row> rows = {
        {"malformed", "<req type=\"zub cfg\"", "XML(<req type=\"zub cfg\") Error, 19. "},
        {"no type", "<req kind=\"zub cfg\"/>", " XML Error, can not find type element.(<req kind=\"zub cfg\"/>)."},
        {"no element", "<!-- zub cfg -->", " XML Error, can not find type element.(<!-- zub cfg -->)."},
        {"unknown type", "<req type=\"zub config\"/>", "unkown type:zub config."},
        {"log text", "<req type=\"log text\" text=\"a note\"/>", nullptr},
        {"motion filter", "<req type=\"motion filter\" filter_type=\"2\" filter_length=\"9\"/>", nullptr},
    };
    ASSERT_NO_FATAL_FAILURE(start(verbose_config(), std::nullopt));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        request(row.line + "\n<req type=\"anchor list\"/>\n");
        EXPECT_EQ(reply(), "<ind type=\"anchor list\"></ind>");
        if (row.trace != nullptr) {
            EXPECT_EQ(count_of(read_file(kTrace), row.trace), 1u);
        }
    }
    // The motion filter request took effect without a word.
    request("<req type=\"zub cfg\"/>\n");
    EXPECT_EQ(reply(), zub_cfg_reply(3, 2, 0, 1));
    // The last one ends the engine with status 0, and the link with it.
    request("<req type=\"shutdown\"/>\n");
    EXPECT_EQ(engine_->wait_exit(10s), std::optional<int>(0));
    EXPECT_EQ(controller_.read_line(1s), std::nullopt);
}

// ---- line framing across controllers ---------------------------------------------------------

TEST_F(SystemController, UnfinishedLineOfALeavingControllerIsForgotten)
{
    ASSERT_NO_FATAL_FAILURE(start(std::nullopt, std::nullopt));
    request("<req type=\"zub");
    std::this_thread::sleep_for(300ms);
    controller_.disconnect();
    ASSERT_TRUE(controller_.connect(kControlPort, 10s));
    // Joined to the held "<req type=\"zub" this would be a malformed line and go unanswered.
    request("<req type=\"anchor list\"/>\n");
    EXPECT_EQ(reply(), "<ind type=\"anchor list\"></ind>");
    EXPECT_TRUE(controller_.quiet(300ms));
}

// ---- "rtls anc_reset" ------------------------------------------------------------------------

struct ResetRow {
    const char* name;
    const char* displayer;
    std::vector<Bytes> at_anchor1;
    std::vector<Bytes> at_anchor2;
    size_t reset_lines;  // "send rtls reset cmd" lines for anchor 1
};

void PrintTo(const ResetRow& row, std::ostream* out) { *out << row.name; }

class AncReset : public SystemController, public testing::WithParamInterface<ResetRow> {};

TEST_P(AncReset, IsAnsweredAfterItsHoldAndTheRequestsSentMeanwhileAfterIt)
{
    const ResetRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(start_with_anchors(row.displayer));
    // Lists anchor 1 and an id nobody knows.
    request("<req type=\"rtls anc_reset\"><anchor addr=\"a0b1000000000001\"/><anchor addr=\"a0b10000000000ff\"/></req>\n");
    ASSERT_TRUE(anchors_.wait_commands(0, 1, 5s));
    request("<req type=\"zub cfg\"/>\n");
    request("<req type=\"anchor list\"/>\n");
    // The control job holds for 10 s: nothing comes back for the first 8 of them.
    EXPECT_TRUE(controller_.quiet(8s));
    EXPECT_EQ(reply(10s), "<ind type=\"rtls reset_complete\" /> ");  // its own newline became a blank
    EXPECT_EQ(reply(), zub_cfg_reply(3, 0, 0, 1));
    EXPECT_EQ(reply(),
              "<ind type=\"anchor list\">"
              "<anchor addr=\"a0b1000000000001\" connection=\"Eth\"/>"
              "<anchor addr=\"a0b1000000000002\" connection=\"Eth\"/>"
              "<anchor addr=\"a0b1000000000003\" connection=\"Eth\"/>"
              "</ind>");
    EXPECT_TRUE(controller_.quiet(300ms));
    EXPECT_EQ(anchors_.commands(0), row.at_anchor1);
    EXPECT_EQ(anchors_.commands(1), row.at_anchor2);
    EXPECT_EQ(count_of(read_file(kTrace), "send rtls reset cmd to anchor(0:a0b1000000000001)"), row.reset_lines);
    EXPECT_EQ(count_of(read_file(kTrace), "send rtls reset cmd to anchor("), row.reset_lines);
}

INSTANTIATE_TEST_SUITE_P(
    DisplayTypes, AncReset,
    testing::Values(
        // The original display type resets every anchor, listed or not.
        ResetRow{"Original", "original", {kReset}, {kReset}, 0},
        // The other one resets the listed anchors only.
        ResetRow{"Norvat", "norvat", {kReset}, {}, 1}),
    [](const testing::TestParamInfo<ResetRow>& p) { return std::string(p.param.name); });

// ---- line framing ----------------------------------------------------------------------------

TEST_F(SystemController, OverlongLineIsDiscardedAndTheNextLineAnswered)
{
    ASSERT_NO_FATAL_FAILURE(start(std::nullopt, kThreeAnchors));
    // A well-formed request, were it kept: its loss shows as a missing "zub cfg" reply.
    std::string text = "<req type=\"zub cfg\" pad=\"" + std::string(3u << 20, 'x') + "\"/>\n";
    text += "<req type=\"anchor list\"/>\n";
    request(text);
    EXPECT_EQ(reply(15s),
              "<ind type=\"anchor list\">"
              "<anchor addr=\"a0b1000000000001\" connection=\"Eth\"/>"
              "<anchor addr=\"a0b1000000000002\" connection=\"Eth\"/>"
              "<anchor addr=\"a0b1000000000003\" connection=\"Eth\"/>"
              "</ind>");
    EXPECT_TRUE(controller_.quiet(500ms));
    EXPECT_EQ(count_of(read_file(kTrace), "controller line longer than 2089060 bytes, dropped up to its next newline"),
              1u);
    // The link keeps working.
    request("<req type=\"zub cfg\"/>\n");
    EXPECT_EQ(reply(), zub_cfg_reply(3, 0, 0, 1));
    EXPECT_TRUE(controller_.quiet(300ms));
}

}  // namespace
