#include "RTLSControlHandler.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "rtls_interface.h"
#include "zub_anchor.h"
#include "zub_anchor_list.h"
#include "zub_context.h"
#include "zub_control_frames.h"
#include "zub_control_ports.h"
#include "zub_diagnostics.h"
#include "zub_print.h"
#include "zub_print_limited.h"
#include "zub_shared_field.h"
#include "zub_timer.h"

namespace {

constexpr WORD16 kVersionOffset = 9;
constexpr WORD16 kCommResultLen = 5;
constexpr WORD16 kRangeResultLen = 12;
constexpr WORD16 kRangeWithDiagnosticsLen = 146;

WORD16 get16(const BYTE* p) { return static_cast<WORD16>(p[0] | (p[1] << 8)); }
WORD32 get32(const BYTE* p)
{
    return static_cast<WORD32>(p[0]) | (static_cast<WORD32>(p[1]) << 8) | (static_cast<WORD32>(p[2]) << 16) |
           (static_cast<WORD32>(p[3]) << 24);
}

template <class Frame>
const BYTE* bytes_of(const Frame& f)
{
    return reinterpret_cast<const BYTE*>(&f);
}

}  // namespace

RTLSControlHandler::RTLSControlHandler()
    : expectedRxResponseNum(0),
      expectedResponseCode(0),
      expectedResponseCode2(0),
      twrWithDiagnostics(0),
      tmWatiRspTimer(ZUB_INVALID_TIMER_ID),
      twr_initiator(0),
      twr_responder(0)
{
}

RTLSControlHandler* RTLSControlHandler::Instance()
{
    // Never destroyed: the process ends with _exit while job threads still run.
    static RTLSControlHandler* handler = new RTLSControlHandler();
    return handler;
}

void RTLSControlHandler::load_anchor_cfg()
{
    zub_load_anchor_files(".");
}

std::string RTLSControlHandler::getAddr(WORD64 hardware_id)
{
    char text[32];
    std::snprintf(text, sizeof text, "addr=\"%lx\"", hardware_id);
    return text;
}

// ---- commands ------------------------------------------------------------------------------

void RTLSControlHandler::SendRequest(Anchor* anchor, const BYTE* bytes, WORD16 length)
{
    if (anchor == nullptr || anchor->link_socket() == 0) {
        return;
    }
    zub_control_ports().send_to_anchor(bytes, length, anchor);
}

void RTLSControlHandler::UpdateAnchorConfig(Anchor* anchor)
{
    if (anchor == nullptr || anchor->link_socket() == 0) {
        return;
    }
    const cmd_config_t frame = zub_build_config_frame(*anchor);
    SendRequest(anchor, bytes_of(frame), sizeof frame);
}

void RTLSControlHandler::UpdateAnchorConfig()
{
    // Every local id can be in use, so anchor_count may be 10000 itself: walk all of them.
    context_t* c = zub_context();
    const unsigned n = c->anchor_count < ZUB_MAX_ANCHOR_NUM ? c->anchor_count : ZUB_MAX_ANCHOR_NUM;
    for (unsigned i = 0; i < n; ++i) {
        if (c->anchors[i].hardware_id != 0) {
            UpdateAnchorConfig(&c->anchors[i]);
        }
    }
}

void RTLSControlHandler::SendStartFrame(Anchor* anchor)
{
    if (anchor->config_snapshot().use_tof == 0) {
        const cmd_rtls_start_t frame{RTLS_START_REQ, RTLS_CMD_PARM_START};
        SendRequest(anchor, bytes_of(frame), sizeof frame);
    } else {
        const cmd_twr_single_t frame = zub_build_ranging_start_frame(*anchor);
        SendRequest(anchor, bytes_of(frame), sizeof frame);
    }
}

void RTLSControlHandler::StartAnchorRTLS(Anchor* anchor)
{
    if (anchor == nullptr || zub_load(zub_context()->zubRTLSStarted) == 0 || anchor->link_socket() == 0) {
        return;
    }
    SendStartFrame(anchor);
}

// ---- the reply wait ------------------------------------------------------------------------

void RTLSControlHandler::SetupResponse(BYTE code, int count)
{
    expectedResponseCode = code;
    expectedRxResponseNum = count;
    expectedResponseCode2 = 0;
}

void RTLSControlHandler::KillResponseTimer()
{
    if (tmWatiRspTimer != ZUB_INVALID_TIMER_ID) {
        zub_control_ports().del_timer(tmWatiRspTimer);
        tmWatiRspTimer = ZUB_INVALID_TIMER_ID;
    }
}

void RTLSControlHandler::WaitForResponse(int seconds)
{
    if (seconds <= 0) {
        return;
    }
    // An earlier timer left running could end this wait early.
    KillResponseTimer();
    const WORD32 id = zub_control_ports().set_timer(QE_CTRL_TIMER_TYPE_WAIT_RESP, 0, static_cast<WORD32>(seconds));
    if (id == ZUB_INVALID_TIMER_ID) {
        ZUB_PRINT(ZUB_PRINT_ERROR, "WaitForResponse: set timer failed.");
        AppendNoResponse();
        expectedRxResponseNum = 0;
        return;
    }
    tmWatiRspTimer = id;
}

void RTLSControlHandler::AppendNoResponse()
{
    xmlResponse += ZUB_NO_RESPONSE_TEXT;
}

void RTLSControlHandler::WaitAnchorRspTimeout()
{
    ZUB_PRINT(ZUB_PRINT_EVENT, "Response timed out : outstanding expectedRxResponseNum %d", expectedRxResponseNum);
    AppendNoResponse();
    expectedRxResponseNum = 0;
    tmWatiRspTimer = ZUB_INVALID_TIMER_ID;
    RadioTestExpired();
}

void RTLSControlHandler::SendXMLResponse()
{
    if (dropped_result_lines != 0) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR,
                          "SendXMLResponse: %llu result lines past %zu bytes of the reply dropped.",
                          static_cast<unsigned long long>(dropped_result_lines), ZUB_REPLY_RESULT_BOUND);
        dropped_result_lines = 0;
    }
    for (char& ch : xmlResponse) {
        if (ch == '\n') {
            ch = ' ';
        }
    }
    xmlResponse += '\n';
    zub_control_ports().send_to_controller(&xmlResponse);
    xmlResponse.clear();
}

// ---- anchor messages -----------------------------------------------------------------------

int RTLSControlHandler::HandleResponse(const BYTE* message, WORD16 length)
{
    if (message == nullptr || length < 4) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "anchor message of %u bytes has no head, dropped.", length);
        return -1;
    }
    const WORD16 local = get16(message);
    const WORD16 data_len = get16(message + 2);
    if (local >= ZUB_MAX_ANCHOR_NUM) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "invalid anc id %u.", local);
        return -1;
    }
    if (data_len > length - 4) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR,
                          "anchor message of %u bytes shorter than its payload length %u, dropped.", length,
                          data_len);
        return -1;
    }
    Anchor* anchor = &zub_context()->anchors[local];
    return HandleResponse(anchor->hardware_id, local, message + 4, data_len, anchor);
}

int RTLSControlHandler::HandleResponse(WORD64 /*hardware_id*/, WORD16 /*local_id*/, const BYTE* payload,
                                       WORD16 length, Anchor* anchor)
{
    if (payload == nullptr || length == 0) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "empty anchor reply dropped.");
        return -1;
    }
    const BYTE code = payload[0];
    if (code == RTLS_CMD_REQ_CFG) {
        HandleConfigRequest(anchor, payload, length);
        return 0;
    }
    const bool range_result = code == RTLS_RANGE_MEAS_IND || code == RTLS_RANGE_MEAS_IND_FINAL;
    // Results nobody asked for would pile onto the next reply, end another test's wait or, for
    // a range result, stop anchors and answer the controller unasked.
    if (code == RTLS_COMM_TEST_RESULT_IND && !AwaitsCommResult(anchor)) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_EVENT, "comm test result from anchor(%lx) that no test awaits, dropped.",
                          anchor->hardware_id);
        return 0;
    }
    if (range_result && !AwaitsRangeResult(code, anchor)) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_EVENT, "range result 0x%X from anchor(%lx) that no test awaits, dropped.", code,
                          anchor->hardware_id);
        return 0;
    }
    const bool handled = (expectedRxResponseNum != 0 && code == expectedResponseCode) || expectedResponseCode2 == 0 ||
                         code == expectedResponseCode2;
    const WORD16 needed = code == RTLS_COMM_TEST_RESULT_IND ? kCommResultLen : range_result ? kRangeResultLen : 1;
    if (handled && length < needed) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_ERROR, "reply 0x%X of %u bytes is shorter than %u, not handled.", code,
                          length, needed);
    } else if (handled) {
        // Only the awaited reply counts: a communication test's done frame (0x81) or a stray code
        // must not end a wait for results still to come.
        if (expectedRxResponseNum > 0 && code == expectedResponseCode) {
            --expectedRxResponseNum;
        }
        switch (code) {
        case RTLS_COMM_TEST_DONE_IND:
            break;
        case RTLS_COMM_TEST_RESULT_IND:
            --comm_results_due[anchor->id];
            HandleCommResult(anchor, payload, length);
            break;
        case RTLS_RANGE_MEAS_IND:
            HandleRangeResult(payload, length);
            break;
        case RTLS_RANGE_MEAS_IND_FINAL:
            expectedRxResponseNum = 0;
            HandleRangeResult(payload, length);
            break;
        default:
            ZUB_PRINT_LIMITED(ZUB_PRINT_EVENT, "unkown code %u.", code);
            break;
        }
    }
    // The deadline belongs to the wait: it goes when the wait is over, not with any reply.
    if (expectedRxResponseNum == 0) {
        KillResponseTimer();
    }
    return 0;
}

void RTLSControlHandler::HandleConfigRequest(Anchor* anchor, const BYTE* payload, WORD16 length)
{
    zub_store(anchor->is_req_cfg, true);
    if (!zub_load(zub_context()->anchor_cfg_finish)) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_EVENT,
                          "ZUB not receive config info from controller, discard anchor(%s) config req.",
                          anchor->getIpPrint());
        return;
    }
    if (!TakeConfigRequestTurn(anchor)) {
        return;
    }
    const AnchorConfig cfg = anchor->config_snapshot();
    // An operator's record of each anchor coming up: bounded by the anchor's turn, not by a
    // limit of this line, so anchors that all start in the same second all show.
    ZUB_PRINT(ZUB_PRINT_EVENT,
              "HandleConfigRequest: Anc(%s) %d : %u : connected as (%6s). Antenna Delay %u %u.",
              anchor->getIpPrint(), cfg.idx, anchor->id, cfg.master ? "Master" : "Slave", cfg.ant_delay_rx,
              cfg.ant_delay_tx);
    size_t n = 0;
    if (length > kVersionOffset) {
        const char* text = reinterpret_cast<const char*>(payload + kVersionOffset);
        const size_t room = length - kVersionOffset;
        n = strnlen(text, room < sizeof anchor->version - 1 ? room : sizeof anchor->version - 1);
        std::memcpy(anchor->version, text, n);
    }
    anchor->version[n] = '\0';
    StartAnchorRTLS(anchor);
    anchor->configured = 1;
}

bool RTLSControlHandler::TakeConfigRequestTurn(const Anchor* anchor)
{
    if (anchor->id >= ZUB_MAX_ANCHOR_NUM) {
        return false;
    }
    if (cfg_answer_from_ms.empty()) {
        cfg_answer_from_ms.assign(ZUB_MAX_ANCHOR_NUM, 0);
    }
    const WORD64 now = zub_control_ports().now_ms();
    WORD64& from = cfg_answer_from_ms[anchor->id];
    if (now < from) {
        ++cfg_requests_dropped;
        ZUB_PRINT_LIMITED(ZUB_PRINT_EVENT,
                          "HandleConfigRequest: Anc(%s) asks again within a second, dropped (%llu so far).",
                          anchor->getIpPrint(), static_cast<unsigned long long>(cfg_requests_dropped));
        return false;
    }
    from = now + ZUB_CFG_REQUEST_PERIOD_MS;
    return true;
}

bool RTLSControlHandler::AwaitsCommResult(const Anchor* anchor) const
{
    return expectedResponseCode == RTLS_COMM_TEST_RESULT_IND && expectedRxResponseNum > 0 &&
           anchor->id < comm_results_due.size() && comm_results_due[anchor->id] > 0;
}

bool RTLSControlHandler::AwaitsRangeResult(BYTE code, const Anchor* anchor) const
{
    const bool awaited = code == expectedResponseCode || (expectedResponseCode2 != 0 && code == expectedResponseCode2);
    return expectedRxResponseNum != 0 && awaited && anchor != nullptr &&
           (anchor == ranging_anchors[0] || anchor == ranging_anchors[1]);
}

void RTLSControlHandler::HandleCommResult(Anchor* anchor, const BYTE* payload, WORD16 /*length*/)
{
    char text[128];
    std::snprintf(text, sizeof text, "<receiver %s rx_data=\"%d\" rx_others=\"%d\" />",
                  getAddr(anchor->hardware_id).c_str(), get16(payload + 1), get16(payload + 3));
    AppendResultLine(text);
}

void RTLSControlHandler::AppendResultLine(const char* line)
{
    if (xmlResponse.size() + std::strlen(line) > ZUB_REPLY_RESULT_BOUND) {
        ++dropped_result_lines;
        return;
    }
    xmlResponse += line;
}

void RTLSControlHandler::HandleRangeResult(const BYTE* payload, WORD16 length)
{
    // The tenths of millimetres become a float, the anchors' own precision; the division is in
    // double, so the metres printed are the nearest to that float (16.384700, not 16.384701).
    const double distance = static_cast<double>(static_cast<float>(get32(payload + 6))) / 10000.0;
    const int timeouts = get16(payload + 10);
    if (expectedRxResponseNum >= 0) {
        char text[96];
        std::snprintf(text, sizeof text, " distance=\"%f\" timeouts=\"%d\" />", distance, timeouts);
        AppendResultLine(text);
    }
    if (twrWithDiagnostics && length >= kRangeWithDiagnosticsLen) {
        BYTE records[ZUB_DIAG_OUTPUT_BYTES];
        zub_diag_convert_to_format(records, payload + 14, false);
        zub_diag_convert_to_format(records, payload + 80, false);
    }
    // A twr test starts no pair: its distance line leads the next reply.
    if (expectedRxResponseNum != 0 || !range_run.running) {
        return;
    }
    if (!CloseRangePair()) {
        ZUB_PRINT_LIMITED(ZUB_PRINT_EVENT,
                          "twr vector size check error. size=%lu, twr_responder=%u, twr_initiator=%u.",
                          static_cast<unsigned long>(twr_anchors.size()), twr_responder, twr_initiator);
        return;
    }
    HandleRangeTest_continue();
}
