// The anchors' radio tests: transmit power, communication, two-way ranging between anchor pairs
// and single-sided ranging against tags. Every test that waits for anchor replies has a deadline,
// so an anchor without a link or one that never answers cannot keep the handler busy.
#include "zub_radio_tests.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "RTLSControlHandler.h"
#include "rtls_interface.h"
#include "zub_anchor.h"
#include "zub_context.h"
#include "zub_control_ports.h"
#include "zub_number_text.h"
#include "zub_print.h"
#include "zub_public.h"
#include "zub_rf_config.h"

using tinyxml2::XMLElement;

namespace {

constexpr WORD16 kCommTestPackets = 1000;
constexpr WORD16 kPowerTestSeconds = 30;
constexpr WORD16 kTwrTestAddr = 0x8000;

template <class Frame>
const BYTE* bytes_of(const Frame& f)
{
    return reinterpret_cast<const BYTE*>(&f);
}

int attr_int_or(const XMLElement* e, const char* name, int fallback)
{
    int v = fallback;
    zub_parse_int(e->Attribute(name), &v);
    return v;
}

WORD32 attr_hex32_or(const XMLElement* e, const char* name, WORD32 fallback)
{
    WORD32 v = fallback;
    zub_parse_hex32(e->Attribute(name), &v);
    return v;
}

// The known anchor an element names by "addr"; null without "addr" or for an unknown id.
Anchor* listed_anchor(const XMLElement* e)
{
    WORD64 hw = 0;
    if (!zub_parse_hex64(e->Attribute("addr"), &hw)) {
        return nullptr;
    }
    return Anchor::zub_get_anchor_by_hardware_id(hw);
}

std::vector<Anchor*> listed_anchors(const XMLElement* root)
{
    std::vector<Anchor*> out;
    for (const XMLElement* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        if (Anchor* a = listed_anchor(e)) {
            out.push_back(a);
        }
    }
    return out;
}

unsigned anchors_in_use()
{
    const unsigned n = zub_context()->anchor_count;
    return n < ZUB_MAX_ANCHOR_NUM ? n : ZUB_MAX_ANCHOR_NUM;
}

int idx_of(const Anchor* a) { return a->config_snapshot().idx; }

std::string hex_addr(const Anchor* a) { return RTLSControlHandler::getAddr(a->hardware_id); }

}  // namespace

// ---- frames and settings -------------------------------------------------------------------

int zub_range_default_rtime(int plen)
{
    switch (plen) {
    case RXQ_PLEN_1024:
    case RXQ_PLEN_1536:
    case RXQ_PLEN_2048:
        return 20000;
    case RXQ_PLEN_4096:
        return 30000;
    default:
        return 10000;
    }
}

int zub_range_wait_seconds(int num_ranges, int rtime)
{
    // n x r x 5 / 1000000 is n x r / 200000; the product of two ints fits in 64 bits.
    long long product = static_cast<long long>(num_ranges) * rtime;
    if (product < 0) {
        product = 0;
    }
    const long long seconds = product / 200000 + 5;
    return seconds > INT_MAX ? INT_MAX : static_cast<int>(seconds);
}

std::vector<std::pair<WORD32, WORD32>> zub_range_pairs(size_t count, bool calibration)
{
    std::vector<std::pair<WORD32, WORD32>> pairs;
    for (size_t i = 0; i < count; ++i) {
        for (size_t j = calibration ? 0 : i; j < count; ++j) {
            if (j != i) {
                pairs.emplace_back(static_cast<WORD32>(i), static_cast<WORD32>(j));
            }
        }
    }
    return pairs;
}

cmd_twr_asymm_t zub_build_range_frame(const RangeTestSettings& s, BYTE role, int initiator_idx, int responder_idx,
                                      WORD16 delay_tx, WORD16 delay_rx)
{
    cmd_twr_asymm_t f{};
    f.command = RTLS_ASYMM_TWR_MODE_REQ;
    f.log_all = static_cast<BYTE>(s.log);
    f.role = role;
    f.num_ranges = static_cast<WORD16>(s.num_ranges);
    f.use_ant_delay = s.calibration != 0 ? 1 : 0;
    f.delay_tx = delay_tx;
    f.delay_rx = delay_rx;
    f.response_delay = static_cast<WORD16>(s.rtime);
    f.final_delay = static_cast<WORD16>(s.rtime / 2);
    f.report_delay = static_cast<WORD16>(s.rtime / 3);
    f.poll_period = 0;
    f.initiator_addr = static_cast<WORD16>(initiator_idx);
    f.responder_addr = static_cast<WORD16>(responder_idx);
    f.lna_on = static_cast<BYTE>(s.lna);
    f.power = s.power;
    return f;
}

cmd_twr_single_t zub_build_twr_test_frame(int rtime, WORD32 power, int log)
{
    cmd_twr_single_t f{};
    f.command = RTLS_SINGLE_TWR_MODE_REQ;
    f.role = 0;
    f.use_ant_delay = 0;
    f.delay_tx = 0;
    f.delay_rx = 0;
    f.response_delay = static_cast<WORD16>(rtime);
    f.addr = kTwrTestAddr;
    f.lna_on = 1;
    f.power = power;
    f.log_all = static_cast<BYTE>(log);
    return f;
}

// ---- the tests -----------------------------------------------------------------------------

void RTLSControlHandler::SendStatusLine(const char* line)
{
    // A line of its own: a reply being built (or a no-response text) stays for the next reply.
    std::string text = line;
    text += '\n';
    zub_control_ports().send_to_controller(&text);
}

void RTLSControlHandler::HandlePowerTest(const XMLElement* root)
{
    range_run.running = false;
    for (const XMLElement* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        Anchor* a = listed_anchor(e);
        if (a == nullptr) {
            continue;
        }
        char line[128];
        std::snprintf(line, sizeof line, "<ind type=\"system status\" msg=\"power test\" addr=\"%d\"> < / ind >",
                      idx_of(a));
        SendStatusLine(line);
        SetupResponse(RTLS_POWER_TEST_DONE_IND, 1);
        const cmd_power_test_t frame{RTLS_POWER_TEST_START_REQ, 1, kPowerTestSeconds};
        SendRequest(a, bytes_of(frame), sizeof frame);
        WaitForResponse(ZUB_RADIO_TEST_WAIT_SECONDS);
        xmlResponse += "<ind type=\"power test\"> msg=\"done\"</ind>";
        SendXMLResponse();
    }
}

void RTLSControlHandler::HandleCommTest(const XMLElement* root)
{
    range_run.running = false;
    context_t* c = zub_context();
    const unsigned count = anchors_in_use();
    std::vector<Anchor*> transmitters;
    if (root->FirstChildElement() == nullptr) {
        for (unsigned i = 0; i < count; ++i) {
            transmitters.push_back(&c->anchors[i]);
        }
    } else {
        transmitters = listed_anchors(root);
    }
    const cmd_comm_test_t receive{RTLS_COMM_TEST_START_REQ, 0, kCommTestPackets};
    const cmd_comm_test_t transmit{RTLS_COMM_TEST_START_REQ, 1, kCommTestPackets};
    const BYTE result_request = RTLS_COMM_TEST_RESULT_REQ;
    // One result is awaited from each receiver of every transmitter, and no other: a result
    // counts only while awaited, so each one asked for here has to be. At most 10000 x 9999 in
    // all for distinct transmitters; a transmitter listed over and over stops adding at INT_MAX.
    comm_results_due.assign(count, 0);
    long long awaited = 0;
    for (Anchor* t : transmitters) {
        char line[128];
        std::snprintf(line, sizeof line, "<ind type=\"system status\" msg=\"comm tx\" addr=\"%d\"> < / ind >",
                      idx_of(t));
        SendStatusLine(line);
        xmlResponse = "<ind type=\"comm test\"><transmitter " + hex_addr(t) + ">";
        SetupResponse(RTLS_COMM_TEST_DONE_IND, 1);
        for (unsigned i = 0; i < count; ++i) {
            if (&c->anchors[i] != t) {
                SendRequest(&c->anchors[i], bytes_of(receive), sizeof receive);
            }
        }
        SendRequest(t, bytes_of(transmit), sizeof transmit);
        for (unsigned i = 0; i < count; ++i) {
            if (&c->anchors[i] != t && awaited < INT_MAX) {
                ++comm_results_due[i];
                ++awaited;
            }
        }
        SetupResponse(RTLS_COMM_TEST_RESULT_IND, static_cast<int>(awaited));
        for (unsigned i = 0; i < count; ++i) {
            if (&c->anchors[i] != t) {
                SendRequest(&c->anchors[i], &result_request, 1);
            }
        }
        xmlResponse += "</transmitter></ind>";
        SendXMLResponse();
    }
    if (expectedRxResponseNum != 0) {
        WaitForResponse(ZUB_RADIO_TEST_WAIT_SECONDS);
    }
}

void RTLSControlHandler::HandleRangeTest(const XMLElement* root)
{
    range_run = RangeTestRun{};
    RangeTestSettings& s = range_run.settings;
    s.calibration = attr_int_or(root, "calibration", 0);
    int given_ranges = 0;
    const bool ranges_given = zub_parse_int(root->Attribute("num_ranges"), &given_ranges);
    s.rtime = attr_int_or(root, "rtime", zub_range_default_rtime(rfConfig.plen));
    s.lna = attr_int_or(root, "lna", 1);
    s.log = attr_int_or(root, "log", 0);
    s.power = attr_hex32_or(root, "power", 0);
    // The wait counts only ranges the request asked for; the default count comes after it.
    s.wait_seconds = zub_range_wait_seconds(ranges_given ? given_ranges : 0, s.rtime);
    s.num_ranges = ranges_given ? given_ranges : (s.calibration != 0 ? 1000 : 100);

    twr_anchors = listed_anchors(root);
    if (root->FirstChildElement() == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "no child in xml!.");
        return;
    }
    range_run.pairs = zub_range_pairs(twr_anchors.size(), s.calibration != 0);
    range_run.running = true;
    RunRangePairs();
}

void RTLSControlHandler::RunRangePairs()
{
    while (range_run.running && range_run.next < range_run.pairs.size()) {
        const auto [i, j] = range_run.pairs[range_run.next++];
        if (i >= twr_anchors.size() || j >= twr_anchors.size()) {
            break;  // the anchor list was replaced under the run: nothing of it is left to range
        }
        StartRangePair(i, j);
        if (expectedRxResponseNum != 0) {
            return;  // waiting for the pair's final reply or its deadline
        }
        // Its deadline could not be armed: the pair is given up like an expired one.
        CloseRangePair();
    }
    range_run.running = false;
}

void RTLSControlHandler::StartRangePair(WORD32 i, WORD32 j)
{
    const RangeTestSettings& s = range_run.settings;
    Anchor* initiator = twr_anchors[i];
    Anchor* responder = twr_anchors[j];
    const AnchorConfig ic = initiator->config_snapshot();
    const AnchorConfig rc = responder->config_snapshot();

    char line[160];
    std::snprintf(line, sizeof line,
                  "<ind type=\"system status\" msg=\"ranging\" initiator=\"%d\" responder=\"%d\"> < / ind >", ic.idx,
                  rc.idx);
    SendStatusLine(line);
    xmlResponse = "<ind type=\"range test\"><initiator " + hex_addr(initiator) + "><responder " + hex_addr(responder) +
                  " ";

    const bool calibration = s.calibration != 0;
    const cmd_twr_asymm_t to_responder = zub_build_range_frame(s, 0, ic.idx, rc.idx, calibration ? rc.ant_delay_tx : 0,
                                                               calibration ? rc.ant_delay_rx : 0);
    const cmd_twr_asymm_t to_initiator = zub_build_range_frame(s, 1, ic.idx, rc.idx, calibration ? ic.ant_delay_tx : 0,
                                                               calibration ? ic.ant_delay_rx : 0);
    if (s.log != 0) {
        twrWithDiagnostics = static_cast<BYTE>(s.log & 2);
        SetupResponse(RTLS_RANGE_MEAS_IND, -1);
        expectedResponseCode2 = RTLS_RANGE_MEAS_IND_FINAL;
    } else {
        SetupResponse(RTLS_RANGE_MEAS_IND_FINAL, 1);
    }
    ranging_anchors[0] = initiator;
    ranging_anchors[1] = responder;
    SendRequest(responder, bytes_of(to_responder), sizeof to_responder);
    SendRequest(initiator, bytes_of(to_initiator), sizeof to_initiator);
    twr_initiator = i;
    twr_responder = j;
    WaitForResponse(s.wait_seconds);
}

bool RTLSControlHandler::CloseRangePair()
{
    if (twr_initiator >= twr_anchors.size() || twr_responder >= twr_anchors.size()) {
        return false;
    }
    const cmd_rtls_start_t stop{RTLS_START_REQ, RTLS_CMD_PARM_STOP};
    SendRequest(twr_anchors[twr_responder], bytes_of(stop), sizeof stop);
    SendRequest(twr_anchors[twr_initiator], bytes_of(stop), sizeof stop);
    xmlResponse += "</initiator></ind>";
    SendXMLResponse();
    return true;
}

void RTLSControlHandler::HandleRangeTest_continue()
{
    ZUB_PRINT(ZUB_PRINT_EVENT, "HandleRangeTest_continue:.");
    RunRangePairs();
}

void RTLSControlHandler::RadioTestExpired()
{
    if (!range_run.running) {
        return;
    }
    // The pair's own reply carries the no-response text, so the controller learns which pair
    // failed before the next pair's text is begun.
    CloseRangePair();
    HandleRangeTest_continue();
}

void RTLSControlHandler::HandleTwrTest(const XMLElement* root)
{
    range_run.running = false;
    const int rtime = attr_int_or(root, "rtime", 5000);
    attr_int_or(root, "lna", 1);  // read for the protocol's sake: the twr frame always has its amplifier on
    const int log = attr_int_or(root, "log", 3);
    const WORD32 power = attr_hex32_or(root, "power", 0);
    const int mode = attr_int_or(root, "mode", 0);
    if (mode != 0) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "Single Ranging: Initiator mode not supported");
        return;
    }
    const XMLElement* first = root->FirstChildElement();
    WORD64 hw = 0;
    if (first == nullptr || !zub_parse_hex64(first->Attribute("addr"), &hw)) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "Single Ranging: error: unknown Anchor");
        return;
    }
    Anchor* anchor = Anchor::zub_get_anchor_by_hardware_id(hw);
    if (anchor == nullptr) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "Single Ranging: error: Anchor not connected");
        return;
    }
    const cmd_twr_single_t frame = zub_build_twr_test_frame(rtime, power, log);
    SendRequest(anchor, bytes_of(frame), sizeof frame);
    if (log != 0) {
        twrWithDiagnostics = static_cast<BYTE>(log & 2);
        SetupResponse(RTLS_RANGE_MEAS_IND, -1);
        expectedResponseCode2 = RTLS_RANGE_MEAS_IND_FINAL;
    } else {
        SetupResponse(RTLS_RANGE_MEAS_IND_FINAL, 1);
    }
    ranging_anchors[0] = anchor;
    ranging_anchors[1] = nullptr;
    WaitForResponse(ZUB_RADIO_TEST_WAIT_SECONDS);
}
