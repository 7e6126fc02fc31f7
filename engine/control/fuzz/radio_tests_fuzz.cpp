// Fuzz target over the radio tests: the input builds one test request (type, root attributes,
// listed anchors), then drives what can follow it: anchor replies of any code and length from
// any anchor, response-timer expiries and further requests. Frames, replies and timers go to
// no-op ports that only check what they are given (a reply stays within the result lines' bound).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "RTLSControlHandler.h"
#include "fuzz_input.h"
#include "fuzz_rig.h"

namespace {

const char* const kTypes[] = {"power test", "comm test", "range test", "twr test"};
const char* const kAttributes[] = {"calibration", "num_ranges", "rtime", "lna", "log", "power", "mode"};
const char* const kValues[] = {"0", "1", "2", "3", "100", "1000", "10000", "65535", "-1", "2147483647",
                               "-2147483648", "1f", "ffffffff", "x", ""};
const char* const kAddrs[] = {"a1", "b2", "c3", "d4", "ff", "", "0"};
const WORD64 kAnchors[] = {0xa1, 0xb2, 0xc3, 0xd4};  // d4 has no link
const BYTE kCodes[] = {0x81, 0x82, 0x83, 0x84, 0x85, 0x42, 0x00};
WORD32 g_next_timer = 1;

std::string built_request(Input& in)
{
    std::string line = std::string("<r type=\"") + pick(kTypes, in.next()) + "\"";
    const int attributes = in.next() % 5;
    for (int i = 0; i < attributes && in.n > 0; ++i) {
        line += std::string(" ") + pick(kAttributes, in.next()) + "=\"" + pick(kValues, in.next()) + "\"";
    }
    line += ">";
    const int children = in.next() % 5;
    for (int i = 0; i < children && in.n > 0; ++i) {
        line += std::string("<a addr=\"") + pick(kAddrs, in.next()) + "\"/>";
    }
    return line + "</r>";
}

void handle_request(const std::string& line)
{
    char* text = static_cast<char*>(std::malloc(line.size() + 1));
    if (text == nullptr) return;
    std::memcpy(text, line.c_str(), line.size() + 1);
    RTLSControlHandler::Instance()->HandleRequests(text);
}

// One anchor message: a chosen code and up to 150 payload bytes from the input.
void anchor_reply(Input& in)
{
    const Anchor* a = Anchor::zub_get_anchor_by_hardware_id(pick(kAnchors, in.next()));
    std::vector<BYTE> m = {static_cast<BYTE>(a->id & 0xFF), static_cast<BYTE>(a->id >> 8), 0, 0,
                           pick(kCodes, in.next())};
    const size_t extra = in.next() % 151;
    for (size_t i = 0; i < extra; ++i) {
        m.push_back(in.next());
    }
    const size_t len = m.size() - 4;
    m[2] = static_cast<BYTE>(len & 0xFF);
    m[3] = static_cast<BYTE>(len >> 8);
    RTLSControlHandler::Instance()->HandleResponse(m.data(), static_cast<WORD16>(m.size()));
}

void reset_state()
{
    RTLSControlHandler* h = RTLSControlHandler::Instance();
    h->expectedRxResponseNum = 0;
    h->expectedResponseCode = h->expectedResponseCode2 = 0;
    h->tmWatiRspTimer = 0xFFFFFFFF;
    h->twr_anchors.clear();
    h->range_run = RangeTestRun{};
    h->comm_results_due.clear();
    h->ranging_anchors[0] = h->ranging_anchors[1] = nullptr;
    h->xmlResponse.clear();
    h->xmlResponse.shrink_to_fit();
    h->dropped_result_lines = 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    control_fuzz::keep_context_in_leak_scan();
    ControlPorts p = control_fuzz::quiet_ports();
    p.send_to_anchor = [](const BYTE* buf, WORD16 len, Anchor* anchor) {
        if (anchor == nullptr || len == 0 || len > 64 || buf == nullptr) abort();
        return true;
    };
    p.send_to_controller = [](const std::string* text) {
        if (text == nullptr || text->empty() || text->back() != '\n') abort();
        // Result lines stay within their bound; the rest of a reply is a few short texts.
        if (text->size() > ZUB_REPLY_RESULT_BOUND + 4096) abort();
        return true;
    };
    p.set_timer = [](BYTE, WORD32, WORD32 seconds) {
        if (seconds == 0) abort();
        return (g_next_timer % 5 == 0) ? WORD32{0xFFFFFFFF} : g_next_timer++;
    };
    zub_control_ports() = p;
    control_fuzz::add_anchors(kAnchors, {0xd4});
    RTLSControlHandler::Instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in{data, size};
    handle_request(built_request(in));
    // At most 64 events, so one input stays short.
    for (int step = 0; step < 64 && in.n > 0; ++step) {
        switch (in.next() % 4) {
        case 0:
        case 1:
            anchor_reply(in);
            break;
        case 2:
            RTLSControlHandler::Instance()->WaitAnchorRspTimeout();
            break;
        default:
            handle_request(built_request(in));
            break;
        }
    }
    reset_state();
    return 0;
}
